#pragma once

#include <QPoint>
#include <QString>
#include <QWidget>

// Where the welcome screen puts its two lines for a client area of w x h pixels, and the font's
// cell height and average character width (integer arithmetic: multiply, then divide).
struct WelcomeLayout {
    QString line1, line2;
    int fontHeight, fontWidth;
    QPoint pos1, pos2; // top-left corners
};
WelcomeLayout ComputeWelcomeLayout(int w, int h, bool chinese);

// The welcome screen: yellow text on dark blue, scaled with the window.
class CKelpView : public QWidget {
    Q_OBJECT
public:
    explicit CKelpView(QWidget* parent = nullptr);
    void OnDraw(QPainter& dc);

protected:
    void paintEvent(QPaintEvent* event) override;
};

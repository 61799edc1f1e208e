#pragma once

#include "logbook/LinkPicture.h"
#include "platform/Lang.h"

#include <QWidget>

#include <optional>

// The link picture as a widget (see LinkPicture.h): the wheel zooms around the pointer, a drag
// pans; the keyboard zooms with + and - and pans with Left and Right (Page Up and Page Down a
// whole width), Home shows everything, F8 and Shift+F8 ask for the next and the previous problem
// (StepAsked). A click on an event chooses it (and with it its pair on the other lane). Only what
// is in view is painted, so thousands of events pan smoothly. A picture without a mark or a band
// shows no axis, only the text SetEmptyText gave.
class CLinkTimeline : public QWidget {
    Q_OBJECT
public:
    explicit CLinkTimeline(QWidget* parent = nullptr);

    // Shows `data`; the view fits its opening span (everything when it has none) unless `keepView`
    // (the same link matched again), and the choice is dropped.
    void SetData(LinkPictureData data, bool keepView = false);
    // What an empty picture says instead of an axis.
    void SetEmptyText(const QString& text);
    QString EmptyText() const { return m_strEmpty; }
    const LinkPictureData& Data() const { return m_data; }
    void SetLanguage(Lang lang);

    TimeView View() const { return m_view; }
    void SetView(const TimeView& view);
    // Everything in view.
    void FitAll();
    // Zooms by `factor` around the pixel column `x`.
    void ZoomAt(double x, double factor);

    // The mark nearest the point `pos`, within a few pixels, on the lane under it.
    std::optional<LinkMarkRef> MarkAt(const QPoint& pos) const;
    // Where a mark is drawn.
    QPointF PointOf(const LinkMarkRef& mark) const;
    std::optional<LinkMarkRef> Selected() const { return m_selected; }
    // Chooses a mark (or none), and brings it into view when it lies outside; `centre` puts it in
    // the middle whatever, in a view of an hour at most.
    void Select(std::optional<LinkMarkRef> mark, bool centre = false);

    QSize sizeHint() const override { return {800, 260}; }
    QSize minimumSizeHint() const override { return {300, 180}; }

signals:
    void SelectionChanged();
    void ViewChanged();
    // F8 (+1) or Shift+F8 (-1) was pressed.
    void StepAsked(int step);

protected:
    void paintEvent(QPaintEvent*) override;
    void wheelEvent(QWheelEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;

private:
    void PanBy(double pixels);
    // The view of the opening span (everything when the data has none) for the width now.
    void FitOpening();

    LinkPictureData m_data;
    TimeView m_view;
    Lang m_lang = Lang::English;
    // What the view fits, so that a resize fits it again: nothing, everything, the opening span.
    enum class Fit { None, All, Opening } m_fit = Fit::None;
    QString m_strEmpty;
    std::optional<LinkMarkRef> m_selected;
    std::optional<QPoint> m_pressAt;
    TimeView m_pressView;
    bool m_bDragged = false;
};

#pragma once

#include <QImage>
#include <QPushButton>
#include <QRect>

class QPainter;
class QPaintEvent;

// Owner-draw item state bits, with the values the dialogs' owner-draw code has always used.
constexpr unsigned ODS_SELECTED = 0x0001;
constexpr unsigned ODS_DISABLED = 0x0004;
constexpr unsigned ODS_FOCUS = 0x0010;

// The action button of the device dialogs: a push button that shows a caption bitmap instead of
// its text, draws its own raised, focused and sunken frames, and shows a two-tone image made from
// the normal bitmap while it is disabled. The key colour of every bitmap is its bottom-left pixel.
class CBmpButton : public QPushButton {
    Q_OBJECT
public:
    explicit CBmpButton(QWidget* parent = nullptr);

    // Loads the images by resource id (low 16 bits; 0 = none) and stores `center`. Without a
    // disabled image the disabled look is made from the normal one, in the system colours of now.
    // Always returns 1.
    int SetBitmaps(int center, unsigned idNormal, unsigned idPressed = 0, unsigned idFocus = 0,
                   unsigned idDisabled = 0);

    // Draws the button into `rect` (left and top 0) for the given ODS_* state bits.
    void DrawItem(QPainter& dc, QRect rect, unsigned state);

    // Draws `bmp` at (x, y), leaving the pixels of the key colour untouched: the bitmap's
    // bottom-left pixel when `useCornerKey` is non-zero, else `keyColour`.
    static void DrawTransparent(QPainter& dc, int x, int y, const QImage& bmp, int useCornerKey,
                                QRgb keyColour);

    // Builds the disabled image of `source` into `target`: key-coloured pixels become the button
    // face, pixels brighter than the average of the non-key pixels the shadow colour, all others
    // the highlight colour.
    static void MakeDisabledBitmap(QImage& target, const QImage& source);

    QImage m_bmpNormal;
    QImage m_bmpPressed; // loaded when asked for; the pressed look is drawn, not taken from it
    QImage m_bmpFocus;
    QImage m_bmpDisabled;
    int m_nWidth = 0;
    int m_nHeight = 0;
    int m_bCenter = 1;

protected:
    void paintEvent(QPaintEvent* event) override;
};

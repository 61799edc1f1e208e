#include "controls/BmpButton.h"

#include "platform/Bitmaps.h"
#include "platform/SysColors.h"

#include <QPaintEvent>
#include <QPainter>
#include <algorithm>

namespace {

// Fills the one-pixel outline of r (right and bottom edges inside r) with `colour`.
void Outline(QPainter& dc, const QRect& r, const QColor& colour) {
    if (r.width() <= 0 || r.height() <= 0)
        return;
    dc.fillRect(QRect(r.left(), r.top(), r.width(), 1), colour);
    dc.fillRect(QRect(r.left(), r.bottom(), r.width(), 1), colour);
    dc.fillRect(QRect(r.left(), r.top(), 1, r.height()), colour);
    dc.fillRect(QRect(r.right(), r.top(), 1, r.height()), colour);
}

// One raised edge: `topLeft` along the top row and left column, then `bottomRight` along the whole
// bottom row and right column, which so also take the two far corners.
void RaisedEdge(QPainter& dc, const QRect& r, const QColor& topLeft, const QColor& bottomRight) {
    if (r.width() <= 0 || r.height() <= 0)
        return;
    dc.fillRect(QRect(r.left(), r.top(), r.width(), 1), topLeft);
    dc.fillRect(QRect(r.left(), r.top(), 1, r.height()), topLeft);
    dc.fillRect(QRect(r.left(), r.bottom(), r.width(), 1), bottomRight);
    dc.fillRect(QRect(r.right(), r.top(), 1, r.height()), bottomRight);
}

// The standard raised push-button frame over r: highlight and light on the top and left, dark
// shadow and shadow on the bottom and right, the face inside.
void DrawPushFrame(QPainter& dc, const QRect& r) {
    RaisedEdge(dc, r, GetSysColor(COLOR_BTNHIGHLIGHT), GetSysColor(COLOR_3DDKSHADOW));
    const QRect inner = r.adjusted(1, 1, -1, -1);
    RaisedEdge(dc, inner, GetSysColor(COLOR_3DLIGHT), GetSysColor(COLOR_BTNSHADOW));
    const QRect middle = inner.adjusted(1, 1, -1, -1);
    if (middle.width() > 0 && middle.height() > 0)
        dc.fillRect(middle, GetSysColor(COLOR_BTNFACE));
}

// The dotted focus rectangle: every other pixel of the outline of r inverted, so drawing it twice
// takes it away again.
void DrawFocusRect(QPainter& dc, const QRect& r) {
    if (r.width() <= 0 || r.height() <= 0)
        return;
    dc.save();
    dc.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
    dc.setPen(QPen(QColor(255, 255, 255), 0));
    dc.setRenderHint(QPainter::Antialiasing, false);
    auto dot = [&dc](int x, int y) {
        if (((x + y) & 1) == 0)
            dc.drawPoint(x, y);
    };
    for (int x = r.left(); x <= r.right(); ++x) {
        dot(x, r.top());
        if (r.bottom() != r.top())
            dot(x, r.bottom());
    }
    for (int y = r.top() + 1; y < r.bottom(); ++y) {
        dot(r.left(), y);
        if (r.right() != r.left())
            dot(r.right(), y);
    }
    dc.restore();
}

QRgb KeyOf(const QImage& bmp) {
    return bmp.pixel(0, bmp.height() - 1) & 0xFFFFFF;
}

} // namespace

CBmpButton::CBmpButton(QWidget* parent) : QPushButton(parent) {}

int CBmpButton::SetBitmaps(int center, unsigned idNormal, unsigned idPressed, unsigned idFocus,
                           unsigned idDisabled) {
    m_bmpNormal = QImage();
    m_bmpPressed = QImage();
    m_bmpFocus = QImage();
    m_bmpDisabled = QImage();

    m_bmpNormal = LoadBitmapResource(int(idNormal & 0xFFFF));
    m_nWidth = m_bmpNormal.width();
    m_nHeight = m_bmpNormal.height();
    m_bCenter = center;

    if (idPressed != 0)
        m_bmpPressed = LoadBitmapResource(int(idPressed & 0xFFFF));
    if (idFocus != 0)
        m_bmpFocus = LoadBitmapResource(int(idFocus & 0xFFFF));
    if (idDisabled != 0)
        m_bmpDisabled = LoadBitmapResource(int(idDisabled & 0xFFFF));
    else
        MakeDisabledBitmap(m_bmpDisabled, m_bmpNormal);
    update();
    return 1;
}

void CBmpButton::MakeDisabledBitmap(QImage& target, const QImage& source) {
    const QRgb highlight = GetSysColor(COLOR_BTNHIGHLIGHT).rgb();
    const QRgb shadow = GetSysColor(COLOR_BTNSHADOW).rgb();
    const QRgb face = GetSysColor(COLOR_BTNFACE).rgb();

    if (source.isNull()) {
        target = QImage();
        return;
    }
    const QImage src = source.convertToFormat(QImage::Format_RGB32);
    const int w = src.width();
    const int h = src.height();
    const QRgb key = KeyOf(src);

    auto sumOf = [](QRgb c) { return qRed(c) + qGreen(c) + qBlue(c); };
    long long sum = 0;
    long long count = 0;
    for (int y = 0; y < h; ++y) {
        const QRgb* line = reinterpret_cast<const QRgb*>(src.constScanLine(y));
        for (int x = 0; x < w; ++x) {
            if ((line[x] & 0xFFFFFF) != key) {
                sum += sumOf(line[x]);
                ++count;
            }
        }
    }
    const long long average = count != 0 ? sum / count : 0;

    QImage out(w, h, QImage::Format_RGB32);
    for (int y = 0; y < h; ++y) {
        const QRgb* in = reinterpret_cast<const QRgb*>(src.constScanLine(y));
        QRgb* line = reinterpret_cast<QRgb*>(out.scanLine(y));
        for (int x = 0; x < w; ++x) {
            if ((in[x] & 0xFFFFFF) == key)
                line[x] = face;
            else if (sumOf(in[x]) > average)
                line[x] = shadow;
            else
                line[x] = highlight;
        }
    }
    target = out;
}

void CBmpButton::DrawTransparent(QPainter& dc, int x, int y, const QImage& bmp, int useCornerKey,
                                 QRgb keyColour) {
    if (bmp.isNull())
        return;
    const QRgb key = useCornerKey != 0 ? KeyOf(bmp) : (keyColour & 0xFFFFFF);
    QImage masked = bmp.convertToFormat(QImage::Format_ARGB32);
    for (int row = 0; row < masked.height(); ++row) {
        QRgb* line = reinterpret_cast<QRgb*>(masked.scanLine(row));
        for (int col = 0; col < masked.width(); ++col)
            line[col] = (line[col] & 0xFFFFFF) == key ? 0 : (line[col] | 0xFF000000);
    }
    dc.save();
    dc.setCompositionMode(QPainter::CompositionMode_SourceOver);
    dc.drawImage(x, y, masked);
    dc.restore();
}

void CBmpButton::DrawItem(QPainter& dc, QRect rect, unsigned state) {
    QRect r = rect;
    const int right = r.left() + r.width(); // the exclusive right edge
    const int bottom = r.top() + r.height();
    const int w = m_nWidth;
    const int h = m_nHeight;
    const int p = (state & ODS_SELECTED) != 0 ? 1 : 0;
    const int k = h >= 16 ? (16 - h) / 2 : 0;
    // Not centred: the image starts just inside the frame and the focus rectangle.
    const int x = m_bCenter != 0 ? (right - w) / 2 + p : r.left() + 4 + p;
    const int y = (bottom - std::max(h, 16)) / 2 + k + p;

    const QImage* image = &m_bmpNormal;
    if ((state & ODS_DISABLED) != 0 && !m_bmpDisabled.isNull())
        image = &m_bmpDisabled;
    if ((state & ODS_FOCUS) != 0)
        image = !m_bmpFocus.isNull() ? &m_bmpFocus : &m_bmpNormal;

    const QColor face = GetSysColor(COLOR_BTNFACE);
    if ((state & ODS_SELECTED) != 0) {
        // Sunken: black outline, a shadow line inside it, flat face.
        if (r.width() > 0 && r.height() > 0)
            dc.fillRect(r, face);
        Outline(dc, r, Qt::black);
        Outline(dc, r.adjusted(1, 1, -1, -1), GetSysColor(COLOR_BTNSHADOW));
        r.adjust(1, 1, -1, -1);
    } else if ((state & ODS_FOCUS) != 0) {
        if (r.width() > 0 && r.height() > 0)
            dc.fillRect(r, Qt::white);
        Outline(dc, r, Qt::black);
        r.adjust(1, 1, -1, -1);
        DrawPushFrame(dc, r);
    } else {
        DrawPushFrame(dc, r);
    }

    DrawTransparent(dc, x, y, *image, 1, 0);

    if ((state & ODS_FOCUS) != 0)
        DrawFocusRect(dc, r.adjusted(3, 3, -3, -3));
}

void CBmpButton::paintEvent(QPaintEvent* /*event*/) {
    unsigned state = 0;
    if (isDown())
        state |= ODS_SELECTED;
    if (!isEnabled())
        state |= ODS_DISABLED;
    else if (hasFocus())
        state |= ODS_FOCUS;
    QPainter dc(this);
    DrawItem(dc, rect(), state);
}

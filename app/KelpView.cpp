#include "app/KelpView.h"

#include "app/KelpApp.h"

#include <QPainter>

WelcomeLayout ComputeWelcomeLayout(int w, int h, bool chinese) {
    WelcomeLayout l;
    if (chinese) {
        l.line1 = QStringLiteral("欢迎进入");
        l.line2 = QStringLiteral("LMX-207 装置维护系统");
        l.fontHeight = h * 55 / 400;
        l.fontWidth = w * 12 / 400;
    } else {
        l.line1 = QStringLiteral("Welcome to");
        l.line2 = QStringLiteral("LMX-207 Maintenance System");
        l.fontHeight = h * 50 / 400;
        l.fontWidth = w * 12 / 500;
    }
    l.pos1 = QPoint(w * 19 / 50, h * 3 / 8);
    l.pos2 = QPoint(w / 5, h / 2);
    return l;
}

CKelpView::CKelpView(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setObjectName(QStringLiteral("welcome"));
}

void CKelpView::paintEvent(QPaintEvent*) {
    QPainter dc(this);
    OnDraw(dc);
}

void CKelpView::OnDraw(QPainter& dc) {
    const int w = width(), h = height();
    const QColor blue(20, 70, 120);
    dc.fillRect(rect(), blue);
    const WelcomeLayout l = ComputeWelcomeLayout(w, h, g_bChinese != 0);

    // "Arial", Swiss family. The height asked for is the cell height (ascent + descent), of which
    // Arial's em is 2048/2288; a width of 0 leaves the face's own proportions, a height of 0 the
    // default size.
    QFont font(QStringLiteral("Arial"));
    font.setStyleHint(QFont::SansSerif);
    font.setWeight(QFont::Normal);
    if (l.fontHeight > 0)
        font.setPixelSize(std::max(1, l.fontHeight * 2048 / 2288));
    if (l.fontWidth > 0 && l.fontHeight > 0) {
        const QFontMetrics natural(font);
        const int avg = natural.averageCharWidth();
        if (avg > 0)
            font.setStretch(std::clamp(100 * l.fontWidth / avg, 1, 4000));
    }
    dc.setFont(font);
    dc.setPen(QColor(255, 255, 0));
    dc.setBackground(blue);
    dc.setBackgroundMode(Qt::OpaqueMode);
    const int flags = Qt::AlignLeft | Qt::AlignTop | Qt::TextDontClip | Qt::TextSingleLine;
    dc.drawText(QRect(l.pos1, QSize(w * 4, h * 4)), flags, l.line1);
    dc.drawText(QRect(l.pos2, QSize(w * 4, h * 4)), flags, l.line2);
}

#include "logbook/LinkTimeline.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>

#include <cmath>

namespace {

// A wheel notch or a key press zooms by this much.
constexpr double kZoomStep = 1.25;
// A press that moves less than this is a click, not a drag.
constexpr int kClickSlack = 4;
// How near the pointer a mark must be to be chosen by a click.
constexpr double kPickPixels = 8;

} // namespace

CLinkTimeline::CLinkTimeline(QWidget* parent) : QWidget(parent) {
    setFocusPolicy(Qt::StrongFocus);
    setMouseTracking(false);
    setAttribute(Qt::WA_OpaquePaintEvent);
    FitAll();
}

void CLinkTimeline::SetData(LinkPictureData data, bool keepView) {
    m_data = std::move(data);
    m_selected.reset();
    if (!keepView)
        FitOpening();
    update();
    emit SelectionChanged();
}

void CLinkTimeline::SetLanguage(Lang lang) {
    m_lang = lang;
    update();
}

void CLinkTimeline::SetEmptyText(const QString& text) {
    m_strEmpty = text;
    update();
}

void CLinkTimeline::SetView(const TimeView& view) {
    m_view = view;
    m_view.msPerPixel = std::clamp(view.msPerPixel, kFinestMsPerPixel, CoarsestMsPerPixel(width()));
    m_fit = Fit::None;
    update();
    emit ViewChanged();
}

void CLinkTimeline::FitAll() {
    qint64 from = 0, to = 0;
    if (!m_data.Extent(&from, &to))
        from = to = 0;
    m_view = FittedView(from, to, width());
    m_fit = Fit::All;
    update();
    emit ViewChanged();
}

void CLinkTimeline::FitOpening() {
    if (!m_data.opening)
        return FitAll();
    m_view = FittedView(qint64(std::floor(m_data.opening->first)), qint64(std::ceil(m_data.opening->second)),
                        width());
    m_fit = Fit::Opening;
    update();
    emit ViewChanged();
}

void CLinkTimeline::ZoomAt(double x, double factor) {
    m_view = ZoomedView(m_view, x, factor, width());
    m_fit = Fit::None;
    update();
    emit ViewChanged();
}

void CLinkTimeline::PanBy(double pixels) {
    m_view.start -= pixels * m_view.msPerPixel;
    m_fit = Fit::None;
    update();
    emit ViewChanged();
}

std::optional<LinkMarkRef> CLinkTimeline::MarkAt(const QPoint& pos) const {
    const LinkPictureLayout lay = LayOutLinkPicture(rect(), fontMetrics(), m_lang);
    for (int l = 0; l < 2; ++l) {
        if (pos.y() < lay.lanes[l].top() - 4 || pos.y() > lay.lanes[l].bottom() + 4)
            continue;
        const QList<LinkMark>& lane = m_data.lanes[l];
        const auto [i0, i1] =
            MarksWithin(lane, m_view.TimeAt(pos.x() - kPickPixels), m_view.TimeAt(pos.x() + kPickPixels));
        std::optional<LinkMarkRef> best;
        double bestDistance = kPickPixels + 1;
        for (int i = i0; i < i1; ++i) {
            const double d = std::abs(m_view.XAt(lane[i].t) - pos.x());
            // Of marks on one pixel, a command before its return or an alarm.
            if (d < bestDistance || (d == bestDistance && lane[i].code % 2 == 1)) {
                bestDistance = d;
                best = LinkMarkRef{l, i};
            }
        }
        return best;
    }
    return std::nullopt;
}

QPointF CLinkTimeline::PointOf(const LinkMarkRef& mark) const {
    const LinkPictureLayout lay = LayOutLinkPicture(rect(), fontMetrics(), m_lang);
    return {m_view.XAt(m_data.lanes[mark.lane][mark.index].t), lay.lanes[mark.lane].center().y() + 0.5};
}

// The widest view a mark chosen to be centred is shown in: an hour.
constexpr double kChosenSpanMs = 3600.0 * 1000;

void CLinkTimeline::Select(std::optional<LinkMarkRef> mark, bool centre) {
    if (mark && (mark->lane < 0 || mark->lane > 1 || mark->index < 0 ||
                 mark->index >= m_data.lanes[mark->lane].size()))
        mark.reset();
    m_selected = mark;
    if (mark) {
        const double t = m_data.lanes[mark->lane][mark->index].t;
        const double x = m_view.XAt(t);
        if (centre && width() > 0 && m_view.msPerPixel * width() > kChosenSpanMs) {
            // Centred from a view of days or years the mark would stand among hundreds on one
            // pixel: it is shown with the hour around it instead.
            m_view = TimeView{t - kChosenSpanMs / 2, kChosenSpanMs / width()};
            m_fit = Fit::None;
            emit ViewChanged();
        } else if (centre || x < 0 || x > width()) {
            PanBy(width() / 2.0 - x);
        }
    }
    update();
    emit SelectionChanged();
}

void CLinkTimeline::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setFont(font());
    qint64 from = 0, to = 0;
    if (!m_data.Extent(&from, &to)) {
        p.fillRect(rect(), Qt::white);
        p.setPen(Qt::black);
        p.drawText(rect().adjusted(20, 10, -20, -10), Qt::AlignCenter | Qt::TextWordWrap, m_strEmpty);
    } else {
        PaintLinkPicture(p, rect(), m_data, m_view, m_lang, m_selected);
    }
    if (hasFocus()) {
        p.setPen(QPen(palette().color(QPalette::Highlight), 1, Qt::DotLine));
        p.drawRect(rect().adjusted(0, 0, -1, -1));
    }
}

void CLinkTimeline::wheelEvent(QWheelEvent* e) {
    const double notches = e->angleDelta().y() / 120.0;
    if (notches == 0) {
        // A sideways wheel or touch pad pans.
        PanBy(e->angleDelta().x() / 2.0);
        e->accept();
        return;
    }
    ZoomAt(e->position().x(), std::pow(kZoomStep, notches));
    e->accept();
}

void CLinkTimeline::mousePressEvent(QMouseEvent* e) {
    if (e->button() != Qt::LeftButton)
        return QWidget::mousePressEvent(e);
    m_pressAt = e->position().toPoint();
    m_pressView = m_view;
    m_bDragged = false;
}

void CLinkTimeline::mouseMoveEvent(QMouseEvent* e) {
    if (!m_pressAt || !(e->buttons() & Qt::LeftButton))
        return;
    const int dx = e->position().toPoint().x() - m_pressAt->x();
    if (!m_bDragged && std::abs(dx) < kClickSlack)
        return;
    m_bDragged = true;
    setCursor(Qt::ClosedHandCursor);
    m_view.start = m_pressView.start - dx * m_view.msPerPixel;
    m_fit = Fit::None;
    update();
    emit ViewChanged();
}

void CLinkTimeline::mouseReleaseEvent(QMouseEvent* e) {
    if (e->button() != Qt::LeftButton || !m_pressAt)
        return;
    if (!m_bDragged)
        Select(MarkAt(e->position().toPoint()));
    unsetCursor();
    m_pressAt.reset();
    m_bDragged = false;
}

void CLinkTimeline::keyPressEvent(QKeyEvent* e) {
    switch (e->key()) {
    case Qt::Key_Plus:
    case Qt::Key_Equal:
        ZoomAt(width() / 2.0, kZoomStep * kZoomStep);
        break;
    case Qt::Key_Minus:
        ZoomAt(width() / 2.0, 1 / (kZoomStep * kZoomStep));
        break;
    case Qt::Key_Left:
        PanBy(width() / 8.0);
        break;
    case Qt::Key_Right:
        PanBy(-width() / 8.0);
        break;
    case Qt::Key_PageUp:
        PanBy(width() * 0.9);
        break;
    case Qt::Key_PageDown:
        PanBy(-width() * 0.9);
        break;
    case Qt::Key_Home:
        FitAll();
        break;
    case Qt::Key_F8:
        emit StepAsked(e->modifiers() & Qt::ShiftModifier ? -1 : 1);
        break;
    default:
        QWidget::keyPressEvent(e);
    }
}

void CLinkTimeline::resizeEvent(QResizeEvent*) {
    if (m_fit == Fit::All)
        FitAll();
    else if (m_fit == Fit::Opening)
        FitOpening();
}

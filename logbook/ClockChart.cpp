#include "logbook/ClockChart.h"

#include "logbook/LogbookLanguage.h"

#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

QList<double> AxisTicks(double lo, double hi, int maxTicks) {
    if (!std::isfinite(lo) || !std::isfinite(hi))
        return {};
    if (lo > hi)
        std::swap(lo, hi);
    if (lo == hi)
        return {lo};
    maxTicks = std::max(maxTicks, 2);
    const double raw = (hi - lo) / (maxTicks - 1);
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    double step = power * 10;
    for (double m : {1.0, 2.0, 5.0})
        if (power * m >= raw) {
            step = power * m;
            break;
        }
    QList<double> ticks;
    for (double v = std::ceil(lo / step) * step; v <= hi + step * 1e-9; v += step)
        ticks << (std::abs(v) < step * 1e-9 ? 0.0 : v);
    return ticks;
}

CClockChart::CClockChart(QWidget* parent) : QWidget(parent) {
    setFocusPolicy(Qt::TabFocus);
    setMinimumHeight(140);
}

void CClockChart::SetPoints(QList<ClockPoint> points) {
    std::sort(points.begin(), points.end(),
              [](const ClockPoint& a, const ClockPoint& b) { return a.pcTime < b.pcTime; });
    m_points = std::move(points);
    update();
}

void CClockChart::SetLanguage(Lang lang) {
    m_lang = lang;
    update();
}

namespace {

QString secondsText(double v) {
    if (v == std::floor(v))
        return QString::number(qint64(v));
    return QString::number(v, 'g', 4);
}

} // namespace

void CClockChart::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QPalette pal = palette();
    p.fillRect(rect(), pal.color(QPalette::Base));
    p.setPen(pal.color(QPalette::Text));
    const QFontMetrics fm(font());
    const QString title = LbText(m_lang, "Unit clock minus PC clock (seconds)", "装置时钟减电脑时钟（秒）");
    p.drawText(QRect(0, 4, width(), fm.height()), Qt::AlignHCenter, title);
    if (m_points.isEmpty()) {
        p.drawText(rect(), Qt::AlignCenter,
                   LbText(m_lang, "No clock reading of this unit.", "该装置没有时钟读数。"));
        return;
    }

    double lo = 0, hi = 0; // zero always shows
    for (const ClockPoint& pt : m_points) {
        lo = std::min(lo, pt.offsetSeconds);
        hi = std::max(hi, pt.offsetSeconds);
    }
    if (hi - lo < 1) {
        hi += 0.5;
        lo -= 0.5;
    }
    // Room above and below, so no reading sits on the frame.
    const double pad = (hi - lo) * 0.08;
    hi += pad;
    lo -= lo < 0 ? pad : 0;
    const QList<double> yTicks =
        AxisTicks(lo, hi, std::max(2, (height() - 3 * fm.height()) / (2 * fm.height())));
    lo = std::min(lo, yTicks.first());
    hi = std::max(hi, yTicks.last());

    int labelWidth = 0;
    for (double t : yTicks)
        labelWidth = std::max(labelWidth, fm.horizontalAdvance(secondsText(t)));
    const QRect plot(labelWidth + 12, fm.height() + 12, width() - labelWidth - 24,
                     height() - 3 * fm.height() - 16);
    if (plot.width() < 20 || plot.height() < 20)
        return;

    const qint64 t0 = m_points.first().pcTime.toMSecsSinceEpoch();
    const qint64 t1 = m_points.last().pcTime.toMSecsSinceEpoch();
    const double span = std::max<qint64>(t1 - t0, 1);
    auto xAt = [&](qint64 t) {
        return m_points.size() == 1 ? plot.center().x() : plot.left() + (t - t0) / span * plot.width();
    };
    auto yAt = [&](double v) { return plot.bottom() - (v - lo) / (hi - lo) * plot.height(); };

    // Grid and the seconds axis.
    const QColor grid = pal.color(QPalette::Mid);
    for (double t : yTicks) {
        const double y = yAt(t);
        p.setPen(QPen(grid, 1, t == 0 ? Qt::SolidLine : Qt::DotLine));
        p.drawLine(QPointF(plot.left(), y), QPointF(plot.right(), y));
        p.setPen(pal.color(QPalette::Text));
        p.drawText(QRectF(0, y - fm.height() / 2.0, labelWidth + 6, fm.height()),
                   Qt::AlignRight | Qt::AlignVCenter, secondsText(t));
    }
    p.setPen(pal.color(QPalette::Text));
    p.drawRect(plot);

    // Dates of the first and the last reading under the plot, in the PC's local time.
    const QString fmt = QStringLiteral("yyyy-MM-dd HH:mm");
    const QString first = m_points.first().pcTime.toString(fmt);
    const QString last = m_points.last().pcTime.toString(fmt);
    const QRect under(plot.left(), plot.bottom() + 4, plot.width(), fm.height());
    if (m_points.size() == 1 || first == last) {
        p.drawText(under, Qt::AlignHCenter, first);
    } else {
        p.drawText(under, Qt::AlignLeft, first);
        p.drawText(under, Qt::AlignRight, last);
    }

    // The readings, joined in time order.
    const QColor ink = pal.color(QPalette::Highlight);
    QPainterPath path;
    for (int i = 0; i < m_points.size(); ++i) {
        const QPointF at(xAt(m_points[i].pcTime.toMSecsSinceEpoch()), yAt(m_points[i].offsetSeconds));
        if (i == 0)
            path.moveTo(at);
        else
            path.lineTo(at);
    }
    p.setPen(QPen(ink, 2));
    p.drawPath(path);
    p.setBrush(ink);
    for (const ClockPoint& pt : m_points)
        p.drawEllipse(QPointF(xAt(pt.pcTime.toMSecsSinceEpoch()), yAt(pt.offsetSeconds)), 3, 3);
}

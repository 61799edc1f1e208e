#pragma once

#include "platform/Lang.h"

#include <QDateTime>
#include <QList>
#include <QWidget>

// One reading of a unit's clock: when the PC took it (in its local time of then) and the unit's clock minus
// the PC's.
struct ClockPoint {
    QDateTime pcTime;
    double offsetSeconds = 0;
};

// Round steps for an axis from lo to hi with at most maxTicks marks (1, 2 or 5 times a power of
// ten); the marks lie within [lo, hi]. lo == hi gives one mark; maxTicks below 2 counts as 2.
QList<double> AxisTicks(double lo, double hi, int maxTicks);

// A picture of a unit's clock drift: the unit's clock minus the PC's, in seconds, against the PC's
// time, with a line at zero. Drawn with QPainter; the keyboard reaches it but it takes no input.
class CClockChart : public QWidget {
    Q_OBJECT
public:
    explicit CClockChart(QWidget* parent = nullptr);

    void SetPoints(QList<ClockPoint> points);
    void SetLanguage(Lang lang);
    const QList<ClockPoint>& Points() const { return m_points; }

    QSize sizeHint() const override { return {560, 220}; }
    QSize minimumSizeHint() const override { return {280, 140}; }

protected:
    void paintEvent(QPaintEvent*) override;

private:
    QList<ClockPoint> m_points; // oldest first
    Lang m_lang = Lang::English;
};

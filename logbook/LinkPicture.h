#pragma once

#include "logbook/TimeScale.h"
#include "platform/Lang.h"

#include <QList>
#include <QRect>
#include <QString>

#include <array>
#include <optional>

class QPainter;
class QFontMetrics;
class QImage;
class QSize;

// The picture of a link: the local unit's events on a lane above, the remote unit's below, on one
// time axis (the local unit's clock, the remote unit's events moved onto it by the offset between
// the clocks); a command sent at one end and received at the other joined by a line; lost and
// unwanted commands ringed; fibre A and B interruptions as bands across their unit's lane. The
// window's link view and the visit report paint it with the same code.

// One event on a lane.
struct LinkMark {
    double t = 0;          // on the axis (local unit clock, milliseconds)
    int code = 0;          // event code as the unit logged it
    bool lost = false;     // a command sent here that the other end never received
    bool unwanted = false; // a command received here that the other end never sent
    int pair = -1;         // the index of its match on the other lane, or -1
    int source = -1;       // the index of the event in whatever the lanes were made from
};

// A fibre interruption on one lane: from its interruption to its return (or the lane's end when
// the log holds no return; from the lane's start when the log holds only the return).
struct LinkBand {
    double from = 0;
    double to = 0;
    bool fibreB = false;
    bool openStart = false;
    bool openEnd = false;
};

// What the picture shows. Lane 0 is the local unit, lane 1 the remote unit; each lane's marks are
// in time order; pairs point both ways (lanes[0][i].pair == j exactly when lanes[1][j].pair == i).
struct LinkPictureData {
    std::array<QList<LinkMark>, 2> lanes;
    std::array<QList<LinkBand>, 2> bands;
    std::array<QString, 2> titles; // "Local: Address 300", ...
    // The span the view opens on (the newest visit's traffic), from and to on the axis; empty:
    // everything.
    std::optional<std::pair<double, double>> opening;
    // The first and last moment of any mark or band; false when there is none.
    bool Extent(qint64* from, qint64* to) const;
};

// A mark on the picture: its lane and its index in the lane.
struct LinkMarkRef {
    int lane = 0;
    int index = 0;
    bool operator==(const LinkMarkRef&) const = default;
};

// Where the parts of the picture lie within `area` for the painter's font: the legend on top (in
// as many rows as its texts in the language chosen need), the two lanes, the time scale under them.
struct LinkPictureLayout {
    QRect legend;
    std::array<QRect, 2> lanes;
    QRect axis; // the scale's marks, their labels and the day they leave out
};
LinkPictureLayout LayOutLinkPicture(const QRect& area, const QFontMetrics& fm, Lang lang);

// Paints the picture of `data` into `area` as `view` shows it (the axis's pixel 0 at area.left()),
// only what falls within the area: the lanes' marks found by bisection, and where many marks fall
// on one pixel, one of each kind drawn. `selected` (and its pair) drawn heavier. A picture that
// holds nothing gets no scale.
void PaintLinkPicture(QPainter& p, const QRect& area, const LinkPictureData& data, const TimeView& view,
                      Lang lang, std::optional<LinkMarkRef> selected = std::nullopt);

// The marks of `lane` whose moments fall within [from, to]: first index and one past the last.
std::pair<int, int> MarksWithin(const QList<LinkMark>& lane, double from, double to);

// The whole of `data` painted as it shows in `size` pixels (white, for print, a 12-pixel font),
// into an image `scale` times finer.
QImage RenderLinkPicture(const LinkPictureData& data, const QSize& size, Lang lang, int scale = 1);

#include "logbook/LinkPicture.h"

#include "logbook/LogbookLanguage.h"

#include <QFontMetrics>
#include <QImage>
#include <QPainter>
#include <QPainterPath>

#include <vector>

#include <algorithm>
#include <climits>
#include <cmath>

namespace {

// What a mark looks like, by its code: a command sent, received, a return, an alarm, a fibre
// interruption, an invalid record.
enum Shape {
    ShapeSend,
    ShapeReceive,
    ShapeReturn,
    ShapeAlarm,
    ShapeFibreA,
    ShapeFibreB,
    ShapeInvalid,
    Shapes
};

Shape shapeOf(int code) {
    if (code >= 1 && code <= 32)
        return code % 2 == 0 ? ShapeReturn : code < 16 ? ShapeSend : ShapeReceive;
    if (code == 33 || code == 34)
        return ShapeAlarm;
    if (code == 35 || code == 36)
        return ShapeFibreA;
    if (code == 37 || code == 38)
        return ShapeFibreB;
    return ShapeInvalid;
}

// The command (1 to 8) of a command's code, 0 for any other.
int commandOf(int code) {
    if (code < 1 || code > 32)
        return 0;
    return ((code - 1) % 16) / 2 + 1;
}

const QColor kSend(31, 95, 191);
const QColor kReceive(26, 138, 58);
const QColor kReturn(120, 120, 120);
const QColor kAlarm(224, 128, 0);
const QColor kFibreA(220, 70, 50);
const QColor kFibreB(140, 80, 210);
const QColor kInvalid(150, 150, 150);
const QColor kLost(208, 16, 16);
const QColor kUnwanted(192, 0, 192);
const QColor kLink(31, 95, 191, 150);

QColor colourOf(Shape s) {
    switch (s) {
    case ShapeSend:
        return kSend;
    case ShapeReceive:
        return kReceive;
    case ShapeReturn:
        return kReturn;
    case ShapeAlarm:
        return kAlarm;
    case ShapeFibreA:
        return kFibreA;
    case ShapeFibreB:
        return kFibreB;
    default:
        return kInvalid;
    }
}

QColor bandColour(bool fibreB) {
    QColor c = fibreB ? kFibreB : kFibreA;
    c.setAlpha(60);
    return c;
}

void drawShape(QPainter& p, Shape s, QPointF at, double r) {
    const QColor c = colourOf(s);
    // Filled looks without an outline (the cheaper to draw); lines with a pen.
    const bool filled = s == ShapeSend || s == ShapeReceive || s == ShapeAlarm;
    p.setPen(filled ? QPen(Qt::NoPen) : QPen(c, 1.5));
    p.setBrush(c);
    switch (s) {
    case ShapeSend: {
        const QPointF tri[3] = {at + QPointF(-r, -r), at + QPointF(r, -r), at + QPointF(0, r)};
        p.drawPolygon(tri, 3);
        break;
    }
    case ShapeReceive:
        p.drawEllipse(at, r, r);
        break;
    case ShapeReturn:
        p.drawLine(at + QPointF(0, -r), at + QPointF(0, r));
        break;
    case ShapeAlarm: {
        const QPointF d[4] = {at + QPointF(0, -r), at + QPointF(r, 0), at + QPointF(0, r),
                              at + QPointF(-r, 0)};
        p.drawPolygon(d, 4);
        break;
    }
    case ShapeFibreA:
    case ShapeFibreB:
        p.drawRect(QRectF(at.x() - 1.5, at.y() - r - 2, 3, 2 * r + 4));
        break;
    default:
        p.drawLine(at + QPointF(-r, -r), at + QPointF(r, r));
        p.drawLine(at + QPointF(-r, r), at + QPointF(r, -r));
        break;
    }
}

void drawRing(QPainter& p, QPointF at, double r, const QColor& c, double width) {
    p.setPen(QPen(c, width));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(at, r, r);
}

// What the legend shows: a look and its name.
struct LegendItem {
    int kind; // a Shape, or 10 lost, 11 unwanted, 12 a line between the lanes, 13/14 bands A/B
    QString text;
};

QList<LegendItem> legendItems(Lang lang) {
    return {
        {ShapeSend, LbText(lang, "sent", "发送")},       {ShapeReceive, LbText(lang, "received", "接收")},
        {12, LbText(lang, "matched", "已匹配")},         {ShapeReturn, LbText(lang, "return", "返回")},
        {ShapeAlarm, LbText(lang, "alarm", "告警")},     {10, LbText(lang, "lost", "丢失")},
        {11, LbText(lang, "unwanted", "误收")},          {13, LbText(lang, "fibre A down", "光路A中断")},
        {14, LbText(lang, "fibre B down", "光路B中断")},
    };
}

// Where each legend item goes within `box` (its left end and the middle of its row), row after
// row as the width allows; the rows below the box's first fall outside it.
QList<QPoint> legendPlaces(const QList<LegendItem>& items, const QFontMetrics& fm, const QRect& box) {
    QList<QPoint> places;
    const int rowHeight = fm.height() + 6;
    int x = box.left() + 6, row = 0;
    for (const LegendItem& it : items) {
        const int w = 16 + fm.horizontalAdvance(it.text);
        if (x + w > box.right() && x > box.left() + 6) {
            x = box.left() + 6;
            ++row;
        }
        places << QPoint(x, box.top() + 4 + row * rowHeight + rowHeight / 2);
        x += w + 14;
    }
    return places;
}

} // namespace

bool LinkPictureData::Extent(qint64* from, qint64* to) const {
    bool any = false;
    double lo = 0, hi = 0;
    auto take = [&](double t) {
        lo = any ? std::min(lo, t) : t;
        hi = any ? std::max(hi, t) : t;
        any = true;
    };
    for (int l = 0; l < 2; ++l) {
        if (!lanes[l].isEmpty()) {
            take(lanes[l].first().t);
            take(lanes[l].last().t);
        }
        for (const LinkBand& b : bands[l]) {
            take(b.from);
            take(b.to);
        }
    }
    if (any) {
        *from = qint64(std::floor(lo));
        *to = qint64(std::ceil(hi));
    }
    return any;
}

std::pair<int, int> MarksWithin(const QList<LinkMark>& lane, double from, double to) {
    auto lo =
        std::lower_bound(lane.begin(), lane.end(), from, [](const LinkMark& m, double t) { return m.t < t; });
    auto hi = std::upper_bound(lo, lane.end(), to, [](double t, const LinkMark& m) { return t < m.t; });
    return {int(lo - lane.begin()), int(hi - lane.begin())};
}

LinkPictureLayout LayOutLinkPicture(const QRect& area, const QFontMetrics& fm, Lang lang) {
    LinkPictureLayout l;
    const int line = fm.height();
    const QList<QPoint> places = legendPlaces(legendItems(lang), fm, area);
    const int rows = places.isEmpty() ? 1 : (places.last().y() - area.top() - 4) / (line + 6) + 1;
    l.legend = QRect(area.left(), area.top(), area.width(), rows * (line + 6) + 4);
    l.axis = QRect(area.left(), area.bottom() - (2 * line + 12) + 1, area.width(), 2 * line + 12);
    const int gap = std::max(24, line + 8); // where the lines between the lanes run
    const int laneHeight = std::max(20, (l.axis.top() - l.legend.bottom() - 1 - gap) / 2);
    l.lanes[0] = QRect(area.left(), l.legend.bottom() + 1, area.width(), laneHeight);
    l.lanes[1] = QRect(area.left(), l.lanes[0].bottom() + 1 + gap, area.width(), laneHeight);
    return l;
}

void PaintLinkPicture(QPainter& p, const QRect& area, const LinkPictureData& data, const TimeView& view,
                      Lang lang, std::optional<LinkMarkRef> selected) {
    p.save();
    p.setClipRect(area);
    p.setRenderHint(QPainter::Antialiasing);
    p.fillRect(area, Qt::white);
    const QFontMetrics fm = p.fontMetrics();
    const LinkPictureLayout lay = LayOutLinkPicture(area, fm, lang);
    auto xAt = [&](double t) { return area.left() + view.XAt(t); };
    const double tFrom = view.TimeAt(-10), tTo = view.TimeAt(area.width() + 10);

    // The legend.
    {
        const QList<LegendItem> items = legendItems(lang);
        const QList<QPoint> places = legendPlaces(items, fm, lay.legend);
        for (int i = 0; i < items.size(); ++i) {
            const LegendItem& it = items[i];
            const double x = places[i].x(), y = places[i].y() + 0.5;
            const QPointF at(x + 6, y);
            if (it.kind < Shapes) {
                drawShape(p, Shape(it.kind), at, 4);
            } else if (it.kind == 10 || it.kind == 11) {
                drawShape(p, it.kind == 10 ? ShapeSend : ShapeReceive, at, 3);
                drawRing(p, at, 6.5, it.kind == 10 ? kLost : kUnwanted, 2);
            } else if (it.kind == 12) {
                p.setPen(QPen(kLink, 2));
                p.drawLine(at + QPointF(-6, -5), at + QPointF(6, 5));
            } else {
                p.fillRect(QRectF(at.x() - 6, y - 6, 12, 12), bandColour(it.kind == 14));
            }
            p.setPen(Qt::black);
            p.drawText(QPointF(x + 16, y + fm.ascent() / 2.0 - 1), it.text);
        }
    }

    // The scale's step: the finest whose labels stand apart.
    TimeStep step = TimeSteps().last();
    for (const TimeStep& s : TimeSteps()) {
        const int w = fm.horizontalAdvance(TimeTickLabel(qint64(view.start), s));
        if (s.ApproxMs() / view.msPerPixel >= w + 18) {
            step = s;
            break;
        }
    }
    // No scale for a picture that holds nothing: it would count from 1970.
    qint64 first = 0, last = 0;
    const bool any = data.Extent(&first, &last);
    const QList<qint64> ticks =
        any ? TimeTicks(qint64(std::floor(tFrom)), qint64(std::ceil(tTo)), step) : QList<qint64>();

    // Lanes, their grid and their bands.
    for (int l = 0; l < 2; ++l) {
        const QRect lane = lay.lanes[l];
        p.fillRect(lane, l == 0 ? QColor(236, 242, 250) : QColor(246, 242, 232));
        p.setPen(QPen(QColor(210, 210, 210), 1));
        for (qint64 t : ticks)
            p.drawLine(QPointF(xAt(double(t)), lane.top()), QPointF(xAt(double(t)), lane.bottom()));
        for (const LinkBand& b : data.bands[l]) {
            if (b.to < tFrom || b.from > tTo)
                continue;
            const double x0 = std::max(xAt(b.from), double(area.left()) - 1);
            const double x1 = std::min(xAt(b.to), double(area.right()) + 1);
            const double half = lane.height() / 2.0;
            const QRectF r(x0, lane.top() + (b.fibreB ? half : 0), std::max(2.0, x1 - x0), half);
            p.fillRect(r, bandColour(b.fibreB));
            if (b.openEnd || b.openStart) {
                // A band whose end (or start) the log does not hold fades out on that side.
                p.setPen(QPen(b.fibreB ? kFibreB : kFibreA, 1, Qt::DashLine));
                p.drawLine(QPointF(b.openEnd ? r.right() : r.left(), r.top()),
                           QPointF(b.openEnd ? r.right() : r.left(), r.bottom()));
            }
        }
        p.setPen(QColor(160, 160, 160));
        p.setBrush(Qt::NoBrush);
        p.drawRect(QRectF(lane).adjusted(0.5, 0.5, -0.5, -0.5));
    }

    // The lines joining matched commands, from the local lane: one per pixel column where the pair
    // falls on one column (a transfer of milliseconds, seen from afar), else one per pair of
    // columns; drawn in one go.
    double span = 0;
    const QList<LinkMark>& local = data.lanes[0];
    const QList<LinkMark>& remote = data.lanes[1];
    for (const LinkMark& m : local)
        if (m.pair >= 0 && m.pair < remote.size())
            span = std::max(span, std::abs(m.t - remote[m.pair].t));
    const double y0 = lay.lanes[0].center().y() + 0.5, y1 = lay.lanes[1].center().y() + 0.5;
    const int columns = area.width() + 1;
    auto column = [&](double x) { return std::clamp(int(std::floor(x)) - area.left(), 0, columns - 1); };
    {
        const auto [i0, i1] = MarksWithin(local, tFrom - span, tTo + span);
        std::vector<QLineF> lines;
        std::vector<char> straight(size_t(columns), 0);
        int lastA = INT_MIN, lastB = INT_MIN;
        for (int i = i0; i < i1; ++i) {
            const LinkMark& m = local[i];
            if (m.pair < 0 || m.pair >= remote.size())
                continue;
            const double xa = xAt(m.t), xb = xAt(remote[m.pair].t);
            if (std::max(xa, xb) < area.left() - 10 || std::min(xa, xb) > area.right() + 10)
                continue;
            const int a = int(std::floor(xa)), b = int(std::floor(xb));
            if (a == b) {
                char& seen = straight[size_t(column(xa))];
                if (seen)
                    continue;
                seen = 1;
            } else if (a == lastA && b == lastB) {
                continue;
            }
            lastA = a;
            lastB = b;
            lines.emplace_back(QPointF(xa, y0), QPointF(xb, y1));
        }
        // Many lines: hairlines without smoothing, the painter's fast path.
        const bool many = lines.size() >= 500;
        p.setRenderHint(QPainter::Antialiasing, !many);
        p.setPen(QPen(kLink, many ? 0 : 1));
        p.drawLines(lines.data(), int(lines.size()));
        p.setRenderHint(QPainter::Antialiasing);
    }

    // The marks. Where they stand apart, each in its look with the command's number beside it;
    // where they crowd (more of them than pixel columns), one bar per look and pixel
    // column. Lost and unwanted commands are ringed either way.
    const QFont normal = p.font();
    QFont small = normal;
    small.setPointSizeF(std::max(6.0, small.pointSizeF() * 0.8));
    const QFontMetrics sfm(small);
    struct Label {
        QPointF at;
        QString text;
    };
    std::vector<Label> labels;
    for (int l = 0; l < 2; ++l) {
        const QList<LinkMark>& lane = data.lanes[l];
        const double y = l == 0 ? y0 : y1;
        const auto [i0, i1] = MarksWithin(lane, tFrom, tTo);
        const bool crowded = i1 - i0 > columns;
        std::vector<std::vector<char>> seen(Shapes, std::vector<char>(size_t(columns), 0));
        double lastLabel = -1e9;
        for (int i = i0; i < i1; ++i) {
            const LinkMark& m = lane[i];
            const Shape s = shapeOf(m.code);
            const double x = xAt(m.t);
            if (m.lost || m.unwanted) {
                drawShape(p, s, QPointF(x, y), 4);
                drawRing(p, QPointF(x, y), 7, m.lost ? kLost : kUnwanted, 2);
                continue;
            }
            char& drawn = seen[s][size_t(column(x))];
            if (drawn)
                continue;
            drawn = 1;
            if (crowded)
                continue; // drawn below, column by column
            drawShape(p, s, QPointF(x, y), 4);
            if (const int k = commandOf(m.code);
                k && s != ShapeReturn && x - lastLabel >= sfm.horizontalAdvance('8') + 6) {
                const QString text = QString::number(k);
                labels.push_back({QPointF(x - sfm.horizontalAdvance(text) / 2.0,
                                          l == 0 ? y - 7 - sfm.descent() : y + 7 + sfm.ascent()),
                                  text});
                lastLabel = x;
            }
        }
        if (!crowded)
            continue;
        // Sends above the lane's middle, receives below it, the rest across it.
        p.setRenderHint(QPainter::Antialiasing, false);
        p.setPen(Qt::NoPen);
        for (int sh = 0; sh < Shapes; ++sh) {
            std::vector<QRect> bars;
            const int top = sh == ShapeSend ? -6 : sh == ShapeReceive ? 0 : sh == ShapeAlarm ? -9 : -3;
            const int height = sh == ShapeReturn || sh == ShapeAlarm ? 4 : 6;
            for (int c = 0; c < columns; ++c)
                if (seen[size_t(sh)][size_t(c)])
                    bars.emplace_back(area.left() + c, int(y) + top, 1, height);
            p.setBrush(colourOf(Shape(sh)));
            p.drawRects(bars.data(), int(bars.size()));
        }
        p.setRenderHint(QPainter::Antialiasing);
    }
    p.setFont(small);
    p.setPen(Qt::black);
    for (const Label& label : labels)
        p.drawText(label.at, label.text);
    p.setFont(normal);

    // The chosen mark and its pair.
    if (selected && selected->lane >= 0 && selected->lane < 2 && selected->index >= 0 &&
        selected->index < data.lanes[selected->lane].size()) {
        const LinkMark& m = data.lanes[selected->lane][selected->index];
        const double ys = selected->lane == 0 ? y0 : y1;
        const QPointF at(xAt(m.t), ys);
        const QList<LinkMark>& other = data.lanes[1 - selected->lane];
        if (m.pair >= 0 && m.pair < other.size()) {
            const QPointF to(xAt(other[m.pair].t), selected->lane == 0 ? y1 : y0);
            p.setPen(QPen(Qt::black, 2.5));
            p.drawLine(at, to);
            drawRing(p, to, 9, Qt::black, 2);
        }
        drawRing(p, at, 9, Qt::black, 2);
    }

    // The lanes' titles over their top left corner.
    for (int l = 0; l < 2; ++l) {
        if (data.titles[l].isEmpty())
            continue;
        const QRect r(lay.lanes[l].left() + 4, lay.lanes[l].top() + 2,
                      fm.horizontalAdvance(data.titles[l]) + 8, fm.height() + 2);
        p.fillRect(r, QColor(255, 255, 255, 200));
        p.setPen(Qt::black);
        p.drawText(r, Qt::AlignCenter, data.titles[l]);
    }

    // The scale: marks and labels, then the day the labels leave out and what the axis is.
    p.setPen(Qt::black);
    const int tickTop = lay.axis.top() + 2;
    for (qint64 t : ticks) {
        const double x = xAt(double(t));
        p.drawLine(QPointF(x, tickTop), QPointF(x, tickTop + 5));
        const QString label = TimeTickLabel(t, step);
        const int w = fm.horizontalAdvance(label);
        if (x - w / 2.0 < area.left() || x + w / 2.0 > area.right())
            continue; // a label the edge would cut
        p.drawText(QPointF(x - w / 2.0, tickTop + 6 + fm.ascent()), label);
    }
    const QRect under(lay.axis.left() + 6, tickTop + 8 + fm.height(), lay.axis.width() - 12, fm.height());
    const QString context = any ? TimeContextLabel(qint64(view.TimeAt(area.width() / 2.0)), step) : QString();
    if (!context.isEmpty())
        p.drawText(under, Qt::AlignLeft | Qt::AlignVCenter, context);
    p.setPen(QColor(90, 90, 90));
    p.drawText(under, Qt::AlignRight | Qt::AlignVCenter,
               LbText(lang, "time on the local unit's clock", "本地装置时钟时间"));
    p.restore();
}

QImage RenderLinkPicture(const LinkPictureData& data, const QSize& size, Lang lang, int scale) {
    scale = std::max(scale, 1);
    QImage image(size * scale, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter p(&image);
    p.scale(scale, scale);
    QFont f;
    f.setPixelSize(12);
    if (lang == Lang::Chinese)
        f.setFamilies({QStringLiteral("WenQuanYi Micro Hei"), f.family()});
    p.setFont(f);
    qint64 from = 0, to = 0;
    if (!data.Extent(&from, &to))
        from = to = 0;
    PaintLinkPicture(p, QRect(QPoint(0, 0), size), data, FittedView(from, to, size.width()), lang);
    return image;
}

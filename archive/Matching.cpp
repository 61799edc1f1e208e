#include "archive/Matching.h"

#include "archive/ArchiveFormat.h"
#include "config/ConfigFormat.h"
#include "records/RecordFormat.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

namespace {

constexpr int kMsBits = 11;
// Anchors a window's estimate looks at, per direction: enough for a sharp median, few enough that
// a week of dense traffic estimates in milliseconds.
constexpr int kWindowAnchors = 128;
constexpr int kSearchAnchors = 64;
// A pair further than this many median absolute deviations from the median is an outlier.
constexpr double kOutlierMads = 4.0;
constexpr double kOutlierFloorMs = 2.0;
// The clock readings carry whole seconds, read a poll apart.
constexpr double kReadingResolutionMs = 1500.0;

int BcdValue(int b) {
    return FromBcd(static_cast<unsigned char>(b));
}

// Days since 1970-01-01 of a proleptic Gregorian date (H. Hinnant's days_from_civil).
qint64 DaysFromCivil(int y, int m, int d) {
    y -= m <= 2 ? 1 : 0;
    const int era = (y >= 0 ? y : y - 399) / 400;
    const int yoe = y - era * 400;
    const int doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return qint64(era) * 146097 + doe - 719468;
}

int DaysInMonth(int y, int m) {
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (m == 2 && ((y % 4 == 0 && y % 100 != 0) || y % 400 == 0))
        return 29;
    return days[m - 1];
}

double Median(std::vector<double> v) {
    if (v.empty())
        return 0;
    const size_t n = v.size() / 2;
    std::nth_element(v.begin(), v.begin() + qsizetype(n), v.end());
    double m = v[n];
    if (v.size() % 2 == 0) {
        const double lower = *std::max_element(v.begin(), v.begin() + qsizetype(n));
        m = (m + lower) / 2;
    }
    return m;
}

double Mad(const std::vector<double>& v, double median) {
    std::vector<double> dev;
    dev.reserve(v.size());
    for (double x : v)
        dev.push_back(std::abs(x - median));
    return Median(std::move(dev));
}

// The median of `v` after the pairs far from the first median are dropped; *mad is the scatter
// of what is left.
double RobustMedian(std::vector<double> v, double* mad) {
    const double first = Median(v);
    const double limit = std::max(kOutlierMads * 1.4826 * Mad(v, first), kOutlierFloorMs);
    std::vector<double> kept;
    kept.reserve(v.size());
    for (double x : v)
        if (std::abs(x - first) <= limit)
            kept.push_back(x);
    const double m = Median(kept);
    *mad = Mad(kept, m);
    return m;
}

// One end's events of one kind (send or receive) of one command and pair, by unit-clock time.
struct Stream {
    std::vector<qint64> ms;
    std::vector<int> row; // index into that end's event list
};

// The events of a link split by direction, command and pair: [direction][command - 1][pair].
struct Streams {
    Stream sends[2][8][2];
    Stream receives[2][8][2];
};

int DirIndex(LinkDirection d) {
    return d == LinkDirection::LocalToRemote ? 0 : 1;
}
int PairIndex(MatchPair p) {
    return p == MatchPair::Command ? 0 : 1;
}

// What one window of the estimate found.
struct WindowResult {
    std::vector<double> d[2]; // apparent delays, L→R and R→L
    std::vector<double> anchorMs;
    int anchors = 0;
    double centre[2] = {0, 0};
};

struct Prior {
    double c1 = 0; // expected apparent delay local → remote
    double c2 = 0; // expected apparent delay remote → local
    double halfWidth = 0;
};

// The anchors of a window: the local end's events of each direction (the sends local → remote,
// the receives remote → local) in [from, to), every `stride`-th.
template <typename F> void ForAnchors(const Streams& s, int dir, qint64 from, qint64 to, int stride, F&& f) {
    int n = 0;
    for (int k = 0; k < 8; ++k)
        for (int p = 0; p < 2; ++p) {
            const Stream& anchors = dir == 0 ? s.sends[0][k][p] : s.receives[1][k][p];
            const Stream& others = dir == 0 ? s.receives[0][k][p] : s.sends[1][k][p];
            auto it = std::lower_bound(anchors.ms.begin(), anchors.ms.end(), from);
            for (; it != anchors.ms.end() && *it < to; ++it)
                if (n++ % stride == 0)
                    f(*it, others);
        }
}

int CountAnchors(const Streams& s, int dir, qint64 from, qint64 to) {
    int n = 0;
    for (int k = 0; k < 8; ++k)
        for (int p = 0; p < 2; ++p) {
            const Stream& anchors = dir == 0 ? s.sends[0][k][p] : s.receives[1][k][p];
            n += int(std::lower_bound(anchors.ms.begin(), anchors.ms.end(), to) -
                     std::lower_bound(anchors.ms.begin(), anchors.ms.end(), from));
        }
    return n;
}

// The first anchor at or after `t` (or the largest time when none is).
qint64 NextAnchor(const Streams& s, qint64 t) {
    qint64 next = std::numeric_limits<qint64>::max();
    for (int k = 0; k < 8; ++k)
        for (int p = 0; p < 2; ++p)
            for (const Stream* a : {&s.sends[0][k][p], &s.receives[1][k][p]}) {
                const auto it = std::lower_bound(a->ms.begin(), a->ms.end(), t);
                if (it != a->ms.end())
                    next = std::min(next, *it);
            }
    return next;
}

// The apparent delay of an anchor at local time `a` against an event `o` of the other end: the
// receive minus the send, each on its own clock.
double Apparent(int dir, qint64 a, qint64 o) {
    return dir == 0 ? double(o - a) : double(a - o);
}

// The other end's events that may pair with the anchor at `a` for an apparent delay in [lo, hi].
std::pair<std::vector<qint64>::const_iterator, std::vector<qint64>::const_iterator>
Candidates(int dir, qint64 a, const Stream& others, double lo, double hi) {
    // dir 0: o = a + d; dir 1: o = a - d.
    const double from = dir == 0 ? double(a) + lo : double(a) - hi;
    const double to = dir == 0 ? double(a) + hi : double(a) - lo;
    auto b = std::lower_bound(others.ms.begin(), others.ms.end(), qint64(std::floor(from)));
    auto e = std::upper_bound(b, others.ms.end(), qint64(std::ceil(to)));
    return {b, e};
}

// Where the clock offset can be when nothing is known: the offset within `maxOffset` of `centre`
// that the most anchors agree on, each anchor allowing any transfer from 0 to `transfer` ms.
std::optional<Prior> SearchPrior(const Streams& s, qint64 from, qint64 to, double centre, double maxOffset,
                                 double transfer) {
    std::vector<std::pair<double, int>> edges; // (offset, +1 opens / -1 closes)
    for (int dir = 0; dir < 2; ++dir) {
        const int total = CountAnchors(s, dir, from, to);
        const int stride = std::max(1, (total + kSearchAnchors - 1) / kSearchAnchors);
        ForAnchors(s, dir, from, to, stride, [&](qint64 a, const Stream& others) {
            const double c = dir == 0 ? centre : -centre;
            const auto [b, e] =
                Candidates(dir, a, others, c - maxOffset - transfer, c + maxOffset + transfer);
            for (auto it = b; it != e; ++it) {
                const double d = Apparent(dir, a, *it);
                // d1 = offset + transfer; d2 = transfer - offset.
                const double lo = dir == 0 ? d - transfer : -d;
                edges.push_back({lo, +1});
                edges.push_back({lo + transfer, -1});
            }
        });
    }
    if (edges.empty())
        return std::nullopt;
    std::sort(edges.begin(), edges.end(), [](const auto& x, const auto& y) {
        return x.first != y.first ? x.first < y.first : x.second > y.second;
    });
    int cover = 0;
    int best = 0;
    double bestFrom = 0;
    double bestTo = 0;
    for (size_t i = 0; i < edges.size(); ++i) {
        cover += edges[i].second;
        if (cover > best) {
            best = cover;
            bestFrom = edges[i].first;
            bestTo = i + 1 < edges.size() ? edges[i + 1].first : edges[i].first;
        }
    }
    const double offset = (bestFrom + bestTo) / 2;
    Prior prior;
    // Both ways: the region's middle is the offset, the transfers lie in [0, transfer]. One way:
    // the region is [d - transfer, d], its middle half a transfer below the apparent delay.
    prior.c1 = offset + transfer / 2;
    prior.c2 = transfer / 2 - offset;
    prior.halfWidth = transfer;
    return prior;
}

// The apparent delays of a window's anchors nearest the prior's expectation.
WindowResult Collect(const Streams& s, qint64 from, qint64 to, const Prior& prior) {
    WindowResult w;
    w.centre[0] = prior.c1;
    w.centre[1] = prior.c2;
    for (int dir = 0; dir < 2; ++dir) {
        const int total = CountAnchors(s, dir, from, to);
        w.anchors += std::min(total, kWindowAnchors);
        const int stride = std::max(1, (total + kWindowAnchors - 1) / kWindowAnchors);
        const double c = dir == 0 ? prior.c1 : prior.c2;
        ForAnchors(s, dir, from, to, stride, [&](qint64 a, const Stream& others) {
            const auto [b, e] = Candidates(dir, a, others, c - prior.halfWidth, c + prior.halfWidth);
            double best = 0;
            double bestDistance = -1;
            for (auto it = b; it != e; ++it) {
                const double d = Apparent(dir, a, *it);
                if (bestDistance < 0 || std::abs(d - c) < bestDistance) {
                    bestDistance = std::abs(d - c);
                    best = d;
                }
            }
            if (bestDistance >= 0) {
                w.d[dir].push_back(best);
                w.anchorMs.push_back(double(a));
            }
        });
    }
    return w;
}

int Pairs(const WindowResult& w) {
    return int(w.d[0].size() + w.d[1].size());
}

QString AxisText(double ms) {
    return QDateTime::fromMSecsSinceEpoch(qint64(std::llround(ms)), Qt::UTC).toString(Qt::ISODateWithMs);
}

QString BasisText(OffsetBasis basis) {
    switch (basis) {
    case OffsetBasis::None:
        return QStringLiteral("none");
    case OffsetBasis::BothWays:
        return QStringLiteral("both-ways");
    case OffsetBasis::OneWay:
        return QStringLiteral("one-way");
    case OffsetBasis::HandCorrection:
        return QStringLiteral("hand");
    }
    return {};
}

QString Ms(double ms) {
    return QString::number(ms, 'f', 3);
}

void FillStats(CommandMatchCounts* c, std::vector<double> transfers) {
    if (transfers.empty())
        return;
    std::sort(transfers.begin(), transfers.end());
    const size_t n = transfers.size();
    c->transferMedianMs = n % 2 ? transfers[n / 2] : (transfers[n / 2 - 1] + transfers[n / 2]) / 2;
    c->transferP95Ms = transfers[size_t(std::ceil(0.95 * double(n))) - 1];
    c->transferMaxMs = transfers.back();
}

} // namespace

// --- the archive's side ---------------------------------------------------------------------

namespace {

bool UnitOfRow(Archive& archive, qint64 id, UnitRow* out, QString* error) {
    const std::optional<UnitRow> unit = archive.Unit(id);
    if (!unit) {
        *error = QStringLiteral("unit #%1 is not in the archive").arg(id);
        return false;
    }
    *out = *unit;
    return true;
}

// The unit a visit met last at each side, from the table `table` (reads or configuration answers).
bool UnitsOfVisit(Archive& archive, const char* table, qint64 visitId, std::optional<qint64> units[2],
                  QString* error) {
    QSqlQuery q(archive.Database());
    q.prepare(QStringLiteral("SELECT unit_id, side FROM %1 WHERE visit_id = ? ORDER BY id")
                  .arg(QLatin1String(table)));
    q.addBindValue(visitId);
    if (!q.exec()) {
        *error = q.lastError().text();
        archive.SetLastError(*error);
        return false;
    }
    while (q.next()) {
        const int side = q.value(1).toInt() == 0 ? 0 : 1;
        if (!units[side])
            units[side] = q.value(0).toLongLong();
    }
    return true;
}

std::optional<UnitRow> UnitNamed(Archive& archive, const QString& name, QString* error) {
    const QString n = name.trimmed();
    if (n.startsWith('#')) {
        bool ok = false;
        const qint64 id = n.mid(1).toLongLong(&ok);
        if (ok)
            if (std::optional<UnitRow> unit = archive.Unit(id))
                return unit;
        *error = QStringLiteral("no unit %1 in the archive").arg(n);
        return std::nullopt;
    }
    bool isNumber = false;
    const int address = n.toInt(&isNumber);
    std::optional<UnitRow> byName;
    int named = 0;
    const QList<UnitRow> units = archive.Units();
    if (!archive.LastError().isEmpty()) {
        *error = archive.LastError();
        return std::nullopt;
    }
    for (const UnitRow& unit : units) {
        if (isNumber && unit.address == address)
            return unit;
        if (unit.name == n) {
            byName = unit;
            ++named;
        }
    }
    if (named > 1) {
        *error = QStringLiteral("more than one unit is called \"%1\"; name it as #id").arg(n);
        return std::nullopt;
    }
    if (!byName)
        *error = QStringLiteral("no unit \"%1\" in the archive").arg(n);
    return byName;
}

} // namespace

bool LinkOfVisit(Archive& archive, qint64 visitId, LinkEnds* ends, QString* error) {
    archive.SetLastError(QString());
    QSqlQuery q(archive.Database());
    q.prepare(QStringLiteral("SELECT id FROM visits WHERE id = ?"));
    q.addBindValue(visitId);
    if (!q.exec()) {
        *error = q.lastError().text();
        archive.SetLastError(*error);
        return false;
    }
    if (!q.next()) {
        *error = QStringLiteral("visit %1 is not in the archive").arg(visitId);
        return false;
    }
    std::optional<qint64> units[2];
    if (!UnitsOfVisit(archive, "reads", visitId, units, error) ||
        !UnitsOfVisit(archive, "config_snapshots", visitId, units, error))
        return false;
    if (!units[0] || !units[1]) {
        *error = QStringLiteral("visit %1 met no %2 unit").arg(visitId).arg(units[0] ? "remote" : "local");
        return false;
    }
    if (!UnitOfRow(archive, *units[0], &ends->local, error) ||
        !UnitOfRow(archive, *units[1], &ends->remote, error))
        return false;
    ends->visitId = visitId;
    return true;
}

std::optional<qint64> VisitIdOf(Archive& archive, const QString& text) {
    archive.SetLastError(QString());
    bool isNumber = false;
    const qint64 number = text.trimmed().toLongLong(&isNumber);
    QSqlQuery q(archive.Database());
    q.prepare(isNumber ? QStringLiteral("SELECT id FROM visits WHERE id = ?")
                       : QStringLiteral("SELECT id FROM visits WHERE uuid = ?"));
    q.addBindValue(isNumber ? QVariant(number) : QVariant(text.trimmed().toLower()));
    if (!q.exec()) {
        archive.SetLastError(q.lastError().text());
        return std::nullopt;
    }
    if (!q.next())
        return std::nullopt;
    return q.value(0).toLongLong();
}

bool LinkOfUnits(Archive& archive, const QString& localName, const QString& remoteName, LinkEnds* ends,
                 QString* error) {
    archive.SetLastError(QString());
    const std::optional<UnitRow> local = UnitNamed(archive, localName, error);
    if (!local)
        return false;
    const std::optional<UnitRow> remote = UnitNamed(archive, remoteName, error);
    if (!remote)
        return false;
    if (local->id == remote->id) {
        *error = QStringLiteral("\"%1\" and \"%2\" are the same unit").arg(localName, remoteName);
        return false;
    }
    ends->local = *local;
    ends->remote = *remote;
    ends->visitId.reset();
    return true;
}

bool ReadLinkEvents(Archive& archive, const LinkEnds& ends, LinkEvents* events, QString* error) {
    *events = LinkEvents();
    for (int end = 0; end < 2; ++end) {
        const UnitRow& unit = end == 0 ? ends.local : ends.remote;
        QList<EventRow>& rows = end == 0 ? events->local : events->remote;
        EventFilter filter;
        filter.unitId = unit.id;
        if (!archive.ForEachEvent(filter, EventSort::UnitTime, Qt::AscendingOrder,
                                  [&rows](const EventRow& row) {
                                      rows.append(row);
                                      return true;
                                  })) {
            *error = archive.LastError();
            return false;
        }
        (end == 0 ? events->localClock : events->remoteClock) = archive.ClockHistory(unit.id);
    }
    return true;
}

// --- the matching ---------------------------------------------------------------------------

std::optional<qint64> EventUnitMs(const EventRow& event) {
    qint64 key = event.unitTime;
    const int ms = int(key & ((1 << kMsBits) - 1));
    key >>= kMsBits;
    const int second = int(key & 0xFF);
    const int minute = int((key >> 8) & 0xFF);
    const int hour = int((key >> 16) & 0xFF);
    const int day = int((key >> 24) & 0xFF);
    const int month = int((key >> 32) & 0x0F);
    const int year = int((key >> 36) & 0xFF);
    for (int b : {year, day, hour, minute, second})
        if (!ValidBcd(b))
            return std::nullopt;
    const int y = 2000 + BcdValue(year);
    const int d = BcdValue(day);
    if (month < 1 || month > 12 || d < 1 || d > DaysInMonth(y, month) || BcdValue(hour) > 23 ||
        BcdValue(minute) > 59 || BcdValue(second) > 59 || ms > 999)
        return std::nullopt;
    return ((DaysFromCivil(y, month, d) * 24 + BcdValue(hour)) * 60 + BcdValue(minute)) * 60000LL +
           BcdValue(second) * 1000LL + ms;
}

std::optional<CommandCode> CommandOfCode(int code, UnitSide end) {
    if (code < 1 || code > 32)
        return std::nullopt;
    CommandCode c;
    c.isSend = code <= 16;
    const int inKind = (code - 1) % 16; // 0..15
    c.command = inKind / 2 + 1;
    c.pair = inKind % 2 == 0 ? MatchPair::Command : MatchPair::Return;
    const bool localToRemote = (end == UnitSide::Local) == c.isSend;
    c.direction = localToRemote ? LinkDirection::LocalToRemote : LinkDirection::RemoteToLocal;
    return c;
}

double OffsetAt(const LinkMatch& match, double localMs) {
    const QList<OffsetSample>& s = match.offsets;
    if (s.isEmpty())
        return match.offsetMs;
    // Beyond the first or last window the offset goes on as the two windows there say, for as
    // far as they lie apart, and stays put after that.
    const auto extrapolate = [localMs](const OffsetSample& edge, const OffsetSample& inner) {
        const double span = edge.unitMs - inner.unitMs;
        if (span == 0)
            return edge.offsetMs;
        const double beyond = std::clamp(localMs - edge.unitMs, -std::abs(span), std::abs(span));
        return edge.offsetMs + (edge.offsetMs - inner.offsetMs) * beyond / span;
    };
    if (localMs <= s.first().unitMs)
        return s.size() > 1 ? extrapolate(s.first(), s[1]) : s.first().offsetMs;
    if (localMs >= s.last().unitMs)
        return s.size() > 1 ? extrapolate(s.last(), s[s.size() - 2]) : s.last().offsetMs;
    const auto it = std::lower_bound(s.begin(), s.end(), localMs,
                                     [](const OffsetSample& a, double t) { return a.unitMs < t; });
    const OffsetSample& b = *it;
    const OffsetSample& a = *(it - 1);
    if (b.unitMs <= a.unitMs)
        return b.offsetMs;
    return a.offsetMs + (b.offsetMs - a.offsetMs) * (localMs - a.unitMs) / (b.unitMs - a.unitMs);
}

namespace {
// A remote-clock time on the local axis: the offset is a function of local time, so it is
// looked up where the event lands, twice over (drift is far below one part in a thousand).
double RemoteToAxis(const LinkMatch& match, double remoteMs) {
    double x = remoteMs - match.offsetMs;
    x = remoteMs - OffsetAt(match, x);
    return remoteMs - OffsetAt(match, x);
}
} // namespace

std::optional<double> AxisMs(const LinkMatch& match, const EventRow& event, UnitSide end) {
    const std::optional<qint64> ms = EventUnitMs(event);
    if (!ms)
        return std::nullopt;
    return end == UnitSide::Local ? double(*ms) : RemoteToAxis(match, double(*ms));
}

namespace {

// The sliding estimate: a window of `windowMs` on the local clock, moved by half of it over the
// local end's traffic; each window starts from what the last one found and searches the whole
// range only when that finds too little.
void Estimate(const Streams& s, const MatchOptions& o, double centre, LinkMatch* m) {
    qint64 first = std::numeric_limits<qint64>::max();
    qint64 last = std::numeric_limits<qint64>::min();
    for (int k = 0; k < 8; ++k)
        for (int p = 0; p < 2; ++p)
            for (const Stream* a : {&s.sends[0][k][p], &s.receives[1][k][p]})
                if (!a->ms.empty()) {
                    first = std::min(first, a->ms.front());
                    last = std::max(last, a->ms.back());
                }
    if (first > last)
        return;
    const qint64 width = std::max<qint64>(o.windowMs, 1000);
    const double transfer = std::max(o.acceptMs, 1);
    struct Found {
        WindowResult w;
        double m[2] = {0, 0};
        double mad[2] = {0, 0};
    };
    std::vector<Found> found;
    std::optional<Prior> prior;
    for (qint64 from = first;; from += width / 2) {
        const qint64 to = from + width;
        const int anchors = std::min(CountAnchors(s, 0, from, to), kWindowAnchors) +
                            std::min(CountAnchors(s, 1, from, to), kWindowAnchors);
        if (anchors > 0) {
            std::optional<WindowResult> w;
            if (prior)
                w = Collect(s, from, to, *prior);
            if (!w || Pairs(*w) * 2 < w->anchors) {
                if (const std::optional<Prior> searched =
                        SearchPrior(s, from, to, centre, double(o.maxOffsetMs), transfer)) {
                    WindowResult again = Collect(s, from, to, *searched);
                    // Once more around what the search found, so both directions centre on
                    // their own medians.
                    if (Pairs(again) > 0) {
                        Prior refined = *searched;
                        if (!again.d[0].empty())
                            refined.c1 = Median(again.d[0]);
                        if (!again.d[1].empty())
                            refined.c2 = Median(again.d[1]);
                        refined.halfWidth = transfer / 2;
                        again = Collect(s, from, to, refined);
                    }
                    if (!w || Pairs(again) > Pairs(*w))
                        w = std::move(again);
                }
            }
            if (w && Pairs(*w) > 0) {
                Found f;
                f.w = std::move(*w);
                Prior next;
                next.c1 = f.w.centre[0];
                next.c2 = f.w.centre[1];
                for (int dir = 0; dir < 2; ++dir)
                    if (!f.w.d[dir].empty()) {
                        f.m[dir] = RobustMedian(f.w.d[dir], &f.mad[dir]);
                        (dir == 0 ? next.c1 : next.c2) = f.m[dir];
                    }
                // The other direction follows an offset that moved: the transfer stays.
                if (f.w.d[0].empty() != f.w.d[1].empty() && prior) {
                    const double shift = f.w.d[0].empty() ? -(next.c2 - prior->c2) : next.c1 - prior->c1;
                    if (f.w.d[0].empty())
                        next.c1 = prior->c1 + shift;
                    else
                        next.c2 = prior->c2 - shift;
                }
                next.halfWidth = transfer;
                prior = next;
                found.push_back(std::move(f));
            }
        }
        if (to > last)
            break;
        if (anchors == 0) {
            // Nothing here: on to the window that holds the next anchor.
            const qint64 next = NextAnchor(s, to);
            if (next > last)
                break;
            from = std::max(from, next - width / 2) - width / 2;
        }
    }
    if (found.empty())
        return;

    // The typical transfer where both ways were seen; one-way windows take their offset from it.
    std::vector<double> transfers;
    for (const Found& f : found) {
        if (!f.w.d[0].empty() && !f.w.d[1].empty())
            transfers.push_back((f.m[0] + f.m[1]) / 2);
    }
    m->split = !transfers.empty();
    m->basis = m->split ? OffsetBasis::BothWays : OffsetBasis::OneWay;
    const double tau = m->split ? Median(transfers) : 0.0;
    std::vector<double> offsets;
    for (const Found& f : found) {
        OffsetSample sample;
        sample.unitMs = Median(f.w.anchorMs);
        const bool both = !f.w.d[0].empty() && !f.w.d[1].empty();
        sample.split = both;
        sample.pairs = Pairs(f.w);
        if (both) {
            sample.offsetMs = (f.m[0] - f.m[1]) / 2;
            sample.transferMs = (f.m[0] + f.m[1]) / 2;
            sample.spreadMs = (f.mad[0] + f.mad[1]) / 2;
        } else if (!f.w.d[0].empty()) {
            sample.offsetMs = f.m[0] - tau;
            sample.transferMs = tau;
            sample.spreadMs = f.mad[0];
        } else {
            sample.offsetMs = tau - f.m[1];
            sample.transferMs = tau;
            sample.spreadMs = f.mad[1];
        }
        offsets.push_back(sample.offsetMs);
        m->offsets.append(sample);
    }
    std::sort(m->offsets.begin(), m->offsets.end(),
              [](const OffsetSample& a, const OffsetSample& b) { return a.unitMs < b.unitMs; });
    m->offsetMs = Median(offsets);
    // One way only: the "offset" is the apparent delay (sent local → remote) or its negative, and
    // the transfers left after it scatter around 0.
    m->transferMs = tau;
}

// Pairs the sends and receives of one stream on the common axis: the candidate pairs whose
// transfer lies within `accept` of `tau`, nearest first, each event in one pair at most.
void MatchStream(const Stream& sends, const Stream& receives, bool sendsAreLocal, double tau, double accept,
                 const LinkMatch& m, std::vector<std::pair<int, int>>* pairs, std::vector<double>* sendAxis,
                 std::vector<double>* receiveAxis) {
    sendAxis->resize(sends.ms.size());
    receiveAxis->resize(receives.ms.size());
    for (size_t i = 0; i < sends.ms.size(); ++i)
        (*sendAxis)[i] = sendsAreLocal ? double(sends.ms[i]) : RemoteToAxis(m, double(sends.ms[i]));
    for (size_t j = 0; j < receives.ms.size(); ++j)
        (*receiveAxis)[j] = sendsAreLocal ? RemoteToAxis(m, double(receives.ms[j])) : double(receives.ms[j]);
    // The axis keeps each end's order (the offset moves far slower than time), so one pass finds
    // each send's candidates.
    struct Candidate {
        double cost;
        int send;
        int receive;
    };
    std::vector<Candidate> candidates;
    size_t j0 = 0;
    for (size_t i = 0; i < sendAxis->size(); ++i) {
        const double lo = (*sendAxis)[i] + tau - accept;
        const double hi = (*sendAxis)[i] + tau + accept;
        while (j0 < receiveAxis->size() && (*receiveAxis)[j0] < lo)
            ++j0;
        for (size_t j = j0; j < receiveAxis->size() && (*receiveAxis)[j] <= hi; ++j)
            candidates.push_back({std::abs((*receiveAxis)[j] - (*sendAxis)[i] - tau), int(i), int(j)});
    }
    std::sort(candidates.begin(), candidates.end(), [](const Candidate& a, const Candidate& b) {
        return a.cost != b.cost   ? a.cost < b.cost
               : a.send != b.send ? a.send < b.send
                                  : a.receive < b.receive;
    });
    std::vector<char> sendTaken(sendAxis->size(), 0);
    std::vector<char> receiveTaken(receiveAxis->size(), 0);
    for (const Candidate& c : candidates)
        if (!sendTaken[size_t(c.send)] && !receiveTaken[size_t(c.receive)]) {
            sendTaken[size_t(c.send)] = receiveTaken[size_t(c.receive)] = 1;
            pairs->push_back({c.send, c.receive});
        }
}

// The clocks' offset by the latest visit that read both clocks (the first reading of each unit in
// it); *localUnitMs is the local clock at that reading.
void ReadingsOffset(const LinkEvents& e, LinkMatch* m, double* localUnitMs) {
    // A reading whose bytes are no valid date and time tells nothing (its difference reads 0).
    const auto valid = [](const ClockReading& r) {
        return r.bytes.isEmpty() || ClockDifferenceMs(r.bytes, r.time).has_value();
    };
    const auto firstOf = [&valid](const QList<ClockReading>& readings,
                                  qint64 visitId) -> const ClockReading* {
        for (const ClockReading& r : readings)
            if (r.visitId == visitId && valid(r))
                return &r;
        return nullptr;
    };
    for (qsizetype i = e.localClock.size() - 1; i >= 0; --i) {
        const ClockReading* remote = firstOf(e.remoteClock, e.localClock[i].visitId);
        const ClockReading* firstLocal = firstOf(e.localClock, e.localClock[i].visitId);
        if (!remote || !firstLocal)
            continue;
        const ClockReading& local = *firstLocal;
        ClockCrossCheck& c = m->crossCheck;
        c.available = true;
        c.visitId = local.visitId;
        c.readingOffsetMs = double(remote->differenceMs - firstLocal->differenceMs);
        *localUnitMs = double(firstLocal->time.utcMs) + firstLocal->time.offsetSeconds * 1000.0 +
                       double(firstLocal->differenceMs);
        return;
    }
}

// The estimate against the readings. Without traffic the readings place the remote end.
void CrossCheck(double localUnitMs, LinkMatch* m) {
    ClockCrossCheck& c = m->crossCheck;
    if (!c.available)
        return;
    if (m->basis == OffsetBasis::None)
        m->offsetMs = c.readingOffsetMs;
    c.estimateOffsetMs = OffsetAt(*m, localUnitMs);
    c.differenceMs = c.estimateOffsetMs - c.readingOffsetMs;
    c.agrees = m->basis != OffsetBasis::OneWay && std::abs(c.differenceMs) <= kReadingResolutionMs;
}

} // namespace

LinkMatch MatchLink(const LinkEvents& events, const MatchOptions& options) {
    LinkMatch m;
    Streams s;
    const QList<EventRow>* ends[2] = {&events.local, &events.remote};
    std::vector<std::optional<qint64>> times[2];
    for (int end = 0; end < 2; ++end) {
        const UnitSide side = end == 0 ? UnitSide::Local : UnitSide::Remote;
        times[end].reserve(size_t(ends[end]->size()));
        for (qsizetype i = 0; i < ends[end]->size(); ++i) {
            const EventRow& row = (*ends[end])[i];
            times[end].push_back(EventUnitMs(row));
            if (!times[end].back()) {
                ++m.unplaced;
                continue;
            }
            const std::optional<CommandCode> c = CommandOfCode(row.code, side);
            if (!c)
                continue;
            Stream& stream =
                (c->isSend ? s.sends
                           : s.receives)[DirIndex(c->direction)][c->command - 1][PairIndex(c->pair)];
            stream.ms.push_back(*times[end].back());
            stream.row.push_back(int(i));
        }
    }
    for (auto* group : {&s.sends, &s.receives})
        for (auto& dir : *group)
            for (auto& cmd : dir)
                for (Stream& st : cmd) {
                    std::vector<size_t> order(st.ms.size());
                    for (size_t i = 0; i < order.size(); ++i)
                        order[i] = i;
                    if (std::is_sorted(st.ms.begin(), st.ms.end()))
                        continue;
                    std::stable_sort(order.begin(), order.end(),
                                     [&](size_t a, size_t b) { return st.ms[a] < st.ms[b]; });
                    Stream sorted;
                    for (size_t i : order) {
                        sorted.ms.push_back(st.ms[i]);
                        sorted.row.push_back(st.row[i]);
                    }
                    st = std::move(sorted);
                }

    // Clocks set far apart (a unit never set, a year out) are found around what the readings say.
    double readingAtMs = 0;
    ReadingsOffset(events, &m, &readingAtMs);
    if (options.handOffsetMs) {
        m.basis = OffsetBasis::HandCorrection;
        m.split = true;
        m.offsetMs = *options.handOffsetMs;
    } else {
        Estimate(s, options, m.crossCheck.available ? m.crossCheck.readingOffsetMs : 0.0, &m);
    }
    CrossCheck(readingAtMs, &m);

    // The matches, stream by stream, first as light records; the rows are copied once, in axis order.
    const double accept = std::max(options.acceptMs, 1);
    struct Found {
        double sentAxis;
        double receivedAxis;
        double transfer;
        int sendRow;
        int receiveRow;
        quint8 dir, k, p;
    };
    std::vector<Found> found;
    std::vector<double> transfers[2][8];
    for (int dir = 0; dir < 2; ++dir)
        for (int k = 0; k < 8; ++k)
            for (int p = 0; p < 2; ++p) {
                const Stream& sends = s.sends[dir][k][p];
                const Stream& receives = s.receives[dir][k][p];
                const bool sendsAreLocal = dir == 0;
                const QList<EventRow>& sendRows = sendsAreLocal ? events.local : events.remote;
                const QList<EventRow>& receiveRows = sendsAreLocal ? events.remote : events.local;
                std::vector<std::pair<int, int>> pairs;
                std::vector<double> sendAxis;
                std::vector<double> receiveAxis;
                MatchStream(sends, receives, sendsAreLocal, m.transferMs, accept, m, &pairs, &sendAxis,
                            &receiveAxis);
                std::vector<char> sendMatched(sends.ms.size(), 0);
                std::vector<char> receiveMatched(receives.ms.size(), 0);
                const auto direction = dir == 0 ? LinkDirection::LocalToRemote : LinkDirection::RemoteToLocal;
                const auto pair = p == 0 ? MatchPair::Command : MatchPair::Return;
                for (const auto& [i, j] : pairs) {
                    sendMatched[size_t(i)] = receiveMatched[size_t(j)] = 1;
                    Found f{sendAxis[size_t(i)],
                            receiveAxis[size_t(j)],
                            0,
                            sends.row[size_t(i)],
                            receives.row[size_t(j)],
                            quint8(dir),
                            quint8(k),
                            quint8(p)};
                    f.transfer = m.split ? f.receivedAxis - f.sentAxis
                                         : double(receives.ms[size_t(j)] - sends.ms[size_t(i)]);
                    if (p == 0)
                        transfers[dir][k].push_back(f.transfer);
                    found.push_back(f);
                }
                for (size_t i = 0; i < sendMatched.size(); ++i)
                    if (!sendMatched[i])
                        m.lost.append({k + 1, direction, pair, sendRows[sends.row[i]],
                                       sendsAreLocal ? UnitSide::Local : UnitSide::Remote, sendAxis[i]});
                for (size_t j = 0; j < receiveMatched.size(); ++j)
                    if (!receiveMatched[j])
                        m.unwanted.append({k + 1, direction, pair, receiveRows[receives.row[j]],
                                           sendsAreLocal ? UnitSide::Remote : UnitSide::Local,
                                           receiveAxis[j]});
                if (p == 0) {
                    CommandMatchCounts& c = m.perDirection[size_t(dir)][size_t(k)];
                    c.sent = qint64(sends.ms.size());
                    c.received = qint64(receives.ms.size());
                    c.matched = qint64(pairs.size());
                    c.lost = c.sent - c.matched;
                    c.unwanted = c.received - c.matched;
                }
            }
    std::sort(found.begin(), found.end(),
              [](const Found& a, const Found& b) { return a.sentAxis < b.sentAxis; });
    m.matches.reserve(qsizetype(found.size()));
    for (const Found& f : found)
        m.matches.append(
            CommandMatch{f.k + 1, f.dir == 0 ? LinkDirection::LocalToRemote : LinkDirection::RemoteToLocal,
                         f.p == 0 ? MatchPair::Command : MatchPair::Return,
                         (f.dir == 0 ? events.local : events.remote)[f.sendRow],
                         (f.dir == 0 ? events.remote : events.local)[f.receiveRow], f.sentAxis,
                         f.receivedAxis, f.transfer});
    for (int k = 0; k < 8; ++k) {
        CommandMatchCounts& all = m.perCommand[size_t(k)];
        std::vector<double> both;
        for (int dir = 0; dir < 2; ++dir) {
            CommandMatchCounts& c = m.perDirection[size_t(dir)][size_t(k)];
            FillStats(&c, transfers[dir][k]);
            all.sent += c.sent;
            all.received += c.received;
            all.matched += c.matched;
            all.lost += c.lost;
            all.unwanted += c.unwanted;
            both.insert(both.end(), transfers[dir][k].begin(), transfers[dir][k].end());
        }
        FillStats(&all, std::move(both));
    }
    const auto byAxis = [](const UnmatchedEvent& a, const UnmatchedEvent& b) { return a.axisMs < b.axisMs; };
    std::sort(m.lost.begin(), m.lost.end(), byAxis);
    std::sort(m.unwanted.begin(), m.unwanted.end(), byAxis);

    // Alarms and interruptions of both ends, and the bands from each to its return.
    for (int end = 0; end < 2; ++end) {
        const UnitSide side = end == 0 ? UnitSide::Local : UnitSide::Remote;
        std::optional<double> open[3];
        for (qsizetype i = 0; i < ends[end]->size(); ++i) {
            const EventRow& row = (*ends[end])[i];
            if (row.code < 33 || row.code > 38 || !times[end][size_t(i)])
                continue;
            LinkIncident incident;
            const int kind = (row.code - 33) / 2;
            incident.kind = IncidentKind(kind);
            incident.isReturn = row.code % 2 == 0;
            incident.end = side;
            incident.event = row;
            incident.axisMs =
                end == 0 ? double(*times[end][size_t(i)]) : RemoteToAxis(m, double(*times[end][size_t(i)]));
            m.incidents.append(incident);
        }
        QList<LinkIncident> mine;
        for (const LinkIncident& incident : m.incidents)
            if (incident.end == side)
                mine.append(incident);
        std::stable_sort(mine.begin(), mine.end(),
                         [](const LinkIncident& a, const LinkIncident& b) { return a.axisMs < b.axisMs; });
        for (const LinkIncident& incident : mine) {
            std::optional<double>& o = open[int(incident.kind)];
            if (!incident.isReturn) {
                if (o)
                    m.bands.append({incident.kind, side, *o, std::nullopt});
                o = incident.axisMs;
            } else if (o) {
                m.bands.append({incident.kind, side, *o, incident.axisMs});
                o.reset();
            }
        }
        for (int kind = 0; kind < 3; ++kind)
            if (open[kind])
                m.bands.append({IncidentKind(kind), side, *open[kind], std::nullopt});
    }
    std::stable_sort(m.incidents.begin(), m.incidents.end(),
                     [](const LinkIncident& a, const LinkIncident& b) { return a.axisMs < b.axisMs; });
    std::stable_sort(m.bands.begin(), m.bands.end(), [](const IncidentBand& a, const IncidentBand& b) {
        return a.startAxisMs < b.startAxisMs;
    });
    return m;
}

QString EventRecordLine(const EventRow& event, int number, bool chinese) {
    qint64 key = event.unitTime;
    const int ms = int(key & ((1 << kMsBits) - 1));
    key >>= kMsBits;
    unsigned char rec[kEventRecordLength] = {};
    rec[4] = static_cast<unsigned char>(key & 0xFF);
    rec[3] = static_cast<unsigned char>((key >> 8) & 0xFF);
    rec[2] = static_cast<unsigned char>((key >> 16) & 0xFF);
    rec[1] = static_cast<unsigned char>((key >> 24) & 0xFF);
    const int month = int((key >> 32) & 0x0F);
    rec[0] = static_cast<unsigned char>((key >> 36) & 0xFF);
    // The millisecond nibbles back from their value: the hundreds nibble takes what it can (up to
    // 15), the tens and units the rest, so values above 999 print as the record did.
    const int hundreds = std::min(ms / 100, 15);
    const int rest = ms - hundreds * 100;
    const int tens = std::min(rest / 10, 15);
    const int units = rest - tens * 10;
    rec[5] = static_cast<unsigned char>((month << 4) | hundreds);
    rec[6] = static_cast<unsigned char>(event.code >= 0 && event.code <= 255 ? event.code : 0);
    rec[7] = static_cast<unsigned char>((tens << 4) | (units & 0x0F));
    return FormatRecordLine(number, rec, chinese);
}

QString DirectionText(LinkDirection direction) {
    return direction == LinkDirection::LocalToRemote ? QStringLiteral("local-remote")
                                                     : QStringLiteral("remote-local");
}

QByteArray MatchCsv(const LinkMatch& match, const LinkEnds& ends) {
    Q_UNUSED(ends);
    QByteArray out = "kind,command,direction,pair,local time,remote time,axis time,transfer ms,offset ms\r\n";
    const auto row = [&out](const QStringList& fields) {
        QByteArray line;
        for (qsizetype i = 0; i < fields.size(); ++i) {
            if (i)
                line += ',';
            line += CsvField(fields[i]);
        }
        out += line + "\r\n";
    };
    row({QStringLiteral("estimate"), QString(), QString(), BasisText(match.basis), QString(), QString(),
         QString(), Ms(match.transferMs), Ms(match.offsetMs)});
    for (const OffsetSample& s : match.offsets)
        row({QStringLiteral("offset"), QString(), QString(),
             s.split ? QStringLiteral("split") : QStringLiteral("apparent"), AxisText(s.unitMs), QString(),
             QString(), Ms(s.transferMs), Ms(s.offsetMs)});
    const auto pairText = [](MatchPair p) {
        return p == MatchPair::Command ? QStringLiteral("command") : QStringLiteral("return");
    };
    for (const CommandMatch& c : match.matches) {
        const bool l2r = c.direction == LinkDirection::LocalToRemote;
        const EventRow& local = l2r ? c.sent : c.received;
        const EventRow& remote = l2r ? c.received : c.sent;
        row({QStringLiteral("match"), QString::number(c.command), DirectionText(c.direction),
             pairText(c.pair), UnitTimeText(local.unitTime), UnitTimeText(remote.unitTime),
             AxisText(c.sentAxisMs), Ms(c.transferMs), Ms(OffsetAt(match, c.sentAxisMs))});
    }
    for (int lost = 1; lost >= 0; --lost)
        for (const UnmatchedEvent& u : lost ? match.lost : match.unwanted) {
            const QString time = UnitTimeText(u.event.unitTime);
            row({lost ? QStringLiteral("lost") : QStringLiteral("unwanted"), QString::number(u.command),
                 DirectionText(u.direction), pairText(u.pair), u.end == UnitSide::Local ? time : QString(),
                 u.end == UnitSide::Remote ? time : QString(), AxisText(u.axisMs), QString(),
                 Ms(OffsetAt(match, u.axisMs))});
        }
    return out;
}

QByteArray MatchJson(const LinkMatch& match, const LinkEnds& ends) {
    const auto pairText = [](MatchPair p) {
        return p == MatchPair::Command ? QStringLiteral("command") : QStringLiteral("return");
    };
    QJsonObject o;
    o.insert(QStringLiteral("local"), UnitLabel(ends.local));
    o.insert(QStringLiteral("remote"), UnitLabel(ends.remote));
    o.insert(QStringLiteral("basis"), BasisText(match.basis));
    o.insert(QStringLiteral("split"), match.split);
    o.insert(QStringLiteral("offsetMs"), match.offsetMs);
    o.insert(QStringLiteral("transferMs"), match.transferMs);
    QJsonArray offsets;
    for (const OffsetSample& s : match.offsets)
        offsets.append(QJsonObject{{QStringLiteral("time"), AxisText(s.unitMs)},
                                   {QStringLiteral("offsetMs"), s.offsetMs},
                                   {QStringLiteral("spreadMs"), s.spreadMs},
                                   {QStringLiteral("transferMs"), s.transferMs},
                                   {QStringLiteral("pairs"), s.pairs},
                                   {QStringLiteral("split"), s.split}});
    o.insert(QStringLiteral("offsets"), offsets);
    QJsonArray matches;
    for (const CommandMatch& c : match.matches)
        matches.append(QJsonObject{{QStringLiteral("command"), c.command},
                                   {QStringLiteral("direction"), DirectionText(c.direction)},
                                   {QStringLiteral("pair"), pairText(c.pair)},
                                   {QStringLiteral("sent"), UnitTimeText(c.sent.unitTime)},
                                   {QStringLiteral("received"), UnitTimeText(c.received.unitTime)},
                                   {QStringLiteral("axisTime"), AxisText(c.sentAxisMs)},
                                   {QStringLiteral("transferMs"), c.transferMs}});
    o.insert(QStringLiteral("matches"), matches);
    for (int lost = 1; lost >= 0; --lost) {
        QJsonArray list;
        for (const UnmatchedEvent& u : lost ? match.lost : match.unwanted)
            list.append(QJsonObject{{QStringLiteral("command"), u.command},
                                    {QStringLiteral("direction"), DirectionText(u.direction)},
                                    {QStringLiteral("pair"), pairText(u.pair)},
                                    {QStringLiteral("end"), SideText(u.end)},
                                    {QStringLiteral("time"), UnitTimeText(u.event.unitTime)},
                                    {QStringLiteral("axisTime"), AxisText(u.axisMs)}});
        o.insert(lost ? QStringLiteral("lost") : QStringLiteral("unwanted"), list);
    }
    QJsonArray counts;
    for (int k = 0; k < 8; ++k) {
        const CommandMatchCounts& c = match.perCommand[size_t(k)];
        QJsonObject co{{QStringLiteral("command"), k + 1},       {QStringLiteral("sent"), c.sent},
                       {QStringLiteral("received"), c.received}, {QStringLiteral("matched"), c.matched},
                       {QStringLiteral("lost"), c.lost},         {QStringLiteral("unwanted"), c.unwanted}};
        if (c.transferMedianMs) {
            co.insert(QStringLiteral("transferMedianMs"), *c.transferMedianMs);
            co.insert(QStringLiteral("transferP95Ms"), *c.transferP95Ms);
            co.insert(QStringLiteral("transferMaxMs"), *c.transferMaxMs);
        }
        counts.append(co);
    }
    o.insert(QStringLiteral("counts"), counts);
    QJsonObject cc{{QStringLiteral("available"), match.crossCheck.available}};
    if (match.crossCheck.available) {
        cc.insert(QStringLiteral("readingOffsetMs"), match.crossCheck.readingOffsetMs);
        cc.insert(QStringLiteral("estimateOffsetMs"), match.crossCheck.estimateOffsetMs);
        cc.insert(QStringLiteral("differenceMs"), match.crossCheck.differenceMs);
        cc.insert(QStringLiteral("agrees"), match.crossCheck.agrees);
    }
    o.insert(QStringLiteral("crossCheck"), cc);
    return QJsonDocument(o).toJson(QJsonDocument::Compact) + '\n';
}

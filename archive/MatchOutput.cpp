#include "archive/MatchOutput.h"

#include "archive/ArchiveFormat.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace {

// --- text of numbers and times, written straight into the output --------------------------------

// A short ASCII value: a number or a time, at most a few dozen characters.
struct Scratch {
    char text[48];
    int size = 0;
    QLatin1StringView View() const { return QLatin1StringView(text, size); }
};

// Two digits, four, or three of a value, zero-padded.
char* Digits(char* p, int value, int width) {
    for (int i = width - 1; i >= 0; --i, value /= 10)
        p[i] = char('0' + value % 10);
    return p + width;
}

// A local-clock time as "2008-12-25T13:45:07.123" (milliseconds rounded; the text a QDateTime
// gives, made without one: a match writes hundreds of thousands). Empty for a time that is none.
Scratch ClockText(double ms) {
    Scratch out;
    if (!std::isfinite(ms))
        return out;
    const qint64 t = qint64(std::llround(ms));
    const qint64 days = t >= 0 ? t / 86'400'000 : -((-t + 86'399'999) / 86'400'000);
    const qint64 inDay = t - days * 86'400'000;
    // H. Hinnant's civil_from_days.
    const qint64 z = days + 719468;
    const qint64 era = (z >= 0 ? z : z - 146096) / 146097;
    const qint64 doe = z - era * 146097;
    const qint64 yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const qint64 doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const qint64 mp = (5 * doy + 2) / 153;
    const int day = int(doy - (153 * mp + 2) / 5 + 1);
    const int month = int(mp < 10 ? mp + 3 : mp - 9);
    const qint64 year = yoe + era * 400 + (month <= 2 ? 1 : 0);
    if (year < 1000 || year > 9999) { // beyond four digits: as Qt writes it
        const QByteArray q = QDateTime::fromMSecsSinceEpoch(t, Qt::UTC)
                                 .toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzz"))
                                 .toLatin1()
                                 .left(int(sizeof out.text));
        std::memcpy(out.text, q.constData(), size_t(q.size()));
        out.size = int(q.size());
        return out;
    }
    char* p = Digits(out.text, int(year), 4);
    *p++ = '-';
    p = Digits(p, month, 2);
    *p++ = '-';
    p = Digits(p, day, 2);
    *p++ = 'T';
    p = Digits(p, int(inDay / 3'600'000), 2);
    *p++ = ':';
    p = Digits(p, int(inDay / 60'000 % 60), 2);
    *p++ = ':';
    p = Digits(p, int(inDay / 1000 % 60), 2);
    *p++ = '.';
    p = Digits(p, int(inDay % 1000), 3);
    out.size = int(p - out.text);
    return out;
}

// Two hexadecimal digits of a byte, as "%02x" prints them (a BCD byte shows its decimal digits).
char* Hex(char* p, int byte) {
    static const char digits[] = "0123456789abcdef";
    *p++ = digits[(byte >> 4) & 0x0F];
    *p++ = digits[byte & 0x0F];
    return p;
}

// A unit's event time as its record line shows it (UnitTimeText), without a QString.
Scratch UnitText(qint64 key) {
    const UnitTimeFields f = UnitTimeFieldsOf(key);
    Scratch out;
    char* p = out.text;
    *p++ = '2';
    *p++ = '0';
    p = Hex(p, f.year);
    *p++ = '-';
    p = Digits(p, f.month, 2);
    *p++ = '-';
    p = Hex(p, f.day);
    *p++ = 'T';
    p = Hex(p, f.hour);
    *p++ = ':';
    p = Hex(p, f.minute);
    *p++ = ':';
    p = Hex(p, f.second);
    *p++ = '.';
    p = Digits(p, f.ms, f.ms > 999 ? 4 : 3);
    out.size = int(p - out.text);
    return out;
}

// A count.
Scratch Integer(qint64 n) {
    Scratch out;
    char digits[24];
    int size = 0;
    quint64 u = n < 0 ? 0 - quint64(n) : quint64(n);
    do {
        digits[size++] = char('0' + u % 10);
        u /= 10;
    } while (u);
    if (n < 0)
        out.text[out.size++] = '-';
    while (size)
        out.text[out.size++] = digits[--size];
    return out;
}

// Milliseconds with three decimals, as QString::number(ms, 'f', 3) writes them: the exact value
// rounded to the nearest thousandth, a value exactly halfway away from zero, zero without a sign
// and a negative value that rounds to zero with one ("-0.000").
Scratch Ms(double ms) {
    Scratch out;
    const double thousandths = ms * 1000;
    if (!(std::abs(thousandths) < 4e15)) { // beyond exact integers in a double (or no number)
        const QByteArray q = QByteArray::number(ms, 'f', 3).left(int(sizeof out.text));
        std::memcpy(out.text, q.constData(), size_t(q.size()));
        out.size = int(q.size());
        return out;
    }
    // The product rounded, and what the rounding took off: exact, so ties are told exactly.
    const double rest = std::fma(ms, 1000, -thousandths);
    double whole = std::floor(thousandths);
    const double fraction = thousandths - whole;
    if (fraction > 0.5 || (fraction == 0.5 && (rest > 0 || (rest == 0 && thousandths > 0))))
        whole += 1;
    const qint64 q = qint64(whole);
    const quint64 magnitude = q < 0 ? quint64(-q) : quint64(q);
    char* p = out.text;
    if (ms < 0)
        *p++ = '-';
    const Scratch units = Integer(qint64(magnitude / 1000));
    std::memcpy(p, units.text, size_t(units.size));
    p += units.size;
    *p++ = '.';
    p = Digits(p, int(magnitude % 1000), 3);
    out.size = int(p - out.text);
    return out;
}

QString PairText(MatchPair p) {
    return p == MatchPair::Command ? QStringLiteral("command") : QStringLiteral("return");
}

QString ClocksNote() {
    return QStringLiteral("times are unit clocks (no zone); axis times are the local unit's clock");
}

QString AsOfNote(const LinkMatch& m) {
    return m.asOfVisit ? QStringLiteral("made from what the archive held as of visit %1").arg(*m.asOfVisit)
                       : QStringLiteral("made from everything the archive holds");
}

QString StartText(const ClockSegment& s) {
    return s.clockWriteVisit
               ? SegmentStartText(s.start) + QStringLiteral(" (visit %1)").arg(*s.clockWriteVisit)
               : SegmentStartText(s.start);
}

double SegmentEnd(const LinkMatch& m, qsizetype i) {
    return i + 1 < m.segments.size() ? m.segments[i + 1].startLocalMs : m.segments[i].toMs;
}

double SegmentBegin(const ClockSegment& s) {
    return std::isfinite(s.startLocalMs) ? s.startLocalMs : s.fromMs;
}

// --- the rows, described once for both formats ----------------------------------------------------
//
// A row description hands its cells to a sink in CSV column order; each cell names its CSV column
// (kNoColumn: JSON only) and its JSON key (nullptr: CSV only). The CSV sink writes each cell into
// its column and leaves the others empty; the JSON sink makes the cells an object's members, a
// number a JSON number.

constexpr int kColumns = 21;
constexpr int kNoColumn = -1;

char16_t Unit(char c) {
    return char16_t(static_cast<unsigned char>(c));
}
char16_t Unit(QChar c) {
    return c.unicode();
}
char16_t Unit(QLatin1Char c) {
    return c.unicode();
}

class CsvSink {
public:
    explicit CsvSink(QByteArray* out) : m_out(out) {}
    void Text(int column, const char*, const QString& text) {
        if (column != kNoColumn)
            Field(column, QStringView(text));
    }
    void Number(int column, const char*, double ms) {
        if (column != kNoColumn)
            Field(column, Ms(ms).View());
    }
    void Count(int column, const char*, qint64 n) {
        if (column != kNoColumn)
            Field(column, Integer(n).View());
    }
    void Time(int column, const char*, double axisMs) {
        if (column != kNoColumn)
            Field(column, ClockText(axisMs).View());
    }
    void UnitTime(int column, const char*, qint64 key) {
        if (column != kNoColumn)
            Field(column, UnitText(key).View());
    }
    // Ends the row: the columns not given stay empty.
    void End() {
        Skip(kColumns - 1);
        m_out->append("\r\n", 2);
        m_next = 0;
    }

private:
    void Skip(int column) {
        for (; m_next < column; ++m_next)
            m_out->append(',');
    }
    // Plain values as they are; anything a spreadsheet could take for more than a value (a leading
    // sign, a comma, a quote) the way every CSV cell of the logbook is written (CsvField).
    template <class View> static bool Plain(View text) {
        if (text.isEmpty())
            return false;
        const char16_t first = Unit(text.front());
        if (!((first >= '0' && first <= '9') || (first >= 'a' && first <= 'z') ||
              (first >= 'A' && first <= 'Z')))
            return false;
        return std::all_of(text.begin(), text.end(), [](auto c) {
            const char16_t u = Unit(c);
            return u != ',' && u != '"' && u != '\r' && u != '\n' && u < 0x80;
        });
    }
    template <class View> void Field(int column, View text) {
        Skip(column);
        if (Plain(text)) {
            for (auto c : text)
                m_out->append(char(Unit(c)));
        } else if (!text.isEmpty()) {
            m_out->append(CsvField(text.toString()));
        }
    }
    QByteArray* m_out;
    int m_next = 0;
};

class JsonSink {
public:
    void Text(int, const char* key, const QString& text) {
        if (key)
            object.insert(QLatin1StringView(key), text);
    }
    void Number(int, const char* key, double ms) {
        if (key)
            object.insert(QLatin1StringView(key), ms);
    }
    void Count(int, const char* key, qint64 n) {
        if (key)
            object.insert(QLatin1StringView(key), n);
    }
    void Time(int, const char* key, double axisMs) {
        if (key)
            object.insert(QLatin1StringView(key), QString(ClockText(axisMs).View()));
    }
    void UnitTime(int, const char* key, qint64 unitKey) {
        if (key)
            object.insert(QLatin1StringView(key), QString(UnitText(unitKey).View()));
    }
    void End() {}
    QJsonObject object;
};

} // namespace

QString BasisText(OffsetBasis basis) {
    switch (basis) {
    case OffsetBasis::None:
        return QStringLiteral("none");
    case OffsetBasis::BothWays:
        return QStringLiteral("both-ways");
    case OffsetBasis::OneWay:
        return QStringLiteral("one-way");
    case OffsetBasis::Readings:
        return QStringLiteral("readings");
    case OffsetBasis::HandCorrection:
        return QStringLiteral("hand");
    }
    return {};
}

QString SegmentBasisText(SegmentBasis basis) {
    switch (basis) {
    case SegmentBasis::BothWays:
        return QStringLiteral("both-ways");
    case SegmentBasis::OneWay:
        return QStringLiteral("one-way");
    case SegmentBasis::Readings:
        return QStringLiteral("readings");
    case SegmentBasis::Hand:
        return QStringLiteral("hand");
    }
    return {};
}

QString SegmentStartText(SegmentStart start) {
    switch (start) {
    case SegmentStart::FirstTraffic:
        return QStringLiteral("first-traffic");
    case SegmentStart::ClockWrite:
        return QStringLiteral("clock-write");
    case SegmentStart::Step:
        return QStringLiteral("step");
    }
    return {};
}

QString AsymmetryNote() {
    return QStringLiteral("a path slower one way than the other cannot be seen from the two logs: it moves "
                          "the offset by half the difference and the transfers both ways to their mean");
}

namespace {

template <class Sink> void SegmentRow(Sink& out, const LinkMatch& m, qsizetype i) {
    const ClockSegment& s = m.segments[i];
    const double from = SegmentBegin(s);
    out.Text(0, nullptr, QStringLiteral("segment"));
    out.Text(3, nullptr, StartText(s));
    out.Text(kNoColumn, "start", SegmentStartText(s.start));
    if (s.clockWriteVisit)
        out.Count(kNoColumn, "clockWriteVisit", *s.clockWriteVisit);
    out.Time(4, "from", from);
    out.Time(5, "remoteFrom", s.RemoteAt(from));
    out.Time(6, "to", SegmentEnd(m, i));
    if (s.basis == SegmentBasis::BothWays)
        out.Number(7, "fastestTransferMs", s.floorMs);
    if (s.basis == SegmentBasis::OneWay)
        out.Number(8, "apparentDelayMs", s.OffsetAt(from));
    else
        out.Number(9, "offsetMs", s.OffsetAt(from));
    out.Number(10, "rateMsPerDay", s.MsPerDay());
    out.Count(11, nullptr, s.pairs[0] + s.pairs[1]);
    out.Count(kNoColumn, "pairsLocalToRemote", s.pairs[0]);
    out.Count(kNoColumn, "pairsRemoteToLocal", s.pairs[1]);
    out.Text(12, "basis", SegmentBasisText(s.basis));
    out.End();
}

// The figures of a count row, from its "pairs" column on. Matched transfers under the name of what
// they are: transfers, or apparent delays where a segment went one way.
template <class Sink> void CountCells(Sink& out, const CommandMatchCounts& c) {
    out.Count(11, "matched", c.matched);
    if (c.apparent)
        out.Text(12, nullptr, QStringLiteral("apparent delay"));
    out.Count(13, "sent", c.sent);
    out.Count(14, "received", c.received);
    out.Count(15, "lost", c.lost);
    out.Count(16, "unwanted", c.unwanted);
    out.Count(kNoColumn, "sentNotCovered", c.sentNotCovered);
    out.Count(kNoColumn, "receivedNotCovered", c.receivedNotCovered);
    out.Count(17, nullptr, c.sentNotCovered + c.receivedNotCovered);
    if (c.transferMedianMs) {
        out.Number(18, c.apparent ? "apparentDelayMedianMs" : "transferMedianMs", *c.transferMedianMs);
        out.Number(19, c.apparent ? "apparentDelayP95Ms" : "transferP95Ms", *c.transferP95Ms);
        out.Number(20, c.apparent ? "apparentDelayMaxMs" : "transferMaxMs", *c.transferMaxMs);
    }
    out.End();
}

template <class Sink> void CountRow(Sink& out, const LinkMatch& m, int p, int dir, int k) {
    out.Text(0, nullptr, QStringLiteral("count"));
    out.Count(1, "command", k + 1);
    out.Text(2, "direction",
             DirectionText(dir == 0 ? LinkDirection::LocalToRemote : LinkDirection::RemoteToLocal));
    out.Text(3, "pair", PairText(p == 0 ? MatchPair::Command : MatchPair::Return));
    CountCells(out, m.counts[size_t(p)][size_t(dir)][size_t(k)]);
}

template <class Sink> void MatchRow(Sink& out, const LinkMatch& m, const CommandMatch& c) {
    const bool l2r = c.direction == LinkDirection::LocalToRemote;
    out.Text(0, nullptr, QStringLiteral("match"));
    out.Count(1, "command", c.command);
    out.Text(2, "direction", DirectionText(c.direction));
    out.Text(3, "pair", PairText(c.pair));
    out.UnitTime(4, nullptr, (l2r ? c.sent : c.received).unitTime);
    out.UnitTime(5, nullptr, (l2r ? c.received : c.sent).unitTime);
    out.UnitTime(kNoColumn, "sent", c.sent.unitTime);
    out.UnitTime(kNoColumn, "received", c.received.unitTime);
    out.Time(6, "axisTime", c.sentAxisMs);
    if (c.transferMs) {
        out.Number(7, "transferMs", *c.transferMs);
        out.Number(9, nullptr, OffsetAt(m, c.sentAxisMs));
    } else {
        out.Number(8, "apparentDelayMs", c.apparentMs);
    }
    out.End();
}

template <class Sink> void UnmatchedRow(Sink& out, const QString& kind, const UnmatchedEvent& u) {
    out.Text(0, nullptr, kind);
    out.Count(1, "command", u.command);
    out.Text(2, "direction", DirectionText(u.direction));
    out.Text(3, "pair", PairText(u.pair));
    out.Text(kNoColumn, "end", SideText(u.end));
    out.UnitTime(u.end == UnitSide::Local ? 4 : 5, "time", u.event.unitTime);
    out.Time(6, "axisTime", u.axisMs);
    out.End();
}

// The lists of events left over, under their names in CSV and in JSON.
struct LeftOver {
    const QList<UnmatchedEvent>& list;
    QString csvKind;
    QLatin1StringView jsonKey;
};
std::array<LeftOver, 3> LeftOvers(const LinkMatch& m) {
    return {{{m.lost, QStringLiteral("lost"), QLatin1StringView("lost")},
             {m.unwanted, QStringLiteral("unwanted"), QLatin1StringView("unwanted")},
             {m.notCovered, QStringLiteral("not covered"), QLatin1StringView("notCovered")}}};
}

template <class Row> QJsonObject JsonOf(Row row) {
    JsonSink sink;
    row(sink);
    return sink.object;
}

} // namespace

QByteArray MatchCsv(const LinkMatch& match, const LinkEnds& ends) {
    Q_UNUSED(ends);
    QByteArray out =
        "kind,command,direction,pair,local clock,remote clock,axis time,transfer ms,apparent delay "
        "ms,offset ms,rate ms/day,pairs,basis,sent,received,lost,unwanted,not covered,median ms,p95 "
        "ms,max ms\r\n";
    // A match row takes about a hundred bytes.
    out.reserve(out.size() + 128 * (match.matches.size() + match.lost.size() + match.unwanted.size() +
                                    match.notCovered.size() + 64));
    CsvSink csv(&out);
    for (const QString& note : {ClocksNote(), AsymmetryNote(), AsOfNote(match),
                                QStringLiteral("basis: ") + BasisText(match.basis)}) {
        csv.Text(0, nullptr, QStringLiteral("note"));
        csv.Text(12, nullptr, note);
        csv.End();
    }
    for (qsizetype i = 0; i < match.segments.size(); ++i)
        SegmentRow(csv, match, i);
    for (int p = 0; p < 2; ++p)
        for (int dir = 0; dir < 2; ++dir)
            for (int k = 0; k < 8; ++k) {
                const CommandMatchCounts& c = match.counts[size_t(p)][size_t(dir)][size_t(k)];
                if (c.sent || c.received || c.sentNotCovered || c.receivedNotCovered)
                    CountRow(csv, match, p, dir, k);
            }
    for (const CommandMatch& c : match.matches)
        MatchRow(csv, match, c);
    for (const LeftOver& l : LeftOvers(match))
        for (const UnmatchedEvent& u : l.list)
            UnmatchedRow(csv, l.csvKind, u);
    return out;
}

QByteArray MatchJson(const LinkMatch& match, const LinkEnds& ends) {
    QJsonObject o;
    o.insert(QStringLiteral("local"), UnitLabel(ends.local));
    o.insert(QStringLiteral("remote"), UnitLabel(ends.remote));
    o.insert(QStringLiteral("clocks"), ClocksNote());
    o.insert(QStringLiteral("asymmetry"), AsymmetryNote());
    if (match.asOfVisit)
        o.insert(QStringLiteral("asOfVisit"), *match.asOfVisit);
    o.insert(QStringLiteral("basis"), BasisText(match.basis));
    o.insert(QStringLiteral("split"), match.split);
    if (match.basis == OffsetBasis::OneWay) {
        o.insert(QStringLiteral("apparentDelayMs"), match.offsetMs);
    } else if (match.basis != OffsetBasis::None) {
        o.insert(QStringLiteral("offsetMs"), match.offsetMs);
        o.insert(QStringLiteral("transferMs"), match.transferMs);
    }
    QJsonArray segments;
    for (qsizetype i = 0; i < match.segments.size(); ++i)
        segments.append(JsonOf([&](JsonSink& s) { SegmentRow(s, match, i); }));
    o.insert(QStringLiteral("segments"), segments);
    QJsonArray counts;
    for (int k = 0; k < 8; ++k)
        counts.append(JsonOf([&](JsonSink& s) {
            s.Count(1, "command", k + 1);
            CountCells(s, match.perCommand[size_t(k)]);
        }));
    o.insert(QStringLiteral("counts"), counts);
    QJsonArray perDirection;
    for (int p = 0; p < 2; ++p)
        for (int dir = 0; dir < 2; ++dir)
            for (int k = 0; k < 8; ++k)
                perDirection.append(JsonOf([&](JsonSink& s) { CountRow(s, match, p, dir, k); }));
    o.insert(QStringLiteral("perDirection"), perDirection);
    QJsonArray matches;
    for (const CommandMatch& c : match.matches)
        matches.append(JsonOf([&](JsonSink& s) { MatchRow(s, match, c); }));
    o.insert(QStringLiteral("matches"), matches);
    for (const LeftOver& l : LeftOvers(match)) {
        QJsonArray list;
        for (const UnmatchedEvent& u : l.list)
            list.append(JsonOf([&](JsonSink& s) { UnmatchedRow(s, l.csvKind, u); }));
        o.insert(l.jsonKey, list);
    }
    QJsonObject cc{{QStringLiteral("available"), match.crossCheck.available}};
    if (match.crossCheck.available) {
        cc.insert(QStringLiteral("visit"), match.crossCheck.visitId);
        cc.insert(QStringLiteral("readingOffsetMs"), match.crossCheck.readingOffsetMs);
        cc.insert(QStringLiteral("estimateOffsetMs"), match.crossCheck.estimateOffsetMs);
        cc.insert(QStringLiteral("differenceMs"), match.crossCheck.differenceMs);
        cc.insert(QStringLiteral("agrees"), match.crossCheck.agrees);
    }
    o.insert(QStringLiteral("crossCheck"), cc);
    return QJsonDocument(o).toJson(QJsonDocument::Compact) + '\n';
}

#include "archive/MatchOutput.h"

#include "archive/ArchiveFormat.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>

namespace {

QString ClockText(double ms) {
    if (!std::isfinite(ms))
        return {};
    return QDateTime::fromMSecsSinceEpoch(qint64(std::llround(ms)), Qt::UTC)
        .toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzz"));
}

QString Ms(double ms) {
    return QString::number(ms, 'f', 3);
}

QString OptMs(const std::optional<double>& ms) {
    return ms ? Ms(*ms) : QString();
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

QByteArray MatchCsv(const LinkMatch& match, const LinkEnds& ends) {
    Q_UNUSED(ends);
    QByteArray out =
        "kind,command,direction,pair,local clock,remote clock,axis time,transfer ms,apparent delay "
        "ms,offset ms,rate ms/day,pairs,basis,sent,received,lost,unwanted,not covered,median ms,p95 "
        "ms,max ms\r\n";
    constexpr int kColumns = 21;
    const auto row = [&out](QStringList fields) {
        while (fields.size() < kColumns)
            fields << QString();
        QByteArray line;
        for (qsizetype i = 0; i < fields.size(); ++i) {
            if (i)
                line += ',';
            line += CsvField(fields[i]);
        }
        out += line + "\r\n";
    };
    const auto note = [&row](const QString& text) {
        row({QStringLiteral("note"), {}, {}, {}, {}, {}, {}, {}, {}, {}, {}, {}, text});
    };
    note(ClocksNote());
    note(AsymmetryNote());
    note(AsOfNote(match));
    note(QStringLiteral("basis: ") + BasisText(match.basis));
    for (qsizetype i = 0; i < match.segments.size(); ++i) {
        const ClockSegment& s = match.segments[i];
        const double from = SegmentBegin(s);
        row({QStringLiteral("segment"),
             {},
             {},
             StartText(s),
             ClockText(from),
             ClockText(s.RemoteAt(from)),
             ClockText(SegmentEnd(match, i)),
             s.basis == SegmentBasis::BothWays ? Ms(s.floorMs) : QString(),
             s.basis == SegmentBasis::OneWay ? Ms(s.OffsetAt(from)) : QString(),
             s.basis == SegmentBasis::OneWay ? QString() : Ms(s.OffsetAt(from)),
             Ms(s.MsPerDay()),
             QString::number(s.pairs[0] + s.pairs[1]),
             SegmentBasisText(s.basis)});
    }
    for (int p = 0; p < 2; ++p)
        for (int dir = 0; dir < 2; ++dir)
            for (int k = 0; k < 8; ++k) {
                const CommandMatchCounts& c = match.counts[size_t(p)][size_t(dir)][size_t(k)];
                if (!c.sent && !c.received && !c.sentNotCovered && !c.receivedNotCovered)
                    continue;
                row({QStringLiteral("count"),
                     QString::number(k + 1),
                     DirectionText(dir == 0 ? LinkDirection::LocalToRemote : LinkDirection::RemoteToLocal),
                     PairText(p == 0 ? MatchPair::Command : MatchPair::Return),
                     {},
                     {},
                     {},
                     {},
                     {},
                     {},
                     {},
                     QString::number(c.matched),
                     c.apparent ? QStringLiteral("apparent delay") : QString(),
                     QString::number(c.sent),
                     QString::number(c.received),
                     QString::number(c.lost),
                     QString::number(c.unwanted),
                     QString::number(c.sentNotCovered + c.receivedNotCovered),
                     OptMs(c.transferMedianMs),
                     OptMs(c.transferP95Ms),
                     OptMs(c.transferMaxMs)});
            }
    for (const CommandMatch& c : match.matches) {
        const bool l2r = c.direction == LinkDirection::LocalToRemote;
        const EventRow& local = l2r ? c.sent : c.received;
        const EventRow& remote = l2r ? c.received : c.sent;
        row({QStringLiteral("match"), QString::number(c.command), DirectionText(c.direction),
             PairText(c.pair), UnitTimeText(local.unitTime), UnitTimeText(remote.unitTime),
             ClockText(c.sentAxisMs), OptMs(c.transferMs), c.transferMs ? QString() : Ms(c.apparentMs),
             c.transferMs ? Ms(OffsetAt(match, c.sentAxisMs)) : QString()});
    }
    const QList<UnmatchedEvent>* lists[3] = {&match.lost, &match.unwanted, &match.notCovered};
    const QString kinds[3] = {QStringLiteral("lost"), QStringLiteral("unwanted"),
                              QStringLiteral("not covered")};
    for (int l = 0; l < 3; ++l)
        for (const UnmatchedEvent& u : *lists[l]) {
            const QString time = UnitTimeText(u.event.unitTime);
            row({kinds[l], QString::number(u.command), DirectionText(u.direction), PairText(u.pair),
                 u.end == UnitSide::Local ? time : QString(), u.end == UnitSide::Remote ? time : QString(),
                 ClockText(u.axisMs)});
        }
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
    for (qsizetype i = 0; i < match.segments.size(); ++i) {
        const ClockSegment& s = match.segments[i];
        const double from = SegmentBegin(s);
        QJsonObject so{{QStringLiteral("from"), ClockText(from)},
                       {QStringLiteral("to"), ClockText(SegmentEnd(match, i))},
                       {QStringLiteral("remoteFrom"), ClockText(s.RemoteAt(from))},
                       {QStringLiteral("rateMsPerDay"), s.MsPerDay()},
                       {QStringLiteral("pairsLocalToRemote"), s.pairs[0]},
                       {QStringLiteral("pairsRemoteToLocal"), s.pairs[1]},
                       {QStringLiteral("basis"), SegmentBasisText(s.basis)},
                       {QStringLiteral("start"), SegmentStartText(s.start)}};
        if (s.clockWriteVisit)
            so.insert(QStringLiteral("clockWriteVisit"), *s.clockWriteVisit);
        if (s.basis == SegmentBasis::OneWay) {
            so.insert(QStringLiteral("apparentDelayMs"), s.OffsetAt(from));
        } else {
            so.insert(QStringLiteral("offsetMs"), s.OffsetAt(from));
            if (s.basis == SegmentBasis::BothWays)
                so.insert(QStringLiteral("fastestTransferMs"), s.floorMs);
        }
        segments.append(so);
    }
    o.insert(QStringLiteral("segments"), segments);
    const auto countsOf = [](const CommandMatchCounts& c, QJsonObject co) {
        co.insert(QStringLiteral("sent"), c.sent);
        co.insert(QStringLiteral("received"), c.received);
        co.insert(QStringLiteral("matched"), c.matched);
        co.insert(QStringLiteral("lost"), c.lost);
        co.insert(QStringLiteral("unwanted"), c.unwanted);
        co.insert(QStringLiteral("sentNotCovered"), c.sentNotCovered);
        co.insert(QStringLiteral("receivedNotCovered"), c.receivedNotCovered);
        if (c.transferMedianMs) {
            const QString prefix = c.apparent ? QStringLiteral("apparentDelay") : QStringLiteral("transfer");
            co.insert(prefix + QStringLiteral("MedianMs"), *c.transferMedianMs);
            co.insert(prefix + QStringLiteral("P95Ms"), *c.transferP95Ms);
            co.insert(prefix + QStringLiteral("MaxMs"), *c.transferMaxMs);
        }
        return co;
    };
    QJsonArray counts;
    for (int k = 0; k < 8; ++k)
        counts.append(countsOf(match.perCommand[size_t(k)], {{QStringLiteral("command"), k + 1}}));
    o.insert(QStringLiteral("counts"), counts);
    QJsonArray perDirection;
    for (int p = 0; p < 2; ++p)
        for (int dir = 0; dir < 2; ++dir)
            for (int k = 0; k < 8; ++k)
                perDirection.append(countsOf(
                    match.counts[size_t(p)][size_t(dir)][size_t(k)],
                    {{QStringLiteral("command"), k + 1},
                     {QStringLiteral("direction"),
                      DirectionText(dir == 0 ? LinkDirection::LocalToRemote : LinkDirection::RemoteToLocal)},
                     {QStringLiteral("pair"), PairText(p == 0 ? MatchPair::Command : MatchPair::Return)}}));
    o.insert(QStringLiteral("perDirection"), perDirection);
    QJsonArray matches;
    for (const CommandMatch& c : match.matches) {
        QJsonObject mo{{QStringLiteral("command"), c.command},
                       {QStringLiteral("direction"), DirectionText(c.direction)},
                       {QStringLiteral("pair"), PairText(c.pair)},
                       {QStringLiteral("sent"), UnitTimeText(c.sent.unitTime)},
                       {QStringLiteral("received"), UnitTimeText(c.received.unitTime)},
                       {QStringLiteral("axisTime"), ClockText(c.sentAxisMs)}};
        if (c.transferMs)
            mo.insert(QStringLiteral("transferMs"), *c.transferMs);
        else
            mo.insert(QStringLiteral("apparentDelayMs"), c.apparentMs);
        matches.append(mo);
    }
    o.insert(QStringLiteral("matches"), matches);
    const QList<UnmatchedEvent>* lists[3] = {&match.lost, &match.unwanted, &match.notCovered};
    const QString names[3] = {QStringLiteral("lost"), QStringLiteral("unwanted"),
                              QStringLiteral("notCovered")};
    for (int l = 0; l < 3; ++l) {
        QJsonArray list;
        for (const UnmatchedEvent& u : *lists[l])
            list.append(QJsonObject{{QStringLiteral("command"), u.command},
                                    {QStringLiteral("direction"), DirectionText(u.direction)},
                                    {QStringLiteral("pair"), PairText(u.pair)},
                                    {QStringLiteral("end"), SideText(u.end)},
                                    {QStringLiteral("time"), UnitTimeText(u.event.unitTime)},
                                    {QStringLiteral("axisTime"), ClockText(u.axisMs)}});
        o.insert(names[l], list);
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

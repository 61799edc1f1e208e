#include "logbook/LinkData.h"

#include "archive/Archive.h"
#include "logbook/LogbookLanguage.h"
#include "logbook/LogbookSources.h"

#include <QHash>

#include <algorithm>
#include <cmath>
#include <numeric>

namespace {

bool openReadOnly(Archive& archive, const QString& path, QString* error) {
    if (archive.Open(path, Archive::Mode::ReadOnly))
        return true;
    *error = archive.LastError();
    return false;
}

// "+2.314 s", "-0.250 s", "+1 h 02 min" for an offset.
QString offsetText(double ms) {
    const QString sign = ms < 0 ? QStringLiteral("-") : QStringLiteral("+");
    const double a = std::abs(ms);
    if (a < 60000)
        return sign + QString::number(a / 1000, 'f', 3) + QStringLiteral(" s");
    return sign + DurationText(qint64(std::llround(a)));
}

std::optional<double> percentile(QList<double> v, double p) {
    if (v.isEmpty())
        return std::nullopt;
    std::sort(v.begin(), v.end());
    // The nearest rank: the smallest value with at least p of them at or below it.
    const qsizetype rank = std::clamp<qsizetype>(qsizetype(std::ceil(p * double(v.size()))), 1, v.size());
    return v[rank - 1];
}

} // namespace

QString LinkEndTitle(const UnitRow& unit, UnitSide side, Lang lang) {
    return (side == UnitSide::Local ? LbText(lang, "Local: %1", "本地：%1")
                                    : LbText(lang, "Remote: %1", "对端：%1"))
        .arg(UnitLabelText(unit, lang));
}

LinkPictureData LinkPictureOf(const LinkEvents& events, const LinkMatch& match, const LinkEnds& ends,
                              Lang lang) {
    LinkPictureData d;
    d.titles = {LinkEndTitle(ends.local, UnitSide::Local, lang),
                LinkEndTitle(ends.remote, UnitSide::Remote, lang)};
    const QList<EventRow>* source[2] = {&events.local, &events.remote};
    for (int l = 0; l < 2; ++l) {
        const UnitSide end = l == 0 ? UnitSide::Local : UnitSide::Remote;
        QList<LinkMark>& lane = d.lanes[l];
        lane.reserve(source[l]->size());
        for (int i = 0; i < source[l]->size(); ++i) {
            const EventRow& e = source[l]->at(i);
            if (const std::optional<double> t = AxisMs(match, e, end)) {
                LinkMark m;
                m.t = *t;
                m.code = e.code;
                m.source = i;
                lane << m;
            }
        }
        std::stable_sort(lane.begin(), lane.end(),
                         [](const LinkMark& a, const LinkMark& b) { return a.t < b.t; });
    }
    // Events by their row id, to find them on their lane.
    QHash<qint64, int> at[2];
    for (int l = 0; l < 2; ++l) {
        at[l].reserve(d.lanes[l].size());
        for (int i = 0; i < d.lanes[l].size(); ++i)
            at[l].insert(source[l]->at(d.lanes[l][i].source).id, i);
    }
    for (const CommandMatch& m : match.matches) {
        const int from = m.direction == LinkDirection::LocalToRemote ? 0 : 1;
        const int a = at[from].value(m.sent.id, -1), b = at[1 - from].value(m.received.id, -1);
        if (a < 0 || b < 0)
            continue;
        d.lanes[from][a].pair = b;
        d.lanes[1 - from][b].pair = a;
    }
    for (const UnmatchedEvent& u : match.lost)
        if (const int l = u.end == UnitSide::Local ? 0 : 1, i = at[l].value(u.event.id, -1); i >= 0)
            d.lanes[l][i].lost = true;
    for (const UnmatchedEvent& u : match.unwanted)
        if (const int l = u.end == UnitSide::Local ? 0 : 1, i = at[l].value(u.event.id, -1); i >= 0)
            d.lanes[l][i].unwanted = true;
    for (const IncidentBand& b : match.bands) {
        if (b.kind == IncidentKind::ReceiveAlarm)
            continue;
        const int l = b.end == UnitSide::Local ? 0 : 1;
        LinkBand band;
        band.from = b.startAxisMs;
        band.fibreB = b.kind == IncidentKind::FibreB;
        band.openEnd = !b.endAxisMs;
        band.to = b.endAxisMs ? *b.endAxisMs : d.lanes[l].isEmpty() ? b.startAxisMs : d.lanes[l].last().t;
        band.to = std::max(band.to, band.from);
        d.bands[l] << band;
    }
    d.opening = NewestVisitSpan(events, d);
    return d;
}

std::optional<std::pair<double, double>> NewestVisitSpan(const LinkEvents& events,
                                                         const LinkPictureData& picture) {
    const QList<EventRow>* source[2] = {&events.local, &events.remote};
    qint64 newest = 0;
    for (int l = 0; l < 2; ++l)
        for (const LinkMark& m : picture.lanes[l])
            newest = std::max(newest, source[l]->at(m.source).visitId);
    if (newest == 0)
        return std::nullopt;
    std::optional<std::pair<double, double>> span;
    for (int l = 0; l < 2; ++l)
        for (const LinkMark& m : picture.lanes[l])
            if (source[l]->at(m.source).visitId == newest)
                span = span ? std::pair{std::min(span->first, m.t), std::max(span->second, m.t)}
                            : std::pair{m.t, m.t};
    return span;
}

LinkResult LoadLink(const QString& path, std::optional<qint64> visitId, qint64 localUnitId,
                    qint64 remoteUnitId, const MatchOptions& options, Lang lang) {
    LinkResult r;
    Archive archive;
    if (!openReadOnly(archive, path, &r.error))
        return r;
    const bool found = visitId ? LinkOfVisit(archive, *visitId, &r.ends, &r.error)
                               : LinkOfUnits(archive, QStringLiteral("#%1").arg(localUnitId),
                                             QStringLiteral("#%1").arg(remoteUnitId), &r.ends, &r.error);
    if (!found)
        return r;
    auto events = std::make_shared<LinkEvents>();
    // A visit's link is matched on what the archive held as of that visit, so that it reads the
    // same whenever it is shown.
    if (!ReadLinkEvents(archive, r.ends, events.get(), &r.error, visitId))
        return r;
    r.events = events;
    r.match = MatchLink(*events, options);
    r.picture = LinkPictureOf(*events, r.match, r.ends, lang);
    return r;
}

LinkResult RematchLink(const LinkResult& before, const MatchOptions& options, Lang lang) {
    LinkResult r;
    r.ends = before.ends;
    r.events = before.events;
    r.error = before.error;
    if (!r.events)
        return r;
    r.match = MatchLink(*r.events, options);
    r.picture = LinkPictureOf(*r.events, r.match, r.ends, lang);
    return r;
}

QString TransferCellText(const std::optional<double>& ms) {
    return ms ? QString::number(*ms, 'f', 1) + QStringLiteral(" ms") : QStringLiteral("-");
}

QStringList CommandCountHeaders(Lang lang) {
    return {LbText(lang, "Command", "命令"),
            LbText(lang, "Direction", "方向"),
            LbText(lang, "Sent", "发送"),
            LbText(lang, "Received", "接收"),
            LbText(lang, "Lost", "丢失"),
            LbText(lang, "Unwanted", "误收"),
            LbText(lang, "Not covered", "对端记录未覆盖"),
            LbText(lang, "Transfer median", "传输时间中位数"),
            LbText(lang, "95th percentile", "95%分位"),
            LbText(lang, "Maximum", "最大值")};
}

namespace {

QString directionCell(int dir, Lang lang) {
    return dir == 0 ? LbText(lang, "local → remote", "本地 → 对端")
                    : LbText(lang, "remote → local", "对端 → 本地");
}

// A transfer cell; an apparent delay (one-way segment) says so.
QString timeCell(const std::optional<double>& ms, bool apparent, Lang lang) {
    if (!ms)
        return QStringLiteral("-");
    return apparent ? LbText(lang, "%1 (apparent delay)", "%1（表观延时）").arg(TransferCellText(ms))
                    : TransferCellText(ms);
}

QStringList countRow(const QString& name, const QString& direction, const CommandMatchCounts& c, Lang lang) {
    return {name,
            direction,
            QString::number(c.sent),
            QString::number(c.received),
            QString::number(c.lost),
            QString::number(c.unwanted),
            QString::number(c.sentNotCovered + c.receivedNotCovered),
            timeCell(c.transferMedianMs, c.apparent, lang),
            timeCell(c.transferP95Ms, c.apparent, lang),
            timeCell(c.transferMaxMs, c.apparent, lang)};
}

} // namespace

QList<QStringList> CommandCountRows(const LinkMatch& match, Lang lang) {
    QList<QStringList> rows;
    for (int k = 0; k < 8; ++k)
        for (int dir = 0; dir < 2; ++dir) {
            const CommandMatchCounts& c = match.counts[0][size_t(dir)][size_t(k)];
            if (c.sent || c.received || c.sentNotCovered || c.receivedNotCovered)
                rows << countRow(QString::number(k + 1), directionCell(dir, lang), c, lang);
        }
    // The commands together, then the returns together, each under its own name.
    for (int p = 0; p < 2; ++p) {
        CommandMatchCounts total;
        QList<double> times;
        for (const CommandMatch& m : match.matches)
            if ((m.pair == MatchPair::Command) == (p == 0)) {
                times << m.transferMs.value_or(m.apparentMs);
                total.apparent |= !m.transferMs;
            }
        for (int dir = 0; dir < 2; ++dir)
            for (const CommandMatchCounts& c : match.counts[size_t(p)][size_t(dir)]) {
                total.sent += c.sent;
                total.received += c.received;
                total.lost += c.lost;
                total.unwanted += c.unwanted;
                total.sentNotCovered += c.sentNotCovered;
                total.receivedNotCovered += c.receivedNotCovered;
            }
        total.transferMedianMs = percentile(times, 0.5);
        total.transferP95Ms = percentile(times, 0.95);
        total.transferMaxMs = percentile(times, 1.0);
        // "All" as the commands' column has it; the returns under their own name.
        rows << countRow(p == 0 ? LbText(lang, "All", "命令合计") : LbText(lang, "Returns", "返回合计"),
                         LbText(lang, "both", "双向"), total, lang);
    }
    return rows;
}

QString OffsetStatement(const LinkMatch& match, Lang lang) {
    QString text;
    switch (match.basis) {
    case OffsetBasis::None:
        text = LbText(
            lang, "No command travelled between the two units: the offset between their clocks is not known.",
            "两台装置之间没有传送过命令：无法得知两者时钟之差。");
        break;
    case OffsetBasis::BothWays:
        text =
            LbText(
                lang,
                "Remote clock minus local clock: %1, from commands both ways; typical transfer time %2 ms.",
                "对端时钟减本地时钟：%1（由双向命令求得）；典型传输时间 %2 ms。")
                .arg(offsetText(match.offsetMs), QString::number(match.transferMs, 'f', 1));
        break;
    case OffsetBasis::OneWay:
        text =
            LbText(lang,
                   "Commands went one way only: the apparent delay is %1, offset and transfer time cannot be "
                   "told apart.",
                   "命令只有单向传送：表观延时为 %1，无法区分时钟之差与传输时间。")
                .arg(offsetText(match.offsetMs));
        break;
    case OffsetBasis::Readings:
        text = LbText(lang, "No command matched: remote clock minus local clock is %1 by the clock readings.",
                      "没有匹配的命令：按时钟读数，对端时钟减本地时钟为 %1。")
                   .arg(offsetText(match.offsetMs));
        break;
    case OffsetBasis::HandCorrection:
        text = LbText(lang, "Remote clock minus local clock: %1, as corrected by hand.",
                      "对端时钟减本地时钟：%1（手动修正）。")
                   .arg(offsetText(match.offsetMs));
        break;
    }
    // Each stretch between clock sets, when there is more than one or the clocks drift.
    const bool detail = match.segments.size() > 1 ||
                        (match.segments.size() == 1 && std::abs(match.segments.first().MsPerDay()) >= 0.05);
    if (detail)
        for (const ClockSegment& s : match.segments) {
            const double from = std::isfinite(s.startLocalMs) ? s.startLocalMs : s.fromMs;
            QString start;
            if (s.start == SegmentStart::ClockWrite)
                start = LbText(lang, " after the clock set of visit #%1", "（访问 #%1 校时之后）")
                            .arg(*s.clockWriteVisit);
            else if (s.start == SegmentStart::Step)
                start = LbText(lang, " after a step no archived clock set explains",
                               "（记录中无校时可解释的跳变之后）");
            const QString what = s.basis == SegmentBasis::OneWay
                                     ? LbText(lang, "apparent delay %1 (one way)", "表观延时 %1（单向）")
                                     : LbText(lang, "offset %1", "时钟之差 %1");
            text += QLatin1Char(' ') +
                    LbText(lang, "From %1 (local clock)%2: %3, drifting %4 ms a day, carried by %5 pairs.",
                           "自 %1（本地时钟）%2：%3，每天漂移 %4 ms，依据 %5 对命令。")
                        .arg(UnitClockText(from), start, what.arg(offsetText(s.OffsetAt(from))),
                             QString::number(s.MsPerDay(), 'f', 1), QString::number(s.pairs[0] + s.pairs[1]));
        }
    if (match.basis == OffsetBasis::BothWays)
        text +=
            QLatin1Char(' ') + LbText(lang,
                                      "A path slower one way than the other cannot be seen: it would shift "
                                      "the offset by half the difference.",
                                      "无法看出两个方向路径的不对称：它会使时钟之差偏移差值的一半。");
    const ClockCrossCheck& c = match.crossCheck;
    if (c.available)
        text += ' ' + (c.agrees ? LbText(lang, "The clock readings of visit #%1 agree (%2).",
                                         "访问 #%1 的时钟读数与之相符（%2）。")
                                      .arg(c.visitId)
                                      .arg(offsetText(c.readingOffsetMs))
                                : LbText(lang, "The clock readings of visit #%1 say %2, %3 apart.",
                                         "访问 #%1 的时钟读数为 %2，相差 %3。")
                                      .arg(c.visitId)
                                      .arg(offsetText(c.readingOffsetMs), offsetText(c.differenceMs)));
    return text;
}

QString ChosenMarkText(const LinkResult& link, const LinkMarkRef& mark, Lang lang) {
    if (!link.events || mark.lane < 0 || mark.lane > 1 || mark.index < 0 ||
        mark.index >= link.picture.lanes[mark.lane].size())
        return {};
    auto lineOf = [&](int lane, int index) {
        const LinkMark& m = link.picture.lanes[lane][index];
        const QList<EventRow>& events = lane == 0 ? link.events->local : link.events->remote;
        // Numbered as a read of the whole log would number it: the newest 1, the oldest N.
        const int number = int(events.size()) - m.source;
        return link.picture.titles[lane] + QStringLiteral("    ") +
               EventRecordLine(events[m.source], number, lang);
    };
    const LinkMark& m = link.picture.lanes[mark.lane][mark.index];
    QStringList lines{lineOf(mark.lane, mark.index)};
    if (m.pair >= 0) {
        lines << lineOf(1 - mark.lane, m.pair);
        const QList<EventRow>& events = mark.lane == 0 ? link.events->local : link.events->remote;
        const qint64 id = events[m.source].id;
        for (const CommandMatch& c : link.match.matches)
            if (c.sent.id == id || c.received.id == id) {
                lines << (c.transferMs
                              ? LbText(lang, "Transfer time: %1 ms.", "传输时间：%1 ms。")
                                    .arg(QString::number(*c.transferMs, 'f', 1))
                              : LbText(lang, "Apparent delay (offset and transfer not told apart): %1 ms.",
                                       "表观延时（未能区分时钟之差与传输时间）：%1 ms。")
                                    .arg(QString::number(c.apparentMs, 'f', 1)));
                break;
            }
    } else if (m.lost) {
        lines << (mark.lane == 0
                      ? LbText(lang, "Lost: the remote unit never received it.", "丢失：对端装置没有收到。")
                      : LbText(lang, "Lost: the local unit never received it.", "丢失：本地装置没有收到。"));
    } else if (m.unwanted) {
        lines << (mark.lane == 0
                      ? LbText(lang, "Unwanted: the remote unit never sent it.", "误收：对端装置没有发出。")
                      : LbText(lang, "Unwanted: the local unit never sent it.", "误收：本地装置没有发出。"));
    } else {
        const qint64 id = (mark.lane == 0 ? link.events->local : link.events->remote)[m.source].id;
        for (const UnmatchedEvent& u : link.match.notCovered)
            if (u.event.id == id && u.end == (mark.lane == 0 ? UnitSide::Local : UnitSide::Remote)) {
                lines << (mark.lane == 0
                              ? LbText(lang, "Not covered: the remote unit's log does not reach this moment.",
                                       "不在对端记录范围内：对端装置的记录不包括此时刻。")
                              : LbText(lang, "Not covered: the local unit's log does not reach this moment.",
                                       "不在对端记录范围内：本地装置的记录不包括此时刻。"));
                break;
            }
    }
    return lines.join('\n');
}

QStringList LinkProblemHeaders(Lang lang) {
    return {LbText(lang, "Local unit's clock", "本地装置时钟"), LbText(lang, "Command", "命令"),
            LbText(lang, "Direction", "方向"), LbText(lang, "What", "类别")};
}

QList<LinkProblem> LinkProblems(const LinkResult& link, Lang lang) {
    QList<LinkProblem> problems;
    if (!link.events)
        return problems;
    const QList<EventRow>* source[2] = {&link.events->local, &link.events->remote};
    // Its mark: by bisection near its moment (the list is made on the UI thread, and a lane may
    // hold a million marks), else by the lane's marks by event id, gathered at the first miss.
    std::optional<QHash<qint64, int>> byId[2];
    auto markOf = [&](int lane, const UnmatchedEvent& u) {
        const QList<LinkMark>& marks = link.picture.lanes[lane];
        const auto [i0, i1] = MarksWithin(marks, u.axisMs - 1, u.axisMs + 1);
        for (int i = i0; i < i1; ++i)
            if (source[lane]->at(marks[i].source).id == u.event.id)
                return i;
        if (!byId[lane]) {
            byId[lane].emplace();
            for (int i = 0; i < marks.size(); ++i)
                byId[lane]->insert(source[lane]->at(marks[i].source).id, i);
        }
        return byId[lane]->value(u.event.id, -1);
    };
    QList<double> times;
    auto add = [&](const QList<UnmatchedEvent>& list, const QString& what) {
        for (const UnmatchedEvent& u : list) {
            const int lane = u.end == UnitSide::Local ? 0 : 1;
            const int index = markOf(lane, u);
            if (index < 0)
                continue; // placed nowhere: its time is no valid date and time
            problems << LinkProblem{
                {lane, index},
                {UnitClockText(u.axisMs),
                 u.pair == MatchPair::Command ? QString::number(u.command)
                                              : LbText(lang, "%1 return", "%1 返回").arg(u.command),
                 directionCell(u.direction == LinkDirection::LocalToRemote ? 0 : 1, lang), what}};
            times << u.axisMs;
        }
    };
    add(link.match.lost, LbText(lang, "lost", "丢失"));
    add(link.match.unwanted, LbText(lang, "unwanted", "误收"));
    add(link.match.notCovered, LbText(lang, "not covered by the other log", "不在对端记录范围内"));
    QList<int> order(problems.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) { return times[a] < times[b]; });
    QList<LinkProblem> sorted;
    sorted.reserve(problems.size());
    for (int i : order)
        sorted << problems[i];
    return sorted;
}

LinkChoices LoadLinkChoices(const QString& path, int limit, QString* error) {
    LinkChoices c;
    Archive archive;
    if (!openReadOnly(archive, path, error))
        return c;
    c.units = archive.Units();
    for (const VisitRow& v : archive.Visits(0, limit)) {
        if (v.recordReads == 0 && v.configReads == 0)
            continue;
        LinkEnds ends;
        QString why;
        if (!LinkOfVisit(archive, v.id, &ends, &why))
            continue;
        c.visits << v;
        c.visitEnds << ends;
    }
    if (!archive.LastError().isEmpty())
        *error = archive.LastError();
    return c;
}

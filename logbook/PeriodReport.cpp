#include "logbook/PeriodReport.h"

#include "archive/Archive.h"
#include "archive/MatchStats.h"
#include "logbook/ConfigDiff.h"
#include "logbook/ListPages.h"
#include "logbook/LogbookLanguage.h"
#include "logbook/LogbookSources.h"
#include "logbook/LogbookTables.h"
#include "logbook/TimeScale.h"
#include "logbook/VisitReport.h"

#include <QDateTime>
#include <QTextDocument>

#include <cmath>
#include <memory>

namespace {

QString esc(const QString& s) {
    return ReportText(s);
}

QString heading(const QString& text) {
    return QStringLiteral("<h2>") + esc(text) + QStringLiteral("</h2>");
}

QString para(const QString& text) {
    return QStringLiteral("<p>") + esc(text) + QStringLiteral("</p>");
}

// The document's start: its title (the PDF's too) and the same as its first heading.
QString opening(const QString& title) {
    return QStringLiteral("<html><head><title>") + esc(title) + QStringLiteral("</title></head><body><h1>") +
           esc(title) + QStringLiteral("</h1>");
}

QList<QStringList> escaped(QList<QStringList> rows) {
    for (QStringList& r : rows)
        for (QString& c : r)
            c = esc(c);
    return rows;
}

} // namespace

bool MakePeriodReport(const QString& path, qint64 unitId, QDate from, QDate to, Lang lang, QTextDocument* doc,
                      QString* error) {
    Archive archive;
    if (!archive.Open(path, Archive::Mode::ReadOnly)) {
        *error = archive.LastError();
        return false;
    }
    const std::optional<UnitRow> unit = archive.Unit(unitId);
    if (!unit) {
        *error = archive.LastError().isEmpty()
                     ? LbText(lang, "unit #%1 is not in the archive", "档案中没有装置 #%1").arg(unitId)
                     : archive.LastError();
        return false;
    }
    // The period in PC time: from the first day's start to the last day's end, local time.
    const qint64 startMs = from.startOfDay().toMSecsSinceEpoch();
    const qint64 endMs = to.addDays(1).startOfDay().toMSecsSinceEpoch();
    auto inPeriod = [&](const PcTime& t) { return t.utcMs >= startMs && t.utcMs < endMs; };

    QString h =
        opening(LbText(lang, "LMX-207 report of %1", "LMX-207 报告：%1").arg(UnitLabelText(*unit, lang)));
    h += para(LbText(lang, "From %1 to %2 (PC dates; the events by the unit's clock).",
                     "从 %1 到 %2（电脑日期；事件按装置时钟）。")
                  .arg(from.toString(Qt::ISODate), to.toString(Qt::ISODate)));

    EventFilter filter;
    filter.unitId = unitId;
    filter.from = from;
    filter.to = to;
    const qint64 events = archive.EventCount(filter);
    const CommandCounters counters = archive.EventCounters(filter);
    h += heading(LbText(lang, "1 Events", "1 事件"));
    h += para(
        LbText(lang, "%1 events of the unit in the period.", "该装置在此期间的事件共%1条。").arg(events));
    QStringList headers{QString()};
    for (int c = 1; c <= 8; ++c)
        headers << LbText(lang, "Cmd %1", "命令%1").arg(c);
    headers << LbText(lang, "Total", "合计");
    QList<QStringList> rows;
    for (int r = 0; r < kCounterRows; ++r) {
        QStringList row{CounterRowText(r, lang)};
        for (int c = 0; c < 9; ++c)
            row << CounterCellText(counters, r, c);
        rows << row;
    }
    h += ReportTableHtml(headers, escaped(rows));

    h += heading(LbText(lang, "2 Configurations read and written", "2 读取和写入的配置"));
    const QList<ConfigSnapshot> history = archive.ConfigHistory(unitId);
    rows.clear();
    for (int i = 0; i < history.size(); ++i) {
        const ConfigSnapshot& s = history[i];
        if (!inPeriod(s.time))
            continue;
        QStringList changes;
        if (i > 0)
            for (const ConfigDiffLine& l : DiffConfigLines(history[i - 1], s))
                if (l.changed)
                    changes << QStringLiteral("%1: %2 → %3").arg(ConfigLineName(l, lang), l.a, l.b);
        rows << QStringList{PcTimeLocalText(s.time),
                            QStringLiteral("#%1").arg(s.visitId),
                            SideLabel(s.side, lang),
                            s.source == QLatin1String("read") ? LbText(lang, "read", "读取")
                                                              : LbText(lang, "written", "写入"),
                            QString::number(s.address),
                            i == 0              ? LbText(lang, "first known", "首次")
                            : changes.isEmpty() ? LbText(lang, "none", "无")
                                                : changes.join(QStringLiteral("; "))};
    }
    h += rows.isEmpty() ? para(LbText(lang, "None in the period.", "此期间没有。"))
                        : ReportTableHtml({LbText(lang, "When", "时间"), LbText(lang, "Visit", "访问"),
                                           LbText(lang, "Side", "侧"), LbText(lang, "What", "类别"),
                                           LbText(lang, "Address", "地址"), LbText(lang, "Changes", "改变")},
                                          escaped(rows));

    h += heading(LbText(lang, "3 Clock readings", "3 时钟读数"));
    rows.clear();
    for (const ClockReading& r : archive.ClockHistory(unitId))
        if (inPeriod(r.time))
            rows << QStringList{PcTimeLocalText(r.time), QStringLiteral("#%1").arg(r.visitId), r.unitClock,
                                QStringLiteral("%1%2 s")
                                    .arg(r.differenceMs < 0 ? QStringLiteral("-") : QStringLiteral("+"))
                                    .arg(QString::number(std::abs(r.differenceMs) / 1000.0, 'f', 3))};
    h += rows.isEmpty() ? para(LbText(lang, "None in the period.", "此期间没有。"))
                        : ReportTableHtml({LbText(lang, "PC time", "电脑时间"), LbText(lang, "Visit", "访问"),
                                           LbText(lang, "Unit clock", "装置时钟"),
                                           LbText(lang, "Unit minus PC", "装置减电脑")},
                                          escaped(rows));

    h += heading(LbText(lang, "4 Actions", "4 操作"));
    bool more = false;
    QList<ActionEntry> actions = LoadActions(path, kActionsShown, &more, error);
    rows.clear();
    for (auto a = actions.crbegin(); a != actions.crend(); ++a)
        if (a->row.unitId == unitId && inPeriod(a->row.time))
            rows << QStringList{PcTimeLocalText(a->row.time),
                                QStringLiteral("#%1").arg(a->row.visitId),
                                a->user,
                                ActionKindText(a->row.kind, lang),
                                ActionSentText(*a, lang),
                                AppliedText(*a, lang)};
    h += rows.isEmpty()
             ? para(LbText(lang, "None in the period.", "此期间没有。"))
             : ReportTableHtml({LbText(lang, "When", "时间"), LbText(lang, "Visit", "访问"),
                                LbText(lang, "Who", "用户"), LbText(lang, "Action", "操作"),
                                LbText(lang, "Sent", "发送内容"), LbText(lang, "Applied", "已生效")},
                               escaped(rows));
    h += QStringLiteral("</body></html>");
    if (!archive.LastError().isEmpty()) {
        *error = archive.LastError();
        return false;
    }
    error->clear();

    LayOutReport(doc, h, lang);
    return true;
}

namespace {

// A unit-clock day's start as the matching counts unit time: ms since 1970-01-01 00:00 of that clock.
double UnitDayMs(QDate day) {
    return double(QDateTime(day, QTime(0, 0), Qt::UTC).toMSecsSinceEpoch());
}

bool InRange(double ms, double fromMs, double toMs) {
    return ms >= fromMs && ms < toMs;
}

QString signedText(double ms) {
    const QString sign = ms < 0 ? QStringLiteral("-") : QStringLiteral("+");
    const double a = std::abs(ms);
    return sign + (a < 60000 ? QString::number(a / 1000, 'f', 3) + QStringLiteral(" s")
                             : DurationText(qint64(std::llround(a))));
}

QString basisText(SegmentBasis b, Lang lang) {
    switch (b) {
    case SegmentBasis::BothWays:
        return LbText(lang, "commands both ways", "双向命令");
    case SegmentBasis::OneWay:
        return LbText(lang, "one way only: apparent delay", "仅单向：表观延时");
    case SegmentBasis::Readings:
        return LbText(lang, "clock readings", "时钟读数");
    case SegmentBasis::Hand:
        return LbText(lang, "by hand", "手动修正");
    }
    return {};
}

QString startText(const ClockSegment& s, Lang lang) {
    switch (s.start) {
    case SegmentStart::FirstTraffic:
        return LbText(lang, "first traffic", "首条命令");
    case SegmentStart::ClockWrite:
        return LbText(lang, "clock set in visit #%1", "访问 #%1 校时").arg(s.clockWriteVisit.value_or(0));
    case SegmentStart::Step:
        return LbText(lang, "a step no clock set explains", "无校时可解释的跳变");
    }
    return {};
}

} // namespace

bool MakeLinkPeriodReport(const QString& path, qint64 localId, qint64 remoteId, QDate from, QDate to,
                          Lang lang, QTextDocument* doc, QString* error) {
    if (localId == remoteId) {
        *error = LbText(lang, "A link joins two units: one unit cannot be both its ends.",
                        "链路连接两台装置：同一装置不能同时作为两端。");
        return false;
    }
    const LinkResult link = LoadLink(path, std::nullopt, localId, remoteId, MatchOptions{}, lang);
    if (!link.events) {
        *error = link.error;
        return false;
    }
    const double fromMs = UnitDayMs(from);
    const double toMs = UnitDayMs(to.addDays(1));
    const LinkMatch slice = MatchWithin(link.match, fromMs, toMs);
    const QString local = UnitLabelText(link.ends.local, lang);
    const QString remote = UnitLabelText(link.ends.remote, lang);

    QString h = opening(
        LbText(lang, "LMX-207 report of the link %1 – %2", "LMX-207 链路报告：%1 – %2").arg(local, remote));
    h += para(
        LbText(lang,
               "From %1 to %2 on the local unit's clock, the link's common axis; the remote unit's events "
               "are placed on it by the clock model, which was found on both units' whole logs.",
               "从 %1 到 %2（本地装置时钟，即链路的公共时间轴）；对端装置的事件按时钟模型换算到该轴，"
               "时钟模型由两台装置的全部记录求得。")
            .arg(from.toString(Qt::ISODate), to.toString(Qt::ISODate)));

    h += heading(LbText(lang, "1 Units", "1 装置"));
    QList<QStringList> rows;
    for (const UnitSide side : {UnitSide::Local, UnitSide::Remote}) {
        const UnitRow& u = side == UnitSide::Local ? link.ends.local : link.ends.remote;
        qint64 inPeriod = 0;
        for (const EventRow& e : side == UnitSide::Local ? link.events->local : link.events->remote)
            if (const std::optional<double> t = AxisMs(link.match, e, side); t && InRange(*t, fromMs, toMs))
                ++inPeriod;
        rows << QStringList{SideLabel(side, lang), UnitLabelText(u, lang),
                            u.address ? QString::number(*u.address) : QStringLiteral("-"),
                            u.commandCount ? QString::number(*u.commandCount) : QStringLiteral("-"),
                            QString::number(inPeriod)};
    }
    h += ReportTableHtml({LbText(lang, "Side", "侧"), LbText(lang, "Unit", "装置"),
                          LbText(lang, "Address", "地址"), LbText(lang, "Commands", "命令数"),
                          LbText(lang, "Events in the period", "此期间的事件")},
                         escaped(rows));

    h += heading(LbText(lang, "2 The two clocks", "2 两端时钟"));
    rows.clear();
    for (const ClockSegment& s : slice.segments) {
        const double start = std::max(fromMs, std::isfinite(s.startLocalMs) ? s.startLocalMs : s.fromMs);
        rows << QStringList{UnitClockText(start),
                            UnitClockText(std::min(s.toMs, toMs)),
                            signedText(s.OffsetAt(start)),
                            QString::number(s.MsPerDay() + 0.0, 'f', 1),
                            basisText(s.basis, lang),
                            startText(s, lang),
                            QString::number(s.pairs[0] + s.pairs[1])};
    }
    h += rows.isEmpty()
             ? para(LbText(lang, "No segment of the clock model falls in the period: no command travelled.",
                           "此期间没有时钟模型的分段：没有传送过命令。"))
             : para(LbText(lang, "The remote clock minus the local clock, stretch by stretch (local clock):",
                           "对端时钟减本地时钟，逐段列出（本地时钟）：")) +
                   ReportTableHtml({LbText(lang, "From", "从"), LbText(lang, "To", "到"),
                                    LbText(lang, "Remote minus local", "对端减本地"),
                                    LbText(lang, "Drift (ms a day)", "漂移（ms/天）"),
                                    LbText(lang, "Found from", "求得依据"), LbText(lang, "Starts at", "起点"),
                                    LbText(lang, "Pairs", "命令对")},
                                   escaped(rows));

    h += heading(LbText(lang, "3 Commands between the units", "3 两端之间的命令"));
    h += LinkSectionsHtml(link, slice, 3, lang);
    h += QStringLiteral("</body></html>");
    LayOutReport(doc, h, lang);
    error->clear();
    return true;
}

QByteArray PeriodReportPdf(const QString& path, qint64 unitId, qint64 remoteUnitId, QDate from, QDate to,
                           Lang lang, QString* error) {
    QTextDocument doc;
    const bool made = remoteUnitId
                          ? MakeLinkPeriodReport(path, unitId, remoteUnitId, from, to, lang, &doc, error)
                          : MakePeriodReport(path, unitId, from, to, lang, &doc, error);
    if (!made)
        return {};
    const QString period =
        QStringLiteral(", %1 – %2").arg(from.toString(Qt::ISODate), to.toString(Qt::ISODate));
    return ReportPdf(&doc, doc.metaInformation(QTextDocument::DocumentTitle) + period);
}

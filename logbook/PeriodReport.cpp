#include "logbook/PeriodReport.h"

#include "archive/Archive.h"
#include "logbook/ConfigDiff.h"
#include "logbook/ListPages.h"
#include "logbook/LogbookLanguage.h"
#include "logbook/LogbookSources.h"
#include "logbook/LogbookTables.h"
#include "logbook/VisitReport.h"
#include "platform/SafeFile.h"

#include <QBuffer>
#include <QFileInfo>
#include <QPageSize>
#include <QPdfWriter>
#include <QTextDocument>
#include <QTextFrame>

namespace {

QString esc(const QString& s) {
    return s.toHtmlEscaped();
}

QString heading(const QString& text) {
    return QStringLiteral("<h2>") + esc(text) + QStringLiteral("</h2>");
}

QString para(const QString& text) {
    return QStringLiteral("<p>") + esc(text) + QStringLiteral("</p>");
}

QList<QStringList> escaped(QList<QStringList> rows) {
    for (QStringList& r : rows)
        for (QString& c : r)
            c = esc(c);
    return rows;
}

} // namespace

bool MakePeriodReport(const QString& path, qint64 unitId, QDate from, QDate to, bool zh, QTextDocument* doc,
                      QString* error) {
    Archive archive;
    if (!archive.Open(path, Archive::Mode::ReadOnly)) {
        *error = archive.LastError();
        return false;
    }
    const std::optional<UnitRow> unit = archive.Unit(unitId);
    if (!unit) {
        *error = archive.LastError().isEmpty()
                     ? LbText(zh, "unit #%1 is not in the archive", "档案中没有装置 #%1").arg(unitId)
                     : archive.LastError();
        return false;
    }
    // The period in PC time: from the first day's start to the last day's end, local time.
    const qint64 startMs = from.startOfDay().toMSecsSinceEpoch();
    const qint64 endMs = to.addDays(1).startOfDay().toMSecsSinceEpoch();
    auto inPeriod = [&](const PcTime& t) { return t.utcMs >= startMs && t.utcMs < endMs; };

    QString h = QStringLiteral("<html><body><h1>") +
                esc(LbText(zh, "LMX-207 report of %1", "LMX-207 报告：%1").arg(UnitLabelText(*unit, zh))) +
                QStringLiteral("</h1>");
    h += para(LbText(zh, "From %1 to %2 (PC dates; the events by the unit's clock).",
                     "从 %1 到 %2（电脑日期；事件按装置时钟）。")
                  .arg(from.toString(Qt::ISODate), to.toString(Qt::ISODate)));

    EventFilter filter;
    filter.unitId = unitId;
    filter.from = from;
    filter.to = to;
    const qint64 events = archive.EventCount(filter);
    const CommandCounters counters = archive.EventCounters(filter);
    h += heading(LbText(zh, "1 Events", "1 事件"));
    h += para(LbText(zh, "%1 events of the unit in the period.", "该装置在此期间的事件共%1条。").arg(events));
    QStringList headers{QString()};
    for (int c = 1; c <= 8; ++c)
        headers << LbText(zh, "Cmd %1", "命令%1").arg(c);
    headers << LbText(zh, "Total", "合计");
    QList<QStringList> rows;
    for (int r = 0; r < kCounterRows; ++r) {
        QStringList row{CounterRowText(r, zh)};
        for (int c = 0; c < 9; ++c)
            row << CounterCellText(counters, r, c);
        rows << row;
    }
    h += ReportTableHtml(headers, escaped(rows));

    h += heading(LbText(zh, "2 Configurations read and written", "2 读取和写入的配置"));
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
                    changes << QStringLiteral("%1: %2 → %3").arg(ConfigLineName(l, zh), l.a, l.b);
        rows << QStringList{PcTimeLocalText(s.time),
                            QStringLiteral("#%1").arg(s.visitId),
                            SideLabel(s.side, zh),
                            s.source == QLatin1String("read") ? LbText(zh, "read", "读取")
                                                              : LbText(zh, "written", "写入"),
                            QString::number(s.address),
                            i == 0              ? LbText(zh, "first known", "首次")
                            : changes.isEmpty() ? LbText(zh, "none", "无")
                                                : changes.join(QStringLiteral("; "))};
    }
    h += rows.isEmpty() ? para(LbText(zh, "None in the period.", "此期间没有。"))
                        : ReportTableHtml({LbText(zh, "When", "时间"), LbText(zh, "Visit", "访问"),
                                           LbText(zh, "Side", "侧"), LbText(zh, "What", "类别"),
                                           LbText(zh, "Address", "地址"), LbText(zh, "Changes", "改变")},
                                          escaped(rows));

    h += heading(LbText(zh, "3 Clock readings", "3 时钟读数"));
    rows.clear();
    for (const ClockReading& r : archive.ClockHistory(unitId))
        if (inPeriod(r.time))
            rows << QStringList{PcTimeLocalText(r.time), QStringLiteral("#%1").arg(r.visitId), r.unitClock,
                                QStringLiteral("%1%2 s")
                                    .arg(r.differenceMs < 0 ? QStringLiteral("-") : QStringLiteral("+"))
                                    .arg(QString::number(std::abs(r.differenceMs) / 1000.0, 'f', 3))};
    h += rows.isEmpty() ? para(LbText(zh, "None in the period.", "此期间没有。"))
                        : ReportTableHtml({LbText(zh, "PC time", "电脑时间"), LbText(zh, "Visit", "访问"),
                                           LbText(zh, "Unit clock", "装置时钟"),
                                           LbText(zh, "Unit minus PC", "装置减电脑")},
                                          escaped(rows));

    h += heading(LbText(zh, "4 Actions", "4 操作"));
    bool more = false;
    QList<ActionEntry> actions = LoadActions(path, kActionsShown, &more, error);
    rows.clear();
    for (auto a = actions.crbegin(); a != actions.crend(); ++a)
        if (a->row.unitId == unitId && inPeriod(a->row.time))
            rows << QStringList{PcTimeLocalText(a->row.time),
                                QStringLiteral("#%1").arg(a->row.visitId),
                                a->user,
                                ActionKindText(a->row.kind, zh),
                                ActionSentText(*a, zh),
                                AppliedText(*a, zh)};
    h += rows.isEmpty() ? para(LbText(zh, "None in the period.", "此期间没有。"))
                        : ReportTableHtml({LbText(zh, "When", "时间"), LbText(zh, "Visit", "访问"),
                                           LbText(zh, "Who", "用户"), LbText(zh, "Action", "操作"),
                                           LbText(zh, "Sent", "发送内容"), LbText(zh, "Applied", "已生效")},
                                          escaped(rows));
    h += QStringLiteral("</body></html>");
    if (!archive.LastError().isEmpty()) {
        *error = archive.LastError();
        return false;
    }
    error->clear();

    QFont font;
    font.setPointSizeF(9);
    if (zh)
        font.setFamilies({QStringLiteral("WenQuanYi Micro Hei"), font.family()});
    doc->setDefaultFont(font);
    doc->setHtml(h);
    doc->setPageSize(QPageSize(QPageSize::A4).size(QPageSize::Inch) * 96);
    QTextFrameFormat frame = doc->rootFrame()->frameFormat();
    frame.setMargin(15 / 25.4 * 96);
    doc->rootFrame()->setFrameFormat(frame);
    KeepHeadingsWithNext(doc);
    return true;
}

bool WritePeriodReport(const QString& archivePath, qint64 unitId, QDate from, QDate to, bool zh,
                       const QString& pdfPath, QString* error) {
    QTextDocument doc;
    if (!MakePeriodReport(archivePath, unitId, from, to, zh, &doc, error))
        return false;
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    {
        QPdfWriter pdf(&buffer);
        pdf.setPageSize(QPageSize(QPageSize::A4));
        pdf.setPageMargins(QMarginsF(0, 0, 0, 0));
        pdf.setResolution(300);
        pdf.setCreator(QStringLiteral("lmx207-logbook"));
        doc.print(&pdf);
    }
    QString why;
    if (!ReplaceFile(pdfPath, buffer.data(), QFileInfo::exists(pdfPath) ? -1 : 0600, InPlaceWrite::Never,
                     &why)) {
        *error = LbText(zh, "%1 cannot be written: %2", "无法写入 %1：%2").arg(pdfPath, why);
        return false;
    }
    return true;
}

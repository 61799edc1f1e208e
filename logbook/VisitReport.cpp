#include "logbook/VisitReport.h"

#include "platform/SafeFile.h"

#include "archive/Archive.h"
#include "archive/ArchiveFormat.h"
#include "logbook/ConfigDiff.h"
#include "logbook/FileChooser.h"
#include "logbook/ListPages.h"
#include "logbook/LogbookLanguage.h"
#include "logbook/LogbookTables.h"

#include <QAbstractTextDocumentLayout>
#include <QBuffer>
#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFont>
#include <QImage>
#include <QPageSize>
#include <QPdfWriter>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextFrame>
#include <QTextLayout>
#include <QUrl>

#include <cmath>

namespace {

// The picture's size on the page in the document's pixels (a 96-dpi inch), and how much finer it
// is drawn, so print shows it sharp.
constexpr int kPictureWidth = 660, kPictureHeight = 300, kPictureScale = 3;

QString esc(const QString& s) {
    return ReportText(s);
}

QString unitText(const UnitRow& u, Lang lang) {
    return UnitLabelText(u, lang);
}

QString sideText(UnitSide side, Lang lang) {
    return SideLabel(side, lang);
}

QString table(const QStringList& headers, const QList<QStringList>& rows) {
    return ReportTableHtml(headers, rows);
}

QString para(const QString& text) {
    return QStringLiteral("<p>") + esc(text) + QStringLiteral("</p>");
}

QString heading(const QString& text) {
    return QStringLiteral("<h2>") + esc(text) + QStringLiteral("</h2>");
}

QString offsetSeconds(qint64 ms) {
    return (ms < 0 ? QStringLiteral("-") : QStringLiteral("+")) + DurationText(std::abs(ms));
}

// A configuration's settings as the dialog lists them: one row per setting, one column per command;
// the settings that differ from `before` in bold on a tinted ground.
QString settingsTable(const ConfigSnapshot& s, const std::optional<ConfigSnapshot>& before, Lang lang) {
    const QList<ConfigDiffLine> lines = DiffConfigLines(before ? *before : s, s);
    const int commands = s.commandCount == 8 ? 8 : 4;
    QStringList headers{LbText(lang, "Command", "命令")};
    for (int k = 1; k <= commands; ++k)
        headers << QString::number(k);
    QList<QStringList> rows;
    for (ConfigDiffLine::Field field :
         {ConfigDiffLine::OutputDelay, ConfigDiffLine::InputDelay, ConfigDiffLine::OutputExtend}) {
        ConfigDiffLine named;
        named.field = field;
        named.command = 1;
        // The setting's name without its command: "Output Delay" / "判别时间".
        QString name = ConfigLineName(named, lang);
        name.remove(LbText(lang, "Command 1 ", "命令1 "));
        QStringList row{esc(name)};
        for (const ConfigDiffLine& l : lines)
            if (l.field == field && l.command <= commands)
                row << (l.changed ? QStringLiteral("<b>%1</b>").arg(esc(l.b)) : esc(l.b));
        rows << row;
    }
    return table(headers, rows);
}

QString configSection(const VisitReportData& d, Lang lang) {
    if (d.configs.isEmpty())
        return para(LbText(lang, "No configuration was read or written in this visit.",
                           "本次访问没有读取或写入配置。"));
    QString h;
    for (const ReportConfig& c : d.configs) {
        const ConfigSnapshot& s = c.snapshot;
        const bool write = s.source == QLatin1String("write");
        h += QStringLiteral("<p><b>") +
             esc((write ? LbText(lang, "Written to the %1 unit (%2) at %3: address %4, %5 commands.",
                                 "%3 写入%1装置（%2）：地址 %4，%5 个命令。")
                        : LbText(lang, "Read from the %1 unit (%2) at %3: address %4, %5 commands.",
                                 "%3 从%1装置（%2）读取：地址 %4，%5 个命令。"))
                     .arg(sideText(s.side, lang).toLower(), unitText(c.unit, lang), PcTimeLocalText(s.time))
                     .arg(s.address)
                     .arg(s.commandCount)) +
             QStringLiteral("</b></p>");
        h += settingsTable(s, c.before, lang);
        if (!c.before) {
            h += para(LbText(lang, "The archive holds no configuration of this unit before it.",
                             "档案中没有该装置更早的配置。"));
            continue;
        }
        QStringList changed;
        for (const ConfigDiffLine& l : DiffConfigLines(*c.before, s))
            if (l.changed)
                changed << QStringLiteral("%1: %2 → %3").arg(ConfigLineName(l, lang), l.a, l.b);
        const QString against = c.before->source == QLatin1String("write")
                                    ? LbText(lang, "the configuration written at %1", "%1 写入的配置")
                                    : LbText(lang, "the configuration read at %1", "%1 读取的配置");
        const QString what = against.arg(PcTimeLocalText(c.before->time));
        if (changed.isEmpty())
            h += para(LbText(lang, "No difference from %1.", "与%1相同。").arg(what));
        else
            h += para(LbText(lang, "Differences from %1: %2.", "与%1的差别：%2。")
                          .arg(what, changed.join(lang == Lang::Chinese ? QStringLiteral("；")
                                                                        : QStringLiteral("; "))));
    }
    return h;
}

QString clockSection(const VisitReportData& d, Lang lang) {
    if (d.clocks.isEmpty())
        return para(LbText(lang, "No clock was read in this visit.", "本次访问没有读取时钟。"));
    QList<QStringList> rows;
    std::optional<qint64> local, remote;
    for (const ReportClock& c : d.clocks) {
        const ClockReading& r = c.reading;
        rows << QStringList{esc(PcTimeLocalText(r.time)), esc(unitText(c.unit, lang)),
                            esc(sideText(r.side, lang)), esc(r.unitClock),
                            esc(offsetSeconds(r.differenceMs))};
        (r.side == UnitSide::Local ? local : remote) = r.differenceMs;
    }
    QString h =
        table({LbText(lang, "PC time", "电脑时间"), LbText(lang, "Unit", "装置"), LbText(lang, "Side", "侧"),
               LbText(lang, "Unit clock", "装置时钟"), LbText(lang, "Unit minus PC", "装置减电脑")},
              rows);
    if (local && remote)
        h += para(LbText(lang,
                         "By these readings the remote clock minus the local clock is %1 (whole seconds).",
                         "据这些读数，对端时钟减本地时钟为 %1（精确到秒）。")
                      .arg(offsetSeconds(*remote - *local)));
    return h;
}

QString actionSection(const VisitReportData& d, Lang lang) {
    if (d.actions.isEmpty())
        return para(
            LbText(lang, "No action was sent to a unit in this visit.", "本次访问没有对装置的操作。"));
    QList<QStringList> rows;
    for (const ActionEntry& a : d.actions) {
        const bool password = a.row.kind == QLatin1String("password-change");
        rows << QStringList{
            esc(PcTimeLocalText(a.row.time)),
            esc(a.row.unitId ? UnitLabelText(a.unitName, a.unitAddress, *a.row.unitId, lang) : QString()),
            esc(password ? QString() : sideText(a.row.side, lang)),
            esc(ActionKindText(a.row.kind, lang)),
            esc(ActionSentText(a, lang)),
            esc(password ? QString() : AppliedText(a, lang))};
    }
    return table({LbText(lang, "When", "时间"), LbText(lang, "Unit", "装置"), LbText(lang, "Side", "侧"),
                  LbText(lang, "Action", "操作"), LbText(lang, "Sent", "发送内容"),
                  LbText(lang, "Applied", "已生效")},
                 rows);
}

QString directionText(LinkDirection d, Lang lang) {
    return d == LinkDirection::LocalToRemote ? LbText(lang, "local → remote", "本地 → 对端")
                                             : LbText(lang, "remote → local", "对端 → 本地");
}

// The moment of an unmatched event on the other unit's clock: the local clock is the common axis,
// the remote clock is the segment's relation at it; "-" where no segment places the remote clock.
QString otherClockText(const LinkMatch& match, const UnmatchedEvent& u) {
    if (u.end == UnitSide::Remote)
        return UnitClockText(u.axisMs);
    const ClockSegment* s = SegmentAt(match, u.axisMs);
    return s ? UnitClockText(s->RemoteAt(u.axisMs)) : QStringLiteral("-");
}

QString problemSection(const LinkResult& link, const LinkMatch& match, Lang lang) {
    QString outside;
    if (!match.notCovered.isEmpty())
        outside = para(LbText(lang,
                              "%1 commands and returns fall outside the period the other unit's log covers: "
                              "neither lost nor unwanted, not judged.",
                              "%1 条命令及返回不在对端记录覆盖的时段内：不判为丢失或误收。")
                           .arg(match.notCovered.size()));
    if (match.lost.isEmpty() && match.unwanted.isEmpty())
        return outside +
               para(LbText(lang,
                           "None: every command sent where the other log looks arrived, and nothing arrived "
                           "there that was not sent.",
                           "无：在对端记录覆盖的时段内，发出的命令都已收到，也没有收到未发出的命令。"));
    QList<QStringList> rows;
    auto add = [&](const UnmatchedEvent& u, bool lost) {
        const QList<EventRow>& events = u.end == UnitSide::Local ? link.events->local : link.events->remote;
        int number = 1;
        for (int i = 0; i < events.size(); ++i)
            if (events[i].id == u.event.id)
                number = int(events.size()) - i;
        rows << QStringList{
            esc(lost ? LbText(lang, "lost", "丢失") : LbText(lang, "unwanted", "误收")),
            QString::number(u.command),
            QStringLiteral("<nobr>%1</nobr>").arg(esc(directionText(u.direction, lang))),
            esc(UnitLabelText(u.end == UnitSide::Local ? link.ends.local : link.ends.remote, lang)),
            QStringLiteral("<tt style=\"font-size: 8pt;\">") + esc(EventRecordLine(u.event, number, lang)) +
                QStringLiteral("</tt>"),
            QStringLiteral("<tt style=\"font-size: 8pt;\">") + esc(otherClockText(match, u)) +
                QStringLiteral("</tt>")};
    };
    for (const UnmatchedEvent& u : match.lost)
        add(u, true);
    for (const UnmatchedEvent& u : match.unwanted)
        add(u, false);
    return outside +
           table({LbText(lang, "What", "类别"), LbText(lang, "Command", "命令"),
                  LbText(lang, "Direction", "方向"), LbText(lang, "Logged by", "记录装置"),
                  LbText(lang, "Record line", "记录行"), LbText(lang, "On the other clock", "对端时钟")},
                 rows);
}

bool findVisit(Archive& archive, qint64 id, VisitRow* out) {
    constexpr int kPage = 500;
    for (int offset = 0;; offset += kPage) {
        const QList<VisitRow> page = archive.Visits(offset, kPage);
        for (const VisitRow& v : page)
            if (v.id == id) {
                *out = v;
                return true;
            }
        if (page.size() < kPage)
            return false;
    }
}

} // namespace

QString ReportText(const QString& text) {
    constexpr int kLongestRun = 24;
    QString broken;
    broken.reserve(text.size());
    int run = 0;
    for (const QChar c : text) {
        // Lines break anyway at a blank, after a hyphen and between Chinese characters.
        run = c.isSpace() || c == QLatin1Char('-') || c.unicode() >= 0x2E80 ? 0 : run + 1;
        if (run > kLongestRun) {
            broken += QChar(0x200B); // zero width space: a place to break, nothing shown
            run = 1;
        }
        broken += c;
    }
    return broken.toHtmlEscaped();
}

QString ReportTableHtml(const QStringList& headers, const QList<QStringList>& rows) {
    QString h = QStringLiteral("<table border=\"1\" cellspacing=\"0\" cellpadding=\"3\" width=\"100%\" "
                               "style=\"border-collapse: collapse; border-color: #999999;\"><tr>");
    for (const QString& c : headers)
        h += QStringLiteral("<th align=\"left\" bgcolor=\"#e8e8e8\">") + esc(c) + QStringLiteral("</th>");
    h += QStringLiteral("</tr>");
    for (const QStringList& r : rows) {
        h += QStringLiteral("<tr>");
        // A record line keeps its blanks but may wrap: kept on one line, its width would be the
        // column's least, and the table would break the words of the other columns to make room.
        for (const QString& c : r)
            h += (c.startsWith(QLatin1String("<b>")) ? QStringLiteral("<td bgcolor=\"#ffe9a8\">")
                  : c.startsWith(QLatin1String("<tt"))
                      ? QStringLiteral("<td style=\"white-space: pre-wrap;\">")
                      : QStringLiteral("<td>")) +
                 c + QStringLiteral("</td>");
        h += QStringLiteral("</tr>");
    }
    return h + QStringLiteral("</table>");
}

QString LinkSectionsHtml(const LinkResult& link, const LinkMatch& match, int first, Lang lang) {
    QString h = para(OffsetStatement(match, lang));
    QList<QStringList> rows = CommandCountRows(match, lang);
    for (QStringList& r : rows)
        for (QString& c : r)
            c = esc(c);
    for (QStringList& r : rows) // "local → remote" on one line
        r[1] = QStringLiteral("<nobr>%1</nobr>").arg(r[1]);
    h += table(CommandCountHeaders(lang), rows);
    h += heading(QStringLiteral("%1 ").arg(first + 1) +
                 LbText(lang, "Lost and unwanted commands", "丢失与误收的命令"));
    return h + problemSection(link, match, lang);
}

bool LoadVisitReport(const QString& path, qint64 visitId, Lang lang, VisitReportData* d, QString* error) {
    Archive archive;
    if (!archive.Open(path, Archive::Mode::ReadOnly)) {
        *error = archive.LastError();
        return false;
    }
    if (!findVisit(archive, visitId, &d->visit)) {
        *error =
            archive.LastError().isEmpty()
                ? LbText(lang, "There is no visit #%1 in the archive.", "档案中没有访问 #%1。").arg(visitId)
                : archive.LastError();
        return false;
    }
    const QList<UnitRow> units = archive.Units();
    QHash<qint64, UnitRow> unitById;
    for (const UnitRow& u : units)
        unitById.insert(u.id, u);
    // The visit's units: those whose records it read, else those its configuration reads named.
    LinkEnds ends;
    QString why;
    if (LinkOfVisit(archive, visitId, &ends, &why)) {
        d->local = ends.local;
        d->remote = ends.remote;
    } else {
        d->linkError = why;
        for (const UnitRow& u : units) {
            if (u.address && d->visit.localAddress == u.address)
                d->local = u;
            if (u.address && d->visit.remoteAddress == u.address)
                d->remote = u;
        }
    }
    // Every unit the visit kept a configuration or a clock reading of.
    QList<qint64> met;
    for (const std::optional<UnitRow>& u : {d->local, d->remote})
        if (u)
            met << u->id;
    QList<ActionRow> actions;
    constexpr int kPage = 1000;
    for (int offset = 0;; offset += kPage) {
        const QList<ActionRow> page = archive.Actions(std::nullopt, offset, kPage);
        bool older = false;
        for (const ActionRow& a : page) {
            if (a.visitId == visitId)
                actions.prepend(a);
            older |= a.time.utcMs < d->visit.started.utcMs;
        }
        if (page.size() < kPage || older)
            break;
    }
    for (const ActionRow& a : actions)
        if (a.unitId && !met.contains(*a.unitId))
            met << *a.unitId;
    for (qint64 id : met) {
        const UnitRow unit = unitById.value(id);
        const QList<ConfigSnapshot> history = archive.ConfigHistory(id);
        for (int i = 0; i < history.size(); ++i)
            if (history[i].visitId == visitId)
                d->configs << ReportConfig{
                    history[i], unit, i > 0 ? std::optional<ConfigSnapshot>(history[i - 1]) : std::nullopt};
        for (const ClockReading& r : archive.ClockHistory(id))
            if (r.visitId == visitId)
                d->clocks << ReportClock{r, unit};
    }
    std::stable_sort(d->configs.begin(), d->configs.end(), [](const ReportConfig& a, const ReportConfig& b) {
        return a.snapshot.time.utcMs < b.snapshot.time.utcMs;
    });
    std::stable_sort(d->clocks.begin(), d->clocks.end(), [](const ReportClock& a, const ReportClock& b) {
        return a.reading.time.utcMs < b.reading.time.utcMs;
    });
    for (const ActionRow& a : actions) {
        ActionEntry e;
        e.row = a;
        if (a.unitId) {
            const UnitRow u = unitById.value(*a.unitId);
            e.unitName = u.name;
            e.unitAddress = u.address;
        }
        if (a.kind == QLatin1String("config-write") && a.unitId) {
            // What the dialog showed: the unit's last configuration answer at that side before it.
            for (const ReportConfig& c : d->configs)
                if (c.unit.id == *a.unitId && c.snapshot.source == QLatin1String("read") &&
                    c.snapshot.side == a.side && c.snapshot.time.utcMs <= a.time.utcMs) {
                    e.before = c.snapshot;
                    e.hasBefore = true;
                }
            e.hasWritten = SnapshotFromBlock(a.sent, e.hasBefore ? e.before.commandCount : 8, &e.written);
        }
        d->actions << e;
    }
    DecideActions(archive, &d->actions);
    if (!archive.LastError().isEmpty()) {
        *error = archive.LastError();
        return false;
    }
    archive.Close();
    if (d->linkError.isEmpty()) {
        LinkResult link = LoadLink(path, visitId, 0, 0, MatchOptions{}, lang);
        if (link.events)
            d->link = std::move(link);
        else
            d->linkError = link.error;
    }
    return true;
}

QString VisitReportHtml(const VisitReportData& d, Lang lang) {
    const VisitRow& v = d.visit;
    QString h = QStringLiteral("<html><body>");
    h += QStringLiteral("<h1>") + esc(LbText(lang, "LMX-207 visit report", "LMX-207 访问报告")) +
         QStringLiteral("</h1>");
    const QString who = v.pcUser + (v.pcHost.isEmpty() ? QString() : '@' + v.pcHost);
    h += para(
        LbText(lang, "Visit #%1, started %2 (PC time, UTC%3) by %4 on %5.",
               "访问 #%1，开始于 %2（电脑时间，UTC%3），用户 %4，端口 %5。")
            .arg(v.id)
            .arg(PcTimeLocalText(v.started),
                 QDateTime::fromMSecsSinceEpoch(v.started.utcMs, Qt::OffsetFromUTC, v.started.offsetSeconds)
                     .toString(QStringLiteral("t"))
                     .remove(QStringLiteral("UTC")),
                 who, v.port));

    // 1 Units
    h += QStringLiteral("<h2>") + esc(LbText(lang, "1 Units", "1 装置")) + QStringLiteral("</h2>");
    QList<QStringList> units;
    for (const auto& [side, unit] :
         {std::pair{UnitSide::Local, d.local}, std::pair{UnitSide::Remote, d.remote}}) {
        if (!unit)
            continue;
        units << QStringList{esc(sideText(side, lang)), esc(unitText(*unit, lang)),
                             unit->address ? QString::number(*unit->address) : QStringLiteral("-"),
                             unit->commandCount ? QString::number(*unit->commandCount) : QStringLiteral("-"),
                             QString::number(unit->eventCount)};
    }
    if (units.isEmpty())
        h += para(LbText(lang, "No configuration read of this visit told a unit's address.",
                         "本次访问没有读取配置，未得知装置的地址。"));
    else
        h +=
            table({LbText(lang, "Side", "侧"), LbText(lang, "Unit", "装置"), LbText(lang, "Address", "地址"),
                   LbText(lang, "Commands", "命令数"), LbText(lang, "Events in the archive", "档案中的事件")},
                  units);

    h += QStringLiteral("<h2>") +
         esc(LbText(lang, "2 Configurations read and written", "2 读取和写入的配置")) +
         QStringLiteral("</h2>") + configSection(d, lang);
    h += QStringLiteral("<h2>") + esc(LbText(lang, "3 Clocks against the PC", "3 装置时钟与电脑时钟")) +
         QStringLiteral("</h2>") + clockSection(d, lang);
    h += QStringLiteral("<h2>") + esc(LbText(lang, "4 Actions", "4 操作")) + QStringLiteral("</h2>") +
         actionSection(d, lang);

    if (!d.link) {
        h += heading(LbText(lang, "5 Commands between the units", "5 两端之间的命令"));
        h += para(LbText(lang, "This visit did not read the records of both ends: %1",
                         "本次访问没有读取两端的记录：%1")
                      .arg(d.linkError));
    } else {
        const LinkResult& link = *d.link;
        h += heading(LbText(lang, "5 Commands between the units", "5 两端之间的命令"));
        h += para(
            LbText(lang,
                   "Matched on what the archive held as of this visit (the events, clock readings and "
                   "clock writes of visits up to #%1), so this section reads the same whenever the report "
                   "is made. Times are the units' own clocks; the common axis is the local unit's clock.",
                   "按本次访问时档案所存内容匹配（访问 #%1 及之前的事件、时钟读数和校时），因此无论何时生成"
                   "报告，本节内容都相同。时间为装置自身的时钟；公共时间轴为本地装置的时钟。")
                .arg(d.visit.id));
        h += LinkSectionsHtml(link, link.match, 5, lang);
        h += QStringLiteral("<h2>") + esc(LbText(lang, "7 Both ends on one time axis", "7 两端事件时间轴")) +
             QStringLiteral("</h2>");
        h += QStringLiteral("<p><img src=\"%1\" width=\"%2\" height=\"%3\"></p>")
                 .arg(QLatin1String(kReportPictureUrl))
                 .arg(kPictureWidth)
                 .arg(kPictureHeight);
    }
    h += QStringLiteral("<p><small>") +
         esc(LbText(lang, "Made by lmx207-logbook on %1.", "由 lmx207-logbook 于 %1 生成。")
                 .arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm")))) +
         QStringLiteral("</small></p></body></html>");
    return h;
}

std::unique_ptr<QTextDocument> VisitReportDocument(const VisitReportData& d, Lang lang) {
    auto doc = std::make_unique<QTextDocument>();
    if (d.link)
        doc->addResource(
            QTextDocument::ImageResource, QUrl(QString::fromLatin1(kReportPictureUrl)),
            RenderLinkPicture(d.link->picture, QSize(kPictureWidth, kPictureHeight), lang, kPictureScale));
    LayOutReport(doc.get(), VisitReportHtml(d, lang), lang);
    return doc;
}

void LayOutReport(QTextDocument* doc, const QString& html, Lang lang) {
    QFont font;
    font.setPointSizeF(9);
    if (lang == Lang::Chinese)
        font.setFamilies({QStringLiteral("WenQuanYi Micro Hei"), font.family()});
    doc->setDefaultFont(font);
    // Lines break between words only: a table then never gives a column less than its longest
    // word, so no heading or cell is cut inside a word to squeeze the columns beside it.
    QTextOption wrap = doc->defaultTextOption();
    wrap.setWrapMode(QTextOption::WordWrap);
    doc->setDefaultTextOption(wrap);
    doc->setHtml(html);
    // A4 in the document's pixels (96 to the inch), 15 mm margins.
    doc->setPageSize(QPageSize(QPageSize::A4).size(QPageSize::Inch) * 96);
    QTextFrameFormat frame = doc->rootFrame()->frameFormat();
    frame.setMargin(15 / 25.4 * 96);
    doc->rootFrame()->setFrameFormat(frame);
    KeepHeadingsWithNext(doc);
}

void KeepHeadingsWithNext(QTextDocument* doc) {
    const qreal pageHeight = doc->pageSize().height();
    if (pageHeight <= 0)
        return;
    QAbstractTextDocumentLayout* layout = doc->documentLayout();
    // Each pass moves the first stranded heading; what follows it moves with it, so look again.
    for (int pass = 0; pass < 64; ++pass) {
        bool moved = false;
        for (QTextBlock b = doc->begin(); b.isValid() && !moved; b = b.next()) {
            if (b.blockFormat().headingLevel() == 0 || !b.next().isValid())
                continue;
            if (b.blockFormat().pageBreakPolicy() & QTextFormat::PageBreak_AlwaysBefore)
                continue;
            // Where the first line of each is drawn: a line that would cross a page's foot is
            // moved to the next page inside its block, which keeps its place.
            auto firstLineTop = [layout](const QTextBlock& block) {
                const qreal top = layout->blockBoundingRect(block).top();
                const QTextLayout* lines = block.layout();
                return lines && lines->lineCount() > 0 ? top + lines->lineAt(0).y() : top;
            };
            const int headingPage = int(firstLineTop(b) / pageHeight);
            // The next block's first line on a later page than the heading: the heading is left
            // alone at the foot of its page.
            const int nextPage = int((firstLineTop(b.next()) + 1) / pageHeight);
            if (nextPage > headingPage) {
                QTextCursor c(b);
                QTextBlockFormat f = b.blockFormat();
                f.setPageBreakPolicy(QTextFormat::PageBreak_AlwaysBefore);
                c.setBlockFormat(f);
                moved = true;
            }
        }
        if (!moved)
            return;
    }
}

QByteArray ReportPdf(QTextDocument* doc, const QString& title) {
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    {
        QPdfWriter pdf(&buffer);
        pdf.setPageSize(QPageSize(QPageSize::A4));
        pdf.setPageMargins(QMarginsF(0, 0, 0, 0));
        pdf.setResolution(300);
        pdf.setTitle(title);
        pdf.setCreator(QStringLiteral("lmx207-logbook"));
        doc->print(&pdf);
    }
    return buffer.data();
}

bool SaveReportPdf(const QByteArray& pdf, const QString& pdfPath, Lang lang, QString* error) {
    // Whole or not at all, 0600 when new, and never through a link another account could have planted.
    QString why;
    if (!ReplaceFile(pdfPath, pdf, QFileInfo::exists(pdfPath) ? -1 : 0600, InPlaceWrite::Never, &why)) {
        *error = LbText(lang, "%1 cannot be written: %2", "无法写入 %1：%2").arg(pdfPath, why);
        return false;
    }
    return true;
}

QString VisitReportTitle(qint64 visitId, Lang lang) {
    return LbText(lang, "LMX-207 visit report, visit #%1", "LMX-207 访问报告，访问 #%1").arg(visitId);
}

bool WriteVisitReport(const VisitReportData& d, Lang lang, const QString& pdfPath, QString* error) {
    const std::unique_ptr<QTextDocument> doc = VisitReportDocument(d, lang);
    return SaveReportPdf(ReportPdf(doc.get(), VisitReportTitle(d.visit.id, lang)), pdfPath, lang, error);
}

QString SaveVisitReportAs(QWidget* parent, const QString& archivePath, qint64 visitId, Lang lang) {
    FileChoice choice;
    choice.save = true;
    choice.title = LbText(lang, "Report of visit #%1", "访问 #%1 的报告").arg(visitId);
    choice.suggested = QDir::home().filePath(QStringLiteral("visit-%1.pdf").arg(visitId));
    choice.filters = {LbText(lang, "PDF (*.pdf)", "PDF 文件 (*.pdf)")};
    const QString path = ChooseFile(parent, choice).path;
    if (path.isEmpty())
        return {};
    VisitReportData data;
    QString error;
    if (!LoadVisitReport(archivePath, visitId, lang, &data, &error) ||
        !WriteVisitReport(data, lang, path, &error))
        return error;
    return LbText(lang, "The report of visit #%1 is in %2.", "访问 #%1 的报告已保存到 %2。")
        .arg(visitId)
        .arg(path);
}

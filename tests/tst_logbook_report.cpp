// The reports of a made-up visit that read both ends of a link, and of that link over days:
// lmx207-logbook report writes an A4 PDF whose text (as pdftotext reads it) holds every section and
// the figures, in the language the logbook shows, the visit's with the link's picture as an image,
// the Chinese in an embedded WenQuanYi face; to a file, or to standard output but never a terminal;
// bad input is refused with a message and nothing written.

#include "archive/Archive.h"
#include "logbook/PeriodReport.h"
#include "logbook/VisitReport.h"

#include "support/LinkSample.h"
#include "support/LogbookRun.h"
#include "support/Suite.h"
#include <QPdfWriter>
#include <QTextDocument>

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

namespace {

// A poppler tool's standard output.
QString poppler(const QString& tool, const QStringList& args) {
    QProcess p;
    p.start(tool, args);
    if (!p.waitForFinished(60000) || p.exitCode() != 0)
        return QStringLiteral("(%1 failed: %2)").arg(tool, QString::fromLocal8Bit(p.readAllStandardError()));
    return QString::fromUtf8(p.readAllStandardOutput());
}

} // namespace

class TstLogbookReport : public QObject {
    Q_OBJECT

    TestEnv m_env;
    QString m_archive;
    LinkSampleFacts m_facts;

private slots:
    void initTestCase() {
        m_archive = m_env.dataHome() + "/link.sqlite";
        QString error;
        QVERIFY2(AddLinkSampleVisit(m_archive, LinkSampleSpec{}, &m_facts, &error), qPrintable(error));
    }

    void reportHoldsSectionsAndFigures_data() {
        QTest::addColumn<QStringList>("what"); // the report's options
        QTest::addColumn<QString>("subject");  // as the line that says where it went names it
        QTest::addColumn<bool>("chinese");
        QTest::addColumn<QStringList>("expected"); // regular expressions over pdftotext's text
        // The visit by its number, or by its id as `lmx207-logbook visits` prints it.
        const QStringList byNumber{"--visit", QString::number(m_facts.visitId)};
        const QStringList byUuid{"--visit", m_facts.visitUuid};
        const QString visit = QStringLiteral("visit #%1").arg(m_facts.visitId);
        const QStringList link{"--local", "300", "--remote", "301", "--from", "2026-12-5", "--to"};
        // The visit's figures: 40 commands sent, 39 of them received, one lost (a local send of
        // command 4, with its return), one unwanted (a receive of command 3 at the remote unit); clocks 3 s
        // and 5 s ahead of the PC; command 2's Output Delay written from 0ms to 50ms and applied.
        QTest::newRow("visit, English")
            << byNumber << visit << false
            << QStringList{
                   "LMX-207 visit report",
                   "Visit #1, started 2026-12-05 10:00:00 .PC time, UTC\\+08:00. by "
                   "wang.li@sub-east-laptop on /dev/ttyUSB0",
                   "1 Units",
                   "Local\\s+Address 300\\s+300\\s+8\\s+\\d+",
                   "Remote\\s+Address 301\\s+301\\s+8\\s+\\d+",
                   "2 Configurations read and written",
                   "Written to the local unit \\(Address 300\\)",
                   "Command 2 Output Delay: 0ms → 50ms",
                   "3 Clocks against the PC",
                   "\\+3\\.000 s",
                   "\\+5\\.000 s",
                   "remote clock minus the local clock is \\+2\\.000 s",
                   "4 Actions",
                   "Configuration written.*yes",
                   "5 Commands between the units",
                   "Remote clock minus local clock: \\+2\\.31[345] s, from commands both ways",
                   // Each heading whole on its line, no word broken.
                   "Command\\s+Direction\\s+Sent\\s+Received\\s+Lost\\s+Unwanted\\s+Not\\s+Transfer\\s+"
                   "95th\\s+"
                   "Maximum\\n\\s+covered\\s+median\\s+percentile\\n",
                   "All\\s+both\\s+40\\s+40\\s+1\\s+1\\s+0\\s+1\\d\\.\\d ms\\s+1\\d\\.\\d ms\\s+1\\d\\.\\d "
                   "ms",
                   "6 Lost and unwanted commands",
                   // The lost send on both clocks: its own, and the remote clock's by the offset.
                   "lost\\s+4\\s+local → remote\\s+Address 300\\s+\\d+\\s+2026-12-5\\s+8:42:00\\.822\\s+"
                   "2026-12-05 08:42:03\\.13\\d\\s+Send Command 4\\.",
                   "unwanted\\s+3\\s+local → remote\\s+Address 301\\s+\\d+\\s+2026-12-5\\s+9:06:02\\.735\\s+"
                   "2026-12-05 09:06:00\\.42\\d\\s+Receive Command 3\\.",
                   "7 Both ends on one time axis",
               };
        QTest::newRow("visit, Chinese")
            << byUuid << visit << true
            << QStringList{
                   "LMX-207 访问报告",
                   "访问 #1，开始于 2026-12-05 10:00:00",
                   "1 装置",
                   "本地\\s+地址 300\\s+300\\s+8",
                   "对端\\s+地址 301\\s+301\\s+8",
                   "2 读取和写入的配置",
                   "命令2 判别时间: 0ms → 50ms",
                   "3 装置时钟与电脑时钟",
                   "\\+5\\.000 s",
                   "4 操作",
                   "写入配置.*是",
                   "5 两端之间的命令",
                   "对端时钟减本地时钟：\\+2\\.31[345] s",
                   "命令\\s+方向\\s+发送\\s+接收\\s+丢失\\s+误收\\s+对端记录未覆盖",
                   "命令合计\\s+双向\\s+40\\s+40\\s+1\\s+1\\s+0",
                   "6 丢失与误收的命令",
                   "丢失\\s+4\\s+本地 → 对端\\s+地址 300\\s+\\d+\\s+2026-12-5\\s+8:42:00\\.822\\s+发命令4。",
                   "误收\\s+3\\s+本地 → 对端\\s+地址 301",
                   "7 两端事件时间轴",
               };
        // The link over the day of the visit's traffic: the figures the visit shows, both clocks'
        // times of the lost command; a day without traffic: nothing counted, no segment.
        QTest::newRow("link, a day")
            << (link + QStringList{"2026-12-05"}) << "the link Address 300 - Address 301" << false
            << QStringList{
                   "LMX-207 report of the link Address 300 – Address\\s+301",
                   "From 2026-12-05 to 2026-12-05 on the local unit's clock",
                   "Local\\s+Address 300\\s+300\\s+8\\s+\\d+",
                   "2 The two clocks",
                   "2026-12-05\\s+2026-12-05\\s+\\+2\\.31[345] s\\s+-?0\\.0\\s+commands both",
                   "Command\\s+Direction\\s+Sent\\s+Received",
                   "All\\s+both\\s+40\\s+40\\s+1\\s+1\\s+0",
                   "4 Lost and unwanted commands",
                   "lost\\s+4\\s+local → remote\\s+Address "
                   "300\\s+\\d+\\s+2026-12-5\\s+8:42:00\\.822\\s+2026-12-05 "
                   "08:42:03\\.13\\d",
               };
        QTest::newRow("link, a day without traffic, Chinese")
            << (link + QStringList{"2026-12-06"}).replaceInStrings("2026-12-5", "2026-12-06")
            << "the link Address 300 - Address 301" << true
            << QStringList{"LMX-207 链路报告：地址 300 – 地址 301", "此期间没有时钟模型的分段",
                           "命令合计\\s+双向\\s+0\\s+0\\s+0\\s+0\\s+0", "4 丢失与误收的命令"};
    }

    void reportHoldsSectionsAndFigures() {
        QFETCH(QStringList, what);
        QFETCH(QString, subject);
        QFETCH(bool, chinese);
        QFETCH(QStringList, expected);
        QFile::remove(RegStorePath());
        if (chinese)
            WriteSetting(QStringLiteral("m_Language"), REG_DWORD, QByteArray("\1\0\0\0", 4));
        const QString pdf = m_env.root() + "/" + QTest::currentDataTag() + ".pdf";
        const CliRun run =
            RunCli(QStringList{"report"} + what + QStringList{"-o", pdf, "--archive", m_archive});
        QCOMPARE(run.err, QByteArray());
        QCOMPARE(run.status, 0);
        QCOMPARE(QString::fromUtf8(run.out),
                 QStringLiteral("report of %1 written to %2\n").arg(subject, pdf));
        // The face joins "fi" as one glyph, which pdftotext gives back as the ligature.
        const QString text = poppler("pdftotext", {"-layout", pdf, "-"}).replace(QChar(0xFB01), "fi");
        if (qEnvironmentVariableIsSet("LMX207_KEEP_REPORT"))
            QFile::copy(pdf, qEnvironmentVariable("LMX207_KEEP_REPORT") + QFileInfo(pdf).fileName());
        for (const QString& e : expected)
            QVERIFY2(QRegularExpression(e).match(text).hasMatch(), qPrintable(e + "\n---\n" + text));
        // A4 pages, the link's picture as one image drawn three times finer than it shows.
        const QString info = poppler("pdfinfo", {pdf});
        QVERIFY2(QRegularExpression("Page size:\\s+595(\\.\\d+)? x 84[12](\\.\\d+)? pts \\(A4\\)")
                     .match(info)
                     .hasMatch(),
                 qPrintable(info));
        const QString images = poppler("pdfimages", {"-list", pdf});
        if (what[0] == "--visit")
            QVERIFY2(QRegularExpression("image\\s+1980\\s+900\\s").match(images).hasMatch(),
                     qPrintable(images));
        if (chinese)
            QVERIFY2(poppler("pdffonts", {pdf}).contains("WenQuanYi"), "the Chinese face is embedded");
    }

    // A link report's period takes its slice of the whole match: cut at a send, the two slices' figures
    // add up to the whole's, the send going with the later one; all time gives the whole's figures.
    void periodPartsAddUpToTheWholeMatch() {
        Archive archive;
        QVERIFY(archive.Open(m_archive, Archive::Mode::ReadOnly));
        LinkEnds ends;
        LinkEvents events;
        QString error;
        QVERIFY2(LinkOfUnits(archive, "300", "301", &ends, &error) &&
                     ReadLinkEvents(archive, ends, &events, &error),
                 qPrintable(error));
        const LinkMatch whole = MatchLink(events);
        const double cut = whole.matches[whole.matches.size() / 2].sentAxisMs;
        const LinkMatch all = MatchWithin(whole, -INFINITY, INFINITY);
        const LinkMatch before = MatchWithin(whole, -INFINITY, cut);
        const LinkMatch after = MatchWithin(whole, cut, INFINITY);
        QCOMPARE(after.matches.first().sentAxisMs, cut);
        QCOMPARE(before.matches.size() + after.matches.size(), whole.matches.size());
        QCOMPARE(before.lost.size() + after.lost.size(), whole.lost.size());
        QCOMPARE(before.unwanted.size() + after.unwanted.size(), whole.unwanted.size());
        auto figures = [](const CommandMatchCounts& c) {
            return QList<qint64>{c.sent,     c.received,       c.matched,           c.lost,
                                 c.unwanted, c.sentNotCovered, c.receivedNotCovered};
        };
        for (size_t p = 0; p < 2; ++p)
            for (size_t dir = 0; dir < 2; ++dir)
                for (size_t k = 0; k < 8; ++k) {
                    const CommandMatchCounts& w = whole.counts[p][dir][k];
                    QCOMPARE(figures(all.counts[p][dir][k]), figures(w));
                    QCOMPARE(all.counts[p][dir][k].transferMedianMs, w.transferMedianMs);
                    QCOMPARE(all.counts[p][dir][k].transferP95Ms, w.transferP95Ms);
                    QCOMPARE(all.counts[p][dir][k].transferMaxMs, w.transferMaxMs);
                    QList<qint64> sum = figures(before.counts[p][dir][k]);
                    for (qsizetype i = 0; i < sum.size(); ++i)
                        sum[i] += figures(after.counts[p][dir][k])[i];
                    QCOMPARE(sum, figures(w));
                }
        QCOMPARE(figures(all.perCommand[2]), figures(whole.perCommand[2]));
        QCOMPARE(all.offsetMs, whole.offsetMs);
        QCOMPARE(int(all.basis), int(whole.basis));
    }

    // The reports' page breaks lines between words only: a long record line wraps rather than
    // squeeze the columns before it, "remote → local" stays whole, and a name without a blank longer
    // than its column breaks inside the column instead of running off the page.
    void columnsKeepTheirWordsOnThePage() {
        const QString record =
            QStringLiteral("<tt style=\"font-size: 8pt;\">") +
            ReportText(
                "173     2026-12-15   18:42:00.822   Receive Command 3 Return, then more words here.") +
            QStringLiteral("</tt>");
        const QString name = "SubstationNorthEastFeederBay7OfTheRiverCrossingLine";
        QTextDocument doc;
        LayOutReport(
            &doc,
            ReportTableHtml({"What", "Command", "Direction", "Logged by", "Record line", "Other clock"},
                            {{"unwanted", "3", "<nobr>remote → local</nobr>", ReportText(name), record,
                              "2026-12-15 18:42:03.136"}}),
            Lang::English);
        const QString pdf = m_env.root() + "/columns.pdf";
        QFile file(pdf);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(ReportPdf(&doc, "columns")) > 0);
        file.close();
        const QString text = poppler("pdftotext", {"-layout", pdf, "-"}).remove(QChar(0x200B));
        QVERIFY2(QRegularExpression(
                     "unwanted\\s+3\\s+remote → local\\s+SubstationNorthEastFeede\\s+173[^\\n]+\\n\\s+"
                     "rBay7OfTheRiverCrossing")
                         .match(text)
                         .hasMatch() &&
                     text.contains("18:42:03.136"),
                 qPrintable(text));
    }

    // A heading never stays alone at the foot of a page: however much comes before it, the picture
    // that follows it is on its page.
    void headingKeptWithWhatFollows() {
        for (int filler = 26; filler <= 44; ++filler) {
            QTextDocument doc;
            QString html;
            for (int i = 0; i < filler; ++i)
                html += QStringLiteral("<p>Filler paragraph %1 of the report.</p>").arg(i);
            // A picture cannot be split: it starts on the page that has room for it whole.
            html += QStringLiteral("<h2>9 Heading under test</h2><p><img src=\"lmx207:test-picture\" "
                                   "width=\"600\" height=\"300\"></p><p>Follows the heading</p>");
            QImage picture(600, 300, QImage::Format_RGB32);
            picture.fill(Qt::gray);
            doc.addResource(QTextDocument::ImageResource, QUrl("lmx207:test-picture"), picture);
            doc.setHtml(html);
            doc.setPageSize(QPageSize(QPageSize::A4).size(QPageSize::Inch) * 96);
            KeepHeadingsWithNext(&doc);
            const QString pdf = m_env.root() + "/heading.pdf";
            {
                QPdfWriter writer(pdf);
                writer.setPageSize(QPageSize(QPageSize::A4));
                writer.setPageMargins(QMarginsF(0, 0, 0, 0));
                doc.print(&writer);
            }
            // The heading's page as pdftotext -layout splits them; the picture's as pdfimages lists it.
            const QStringList pages = poppler("pdftotext", {"-layout", pdf, "-"}).split('\f');
            int headingPage = 0;
            for (int p = 0; p < pages.size(); ++p)
                if (pages[p].contains("9 Heading under test"))
                    headingPage = p + 1;
            const QStringList images = poppler("pdfimages", {"-list", pdf}).split('\n');
            QVERIFY(images.size() > 2);
            QCOMPARE(images[2].simplified().section(' ', 0, 0).toInt(), headingPage);
        }
    }

    void reportCommandRefusesBadInput_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("message");
        const QString out = QDir::tempPath() + "/never-written.pdf";
        const QString kinds = "--visit N, --unit NAME, or --local NAME and --remote NAME";
        QTest::newRow("no kind") << QStringList{"report", "-o", out} << 1 << "report takes " + kinds;
        QTest::newRow("two kinds") << QStringList{"report", "--visit", "1", "--unit", "300", "-o", out} << 1
                                   << "report takes " + kinds;
        QTest::newRow("link without its remote end")
            << QStringList{"report", "--local", "300", "-o", out} << 1 << "report takes " + kinds;
        QTest::newRow("link of a unit with itself")
            << QStringList{"report",    "--local", "300",       "--remote", "300", "--from",
                           "2026-12-5", "--to",    "2026-12-5", "-o",       out}
            << 1 << "\"300\" and \"300\" are the same unit";
        QTest::newRow("unit without its days")
            << QStringList{"report", "--unit", "300", "--from", "2026-12-5", "-o", out} << 1
            << "report of a unit or a link needs --from DATE and --to DATE";
        QTest::newRow("unknown unit")
            << QStringList{"report", "--unit", "302", "--from", "2026-12-5", "--to", "2026-12-5", "-o", out}
            << 1 << "no unit called \"302\" in the archive";
        QTest::newRow("visit empty") << QStringList{"report", "--visit", "", "-o", out} << 1
                                     << "--visit takes a visit's number or id";
        QTest::newRow("unknown visit")
            << QStringList{"report", "--visit", "99", "-o", out} << 1 << "visit 99 is not in the archive";
        QTest::newRow("folder not there") << QStringList{"report", "--visit", "1", "-o", "/nonexistent/r.pdf"}
                                          << 1 << "/nonexistent/r.pdf cannot be written";
        QTest::newRow("language unknown") << QStringList{"report", "--visit", "1", "-o", out, "--lang", "fr"}
                                          << 1 << "--lang takes en or zh, not \"fr\"";
        QTest::newRow("stray operand") << QStringList{"report", "--visit", "1", "r.pdf"} << 1
                                       << "report takes " + kinds + ", not \"r.pdf\"";
    }

    void reportCommandRefusesBadInput() {
        QFETCH(QStringList, args);
        QFETCH(int, status);
        QFETCH(QString, message);
        QFile::remove(RegStorePath());
        const CliRun run = RunCli(args << "--archive" << m_archive);
        QCOMPARE(run.status, status);
        QVERIFY2(run.err.startsWith(("lmx207-logbook: " + message).toUtf8()), run.err.constData());
        QCOMPARE(run.out, QByteArray());
        QVERIFY(!QFile::exists(QDir::tempPath() + "/never-written.pdf"));
    }

    // --lang chooses the report's language whatever the logbook shows; without -o the PDF goes to
    // standard output, and nothing else does.
    void reportLanguageChosenOnTheCommandLine_data() {
        QTest::addColumn<bool>("storedChinese");
        QTest::addColumn<QString>("lang");
        QTest::addColumn<bool>("toFile");
        QTest::addColumn<QString>("title");
        QTest::newRow("zh over English, to standard output") << false << "zh" << false << "LMX-207 访问报告";
        QTest::newRow("en over Chinese, to a file") << true << "en" << true << "LMX-207 visit report";
    }

    void reportLanguageChosenOnTheCommandLine() {
        QFETCH(bool, storedChinese);
        QFETCH(QString, lang);
        QFETCH(bool, toFile);
        QFETCH(QString, title);
        QFile::remove(RegStorePath());
        if (storedChinese)
            WriteSetting(QStringLiteral("m_Language"), REG_DWORD, QByteArray("\1\0\0\0", 4));
        const QString pdf = m_env.root() + "/report-lang-" + lang + ".pdf";
        QStringList args{"report",    "--visit", QString::number(m_facts.visitId), "--lang", lang,
                         "--archive", m_archive};
        if (toFile)
            args << "-o" << pdf;
        const CliRun run = RunCli(args);
        QCOMPARE(run.status, 0);
        if (!toFile) {
            QVERIFY2(run.out.startsWith("%PDF-") && run.out.trimmed().endsWith("%%EOF"),
                     run.out.left(200).constData());
            QFile file(pdf);
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(run.out) == run.out.size());
        }
        const QString text = poppler("pdftotext", {"-layout", pdf, "-"});
        QVERIFY2(text.contains(title), qPrintable(text));
        QFile::remove(RegStorePath());
    }

    // A PDF is no text for a terminal: without -o, report refuses one, status 1, and writes nothing.
    void reportRefusesATerminal() {
        const int master = posix_openpt(O_RDWR | O_NOCTTY);
        QVERIFY(master >= 0 && grantpt(master) == 0 && unlockpt(master) == 0);
        std::FILE* terminal = std::fopen(ptsname(master), "w");
        QVERIFY(terminal);
        char* errBuf = nullptr;
        size_t errLen = 0;
        std::FILE* err = open_memstream(&errBuf, &errLen);
        const int status =
            RunLogbookCommand({"report", "--visit", "1", "--archive", m_archive}, terminal, err);
        std::fclose(err);
        const QByteArray message(errBuf, qsizetype(errLen));
        std::free(errBuf);
        QCOMPARE(status, 1);
        QCOMPARE(message, "lmx207-logbook: report writes a PDF: give -o FILE.pdf, or send standard output to "
                          "a file or a program\n");
        std::fclose(terminal);
        char c = 0;
        QVERIFY(::fcntl(master, F_SETFL, O_NONBLOCK) == 0);
        QCOMPARE(::read(master, &c, 1), ssize_t(-1)); // nothing written to the terminal
        ::close(master);
    }
};

QTEST_MAIN(TstLogbookReport)
#include "tst_logbook_report.moc"

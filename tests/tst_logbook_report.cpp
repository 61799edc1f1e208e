// The visit report of a made-up visit that read both ends of a link: lmx207-logbook report writes
// an A4 PDF whose text (as pdftotext reads it) holds every section and the visit's figures, in the
// language the logbook shows, with the link's picture as an image and the Chinese in an embedded
// WenQuanYi face; bad input is refused with a message and nothing written.

#include "logbook/VisitReport.h"

#include "support/LinkSample.h"
#include "support/LogbookRun.h"
#include "support/Suite.h"
#include <QPdfWriter>
#include <QTextDocument>

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
        QTest::addColumn<bool>("chinese");
        QTest::addColumn<QStringList>("expected"); // regular expressions over pdftotext's text
        // The visit's figures: 40 commands sent, 39 of them received, one lost (a local send of
        // command 4, with its return), one unwanted (a receive of command 3 at the remote unit); clocks 3 s
        // and 5 s ahead of the PC; command 2's Output Delay written from 0ms to 50ms and applied.
        QTest::newRow("English")
            << false
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
                   "All\\s+both\\s+40\\s+40\\s+1\\s+1\\s+0\\s+1\\d\\.\\d ms\\s+1\\d\\.\\d ms\\s+1\\d\\.\\d "
                   "ms",
                   "6 Lost and unwanted commands",
                   "lost\\s+4\\s+local → remote\\s+Address 300\\s+\\d+\\s+2026-12-5\\s+8:42:00\\.822\\s+"
                   "Send Command 4\\.",
                   "unwanted\\s+3\\s+local → remote\\s+Address 301\\s+\\d+\\s+2026-12-5\\s+9:06:02\\.735\\s+"
                   "Receive Command 3\\.",
                   "7 Both ends on one time axis",
               };
        QTest::newRow("Chinese")
            << true
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
                   "命令合计\\s+双向\\s+40\\s+40\\s+1\\s+1\\s+0",
                   "6 丢失与误收的命令",
                   "丢失\\s+4\\s+本地 → 对端\\s+地址 300\\s+\\d+\\s+2026-12-5\\s+8:42:00\\.822\\s+发命令4。",
                   "误收\\s+3\\s+本地 → 对端\\s+地址 301",
                   "7 两端事件时间轴",
               };
    }

    void reportHoldsSectionsAndFigures() {
        QFETCH(bool, chinese);
        QFETCH(QStringList, expected);
        QFile::remove(RegStorePath());
        if (chinese)
            WriteSetting(QStringLiteral("m_Language"), REG_DWORD, QByteArray("\1\0\0\0", 4));
        const QString pdf = m_env.root() + (chinese ? "/report-zh.pdf" : "/report-en.pdf");
        // The visit by its number, or by its id as `lmx207-logbook visits` prints it.
        const QString visit = chinese ? m_facts.visitUuid : QString::number(m_facts.visitId);
        const CliRun run = RunCli({"report", "--visit", visit, "-o", pdf, "--archive", m_archive});
        QCOMPARE(run.err, QByteArray());
        QCOMPARE(run.status, 0);
        QCOMPARE(QString::fromUtf8(run.out),
                 QStringLiteral("report of visit #%1 written to %2\n").arg(m_facts.visitId).arg(pdf));
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
        QVERIFY2(QRegularExpression("image\\s+1980\\s+900\\s").match(images).hasMatch(), qPrintable(images));
        if (chinese)
            QVERIFY2(poppler("pdffonts", {pdf}).contains("WenQuanYi"), "the Chinese face is embedded");
    }

    // A long record line wraps rather than squeeze the columns before it: "remote → local" and a
    // unit's name stay whole on their line, as pdftotext -layout lays the page out.
    void shortColumnsKeepTheirWords() {
        const QString record =
            QStringLiteral("<tt style=\"font-size: 8pt;\">") +
            QStringLiteral(
                "173     2026-12-15   18:42:00.822   Receive Command 3 Return, then more words here.")
                .toHtmlEscaped() +
            QStringLiteral("</tt>");
        QTextDocument doc;
        QFont font;
        font.setPointSizeF(9);
        doc.setDefaultFont(font);
        doc.setHtml(ReportTableHtml({"What", "Command", "Direction", "Logged by", "Record line"},
                                    {{"unwanted", "3", "<nobr>remote → local</nobr>",
                                      "<nobr>Substation North-East feeder</nobr>", record}}));
        doc.setPageSize(QPageSize(QPageSize::A4).size(QPageSize::Inch) * 96);
        const QString pdf = m_env.root() + "/columns.pdf";
        {
            QPdfWriter writer(pdf);
            writer.setPageSize(QPageSize(QPageSize::A4));
            doc.print(&writer);
        }
        const QString text = poppler("pdftotext", {"-layout", pdf, "-"});
        QVERIFY2(QRegularExpression("unwanted\\s+3\\s+remote → local\\s+Substation North-East feeder\\s+173")
                     .match(text)
                     .hasMatch(),
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
        QTest::newRow("no visit") << QStringList{"report", "-o", out} << 1 << "report needs --visit N";
        QTest::newRow("no output") << QStringList{"report", "--visit", "1"} << 1
                                   << "report needs -o FILE.pdf";
        QTest::newRow("visit empty") << QStringList{"report", "--visit", "", "-o", out} << 1
                                     << "--visit takes a visit's number or id";
        QTest::newRow("unknown visit")
            << QStringList{"report", "--visit", "99", "-o", out} << 1 << "visit 99 is not in the archive";
        QTest::newRow("folder not there") << QStringList{"report", "--visit", "1", "-o", "/nonexistent/r.pdf"}
                                          << 1 << "/nonexistent/r.pdf cannot be written";
        QTest::newRow("language unknown") << QStringList{"report", "--visit", "1", "-o", out, "--lang", "fr"}
                                          << 1 << "--lang takes en or zh, not \"fr\"";
        QTest::newRow("stray operand") << QStringList{"report", "--visit", "1", "r.pdf"} << 1
                                       << "report takes --visit N -o FILE.pdf, not \"r.pdf\"";
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

    // --lang chooses the report's language whatever the logbook shows.
    void reportLanguageChosenOnTheCommandLine_data() {
        QTest::addColumn<bool>("storedChinese");
        QTest::addColumn<QString>("lang");
        QTest::addColumn<QString>("title");
        QTest::newRow("zh over English") << false << "zh"
                                         << "LMX-207 访问报告";
        QTest::newRow("en over Chinese") << true << "en"
                                         << "LMX-207 visit report";
    }

    void reportLanguageChosenOnTheCommandLine() {
        QFETCH(bool, storedChinese);
        QFETCH(QString, lang);
        QFETCH(QString, title);
        QFile::remove(RegStorePath());
        if (storedChinese)
            WriteSetting(QStringLiteral("m_Language"), REG_DWORD, QByteArray("\1\0\0\0", 4));
        const QString pdf = m_env.root() + "/report-lang-" + lang + ".pdf";
        const CliRun run = RunCli({"report", "--visit", QString::number(m_facts.visitId), "--lang", lang,
                                   "-o", pdf, "--archive", m_archive});
        QCOMPARE(run.status, 0);
        const QString text = poppler("pdftotext", {"-layout", pdf, "-"});
        QVERIFY2(text.contains(title), qPrintable(text));
        QFile::remove(RegStorePath());
    }

    // An archive that is not there: status 2, and none is made.
    void reportOfMissingArchiveIsRefused() {
        const QString missing = m_env.root() + "/none/logbook.sqlite";
        const CliRun run =
            RunCli({"report", "--visit", "1", "-o", m_env.root() + "/r.pdf", "--archive", missing});
        QCOMPARE(run.status, 2);
        QVERIFY2(run.err.startsWith("lmx207-logbook: the archive cannot be used"), run.err.constData());
        QVERIFY(!QFile::exists(missing));
    }
};

QTEST_MAIN(TstLogbookReport)
#include "tst_logbook_report.moc"

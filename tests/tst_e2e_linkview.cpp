// Both ends of a link from the simulated pair to the Link tab and the visit report: the link
// carried commands while the remote clock gained a second a day and was set an hour forward in
// the middle; one command never arrived and the local unit logged a receive nobody sent. Both
// units' records read through the record dialogs over a real pseudo-terminal land in the archive;
// the Link tab then shows two clock stretches and lists exactly those commands, and the visit's
// report states the same.
#include "archive/HandOver.h"
#include "logbook/LinkPage.h"
#include "logbook/VisitReport.h"
#include "records/LocalRecordDlg.h"
#include "records/RemoteRecordDlg.h"
#include "sim/SimPtyServer.h"
#include "sim/SimTraffic.h"
#include "support/Suite.h"

class TstE2eLinkView : public QObject {
    Q_OBJECT

    static constexpr int kWaitMs = 30000;
    TestEnv m_env;
    SimPtyServer m_server;

    // One complete read in a record dialog: its status line.
    template <class Dlg> QString ReadRecords() {
        auto dlg = OpenDialog<Dlg>(0);
        if (!QTest::qWaitFor([&] { return dlg->GetDlgItem(3)->isEnabled(); }, kWaitMs))
            return QStringLiteral("<no answer>");
        return dlg->GetDlgItem(1005)->property("text").toString();
    }

    // Blanks as one space, the face's ligatures ("fi", "ff") as their letters.
    static QString simplified(const QString& text) {
        return text.normalized(QString::NormalizationForm_KC).simplified();
    }

private slots:
    void initTestCase() {
        CMSComm::SetBackendFactory(nullptr);
        QString error;
        QVERIFY2(m_server.start(&error), qPrintable(error));
        qputenv("LMX207_COM1", m_server.slavePath().toLocal8Bit());
        ArchiveHandOverNewVisit();
    }

    void linkTabAndReportShowWhatTheLinkCarried() {
        SimTraffic traffic;
        traffic.commands = 60;
        traffic.remoteDriftMsPerDay = 1000;
        traffic.remoteClockSetAfter = 30;
        traffic.remoteClockSetMs = 3600000;
        traffic.lose = {11};   // local → remote
        traffic.invent = {20}; // remote → local: the local unit logs the twin
        QList<SimTrafficCommand> sent;
        m_server.withPair([&](SimPair& p) {
            p.local().log.clear();
            p.remote().log.clear();
            sent = AddSimTraffic(p, traffic, QDateTime::currentDateTime());
        });
        // What the list must hold: the lost command and its return at the sender's (local) clock,
        // the twin and its return at the local clock, in time order.
        QStringList expected;
        for (const SimTrafficCommand& c : sent) {
            if (!c.lost && c.number != 0)
                continue;
            const QDateTime at = c.lost ? c.sentAt : c.receivedAt;
            for (int ret = 0; ret < 2; ++ret)
                expected << QStringList{at.addMSecs(100 * ret).toString("yyyy-MM-dd HH:mm:ss.zzz"),
                                        ret ? QString("%1 return").arg(c.command)
                                            : QString::number(c.command),
                                        c.localToRemote ? "local → remote" : "remote → local",
                                        c.lost ? "lost" : "unwanted"}
                                .join(" | ");
        }
        QCOMPARE(expected.size(), 4);

        QVERIFY(ReadRecords<CLocalRecordDlg>().startsWith("122 record(s) in "));
        QVERIFY(ReadRecords<CRemoteRecordDlg>().startsWith("118 record(s) in "));
        QVERIFY(ArchiveHandOverFlush(kWaitMs));

        CLinkPage page(DefaultArchivePath());
        page.resize(1000, 640);
        page.show();
        page.Reload();
        QVERIFY(QTest::qWaitFor([&] { return page.Result().events != nullptr; }, kWaitMs));
        const LinkMatch& match = page.Result().match;
        QCOMPARE(match.segments.size(), 2);
        QCOMPARE(match.segments[1].start, SegmentStart::Step);
        for (const ClockSegment& s : match.segments) // a second a day, over half an hour each
            QVERIFY2(std::abs(s.MsPerDay() - 1000) < 300, qPrintable(QString::number(s.MsPerDay())));
        const QAbstractItemModel* rows = page.ProblemsTable()->model();
        QStringList listed;
        for (int r = 0; r < rows->rowCount(); ++r) {
            QStringList cells;
            for (int c = 0; c < rows->columnCount(); ++c)
                cells << rows->index(r, c).data().toString();
            listed << cells.join(" | ");
        }
        QCOMPARE(listed, expected);

        QVERIFY(page.Result().ends.visitId); // the visit that read both
        VisitReportData data;
        QString error;
        QVERIFY2(
            LoadVisitReport(DefaultArchivePath(), *page.Result().ends.visitId, Lang::English, &data, &error),
            qPrintable(error));
        const QString pdf = m_env.root() + "/visit.pdf";
        QVERIFY2(WriteVisitReport(data, Lang::English, pdf, &error), qPrintable(error));
        QProcess p;
        p.start("pdftotext", {"-layout", pdf, "-"});
        QVERIFY(p.waitForFinished(60000) && p.exitCode() == 0);
        const QString text = simplified(QString::fromUtf8(p.readAllStandardOutput()));
        // The stretches as the tab states them, and the counts: 1 lost and 1 unwanted command,
        // 1 lost and 1 unwanted return.
        const QString stated = simplified(page.OffsetLabel()->text());
        QVERIFY2(stated.count("(local clock)") == 2, qPrintable(stated));
        QVERIFY2(text.contains(stated), qPrintable(stated + "\n---\n" + text));
        QVERIFY2(
            QRegularExpression("All both 60 60 1 1 0 .* Returns both 60 60 1 1 0 ").match(text).hasMatch(),
            qPrintable(text));
    }
};

QTEST_MAIN(TstE2eLinkView)
#include "tst_e2e_linkview.moc"

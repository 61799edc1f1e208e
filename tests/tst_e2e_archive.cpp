// The logbook's archive behind the real dialogs, against the simulated pair on a pseudo-terminal:
// what the dialogs hand over lands once, survives a Clear, and each write is an action whose
// "applied" the read-back decides. An archive that cannot be written changes nothing a dialog
// does; the failure goes to the journal.
#include "archive/Archive.h"
#include "archive/ArchiveFormat.h"
#include "archive/HandOver.h"
#include "config/LocalConfigDlg.h"
#include "config/RemoteConfigDlg.h"
#include "records/LocalRecordDlg.h"
#include "records/RemoteRecordDlg.h"
#include "sim/SimPtyServer.h"
#include "support/Suite.h"

class TestE2eArchive : public QObject {
    Q_OBJECT

    static constexpr int kWaitMs = 15000;
    std::unique_ptr<TestEnv> m_env;
    SimPtyServer m_server;

    // Everything handed over so far, read through a connection of the test's own.
    struct Kept {
        qint64 events = 0;
        QList<UnitRow> units;
        QList<ActionRow> actions;
        QList<QPair<qint64, int>> eventKeys;
    };
    Kept Archived() {
        Kept k;
        if (!ArchiveHandOverFlush(kWaitMs))
            return k;
        Archive a;
        if (!a.Open(DefaultArchivePath(), Archive::Mode::ReadOnly))
            return k;
        k.events = a.EventCount({});
        k.units = a.Units();
        k.actions = a.Actions(std::nullopt, 0, 100);
        a.ForEachEvent({}, EventSort::UnitTime, Qt::AscendingOrder, [&](const EventRow& r) {
            k.eventKeys << qMakePair(r.unitTime, r.code);
            return true;
        });
        return k;
    }

    // The unit's log as the archive keys it.
    QList<QPair<qint64, int>> LogKeys(bool local) {
        QList<QPair<qint64, int>> keys;
        m_server.withPair([&](SimPair& p) {
            for (const SimRecord& r : (local ? p.local() : p.remote()).log)
                keys << qMakePair(UnitTimeKey(r.data()), int(r[6]));
        });
        std::sort(keys.begin(), keys.end());
        return keys;
    }

    // One complete read in a record dialog; returns its list.
    template <class Dlg> QStringList ReadRecords() {
        auto dlg = OpenDialog<Dlg>(0);
        if (!QTest::qWaitFor([&] { return dlg->GetDlgItem(3)->isEnabled(); }, kWaitMs))
            return {QStringLiteral("<no answer>")};
        return Lines(*dlg) << dlg->GetDlgItem(1005)->property("text").toString();
    }

private slots:
    void initTestCase() {
        CMSComm::SetBackendFactory(nullptr);
        QString error;
        QVERIFY2(m_server.start(&error), qPrintable(error));
        qputenv("LMX207_COM1", m_server.slavePath().toLocal8Bit());
    }
    void init() {
        m_env = std::make_unique<TestEnv>(); // a fresh archive
        ArchiveHandOverNewVisit();
        ResetMessageBeepCount();
    }

    // A read lands; a grown log adds only its new events; after Clear and the read that follows,
    // the cleared events are still there and the clear is applied.
    void recordReadsKeptOnce() {
        m_server.withPair([](SimPair& p) { p.local().seedLog(42); });
        ReadRecords<CLocalRecordDlg>();
        Kept k = Archived();
        QCOMPARE(k.eventKeys, LogKeys(true));
        m_server.withPair([](SimPair& p) {
            auto& log = p.local().log;
            SimRecord newest = log.front();
            newest[4] = 0x59; // the same minute, second 59
            newest[6] = 33;   // receive alarm
            log.insert(log.begin(), newest);
        });
        const QList<QPair<qint64, int>> grown = LogKeys(true);
        ReadRecords<CLocalRecordDlg>();
        k = Archived();
        QCOMPARE(k.events, 43);
        QCOMPARE(k.eventKeys, grown);

        auto dlg = OpenDialog<CLocalRecordDlg>(0);
        QTRY_VERIFY_WITH_TIMEOUT(dlg->GetDlgItem(4)->isEnabled(), kWaitMs);
        AnswerConfirmation(IDOK);
        dlg->GetDlgItemAs<QAbstractButton>(4)->click();
        QTRY_COMPARE_WITH_TIMEOUT(dlg->GetDlgItem(1005)->property("text").toString(),
                                  QStringLiteral("No record ."), kWaitMs);
        k = Archived();
        QCOMPARE(k.eventKeys, grown);
        QCOMPARE(k.actions.size(), 1);
        QCOMPARE(k.actions[0].kind, QStringLiteral("record-clear"));
        QCOMPARE(k.actions[0].shownBefore, QStringLiteral("43 record(s) :"));
        QCOMPARE(k.actions[0].applied, std::optional<bool>(true));
        QCOMPARE(k.actions[0].port, m_server.slavePath());
    }

    // A configuration write of either dialog is an action with the settings shown before it; the
    // remote dialog's own read-back decides "applied", the local one's the next configuration
    // read of the visit.
    void configWriteIsAnAction_data() {
        QTest::addColumn<bool>("local");
        QTest::newRow("local") << true;
        QTest::newRow("remote") << false;
    }
    void configWriteIsAnAction() {
        QFETCH(bool, local);
        m_server.withPair([&](SimPair& p) {
            SimUnit& u = local ? p.local() : p.remote();
            u.commands = 8;
            u.address = 300;
            u.setExampleSettings();
        });
        auto write = [&](auto& dlg) {
            QTRY_COMPARE_WITH_TIMEOUT(dlg.m_edtAddress->text(), QStringLiteral("300"), kWaitMs);
            QTRY_VERIFY_WITH_TIMEOUT(!dlg.m_edtTime->text().isEmpty(), kWaitMs);
            dlg.m_cells.outputExtend[6]->setCurrentIndex(2); // command 7
            dlg.m_edtAddress->setText(QStringLiteral("4321"));
            if constexpr (std::is_same_v<std::decay_t<decltype(dlg)>, CLocalConfigDlg>)
                QTRY_VERIFY_WITH_TIMEOUT(!dlg.m_bPolling && dlg.m_nRxCount == 7, kWaitMs);
            dlg.m_btnWriteConfig.click();
        };
        if (local) {
            {
                CLocalConfigDlg dlg;
                dlg.Create();
                write(dlg);
                QTRY_VERIFY_WITH_TIMEOUT(!Archived().actions.isEmpty(), kWaitMs);
                QCOMPARE(Archived().actions[0].applied, std::optional<bool>()); // no read-back yet
            }
            CLocalConfigDlg again;
            again.Create();
            QTRY_COMPARE_WITH_TIMEOUT(again.m_edtAddress->text(), QStringLiteral("4321"), kWaitMs);
        } else {
            CRemoteConfigDlg dlg;
            dlg.Create();
            write(dlg);
            QTRY_VERIFY_WITH_TIMEOUT(!Archived().actions.isEmpty() && Archived().actions[0].applied, kWaitMs);
        }
        QCOMPARE(MessageBeepCount(), 0); // no link error on the way
        const Kept k = Archived();
        QCOMPARE(k.actions.size(), 1);
        const ActionRow& a = k.actions[0];
        QCOMPARE(a.kind, QStringLiteral("config-write"));
        QCOMPARE(a.side, local ? UnitSide::Local : UnitSide::Remote);
        QCOMPARE(a.sent.toHex(' '), QByteArray("10 e1 81 e4 55 1b 20"));
        QCOMPARE(a.shownBefore,
                 QStringLiteral("address 300, 8 commands, input 1 0 0 0 0 0 0 1, output 0 1 2 3 1 1 1 "
                                "1, extend 3 2 1 0 0 0 0 0"));
        QCOMPARE(a.applied, std::optional<bool>(true));
        QCOMPARE(k.units.size(), 1); // the unit with its new address
        QCOMPARE(k.units[0].address, std::optional<int>(4321));
    }

    // A date-and-time write is an action with the bytes sent; the answer after it decides
    // "applied", and only the dialog's first answer and that one are kept of the polls.
    void clockWriteIsAnAction() {
        m_server.withPair([](SimPair& p) { p.local().setClock(QDateTime::currentDateTime()); });
        {
            CLocalConfigDlg dlg;
            dlg.Create();
            QTRY_VERIFY_WITH_TIMEOUT(!dlg.m_edtTime->text().isEmpty(), kWaitMs);
            dlg.m_dtpDate->setDate(QDate(2031, 5, 6));
            dlg.m_dtpTime->setTime(QTime(7, 8, 9));
            QTRY_VERIFY_WITH_TIMEOUT(dlg.m_btnWriteTime.isEnabled(), kWaitMs);
            // As for Write Config: a poll's answer still coming in would hide the invitation.
            QTRY_VERIFY_WITH_TIMEOUT(!dlg.m_bPolling && dlg.m_nRxCount == 7, kWaitMs);
            dlg.m_btnWriteTime.click();
            QTRY_VERIFY_WITH_TIMEOUT(dlg.m_edtDate->text() == QStringLiteral("2031-5-6"), kWaitMs);
            QTest::qWait(2500); // more polls
        }
        const Kept k = Archived();
        QCOMPARE(k.actions.size(), 1);
        QCOMPARE(k.actions[0].kind, QStringLiteral("clock-write"));
        QCOMPARE(k.actions[0].sent.toHex(' '), QByteArray("31 05 06 07 08 09"));
        QCOMPARE(k.actions[0].applied, std::optional<bool>(true));
        Archive a;
        QVERIFY(a.Open(DefaultArchivePath(), Archive::Mode::ReadOnly));
        const QList<ClockReading> clock = a.ClockHistory(k.units[0].id);
        QCOMPARE(clock.size(), 2);
        QVERIFY(std::abs(clock[0].differenceMs) < 5000);
        QVERIFY(clock[1].unitClock.startsWith(QStringLiteral("2031-05-06 07:08:")));
    }

    // Another process holds the archive's write lock beyond the busy timeout while the dialog reads
    // records: the dialog does as always, the read waits in the spool and goes in, whole, once the
    // lock is gone; the journal says what waited and when it went in.
    void readKeptThroughAnotherWritersLock() {
        if (QStandardPaths::findExecutable("sqlite3").isEmpty())
            QSKIP("the sqlite3 shell is not installed");
        m_server.withPair([](SimPair& p) { p.local().seedLog(30); });
        const QString path = DefaultArchivePath();
        {
            Archive a;
            QVERIFY(a.Open(path, Archive::Mode::ReadWrite));
        }
        QProcess shell; // the other writer
        shell.start("sqlite3", {path});
        QVERIFY(shell.waitForStarted(5000));
        shell.write("BEGIN IMMEDIATE;\nSELECT 'locked';\n");
        QVERIFY(shell.waitForReadyRead(5000));
        QVERIFY(ReadRecords<CLocalRecordDlg>().last().startsWith(QStringLiteral("30 record(s) in ")));
        QTRY_COMPARE_WITH_TIMEOUT(ReadArchiveJournal(path).size(), 1, kWaitMs);
        shell.closeWriteChannel();
        QVERIFY(shell.waitForFinished(5000));
        QTRY_COMPARE_WITH_TIMEOUT(Archived().eventKeys, LogKeys(true), kWaitMs);
        QCOMPARE(MessageBeepCount(), 0);
        const QList<JournalEntry> journal = ReadArchiveJournal(path);
        QCOMPARE(journal.size(), 2);
        QVERIFY2(journal[0].message.startsWith(QStringLiteral("record answer waits in the spool: ")),
                 qPrintable(journal[0].message));
        QVERIFY2(journal[1].message.endsWith(QStringLiteral(" went in after waiting in the spool")),
                 qPrintable(journal[1].message));
    }

    // With the archive's place taken by a folder, the dialog lists and says exactly what it does
    // without a logbook; the read waits in the spool, and the journal says why.
    void archiveTroubleChangesNoDialog() {
        m_server.withPair([](SimPair& p) { p.remote().seedLog(5); });
        const QStringList expected = ReadRecords<CRemoteRecordDlg>();
        QVERIFY(ArchiveHandOverFlush(kWaitMs));
        qputenv("XDG_DATA_HOME", (m_env->root() + "/troubled").toLocal8Bit());
        ArchiveHandOverNewVisit();
        const QString path = DefaultArchivePath();
        QDir().mkpath(path);
        QCOMPARE(ReadRecords<CRemoteRecordDlg>(), expected);
        QCOMPARE(MessageBeepCount(), 0);
        QVERIFY(ArchiveHandOverFlush(kWaitMs));
        const QList<JournalEntry> journal = ReadArchiveJournal(path);
        QCOMPARE(journal.size(), 1);
        QVERIFY2(journal[0].message.startsWith(QStringLiteral("record answer waits in the spool: ")),
                 qPrintable(journal[0].message));
        QVERIFY(QFileInfo(path).isDir());
    }
};

QTEST_MAIN(TestE2eArchive)
#include "tst_e2e_archive.moc"

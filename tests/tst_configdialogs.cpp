// Both configuration dialogs on the in-memory line: the local one, what both share (the texts of
// their templates, Reset Config, the address check), then the remote one as its differences.
#include "config/LocalConfigDlg.h"
#include "config/RemoteConfigDlg.h"
#include "link/DeviceLink.h"
#include "support/Suite.h"

namespace {

const QByteArray kExample = QByteArray::fromHex("7601012C81E4551B00");
const QString kRange = "Please enter an integer between 0 and 65000.", kInteger = "Please enter an integer.";

// Open, configuration answer (the example, with the dialog's own first byte and the flags given),
// first tick, date-and-time answer: the dialog shows the unit, and no poll is unanswered.
template <class Dlg> std::unique_ptr<Dlg> OpenShowing(int chinese = 0, char flags = 0x01) {
    constexpr bool remote = std::is_same_v<Dlg, CRemoteConfigDlg>;
    auto dlg = OpenDialog<Dlg>(chinese);
    Line()->deliver(QByteArray::fromHex(remote ? "89" : "76") + flags + kExample.mid(2));
    dlg->OnTimer(remote ? 3 : 1);
    Line()->deliver(QByteArray::fromHex(remote ? "90081226235958" : "6F081226235958"));
    Line()->m_sent.clear();
    return dlg;
}
std::unique_ptr<CDialog> OpenShowing(bool remote, int chinese = 0, char flags = 0x01) {
    if (remote)
        return OpenShowing<CRemoteConfigDlg>(chinese, flags);
    return OpenShowing<CLocalConfigDlg>(chinese, flags);
}

// One row per template, from data/config_texts.txt, one line each, fields split by '|': dialog,
// language, the flags byte of the unit's answer, then the texts the template shows once the answer
// is in: window title, the column header over the grid, the status line. Every blank counts.
void RowsPerTemplate() {
    QTest::addColumn<QStringList>("fields");
    QFile file(QFINDTESTDATA("data/config_texts.txt"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    for (const QString& line : QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts))
        QTest::newRow(qPrintable(line.section('|', 0, 1))) << line.split('|');
}
} // namespace

class TestConfigDialogs : public QObject {
    Q_OBJECT

    TestEnv m_env;
    MessageBoxRecorder m_boxes;
    QStringList m_pauses; // each pause, and how many bytes had been sent before it

private slots:
    void initTestCase() {
        MemoryCommBackend::InstallFactory();
        SetSleepHook([this](DWORD ms) {
            m_pauses << QString("%1 ms after %2 bytes").arg(ms).arg(Line()->m_sent.size());
        });
    }
    void init() {
        m_boxes.calls.clear();
        m_pauses.clear();
        ResetMessageBeepCount();
    }

    // Opening sends the configuration read and arms the first check: timer 1 at 60 ms (local) or
    // timer 3 at 90 ms (remote), nothing else; in either language.
    void openArmsTheFirstCheck_data() {
        QTest::addColumn<bool>("remote");
        QTest::addColumn<int>("chinese");
        QTest::addColumn<QString>("sentAndTimers");
        QTest::newRow("local") << false << 0 << "89 | timers 60 -1 -1";
        QTest::newRow("local zh") << false << 1 << "89 | timers 60 -1 -1";
        QTest::newRow("remote") << true << 0 << "76 | timers -1 -1 90";
        QTest::newRow("remote zh") << true << 1 << "76 | timers -1 -1 90";
    }
    void openArmsTheFirstCheck() {
        QFETCH(bool, remote);
        QFETCH(int, chinese);
        QFETCH(QString, sentAndTimers);
        std::unique_ptr<CDialog> dlg;
        if (remote)
            dlg = OpenDialog<CRemoteConfigDlg>(chinese);
        else
            dlg = OpenDialog<CLocalConfigDlg>(chinese);
        QCOMPARE(Line()->m_sent.toHex() + " | " + ConfigState(*dlg, 3).section(", ", -1), sentAndTimers);
    }

    // The answer fills the grid; the first tick starts the poll, every second, and Write Date &&
    // Time stays off while both pickers hold their initial values.
    void localReadsThenPolls() {
        auto dlg = OpenDialog<CLocalConfigDlg>();
        Line()->deliver(kExample);
        QCOMPARE(Selections(*dlg),
                 QList<int>({0, 1, 2, 3, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 1, 3, 2, 1, 0, 0, 0, 0, 0}));
        dlg->OnTimer(1);
        QVERIFY(ConfigState(*dlg, 2).endsWith("config on, time off, timers 1000 -1"));
    }

    // Title, column header and status line (a unit of 4 or 8 commands), exactly.
    void textsOfEachTemplate_data() { RowsPerTemplate(); }
    void textsOfEachTemplate() {
        QFETCH(QStringList, fields);
        auto dlg = OpenShowing(fields[0] == "remote", fields[1] == "zh", char(fields[2].toInt(nullptr, 16)));
        const QString header = dlg->findChild<QGroupBox*>()->title();
        QCOMPARE(QStringList({dlg->windowTitle(), header, dlg->GetDlgItemText(1005)}), fields.mid(3));
    }

    // A static whose text fits keeps the template's font.
    void fittingTextsKeepTheTemplatesFont_data() { RowsPerTemplate(); }
    void fittingTextsKeepTheTemplatesFont() {
        QFETCH(QStringList, fields);
        auto dlg = OpenShowing(fields[0] == "remote", fields[1] == "zh", char(fields[2].toInt(nullptr, 16)));
        const int size = dlg->font().pixelSize();
        QStringList shrunk;
        for (QLabel* label : dlg->findChildren<QLabel*>())
            if (label->font().pixelSize() != size &&
                QFontMetrics(dlg->font()).horizontalAdvance(label->text()) <= label->width())
                shrunk << label->text();
        QCOMPARE(shrunk, QStringList());
    }

    // A cell is as high as its edit field: the template's height is that of its drop-down list.
    void cellsAsHighAsTheirField() {
        auto dlg = OpenDialog<CRemoteConfigDlg>();
        for (QComboBox* cell : dlg->findChildren<QComboBox*>())
            QCOMPARE(cell->height(), cell->sizeHint().height());
    }

    // The unit's date and time are centred in their read-only fields.
    void dateAndTimeCentred() {
        auto dlg = OpenDialog<CRemoteConfigDlg>();
        for (int id : {1001, 1002})
            QCOMPARE(dlg->GetDlgItemAs<QLineEdit>(id)->alignment(), Qt::AlignCenter);
    }

    // Item 0 in every used cell, in either dialog; the emptied cells of a 4-command unit stay
    // empty.
    void resetConfig_data() { RowsPerTemplate(); }
    void resetConfig() {
        QFETCH(QStringList, fields);
        auto dlg = OpenShowing(fields[0] == "remote", fields[1] == "zh", char(fields[2].toInt(nullptr, 16)));
        dlg->GetDlgItemAs<QAbstractButton>(7)->click();
        const int commands = fields[2] == "FE" ? 4 : 8;
        const QList<int> row = QList<int>(commands, 0) + QList<int>(8 - commands, -1);
        QCOMPARE(Selections(*dlg), row + row + row);
    }

    // Dropped while a poll is unanswered; once any of its answer is in: 0x92, the poll stops and
    // the button is locked for 800 ms; the first invitation brings the block, and the poll
    // resumes a second later.
    void localWriteConfig() {
        auto dlg = OpenShowing<CLocalConfigDlg>();
        dlg->OnTimer(1);
        dlg->m_edtAddress->setText(QStringLiteral("65000"));
        dlg->m_btnWriteConfig.click();
        QCOMPARE(Line()->m_sent, QByteArray::fromHex("90"));
        Line()->deliver(QByteArray::fromHex("6F08"));
        dlg->m_btnWriteConfig.click();
        QVERIFY(ConfigState(*dlg, 2).endsWith("config off, time off, timers -1 800"));
        Line()->deliver(QByteArray::fromHex("6D"));
        Line()->deliver(QByteArray::fromHex("6D"));
        QCOMPARE(Line()->m_sent, QByteArray::fromHex("9092FDE881E4551B00"));
        dlg->OnTimer(2);
        QVERIFY(ConfigState(*dlg, 2).endsWith("config on, time off, timers 1000 -1"));
    }

    // A picker still at 1 January 2003, or at 00:00:00, leaves its group unchanged (0xFF); a
    // change of the year, or of the seconds, alone is written. Only the first invitation brings the bytes.
    void localWriteDateTime_data() {
        QTest::addColumn<QDate>("date");
        QTest::addColumn<QTime>("time");
        QTest::addColumn<QByteArray>("sent");
        QTest::newRow("year") << QDate(2010, 1, 1) << QTime(0, 0, 0) << QByteArray("91 100101 FF");
        QTest::newRow("second") << QDate(2003, 1, 1) << QTime(0, 0, 30) << QByteArray("91 FF 000030");
    }
    void localWriteDateTime() {
        QFETCH(QDate, date);
        QFETCH(QTime, time);
        QFETCH(QByteArray, sent);
        auto dlg = OpenShowing<CLocalConfigDlg>();
        dlg->m_dtpTime->setTime(QTime(12, 0, 0));
        dlg->OnTimer(1); // the button follows the pickers at each tick
        dlg->m_dtpDate->setDate(date);
        dlg->m_dtpTime->setTime(time);
        dlg->m_btnWriteTime.click();
        Line()->deliver(QByteArray::fromHex("6E"));
        Line()->deliver(QByteArray::fromHex("6E"));
        QCOMPARE(Line()->m_sent, QByteArray::fromHex("90" + sent)); // after the tick's poll
    }

    // Write Config refuses an address above 65000, or any text that is not a number: the standard message,
    // the focus back on the edit, nothing sent, and the poll (local) or the clock (remote) stopped.
    void addressRefused_data() {
        QTest::addColumn<bool>("remote");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("message");
        QTest::newRow("local 65001") << false << "65001" << kRange;
        QTest::newRow("remote letters") << true << "12a" << kInteger;
    }
    void addressRefused() {
        QFETCH(bool, remote);
        QFETCH(QString, typed);
        QFETCH(QString, message);
        auto dlg = OpenShowing(remote);
        dlg->SetDlgItemText(1077, typed);
        dlg->GetDlgItemAs<QAbstractButton>(6)->click();
        QCOMPARE(QPair(m_boxes.calls.size(), m_boxes.calls.value(0).text), QPair(qsizetype(1), message));
        QCOMPARE(dlg->focusWidget(), dlg->GetDlgItem(1077));
        QVERIFY(ConfigState(*dlg, 3).endsWith("config on, time off, timers -1 -1 -1"));
        QCOMPARE(Line()->m_sent, QByteArray());
    }

    // Remote: once the read (0x76) is answered, the unit's clock is read (0x6F) and from then on
    // counted by the dialog itself: over midnight without touching the date, sending nothing.
    void remoteReadsOnceThenCountsItsClock() {
        auto dlg = OpenDialog<CRemoteConfigDlg>();
        Line()->deliver(QByteArray::fromHex("8901012C81E4551B00"));
        dlg->OnTimer(3);
        Line()->deliver(QByteArray::fromHex("90081226235958"));
        dlg->OnTimer(1);
        dlg->OnTimer(1);
        QCOMPARE(dlg->m_edtDate->text() + ' ' + dlg->m_edtTime->text(), QString("2008-12-26 0:00:00"));
        QCOMPARE(QPair(Line()->m_sent, dlg->TimerPeriod(1)), QPair(QByteArray::fromHex("766F"), 1000));
    }

    // 0x6D and a lock of 1400 ms; the invitation brings the block, then 1050 ms pass before the
    // read-back 0x76, whose answer is shown (what the unit holds, not what was chosen).
    void remoteWriteConfigPausesBeforeReadBack() {
        auto dlg = OpenShowing<CRemoteConfigDlg>();
        dlg->m_edtAddress->setText(QStringLiteral("301"));
        dlg->m_btnWriteConfig.click();
        QCOMPARE(QPair(Line()->m_sent, dlg->TimerPeriod(2)), QPair(QByteArray::fromHex("6D"), 1400));
        Line()->deliver(QByteArray::fromHex("92"));
        QCOMPARE(Line()->m_sent, QByteArray::fromHex("6D012D81E4551B0076"));
        QCOMPARE(m_pauses, QStringList("1050 ms after 8 bytes"));
        Line()->deliver(QByteArray::fromHex("89012FFF0000000000"));
        QCOMPARE(dlg->m_edtAddress->text(), QStringLiteral("12287"));
    }

    // Always all six bytes, a time of 00:00:00 too; 60 ms later the read-back 0x6F.
    void remoteWriteDateTimePausesBeforeReadBack() {
        auto dlg = OpenShowing<CRemoteConfigDlg>();
        dlg->m_dtpDate->setDate(QDate(2010, 2, 3));
        dlg->OnTimer(1);
        dlg->m_btnWriteTime.click();
        Line()->deliver(QByteArray::fromHex("91"));
        QCOMPARE(Line()->m_sent, QByteArray::fromHex("6E1002030000006F"));
        QCOMPARE(m_pauses, QStringList("60 ms after 7 bytes"));
    }

    // Write Config pressed before the first check: the check finds the write unanswered, reports
    // the link error and reads no clock.
    void remoteWriteBeforeTheFirstCheckUnanswered() {
        auto dlg = OpenDialog<CRemoteConfigDlg>();
        Line()->deliver(QByteArray::fromHex("8901012C81E4551B00"));
        dlg->m_btnWriteConfig.click();
        dlg->OnTimer(3);
        QCOMPARE(Line()->m_sent, QByteArray::fromHex("766D"));
        QCOMPARE(dlg->GetDlgItemText(1005), LinkErrorText());
    }

    // The read-back after a configuration write reports the remote unit unreachable (nine bytes,
    // 0xFF as the address high byte): the unit is taken as 4-command, the remote text of the
    // language in force shows 10 ms later, with the beeps, and each tick of the still running
    // clock brings the error branch back.
    void remoteUnreachableReadBackRepeatsError() {
        auto dlg = OpenShowing<CRemoteConfigDlg>(1);
        dlg->m_btnWriteConfig.click();
        Line()->deliver(QByteArray::fromHex("92"));
        Line()->deliver(QByteArray::fromHex("8900FF2C81E4551B00"));
        QCOMPARE(QPair(dlg->m_b8Commands, dlg->TimerPeriod(3)), QPair(0, 10));
        dlg->OnTimer(3);
        dlg->OnTimer(1);
        QCOMPARE(ConfigState(*dlg, 3), QString("接收告警或系统忙，无法读取对侧记录！ | address 0,  , config "
                                               "off, time off, timers 1000 1400 -1"));
        QCOMPARE(QPair(MessageBeepCount(), Selections(*dlg)), QPair(200, QList<int>(24, -1)));
    }
};

QTEST_MAIN(TestConfigDialogs)
#include "tst_configdialogs.moc"

// The local configuration dialog on the in-memory line, and what both configuration dialogs share:
// the texts of their templates, Reset Config and the address check.
#include "config/LocalConfigDlg.h"
#include "config/RemoteConfigDlg.h"
#include "support/DialogTestSupport.h"
#include "support/ShellHelpers.h"
#include "support/TestEnv.h"

#include <QDateTimeEdit>
#include <QFile>
#include <QGroupBox>
#include <QLineEdit>
#include <QTest>

namespace {

const QByteArray kExample = QByteArray::fromHex("7601012C81E4551B00");
const QString kRange = "Please enter an integer between 0 and 65000.", kInteger = "Please enter an integer.";

// Open, configuration answer (its first byte made the dialog's own), first tick, date-and-time
// answer: the dialog shows the unit, and no poll is unanswered.
template <class Dlg> std::unique_ptr<Dlg> OpenShowing(QByteArray answer = kExample, int chinese = 0) {
    constexpr bool remote = std::is_same_v<Dlg, CRemoteConfigDlg>;
    auto dlg = OpenDialog<Dlg>(chinese);
    answer[0] = char(remote ? 0x89 : 0x76);
    Line()->deliver(answer);
    dlg->OnTimer(remote ? 3 : 1);
    Line()->deliver(QByteArray::fromHex(remote ? "90081226090507" : "6F081226090507"));
    Line()->m_sent.clear();
    return dlg;
}
std::unique_ptr<CDialog> OpenShowing(bool remote, const QByteArray& answer = kExample, int chinese = 0) {
    return remote ? std::unique_ptr<CDialog>(OpenShowing<CRemoteConfigDlg>(answer, chinese))
                  : std::unique_ptr<CDialog>(OpenShowing<CLocalConfigDlg>(answer, chinese));
}

} // namespace

class TestLocalConfig : public QObject {
    Q_OBJECT

    TestEnv m_env;
    MessageBoxRecorder m_boxes;

private slots:
    void initTestCase() { MemoryCommBackend::InstallFactory(); }
    void init() { m_boxes.calls.clear(); }

    // 0x89 with a 60 ms check; the answer fills the grid; the first tick polls 0x90 every second,
    // and Write Date && Time stays off while both pickers hold their initial values.
    void openingReadsThenPolls() {
        auto dlg = OpenDialog<CLocalConfigDlg>();
        QCOMPARE(QPair(Line()->m_sent, dlg->TimerPeriod(1)), QPair(QByteArray::fromHex("89"), 60));
        Line()->deliver(kExample);
        QCOMPARE(Selections(*dlg),
                 QList<int>({0, 1, 2, 3, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 1, 3, 2, 1, 0, 0, 0, 0, 0}));
        dlg->OnTimer(1);
        QCOMPARE(Line()->m_sent, QByteArray::fromHex("8990"));
        QVERIFY(ConfigState(*dlg, 2).endsWith("config on, time off, timers 1000 -1"));
    }

    // Per template (data/config_texts.txt): title, the column header over the grid, and the status
    // line after an answer from a unit of 4 or 8 commands.
    void textsOfEachTemplate_data() {
        QTest::addColumn<QStringList>("fields"); // dialog, language, flags, title, header, status
        QFile file(QFINDTESTDATA("data/config_texts.txt"));
        QVERIFY(file.open(QIODevice::ReadOnly));
        for (const QString& line : QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts))
            if (!line.startsWith('#'))
                QTest::newRow(qPrintable(line.section('|', 0, 1))) << line.split('|');
    }
    void textsOfEachTemplate() {
        QFETCH(QStringList, fields);
        QByteArray answer = kExample;
        answer[1] = char(fields[2].toInt(nullptr, 16));
        auto dlg = OpenShowing(fields[0] == "remote", answer, fields[1] == "zh");
        const QString header = dlg->findChild<QGroupBox*>()->title();
        QCOMPARE(QStringList({dlg->windowTitle(), header, dlg->GetDlgItemText(1005)}), fields.mid(3));
    }

    // Dropped while a poll is unanswered; once any of its answer is in: 0x92, the poll stops and
    // the button is locked for 800 ms; the first invitation brings the block, and the poll
    // resumes a second later.
    void writeConfig() {
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
        QCOMPARE(dlg->TimerPeriod(1), 1000);
        dlg->OnTimer(2);
        QCOMPARE(QPair(dlg->m_btnWriteConfig.isEnabled(), dlg->TimerPeriod(2)), QPair(true, -1));
    }

    // A picker still at 1 January 2003, or at 00:00:00, leaves its group unchanged (0xFF); any
    // other value of any field is written. Only the first invitation brings the bytes.
    void writeDateTime_data() {
        QTest::addColumn<QDate>("date");
        QTest::addColumn<QTime>("time");
        QTest::addColumn<QByteArray>("sent");
        QTest::newRow("neither") << QDate(2003, 1, 1) << QTime(0, 0, 0) << QByteArray("91 FF FF");
        QTest::newRow("year") << QDate(2010, 1, 1) << QTime(0, 0, 0) << QByteArray("91 100101 FF");
        QTest::newRow("month") << QDate(2003, 2, 1) << QTime(0, 0, 0) << QByteArray("91 030201 FF");
        QTest::newRow("day") << QDate(2003, 1, 2) << QTime(0, 0, 0) << QByteArray("91 030102 FF");
        QTest::newRow("hour") << QDate(2003, 1, 1) << QTime(1, 0, 0) << QByteArray("91 FF 010000");
        QTest::newRow("minute") << QDate(2003, 1, 1) << QTime(0, 1, 0) << QByteArray("91 FF 000100");
        QTest::newRow("second") << QDate(2003, 1, 1) << QTime(0, 0, 30) << QByteArray("91 FF 000030");
    }
    void writeDateTime() {
        QFETCH(QDate, date);
        QFETCH(QTime, time);
        QFETCH(QByteArray, sent);
        auto dlg = OpenShowing<CLocalConfigDlg>();
        dlg->m_dtpTime->setTime(QTime(12, 0, 0));
        dlg->OnTimer(1); // the button follows the pickers at each tick
        dlg->m_dtpDate->setDate(date);
        dlg->m_dtpTime->setTime(time);
        Line()->m_sent.clear();
        dlg->m_btnWriteTime.click();
        Line()->deliver(QByteArray::fromHex("6E"));
        Line()->deliver(QByteArray::fromHex("6E"));
        QCOMPARE(Line()->m_sent, QByteArray::fromHex(sent));
    }

    // Item 0 in every used cell of either dialog; the emptied cells of a 4-command unit stay
    // empty. Nothing is sent.
    void resetConfig_data() {
        QTest::addColumn<bool>("remote");
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<int>("commands");
        QTest::newRow("local 8") << false << kExample << 8;
        QTest::newRow("local 4") << false << QByteArray::fromHex("76FE012C81E4551B00") << 4;
        QTest::newRow("remote 8") << true << kExample << 8;
    }
    void resetConfig() {
        QFETCH(bool, remote);
        QFETCH(QByteArray, answer);
        QFETCH(int, commands);
        auto dlg = OpenShowing(remote, answer);
        dlg->GetDlgItemAs<QAbstractButton>(7)->click();
        const QList<int> row = QList<int>(commands, 0) + QList<int>(8 - commands, -1);
        QCOMPARE(Selections(*dlg), row + row + row);
        QCOMPARE(Line()->m_sent, QByteArray());
    }

    // An address from the unit above 65000 is shown as it is; Write Config refuses it, or any text
    // that is not a number: the standard message, the focus back on the edit, nothing sent, and
    // the poll (local) or the clock (remote) stopped.
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
        auto dlg = OpenShowing(remote, QByteArray::fromHex("76FFFDE9FFFFFFFFFF"));
        QCOMPARE(dlg->GetDlgItemText(1077), QStringLiteral("65001"));
        dlg->SetDlgItemText(1077, typed);
        dlg->GetDlgItem(1001)->setFocus();
        dlg->GetDlgItemAs<QAbstractButton>(6)->click();
        QCOMPARE(m_boxes.calls.size(), 1);
        QCOMPARE(m_boxes.calls[0].text, message);
        QCOMPARE(dlg->focusWidget(), dlg->GetDlgItem(1077));
        QVERIFY(ConfigState(*dlg, 3).endsWith("config on, time off, timers -1 -1 -1"));
        QCOMPARE(Line()->m_sent, QByteArray());
    }
};

QTEST_MAIN(TestLocalConfig)
#include "tst_localconfig.moc"

// Both record dialogs on the in-memory line: the bytes they send, answers injected in batches,
// the link check called directly. Texts in both languages come from tests/data/record-texts-*.txt.
// The fault table (tst_e2e_faults) has the silent, late, split, wrong-byte and busy ends.
#include "controls/BmpButton.h"
#include "platform/Platform.h"
#include "records/LocalRecordDlg.h"
#include "records/RecordFormat.h"
#include "records/RemoteRecordDlg.h"
#include "support/Suite.h"

namespace {

// Count 3, then Send Command 1, Fiber B Interrupt Return and code 0 (invalid).
const QByteArray kThree = QByteArray::fromHex("03 0825134507C10123 0901000000002626 1031125959999000");

// A unit's read and clear command bytes; its answers begin with their complements.
struct Unit {
    QString name;
    char read, clear;
};
const Unit kUnits[] = {{"local", '\x87', '\x88'}, {"remote", '\x78', '\x77'}};

// The units from..to (0 local, 1 remote), each in both languages.
void UnitRows(int from = 0, int to = 1) {
    QTest::addColumn<int>("unit");
    QTest::addColumn<int>("chinese");
    for (int unit = from; unit <= to; ++unit)
        for (int chinese : {0, 1})
            QTest::addRow("%s%s", qPrintable(kUnits[unit].name), chinese ? " zh" : "") << unit << chinese;
}

} // namespace

class TestRecords : public QObject {
    Q_OBJECT

    std::unique_ptr<TestEnv> m_env; // fresh per test: an empty drive C
    Unit u;
    QMap<QString, QString> m_text; // of the language

    // The row's dialog in the row's language, opened: it has sent its read.
    std::unique_ptr<CDialog> Open() {
        QFETCH(int, unit);
        QFETCH(int, chinese);
        u = kUnits[unit];
        m_text = GoldenTexts(chinese ? "record-texts-chinese.txt" : "record-texts-english.txt");
        ResetMessageBeepCount();
        if (unit)
            return OpenDialog<CRemoteRecordDlg>(chinese);
        return OpenDialog<CLocalRecordDlg>(chinese);
    }
    QString File() const { return m_env->driveC() + '/' + m_text[u.name + " file"]; }

private slots:
    void initTestCase() { MemoryCommBackend::InstallFactory(); }
    void init() { m_env = std::make_unique<TestEnv>(); }

    // Opening sends exactly the read command and starts the 200 ms link check. A complete answer
    // is listed, saved and counted in the status line; Clear is enabled.
    void readOnOpening_data() { UnitRows(); }
    void readOnOpening() {
        const auto dlg = Open();
        QCOMPARE(dlg->windowTitle(), m_text[u.name + " title"]);
        QCOMPARE(Line()->m_sent, QByteArray(1, u.read));
        QCOMPARE(RecordState(*dlg),
                 m_text["reading"] + " | list 0, progress 0, update off, clear off, timer 200");
        Line()->deliver(char(~u.read) + kThree);
        QCOMPARE(RecordState(*dlg), m_text["saved"].arg(3).arg(File()) +
                                        " | list 3, progress 24, update on, clear on, timer 200");
        QCOMPARE(dlg->GetDlgItem(1005)->toolTip(), m_text["saved"].arg(3).arg(File())); // when cut short
        QCOMPARE(Lines(*dlg), QStringList({m_text["three 3"], m_text["three 2"], m_text["three 1"]}));
        QCOMPARE(ReadFile(File()), RecordFileContent(3, Lines(*dlg), g_bChinese));
        dlg->OnTimer(1); // the link check finds the answer in: only the check ends
        QCOMPARE(RecordState(*dlg), m_text["saved"].arg(3).arg(File()) +
                                        " | list 3, progress 24, update on, clear on, timer -1");
    }

    // Exit, Update Record and Clear Record are the dialog's bitmap buttons, each with its picture
    // centred. Each is at least as wide as the picture with 3 px on both sides (the raised frame
    // and the pressed shift), widened about the centre its template gives it.
    void buttonsAreBitmapButtons_data() { UnitRows(); }
    void buttonsAreBitmapButtons() {
        const auto dlg = Open();
        CDialog plain(dlg->TemplateId());
        plain.Create();
        for (int id : {2, 3, 4}) {
            const auto* button = qobject_cast<CBmpButton*>(dlg->GetDlgItem(id));
            QVERIFY(button && button->m_bCenter);
            const QRect asBuilt = plain.GetDlgItem(id)->geometry();
            QCOMPARE(button->width(), qMax(asBuilt.width(), button->m_nWidth + 6));
            QVERIFY(qAbs(button->geometry().center().x() - asBuilt.center().x()) <= 1);
        }
    }

    // A first byte 0x00 counts as no answer: the tick reports the link error.
    void zeroByteIsNoAnswer_data() { UnitRows(); }
    void zeroByteIsNoAnswer() {
        const auto dlg = Open();
        Line()->deliver(QByteArray(2, '\0'));
        dlg->OnTimer(1);
        QCOMPARE(RecordState(*dlg),
                 m_text["link error"] + " | list 0, progress 0, update off, clear off, timer -1");
    }

    // The remote unit's busy answer 87 FF, here in two batches, is reported 10 ms later (the report
    // itself, its text and the emptied dialog, is the fault table's busy row).
    void remoteBusy_data() { UnitRows(1, 1); }
    void remoteBusy() {
        const auto dlg = Open();
        Line()->deliver("\x87");
        Line()->deliver("\xFF");
        QCOMPARE(dlg->TimerPeriod(1), 10);
    }

    // Update Record empties the dialog and reads again.
    void updateReadsAgain_data() { UnitRows(); }
    void updateReadsAgain() {
        const auto dlg = Open();
        Line()->deliver(char(~u.read) + kThree);
        dlg->GetDlgItemAs<QAbstractButton>(3)->click();
        QCOMPARE(Line()->m_sent, QByteArray(2, u.read));
        QCOMPARE(RecordState(*dlg),
                 m_text["reading"] + " | list 0, progress 0, update off, clear off, timer 200");
    }

    // Clear Record rings 100 beeps and asks first. No changes nothing and sends nothing. Yes sends
    // the clear command; the unit's acknowledgement starts a fresh read, which finds no record:
    // Clear stays off, and the text alone replaces the file.
    void clearAsksFirst_data() { UnitRows(); }
    void clearAsksFirst() {
        const auto dlg = Open();
        Line()->deliver(char(~u.read) + kThree);
        const QString listed = RecordState(*dlg);
        AnswerConfirmation(IDCANCEL);
        dlg->GetDlgItemAs<QAbstractButton>(4)->click();
        QCOMPARE(RecordState(*dlg), listed);
        QCOMPARE(MessageBeepCount(), 100);
        AnswerConfirmation(IDOK);
        dlg->GetDlgItemAs<QAbstractButton>(4)->click();
        QCOMPARE(RecordState(*dlg), " | list 0, progress 0, update on, clear off, timer 200");
        Line()->deliver(QByteArray(1, char(~u.clear)));
        Line()->deliver(QByteArray(1, char(~u.read)) + '\0');
        QCOMPARE(Line()->m_sent, QByteArray(1, u.read) + u.clear + u.read);
        QCOMPARE(RecordState(*dlg),
                 m_text["no record"] + " | list 0, progress 0, update on, clear off, timer 200");
        QCOMPARE(ReadFile(File()), RecordFileContent(0, {}, g_bChinese));
    }

    // 255 records, 2042 bytes, the longest answer: all listed, the last one whole. The same answer
    // with one byte more in its batch is never complete.
    void local255Records_data() { UnitRows(0, 0); }
    void local255Records() {
        const auto dlg = Open();
        QByteArray answer = "\x78\xFF";
        for (int k = 0; k < 255; ++k) // event code k % 40, milliseconds k % 10 * 100 + 99
            answer += QByteArray::fromHex("2401020304") + char(0x60 | k % 10) + char(k % 40) + '\x99';
        Line()->deliver(answer);
        QCOMPARE(RecordState(*dlg), m_text["saved"].arg(255).arg(File()) +
                                        " | list 255, progress 2040, update on, clear on, timer 200");
        QCOMPARE(Lines(*dlg).last(), m_text["last of 255"]);
        dlg->GetDlgItemAs<QAbstractButton>(3)->click();
        Line()->deliver(answer + '\x01');
        QCOMPARE(dlg->GetDlgItemText(1005), m_text["reading"]);
    }

    // Drive C cannot take the file: the local unit's folder does not exist, the remote unit's
    // lies under a plain file. The records (3 local, none remote) are listed all the same, the
    // status names the file not written, its tool tip adds the system's reason, and no file appears.
    void unwritableDriveC_data() { UnitRows(); }
    void unwritableDriveC() {
        QFETCH(int, unit);
        const auto dlg = Open();
        QVERIFY(QFile(m_env->root() + "/plain").open(QIODevice::WriteOnly));
        const QString folder = m_env->root() + (unit ? "/plain/c" : "/no/such/c");
        qputenv("LMX207_DRIVE_C", QFile::encodeName(folder));
        Line()->deliver(char(~u.read) + (unit ? QByteArray(1, '\0') : kThree));
        const QString path = folder + '/' + m_text[u.name + " file"];
        const QString status =
            unit ? m_text["none not written"].arg(path) : m_text["not written"].arg(3).arg(path);
        QCOMPARE(dlg->GetDlgItemText(1005), status);
        QCOMPARE(dlg->GetDlgItem(1005)->toolTip(),
                 status + (unit ? "\nNot a directory" : "\nNo such file or directory"));
        QCOMPARE(Lines(*dlg).size(), unit ? 0 : 3);
        QVERIFY(!QFile::exists(path));
    }
};

QTEST_MAIN(TestRecords)
#include "tst_records.moc"

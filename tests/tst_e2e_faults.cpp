// Every device dialog against every fault of the line, over the real serial port and a
// pseudo-terminal served by the simulated pair: a unit that is silent, late, answers in pieces or
// with a wrong first byte, a remote unit out of reach or busy, a cable pulled in the middle of an
// answer, and the platform refusing the device (missing, no permission, held by another process).
// Each case ends in the state the dialog is meant to show, the event loop keeps turning, and the
// record files on drive C are either absent or complete.

#include "config/ConfigGrid.h"
#include "config/LocalConfigDlg.h"
#include "config/RemoteConfigDlg.h"
#include "link/AboutDlg.h"
#include "link/DeviceLink.h"
#include "link/SerialCommBackend.h"
#include "platform/DriveC.h"
#include "records/LocalRecordDlg.h"
#include "records/RecordFormat.h"
#include "records/RemoteRecordDlg.h"
#include "sim/SimPtyServer.h"
#include "support/Suite.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int kWaitMs = 10000; // generous: nothing here needs more than about 1.5 s
constexpr uid_t kNobody = 65534;
constexpr int kCannotDrop = 77; // the no-permission child could not become nobody

enum Dialog { About, LocalConfig, RemoteConfig, LocalRecord, RemoteRecord, DialogCount };
enum Fault { Silent, Late, Split, Wrong, Unreachable, Busy, Cable, Missing, NoPermission, Held, FaultCount };
const char* const kDialogNames[DialogCount] = {"About", "Local Config", "Remote Config", "Local Record",
                                               "Remote Record"};
const char* const kFaultNames[FaultCount] = {"silent",        "late",     "split",        "wrong byte",
                                             "unreachable",   "busy",     "cable pulled", "missing",
                                             "no permission", "port held"};

// The end states as state lines (see State); only the keys named are compared. About: both
// version lines (id: the unit's; blank: labels only; -: empty), the answer byte, the request timer.
const char* const kAboutId = "lines=id ans=79 t1=off";
const char* const kAboutSilent = "lines=blank ans=00 t1=off"; // a pulled cable leaves no byte
const char* const kAboutLate = "lines=blank ans=79 t1=off";   // the answer after the decision
const char* const kAboutWrong = "lines=blank ans=5A t1=off";
const char* const kAboutRefused = "lines=refusal t1=off"; // no version data, not even the labels: the reason
// Configuration dialogs. Half an answer counts as an answer at the local dialog's first tick; the
// poll after it goes unanswered, so the next tick is the link error, as for a silent unit.
const char* const kLcBlanked = "status=link beeps=100 addr=0 grid=- date=- time=- write=off wtime=off t1=off";
const char* const kLcLate = "status=shown beeps=100 addr=300 grid=unit date=- write=off t1=off"; // no poll
const char* const kLcShown = "status=shown beeps=0 addr=300 grid=unit date=unit time=set write=on";
// Any byte counts as an answer, so the poll runs; nothing it receives is shown, and Write Config
// stays refused (polling 1) until a date-and-time answer.
const char* const kLcWrong = "status=- beeps=0 addr=0 grid=- date=- t1=1000 ans=5A rx=7 poll=1";
const char* const kRcBlanked = "status=link beeps=100 addr=0 grid=- date=- time=- write=off wtime=off t3=off";
const char* const kRcUnreachable =
    "status=unreachable beeps=100 addr=0 grid=- date=- time=- write=off wtime=off t3=off ans=FF";
const char* const kRcLate = "status=shown beeps=100 addr=301 grid=unit date=- write=off t1=off t3=off";
const char* const kRcShown = "status=shown beeps=0 addr=301 grid=unit date=unit write=on";
// A byte came (a wrong answer byte, or half an answer), so the read counts as answered and the
// clock is asked for; nothing decodable arrives and the dialog counts its own clock on from zero.
const char* const kRcCountsOn = "status=- beeps=0 addr=0 grid=- date=2000-0-0 time=zero t1=1000";
const char* const kCfgRefused = "status=refusal addr=0 write=off wtime=off t1=off t3=off";
// Record dialogs. A late answer is listed after the link error; a wrong answer byte or half an
// answer never completes, so the dialog stays reading with the bytes counted.
const char* const kRecLink = "status=link count=0 update=off clear=off progress=0 beeps=100";
const char* const kRecBusy = "status=unreachable count=0 update=off clear=off progress=0 beeps=100";
const char* const kRecLate = "status=saved count=42 update=on clear=on progress=336 beeps=100";
const char* const kRecSaved = "status=saved count=42 update=on clear=on progress=336 beeps=0";
const char* const kRecWrong = "status=reading count=0 update=off clear=off progress=0 beeps=0 rx=338 t1=off";
const char* const kRecCable = "status=reading count=0 update=off clear=off progress=0 beeps=0 rx=169 t1=off";
const char* const kRecRefused = "status=refusal count=0 update=off clear=off t1=off";

// By fault: silent, late, split, wrong byte, unreachable, busy, cable pulled, then the refusals.
const char* const kEndState[DialogCount][Missing + 1] = {
    {kAboutSilent, kAboutLate, kAboutId, kAboutWrong, kAboutId, kAboutId, kAboutSilent, kAboutRefused},
    {kLcBlanked, kLcLate, kLcShown, kLcWrong, kLcShown, kLcShown, kLcBlanked, kCfgRefused},
    {kRcBlanked, kRcLate, kRcShown, kRcCountsOn, kRcUnreachable, kRcShown, kRcCountsOn, kCfgRefused},
    {kRecLink, kRecLate, kRecSaved, kRecWrong, kRecSaved, kRecSaved, kRecCable, kRecRefused},
    {kRecLink, kRecLate, kRecSaved, kRecWrong, kRecSaved, kRecBusy, kRecCable, kRecRefused},
};

// The simulator's switch of each fault on the line. Late is 300 ms: past every dialog's first
// check (60, 90 and 200 ms); 0x5A is the answer byte of no request.
const SimFaults kOnLine[Missing] = {{.silent = true},
                                    {.late = true, .lateMs = 300},
                                    {.split = true},
                                    {.wrongFirstByte = true, .wrongByte = 0x5A},
                                    {.remoteUnreachable = true},
                                    {.remoteBusy = true},
                                    {.cablePulled = true}};

// What the dialog's unit holds, read from the pair before the dialog opens.
struct Unit {
    QByteArray config, records;
    QString date;    // as the dialogs show it
    QString saved;   // the status line once its records are listed and written
    QString refusal; // the first line of the platform's refusal
};

Unit ReadUnit(SimPtyServer& sim, Dialog which) {
    const bool local = which != RemoteConfig && which != RemoteRecord;
    Unit u;
    sim.withPair([&](SimPair& p) {
        const SimUnit& s = local ? p.local() : p.remote();
        u.config = s.configAnswer(local ? 0x76 : 0x89);
        u.records = local ? s.recordAnswer(0x78) : s.recordAnswer(0x87, 254);
        const QDate d = s.clock().date();
        u.date = QStringLiteral("%1-%2-%3").arg(d.year()).arg(d.month()).arg(d.day());
    });
    u.saved = RecordSavedText(quint8(u.records[1]), DriveCPath(RecordFileName(local, false)), false);
    return u;
}

// "-" for no text, the name of a text the case knows, any other text as it is.
QString Named(const QString& text, std::initializer_list<std::pair<QString, const char*>> names) {
    if (text.isEmpty())
        return QStringLiteral("-");
    for (const auto& [known, name] : names)
        if (text == known)
            return QLatin1String(name);
    return text;
}

// The grid: "-" (nothing selected), "unit" (exactly the settings of the unit's answer), or "other".
QString GridText(const ConfigCells& cells, const QByteArray& held) {
    bool blank = true;
    cells.ForEach([&](QComboBox* box) { blank = blank && box->currentIndex() == -1; });
    ConfigSettings want;
    DecodeConfigAnswer(reinterpret_cast<const unsigned char*>(held.constData()), int(held.size()), &want);
    const ConfigSettings got = ReadConfigSettings(cells, want.nCommands == 8 ? 1 : 0, want.nAddress);
    return blank ? "-" : memcmp(&got, &want, sizeof want) == 0 ? "unit" : "other";
}

// The dialog's state as a line with the keys of `expected`, in its order. A timer shows its period,
// or off; "?" marks a key the dialog does not have.
template <class Dlg> QString State(Dlg& dlg, [[maybe_unused]] const Unit& unit, const QString& expected) {
    auto timer = [&](int id) { return QString::number(dlg.TimerPeriod(id)).replace("-1", "off"); };
    auto onOff = [](bool on) { return on ? "on" : "off"; };
    QMap<QString, QString> v{{"ans", QString::asprintf("%02X", unsigned(dlg.m_nAnswer))},
                             {"t1", timer(1)},
                             {"beeps", QString::number(MessageBeepCount())}};
    if constexpr (std::is_same_v<Dlg, CAboutDlg>) {
        v["lines"] = Named(dlg.GetDlgItemText(1079) + '|' + dlg.GetDlgItemText(1080),
                           {{"CPU Version : 1.0\tTime : 2004-5-27|CRC : 3C82\t\tROM : 97250AE8", "id"},
                            {"CPU Version :\t\tTime : |CRC :\t\t\tROMH : ", "blank"},
                            {"|", "-"},
                            {unit.refusal + '|', "refusal"}});
    } else {
        v["rx"] = QString::number(dlg.m_nRxCount);
        v["status"] = Named(dlg.m_stcStatus->text(), {{LinkErrorText(), "link"},
                                                      {RemoteUnreachableText(), "unreachable"},
                                                      {ConfigStatusText(true), "shown"},
                                                      {ReadingRecordsText(), "reading"},
                                                      {unit.saved, "saved"},
                                                      {unit.refusal, "refusal"}});
        if constexpr (requires { dlg.m_cells; }) {
            const QString time = dlg.m_edtTime->text();
            v["addr"] = dlg.m_edtAddress->text();
            v["grid"] = GridText(dlg.m_cells, unit.config);
            v["date"] = Named(dlg.m_edtDate->text(), {{unit.date, "unit"}});
            v["time"] = time.isEmpty() ? "-" : time.startsWith(QStringLiteral("0:00:0")) ? "zero" : "set";
            v["write"] = onOff(dlg.m_btnWriteConfig.isEnabled());
            v["wtime"] = onOff(dlg.m_btnWriteTime.isEnabled());
            v["t3"] = timer(3);
            if constexpr (requires { dlg.m_bPolling; })
                v["poll"] = QString::number(dlg.m_bPolling);
        } else {
            v["count"] = QString::number(dlg.m_lstRecords->count());
            v["update"] = onOff(dlg.m_btnUpdate.isEnabled());
            v["clear"] = onOff(dlg.m_btnClear.isEnabled());
            v["progress"] = QString::number(dlg.m_progress->value());
        }
    }
    QStringList line;
    for (const QString& item : expected.split(' '))
        line << item.section('=', 0, 0) + '=' + v.value(item.section('=', 0, 0), QStringLiteral("?"));
    return line.join(' ');
}

// Builds the dialog (Create: no modal loop) and hands it to `check` while it is open.
template <class F> void WithDialog(Dialog which, F&& check) {
    auto run = [&](auto&& dlg) { dlg.Create(), check(dlg); };
    if (which == About)
        return run(CAboutDlg());
    if (which == LocalConfig)
        return run(CLocalConfigDlg());
    if (which == RemoteConfig)
        return run(CRemoteConfigDlg());
    if (which == LocalRecord)
        return run(CLocalRecordDlg());
    run(CRemoteRecordDlg());
}

// The event loop keeps turning: a zero-timer posted now fires within a bounded time.
void CheckResponsive() {
    QObject context;
    bool fired = false;
    QTimer::singleShot(0, &context, [&fired] { fired = true; });
    QTRY_VERIFY_WITH_TIMEOUT(fired, 2000); // at once on a loop that turns
}

QStringList DriveCEntries() {
    return QDir(DriveCFolder()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
}

// A unit on the line: the dialog ends in `expected`. Its record file is absent, or holds exactly
// what the dialog lists, which is the unit's own log.
void OnLineCase(Dialog which, const Unit& unit, const QString& expected) {
    WithDialog(which, [&](auto& dlg) {
        QTRY_COMPARE_WITH_TIMEOUT(State(dlg, unit, expected), expected, kWaitMs);
        CheckResponsive();
        if constexpr (requires { dlg.m_lstRecords; }) {
            const QStringList lines = Lines(dlg);
            const auto* bytes = reinterpret_cast<const unsigned char*>(unit.records.constData());
            const bool listed = expected.contains("saved");
            QCOMPARE(lines,
                     listed ? DecodeRecordAnswer(bytes, int(unit.records.size()), false) : QStringList());
            QCOMPARE(ReadFile(DriveCPath(RecordFileName(which == LocalRecord, false))),
                     listed ? RecordFileContent(int(lines.size()), lines, false) : QByteArray("<missing>"));
        }
    });
}

// The platform refuses the device: the dialog says why in a message box it owns, stays open in
// its refused state and starts no exchange. While it stays open the loop turns and nothing more
// happens: a timer or an exchange started anyway would show as a second box or a beep.
void RefusedCase(Dialog which, const QList<MessageBoxCall>& boxes, const QRegularExpression& text) {
    WithDialog(which, [&](auto& dlg) {
        QCOMPARE(boxes.size(), 1);
        QVERIFY2(boxes[0].owner == &dlg && text.match(boxes[0].text).hasMatch(), qPrintable(boxes[0].text));
        QVERIFY(!dlg.m_comm.GetPortOpen());
        // The status line keeps the reason once the box is gone: its first line, the whole as tip.
        Unit refused;
        refused.refusal = boxes[0].text.section('\n', 0, 0);
        QCOMPARE(State(dlg, refused, kEndState[which][Missing]), QString(kEndState[which][Missing]));
        if constexpr (requires { dlg.m_stcStatus; })
            QCOMPARE(dlg.m_stcStatus->toolTip(), boxes[0].text);
        CheckResponsive();
        QCOMPARE(QPair(boxes.size(), MessageBeepCount()), QPair(qsizetype(1), 0));
    });
    if (!QTest::currentTestFailed())
        QCOMPARE(DriveCEntries(), QStringList());
}

// This program again, as a child in the given role, with `home` as its home, temporary and runtime folder if
// given.
void StartSelf(QProcess& child, const char* role, const QStringList& args = {}, const QString& home = {}) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("LMX207_FAULTS_CHILD"), QLatin1String(role));
    for (const char* name : {"HOME", "TMPDIR", "XDG_RUNTIME_DIR"})
        if (!home.isEmpty())
            env.insert(QLatin1String(name), home);
    child.setProcessEnvironment(env);
    child.start(QCoreApplication::applicationFilePath(), args);
}

// Holds COM2 through the tool's own line until its standard input closes.
int HoldPortChild(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    auto line = CreateSerialCommBackend();
    QString error;
    printf("%s\n",
           line->open(2, QStringLiteral("9600,n,8,1"), &error) ? "held" : qPrintable("refused: " + error));
    fflush(stdout);
    for (char c; fread(&c, 1, 1, stdin) == 1;) {
    }
    return 0;
}

} // namespace

class TstE2eFaults : public QObject {
    Q_OBJECT
    std::unique_ptr<TestEnv> m_env;

    // Root opens every node whatever its mode: the row runs again in a child that is user nobody.
    void runAsNobody() {
        QTemporaryDir home; // the child's folders, its own
        QVERIFY(home.isValid());
        QVERIFY2(chown(QFile::encodeName(home.path()).constData(), kNobody, kNobody) == 0, strerror(errno));
        QProcess child;
        child.setProcessChannelMode(QProcess::MergedChannels);
        StartSelf(child, "nobody", {QStringLiteral("faults:") + QTest::currentDataTag()}, home.path());
        QVERIFY2(child.waitForStarted(kWaitMs) && child.waitForFinished(kWaitMs * 3),
                 "the child running as nobody did not finish");
        const QString output = QString::fromLocal8Bit(child.readAll());
        if (child.exitCode() == kCannotDrop)
            QSKIP(qPrintable(output.trimmed()));
        QVERIFY2(child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0, qPrintable(output));
    }

private slots:
    void initTestCase() {
        m_env = std::make_unique<TestEnv>();
        CMSComm::SetBackendFactory(nullptr); // the real serial line
        g_bChinese = 0;
        AfxGetApp().m_strPort = QStringLiteral("COM2"); // port 2's device, never port 1's
    }

    // A dialog closed while its unit is still answering: the answer lands on the line with nobody
    // listening, and the next dialog must not take it for its own.
    void answerOfAClosedDialog() {
        SimPtyServer sim;
        sim.setPacing(false); // each answer goes out whole, then the wire log shows it
        const QString wire = m_env->root() + "/wire.log";
        sim.setWireLogPath(wire);
        QVERIFY(sim.start());
        qputenv("LMX207_COM2", sim.slavePath().toLocal8Bit());
        auto wireShows = [&wire](const char* hex) { return ReadFile(wire).contains(hex); };
        MessageBoxRecorder boxes;
        ResetMessageBeepCount();
        // The About box decides at 60 ms and is closed; its late 0x79 comes after. Then the unit
        // is silent: the next About box must not show it identified.
        sim.withPair([](SimPair& p) { p.setFaults(kOnLine[Late]); });
        OnLineCase(About, Unit(), "lines=blank t1=off");
        QTRY_VERIFY_WITH_TIMEOUT(wireShows("unit->PC 79"), kWaitMs);
        sim.withPair([](SimPair& p) { p.setFaults(kOnLine[Silent]); });
        OnLineCase(About, Unit(), kAboutSilent);
        QCOMPARE(boxes.calls.size(), 0);
    }

    void faults_data() {
        QTest::addColumn<int>("dialog");
        QTest::addColumn<int>("fault");
        for (int f = 0; f < FaultCount; ++f)
            for (int d = 0; d < DialogCount; ++d)
                QTest::addRow("%s / %s", kFaultNames[f], kDialogNames[d]) << d << f;
    }

    void faults() {
        QFETCH(int, dialog);
        QFETCH(int, fault);
        MessageBoxRecorder boxes;
        ResetMessageBeepCount();
        for (bool local : {true, false}) // only what a case may leave: never anything else there
            QFile::remove(DriveCPath(RecordFileName(local, false)));
        const auto which = Dialog(dialog);
        SimPtyServer sim; // a fresh pair and line per case: a pulled cable stays pulled
        sim.setPacing(true);
        QString error;
        QVERIFY2(sim.start(&error), qPrintable(error));
        const QString path = fault == Missing ? m_env->root() + "/no-such-tty" : sim.slavePath();
        qputenv("LMX207_COM2", path.toLocal8Bit());
        auto refused = [&](const QString& tail) {
            RefusedCase(which, boxes.calls,
                        QRegularExpression("^Cannot open " + QRegularExpression::escape(path) + tail));
        };
        if (fault < Missing) {
            sim.withPair([fault](SimPair& p) { p.setFaults(kOnLine[fault]); });
            OnLineCase(which, ReadUnit(sim, which), kEndState[dialog][fault]);
        } else if (fault == NoPermission && geteuid() == 0) {
            return runAsNobody();
        } else if (fault == Missing) { // the reason and nothing after it
            refused(": No such file or directory$");
        } else if (fault == NoPermission) { // a node without permission bits for anyone
            const QByteArray device = QFile::encodeName(path);
            QVERIFY2(chmod(device.constData(), 0) == 0, strerror(errno));
            QVERIFY2(access(device.constData(), R_OK | W_OK) != 0, "the device is still open to this user");
            refused(": Permission denied\n.*`dialout`");
        } else { // held by another process, through the tool's own line
            QProcess holder;
            StartSelf(holder, "hold");
            QVERIFY(holder.waitForStarted(kWaitMs) && holder.waitForReadyRead(kWaitMs));
            QCOMPARE(QString::fromLocal8Bit(holder.readLine()).trimmed(), QStringLiteral("held"));
            refused(": .*\nAnother program is using this port\\.$");
            holder.closeWriteChannel(); // it lets go of the port and ends (or is killed on leaving)
            holder.waitForFinished(kWaitMs);
        }
        if (QTest::currentTestFailed())
            return;
        QVERIFY(fault >= Missing || boxes.calls.isEmpty());
        // Drive C holds nothing but whole record files: no temporary file survives a case.
        for (const QString& name : DriveCEntries())
            QVERIFY2(name == RecordFileName(true, false) || name == RecordFileName(false, false),
                     qPrintable(name));
    }
};

int main(int argc, char** argv) {
    const QString child = qEnvironmentVariable("LMX207_FAULTS_CHILD");
    if (child == QLatin1String("hold"))
        return HoldPortChild(argc, argv);
    if (child == QLatin1String("nobody") &&
        (setgroups(0, nullptr) != 0 || setgid(kNobody) != 0 || setuid(kNobody) != 0)) {
        printf("cannot become user nobody: %s\n", strerror(errno));
        return kCannotDrop;
    }
    QApplication app(argc, argv);
    TstE2eFaults suite;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&suite, argc, argv);
}

#include "tst_e2e_faults.moc"

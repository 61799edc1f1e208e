// Every device dialog against every fault of the line, over the real serial port and a
// pseudo-terminal served by the simulated pair: a unit that is silent, late, answers in pieces or
// with a wrong first byte, a remote unit out of reach or busy, a cable pulled in the middle of an
// answer, and the platform refusing the device (missing, no permission, held by another process).
// Each case ends in the state the dialog is meant to show, the event loop keeps turning, and the
// record files on drive C are either absent or complete. The suite prints the table of cases.

#include "app/KelpApp.h"
#include "config/ConfigFormat.h"
#include "config/ConfigGrid.h"
#include "config/LocalConfigDlg.h"
#include "config/RemoteConfigDlg.h"
#include "link/AboutDlg.h"
#include "link/DeviceLink.h"
#include "link/SerialCommBackend.h"
#include "platform/DriveC.h"
#include "platform/Platform.h"
#include "records/LocalRecordDlg.h"
#include "records/RecordFormat.h"
#include "records/RemoteRecordDlg.h"
#include "sim/SimPtyServer.h"
#include "support/TestEnv.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProcess>
#include <QProgressBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QtWidgets>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int kWaitMs = 10000;      // generous: nothing here needs more than about 1.5 s
constexpr int kTurnMs = 2000;       // a zero-timer must fire within this after a case
constexpr quint8 kWrongByte = 0x5A; // the answer byte of no request
constexpr uid_t kNobody = 65534;
constexpr int kCannotDrop = 77; // the no-permission child could not become nobody

enum Dialog { About, LocalConfig, RemoteConfig, LocalRecord, RemoteRecord, DialogCount };
enum Fault {
    Silent,
    Late,
    Split,
    WrongFirstByte,
    Unreachable,
    Busy,
    CablePulled,
    DeviceMissing,
    NoPermission,
    PortHeld,
    FaultCount
};

const char* const kDialogNames[DialogCount] = {"About", "Local Config", "Remote Config", "Local Record",
                                               "Remote Record"};
const char* const kFaultNames[FaultCount] = {"silent",        "late",     "split",        "wrong byte",
                                             "unreachable",   "busy",     "cable pulled", "missing",
                                             "no permission", "port held"};

const QString kLine1 = QStringLiteral("CPU Version : 1.0\tTime : 2004-5-27");
const QString kLine2 = QStringLiteral("CRC : 3C82\t\tROM : 97250AE8");
const QString kBlank1 = QStringLiteral("CPU Version :\t\tTime : ");
const QString kBlank2 = QStringLiteral("CRC :\t\t\tROMH : ");

QList<MessageBoxCall> g_boxes;

void RecordBoxes() {
    SetMessageBoxHook([](const MessageBoxCall& call) {
        g_boxes.append(call);
        return IDOK;
    });
}

SimFaults FaultsFor(Fault fault) {
    SimFaults f;
    switch (fault) {
    case Silent:
        f.silent = true;
        break;
    case Late:
        f.late = true;
        f.lateMs = 300; // past every dialog's first check (60, 90 and 200 ms)
        break;
    case Split:
        f.split = true;
        break;
    case WrongFirstByte:
        f.wrongFirstByte = true;
        f.wrongByte = kWrongByte;
        break;
    case Unreachable:
        f.remoteUnreachable = true;
        break;
    case Busy:
        f.remoteBusy = true;
        break;
    case CablePulled:
        f.cablePulled = true;
        break;
    default:
        break;
    }
    return f;
}

QStringList ListLines(const QListWidget* list) {
    QStringList lines;
    for (int i = 0; i < list->count(); ++i)
        lines << list->item(i)->text();
    return lines;
}

QString DateText(const QDate& d) {
    return QStringLiteral("%1-%2-%3").arg(d.year()).arg(d.month()).arg(d.day());
}

bool GridBlank(const ConfigCells& cells) {
    bool blank = true;
    cells.ForEach([&](QComboBox* box) { blank = blank && box->currentIndex() == -1; });
    return blank;
}

// The grid shows exactly the settings of the configuration answer `held`.
void CompareGrid(const ConfigCells& cells, const QByteArray& held) {
    ConfigSettings want;
    QVERIFY(DecodeConfigAnswer(reinterpret_cast<const unsigned char*>(held.constData()), int(held.size()),
                               &want));
    const ConfigSettings got = ReadConfigSettings(cells, want.nCommands == 8 ? 1 : 0, want.nAddress);
    for (int k = 0; k < 8; ++k) {
        QCOMPARE(got.inputDelay[k], want.inputDelay[k]);
        QCOMPARE(got.outputDelay[k], want.outputDelay[k]);
        QCOMPARE(got.outputExtend[k], want.outputExtend[k]);
    }
}

// The record file of the dialog is absent, or holds exactly what the dialog lists, which is the
// unit's own log.
void CheckRecordFile(bool local, const QListWidget* list, bool listed, const QByteArray& held) {
    const QString path = DriveCPath(RecordFileName(local, false));
    if (!listed) {
        QVERIFY2(!QFile::exists(path), qPrintable(path));
        return;
    }
    const QStringList lines = ListLines(list);
    const auto* bytes = reinterpret_cast<const unsigned char*>(held.constData());
    QCOMPARE(lines, DecodeRecordAnswer(bytes, int(held.size()), false));
    QFile file(path);
    QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(path));
    QCOMPARE(file.readAll(), RecordFileContent(int(lines.size()), lines, false));
}

// Drive C holds nothing but whole record files: no temporary file survives a case.
void CheckDriveCClean() {
    const QStringList names =
        QDir(DriveCFolder()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    for (const QString& name : names)
        QVERIFY2(name == RecordFileName(true, false) || name == RecordFileName(false, false),
                 qPrintable(name));
}

void EmptyDriveC() {
    QDir dir(DriveCFolder());
    for (const QString& name : dir.entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot))
        dir.remove(name);
}

// The event loop keeps turning: a zero-timer posted now fires within a bounded time.
void CheckResponsive() {
    QObject context;
    bool fired = false;
    QTimer::singleShot(0, &context, [&fired] { fired = true; });
    QTRY_VERIFY_WITH_TIMEOUT(fired, kTurnMs);
}

// ---- the dialogs against a unit on the line ---------------------------------------------------

void AboutCase(Fault fault, SimPtyServer&) {
    CAboutDlg dlg;
    dlg.Create();
    QCOMPARE(dlg.TimerPeriod(1), 60);
    QTRY_VERIFY_WITH_TIMEOUT(!dlg.IsTimerRunning(1), kWaitMs);
    // Busy and unreachable concern the remote unit only: the local unit identifies itself. A
    // cable pulled in the middle of the one-byte answer leaves nothing of it.
    const bool identified = fault == Split || fault == Unreachable || fault == Busy;
    if (fault == Late) // the answer comes, but after the decision
        QTRY_COMPARE_WITH_TIMEOUT(dlg.m_nAnswer, 0x79, kWaitMs);
    if (fault == WrongFirstByte)
        QTRY_COMPARE_WITH_TIMEOUT(dlg.m_nAnswer, int(kWrongByte), kWaitMs);
    QCOMPARE(dlg.GetDlgItemText(1079), identified ? kLine1 : kBlank1);
    QCOMPARE(dlg.GetDlgItemText(1080), identified ? kLine2 : kBlank2);
    CheckResponsive();
}

template <class Dlg> void ExpectConfigBlanked(Dlg& dlg, const QString& status) {
    QCOMPARE(dlg.m_stcStatus->text(), status);
    QCOMPARE(MessageBeepCount(), 100);
    QVERIFY(!dlg.m_btnWriteConfig.isEnabled());
    QVERIFY(!dlg.m_btnWriteTime.isEnabled());
    QCOMPARE(dlg.m_edtDate->text(), QString());
    QCOMPARE(dlg.m_edtTime->text(), QString());
    QCOMPARE(dlg.m_edtAddress->text(), QStringLiteral("0"));
    QVERIFY(GridBlank(dlg.m_cells));
}

void LocalConfigCase(Fault fault, SimPtyServer& sim) {
    QByteArray held;
    QDate unitDate;
    sim.withPair([&](SimPair& p) {
        held = p.local().configAnswer(0x76);
        unitDate = p.local().clock().date();
    });
    const QString shown = ConfigStatusText(true);
    CLocalConfigDlg dlg;
    dlg.Create();
    switch (fault) {
    case Silent:
        QTRY_COMPARE_WITH_TIMEOUT(dlg.m_stcStatus->text(), LinkErrorText(), kWaitMs);
        ExpectConfigBlanked(dlg, LinkErrorText());
        QVERIFY(!dlg.IsTimerRunning(1));
        break;
    case CablePulled:
        // Half the configuration answer counts as an answer at the first tick; the poll that
        // follows goes unanswered, so the next tick is the link error.
        QTRY_COMPARE_WITH_TIMEOUT(dlg.m_stcStatus->text(), LinkErrorText(), kWaitMs);
        ExpectConfigBlanked(dlg, LinkErrorText());
        QVERIFY(!dlg.IsTimerRunning(1));
        break;
    case Late:
        // The first tick reports the link error; the answer, when it comes, is still shown.
        QTRY_COMPARE_WITH_TIMEOUT(dlg.m_stcStatus->text(), shown, kWaitMs);
        QCOMPARE(MessageBeepCount(), 100);
        QCOMPARE(dlg.m_edtAddress->text(), QStringLiteral("300"));
        CompareGrid(dlg.m_cells, held);
        QVERIFY(!dlg.m_btnWriteConfig.isEnabled());
        QVERIFY(!dlg.IsTimerRunning(1)); // no poll after a link error
        QCOMPARE(dlg.m_edtDate->text(), QString());
        break;
    case WrongFirstByte:
        // Any byte counts as an answer, so the poll runs; nothing it receives is shown.
        QTRY_COMPARE_WITH_TIMEOUT(dlg.TimerPeriod(1), 1000, kWaitMs);
        QTRY_VERIFY_WITH_TIMEOUT(dlg.m_nAnswer == kWrongByte && dlg.m_nRxCount == 7, kWaitMs);
        QCOMPARE(dlg.m_stcStatus->text(), QString());
        QCOMPARE(dlg.m_edtAddress->text(), QStringLiteral("0")); // m_nAddress as built
        QCOMPARE(dlg.m_edtDate->text(), QString());
        QVERIFY(GridBlank(dlg.m_cells));
        QCOMPARE(dlg.m_bPolling, 1); // Write Config is refused until a date-and-time answer
        QCOMPARE(MessageBeepCount(), 0);
        break;
    default: // split, and the faults of the remote unit: the local unit answers
        QTRY_COMPARE_WITH_TIMEOUT(dlg.m_stcStatus->text(), shown, kWaitMs);
        QCOMPARE(dlg.m_edtAddress->text(), QStringLiteral("300"));
        CompareGrid(dlg.m_cells, held);
        QTRY_COMPARE_WITH_TIMEOUT(dlg.m_edtDate->text(), DateText(unitDate), kWaitMs);
        QVERIFY(!dlg.m_edtTime->text().isEmpty());
        QVERIFY(dlg.m_btnWriteConfig.isEnabled());
        QCOMPARE(MessageBeepCount(), 0);
        break;
    }
    CheckResponsive();
}

void RemoteConfigCase(Fault fault, SimPtyServer& sim) {
    QByteArray held;
    QDate unitDate;
    sim.withPair([&](SimPair& p) {
        held = p.remote().configAnswer(0x89);
        unitDate = p.remote().clock().date();
    });
    const QString shown = ConfigStatusText(true);
    CRemoteConfigDlg dlg;
    dlg.Create();
    switch (fault) {
    case Silent:
        QTRY_COMPARE_WITH_TIMEOUT(dlg.m_stcStatus->text(), LinkErrorText(), kWaitMs);
        ExpectConfigBlanked(dlg, LinkErrorText());
        QVERIFY(!dlg.IsTimerRunning(3));
        break;
    case Unreachable:
        QTRY_COMPARE_WITH_TIMEOUT(dlg.m_stcStatus->text(), RemoteUnreachableText(), kWaitMs);
        ExpectConfigBlanked(dlg, RemoteUnreachableText());
        QCOMPARE(dlg.m_nAnswer, 0xFF);
        QVERIFY(!dlg.IsTimerRunning(3));
        break;
    case Late:
        QTRY_COMPARE_WITH_TIMEOUT(dlg.m_stcStatus->text(), shown, kWaitMs);
        QCOMPARE(MessageBeepCount(), 100);
        QCOMPARE(dlg.m_edtAddress->text(), QStringLiteral("301"));
        CompareGrid(dlg.m_cells, held);
        QVERIFY(!dlg.m_btnWriteConfig.isEnabled());
        QVERIFY(!dlg.IsTimerRunning(3));
        QVERIFY(!dlg.IsTimerRunning(1)); // the clock is never read
        QCOMPARE(dlg.m_edtDate->text(), QString());
        break;
    case WrongFirstByte:
    case CablePulled:
        // A byte came, so the read counts as answered and the clock is asked for; nothing
        // decodable arrives (a wrong answer byte, or the cable is gone), and the dialog counts
        // its own clock on from zero. A later loss of the link is not looked for.
        QTRY_COMPARE_WITH_TIMEOUT(dlg.m_edtDate->text(), QStringLiteral("2000-0-0"), kWaitMs);
        QVERIFY(dlg.IsTimerRunning(1));
        QVERIFY(dlg.m_edtTime->text().startsWith(QStringLiteral("0:00:0")));
        QCOMPARE(dlg.m_stcStatus->text(), QString());
        QCOMPARE(dlg.m_edtAddress->text(), QStringLiteral("0")); // m_nAddress as built
        QVERIFY(GridBlank(dlg.m_cells));
        QCOMPARE(MessageBeepCount(), 0);
        break;
    default: // split, busy (records only): the remote unit answers
        QTRY_COMPARE_WITH_TIMEOUT(dlg.m_stcStatus->text(), shown, kWaitMs);
        QCOMPARE(dlg.m_edtAddress->text(), QStringLiteral("301"));
        CompareGrid(dlg.m_cells, held);
        QTRY_COMPARE_WITH_TIMEOUT(dlg.m_edtDate->text(), DateText(unitDate), kWaitMs);
        QVERIFY(dlg.m_btnWriteConfig.isEnabled());
        QCOMPARE(MessageBeepCount(), 0);
        break;
    }
    CheckResponsive();
}

template <class Dlg> void RecordCase(bool local, Fault fault, SimPtyServer& sim) {
    QByteArray held;
    sim.withPair([&](SimPair& p) {
        held = local ? p.local().recordAnswer(0x78) : p.remote().recordAnswer(0x87, 254);
    });
    const int n = quint8(held[1]);
    const QString saved = local ? QStringLiteral("%1 record(s) in C:\\LocalRecord.txt .").arg(n)
                                : QStringLiteral("%1 record(s) in C:\\RemoteRecord.txt .").arg(n);
    Dlg dlg;
    dlg.Create();
    bool listed = false;
    auto expectNotListed = [&](const QString& status) {
        QCOMPARE(dlg.m_stcStatus->text(), status);
        QCOMPARE(dlg.m_lstRecords->count(), 0);
        QVERIFY(!dlg.m_btnUpdate.isEnabled());
        QVERIFY(!dlg.m_btnClear.isEnabled());
        QCOMPARE(dlg.m_progress->value(), 0);
    };
    if (fault == Silent) {
        QTRY_COMPARE_WITH_TIMEOUT(dlg.m_stcStatus->text(), LinkErrorText(), kWaitMs);
        expectNotListed(LinkErrorText());
        QCOMPARE(MessageBeepCount(), 100);
    } else if (fault == Busy && !local) {
        QTRY_COMPARE_WITH_TIMEOUT(dlg.m_stcStatus->text(), RemoteUnreachableText(), kWaitMs);
        expectNotListed(RemoteUnreachableText());
        QCOMPARE(MessageBeepCount(), 100);
    } else if (fault == WrongFirstByte || fault == CablePulled) {
        // A byte came, so the link check is quiet; the answer is never complete (unknown answer
        // byte, or half an answer), so the dialog stays reading.
        const int arrives = fault == CablePulled ? int(held.size()) / 2 : int(held.size());
        QTRY_VERIFY_WITH_TIMEOUT(dlg.m_nRxCount == arrives && !dlg.IsTimerRunning(1), kWaitMs);
        expectNotListed(ReadingRecordsText());
        QCOMPARE(MessageBeepCount(), 0);
    } else {
        // Late: the link check reports the error first; the answer is listed when it comes.
        QTRY_VERIFY_WITH_TIMEOUT(dlg.m_btnUpdate.isEnabled(), kWaitMs);
        listed = true;
        QCOMPARE(dlg.m_stcStatus->text(), saved);
        QCOMPARE(dlg.m_lstRecords->count(), n);
        QVERIFY(dlg.m_btnClear.isEnabled());
        QCOMPARE(dlg.m_progress->value(), 8 * n);
        QCOMPARE(MessageBeepCount(), fault == Late ? 100 : 0);
    }
    CheckResponsive();
    CheckRecordFile(local, dlg.m_lstRecords, listed, held);
}

// ---- the platform refusing the device ----------------------------------------------------------

// The dialog says why in a message box it owns, stays open and starts no exchange.
template <class Dlg>
void ExpectRefused(Dlg& dlg, const QString& path, const QString& reason, const QString& hint) {
    QCOMPARE(g_boxes.size(), 1);
    const QString text = g_boxes[0].text;
    QVERIFY2(g_boxes[0].owner == &dlg, qPrintable(text));
    QVERIFY2(text.startsWith(QStringLiteral("Cannot open %1: %2").arg(path, reason)), qPrintable(text));
    QVERIFY2(text.contains(hint), qPrintable(text));
    QVERIFY(!dlg.m_comm.GetPortOpen());
    QCOMPARE(MessageBeepCount(), 0);
}

// While the refused dialog stays open the loop turns, and nothing more happens: no second box, no
// beep (a timer or an exchange started anyway would show here).
void StaysQuiet() {
    CheckResponsive();
    QCOMPARE(g_boxes.size(), 1);
    QCOMPARE(MessageBeepCount(), 0);
}

void RefusedCase(Dialog which, const QString& path, const QString& reason, const QString& hint) {
    switch (which) {
    case About: {
        CAboutDlg dlg;
        dlg.Create();
        ExpectRefused(dlg, path, reason, hint);
        QVERIFY(!dlg.IsTimerRunning(1));
        QCOMPARE(dlg.GetDlgItemText(1079), QString()); // no version data, not even the labels
        QCOMPARE(dlg.GetDlgItemText(1080), QString());
        StaysQuiet();
        break;
    }
    case LocalConfig:
    case RemoteConfig: {
        auto check = [&](auto& dlg) {
            ExpectRefused(dlg, path, reason, hint);
            QVERIFY(!dlg.IsTimerRunning(1));
            QVERIFY(!dlg.IsTimerRunning(3));
            QCOMPARE(dlg.m_stcStatus->text(), QString());
            QVERIFY(!dlg.m_btnWriteConfig.isEnabled());
            QVERIFY(!dlg.m_btnWriteTime.isEnabled());
            QCOMPARE(dlg.m_edtAddress->text(), QStringLiteral("0")); // m_nAddress as built
            StaysQuiet();
        };
        if (which == LocalConfig) {
            CLocalConfigDlg dlg;
            dlg.Create();
            check(dlg);
        } else {
            CRemoteConfigDlg dlg;
            dlg.Create();
            check(dlg);
        }
        break;
    }
    case LocalRecord:
    case RemoteRecord: {
        auto check = [&](auto& dlg) {
            ExpectRefused(dlg, path, reason, hint);
            QVERIFY(!dlg.IsTimerRunning(1));
            QCOMPARE(dlg.m_stcStatus->text(), QString());
            QVERIFY(!dlg.m_btnUpdate.isEnabled());
            QVERIFY(!dlg.m_btnClear.isEnabled());
            QCOMPARE(dlg.m_lstRecords->count(), 0);
            StaysQuiet();
        };
        if (which == LocalRecord) {
            CLocalRecordDlg dlg;
            dlg.Create();
            check(dlg);
        } else {
            CRemoteRecordDlg dlg;
            dlg.Create();
            check(dlg);
        }
        break;
    }
    default:
        QFAIL("no such dialog");
    }
    if (QTest::currentTestFailed())
        return;
    QCOMPARE(QDir(DriveCFolder()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             QStringList());
}

const QString kPermissionHint = QStringLiteral("`dialout`");
const QString kHeldHint = QStringLiteral("\nAnother program is using this port.");

// ---- children: a process holding the port, a process without the right to open it -------------

// Holds COM1 through the tool's own line until its standard input closes.
int HoldPortChild(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    auto line = CreateSerialCommBackend();
    QString error;
    if (!line->open(1, &error)) {
        printf("refused: %s\n", qPrintable(error));
        return 1;
    }
    printf("held\n");
    fflush(stdout);
    char c;
    while (fread(&c, 1, 1, stdin) == 1) {
    }
    return 0;
}

// Runs one dialog as user nobody against a device nobody may open.
class NoPermissionChild : public QObject {
    Q_OBJECT
private slots:
    void refused() {
        CMSComm::SetBackendFactory(nullptr);
        RecordBoxes();
        g_bChinese = 0;
        AfxGetApp().m_strPort = QStringLiteral("COM1");
        ResetMessageBeepCount();
        RefusedCase(Dialog(qEnvironmentVariableIntValue("LMX207_FAULTS_DIALOG")),
                    qEnvironmentVariable("LMX207_COM1"), QStringLiteral("Permission denied"),
                    kPermissionHint);
    }
};

int NoPermissionMain(int argc, char** argv) {
    const QByteArray device = qgetenv("LMX207_COM1");
    if (geteuid() == 0 && (setgroups(0, nullptr) != 0 || setgid(kNobody) != 0 || setuid(kNobody) != 0)) {
        printf("cannot become user nobody: %s\n", strerror(errno));
        return kCannotDrop;
    }
    if (access(device.constData(), R_OK | W_OK) == 0) {
        printf("%s is still open to user %u\n", device.constData(), unsigned(geteuid()));
        return kCannotDrop;
    }
    TestEnv env; // folders of its own, created as nobody
    QApplication app(argc, argv);
    NoPermissionChild suite;
    char* args[] = {argv[0], nullptr};
    return QTest::qExec(&suite, 1, args);
}

} // namespace

class TstE2eFaults : public QObject {
    Q_OBJECT
    std::unique_ptr<TestEnv> m_env;
    QString m_cells[DialogCount][FaultCount];

    static void pointCom1At(const QString& path) { qputenv("LMX207_COM1", path.toLocal8Bit()); }

    void runOnLine(Dialog which, Fault fault) {
        SimPtyServer sim; // a fresh pair and line per case: a pulled cable stays pulled
        sim.setPacing(true);
        QString error;
        QVERIFY2(sim.start(&error), qPrintable(error));
        sim.withPair([fault](SimPair& p) { p.setFaults(FaultsFor(fault)); });
        pointCom1At(sim.slavePath());
        switch (which) {
        case About:
            AboutCase(fault, sim);
            break;
        case LocalConfig:
            LocalConfigCase(fault, sim);
            break;
        case RemoteConfig:
            RemoteConfigCase(fault, sim);
            break;
        case LocalRecord:
            RecordCase<CLocalRecordDlg>(true, fault, sim);
            break;
        case RemoteRecord:
            RecordCase<CRemoteRecordDlg>(false, fault, sim);
            break;
        default:
            QFAIL("no such dialog");
        }
        if (QTest::currentTestFailed())
            return;
        QCOMPARE(g_boxes.size(), 0);
    }

    void runHeld(Dialog which) {
        SimPtyServer sim;
        QVERIFY(sim.start());
        pointCom1At(sim.slavePath());
        QProcess holder;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("LMX207_FAULTS_CHILD"), QStringLiteral("hold"));
        holder.setProcessEnvironment(env);
        holder.start(QCoreApplication::applicationFilePath(), {});
        QVERIFY(holder.waitForStarted(kWaitMs));
        while (!holder.canReadLine() && holder.waitForReadyRead(kWaitMs)) {
        }
        QCOMPARE(QString::fromLocal8Bit(holder.readLine()).trimmed(), QStringLiteral("held"));
        RefusedCase(which, sim.slavePath(), QString(), kHeldHint);
        holder.closeWriteChannel();
        if (!holder.waitForFinished(kWaitMs))
            holder.kill();
        holder.waitForFinished(kWaitMs);
    }

    void runNoPermission(Dialog which, QString* skipReason) {
        SimPtyServer sim;
        QVERIFY(sim.start());
        const QString path = sim.slavePath();
        const QByteArray device = QFile::encodeName(path);
        const bool root = geteuid() == 0;
        // Root reads every node whatever its mode, so the case runs as nobody in a child; any
        // other user meets a node without permission bits for anyone.
        QVERIFY2(chmod(device.constData(), root ? 0600 : 0) == 0, strerror(errno));
        if (!root) {
            pointCom1At(path);
            RefusedCase(which, path, QStringLiteral("Permission denied"), kPermissionHint);
            return;
        }
        QTemporaryDir home; // the child's folders, its own
        QVERIFY(home.isValid());
        QVERIFY2(chown(QFile::encodeName(home.path()).constData(), kNobody, kNobody) == 0, strerror(errno));
        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("LMX207_FAULTS_CHILD"), QStringLiteral("nopermission"));
        env.insert(QStringLiteral("LMX207_FAULTS_DIALOG"), QString::number(which));
        env.insert(QStringLiteral("LMX207_COM1"), path);
        env.insert(QStringLiteral("TMPDIR"), home.path());
        env.insert(QStringLiteral("HOME"), home.path());
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        child.setProcessEnvironment(env);
        child.setProcessChannelMode(QProcess::MergedChannels);
        child.start(QCoreApplication::applicationFilePath(), {});
        QVERIFY(child.waitForStarted(kWaitMs));
        if (!child.waitForFinished(kWaitMs * 3)) {
            child.kill();
            child.waitForFinished(kWaitMs);
            QFAIL("the child running as nobody did not finish");
        }
        const QString output = QString::fromLocal8Bit(child.readAll());
        if (child.exitCode() == kCannotDrop) {
            *skipReason = output.trimmed();
            return;
        }
        QVERIFY2(child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0, qPrintable(output));
    }

private slots:
    void initTestCase() {
        m_env = std::make_unique<TestEnv>();
        CMSComm::SetBackendFactory(nullptr); // the real serial line
        RecordBoxes();
        g_bChinese = 0;
        AfxGetApp().m_strPort = QStringLiteral("COM1");
    }

    void cleanupTestCase() {
        SetMessageBoxHook({});
        int failed = 0;
        QString table = QStringLiteral("%1").arg(QString(), -14);
        for (const char* fault : kFaultNames)
            table += QStringLiteral("| %1").arg(QLatin1String(fault), -14);
        table += '\n';
        for (int d = 0; d < DialogCount; ++d) {
            table += QStringLiteral("%1").arg(QLatin1String(kDialogNames[d]), -14);
            for (int f = 0; f < FaultCount; ++f) {
                const QString cell = m_cells[d][f].isEmpty() ? QStringLiteral("not run") : m_cells[d][f];
                failed += cell == QLatin1String("FAIL");
                table += QStringLiteral("| %1").arg(cell, -14);
            }
            table += '\n';
        }
        printf("\nFault table (dialog x fault):\n%s\n", qPrintable(table));
        fflush(stdout);
        QCOMPARE(failed, 0);
    }

    // A dialog closed while its unit is still answering: the answer lands on the line with nobody
    // listening, and the next dialog must not take it for its own.
    void answerOfAClosedDialog() {
        SimPtyServer sim;
        sim.setPacing(false); // each answer goes out whole, then the wire log shows it
        const QString wire = m_env->root() + "/wire.log";
        sim.setWireLogPath(wire);
        QVERIFY(sim.start());
        pointCom1At(sim.slavePath());
        auto wireShows = [&wire](const char* hex) {
            QFile f(wire);
            return f.open(QIODevice::ReadOnly) && f.readAll().contains(hex);
        };
        SimFaults late;
        late.late = true;
        late.lateMs = 300;
        g_boxes.clear();
        ResetMessageBeepCount();

        // The About box decides at 60 ms and is closed; its late 0x79 comes after.
        sim.withPair([&](SimPair& p) { p.setFaults(late); });
        {
            CAboutDlg dlg;
            dlg.Create();
            QTRY_VERIFY_WITH_TIMEOUT(!dlg.IsTimerRunning(1), kWaitMs);
            QCOMPARE(dlg.GetDlgItemText(1079), kBlank1);
        }
        QTRY_VERIFY_WITH_TIMEOUT(wireShows("unit->PC 79"), kWaitMs);
        // Now the unit is silent: the next About box must not show it identified.
        sim.withPair([](SimPair& p) {
            SimFaults silent;
            silent.silent = true;
            p.setFaults(silent);
        });
        {
            CAboutDlg dlg;
            dlg.Create();
            QTRY_VERIFY_WITH_TIMEOUT(!dlg.IsTimerRunning(1), kWaitMs);
            QCOMPARE(dlg.m_nAnswer, 0);
            QCOMPARE(dlg.GetDlgItemText(1079), kBlank1);
            QCOMPARE(dlg.GetDlgItemText(1080), kBlank2);
        }

        // The record dialog is closed while it reads; its 42 records come after. The log then
        // changes, and the next record dialog lists the unit's log as it is now.
        sim.withPair([&](SimPair& p) { p.setFaults(late); });
        {
            CLocalRecordDlg dlg;
            dlg.Create();
            QCOMPARE(dlg.m_stcStatus->text(), ReadingRecordsText());
        }
        QTRY_VERIFY_WITH_TIMEOUT(wireShows("unit->PC 78 2A"), kWaitMs);
        QByteArray held;
        sim.withPair([&](SimPair& p) {
            p.setFaults(SimFaults());
            p.local().seedLog(3);
            held = p.local().recordAnswer(0x78);
        });
        EmptyDriveC();
        {
            CLocalRecordDlg dlg;
            dlg.Create();
            QTRY_VERIFY_WITH_TIMEOUT(dlg.m_btnUpdate.isEnabled(), kWaitMs);
            QCOMPARE(dlg.m_stcStatus->text(), QStringLiteral("3 record(s) in C:\\LocalRecord.txt ."));
            CheckRecordFile(true, dlg.m_lstRecords, true, held);
        }
        QCOMPARE(g_boxes.size(), 0);
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
        QString& cell = m_cells[dialog][fault];
        cell = QStringLiteral("FAIL");
        g_boxes.clear();
        ResetMessageBeepCount();
        EmptyDriveC();
        const auto which = Dialog(dialog);
        switch (Fault(fault)) {
        case DeviceMissing: {
            const QString path = m_env->root() + "/no-such-tty";
            pointCom1At(path);
            RefusedCase(which, path, QStringLiteral("No such file or directory"), QString());
            if (!QTest::currentTestFailed())
                QCOMPARE(g_boxes.value(0).text,
                         QStringLiteral("Cannot open %1: No such file or directory").arg(path));
            break;
        }
        case NoPermission: {
            QString skipReason;
            runNoPermission(which, &skipReason);
            if (!skipReason.isEmpty()) {
                cell = QStringLiteral("SKIP");
                QSKIP(qPrintable(skipReason));
            }
            break;
        }
        case PortHeld:
            runHeld(which);
            break;
        default:
            runOnLine(which, Fault(fault));
            break;
        }
        if (QTest::currentTestFailed())
            return;
        CheckDriveCClean();
        if (QTest::currentTestFailed())
            return;
        cell = QStringLiteral("PASS");
    }
};

int main(int argc, char** argv) {
    const QString child = qEnvironmentVariable("LMX207_FAULTS_CHILD");
    if (child == QLatin1String("hold"))
        return HoldPortChild(argc, argv);
    if (child == QLatin1String("nopermission"))
        return NoPermissionMain(argc, argv);
    QApplication app(argc, argv);
    TstE2eFaults suite;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&suite, argc, argv);
}

#include "tst_e2e_faults.moc"

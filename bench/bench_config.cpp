// Prints how quickly the configuration dialogs show a unit's configuration over a paced
// pseudo-terminal at 9600 baud, against the line time of the bytes exchanged, and how much CPU
// time the local dialog takes per minute while it polls the clock. Asserts nothing.
#include "app/KelpApp.h"
#include "bench/BenchSupport.h"
#include "config/LocalConfigDlg.h"
#include "config/RemoteConfigDlg.h"
#include "link/MSComm.h"
#include "platform/Platform.h"
#include "sim/SimPtyServer.h"
#include "support/TestEnv.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLabel>
#include <QLineEdit>
#include <QTimer>

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

bool SpinUntil(const std::function<bool()>& done, int timeoutMs) {
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
    }
    return true;
}

void Idle(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

double CpuSeconds(int who) {
    rusage u{};
    getrusage(who, &u);
    return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// From the dialog's creation (OnInitDialog sends the read request) to the status line that says
// the configuration is on show; the dialog is closed before its first tick sends anything more.
template <class Dlg> void TimeToConfig(const char* name, int runs) {
    std::vector<double> times;
    std::vector<double> creates; // building the widgets and OnInitDialog, before any byte can come
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer t;
        t.start();
        {
            Dlg dlg;
            dlg.Create();
            creates.push_back(t.nsecsElapsed() / 1e6);
            if (!SpinUntil([&] { return !dlg.m_stcStatus->text().isEmpty(); }, 5000)) {
                std::printf("%s: run %d showed nothing\n", name, i);
                return;
            }
            times.push_back(t.nsecsElapsed() / 1e6);
        }
        Idle(150);
    }
    const double lineMs = 10 * 10 * 1000.0 / 9600; // request byte + 9-byte answer
    std::printf(
        "%-34s median %6.2f ms (min %.2f, max %.2f) over %d, of which building and OnInitDialog %.2f ms; "
        "line time of 10 bytes %.2f ms\n",
        name, Median(times), *std::min_element(times.begin(), times.end()),
        *std::max_element(times.begin(), times.end()), runs, Median(creates), lineMs);
}

} // namespace

int main(int argc, char** argv) {
    UseOffscreenUnlessSet();
    QApplication app(argc, argv);
    TestEnv env;
    PrepareDialogRun();

    SimPtyServer server;
    server.setPacing(true);
    QString error;
    if (!server.start(&error)) {
        std::printf("simulator: %s\n", qPrintable(error));
        return 0;
    }
    qputenv("LMX207_COM1", server.slavePath().toLocal8Bit());

    TimeToConfig<CLocalConfigDlg>("local: open to configuration", 20);
    TimeToConfig<CRemoteConfigDlg>("remote: open to configuration", 20);

    // CPU of the user-interface thread (the simulator serves from a thread of its own) while the
    // local dialog polls once a second.
    {
        CLocalConfigDlg dlg;
        dlg.Create();
        SpinUntil([&] { return !dlg.m_edtTime->text().isEmpty(); }, 5000);
        const int seconds = 10;
        const double thread0 = CpuSeconds(RUSAGE_THREAD);
        const double process0 = CpuSeconds(RUSAGE_SELF);
        QElapsedTimer wall;
        wall.start();
        Idle(seconds * 1000);
        const double wallS = wall.nsecsElapsed() / 1e9;
        const double threadCpu = CpuSeconds(RUSAGE_THREAD) - thread0;
        const double processCpu = CpuSeconds(RUSAGE_SELF) - process0;
        std::printf("local dialog polling for %.1f s: UI thread %.1f ms CPU -> %.1f ms per minute "
                    "(%.3f %%); whole process with the simulator %.1f ms per minute; status \"%s\"\n",
                    wallS, threadCpu * 1000, threadCpu * 1000 * 60 / wallS, threadCpu * 100 / wallS,
                    processCpu * 1000 * 60 / wallS, qPrintable(dlg.m_stcStatus->text()));
    }
    server.stop();
    return 0;
}

// How fast the real line answers: a one-byte request and its answer through QSerialPort and a
// pseudo-terminal to the unpaced simulator, and the About box from its start to the handled
// answer with the simulator pacing at 9600 baud. Prints figures; asserts nothing.

#include "app/KelpApp.h"
#include "link/AboutDlg.h"
#include "link/DeviceLink.h"
#include "platform/Platform.h"
#include "sim/SimPtyServer.h"
#include "support/TestEnv.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

constexpr double kLineMsPerByte = 10.0 / 9600.0 * 1000.0; // 10 bits a byte at 9600 baud

struct Figures {
    double median, worst, best;
};

Figures summarise(std::vector<double> ms) {
    std::sort(ms.begin(), ms.end());
    return {ms[ms.size() / 2], ms.back(), ms.front()};
}

// Waits in the event loop until done() holds or the wait is over.
bool waitFor(const std::function<bool()>& done, int timeoutMs) {
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < timeoutMs)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
    return done();
}

// The About box, timed from the start of OnInitDialog to the answer's handling.
class TimedAboutDlg : public CAboutDlg {
public:
    TimedAboutDlg() {
        connect(&m_comm, &CMSComm::OnComm, this, [this] {
            if (m_nAnswer == 0x79 && m_answeredNs < 0)
                m_answeredNs = m_clock.nsecsElapsed();
        });
    }
    BOOL OnInitDialog() override {
        m_clock.start();
        const BOOL result = CAboutDlg::OnInitDialog();
        m_initNs = m_clock.nsecsElapsed();
        return result;
    }
    QElapsedTimer m_clock;
    qint64 m_answeredNs = -1;
    qint64 m_initNs = -1; // opening the port and sending the request
};

void roundTrips(int runs) {
    SimPtyServer sim;
    sim.setPacing(false);
    QString error;
    if (!sim.start(&error)) {
        printf("simulator: %s\n", qPrintable(error));
        return;
    }
    qputenv("LMX207_COM1", sim.slavePath().toLocal8Bit());
    CMSComm comm;
    QByteArray got;
    QObject::connect(&comm, &CMSComm::OnComm, [&] { got += comm.GetInput(); });
    comm.SetCommPort(1);
    comm.SetPortOpen(TRUE);
    if (!comm.GetPortOpen()) {
        printf("open: %s\n", qPrintable(comm.OpenError()));
        return;
    }
    std::vector<double> ms;
    int lost = 0;
    QElapsedTimer t;
    for (int i = 0; i < runs; ++i) {
        got.clear();
        t.start();
        SendCommandByte(comm, 0x86);
        if (!waitFor([&] { return !got.isEmpty(); }, 2000) || got != QByteArray("\x79")) {
            ++lost;
            continue;
        }
        ms.push_back(double(t.nsecsElapsed()) / 1e6);
    }
    if (ms.empty()) {
        printf("round trip: no answers\n");
        return;
    }
    const Figures f = summarise(ms);
    printf("round trip 0x86 -> 0x79, unpaced, %zu runs: median %.3f ms, worst %.3f ms, best %.3f ms"
           " (%d unanswered); line time for the two bytes at 9600 baud: %.2f ms (%.2f ms per byte)\n",
           ms.size(), f.median, f.worst, f.best, lost, 2 * kLineMsPerByte, kLineMsPerByte);
}

void aboutBox(int runs) {
    SimPtyServer sim;
    QString error;
    if (!sim.start(&error)) { // paced at 9600 baud
        printf("simulator: %s\n", qPrintable(error));
        return;
    }
    qputenv("LMX207_COM1", sim.slavePath().toLocal8Bit());
    std::vector<double> ms, initMs;
    int late = 0;
    for (int i = 0; i < runs; ++i) {
        TimedAboutDlg dlg;
        dlg.Create();
        waitFor([&] { return !dlg.IsTimerRunning(1); }, 5000);
        if (dlg.m_answeredNs < 0 || dlg.GetDlgItemText(1079).isEmpty() ||
            dlg.GetDlgItemText(1079).contains("\t\t")) {
            ++late;
            continue;
        }
        ms.push_back(double(dlg.m_answeredNs) / 1e6);
        initMs.push_back(double(dlg.m_initNs) / 1e6);
    }
    if (ms.empty()) {
        printf("About box: never answered in time\n");
        return;
    }
    const Figures f = summarise(ms);
    printf("About box, OnInitDialog to the answer handled, paced, %zu runs: median %.3f ms, worst %.3f ms,"
           " best %.3f ms (%d not identified within the 60 ms wait); line time %.2f ms per byte\n",
           ms.size(), f.median, f.worst, f.best, late, kLineMsPerByte);
    const Figures init = summarise(initMs);
    printf("  of which OnInitDialog itself (opening the port, sending 0x86): median %.3f ms, worst %.3f ms\n",
           init.median, init.worst);
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    TestEnv env;
    SetMessageBoxHook([](const MessageBoxCall& call) {
        printf("message box: %s\n", qPrintable(call.text));
        return IDOK;
    });
    CMSComm::SetBackendFactory(nullptr);
    AfxGetApp().m_strPort = QStringLiteral("COM1");
    roundTrips(1000);
    aboutBox(50);
    return 0;
}

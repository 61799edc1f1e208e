// Prints how long a record read takes: over a paced pseudo-terminal at 9600 baud from Update
// Record to the 254-record list and file, and the decode, list and write of 254 records once they
// are in. Asserts nothing.
#include "app/KelpApp.h"
#include "bench/BenchSupport.h"
#include "link/MSComm.h"
#include "platform/Platform.h"
#include "records/LocalRecordDlg.h"
#include "records/RemoteRecordDlg.h"
#include "sim/SimPtyServer.h"
#include "support/TestEnv.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QListWidget>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

bool SpinUntil(const std::function<bool()>& done, int timeoutMs) {
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

template <class Dlg> void PacedRead(const char* name, SimPtyServer& server, int runs) {
    Dlg dlg;
    dlg.Create();
    if (!SpinUntil([&] { return dlg.m_btnUpdate.isEnabled(); }, 10000)) {
        std::printf("%s: first read did not complete\n", name);
        return;
    }
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer t;
        t.start();
        dlg.m_btnUpdate.click();
        if (!SpinUntil([&] { return dlg.m_btnUpdate.isEnabled(); }, 10000)) {
            std::printf("%s: read %d did not complete\n", name, i);
            return;
        }
        times.push_back(t.nsecsElapsed() / 1e6);
        if (dlg.m_lstRecords->count() != 254)
            std::printf("%s: %d lines listed\n", name, dlg.m_lstRecords->count());
    }
    (void)server;
    const double lineMs = 2034 * 10 * 1000.0 / 9600;
    std::printf("%-28s median %8.1f ms  (min %.1f, max %.1f) over %d reads; line time of 2034 bytes %.1f ms; "
                "overhead %.1f ms\n",
                name, Median(times), *std::min_element(times.begin(), times.end()),
                *std::max_element(times.begin(), times.end()), runs, lineMs, Median(times) - lineMs);
}

} // namespace

int main(int argc, char** argv) {
    UseOffscreenUnlessSet();
    QApplication app(argc, argv);
    TestEnv env;
    PrepareDialogRun();

    // 1. Over the paced line.
    SimPtyServer server;
    server.setPacing(true);
    QString error;
    if (!server.start(&error)) {
        std::printf("simulator: %s\n", qPrintable(error));
        return 0;
    }
    server.withPair([](SimPair& p) {
        p.local().seedLog(254);
        p.remote().seedLog(254);
    });
    qputenv("LMX207_COM1", server.slavePath().toLocal8Bit());
    PacedRead<CLocalRecordDlg>("local, 254 records, paced", server, 5);
    PacedRead<CRemoteRecordDlg>("remote, 254 records, paced", server, 5);
    server.stop();

    // 2. Decode, list and write once the bytes are in: the one receive event that completes.
    MemoryCommBackend::InstallFactory();
    QByteArray answer;
    {
        SimUnit unit;
        unit.seedLog(254);
        answer = unit.recordAnswer(0x78);
    }
    for (int chinese : {0, 1}) {
        g_bChinese = chinese;
        CLocalRecordDlg dlg;
        dlg.Create();
        std::vector<double> times;
        for (int i = 0; i < 50; ++i) {
            dlg.m_btnUpdate.setEnabled(true);
            dlg.m_btnUpdate.click();
            QElapsedTimer t;
            t.start();
            MemoryCommBackend::Last()->deliver(answer);
            times.push_back(t.nsecsElapsed() / 1e6);
        }
        std::printf("decode+list+write 254 (%s)  median %6.2f ms  (min %.2f, max %.2f) over 50\n",
                    chinese ? "zh" : "en", Median(times), *std::min_element(times.begin(), times.end()),
                    *std::max_element(times.begin(), times.end()));
    }
    return 0;
}

#pragma once

// The shared driver of the device-dialog fuzz targets. One input is one session with a dialog on
// the in-memory line: the dialog is built (and opens its line) as the user would open it, then the
// input is read as a list of steps, each one what the unit, the clock or the user can do next:
//
//   00-7F  a receive batch of (b + 1) bytes, the bytes that follow
//   80-BF  a long receive batch: ((b & 3F) << 8 | next) bytes (a record answer in one piece)
//   C0-DF  a tick of the dialog's timer number b % count, if that timer runs
//   E0-EF  a click on the dialog's button number b % count (a disabled button ignores it)
//   F0-FF  a user action of the dialog's own (an edited field, a turned picker) with the next
//          byte as its argument; F0 itself flips the answer to the next confirmation or message
//
// The first byte picks the language (bit 0). Real timers never fire: no event loop runs, so the
// order of events is exactly the input's. Message boxes and the clear confirmation are answered
// by hooks; Sleep() does not sleep.

#include "app/KelpApp.h"
#include "link/MSComm.h"
#include "platform/Dialog.h"
#include "platform/Platform.h"
#include "records/ClearConfirmDlg.h"

#include <QtWidgets>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <vector>

// Fontconfig keeps a few blocks of its first font lookup for the life of the process. (Every
// target is one source file, so the one definition here is the program's.)
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig\n";
}

namespace fuzz {

// The answer the next confirmation or message box gets: IDOK (Yes) or IDNO / IDCANCEL.
inline bool g_answerYes = true;

// Ends a clear confirmation as soon as its template has been applied, before any modal loop can
// start: DoModal() then returns the chosen result without entering exec().
class ConfirmAnswerer : public QObject {
protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::WindowTitleChange) {
            if (auto* dlg = qobject_cast<CClearConfirmDlg*>(watched))
                dlg->EndDialog(g_answerYes ? IDOK : IDCANCEL);
        }
        return false;
    }
};

inline void Check(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "fuzz invariant broken: %s\n", what);
        std::abort();
    }
}

// Once per process: the application, a private settings store, archive, lock folder and drive C (in
// memory where the machine has /dev/shm, so record files cost no disk syncs), the in-memory line
// and the hooks.
// `warmUp` builds the target's dialog once in each language, so that what Qt and the font
// libraries set up on first use (and keep for the process) is not taken for a leak of an input.
inline void Initialize(int* argc, char*** argv, const std::function<void()>& warmUp) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    const QString base =
        QDir(QStringLiteral("/dev/shm")).exists() ? QStringLiteral("/dev/shm") : QDir::tempPath();
    static QTemporaryDir dir(base + QStringLiteral("/lmx207-fuzz-XXXXXX"));
    for (const char* name : {"XDG_CONFIG_HOME", "XDG_RUNTIME_DIR", "XDG_DATA_HOME", "LMX207_DRIVE_C"}) {
        const QString path = dir.path() + '/' + QString::fromLatin1(name);
        QDir().mkpath(path);
        QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        qputenv(name, path.toLocal8Bit());
    }
    // Never destroyed: the fuzzer ends the process with exit(), and an application destroyed among
    // the statics would run its post routines after Qt SQL's register of connections (made later,
    // by the logbook's hand-over) is gone.
    static QApplication* app = new QApplication(*argc, *argv);
    auto* answerer = new ConfirmAnswerer;
    answerer->setParent(app);
    app->installEventFilter(answerer);
    MemoryCommBackend::InstallFactory();
    SetMessageBoxHook([](const MessageBoxCall&) { return g_answerYes ? IDOK : IDNO; });
    SetSleepHook([](DWORD) {});
    AfxGetApp().m_strPort = QStringLiteral("COM1");
    for (int chinese = 0; chinese < 2; ++chinese) {
        g_bChinese = chinese;
        warmUp();
    }
    g_bChinese = 0;
}

// What a target tells the driver about its dialog.
struct Steps {
    std::vector<UINT> timers;                // timer ids, chosen by tick steps
    std::vector<QAbstractButton*> buttons;   // clicked by click steps
    std::function<void(uint8_t)> userAction; // F1-FF steps: (b & 0F, next) folded into one byte
    std::function<void()> afterStep;         // invariants, checked after every step (every target has some)
};

// Runs the steps of one input against a created dialog.
inline void Run(CDialog& dlg, const Steps& steps, const uint8_t* data, size_t size) {
    MemoryCommBackend* line = MemoryCommBackend::Last();
    size_t i = 0;
    while (i < size) {
        const uint8_t b = data[i++];
        if (b < 0xC0) { // a receive batch
            size_t n = size_t(b) + 1;
            if (b >= 0x80) {
                n = size_t(b & 0x3F) << 8;
                if (i < size)
                    n |= data[i++];
            }
            if (n > size - i)
                n = size - i;
            line->deliver(QByteArray(reinterpret_cast<const char*>(data + i), int(n)));
            i += n;
        } else if (b < 0xE0) {
            if (!steps.timers.empty()) {
                const UINT id = steps.timers[b % steps.timers.size()];
                if (dlg.IsTimerRunning(id))
                    dlg.OnTimer(id);
            }
        } else if (b < 0xF0) {
            if (!steps.buttons.empty())
                steps.buttons[b % steps.buttons.size()]->click();
        } else if (b == 0xF0) {
            g_answerYes = !g_answerYes;
        } else {
            const uint8_t arg = i < size ? data[i++] : 0;
            if (steps.userAction)
                steps.userAction(uint8_t(((b & 0x0F) << 4) ^ arg));
        }
        steps.afterStep();
    }
    // Nothing posted to the dialog may pile up from one input to the next.
    QCoreApplication::sendPostedEvents();
}

// Once per process for a target whose dialog is Dlg: builds one dialog of each language, answers
// its first request and ticks its first timer, so that Qt's one-time set-up is not taken for a leak.
template <class Dlg> void InitializeTarget(int* argc, char*** argv) {
    Initialize(argc, argv, [] {
        Dlg dlg;
        dlg.Create();
        MemoryCommBackend::Last()->deliver(QByteArray(1, char(0x79)));
        dlg.OnTimer(1);
    });
}

// Starts an input: the language byte, and the default answers.
inline const uint8_t* Begin(const uint8_t* data, size_t& size) {
    g_answerYes = true;
    g_bChinese = 0;
    ResetMessageBeepCount();
    if (size == 0)
        return data;
    g_bChinese = data[0] & 1;
    --size;
    return data + 1;
}

} // namespace fuzz

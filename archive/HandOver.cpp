#include "archive/HandOver.h"

#include "archive/Archive.h"
#include "archive/VisitRecorder.h"
#include "link/SerialCommBackend.h"

#include <QCoreApplication>
#include <QHash>
#include <QObject>

#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <thread>

namespace {

enum class FactKind { Records, Config, Clock, ConfigWrite, ClockWrite, Clear, Password, NewVisit };

// One fact as the dialog handed it over, copied.
struct Fact {
    FactKind kind = FactKind::Records;
    UnitSide side = UnitSide::Local;
    QString port;
    PcTime at;
    QByteArray bytes;
    int commandCount = 8;
    QString archivePath;
};

QString KindText(FactKind kind) {
    switch (kind) {
    case FactKind::Records:
        return QStringLiteral("record answer");
    case FactKind::Config:
        return QStringLiteral("configuration answer");
    case FactKind::Clock:
        return QStringLiteral("date-and-time answer");
    case FactKind::ConfigWrite:
        return QStringLiteral("configuration write");
    case FactKind::ClockWrite:
        return QStringLiteral("date-and-time write");
    case FactKind::Clear:
        return QStringLiteral("record clear");
    case FactKind::Password:
        return QStringLiteral("password change");
    case FactKind::NewVisit:
        break;
    }
    return QString();
}

bool IsDamage(const QString& text) {
    return text.contains(QLatin1String("malformed"), Qt::CaseInsensitive) ||
           text.contains(QLatin1String("not a database"), Qt::CaseInsensitive) ||
           text.contains(QLatin1String("corrupt"), Qt::CaseInsensitive);
}

// The thread that keeps the facts: its own connection, one visit per run (or per NewVisit).
class Keeper {
public:
    ~Keeper() { Stop(); }

    void Post(Fact fact) {
        std::lock_guard lock(m_mutex);
        if (!m_thread.joinable()) {
            m_stop = false;
            m_thread = std::thread([this] { Run(); });
            if (QCoreApplication::instance())
                qAddPostRoutine([] { Instance().Stop(); });
        }
        m_queue.push_back(std::move(fact));
        ++m_posted;
        m_wake.notify_one();
    }

    bool Flush(int timeoutMs) {
        std::unique_lock lock(m_mutex);
        return m_idle.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                               [this] { return m_done == m_posted; });
    }

    // Keeps what is waiting (for a few seconds at most), then ends the thread.
    void Stop() {
        {
            std::unique_lock lock(m_mutex);
            if (!m_thread.joinable())
                return;
            m_idle.wait_for(lock, std::chrono::seconds(5), [this] { return m_done == m_posted; });
            m_stop = true;
            m_wake.notify_one();
        }
        m_thread.join();
        m_thread = std::thread();
    }

    static Keeper& Instance() {
        static Keeper keeper;
        return keeper;
    }

private:
    void Run() {
        // Below the dialogs' thread: on a busy PC the keeping waits, never the dialog.
        setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), 10);
        Archive archive;
        std::unique_ptr<VisitRecorder> recorder;
        for (;;) {
            Fact fact;
            {
                std::unique_lock lock(m_mutex);
                m_wake.wait(lock, [this] { return m_stop || !m_queue.empty(); });
                if (m_queue.empty())
                    break;
                fact = std::move(m_queue.front());
                m_queue.pop_front();
            }
            try {
                Keep(archive, recorder, fact);
            } catch (...) {
                AppendArchiveJournal(fact.archivePath, QStringLiteral("unexpected failure keeping a fact"));
            }
            {
                std::lock_guard lock(m_mutex);
                ++m_done;
            }
            m_idle.notify_all();
        }
        recorder.reset();
        archive.Close();
    }

    static bool KeepOne(VisitRecorder& r, const Fact& f) {
        switch (f.kind) {
        case FactKind::Records:
            return r.RecordAnswer(f.side, f.port, f.at, f.bytes);
        case FactKind::Config:
            return r.ConfigAnswer(f.side, f.port, f.at, f.bytes);
        case FactKind::Clock:
            return r.ClockAnswer(f.side, f.port, f.at, f.bytes);
        case FactKind::ConfigWrite:
            return r.ConfigWrite(f.side, f.port, f.at, f.bytes, f.commandCount);
        case FactKind::ClockWrite:
            return r.ClockWrite(f.side, f.port, f.at, f.bytes);
        case FactKind::Clear:
            return r.RecordClear(f.side, f.port, f.at);
        case FactKind::Password:
            return r.PasswordChange(f.at);
        case FactKind::NewVisit:
            return true;
        }
        return true;
    }

    // Qt SQL's register of connections is made at the first open, on this thread, and goes with the
    // process's other statics in the reverse order of their making. A process that ends without
    // destroying its application object (so without the post routine) must still end this thread,
    // and close its connection, while the register is there: a handler registered after it runs
    // before it goes.
    static void StopBeforeQtSqlEnds() {
        static std::once_flag once;
        std::call_once(once, [] { std::atexit([] { Instance().Stop(); }); });
    }

    static void Keep(Archive& archive, std::unique_ptr<VisitRecorder>& recorder, const Fact& fact) {
        if (fact.kind == FactKind::NewVisit) {
            recorder.reset();
            return;
        }
        for (int attempt = 0; attempt < 2; ++attempt) {
            if (!archive.IsOpen() || archive.Path() != fact.archivePath) {
                recorder.reset();
                if (!archive.Open(fact.archivePath, Archive::Mode::ReadWrite)) {
                    AppendArchiveJournal(
                        fact.archivePath,
                        QStringLiteral("%1 not kept: %2").arg(KindText(fact.kind), archive.LastError()));
                    return;
                }
                StopBeforeQtSqlEnds();
            }
            if (!recorder)
                recorder = std::make_unique<VisitRecorder>(archive, VisitInfo{});
            if (KeepOne(*recorder, fact))
                return;
            const QString why = recorder->LastError();
            if (attempt == 0 && IsDamage(why)) {
                // Opened again, the damaged file is kept aside and a new archive started.
                recorder.reset();
                archive.Close();
                continue;
            }
            AppendArchiveJournal(fact.archivePath,
                                 QStringLiteral("%1 not kept: %2").arg(KindText(fact.kind), why));
            return;
        }
    }

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_idle;
    std::deque<Fact> m_queue;
    quint64 m_posted = 0;
    quint64 m_done = 0;
    bool m_stop = false;
    std::thread m_thread;
};

void Post(FactKind kind, bool local, int port, QByteArray bytes, int commandCount = 8) noexcept {
    try {
        Fact f;
        f.kind = kind;
        f.side = local ? UnitSide::Local : UnitSide::Remote;
        f.port = port > 0 ? SerialDevicePath(port) : QString();
        f.at = PcTimeNow();
        f.bytes = std::move(bytes);
        f.commandCount = commandCount;
        f.archivePath = DefaultArchivePath();
        Keeper::Instance().Post(std::move(f));
    } catch (...) {
        // Nothing of the dialog's may change because of the logbook.
    }
}

QByteArray Copy(const unsigned char* buf, int len) {
    return buf && len > 0 ? QByteArray(reinterpret_cast<const char*>(buf), len) : QByteArray();
}

// Per dialog: whether its first date-and-time answer was kept, and whether a write waits for the
// answer after it. Touched on the UI thread only.
struct ClockState {
    bool seen = false;
    bool afterWrite = false;
};
QHash<const QObject*, ClockState>& ClockStates() {
    static QHash<const QObject*, ClockState> states;
    return states;
}
ClockState& ClockStateOf(const QObject* dialog) {
    auto& states = ClockStates();
    auto it = states.find(dialog);
    if (it == states.end()) {
        it = states.insert(dialog, ClockState{});
        if (dialog)
            QObject::connect(const_cast<QObject*>(dialog), &QObject::destroyed,
                             [dialog] { ClockStates().remove(dialog); });
    }
    return *it;
}

} // namespace

void ArchiveRecordAnswer(bool local, int port, const unsigned char* buf, int len) noexcept {
    Post(FactKind::Records, local, port, Copy(buf, len));
}

void ArchiveConfigAnswer(bool local, int port, const unsigned char* buf, int len) noexcept {
    Post(FactKind::Config, local, port, Copy(buf, len));
}

void ArchiveClockAnswer(const QObject* dialog, bool local, int port, const unsigned char* buf,
                        int len) noexcept {
    try {
        ClockState& state = ClockStateOf(dialog);
        if (state.seen && !state.afterWrite)
            return; // a poll like the ones before
        state.seen = true;
        state.afterWrite = false;
    } catch (...) {
        return;
    }
    Post(FactKind::Clock, local, port, Copy(buf, len));
}

void ArchiveConfigWrite(bool local, int port, const unsigned char* block, int len,
                        int commandCount) noexcept {
    Post(FactKind::ConfigWrite, local, port, Copy(block, len), commandCount);
}

void ArchiveClockWrite(const QObject* dialog, bool local, int port, const QByteArray& sent) noexcept {
    try {
        ClockStateOf(dialog).afterWrite = true;
    } catch (...) {
    }
    Post(FactKind::ClockWrite, local, port, sent);
}

void ArchiveRecordClear(bool local, int port) noexcept {
    Post(FactKind::Clear, local, port, QByteArray());
}

void ArchivePasswordChange() noexcept {
    Post(FactKind::Password, true, 0, QByteArray());
}

bool ArchiveHandOverFlush(int timeoutMs) noexcept {
    try {
        return Keeper::Instance().Flush(timeoutMs);
    } catch (...) {
        return false;
    }
}

void ArchiveHandOverNewVisit() noexcept {
    Post(FactKind::NewVisit, true, 0, QByteArray());
}

#include "archive/HandOver.h"

#include "archive/Archive.h"
#include "archive/Spool.h"
#include "archive/VisitRecorder.h"
#include "link/SerialCommBackend.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QHash>
#include <QObject>
#include <QUuid>

#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <thread>

namespace {

// What the hand-over's thread is asked to do: keep a fact, start a new visit, or move in what the
// spool holds (a program's start).
enum class Task { Fact, NewVisit, MoveSpoolIn };

struct Work {
    Task task = Task::Fact;
    HandedFact fact;
    QString archivePath;
};

// How long the thread waits before it tries again to move in what the spool holds.
constexpr auto kRetry = std::chrono::seconds(5);

// The thread that keeps the facts: its own connection, one visit per run (or per NewVisit). Each
// fact goes to the spool first and from there into the archive (Spool.h): what the archive cannot
// take now waits there, and goes in at the next fact or the next retry.
class Keeper {
public:
    ~Keeper() { Stop(); }

    void Post(Work work) {
        std::lock_guard lock(m_mutex);
        if (!m_thread.joinable()) {
            m_stop = false;
            m_thread = std::thread([this] { Run(); });
            if (QCoreApplication::instance())
                qAddPostRoutine([] { Instance().Stop(); });
        }
        m_queue.push_back(std::move(work));
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
        FactKeeper keeper(archive);
        VisitInfo visit;
        QString waitingAt; // the archive whose spool holds facts still waiting
        for (;;) {
            Work work;
            bool posted = true;
            {
                std::unique_lock lock(m_mutex);
                const auto ready = [this] { return m_stop || !m_queue.empty(); };
                if (waitingAt.isEmpty())
                    m_wake.wait(lock, ready);
                else
                    m_wake.wait_for(lock, kRetry, ready);
                if (m_queue.empty() && m_stop)
                    break;
                if (m_queue.empty()) {
                    posted = false; // the retry
                    work.task = Task::MoveSpoolIn;
                    work.archivePath = waitingAt;
                } else {
                    work = std::move(m_queue.front());
                    m_queue.pop_front();
                }
            }
            try {
                if (work.task == Task::NewVisit) {
                    visit = VisitInfo{};
                } else {
                    if (work.task == Task::Fact) {
                        if (visit.uuid.isEmpty()) {
                            visit.uuid = QUuid::createUuid().toString(QUuid::WithoutBraces);
                            visit.started = work.fact.at;
                        }
                        work.fact.visit = visit;
                    }
                    waitingAt = Keep(archive, keeper, work) ? QString() : work.archivePath;
                    StopBeforeQtSqlEnds();
                }
            } catch (...) {
                AppendArchiveJournal(work.archivePath, QStringLiteral("unexpected failure keeping a fact"));
            }
            if (posted) {
                std::lock_guard lock(m_mutex);
                ++m_done;
            }
            m_idle.notify_all();
        }
        keeper.Forget();
        archive.Close();
    }

    // Keeps the work's fact (spooled first) and moves in what the spool holds; false while facts
    // still wait there.
    bool Keep(Archive& archive, FactKeeper& keeper, const Work& work) {
        QString key;
        if (work.task == Task::Fact) {
            const QString kind = HandedFactText(work.fact.kind);
            QString spoolError;
            if (!SpoolFact(work.archivePath, work.fact, &key, &spoolError)) {
                // No spool: straight into the archive, or into the journal as lost.
                if (!archive.IsOpen() || archive.Path() != work.archivePath) {
                    keeper.Forget();
                    if (!archive.Open(work.archivePath, Archive::Mode::ReadWrite)) {
                        AppendArchiveJournal(work.archivePath,
                                             QStringLiteral("%1 not kept: %2 (the spool: %3)")
                                                 .arg(kind, archive.LastError(), spoolError));
                        return true;
                    }
                }
                if (keeper.Keep(work.fact, QString()) == FactKeeper::Result::Failed)
                    AppendArchiveJournal(work.archivePath, QStringLiteral("%1 not kept: %2 (the spool: %3)")
                                                               .arg(kind, archive.LastError(), spoolError));
                return true;
            }
        }
        const SpoolRun run = MoveSpoolIn(work.archivePath, archive, keeper, key);
        if (work.task == Task::Fact && !run.justSpooledDone)
            AppendArchiveJournal(
                work.archivePath,
                QStringLiteral("%1 waits in the spool: %2").arg(HandedFactText(work.fact.kind), run.error));
        return run.waiting == 0;
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

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_idle;
    std::deque<Work> m_queue;
    quint64 m_posted = 0;
    quint64 m_done = 0;
    bool m_stop = false;
    std::thread m_thread;
};

void Post(HandedFact::Kind kind, bool local, int port, QByteArray bytes, int commandCount = 8) noexcept {
    try {
        Work w;
        w.fact.kind = kind;
        w.fact.side = local ? UnitSide::Local : UnitSide::Remote;
        w.fact.port = port > 0 ? SerialDevicePath(port) : QString();
        w.fact.at = PcTimeNow();
        w.fact.bytes = std::move(bytes);
        w.fact.commandCount = commandCount;
        w.archivePath = DefaultArchivePath();
        Keeper::Instance().Post(std::move(w));
    } catch (...) {
        // Nothing of the dialog's may change because of the logbook.
    }
}

void PostTask(Task task) noexcept {
    try {
        Work w;
        w.task = task;
        w.archivePath = DefaultArchivePath();
        Keeper::Instance().Post(std::move(w));
    } catch (...) {
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
    Post(HandedFact::Records, local, port, Copy(buf, len));
}

void ArchiveConfigAnswer(bool local, int port, const unsigned char* buf, int len) noexcept {
    Post(HandedFact::Config, local, port, Copy(buf, len));
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
    Post(HandedFact::Clock, local, port, Copy(buf, len));
}

void ArchiveConfigWrite(bool local, int port, const unsigned char* block, int len,
                        int commandCount) noexcept {
    Post(HandedFact::ConfigWrite, local, port, Copy(block, len), commandCount);
}

void ArchiveClockWrite(const QObject* dialog, bool local, int port, const QByteArray& sent) noexcept {
    try {
        ClockStateOf(dialog).afterWrite = true;
    } catch (...) {
    }
    Post(HandedFact::ClockWrite, local, port, sent);
}

void ArchiveRecordClear(bool local, int port) noexcept {
    Post(HandedFact::Clear, local, port, QByteArray());
}

void ArchivePasswordChange() noexcept {
    Post(HandedFact::Password, true, 0, QByteArray());
}

bool ArchiveHandOverFlush(int timeoutMs) noexcept {
    try {
        return Keeper::Instance().Flush(timeoutMs);
    } catch (...) {
        return false;
    }
}

void ArchiveHandOverNewVisit() noexcept {
    PostTask(Task::NewVisit);
}

void ArchiveHandOverStart() noexcept {
    try {
        if (QFileInfo(ArchiveSpoolPath(DefaultArchivePath())).size() > 0)
            PostTask(Task::MoveSpoolIn);
    } catch (...) {
    }
}

#include "sim/SimPtyServer.h"

#include <QFile>
#include <QFileInfo>
#include <QTime>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace {

// 10 bits per byte at 9600 baud.
constexpr std::chrono::microseconds kByteTime(1042);

void setCloseOnExec(int fd) {
    fcntl(fd, F_SETFD, fcntl(fd, F_GETFD) | FD_CLOEXEC);
}

QString errnoText(const char* what) {
    return QStringLiteral("%1: %2").arg(QLatin1String(what), QString::fromLocal8Bit(strerror(errno)));
}

} // namespace

SimWireLog::~SimWireLog() {
    close();
}

bool SimWireLog::open(const QString& path) {
    close();
    if (path.isEmpty())
        return true;
    if (path == QLatin1String("-")) {
        m_file = stderr;
        return true;
    }
    m_file = fopen(QFile::encodeName(path).constData(), "a");
    m_ownsFile = m_file != nullptr;
    return m_file != nullptr;
}

void SimWireLog::close() {
    if (m_ownsFile)
        fclose(m_file);
    m_file = nullptr;
    m_ownsFile = false;
}

void SimWireLog::log(bool fromPc, const QByteArray& bytes) {
    if (!m_file || bytes.isEmpty())
        return;
    const QByteArray line = QTime::currentTime().toString(QStringLiteral("hh:mm:ss.zzz")).toLatin1() +
                            (fromPc ? " PC->unit " : " unit->PC ") + bytes.toHex(' ').toUpper() + '\n';
    fwrite(line.constData(), 1, size_t(line.size()), m_file);
    fflush(m_file);
}

SimPtyServer::~SimPtyServer() {
    stop();
}

bool SimPtyServer::start(QString* error) {
    const auto fail = [&](const QString& text) {
        if (error)
            *error = text;
        closeFds();
        return false;
    };
    if (isRunning())
        return fail(QStringLiteral("already running"));
    m_master = posix_openpt(O_RDWR | O_NOCTTY);
    if (m_master < 0 || grantpt(m_master) != 0 || unlockpt(m_master) != 0)
        return fail(errnoText("pseudo-terminal"));
    char name[128];
    if (ptsname_r(m_master, name, sizeof name) != 0)
        return fail(errnoText("ptsname"));
    m_slavePath = QString::fromLocal8Bit(name);
    m_slave = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_slave < 0)
        return fail(errnoText(name));
    termios tio{};
    if (tcgetattr(m_slave, &tio) == 0) {
        cfmakeraw(&tio);
        cfsetispeed(&tio, B9600);
        cfsetospeed(&tio, B9600);
        tcsetattr(m_slave, TCSANOW, &tio);
    }
    setCloseOnExec(m_master);
    fcntl(m_master, F_SETFL, fcntl(m_master, F_GETFL) | O_NONBLOCK);
    if (pipe2(m_wake, O_CLOEXEC | O_NONBLOCK) != 0)
        return fail(errnoText("pipe"));
    if (!m_log.open(m_wireLogPath))
        return fail(errnoText(QFile::encodeName(m_wireLogPath).constData()));
    if (!m_linkPath.isEmpty()) {
        const QByteArray link = QFile::encodeName(m_linkPath);
        if (QFileInfo(m_linkPath).isSymLink())
            unlink(link.constData()); // left behind by an earlier run
        if (symlink(name, link.constData()) != 0)
            return fail(errnoText(link.constData()));
        m_linked = true;
    }
    m_out.clear();
    m_stalled = false;
    m_thread = std::thread([this] { run(); });
    return true;
}

void SimPtyServer::stop() {
    if (m_thread.joinable()) {
        const char wake = 1;
        [[maybe_unused]] ssize_t n = write(m_wake[1], &wake, 1);
        m_thread.join();
    }
    closeFds();
}

void SimPtyServer::closeFds() {
    if (m_linked) {
        const QByteArray link = QFile::encodeName(m_linkPath);
        if (QFileInfo(m_linkPath).symLinkTarget() == QFileInfo(m_slavePath).absoluteFilePath())
            unlink(link.constData());
        m_linked = false;
    }
    for (int* fd : {&m_master, &m_slave, &m_wake[0], &m_wake[1]}) {
        if (*fd >= 0)
            ::close(*fd);
        *fd = -1;
    }
    m_log.close();
}

QString SimPtyServer::lineSettings() const {
    termios tio{};
    if (m_slave < 0 || tcgetattr(m_slave, &tio) != 0)
        return {};
    static const std::pair<speed_t, int> kSpeeds[] = {{B1200, 1200},   {B2400, 2400},    {B4800, 4800},
                                                      {B9600, 9600},   {B19200, 19200},  {B38400, 38400},
                                                      {B57600, 57600}, {B115200, 115200}};
    int speed = 0;
    for (const auto& [code, baud] : kSpeeds)
        if (cfgetospeed(&tio) == code)
            speed = baud;
    const tcflag_t size = tio.c_cflag & CSIZE;
    const int bits = size == CS5 ? 5 : size == CS6 ? 6 : size == CS7 ? 7 : 8;
    const bool odd = tio.c_cflag & PARODD;
    const char parity = tio.c_cflag & CMSPAR   ? (odd ? 'M' : 'S')
                        : odd                  ? 'O'
                        : tio.c_cflag & PARENB ? 'E'
                                               : 'N';
    return QStringLiteral("%1 %2%3%4")
        .arg(speed)
        .arg(bits)
        .arg(QLatin1Char(parity))
        .arg(tio.c_cflag & CSTOPB ? 2 : 1);
}

void SimPtyServer::withPair(const std::function<void(SimPair&)>& fn) {
    std::lock_guard lock(m_mutex);
    fn(m_pair);
}

void SimPtyServer::run() {
    for (;;) {
        pollfd fds[2] = {{m_master, short(POLLIN | (m_stalled ? POLLOUT : 0)), 0}, {m_wake[0], POLLIN, 0}};
        timespec wait{};
        timespec* timeout = nullptr;
        if (!m_out.empty() && !m_stalled) {
            const auto left = std::max(Clock::duration::zero(), m_out.front().due - Clock::now());
            const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
            wait.tv_sec = time_t(ns / 1'000'000'000);
            wait.tv_nsec = long(ns % 1'000'000'000);
            timeout = &wait;
        }
        const int ready = ppoll(fds, 2, timeout, nullptr);
        if (ready < 0 && errno != EINTR)
            return;
        if (fds[1].revents)
            return; // stop() asked us to end
        if (fds[0].revents & POLLIN)
            receive();
        if (fds[0].revents & POLLOUT)
            m_stalled = false;
        if (fds[0].revents & (POLLHUP | POLLERR))
            poll(nullptr, 0, 10); // should not happen while our slave is open; never spin
        transmit();
    }
}

void SimPtyServer::receive() {
    char buf[4096];
    const ssize_t n = read(m_master, buf, sizeof buf);
    if (n <= 0)
        return;
    const QByteArray bytes(buf, n);
    m_log.log(true, bytes);
    std::lock_guard lock(m_mutex);
    for (char c : bytes)
        enqueue(m_pair.schedule(m_pair.feed(quint8(c))));
}

void SimPtyServer::enqueue(const QList<SimBatch>& batches) {
    const auto byteTime = m_pacing ? Clock::duration(kByteTime) : Clock::duration::zero();
    const auto now = Clock::now();
    bool first = true;
    for (const SimBatch& batch : batches) {
        const auto base = first ? now : m_lastDue + byteTime;
        auto due = std::max(base + std::chrono::milliseconds(batch.delayMs), m_lastDue + byteTime);
        first = false;
        for (int i = 0; i < batch.bytes.size(); ++i, due += byteTime) {
            m_out.push_back({due, quint8(batch.bytes[i]), i == 0 ? int(batch.bytes.size()) : 0});
            m_lastDue = due;
        }
    }
}

void SimPtyServer::transmit() {
    QByteArray ready;
    const auto now = Clock::now();
    for (const OutByte& b : m_out) {
        if (b.due > now)
            break;
        ready.append(char(b.byte));
    }
    if (ready.isEmpty() || m_stalled)
        return;
    const ssize_t n = write(m_master, ready.constData(), size_t(ready.size()));
    if (n < ready.size())
        m_stalled = true; // the far side is not reading: go on when it can take more
    for (ssize_t i = 0; i < n; ++i) {
        if (const int size = m_out[size_t(i)].batchSize) {
            QByteArray batch;
            for (int j = 0; j < size && size_t(i + j) < m_out.size(); ++j)
                batch.append(char(m_out[size_t(i + j)].byte));
            m_log.log(false, batch);
        }
    }
    m_out.erase(m_out.begin(), m_out.begin() + std::max<ssize_t>(n, 0));
}

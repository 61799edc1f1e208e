#pragma once

#include "sim/SimPair.h"

#include <QString>
#include <chrono>
#include <cstdio>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

// Hex log of what crossed the line, one line per batch: time, direction, bytes.
class SimWireLog {
public:
    SimWireLog() = default;
    ~SimWireLog();
    SimWireLog(const SimWireLog&) = delete;
    SimWireLog& operator=(const SimWireLog&) = delete;

    bool open(const QString& path); // "-" writes to stderr, an empty path logs nothing
    void close();
    void log(bool fromPc, const QByteArray& bytes);

private:
    FILE* m_file = nullptr;
    bool m_ownsFile = false;
};

// Serves a SimPair on a pseudo-terminal from a thread of its own, so the pair keeps answering
// while the thread that started it blocks. Bytes go out at the 9600-baud rate (about 1.04 ms
// each) unless pacing is switched off. The server keeps its own slave descriptor open, so the
// tool closing the port never leaves the master reading EIO.
class SimPtyServer {
public:
    SimPtyServer() = default;
    ~SimPtyServer();
    SimPtyServer(const SimPtyServer&) = delete;
    SimPtyServer& operator=(const SimPtyServer&) = delete;

    // Settings taking effect at start().
    void setLinkPath(const QString& path) { m_linkPath = path; }
    void setWireLogPath(const QString& path) { m_wireLogPath = path; }
    void setPacing(bool on) { m_pacing = on; }

    bool start(QString* error = nullptr);
    void stop();
    bool isRunning() const { return m_thread.joinable(); }
    QString slavePath() const { return m_slavePath; }
    // The line as the program on the slave side set it, e.g. "9600 8N1": speed, data bits, parity
    // (N, E, O, M or S), stop bits; empty when the server is not running. Linux keeps one set of
    // settings per pseudo-terminal, and its driver forces 8 data bits and clears the parity enable
    // flag: 7 bits or even parity read as 8N, while odd, mark and space parity show by their
    // remaining flags.
    QString lineSettings() const;

    // Runs fn on the served pair under the server's lock (faults, unit state, inspection).
    void withPair(const std::function<void(SimPair&)>& fn);

private:
    using Clock = std::chrono::steady_clock;
    struct OutByte {
        Clock::time_point due;
        quint8 byte;
        int batchSize; // > 0 on the first byte of a batch, for the wire log
    };

    void run();
    void receive();
    void enqueue(const QList<SimBatch>& batches);
    void transmit();
    void closeFds();

    QString m_linkPath;
    QString m_wireLogPath;
    bool m_pacing = true;
    QString m_slavePath;
    int m_master = -1;
    int m_slave = -1;
    int m_wake[2] = {-1, -1};
    bool m_linked = false;
    std::thread m_thread;
    std::mutex m_mutex;
    SimPair m_pair;
    SimWireLog m_log;
    std::deque<OutByte> m_out;
    Clock::time_point m_lastDue{};
    bool m_stalled = false; // the pty buffer is full: wait until it can take more
};

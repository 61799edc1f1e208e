#include "support/LogbookSample.h"

#include "archive/Archive.h"
#include "archive/VisitRecorder.h"
#include "config/ConfigFormat.h"

namespace {

unsigned char bcd(int v) {
    return static_cast<unsigned char>((v / 10) * 16 + v % 10);
}

PcTime pcAt(const QDateTime& t) {
    return {t.toMSecsSinceEpoch(), t.offsetFromUtc()};
}

} // namespace

int SampleEventCode(qint64 i) {
    const int r = int(i % 100);
    if (r < 40)
        return int(1 + 2 * (i / 2 % 8) + i % 2); // send command k, then its return
    if (r < 80)
        return int(17 + 2 * (i / 2 % 8) + i % 2); // receive command k, then its return
    if (r < 88)
        return 33 + r % 2;
    if (r < 94)
        return 35 + r % 2;
    if (r < 99)
        return 37 + r % 2;
    return (i / 100) % 2 ? 0 : 200;
}

namespace {

bool fail(QString* error, const QString& what, const QString& why) {
    if (error)
        *error = what + QStringLiteral(": ") + why;
    return false;
}

} // namespace

QByteArray SampleEventRecord(const QDateTime& t, int ms, int code) {
    const QDate d = t.date();
    const QTime tm = t.time();
    QByteArray r(8, '\0');
    r[0] = char(bcd(d.year() % 100));
    r[1] = char(bcd(d.day()));
    r[2] = char(bcd(tm.hour()));
    r[3] = char(bcd(tm.minute()));
    r[4] = char(bcd(tm.second()));
    r[5] = char((d.month() << 4) | (ms / 100));
    r[6] = char(code);
    r[7] = char(bcd(ms % 100));
    return r;
}

QByteArray SampleRecordAnswer(bool local, const QByteArray& records) {
    QByteArray a;
    a.append(char(local ? 0x78 : 0x87));
    a.append(char(records.size() / 8));
    a.append(records);
    return a;
}

QByteArray SampleClockAnswer(char first, const QDateTime& t) {
    return QByteArray(1, first) + char(bcd(t.date().year() % 100)) + char(bcd(t.date().month())) +
           char(bcd(t.date().day())) + char(bcd(t.time().hour())) + char(bcd(t.time().minute())) +
           char(bcd(t.time().second()));
}

QByteArray SampleConfigAnswer(bool local, int commands, int address, int seed) {
    ConfigSettings s;
    s.nCommands = commands;
    s.nAddress = address;
    for (int k = 0; k < 8; ++k) {
        s.inputDelay[k] = (seed + k) % 2;
        s.outputDelay[k] = (seed * 3 + k) % 4;
        s.outputExtend[k] = (seed + 2 * k) % 4;
    }
    const auto block = EncodeConfigBlock(s);
    QByteArray a;
    a.append(char(local ? 0x76 : 0x89));
    a.append(char(commands == 8 ? 1 : 0));
    a.append(reinterpret_cast<const char*>(block.data()), int(block.size()));
    return a;
}

bool MakeSampleArchive(const QString& path, int units, int eventsPerUnit, QString* error) {
    Archive archive;
    if (!archive.Open(path, Archive::Mode::ReadWrite))
        return fail(error, path, archive.LastError());
    const QDateTime start(QDate(2025, 1, 1), QTime(0, 0), Qt::UTC);
    const QDateTime unitStart(QDate(2025, 1, 1), QTime(8, 0));
    for (int u = 0; u < units; ++u) {
        VisitInfo info;
        info.started = pcAt(start.addSecs(qint64(u) * 3600));
        info.pcUser = QStringLiteral("engineer");
        info.pcHost = QStringLiteral("laptop");
        info.port = QStringLiteral("/dev/ttyUSB0");
        info.program = QStringLiteral("service");
        VisitRecorder visit(archive, info);
        const QString port = info.port;
        if (!visit.ConfigAnswer(UnitSide::Local, port, info.started,
                                SampleConfigAnswer(true, 8, 1000 + u, u)))
            return fail(error, QStringLiteral("configuration answer"), visit.LastError());
        // Events a year apart in unit time spread evenly, seconds apart enough to stay distinct.
        const qint64 stepSecs = std::max<qint64>(1, 365LL * 24 * 3600 / std::max(1, eventsPerUnit));
        for (int done = 0; done < eventsPerUnit;) {
            const int n = std::min(254, eventsPerUnit - done);
            QByteArray records;
            records.reserve(n * 8);
            for (int i = 0; i < n; ++i) {
                const qint64 e = done + i;
                records.append(SampleEventRecord(unitStart.addSecs(e * stepSecs), int((e * 37 + u) % 1000),
                                                 SampleEventCode(e + u)));
            }
            if (!visit.RecordAnswer(UnitSide::Local, port, info.started, SampleRecordAnswer(true, records)))
                return fail(error, QStringLiteral("record answer"), visit.LastError());
            done += n;
        }
    }
    return true;
}

bool MakeTourArchive(const QString& path, QString* error) {
    Archive archive;
    if (!archive.Open(path, Archive::Mode::ReadWrite))
        return fail(error, path, archive.LastError());
    const QDateTime first(QDate(2026, 9, 14), QTime(9, 12, 5), Qt::OffsetFromUTC, 8 * 3600);
    struct Visit {
        int day; // days after the first visit
        const char* user;
        int localAddress;   // the local unit of this visit
        int remoteAddress;  // its remote unit, 0: not reached
        int clockDriftSecs; // the local unit's clock against the PC's at this visit
    };
    const Visit visits[] = {
        {0, "wang.li", 300, 301, 2},   {21, "wang.li", 300, 301, 9},  {35, "zhao.min", 512, 0, -4},
        {49, "wang.li", 300, 301, 15}, {70, "zhao.min", 512, 0, -11}, {83, "wang.li", 300, 301, 1},
    };
    int eventNumber = 0;
    for (size_t v = 0; v < std::size(visits); ++v) {
        const Visit& vis = visits[v];
        const QDateTime at = first.addDays(vis.day).addSecs(qint64(v) * 1700);
        VisitInfo info;
        info.started = pcAt(at);
        info.pcUser = QString::fromLatin1(vis.user);
        info.pcHost = vis.user[0] == 'w' ? QStringLiteral("sub-east-laptop") : QStringLiteral("maint-07");
        info.port = QStringLiteral("/dev/ttyUSB0");
        info.program = QStringLiteral("service");
        VisitRecorder visit(archive, info);
        const QString port = info.port;
        auto step = [&at](int secs) { return pcAt(at.addSecs(secs)); };
        // The configuration dialog: the answer, then the clock.
        const int seed = vis.localAddress == 300 ? 1 : 2;
        if (!visit.ConfigAnswer(UnitSide::Local, port, step(5),
                                SampleConfigAnswer(true, 8, vis.localAddress, seed)))
            return fail(error, QStringLiteral("configuration answer"), visit.LastError());
        if (!visit.ClockAnswer(UnitSide::Local, port, step(10),
                               SampleClockAnswer(0x6F, at.addSecs(10 + vis.clockDriftSecs))))
            return fail(error, QStringLiteral("clock answer"), visit.LastError());
        if (vis.remoteAddress && !visit.ConfigAnswer(UnitSide::Remote, port, step(40),
                                                     SampleConfigAnswer(false, 4, vis.remoteAddress, 3)))
            return fail(error, QStringLiteral("remote configuration answer"), visit.LastError());
        // The third visit to unit 300 changes three settings, and the read-back shows them.
        if (v == 3) {
            QByteArray answer = SampleConfigAnswer(true, 8, 300, seed);
            ConfigSettings s;
            DecodeConfigAnswer(reinterpret_cast<const unsigned char*>(answer.constData()), 9, &s);
            s.outputDelay[1] = 3;
            s.inputDelay[4] = 1 - s.inputDelay[4];
            s.outputExtend[6] = 0;
            const auto block = EncodeConfigBlock(s);
            const QByteArray sent(reinterpret_cast<const char*>(block.data()), int(block.size()));
            if (!visit.ConfigWrite(UnitSide::Local, port, step(60), sent, 8))
                return fail(error, QStringLiteral("configuration write"), visit.LastError());
            answer = QByteArray(1, char(0x76)) + char(1) + sent;
            if (!visit.ConfigAnswer(UnitSide::Local, port, step(61), answer))
                return fail(error, QStringLiteral("read-back"), visit.LastError());
            // And sets the clock right.
            const QByteArray groups = SampleClockAnswer(0x6F, at.addSecs(70)).mid(1);
            if (!visit.ClockWrite(UnitSide::Local, port, step(70), groups))
                return fail(error, QStringLiteral("date/time write"), visit.LastError());
            // The poll after it reads the clock as set.
            if (!visit.ClockAnswer(UnitSide::Local, port, step(71), QByteArray(1, char(0x6F)) + groups))
                return fail(error, QStringLiteral("clock read-back"), visit.LastError());
        }
        // The record dialog: the log of the local unit, grown since the last visit.
        // The unit's log holds what happened since the visit before: 30 events over the last ten days.
        QByteArray records;
        for (int i = 0; i < 30; ++i, ++eventNumber)
            records.append(SampleEventRecord(at.addSecs(-86400 * 10 + i * 28000 + eventNumber % 7 * 600),
                                             (eventNumber * 137) % 1000,
                                             SampleEventCode(eventNumber * 7 + eventNumber / 4)));
        if (!visit.RecordAnswer(UnitSide::Local, port, step(90), SampleRecordAnswer(true, records)))
            return fail(error, QStringLiteral("record answer"), visit.LastError());
        if (vis.remoteAddress) {
            QByteArray remote;
            for (int i = 0; i < 12; ++i)
                remote.append(SampleEventRecord(at.addSecs(-86400 * 5 + i * 7211), i * 83 % 1000,
                                                SampleEventCode(i * 3 + 40)));
            if (!visit.RecordAnswer(UnitSide::Remote, port, step(120), SampleRecordAnswer(false, remote)))
                return fail(error, QStringLiteral("remote record answer"), visit.LastError());
        }
        if (v == 4 && !visit.RecordClear(UnitSide::Local, port, step(150)))
            return fail(error, QStringLiteral("record clear"), visit.LastError());
        if (v == 5 && !visit.PasswordChange(step(200)))
            return fail(error, QStringLiteral("password change"), visit.LastError());
    }
    // Two failures in the journal, as the hand-over words them.
    AppendArchiveJournal(path, QStringLiteral("record answer not kept: database is locked"));
    AppendArchiveJournal(path, QStringLiteral("configuration answer not kept: database or disk is full"));
    return true;
}

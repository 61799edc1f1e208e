#include "support/LinkSample.h"

#include "archive/Archive.h"
#include "archive/VisitRecorder.h"
#include "config/ConfigFormat.h"
#include "support/LogbookSample.h"

#include <QList>

#include <algorithm>
#include <cmath>

namespace {

PcTime pcAt(const QDateTime& t) {
    return {t.toMSecsSinceEpoch(), t.offsetFromUtc()};
}

struct Logged {
    QDateTime at; // the unit's clock
    int code;
};

QByteArray recordsOf(const QList<Logged>& log) {
    QByteArray r;
    for (const Logged& e : log)
        r += SampleEventRecord(e.at, e.at.time().msec(), e.code);
    return r;
}

} // namespace

bool AddLinkSampleVisit(const QString& path, const LinkSampleSpec& spec, LinkSampleFacts* facts,
                        QString* error) {
    Archive archive;
    if (!archive.Open(path, Archive::Mode::ReadWrite)) {
        *error = archive.LastError();
        return false;
    }
    const qint64 offset = qint64(std::llround(spec.offsetMs));
    QList<Logged> local, remote;
    LinkSampleFacts f;
    for (int i = 0; i < spec.commands; ++i) {
        const bool fromLocal = i % 2 == 0;
        const int k = 1 + (i / 2) % 4;
        // Sends minutes apart on the sender's clock, at odd milliseconds.
        const QDateTime sentLocal = spec.localStart.addMSecs(qint64(i) * 7 * 60 * 1000 + (i * 137) % 1000);
        const int transfer = f.transferMinMs + (i * 5) % (f.transferMaxMs - f.transferMinMs + 1);
        const int returnTransfer = f.transferMinMs + (i * 3 + 2) % (f.transferMaxMs - f.transferMinMs + 1);
        const bool lost = i == 6;    // a local send of command 2
        const qint64 hold = 300 + i; // the return follows the command
        QList<Logged>& sender = fromLocal ? local : remote;
        QList<Logged>& receiver = fromLocal ? remote : local;
        // The sender's clock, and the receiver's for the same moments.
        const qint64 toSender = fromLocal ? 0 : offset;
        const qint64 toReceiver = fromLocal ? offset : 0;
        const QDateTime sent = sentLocal.addMSecs(toSender);
        sender << Logged{sent, 2 * k - 1} << Logged{sent.addMSecs(hold), 2 * k};
        if (lost)
            continue;
        receiver << Logged{sentLocal.addMSecs(transfer + toReceiver), 16 + 2 * k - 1}
                 << Logged{sentLocal.addMSecs(hold + returnTransfer + toReceiver), 16 + 2 * k};
    }
    // Nobody sent this one.
    remote << Logged{spec.localStart.addMSecs(qint64(9) * 7 * 60 * 1000 + 3 * 60 * 1000 + 421 + offset),
                     16 + 2 * 3 - 1};
    // Fibre A down for 40 s at both ends; a receive alarm and an unended fibre B interruption here.
    const QDateTime cut = spec.localStart.addMSecs(qint64(15) * 7 * 60 * 1000 + 90 * 1000);
    local << Logged{cut, 35} << Logged{cut.addSecs(40), 36};
    remote << Logged{cut.addMSecs(offset + 3), 35} << Logged{cut.addMSecs(offset + 40003), 36};
    local << Logged{cut.addSecs(5), 33} << Logged{cut.addSecs(6), 34};
    local << Logged{spec.localStart.addMSecs(qint64(spec.commands) * 7 * 60 * 1000 - 120 * 1000), 37};

    VisitInfo info;
    info.started = pcAt(spec.pcStart);
    info.pcUser = QStringLiteral("wang.li");
    info.pcHost = QStringLiteral("sub-east-laptop");
    info.port = QStringLiteral("/dev/ttyUSB0");
    info.program = QStringLiteral("service");
    VisitRecorder visit(archive, info);
    auto at = [&](int secs) { return pcAt(spec.pcStart.addSecs(secs)); };
    const QString port = info.port;
    // The units' clocks against the PC: the local one 3 s ahead of the PC, the remote one
    // `offset` further.
    const QDateTime pcWall = QDateTime(spec.pcStart.date(), spec.pcStart.time(), Qt::UTC);
    bool ok =
        visit.ConfigAnswer(UnitSide::Local, port, at(5), SampleConfigAnswer(true, 8, spec.localAddress, 1)) &&
        visit.ClockAnswer(UnitSide::Local, port, at(6), SampleClockAnswer(0x6F, pcWall.addSecs(6 + 3))) &&
        visit.ConfigAnswer(UnitSide::Remote, port, at(30),
                           SampleConfigAnswer(false, 8, spec.remoteAddress, 2)) &&
        visit.ClockAnswer(UnitSide::Remote, port, at(31),
                          SampleClockAnswer(char(0x90), pcWall.addMSecs((31 + 3) * 1000 + offset)));
    // The local unit's command 2 gets a longer output delay, and the read-back shows it.
    QByteArray answer = SampleConfigAnswer(true, 8, spec.localAddress, 1);
    ConfigSettings settings;
    DecodeConfigAnswer(reinterpret_cast<const unsigned char*>(answer.constData()), 9, &settings);
    settings.outputDelay[1] = 3;
    const auto block = EncodeConfigBlock(settings);
    const QByteArray sent(reinterpret_cast<const char*>(block.data()), int(block.size()));
    ok = ok && visit.ConfigWrite(UnitSide::Local, port, at(45), sent, 8) &&
         visit.ConfigAnswer(UnitSide::Local, port, at(46), QByteArray(1, char(0x76)) + char(1) + sent);
    for (int side = 0; ok && side < 2; ++side) {
        QList<Logged>& log = side == 0 ? local : remote;
        std::sort(log.begin(), log.end(), [](const Logged& a, const Logged& b) { return a.at < b.at; });
        for (int from = 0; ok && from < log.size(); from += 250) {
            const QByteArray records = recordsOf(log.mid(from, 250));
            ok = visit.RecordAnswer(side == 0 ? UnitSide::Local : UnitSide::Remote, port,
                                    at(60 + side * 30 + from / 250), SampleRecordAnswer(side == 0, records));
        }
    }
    if (!ok) {
        *error = visit.LastError();
        return false;
    }
    f.visitId = visit.VisitId();
    f.visitUuid = visit.VisitUuid();
    if (facts)
        *facts = f;
    return true;
}

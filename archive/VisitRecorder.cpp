#include "archive/VisitRecorder.h"

#include <QDateTime>

struct VisitRecorder::Private {
    Archive& archive;
    VisitInfo info;
    qint64 visitId = 0;
    QString lastError;
};

VisitRecorder::VisitRecorder(Archive& archive, const VisitInfo& info)
    : d(std::make_unique<Private>(Private{archive, info, 0, QString()})) {}
VisitRecorder::~VisitRecorder() = default;

bool VisitRecorder::RecordAnswer(UnitSide, const QString&, const PcTime&, const QByteArray&, int*) {
    return false;
}
bool VisitRecorder::ConfigAnswer(UnitSide, const QString&, const PcTime&, const QByteArray&) {
    return false;
}
bool VisitRecorder::ClockAnswer(UnitSide, const QString&, const PcTime&, const QByteArray&) {
    return false;
}
bool VisitRecorder::ConfigWrite(UnitSide, const QString&, const PcTime&, const QByteArray&, int) {
    return false;
}
bool VisitRecorder::ClockWrite(UnitSide, const QString&, const PcTime&, const QByteArray&) {
    return false;
}
bool VisitRecorder::RecordClear(UnitSide, const QString&, const PcTime&) {
    return false;
}
bool VisitRecorder::PasswordChange(const PcTime&) {
    return false;
}
qint64 VisitRecorder::VisitId() const {
    return d->visitId;
}
QString VisitRecorder::VisitUuid() const {
    return d->info.uuid;
}
QString VisitRecorder::LastError() const {
    return d->lastError;
}

PcTime PcTimeNow() {
    const QDateTime now = QDateTime::currentDateTime();
    return {now.toMSecsSinceEpoch(), now.offsetFromUtc()};
}

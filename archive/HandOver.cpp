#include "archive/HandOver.h"

void ArchiveRecordAnswer(bool, int, const unsigned char*, int) noexcept {}
void ArchiveConfigAnswer(bool, int, const unsigned char*, int) noexcept {}
void ArchiveClockAnswer(const QObject*, bool, int, const unsigned char*, int) noexcept {}
void ArchiveConfigWrite(bool, int, const unsigned char*, int, int) noexcept {}
void ArchiveClockWrite(const QObject*, bool, int, const QByteArray&) noexcept {}
void ArchiveRecordClear(bool, int) noexcept {}
void ArchivePasswordChange() noexcept {}
bool ArchiveHandOverFlush(int) noexcept {
    return true;
}
void ArchiveHandOverNewVisit() noexcept {}

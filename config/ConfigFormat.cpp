#include "config/ConfigFormat.h"

namespace {

// The code in range [0, count), else 0: a cell without a valid selection is sent as code 0.
int ValidCode(int code, int count) {
    return (code >= 0 && code < count) ? code : 0;
}

// Packs the 2-bit codes of four commands, the first in the lowest bits.
unsigned char PackPairs(const int* codes, int count) {
    unsigned v = 0;
    for (int n = 0; n < 4; ++n)
        v += unsigned(ValidCode(codes[n], count)) << (2 * n);
    return static_cast<unsigned char>(v & 0xFF);
}

void UnpackPairs(unsigned char b, int* codes) {
    for (int n = 0; n < 4; ++n)
        codes[n] = (b >> (2 * n)) & 0x3;
}

} // namespace

bool DecodeConfigAnswer(const unsigned char* buf, int len, ConfigSettings* out) {
    if (!buf || !out || len != kConfigAnswerLength)
        return false;
    ConfigSettings s;
    s.nCommands = (buf[1] & 0x01) ? 8 : 4;
    s.nAddress = buf[2] * 256 + buf[3];
    for (int k = 0; k < 8; ++k)
        s.inputDelay[k] = (buf[4] >> k) & 0x1;
    UnpackPairs(buf[5], &s.outputDelay[0]);
    UnpackPairs(buf[6], &s.outputDelay[4]);
    UnpackPairs(buf[7], &s.outputExtend[0]);
    UnpackPairs(buf[8], &s.outputExtend[4]);
    if (s.nCommands == 4) {
        for (int k = 4; k < 8; ++k) {
            s.inputDelay[k] = -1;
            s.outputDelay[k] = -1;
            s.outputExtend[k] = -1;
        }
    }
    *out = s;
    return true;
}

std::array<unsigned char, kConfigBlockLength> EncodeConfigBlock(const ConfigSettings& s) {
    const int used = s.nCommands == 8 ? 8 : 4;
    std::array<unsigned char, kConfigBlockLength> block{};
    const unsigned address = unsigned(s.nAddress);
    block[0] = static_cast<unsigned char>((address >> 8) & 0xFF);
    block[1] = static_cast<unsigned char>(address & 0xFF);
    unsigned input = 0;
    for (int k = 0; k < used; ++k)
        input += unsigned(ValidCode(s.inputDelay[k], kInputDelayCodes)) << k;
    block[2] = static_cast<unsigned char>(input & 0xFF);
    block[3] = PackPairs(&s.outputDelay[0], kOutputDelayCodes);
    block[5] = PackPairs(&s.outputExtend[0], kOutputExtendCodes);
    if (used == 8) {
        block[4] = PackPairs(&s.outputDelay[4], kOutputDelayCodes);
        block[6] = PackPairs(&s.outputExtend[4], kOutputExtendCodes);
    }
    return block;
}

unsigned char ToBcd(int v) {
    if (v < 0)
        v = 0;
    v %= 100;
    return static_cast<unsigned char>((v / 10) * 16 + v % 10);
}

int FromBcd(unsigned char b) {
    return (b >> 4) * 10 + (b & 0x0F);
}

bool ValidBcd(int b) {
    return (b & 0x0F) <= 9 && (b >> 4) <= 9;
}

QString FormatReadDate(const unsigned char* ymd) {
    if (!ymd)
        return QString();
    return QString::asprintf("20%02x-%x-%x", unsigned(ymd[0]), unsigned(ymd[1]), unsigned(ymd[2]));
}

QString FormatReadTime(const unsigned char* hms) {
    if (!hms)
        return QString();
    return QString::asprintf("%x:%02x:%02x", unsigned(hms[0]), unsigned(hms[1]), unsigned(hms[2]));
}

QString FormatClockDate(int year, int month, int day) {
    return QString::asprintf("20%02d-%d-%d", year, month, day);
}

QString FormatClockTime(int hour, int minute, int second) {
    return QString::asprintf("%d:%02d:%02d", hour, minute, second);
}

namespace {

QByteArray EncodeGroup(bool unchanged, int a, int b, int c) {
    if (unchanged)
        return QByteArray(1, char(kClockGroupUnchanged));
    QByteArray group(3, '\0');
    group[0] = char(ToBcd(a));
    group[1] = char(ToBcd(b));
    group[2] = char(ToBcd(c));
    return group;
}

} // namespace

QByteArray EncodeDateGroup(bool unchanged, int year, int month, int day) {
    return EncodeGroup(unchanged, year % 100, month, day);
}

QByteArray EncodeTimeGroup(bool unchanged, int hour, int minute, int second) {
    return EncodeGroup(unchanged, hour, minute, second);
}

#pragma once

#include <QByteArray>
#include <QString>

#include <array>

// The formats in which a unit's configuration and clock travel on the serial line: the 9-byte
// configuration answer, the 7-byte configuration block, and the BCD date and time.
// Plain functions, no widgets: both configuration dialogs use them in their answer handling.

// Delay codes are combo-box indices. -1 means "no selection" (the cells of commands 5 to 8 of a
// 4-command unit after a read).
constexpr int kInputDelayCodes = 2;   // "0ms", "3ms"                    -> 1 bit on the wire
constexpr int kOutputDelayCodes = 4;  // "0ms", "2ms", "4ms", "50ms"     -> 2 bits
constexpr int kOutputExtendCodes = 4; // "0ms", "5ms", "20ms", "100ms"  -> 2 bits

// Length of the configuration answer (answer byte, flags, address, five code bytes).
constexpr int kConfigAnswerLength = 9;
// Length of the configuration block the PC sends after the unit's invitation.
constexpr int kConfigBlockLength = 7;
// The single byte that leaves a date or time group unchanged when writing the clock.
constexpr unsigned char kClockGroupUnchanged = 0xFF;

struct ConfigSettings {
    int nCommands = 8; // 4 or 8
    int nAddress = 0;  // 0 to 65000
    int inputDelay[8] = {};
    int outputDelay[8] = {};
    int outputExtend[8] = {};
};

// Decodes a configuration answer (answer byte first). Returns false, leaving *out alone, unless
// len is exactly 9. Bits 1 to 7 of the flags byte are ignored. For a 4-command unit the codes of
// commands 5 to 8 are set to -1 (no selection).
bool DecodeConfigAnswer(const unsigned char* buf, int len, ConfigSettings* out);

// Encodes the 7-byte configuration block. A code outside its range (including -1, no selection)
// encodes as 0; for a 4-command unit (any nCommands other than 8) commands 5 to 8 contribute
// nothing. The address is sent as its low 16 bits, high byte first.
std::array<unsigned char, kConfigBlockLength> EncodeConfigBlock(const ConfigSettings& settings);

// Packed BCD of a value 0 to 99: (v / 10) * 16 + v % 10. Larger values are taken modulo 100,
// negative ones as 0, so the result is always a valid BCD byte.
unsigned char ToBcd(int v);
// A BCD byte back to a number: high nibble * 10 + low nibble, without checking the digits.
int FromBcd(unsigned char b);
// Whether both nibbles of b are decimal digits, as in a packed BCD byte.
bool ValidBcd(int b);

// The read date (year, month, day) and time (hour, minute, second) bytes as the dialogs show
// them: printed in hexadecimal so the BCD digits show as decimal ones.
QString FormatReadDate(const unsigned char* ymd); // "20%02x-%x-%x"
QString FormatReadTime(const unsigned char* hms); // "%x:%02x:%02x"

// The same fields held as numbers, as the remote configuration dialog's own clock shows them.
QString FormatClockDate(int year, int month, int day);     // "20%02d-%d-%d", year within the century
QString FormatClockTime(int hour, int minute, int second); // "%d:%02d:%02d"

// The write form of the date and time: each group is three BCD bytes, or the single byte 0xFF
// when `unchanged`. The year is sent as year mod 100.
QByteArray EncodeDateGroup(bool unchanged, int year, int month, int day);
QByteArray EncodeTimeGroup(bool unchanged, int hour, int minute, int second);

#pragma once

#include "link/MSComm.h"

#include <QString>

class QSerialPort;

// The real line: the serial device behind COM1 or COM2, opened through QSerialPort.
std::unique_ptr<CommBackend> CreateSerialCommBackend();

// Sets the port's speed, parity (n, e, o, m or s, either case), data bits (5 to 8) and stop bits
// (1, 1.5 or 2) from a control's Settings text, "9600,n,8,1" for the unit, without flow control.
// A text it cannot take leaves the port as it was and returns false.
bool ApplyCommSettings(QSerialPort& serial, const QString& settings);

// The device path behind port `port` (1 = COM1, 2 = COM2), first found wins:
//   1. the environment variable LMX207_COMn;
//   2. a text value "COMn" under the store key "Ports";
//   3. the n-th serial adapter under <devRoot>/serial/by-id (names sorted, link resolved);
//   4. <devRoot>/ttyS(n-1).
// devRoot is "/dev" except in the tests.
QString SerialDevicePath(int port, const QString& devRoot = QStringLiteral("/dev"));

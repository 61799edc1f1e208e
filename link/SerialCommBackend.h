#pragma once

#include "link/MSComm.h"

#include <QString>

// The real line: the serial device behind COM1 or COM2, opened through QSerialPort.
std::unique_ptr<CommBackend> CreateSerialCommBackend();

// The device path behind port `port` (1 = COM1, 2 = COM2), first found wins:
//   1. the environment variable LMX207_COMn;
//   2. a text value "COMn" under the store key "Ports";
//   3. the n-th serial adapter under <devRoot>/serial/by-id (names sorted, link resolved);
//   4. <devRoot>/ttyS(n-1).
// devRoot is "/dev" except in the tests.
QString SerialDevicePath(int port, const QString& devRoot = QStringLiteral("/dev"));

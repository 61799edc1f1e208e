#pragma once

#include "link/MSComm.h"

// The real line: the serial device behind COM1 or COM2, opened through QSerialPort.
std::unique_ptr<CommBackend> CreateSerialCommBackend();

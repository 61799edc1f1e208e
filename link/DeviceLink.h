#pragma once

#include "link/MSComm.h"
#include "platform/Win.h"

class CDialog;
class QLabel;

// The exchange every device dialog shares, run over the dialog's own serial control.

// Opens the port named by the application's m_strPort (port 1 exactly for "COM1", else port 2) at
// "9600,n,8,1", byte-array input, a receive event per byte, whole-buffer reads, and throws away
// whatever was waiting. A port that is open already gives the message "cannot open serial port"
// and the set-up goes on. A port the platform refuses to open gives the platform's error text with
// the device path in a message box owned by `dlg`, in the interface's language, and the same text
// in `status` (the dialog's status line, when it has one; its first line shown, the whole text as
// its tool tip), so that the dialog still says why it is empty after the box is gone; the function
// then returns false and the dialog starts no exchange.
bool OpenDevicePort(CDialog* dlg, CMSComm& comm, QLabel* status = nullptr);

// Sends one byte, command or data.
void SendCommandByte(CMSComm& comm, BYTE b);

// The receive step: when the control reports received data, appends every byte to rxBuf at
// nRxCount (bytes beyond the buffer are counted in nRxCount but never stored), sets nAnswer to
// rxBuf[0] and returns true; the dialog then runs its answer handling. Returns false for any
// other event.
bool ReceiveIntoBuffer(CMSComm& comm, BYTE* rxBuf, int capacity, int& nRxCount, int& nAnswer);

template <int N> bool ReceiveIntoBuffer(CMSComm& comm, BYTE (&rxBuf)[N], int& nRxCount, int& nAnswer) {
    return ReceiveIntoBuffer(comm, rxBuf, N, nRxCount, nAnswer);
}

// The link-error texts of the status line.
QString LinkErrorText(); // "Link error !  ..." or its Chinese text, by the language in force
QString
RemoteUnreachableText(); // "Receive alarm or the system is busy, can't get the remote records !" or Chinese
// 100 calls of MessageBeep(0).
void LinkErrorBeeps();

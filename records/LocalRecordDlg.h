#pragma once

#include "controls/BmpButton.h"
#include "link/MSComm.h"
#include "platform/Dialog.h"

class QLabel;
class QListWidget;
class QProgressBar;

// Receive buffer of the record dialogs: room for the longest complete record answer, 255 records
// (2 + 8 * 255 = 2042 bytes). Bytes beyond it are counted, never stored.
constexpr int kRecordRxBufSize = 2 + 8 * 255;

// Completes a record answer of `nRecords` records held in rxBuf (answer byte, count, records):
// empties the list, lists the records numbered N down to 1 with the progress bar moving one step
// per record byte, and writes the record file of the local or the remote unit on drive C. Returns
// the status text: the count and the file, "No record .", or, when the file could not be written,
// a text that says so with the path (the records stay listed). *writeError gets the system's
// reason when the file could not be written, else it is emptied.
QString ListAndSaveRecords(bool local, const BYTE* rxBuf, int nRecords, QListWidget* lstRecords,
                           QProgressBar* progress, QString* writeError = nullptr);

// Widens a bitmap button about its centre when its caption bitmap, with the frame around it, does
// not fit the width its template gives it (the dialog font here is narrower than the one the
// templates were laid out with, so "Update Record" would lose its last letter).
void FitButtonToBitmap(CBmpButton& button);

// The status line while a read runs: "Reading Records......" or its Chinese text.
QString ReadingRecordsText();

// Reads, lists, saves and clears the event log of the local unit (command bytes 0x87 and 0x88,
// answers 0x78 and 0x77).
class CLocalRecordDlg : public CDialog {
    Q_OBJECT
public:
    explicit CLocalRecordDlg(QWidget* pParent = nullptr);

    CBmpButton m_btnExit;
    QProgressBar* m_progress = nullptr;
    QLabel* m_stcStatus = nullptr;
    CBmpButton m_btnUpdate;
    CBmpButton m_btnClear;
    QListWidget* m_lstRecords = nullptr;
    CMSComm m_comm;
    BYTE m_rxBuf[kRecordRxBufSize] = {};
    int m_nRxCount = 0;
    int m_nAnswer = 0;
    int m_nRecords = 0;

    BOOL OnInitDialog() override;
    void DoDataExchange(CDataExchange* pDX) override;
    void OnTimer(UINT nIDEvent) override;

    void OnUpdateRecord();
    void OnClearRecord();
    void OnCommEvent();

private:
    void CompleteRecordAnswer();
};

#pragma once

#include "controls/BmpButton.h"
#include "link/MSComm.h"
#include "platform/Dialog.h"
#include "records/LocalRecordDlg.h"

class QLabel;
class QListWidget;
class QProgressBar;

// Reads, lists, saves and clears the event log of the remote unit through the local unit
// (command bytes 0x78 and 0x77, answers 0x87 and 0x88). A record answer announcing 255 records
// is the busy answer: the local unit could not get the remote unit's records.
class CRemoteRecordDlg : public CDialog {
    Q_OBJECT
public:
    explicit CRemoteRecordDlg(QWidget* pParent = nullptr);

    CBmpButton m_btnExit;
    QLabel* m_stcStatus = nullptr;
    CBmpButton m_btnUpdate;
    QProgressBar* m_progress = nullptr;
    QListWidget* m_lstRecords = nullptr;
    CBmpButton m_btnClear;
    CMSComm m_comm;
    BYTE m_rxBuf[kRecordRxBufSize] = {};
    int m_nRxCount = 0;
    int m_nAnswer = 0; // the answer byte; 255 marks a busy answer
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

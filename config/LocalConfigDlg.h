#pragma once

#include "config/ConfigGrid.h"
#include "controls/BmpButton.h"
#include "link/MSComm.h"
#include "platform/Dialog.h"

class QDateTimeEdit;
class QLabel;
class QLineEdit;

// The local unit's configuration and clock (templates 130 Chinese, 162 English). Opening reads
// the configuration (0x89); from the first tick on the unit's date and time are polled every
// second (0x90). Write Config (0x92) sends the configuration block at the unit's invitation, Write
// Date && Time (0x91) the date and time groups, each group 0xFF when its picker still shows its
// initial value. A tick that finds no answer is the link error.
class CLocalConfigDlg : public CDialog {
    Q_OBJECT
public:
    explicit CLocalConfigDlg(QWidget* pParent = nullptr);
    ~CLocalConfigDlg() override;

    QLineEdit* m_edtAddress = nullptr;
    ConfigCells m_cells; // the 24 combo boxes of the grid
    CBmpButton m_btnExit;
    CBmpButton m_btnWriteTime;
    CBmpButton m_btnWriteConfig;
    CBmpButton m_btnReset;
    QDateTimeEdit* m_dtpTime = nullptr;
    QDateTimeEdit* m_dtpDate = nullptr;
    QLabel* m_stcStatus = nullptr;
    QLineEdit* m_edtTime = nullptr;
    QLineEdit* m_edtDate = nullptr;
    CMSComm m_comm;
    int m_nAddress = 0;
    BYTE m_rxBuf[16] = {};
    int m_nRxCount = 0;
    int m_b8Commands = 0;
    int m_nAnswer = 0;
    int m_bPolling = 0;

    BOOL OnInitDialog() override;
    void DoDataExchange(CDataExchange* pDX) override;
    void OnTimer(UINT nIDEvent) override;
    void OnCommEvent();
    void OnWriteDateTime();
    void OnResetConfig();
    void OnWriteConfig();

private:
    void HandleAnswer(int countBefore);
};

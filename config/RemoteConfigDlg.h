#pragma once

#include "config/ConfigGrid.h"
#include "controls/BmpButton.h"
#include "link/MSComm.h"
#include "platform/Dialog.h"

class QDateTimeEdit;
class QLabel;
class QLineEdit;

// The remote unit's configuration and clock, through the local unit (templates 170 Chinese, 168
// English). Opening reads the configuration (0x76) under timer 3; once answered, the date and
// time are read (0x6F) and from then on the dialog counts the clock itself (timer 1). Writes send
// the full configuration block or all six date and time bytes and read back what the unit took.
// An answer whose address high byte is 0xFF means the local unit could not reach the remote one.
class CRemoteConfigDlg : public CDialog {
    Q_OBJECT
public:
    explicit CRemoteConfigDlg(QWidget* pParent = nullptr);
    ~CRemoteConfigDlg() override;

    QLineEdit* m_edtAddress = nullptr;
    CBmpButton m_btnExit;
    CBmpButton m_btnWriteTime;
    CBmpButton m_btnWriteConfig;
    CBmpButton m_btnReset;
    QDateTimeEdit* m_dtpTime = nullptr;
    QLineEdit* m_edtTime = nullptr;
    QLabel* m_stcStatus = nullptr;
    QDateTimeEdit* m_dtpDate = nullptr;
    QLineEdit* m_edtDate = nullptr;
    ConfigCells m_cells; // the 24 combo boxes of the grid
    CMSComm m_comm;
    int m_nAddress = 0;
    BYTE m_rxBuf[16] = {};
    int m_nRxCount = 0;
    int m_b8Commands = 0;
    int m_nAnswer = 0;
    // The remote unit's clock as the dialog counts it: year (two digits), month, day, hour,
    // minute, second. Zero until the first date-and-time answer.
    int m_clock[6] = {};

    BOOL OnInitDialog() override;
    void DoDataExchange(CDataExchange* pDX) override;
    void OnTimer(UINT nIDEvent) override;
    void OnCommEvent();
    void OnWriteConfig();
    void OnWriteDateTime();
    void OnResetConfig();

private:
    void HandleAnswer(int countBefore);
};

#pragma once

#include "link/MSComm.h"
#include "platform/Dialog.h"

class QLabel;

// The About box, which doubles as a device check: it sends the local unit 0x86 (identification)
// and, 60 ms later, shows the firmware version lines when the unit answered 0x79, or the same
// labels left blank otherwise. Template 100 (Chinese) or 152 (English).
class CAboutDlg : public CDialog {
    Q_OBJECT
public:
    explicit CAboutDlg(QWidget* pParent = nullptr);

    QLabel* m_stcLine2 = nullptr; // 1080: CRC and ROM
    QLabel* m_stcLine1 = nullptr; // 1079: CPU version and time
    CMSComm m_comm;               // 1075
    int m_nAnswer = 0;            // the unit's answer byte; 0 until one arrives

    BOOL OnInitDialog() override;
    void OnTimer(UINT nIDEvent) override;
    void OnCommEvent();

protected:
    void DoDataExchange(CDataExchange* pDX) override;
};

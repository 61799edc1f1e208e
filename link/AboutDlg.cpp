#include "link/AboutDlg.h"

#include "app/KelpApp.h"
#include "link/DeviceLink.h"

#include <QLabel>

namespace {
constexpr BYTE kIdentify = 0x86;    // identification request
constexpr int kIdentified = 0x79;   // its answer byte, the complement
constexpr UINT kDecideTimer = 1;    // the one-shot decision
constexpr UINT kDecideAfterMs = 60; // after the request
} // namespace

CAboutDlg::CAboutDlg(QWidget* pParent) : CDialog(g_bChinese ? 100 : 152, pParent) {
    connect(&m_comm, &CMSComm::OnComm, this, &CAboutDlg::OnCommEvent);
}

void CAboutDlg::DoDataExchange(CDataExchange* pDX) {
    CDialog::DoDataExchange(pDX);
    DDX_Control(pDX, 1080, m_stcLine2);
    DDX_Control(pDX, 1079, m_stcLine1);
    DDX_Control(pDX, 1075, m_comm);
}

BOOL CAboutDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    if (!OpenDevicePort(this, m_comm, m_stcLine1))
        return TRUE; // refused: the box stays open with its lines empty, nothing is asked
    m_nAnswer = 0;
    SendCommandByte(m_comm, kIdentify);
    SetTimer(kDecideTimer, kDecideAfterMs);
    return TRUE;
}

void CAboutDlg::OnCommEvent() {
    if (m_comm.GetCommEvent() != 2)
        return;
    const QByteArray input = m_comm.GetInput();
    if (input.isEmpty())
        return;
    // Only the first byte of a batch counts; every batch overwrites the last one's.
    m_nAnswer = BYTE(input.at(0));
}

void CAboutDlg::OnTimer(UINT nIDEvent) {
    if (m_nAnswer == kIdentified) {
        SetDlgItemText(1079, QStringLiteral("CPU Version : 1.0\tTime : 2004-5-27"));
        SetDlgItemText(1080, QStringLiteral("CRC : 3C82\t\tROM : 97250AE8"));
    } else {
        SetDlgItemText(1079, QStringLiteral("CPU Version :\t\tTime : "));
        SetDlgItemText(1080, QStringLiteral("CRC :\t\t\tROMH : "));
    }
    KillTimer(kDecideTimer);
    CDialog::OnTimer(nIDEvent);
}

#include "config/LocalConfigDlg.h"

#include "app/KelpApp.h"
#include "archive/HandOver.h"
#include "link/DeviceLink.h"

#include <QComboBox>
#include <QDateTimeEdit>
#include <QLabel>
#include <QLineEdit>

namespace {
// The grid cells in the order the dialog declares and binds them.
constexpr int kCellOrder[24] = {1039, 1036, 1033, 1034, 1041, 1038, 1032, 1029, 1040, 1037, 1031, 1028,
                                1021, 1018, 1015, 1012, 1020, 1017, 1014, 1011, 1019, 1016, 1013, 1010};
} // namespace

CLocalConfigDlg::CLocalConfigDlg(QWidget* pParent) : CDialog(g_bChinese ? 130 : 162, pParent) {
    MapCommand(5, [this] { OnWriteDateTime(); });
    MapCommand(7, [this] { OnResetConfig(); });
    MapCommand(6, [this] { OnWriteConfig(); });
    connect(&m_comm, &CMSComm::OnComm, this, &CLocalConfigDlg::OnCommEvent);
}

CLocalConfigDlg::~CLocalConfigDlg() = default;

void CLocalConfigDlg::DoDataExchange(CDataExchange* pDX) {
    CDialog::DoDataExchange(pDX);
    DDX_Control(pDX, 1077, m_edtAddress);
    BindConfigCells(pDX, m_cells, kCellOrder);
    DDX_Control(pDX, IDCANCEL, m_btnExit);
    DDX_Control(pDX, 5, m_btnWriteTime);
    DDX_Control(pDX, 6, m_btnWriteConfig);
    DDX_Control(pDX, 7, m_btnReset);
    DDX_Control(pDX, 1007, m_dtpTime);
    DDX_Control(pDX, 1008, m_dtpDate);
    DDX_Control(pDX, 1005, m_stcStatus);
    DDX_Control(pDX, 1002, m_edtTime);
    DDX_Control(pDX, 1001, m_edtDate);
    DDX_Control(pDX, 1075, m_comm);
    DDX_Text(pDX, 1077, m_nAddress);
    DDV_MinMaxInt(pDX, m_nAddress, 0, 65000);
}

BOOL CLocalConfigDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    SetUpConfigControls(this, m_btnExit, m_btnWriteTime, m_btnWriteConfig, m_btnReset, m_dtpDate, m_dtpTime);
    if (!OpenDevicePort(this, m_comm, m_stcStatus)) {
        // The platform refused the port and has said why; nothing can be exchanged, so the
        // buttons that talk to the unit stay off.
        m_btnWriteConfig.setEnabled(false);
        return TRUE;
    }
    m_nRxCount = 0;
    SendCommandByte(m_comm, 0x89);
    m_nAnswer = 0;
    m_bPolling = 0;
    SetTimer(1, 60);
    return TRUE;
}

void CLocalConfigDlg::OnCommEvent() {
    const int countBefore = m_nRxCount;
    if (!ReceiveIntoBuffer(m_comm, m_rxBuf, m_nRxCount, m_nAnswer))
        return;
    HandleAnswer(countBefore);
}

void CLocalConfigDlg::HandleAnswer(int countBefore) {
    switch (m_nAnswer) {
    case 0x76: { // configuration
        if (m_nRxCount != kConfigAnswerLength)
            return;
        ConfigSettings settings;
        DecodeConfigAnswer(m_rxBuf, kConfigAnswerLength, &settings);
        ArchiveConfigAnswer(true, m_comm.GetCommPort(), m_rxBuf, m_nRxCount);
        m_b8Commands = m_rxBuf[1] & 1;
        SetDlgItemText(1077, QString::number(m_rxBuf[2] * 256 + m_rxBuf[3]));
        m_stcStatus->setText(ConfigStatusText(m_b8Commands == 1));
        ShowConfigSettings(m_cells, settings);
        return;
    }
    case 0x6F: // date and time
        if (m_nRxCount == 7) {
            m_edtDate->setText(FormatReadDate(m_rxBuf + 1));
            m_edtTime->setText(FormatReadTime(m_rxBuf + 4));
            ArchiveClockAnswer(this, true, m_comm.GetCommPort(), m_rxBuf, m_nRxCount);
        }
        m_bPolling = 0;
        return;
    case 0x6E: { // invitation to write the date and time
        if (countBefore != 0)
            return;
        // A picker still at 1 January 2003, 00:00:00 leaves its group unchanged.
        const QDate d = m_dtpDate->date();
        const QTime t = m_dtpTime->time();
        const bool dateUnchanged = d.year() % 100 == 3 && d.month() == 1 && d.day() == 1;
        const bool timeUnchanged = t.hour() == 0 && t.minute() == 0 && t.second() == 0;
        const QByteArray data = EncodeDateGroup(dateUnchanged, d.year(), d.month(), d.day()) +
                                EncodeTimeGroup(timeUnchanged, t.hour(), t.minute(), t.second());
        for (char b : data)
            SendCommandByte(m_comm, BYTE(b));
        ArchiveClockWrite(this, true, m_comm.GetCommPort(), data);
        return;
    }
    case 0x6D: { // invitation to write the configuration
        if (countBefore != 0)
            return;
        const auto block = EncodeConfigBlock(ReadConfigSettings(m_cells, m_b8Commands, m_nAddress));
        for (BYTE b : block)
            SendCommandByte(m_comm, b);
        ArchiveConfigWrite(true, m_comm.GetCommPort(), block.data(), int(block.size()), m_b8Commands ? 8 : 4);
        SetTimer(1, 1000);
        return;
    }
    default:
        return;
    }
}

void CLocalConfigDlg::OnTimer(UINT nIDEvent) {
    if (nIDEvent == 2) {
        KillTimer(2);
        m_btnWriteConfig.setEnabled(true);
        return;
    }
    if (m_nAnswer != 0) {
        m_bPolling = 1;
        SetTimer(1, 1000);
        m_btnWriteTime.setEnabled(!PickersAtInitialValues(m_dtpDate, m_dtpTime));
        m_nRxCount = 0;
        m_nAnswer = 0;
        SendCommandByte(m_comm, 0x90);
        CDialog::OnTimer(nIDEvent);
        return;
    }
    m_stcStatus->setText(LinkErrorText());
    KillTimer(1);
    LinkErrorBeeps();
    m_btnWriteTime.setEnabled(false);
    m_btnWriteConfig.setEnabled(false);
    m_edtDate->clear();
    m_edtTime->clear();
    SetDlgItemText(1077, QStringLiteral("0"));
    ClearConfigSelections(m_cells);
}

void CLocalConfigDlg::OnWriteConfig() {
    if (m_bPolling)
        return; // a poll is unanswered: its answer must not meet a reset receive state
    KillTimer(1);
    if (!UpdateData(TRUE))
        return;
    m_btnWriteConfig.setEnabled(false);
    m_nRxCount = 0;
    SendCommandByte(m_comm, 0x92);
    SetTimer(2, 800);
}

void CLocalConfigDlg::OnWriteDateTime() {
    m_nRxCount = 0;
    SendCommandByte(m_comm, 0x91);
}

void CLocalConfigDlg::OnResetConfig() {
    ResetConfigCells(m_cells);
}

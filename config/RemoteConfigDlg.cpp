#include "config/RemoteConfigDlg.h"

#include "app/KelpApp.h"
#include "archive/HandOver.h"
#include "link/DeviceLink.h"
#include "platform/Platform.h"

#include <QComboBox>
#include <QDateTimeEdit>
#include <QLabel>
#include <QLineEdit>

namespace {
// The grid cells in the order the dialog declares and binds them.
constexpr int kCellOrder[24] = {1039, 1036, 1033, 1034, 1021, 1018, 1015, 1012, 1041, 1038, 1032, 1029,
                                1020, 1017, 1014, 1011, 1040, 1037, 1031, 1028, 1019, 1016, 1010, 1013};
// Answer length of a configuration read the local unit could not pass to the remote unit:
// 0x89, flags, 0xFF.
constexpr int kUnreachableAnswerLength = 3;
} // namespace

CRemoteConfigDlg::CRemoteConfigDlg(QWidget* pParent) : CDialog(g_bChinese ? 170 : 168, pParent) {
    MapCommand(6, [this] { OnWriteConfig(); });
    MapCommand(5, [this] { OnWriteDateTime(); });
    MapCommand(7, [this] { OnResetConfig(); });
    connect(&m_comm, &CMSComm::OnComm, this, &CRemoteConfigDlg::OnCommEvent);
}

CRemoteConfigDlg::~CRemoteConfigDlg() = default;

void CRemoteConfigDlg::DoDataExchange(CDataExchange* pDX) {
    CDialog::DoDataExchange(pDX);
    DDX_Control(pDX, 1077, m_edtAddress);
    DDX_Control(pDX, IDCANCEL, m_btnExit);
    DDX_Control(pDX, 5, m_btnWriteTime);
    DDX_Control(pDX, 6, m_btnWriteConfig);
    DDX_Control(pDX, 7, m_btnReset);
    DDX_Control(pDX, 1007, m_dtpTime);
    DDX_Control(pDX, 1002, m_edtTime);
    DDX_Control(pDX, 1005, m_stcStatus);
    DDX_Control(pDX, 1008, m_dtpDate);
    DDX_Control(pDX, 1001, m_edtDate);
    BindConfigCells(pDX, m_cells, kCellOrder);
    DDX_Control(pDX, 1075, m_comm);
    DDX_Text(pDX, 1077, m_nAddress);
    DDV_MinMaxInt(pDX, m_nAddress, 0, 65000);
}

BOOL CRemoteConfigDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    SetUpConfigControls(this, m_btnExit, m_btnWriteTime, m_btnWriteConfig, m_btnReset, m_dtpDate, m_dtpTime);
    if (!OpenDevicePort(this, m_comm, m_stcStatus)) {
        // The platform refused the port and has said why; nothing can be exchanged.
        m_btnWriteConfig.setEnabled(false);
        return TRUE;
    }
    m_nRxCount = 0;
    m_nAnswer = 0;
    SendCommandByte(m_comm, 0x76);
    SetTimer(3, 90);
    return TRUE;
}

void CRemoteConfigDlg::OnCommEvent() {
    const int countBefore = m_nRxCount;
    if (!ReceiveIntoBuffer(m_comm, m_rxBuf, m_nRxCount, m_nAnswer))
        return;
    HandleAnswer(countBefore);
}

void CRemoteConfigDlg::HandleAnswer(int countBefore) {
    switch (m_nAnswer) {
    case 0x89: { // configuration, or the report that the remote unit cannot be read
        if (m_nRxCount != kConfigAnswerLength && m_nRxCount != kUnreachableAnswerLength)
            return;
        if (m_rxBuf[2] == 0xFF) {
            m_b8Commands = m_rxBuf[1] & 1;
            m_nAnswer = 0xFF;
            SetTimer(3, 10);
            return;
        }
        // Three bytes without the 0xFF mark are the start of a full answer, not a report:
        // wait for the rest rather than decode what the buffer held before.
        if (m_nRxCount != kConfigAnswerLength)
            return;
        ConfigSettings settings;
        DecodeConfigAnswer(m_rxBuf, kConfigAnswerLength, &settings);
        ArchiveConfigAnswer(false, m_comm.GetCommPort(), m_rxBuf, m_nRxCount);
        m_b8Commands = m_rxBuf[1] & 1;
        SetDlgItemText(1077, QString::number(m_rxBuf[2] * 256 + m_rxBuf[3]));
        m_stcStatus->setText(ConfigStatusText(m_b8Commands == 1));
        ShowConfigSettings(m_cells, settings);
        return;
    }
    case 0x90: // date and time
        if (m_nRxCount != 7)
            return;
        for (int i = 0; i < 6; ++i)
            m_clock[i] = FromBcd(m_rxBuf[1 + i]);
        m_edtDate->setText(FormatReadDate(m_rxBuf + 1));
        m_edtTime->setText(FormatReadTime(m_rxBuf + 4));
        ArchiveClockAnswer(this, false, m_comm.GetCommPort(), m_rxBuf, m_nRxCount);
        return;
    case 0x91: { // invitation to write the date and time: all six bytes, then read them back
        if (countBefore != 0)
            return;
        const QDate d = m_dtpDate->date();
        const QTime t = m_dtpTime->time();
        const QByteArray data = EncodeDateGroup(false, d.year(), d.month(), d.day()) +
                                EncodeTimeGroup(false, t.hour(), t.minute(), t.second());
        for (char b : data)
            SendCommandByte(m_comm, BYTE(b));
        ArchiveClockWrite(this, false, m_comm.GetCommPort(), data);
        Sleep(60);
        m_nRxCount = 0;
        SendCommandByte(m_comm, 0x6F);
        return;
    }
    case 0x92: { // invitation to write the configuration: the block, then read it back
        if (countBefore != 0)
            return;
        const auto block = EncodeConfigBlock(ReadConfigSettings(m_cells, m_b8Commands, m_nAddress));
        for (BYTE b : block)
            SendCommandByte(m_comm, b);
        ArchiveConfigWrite(false, m_comm.GetCommPort(), block.data(), int(block.size()),
                           m_b8Commands ? 8 : 4);
        Sleep(1050);
        m_nRxCount = 0;
        SendCommandByte(m_comm, 0x76);
        SetTimer(1, 1000);
        return;
    }
    default:
        return;
    }
}

void CRemoteConfigDlg::OnTimer(UINT nIDEvent) {
    if (nIDEvent == 2) {
        KillTimer(2);
        m_btnWriteConfig.setEnabled(true);
        return;
    }
    if (m_nAnswer == 0 || m_nAnswer == 0xFF) {
        m_stcStatus->setText(m_nAnswer == 0 ? LinkErrorText() : RemoteUnreachableText());
        KillTimer(3); // timer 1, if it runs, brings this branch back at its every tick
        LinkErrorBeeps();
        m_btnWriteTime.setEnabled(false);
        m_btnWriteConfig.setEnabled(false);
        m_edtDate->clear();
        m_edtTime->clear();
        SetDlgItemText(1077, QStringLiteral("0"));
        ClearConfigSelections(m_cells);
        return;
    }
    if (nIDEvent == 3) { // the first read has been answered: read the clock once
        KillTimer(3);
        m_nRxCount = 0;
        SendCommandByte(m_comm, 0x6F);
        SetTimer(1, 1000);
        return;
    }
    m_btnWriteTime.setEnabled(!PickersAtInitialValues(m_dtpDate, m_dtpTime));
    int& hour = m_clock[3];
    int& minute = m_clock[4];
    int& second = m_clock[5];
    if (++second >= 60) {
        second = 0;
        if (++minute >= 60) {
            minute = 0;
            if (++hour >= 24)
                hour = 0;
        }
    }
    m_edtDate->setText(FormatClockDate(m_clock[0], m_clock[1], m_clock[2]));
    m_edtTime->setText(FormatClockTime(hour, minute, second));
    CDialog::OnTimer(nIDEvent);
}

void CRemoteConfigDlg::OnWriteConfig() {
    KillTimer(1);
    if (!UpdateData(TRUE))
        return;
    m_btnWriteConfig.setEnabled(false);
    m_nRxCount = 0;
    m_nAnswer = 0;
    SendCommandByte(m_comm, 0x6D);
    SetTimer(2, 1400);
}

void CRemoteConfigDlg::OnWriteDateTime() {
    m_nRxCount = 0;
    SendCommandByte(m_comm, 0x6E);
}

void CRemoteConfigDlg::OnResetConfig() {
    ResetConfigCells(m_cells);
}

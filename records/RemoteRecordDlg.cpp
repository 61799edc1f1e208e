#include "records/RemoteRecordDlg.h"

#include "app/KelpApp.h"
#include "archive/HandOver.h"
#include "link/DeviceLink.h"
#include "platform/Platform.h"
#include "records/ClearConfirmDlg.h"
#include "records/RecordFormat.h"

#include <QGuiApplication>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>

namespace {

constexpr BYTE kReadRecords = 0x78;
constexpr BYTE kClearRecords = 0x77;
constexpr BYTE kRecordAnswer = 0x87;
constexpr BYTE kClearAnswer = 0x88;
constexpr int kBusy = 255; // record count of the busy answer, and m_nAnswer's mark for it
constexpr UINT kLinkTimer = 1;
constexpr UINT kLinkCheckMs = 200;
constexpr UINT kBusyReportMs = 10;

struct WaitCursor {
    WaitCursor() { QGuiApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { QGuiApplication::restoreOverrideCursor(); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;
};

} // namespace

CRemoteRecordDlg::CRemoteRecordDlg(QWidget* pParent) : CDialog(g_bChinese ? 173 : 172, pParent) {
    connect(&m_comm, &CMSComm::OnComm, this, &CRemoteRecordDlg::OnCommEvent);
    MapCommand(4, [this] { OnClearRecord(); });
    MapCommand(3, [this] { OnUpdateRecord(); });
}

void CRemoteRecordDlg::DoDataExchange(CDataExchange* pDX) {
    CDialog::DoDataExchange(pDX);
    DDX_Control(pDX, IDCANCEL, m_btnExit);
    DDX_Control(pDX, 1005, m_stcStatus);
    DDX_Control(pDX, 3, m_btnUpdate);
    DDX_Control(pDX, 1006, m_progress);
    DDX_Control(pDX, 1003, m_lstRecords);
    DDX_Control(pDX, 4, m_btnClear);
    DDX_Control(pDX, 1075, m_comm);
}

BOOL CRemoteRecordDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    m_btnExit.SetBitmaps(1, g_bChinese ? 138 : 156);
    m_btnUpdate.SetBitmaps(1, g_bChinese ? 140 : 158);
    m_btnClear.SetBitmaps(1, g_bChinese ? 139 : 157);
    for (CBmpButton* button : {&m_btnExit, &m_btnUpdate, &m_btnClear})
        FitButtonToBitmap(*button);
    m_btnClear.setEnabled(false);
    m_btnUpdate.setEnabled(false);
    if (!OpenDevicePort(this, m_comm, m_stcStatus))
        return TRUE; // refused by the platform, which has said why: no exchange
    m_nRecords = 0;
    OnUpdateRecord();
    return TRUE;
}

void CRemoteRecordDlg::OnUpdateRecord() {
    m_stcStatus->setText(ReadingRecordsText());
    m_stcStatus->setToolTip(QString());
    m_btnUpdate.setEnabled(false);
    m_btnClear.setEnabled(false);
    m_lstRecords->clear();
    m_progress->setValue(0);
    m_nAnswer = 0;
    m_nRxCount = 0;
    SendCommandByte(m_comm, kReadRecords);
    SetTimer(kLinkTimer, kLinkCheckMs);
}

void CRemoteRecordDlg::OnCommEvent() {
    WaitCursor wait;
    if (!ReceiveIntoBuffer(m_comm, m_rxBuf, m_nRxCount, m_nAnswer))
        return;
    if (m_nAnswer == kRecordAnswer) {
        if (m_nRxCount < 2)
            return;
        m_nRecords = m_rxBuf[1];
        if (m_nRecords == kBusy) {
            // Every later batch finds the busy answer again and repeats the report.
            m_nAnswer = kBusy;
            SetTimer(kLinkTimer, kBusyReportMs);
            return;
        }
        if (m_nRxCount == RecordAnswerLength(m_nRecords))
            CompleteRecordAnswer();
        return;
    }
    if (m_nAnswer == kClearAnswer) {
        m_nRecords = 0;
        OnUpdateRecord();
    }
}

void CRemoteRecordDlg::CompleteRecordAnswer() {
    ArchiveRecordAnswer(false, m_comm.GetCommPort(), m_rxBuf, m_nRxCount);
    QString error;
    const QString status = ListAndSaveRecords(false, m_rxBuf, m_nRecords, m_lstRecords, m_progress, &error);
    m_stcStatus->setText(status);
    m_stcStatus->setToolTip(error.isEmpty() ? status : status + '\n' + error); // the whole path, however long
    m_btnUpdate.setEnabled(true);
    m_btnClear.setEnabled(m_nRecords != 0);
}

void CRemoteRecordDlg::OnTimer(UINT) {
    KillTimer(kLinkTimer);
    if (m_nAnswer != 0 && m_nAnswer != kBusy)
        return;
    m_stcStatus->setText(m_nAnswer == kBusy ? RemoteUnreachableText() : LinkErrorText());
    m_stcStatus->setToolTip(QString());
    m_lstRecords->clear();
    m_btnUpdate.setEnabled(false);
    m_btnClear.setEnabled(false);
    m_progress->setValue(0);
    LinkErrorBeeps();
}

void CRemoteRecordDlg::OnClearRecord() {
    LinkErrorBeeps();
    CClearConfirmDlg dlg;
    if (dlg.DoModal() == IDCANCEL)
        return;
    m_lstRecords->clear();
    m_stcStatus->setText(QString());
    m_stcStatus->setToolTip(QString());
    m_btnClear.setEnabled(false);
    m_progress->setValue(0);
    m_nRxCount = 0;
    SendCommandByte(m_comm, kClearRecords);
    ArchiveRecordClear(false, m_comm.GetCommPort());
}

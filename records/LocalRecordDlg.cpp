#include "records/LocalRecordDlg.h"

#include "app/KelpApp.h"
#include "archive/HandOver.h"
#include "link/DeviceLink.h"
#include "platform/DriveC.h"
#include "platform/Platform.h"
#include "records/ClearConfirmDlg.h"
#include "records/RecordFormat.h"

#include <QGuiApplication>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <algorithm>

namespace {

constexpr BYTE kReadRecords = 0x87;
constexpr BYTE kClearRecords = 0x88;
constexpr BYTE kRecordAnswer = 0x78;
constexpr BYTE kClearAnswer = 0x77;
constexpr UINT kLinkTimer = 1;
constexpr UINT kLinkCheckMs = 200;

// The wait cursor, for as long as a receive event is handled.
struct WaitCursor {
    WaitCursor() { QGuiApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { QGuiApplication::restoreOverrideCursor(); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;
};

// The record file could not be created or written: the records are listed all the same.
QString NotWrittenText(int n, const QString& path, bool chinese) {
    if (chinese)
        return n == 0 ? QStringLiteral("没有任何记录。无法写入文件 %1 ！").arg(path)
                      : QStringLiteral("共有%1条记录，但无法写入文件 %2 ！").arg(n).arg(path);
    return n == 0 ? QStringLiteral("No record . %1 could not be written !").arg(path)
                  : QStringLiteral("%1 record(s) read , but %2 could not be written !").arg(n).arg(path);
}

} // namespace

void FitButtonToBitmap(CBmpButton& button) {
    const int needed = button.m_nWidth + 6; // raised frame and the pressed shift on both sides
    QRect r = button.geometry();
    if (r.width() >= needed)
        return;
    const int grow = needed - r.width();
    r.adjust(-grow / 2, 0, grow - grow / 2, 0);
    button.setGeometry(r);
}

QString ReadingRecordsText() {
    return g_bChinese ? QStringLiteral("读取记录中......") : QStringLiteral("Reading Records......");
}

QString ListAndSaveRecords(bool local, const BYTE* rxBuf, int nRecords, QListWidget* lstRecords,
                           QProgressBar* progress, QString* writeError) {
    const bool chinese = g_bChinese != 0;
    const int n = std::clamp(nRecords, 0, 255);
    if (lstRecords)
        lstRecords->clear();
    if (progress) {
        // An empty range would turn the bar into a busy indicator: keep it empty instead.
        progress->setRange(0, n > 0 ? 8 * n : 1);
        progress->setValue(0);
    }
    QStringList lines;
    lines.reserve(n);
    for (int k = 0; k < n; ++k) {
        const BYTE* rec = rxBuf + 2 + 8 * k;
        if (progress)
            for (int i = 0; i < kEventRecordLength; ++i)
                progress->setValue(progress->value() + 1); // one step per record byte
        const QString line = FormatRecordLine(n - k, rec, chinese);
        if (lstRecords)
            lstRecords->addItem(line);
        lines << line;
    }
    const QString path = DriveCPath(RecordFileName(local, chinese));
    QString error;
    const bool written = WriteRecordFile(path, RecordFileContent(n, lines, chinese), &error);
    if (writeError)
        *writeError = written ? QString() : error;
    if (!written)
        return NotWrittenText(n, path, chinese);
    return n == 0 ? NoRecordText(chinese) : RecordSavedText(n, path, chinese);
}

CLocalRecordDlg::CLocalRecordDlg(QWidget* pParent) : CDialog(g_bChinese ? 131 : 164, pParent) {
    connect(&m_comm, &CMSComm::OnComm, this, &CLocalRecordDlg::OnCommEvent);
    MapCommand(3, [this] { OnUpdateRecord(); });
    MapCommand(4, [this] { OnClearRecord(); });
}

void CLocalRecordDlg::DoDataExchange(CDataExchange* pDX) {
    CDialog::DoDataExchange(pDX);
    DDX_Control(pDX, IDCANCEL, m_btnExit);
    DDX_Control(pDX, 1006, m_progress);
    DDX_Control(pDX, 1005, m_stcStatus);
    DDX_Control(pDX, 3, m_btnUpdate);
    DDX_Control(pDX, 4, m_btnClear);
    DDX_Control(pDX, 1003, m_lstRecords);
    DDX_Control(pDX, 1075, m_comm);
}

BOOL CLocalRecordDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    m_btnExit.SetBitmaps(1, g_bChinese ? 138 : 156);
    m_btnUpdate.SetBitmaps(1, g_bChinese ? 140 : 158);
    m_btnClear.SetBitmaps(1, g_bChinese ? 139 : 157);
    for (CBmpButton* button : {&m_btnExit, &m_btnUpdate, &m_btnClear})
        FitButtonToBitmap(*button);
    m_btnClear.setEnabled(false);
    if (!OpenDevicePort(this, m_comm, m_stcStatus)) {
        // The platform refused the device and has said why: no exchange, nothing to start.
        m_btnUpdate.setEnabled(false);
        return TRUE;
    }
    m_nRecords = 0;
    OnUpdateRecord();
    return TRUE;
}

void CLocalRecordDlg::OnUpdateRecord() {
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

void CLocalRecordDlg::OnCommEvent() {
    WaitCursor wait;
    if (!ReceiveIntoBuffer(m_comm, m_rxBuf, m_nRxCount, m_nAnswer))
        return;
    if (m_nAnswer == kClearAnswer) {
        m_nRecords = 0;
        OnUpdateRecord();
        return;
    }
    if (m_nAnswer == kRecordAnswer && m_nRxCount >= 2) {
        m_nRecords = m_rxBuf[1];
        if (m_nRxCount == RecordAnswerLength(m_nRecords))
            CompleteRecordAnswer();
    }
}

void CLocalRecordDlg::CompleteRecordAnswer() {
    ArchiveRecordAnswer(true, m_comm.GetCommPort(), m_rxBuf, m_nRxCount);
    QString error;
    const QString status = ListAndSaveRecords(true, m_rxBuf, m_nRecords, m_lstRecords, m_progress, &error);
    m_stcStatus->setText(status);
    m_stcStatus->setToolTip(error.isEmpty() ? status : status + '\n' + error); // the whole path, however long
    m_btnUpdate.setEnabled(true);
    m_btnClear.setEnabled(m_nRecords != 0);
}

void CLocalRecordDlg::OnTimer(UINT) {
    KillTimer(kLinkTimer);
    if (m_nAnswer != 0)
        return;
    m_lstRecords->clear();
    m_btnUpdate.setEnabled(false);
    m_btnClear.setEnabled(false);
    m_progress->setValue(0);
    m_stcStatus->setText(LinkErrorText());
    m_stcStatus->setToolTip(QString());
    LinkErrorBeeps();
}

void CLocalRecordDlg::OnClearRecord() {
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
    ArchiveRecordClear(true, m_comm.GetCommPort());
}

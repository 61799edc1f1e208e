#include "records/ClearConfirmDlg.h"

#include "app/KelpApp.h"

CClearConfirmDlg::CClearConfirmDlg(QWidget* pParent) : CDialog(g_bChinese ? 143 : 161, pParent) {}

void CClearConfirmDlg::DoDataExchange(CDataExchange* pDX) {
    CDialog::DoDataExchange(pDX);
    DDX_Control(pDX, IDOK, m_btnYes);
    DDX_Control(pDX, IDCANCEL, m_btnNo);
}

BOOL CClearConfirmDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    m_btnNo.SetBitmaps(1, g_bChinese ? 144 : 154);
    m_btnYes.SetBitmaps(1, g_bChinese ? 145 : 155);
    return TRUE;
}

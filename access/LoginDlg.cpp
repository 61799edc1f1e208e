#include "access/LoginDlg.h"

#include "access/Password.h"
#include "app/KelpApp.h"
#include "platform/Platform.h"

#include <QLabel>
#include <QLineEdit>

#include <cstring>

CLoginDlg::CLoginDlg(QWidget* pParent) : CDialog(g_bChinese ? 178 : 179, pParent) {}

void CLoginDlg::DoDataExchange(CDataExchange* pDX) {
    CDialog::DoDataExchange(pDX);
    DDX_Control(pDX, 1005, m_stcHint);
    DDX_Text(pDX, 57634, m_strPassword);
    DDV_MaxChars(pDX, m_strPassword, 9);
}

BOOL CLoginDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    RestrictPasswordEdit(GetDlgItemAs<QLineEdit>(57634));
    bool read = false;
    const QByteArray stored = ReadStoredPassword(&read);
    std::memset(m_szStored, 0, sizeof m_szStored);
    std::memcpy(m_szStored, stored.constData(), std::min<size_t>(stored.size(), 15));
    // The hint tells what the store holds: a password that could not be read shows none, though
    // the factory password it is compared with then stands in for it.
    if (read && std::strcmp(m_szStored, "RTN-615") == 0 && m_stcHint) {
        m_stcHint->setText(g_bChinese ? QStringLiteral("原始密码：     RTN-615")
                                      : QStringLiteral("The Original Password ： RTN-615"));
    }
    return TRUE;
}

void CLoginDlg::OnOK() {
    UpdateData(TRUE);
    if (PasswordBytes(m_strPassword) == QByteArray(m_szStored)) {
        CDialog::OnOK();
        return;
    }
    if (g_bChinese)
        MessageBox(this, QStringLiteral("   请 输 入 正 确 的 密 码   "), QStringLiteral("密码错误"),
                   MB_OK | MB_ICONHAND);
    else
        MessageBox(this, QStringLiteral("Please input the correct password"), QStringLiteral("Error"),
                   MB_OK | MB_ICONHAND);
    if (QWidget* edit = GetDlgItem(57634))
        edit->setFocus();
}

void CLoginDlg::OnEditSetFocus(int id) {
    if (id == 57634)
        if (auto* edit = GetDlgItemAs<QLineEdit>(57634))
            edit->selectAll();
}

#include "access/ChangePasswordDlg.h"

#include "access/Password.h"
#include "app/KelpApp.h"
#include "archive/HandOver.h"
#include "platform/Platform.h"
#include "platform/Registry.h"

#include <QLineEdit>

CChangePasswordDlg::CChangePasswordDlg(QWidget* pParent) : CDialog(g_bChinese ? 180 : 181, pParent) {}

void CChangePasswordDlg::DoDataExchange(CDataExchange* pDX) {
    CDialog::DoDataExchange(pDX);
    DDX_Text(pDX, 1071, m_strConfirm);
    DDV_MaxChars(pDX, m_strConfirm, 9);
    DDX_Text(pDX, 1070, m_strNew);
    DDV_MaxChars(pDX, m_strNew, 9);
    DDX_Text(pDX, 1069, m_strOld);
    DDV_MaxChars(pDX, m_strOld, 9);
}

BOOL CChangePasswordDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    for (int id : {1069, 1070, 1071})
        RestrictPasswordEdit(GetDlgItemAs<QLineEdit>(id));
    return TRUE;
}

namespace {
void fail(QWidget* owner, const char* chinese, const char* english) {
    if (g_bChinese)
        MessageBox(owner, QString::fromUtf8(chinese), QStringLiteral("密码错误"), MB_OK | MB_ICONHAND);
    else
        MessageBox(owner, QString::fromUtf8(english), QStringLiteral("Error"), MB_OK | MB_ICONHAND);
}
} // namespace

void CChangePasswordDlg::OnOK() {
    UpdateData(TRUE);
    const QByteArray stored = ReadStoredPassword(); // afresh on every press
    if (PasswordBytes(m_strOld) != stored) {
        fail(this, "     原 密 码 错 误 ！     ", "The old password you've input is wrong !");
        return;
    }
    if (PasswordBytes(m_strNew) != PasswordBytes(m_strConfirm)) {
        fail(this, " 两 次 密 码 设 置 不 一 致 ！", "   Twice input disagree !   ");
        return;
    }
    if (m_strNew.isEmpty()) {
        fail(this, "    密 码 不 能 为 空    ", "Password can not be NULL !");
        return;
    }
    // Stored with its terminating zero. A store that refuses the write keeps the old password, and
    // the user is told so instead of being congratulated.
    QByteArray value = PasswordBytes(m_strNew);
    value.append('\0');
    HKEY key;
    bool stored_ok = false;
    if (RegOpenKeyEx(SETTINGS_KEY, &key) == ERROR_SUCCESS) {
        stored_ok = RegSetValueEx(key, QStringLiteral("Password"), REG_SZ,
                                  reinterpret_cast<const BYTE*>(value.constData()),
                                  DWORD(value.size())) == ERROR_SUCCESS;
        RegCloseKey(&key);
    }
    if (!stored_ok) {
        fail(this, "  新 密 码 无 法 保 存 ！  ", "The new password could not be stored !");
        return;
    }
    ArchivePasswordChange();
    CDialog::OnOK();
    if (g_bChinese)
        MessageBox(this, QStringLiteral("     成 功 修 改 密 码 ！     "), QStringLiteral("恭喜您"), MB_OK);
    else
        MessageBox(this, QStringLiteral("  You have changed the Password !  "),
                   QStringLiteral("Congratulations"), MB_OK);
}

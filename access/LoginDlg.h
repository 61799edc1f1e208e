#pragma once

#include "platform/Dialog.h"

class QLabel;

// The login at start-up: only the stored password ends it with IDOK. While the stored password is
// the factory one, the dialog shows it as a hint.
class CLoginDlg : public CDialog {
    Q_OBJECT
public:
    explicit CLoginDlg(QWidget* pParent = nullptr);

    char m_szStored[16] = {};
    QLabel* m_stcHint = nullptr;
    QString m_strPassword;

    BOOL OnInitDialog() override;
    void DoDataExchange(CDataExchange* pDX) override;
    void OnOK() override;
    void OnEditSetFocus(int id) override;
};

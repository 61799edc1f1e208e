#pragma once

#include "platform/Dialog.h"

// Replaces the login password: the current one once, the new one twice.
class CChangePasswordDlg : public CDialog {
    Q_OBJECT
public:
    explicit CChangePasswordDlg(QWidget* pParent = nullptr);

    QString m_strConfirm;
    QString m_strNew;
    QString m_strOld;

    BOOL OnInitDialog() override;
    void DoDataExchange(CDataExchange* pDX) override;
    void OnOK() override;
};

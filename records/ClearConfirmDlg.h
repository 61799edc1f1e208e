#pragma once

#include "controls/BmpButton.h"
#include "platform/Dialog.h"

// Asked before a unit's event log is cleared: Yes ends the dialog with IDOK, No, Escape and the
// close box with IDCANCEL. The record dialogs act on the result.
class CClearConfirmDlg : public CDialog {
    Q_OBJECT
public:
    explicit CClearConfirmDlg(QWidget* pParent = nullptr);

    CBmpButton m_btnYes; // control 1, OK
    CBmpButton m_btnNo;  // control 2, Cancel

    BOOL OnInitDialog() override;
    void DoDataExchange(CDataExchange* pDX) override;
};

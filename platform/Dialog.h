#pragma once

#include "platform/DlgTemplate.h"
#include "platform/Win.h"

#include <QDialog>
#include <QMap>
#include <QPointer>
#include <QString>

#include <functional>
#include <type_traits>

class QTimer;
class CDialog;

// The data-exchange pass of UpdateData: direction, and whether a check has failed (then every
// later exchange of the pass is skipped and UpdateData returns FALSE).
class CDataExchange {
public:
    CDataExchange(CDialog* dlg, BOOL saveAndValidate) : m_pDlgWnd(dlg), m_bSaveAndValidate(saveAndValidate) {}
    void Fail(QWidget* control); // focus back on the control, the pass fails
    CDialog* m_pDlgWnd;
    BOOL m_bSaveAndValidate;
    bool m_bFailed = false;
    QWidget* m_pLastControl = nullptr; // the control of the last DDX_Text, for the checks after it
    int m_idLastControl = 0;
};

// A modal dialog built from a template in res/ by its id. Subclasses override OnInitDialog,
// DoDataExchange, OnOK, OnCancel and OnTimer as the framework's dialogs did, and route button
// commands with MapCommand. Create() builds the window and runs OnInitDialog without entering a
// modal loop, which is what the tests use; DoModal() does the same and then runs the loop.
class CDialog : public QDialog {
    Q_OBJECT
public:
    explicit CDialog(int templateId, QWidget* parent = nullptr);
    ~CDialog() override;

    int TemplateId() const { return m_nTemplateId; }

    BOOL Create();
    int DoModal();
    void EndDialog(int result);

    virtual BOOL OnInitDialog();
    virtual void DoDataExchange(CDataExchange* pDX);
    virtual void OnOK();
    virtual void OnCancel();
    virtual void OnTimer(UINT nIDEvent);
    // A command from a control (a button click). Standard ids go to OnOK and OnCancel; mapped ids to
    // their handler; anything else to the owner's route (the application).
    virtual void OnCommand(int id);
    // The edit `id` has received the focus (the edit's set-focus notification).
    virtual void OnEditSetFocus(int id);

    BOOL UpdateData(BOOL saveAndValidate = TRUE);

    QWidget* GetDlgItem(int id) const;
    template <class T> T* GetDlgItemAs(int id) const { return qobject_cast<T*>(GetDlgItem(id)); }
    void SetDlgItemText(int id, const QString& text);
    QString GetDlgItemText(int id) const;

    // Timers by id. SetTimer with an id that runs already restarts it with the new period.
    UINT SetTimer(UINT id, UINT elapseMs);
    BOOL KillTimer(UINT id);
    bool IsTimerRunning(UINT id) const;
    int TimerPeriod(UINT id) const; // -1 when not running

    // A rectangle in dialog units of this dialog's template, in pixels.
    QRect MapDialogRect(int x, int y, int cx, int cy) const;
    int BaseUnitX() const { return m_baseX; }
    int BaseUnitY() const { return m_baseY; }

    // Puts `replacement` in the place of control `id` (geometry, state, focus order, command
    // routing); the template's widget is deleted. Used to bind controls of our own classes.
    void ReplaceDlgItem(int id, QWidget* replacement);

protected:
    void MapCommand(int id, std::function<void()> handler);
    void reject() override; // Escape and the close box: OnCancel
    void accept() override; // routed through OnOK
    // The dialog manager's keyboard. Enter presses the focused plain push button (the button's
    // own event, see eventFilter), else the template's default button (nothing when it is
    // disabled), else sends IDOK (OnOK: the data exchange, then the dialog ends). Owner-drawn
    // buttons never take Enter; Space presses the one with the focus. Escape is IDCANCEL
    // (OnCancel).
    void keyPressEvent(QKeyEvent* event) override;
    // The dialog first appears centred on its owner window, or on the screen without one.
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void BuildFromTemplate();
    QWidget* CreateControl(const DlgControl& c);
    void WireControl(int id, QWidget* w);
    bool IsOwnerDrawn(int id) const;

    int m_nTemplateId;
    QPointer<QWidget> m_owner; // the main window when built without a parent
    bool m_bCreated = false;
    bool m_bEnded = false;
    bool m_bPlaced = false;
    int m_baseX = 8, m_baseY = 16;
    QMap<int, QPointer<QWidget>> m_controls;
    QMap<int, std::function<void()>> m_commands;
    QMap<UINT, QTimer*> m_timers;
};

// Standard data exchange, with the framework's validation messages.
void DDX_Text(CDataExchange* pDX, int id, QString& value);
void DDX_Text(CDataExchange* pDX, int id, int& value);
void DDV_MaxChars(CDataExchange* pDX, const QString& value, int maxChars);
void DDV_MinMaxInt(CDataExchange* pDX, int value, int minVal, int maxVal);

// Binds a member control of our own class (a widget object) to the template's control `id`, once.
template <class T, std::enable_if_t<std::is_base_of_v<QWidget, T>, int> = 0>
void DDX_Control(CDataExchange* pDX, int id, T& control) {
    if (pDX->m_pDlgWnd->GetDlgItem(id) != &control)
        pDX->m_pDlgWnd->ReplaceDlgItem(id, &control);
}
// Binds a pointer member to the template's control `id` (null when the control is not of type T).
template <class T> void DDX_Control(CDataExchange* pDX, int id, T*& control) {
    control = pDX->m_pDlgWnd->template GetDlgItemAs<T>(id);
}

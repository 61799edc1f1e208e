#pragma once

#include <QMainWindow>

class QMenuBar;
class QToolBar;
class CKelpView;

// The main window: menu bar, one of two toolbars (Chinese 128, English 150) and the welcome view.
class CMainFrame : public QMainWindow {
    Q_OBJECT
public:
    CMainFrame();

    // Builds both toolbars and the view; shows the toolbar of the current language. -1 on failure.
    int OnCreate();
    // Shows exactly the toolbar of the language in force, hides the other, and relays the window.
    void ShowLanguageToolBar();
    // Makes `bar` the window's menu bar (the window owns it from now on) and shows it.
    void SetMenu(QMenuBar* bar);
    // Puts the check state of the port buttons in line with the port choice.
    void UpdateToolBarChecks();
    // The client size that makes a window of `outer` size with the window manager's `frame`
    // around it.
    static QSize ClientSizeFor(QSize outer, const QMargins& frame);

    QToolBar* m_wndToolBarChinese = nullptr;
    QToolBar* m_wndToolBarEnglish = nullptr;
    CKelpView* m_pView = nullptr;

protected:
    void closeEvent(QCloseEvent* event) override;
    bool event(QEvent* event) override;

private:
    QToolBar* CreateToolBar(int resourceId);
    bool m_bFrameSeen = false; // the window manager's frame was known and the size set by it
};

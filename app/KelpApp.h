#pragma once

#include "platform/SettingsKey.h"
#include "platform/Win.h"

#include <QString>

class CMainFrame;
class CKelpDoc;
class CMenu;

// 1 = Chinese interface, 0 = English. Written by start-up, the document's constructor and the two
// language commands; read by every dialog constructor, message box and the welcome screen.
extern int g_bChinese;
// The menu bar currently set on the main window; owned by the document.
extern CMenu* g_pMainMenu;

// The factory password (the settings key: platform/SettingsKey.h).
inline const QString FACTORY_PASSWORD = QStringLiteral("RTN-615");

// Command ids of the menus, accelerators and toolbars.
enum : int {
    ID_LOCAL_CONFIG = 32782,
    ID_LOCAL_RECORD = 32783,
    ID_COM1 = 32784,
    ID_COM2 = 32785,
    ID_REMOTE_CONFIG = 32786,
    ID_REMOTE_RECORD = 32787,
    ID_CHINESE = 32802,
    ID_ENGLISH = 32803,
    ID_CHANGE_PASSWORD = 181,
};

// Reads "m_Language" into 4 bytes: the interface is Chinese exactly when that read succeeds.
int ReadLanguageFlag();

// The application object: start-up, the port choice and the command table.
class CKelpApp {
public:
    CKelpApp();

    QString m_strPort;     // "COM1" or "COM2"; every device dialog opens the port it names
    bool m_hMutex = false; // the single-instance lock is held

    // Start-up up to and including the login. FALSE: the program ends at once.
    BOOL InitInstance();

    // The steps of start-up, for the tests: settings (language, factory password), the
    // single-instance rule with its message box, and the main window with its menu and caption.
    void InitSettings();
    BOOL InitSingleInstance();
    BOOL InitMainWindow();
    // Runs the login over the main window; the result of its modal run.
    int RunLogin();

    // Every command of the menus, accelerators and toolbar buttons arrives here.
    void OnCommand(int id);
    // Whether a command carries a check mark (port and language items).
    bool IsCommandChecked(int id) const;

    void OnAppAbout();
    void OnLocalConfig();
    void OnRemoteConfig();
    void OnLocalRecord();
    void OnRemoteRecord();
    void OnChangePassword();
    void OnCom1();
    void OnCom2();
    bool OnUpdateCom1() const;
    bool OnUpdateCom2() const;

    CMainFrame* m_pMainWnd = nullptr;
    CKelpDoc* m_pDocument = nullptr;
    // Ends the whole program: closes and destroys the main window and the document.
    void CloseMainWindow();
};

CKelpApp& AfxGetApp();

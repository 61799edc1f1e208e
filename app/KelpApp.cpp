#include "app/KelpApp.h"

#include "access/ChangePasswordDlg.h"
#include "access/LoginDlg.h"
#include "app/KelpDoc.h"
#include "app/KelpView.h"
#include "app/MainFrame.h"
#include "app/Menu.h"
#include "config/LocalConfigDlg.h"
#include "config/RemoteConfigDlg.h"
#include "link/AboutDlg.h"
#include "platform/Platform.h"
#include "platform/Registry.h"
#include "records/LocalRecordDlg.h"
#include "records/RemoteRecordDlg.h"

#include <QApplication>
#include <QMenuBar>

#include <cstring>

int g_bChinese = 0;
CMenu* g_pMainMenu = nullptr;

namespace {
CKelpApp theApp;
}

CKelpApp& AfxGetApp() {
    return theApp;
}

CKelpApp::CKelpApp() : m_strPort(QStringLiteral("COM1")) {}

int ReadLanguageFlag() {
    HKEY key;
    if (RegCreateKeyEx(SETTINGS_KEY, &key) != ERROR_SUCCESS)
        return 0;
    BYTE data[4] = {};
    DWORD cb = 4;
    const LONG rc = RegQueryValueEx(key, QStringLiteral("m_Language"), nullptr, data, &cb);
    RegCloseKey(&key);
    return rc == ERROR_SUCCESS ? 1 : 0;
}

void CKelpApp::InitSettings() {
    HKEY key;
    const bool haveKey = RegCreateKeyEx(SETTINGS_KEY, &key) == ERROR_SUCCESS;
    // Language: only the presence of a value of at most 4 bytes counts.
    BYTE language[4] = {};
    DWORD cb = 4;
    g_bChinese = haveKey &&
                 RegQueryValueEx(key, QStringLiteral("m_Language"), nullptr, language, &cb) == ERROR_SUCCESS;
    // Password: a 15-byte read; a missing, empty or longer value leaves the buffer empty and the
    // factory password is stored with its terminating zero.
    char password[16] = {};
    cb = 15;
    if (haveKey && RegQueryValueEx(key, QStringLiteral("Password"), nullptr,
                                   reinterpret_cast<BYTE*>(password), &cb) != ERROR_SUCCESS)
        std::memset(password, 0, sizeof password);
    if (haveKey && password[0] == '\0') {
        const QByteArray factory = FACTORY_PASSWORD.toLatin1();
        RegSetValueEx(key, QStringLiteral("Password"), REG_SZ,
                      reinterpret_cast<const BYTE*>(factory.constData()), DWORD(factory.size() + 1));
    }
    if (haveKey)
        RegCloseKey(&key);
}

BOOL CKelpApp::InitSingleInstance() {
    m_hMutex = CreateSingleInstanceLock(QStringLiteral("LMX-207"));
    if (!m_hMutex) {
        if (g_bChinese)
            MessageBox(nullptr, QStringLiteral("程序已经运行了！"), QStringLiteral("提示"),
                       MB_OK | MB_ICONEXCLAMATION);
        else
            MessageBox(nullptr, QStringLiteral("The Program is running !"), QStringLiteral("Notice"),
                       MB_OK | MB_ICONEXCLAMATION);
        return FALSE;
    }
    return TRUE;
}

BOOL CKelpApp::InitMainWindow() {
    SetDialogBkColor(RGB(211, 209, 201), RGB(0, 0, 0));
    m_pDocument = new CKelpDoc;
    m_pMainWnd = new CMainFrame;
    if (m_pMainWnd->OnCreate() != 0) {
        delete m_pMainWnd;
        m_pMainWnd = nullptr;
        delete m_pDocument;
        m_pDocument = nullptr;
        return FALSE;
    }
    AfxSetMainWnd(m_pMainWnd);
    SetUnhandledCommandRoute([this](int id) {
        if (id != ID_APP_EXIT)
            return false;
        OnCommand(id);
        return true;
    });
    m_pMainWnd->show();
    m_pMainWnd->repaint();
    g_pMainMenu->LoadMenu(g_bChinese ? 128 : 147);
    m_pMainWnd->setWindowTitle(g_bChinese ? QStringLiteral("维护软件") : QStringLiteral("Service Program"));
    m_pMainWnd->SetMenu(g_pMainMenu->GetMenuBar());
    return TRUE;
}

int CKelpApp::RunLogin() {
    CLoginDlg dlg;
    return dlg.DoModal();
}

BOOL CKelpApp::InitInstance() {
    InitSettings();
    if (!InitSingleInstance())
        return FALSE;
    if (!InitMainWindow())
        return FALSE;
    return TRUE;
}

void CKelpApp::CloseMainWindow() {
    if (!m_pMainWnd)
        return;
    // A dialog open over the main window (the login's exit button) ends with it, without a result.
    if (QWidget* modal = QApplication::activeModalWidget())
        if (auto* dlg = qobject_cast<QDialog*>(modal))
            dlg->done(-1);
    CMainFrame* frame = m_pMainWnd;
    m_pMainWnd = nullptr;
    AfxSetMainWnd(nullptr);
    frame->close();
    frame->deleteLater();
    delete m_pDocument;
    m_pDocument = nullptr;
}

void CKelpApp::OnCommand(int id) {
    switch (id) {
    case ID_LOCAL_CONFIG:
        OnLocalConfig();
        break;
    case ID_REMOTE_CONFIG:
        OnRemoteConfig();
        break;
    case ID_LOCAL_RECORD:
        OnLocalRecord();
        break;
    case ID_REMOTE_RECORD:
        OnRemoteRecord();
        break;
    case ID_COM1:
        OnCom1();
        break;
    case ID_COM2:
        OnCom2();
        break;
    case ID_CHINESE:
        if (m_pDocument)
            m_pDocument->OnChinese();
        break;
    case ID_ENGLISH:
        if (m_pDocument)
            m_pDocument->OnEnglish();
        break;
    case ID_APP_ABOUT:
        OnAppAbout();
        break;
    case ID_CHANGE_PASSWORD:
        OnChangePassword();
        break;
    case ID_APP_EXIT:
        CloseMainWindow();
        break;
    default:
        break;
    }
    if (m_pMainWnd)
        m_pMainWnd->UpdateToolBarChecks();
}

bool CKelpApp::IsCommandChecked(int id) const {
    switch (id) {
    case ID_COM1:
        return OnUpdateCom1();
    case ID_COM2:
        return OnUpdateCom2();
    case ID_CHINESE:
        return m_pDocument && m_pDocument->OnUpdateChinese();
    case ID_ENGLISH:
        return m_pDocument && m_pDocument->OnUpdateEnglish();
    default:
        return false;
    }
}

// Dialog commands: each builds its dialog without a parent, runs it modally and ignores the result.
// The device dialogs join here as they are built.
void CKelpApp::OnAppAbout() {
    CAboutDlg aboutDlg;
    aboutDlg.DoModal();
}
void CKelpApp::OnLocalConfig() {
    CLocalConfigDlg dlg;
    dlg.DoModal();
}
void CKelpApp::OnRemoteConfig() {
    CRemoteConfigDlg dlg;
    dlg.DoModal();
}
void CKelpApp::OnLocalRecord() {
    CLocalRecordDlg dlg;
    dlg.DoModal();
}
void CKelpApp::OnRemoteRecord() {
    CRemoteRecordDlg dlg;
    dlg.DoModal();
}

void CKelpApp::OnChangePassword() {
    CChangePasswordDlg dlg;
    dlg.DoModal();
}

void CKelpApp::OnCom1() {
    m_strPort = QStringLiteral("COM1");
}
void CKelpApp::OnCom2() {
    m_strPort = QStringLiteral("COM2");
}
bool CKelpApp::OnUpdateCom1() const {
    return m_strPort == QLatin1String("COM1");
}
bool CKelpApp::OnUpdateCom2() const {
    return m_strPort == QLatin1String("COM2");
}

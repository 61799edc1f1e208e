#include "app/KelpDoc.h"

#include "app/KelpApp.h"
#include "app/KelpView.h"
#include "app/MainFrame.h"
#include "app/Menu.h"
#include "platform/Registry.h"

CKelpDoc::CKelpDoc() {
    g_bChinese = ReadLanguageFlag();
    g_pMainMenu = new CMenu;
}

CKelpDoc::~CKelpDoc() {
    delete g_pMainMenu;
    g_pMainMenu = nullptr;
}

void CKelpDoc::OnChinese() {
    SwitchLanguage(1);
}
void CKelpDoc::OnEnglish() {
    SwitchLanguage(0);
}

bool CKelpDoc::OnUpdateChinese() const {
    return g_bChinese != 0;
}
bool CKelpDoc::OnUpdateEnglish() const {
    return g_bChinese == 0;
}

void CKelpDoc::SwitchLanguage(int chinese) {
    g_bChinese = chinese;
    CMainFrame* frame = AfxGetApp().m_pMainWnd;
    g_pMainMenu->DestroyMenu();
    g_pMainMenu->LoadMenu(chinese ? 128 : 147);
    if (frame) {
        frame->SetMenu(g_pMainMenu->GetMenuBar());
        frame->setWindowTitle(chinese ? QStringLiteral("维护软件") : QStringLiteral("Service Program"));
        if (frame->m_pView)
            frame->m_pView->update();
        frame->ShowLanguageToolBar();
    }
    // A failed write leaves the interface switched for this run only.
    HKEY key;
    if (RegCreateKeyEx(SETTINGS_KEY, &key) == ERROR_SUCCESS) {
        if (chinese) {
            const BYTE one[4] = {1, 0, 0, 0}; // the number 1, little-endian as the store keeps DWORDs
            RegSetValueEx(key, QStringLiteral("m_Language"), REG_DWORD, one, 4);
        } else {
            RegDeleteValue(key, QStringLiteral("m_Language"));
        }
        RegCloseKey(&key);
    }
}

#pragma once

#include "platform/Win.h"

#include <QString>

#include <functional>

class QWidget;

// Message boxes. The text, caption and type (buttons and icon, MB_* flags) are shown exactly as
// given; the result is the id of the button pressed (IDOK, IDCANCEL, IDYES, IDNO). The box opens
// centred on its owner's window (see CenterOnOwner), its standard buttons in the interface's
// language.
int MessageBox(QWidget* owner, const QString& text, const QString& caption, UINT type);

// Moves the top-level `window` so that it is centred on `owner`'s window, as the platform placed
// dialogs and message boxes. An owner that is not on screen yet (a dialog still in its
// OnInitDialog) gives way to the main window; without either the window is centred on the screen.
// Either way it is then kept on the screen (KeepOnScreen).
void CenterOnOwner(QWidget* window, QWidget* owner);

// Destroys a window or control that may be handling one of its own events at this moment (a menu
// bar whose command replaces it, a dialog ended from its own button): it is hidden and taken out of
// its parent at once, so whatever takes its place shows at once, and the object itself is deleted
// when control is back in the event loop, as the platform delivered a menu's command only after the
// menu had closed. Null does nothing.
void DestroyWidgetLater(QWidget* widget);

// Moves the top-level `window`, keeping its size, so that its frame lies within the available area
// of the screen it is on (a window larger than that area keeps its top-left corner in it).
void KeepOnScreen(QWidget* window);

// The interface language of the framework's own texts (standard buttons of message boxes, the data
// exchange's messages): Chinese while the process-wide language flag says so. Qt's own Chinese
// translation is loaded for it when installed, and dropped again for English.
bool FrameworkChinese();
void SyncFrameworkTranslation();

// Tests answer message boxes through this hook instead of a nested event loop: while a hook is set,
// every box is handed to it and its result returned, and nothing is shown.
struct MessageBoxCall {
    QWidget* owner;
    QString text;
    QString caption;
    UINT type;
};
using MessageBoxHook = std::function<int(const MessageBoxCall&)>;
void SetMessageBoxHook(MessageBoxHook hook);

// The standard beep; MessageBeepCount() counts every call since the last reset, for the tests.
void MessageBeep(UINT type);
int MessageBeepCount();
void ResetMessageBeepCount();

// A real blocking pause of the calling (user-interface) thread. Tests may replace the pause through
// the hook, to count the pauses or to shorten them; the hook gets the requested milliseconds.
void Sleep(DWORD milliseconds);
void SetSleepHook(std::function<void(DWORD)> hook);

// The single-instance rule: holds an exclusive lock on a file named after `name` in
// $XDG_RUNTIME_DIR (else <temp>/runtime-<user>) for the rest of the process. Returns false when
// another process holds it already. The kernel releases the lock when the process ends, even after
// a crash. A folder of another account, or a symbolic link in the lock's place, is not used: the
// program then runs without the lock rather than let another account keep it from starting.
bool CreateSingleInstanceLock(const QString& name);

// Where $XDG_RUNTIME_DIR is not set (root shells, CI, some remote logins), sets it to the folder
// Qt falls back to, <temp>/runtime-<user>, made 0700 when missing, but only when that is a folder
// (not a link) of this account that nobody else may enter; otherwise it stays unset and Qt tells
// what is wrong with the folder. Called before the application object exists: the platform plugin
// looks for the folder as it loads.
void ProvideRuntimeDir();

// The application-wide dialog colours (background, text) set once at start-up.
void SetDialogBkColor(unsigned backgroundRgb, unsigned textRgb);
unsigned DialogBkColor();
unsigned DialogTextColor();

// The main window, owner of every dialog built without a parent; and the route of a command that a
// dialog does not handle itself (the exit command of the login dialog, for one).
QWidget* AfxGetMainWnd();
void AfxSetMainWnd(QWidget* wnd);
void SetUnhandledCommandRoute(std::function<bool(int id)> route);
bool RouteUnhandledCommand(int id);

// The name of the program, as the framework's standard validation messages carry it.
QString AfxAppName();

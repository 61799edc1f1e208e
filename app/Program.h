#pragma once

class QApplication;

// The whole run of the tool after its QApplication is built, as lmx207 does it and as any program
// that must start the very same tool (the start-up benchmark's probe) does it: the application
// name, the settings, the single-instance rule, the main window with its menu and caption, the
// login over it, then the message loop until the main window is gone. Returns the exit status:
// 0 when start-up refuses to go on (a second instance, no main window) or the login's exit button
// has closed the main window, else the message loop's. Escape at the login ends the process at
// once with exit status -1 and never returns.
int RunProgram(QApplication& app);

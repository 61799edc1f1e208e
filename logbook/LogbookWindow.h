#pragma once

// The logbook's windows: runs them until the user closes the main window and returns the exit
// status. A QApplication must exist.
int RunLogbookWindow();

#pragma once

#include "app/KelpApp.h"
#include "link/MSComm.h"
#include "platform/Dialog.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <memory>

class QComboBox;

// A dialog built on the template of the language given and created: on the in-memory line
// (MemoryCommBackend::InstallFactory) it has opened its port and sent its first request.
template <class D> std::unique_ptr<D> OpenDialog(int chinese = 0) {
    g_bChinese = chinese;
    auto dlg = std::make_unique<D>();
    dlg->Create();
    return dlg;
}
// The in-memory line of the dialog built last.
inline MemoryCommBackend* Line() {
    return MemoryCommBackend::Last();
}

// Configuration grid: cell ids by row (Output Delay, Input Delay, Output Extend) and command 1 to 8.
extern const int kGridIds[3][8];
// The selected index of every grid cell, row by row, commands 1 to 8 (-1: no selection).
QList<int> Selections(CDialog& dlg);
// A configuration dialog in one line: status, address, unit date and time, Write Config and
// Write Date && Time enabled or not, then the periods of timers 1 to `timers` (-1: stopped).
QString ConfigState(CDialog& dlg, int timers);

// A record dialog in one line: status, list count, progress, Update and Clear enabled or not, and
// the period of timer 1 (-1: stopped).
QString RecordState(CDialog& dlg);
// The record list's lines, top to bottom.
QStringList Lines(CDialog& dlg);
// Presses Yes (IDOK) or No (IDCANCEL) on the clear confirmation as soon as it runs modally.
void AnswerConfirmation(int button);

// A file's bytes, or "<missing>".
QByteArray ReadFile(const QString& path);

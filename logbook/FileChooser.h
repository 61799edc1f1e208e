#pragma once

#include <QString>
#include <QStringList>

#include <functional>

class QWidget;

// The logbook's file chooser: Qt's own dialog (not the desktop's), so that it speaks the window's
// language through Qt's translation. Tests answer it through the hook instead of a nested event
// loop: while a hook is set, every choice is handed to it and its answer returned, nothing shown.
struct FileChoice {
    bool save = false; // a file to write (asks before replacing one), else one to open
    QString title;
    QString suggested;   // the folder, or the file name offered
    QStringList filters; // "CSV (*.csv)", ...; the first is chosen at first
};
struct FileChosen {
    QString path;   // empty: cancelled
    int filter = 0; // the index of the filter chosen
};
using FileChooserHook = std::function<FileChosen(const FileChoice&)>;
void SetFileChooserHook(FileChooserHook hook);

FileChosen ChooseFile(QWidget* parent, const FileChoice& choice);

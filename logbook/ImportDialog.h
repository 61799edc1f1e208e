#pragma once

#include "archive/Import.h"
#include "platform/Lang.h"

#include <QDialog>
#include <QStringList>

class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;

// File → Import…: record files and folders into the archive, as `lmx207-logbook import` does,
// with a progress bar and a summary of what was kept, what was refused and what was skipped. The
// import runs on the window's thread in short transactions; the bar moves after each file and
// Stop ends it after the file in hand.
class CImportDialog : public QDialog {
    Q_OBJECT
public:
    CImportDialog(const QString& archivePath, Lang lang, QWidget* parent = nullptr);

    // Adds files or folders to import (what the file chooser of "Add files…" / "Add folder…" gives).
    void AddPaths(const QStringList& paths);
    QStringList Paths() const { return m_paths; }
    // Imports the paths chosen; false when the archive could not be opened or written (the summary
    // says why).
    bool Import();
    // True once an import kept something: the window reads the archive again.
    bool ArchiveChanged() const { return m_changed; }

    QPushButton* ImportButton() const { return m_btnImport; }
    QPushButton* StopButton() const { return m_btnStop; }
    QProgressBar* Progress() const { return m_progress; }
    QLineEdit* UnitEdit() const { return m_editUnit; }
    QComboBox* SideCombo() const { return m_comboSide; }
    QPlainTextEdit* Summary() const { return m_summary; }

    void reject() override;

private:
    void ChooseFiles();
    void ChooseFolder();
    void UpdateButtons();
    QString SummaryText(const ImportReport& report) const;

    QString m_strArchive;
    Lang m_lang;
    QStringList m_paths;
    bool m_running = false;
    bool m_stopAsked = false;
    bool m_changed = false;
    QListWidget* m_list;
    QLineEdit* m_editUnit;
    QComboBox* m_comboSide;
    QProgressBar* m_progress;
    QPlainTextEdit* m_summary;
    QPushButton* m_btnFiles;
    QPushButton* m_btnFolder;
    QPushButton* m_btnImport;
    QPushButton* m_btnStop;
    QPushButton* m_btnClose;
};

#pragma once

#include <QMainWindow>
#include <QSet>

class QAction;
class QLabel;
class QTabWidget;
class CEventsPage;
class CVisitsPage;
class CConfigPage;
class CActionsPage;
class CJournalPage;
class CLinkPage;

// The logbook's main window over one archive: tabs for the events, the visits, a unit's
// configuration history and clock, the actions sent to units, the archive's failure journal, and
// both ends of a link side by side.
// It speaks the language the service program stores, and switches at once from its Language menu
// (for this window only: the service program's setting is never written).
class CLogbookWindow : public QMainWindow {
    Q_OBJECT
public:
    explicit CLogbookWindow(const QString& archivePath, QWidget* parent = nullptr);
    ~CLogbookWindow() override;

    void SetChinese(bool chinese);
    bool IsChinese() const { return m_bChinese; }
    // Reads everything again from the archive (F5): what the service program added shows up;
    // the tab in view at once, the others when shown.
    void Reload();
    // File → Import…: record files into this archive (CImportDialog), then Reload when it kept any.
    void ImportFiles();

    QTabWidget* Tabs() const { return m_tabs; }
    CEventsPage* Events() const { return m_events; }
    CVisitsPage* Visits() const { return m_visits; }
    CConfigPage* Config() const { return m_config; }
    CActionsPage* Actions() const { return m_actions; }
    CJournalPage* Journal() const { return m_journal; }
    CLinkPage* Link() const { return m_link; }
    QString ArchivePath() const { return m_strPath; }

private:
    void Retranslate();
    void ReloadShown();
    void ShowStatus(const QString& text);

    QSet<QWidget*> m_stale; // tabs to read again when next shown
    QString m_strPath;
    bool m_bChinese = false;
    QTabWidget* m_tabs;
    CEventsPage* m_events;
    CVisitsPage* m_visits;
    CConfigPage* m_config;
    CActionsPage* m_actions;
    CJournalPage* m_journal;
    CLinkPage* m_link;
    QMenu* m_menuFile;
    QMenu* m_menuLanguage;
    QAction* m_actImport;
    QAction* m_actReload;
    QAction* m_actExit;
    QAction* m_actEnglish;
    QAction* m_actChinese;
    QLabel* m_stcPath;
};

// The logbook's window over the archive at its usual place, in the stored language, until it is
// closed. The caller has made the QApplication. Returns the event loop's exit status.
// `location`: the archive file, or a server location (ServerLocation()); empty for the default file.
int RunLogbookWindow(const QString& location = QString());

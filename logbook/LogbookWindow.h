#pragma once

#include "platform/Lang.h"

#include <QMainWindow>
#include <QSet>

#include <functional>
#include <optional>

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
// The File menu opens another archive (a file, or a team's server) in the same window, exports the
// events the filter shows, and writes or prints a report; Edit → Copy puts the rows chosen on the
// clipboard. An archive other than the user's own is only read.
// The window keeps its size and place, its tab, the language chosen from its menu, the event
// filter and the recent archives under the logbook's own settings key when it closes, and takes
// them again when it opens.
class CLogbookWindow : public QMainWindow {
    Q_OBJECT
public:
    explicit CLogbookWindow(const QString& archivePath, QWidget* parent = nullptr);
    ~CLogbookWindow() override;

    void SetLanguage(Lang lang);
    Lang Language() const { return m_lang; }
    // Reads everything again from the archive (F5): what the service program added shows up;
    // the tab in view at once, the others when shown.
    void Reload();
    // Opens the archive at `location` (a file, or a server location) in place of the one shown.
    // A file that is not a logbook archive is refused with a message, and the window stays on the
    // archive it showed. False when refused.
    bool OpenLocation(const QString& location);
    // Whether the window may add to the archive it shows: only the user's own default archive.
    bool IsWritable() const;
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
    QLabel* ArchiveLabel() const { return m_stcPath; }

    // The File menu's commands, for the menu and for a person's keys alike.
    void OpenArchive();
    void OpenServer();
    void Export();
    void Report();
    void Print();
    void Copy();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void CreatePages();
    void BuildMenus();
    void FillRecentMenu();
    void Retranslate();
    void ReloadShown();
    void ShowStatus(const QString& text);
    void SaveSettings();
    void RestoreSettings();
    // The visit a report is of: the one chosen in the Visits tab, else one the user picks.
    std::optional<qint64> VisitForReport(const QString& title);
    QString Text(const char* english, const char* chinese) const;

    QSet<QWidget*> m_stale; // tabs to read again when next shown
    QString m_strPath;
    Lang m_lang = Lang::English;
    bool m_bLanguageChosen = false; // from the Language menu: kept with the window's settings
    QTabWidget* m_tabs;
    CEventsPage* m_events = nullptr;
    CVisitsPage* m_visits = nullptr;
    CConfigPage* m_config = nullptr;
    CActionsPage* m_actions = nullptr;
    CJournalPage* m_journal = nullptr;
    CLinkPage* m_link = nullptr;
    QMenu* m_menuFile;
    QMenu* m_menuRecent;
    QMenu* m_menuEdit;
    QMenu* m_menuLanguage;
    // The File menu's actions with their texts in both languages, in the menu's order.
    struct MenuText {
        QAction* action;
        const char* english;
        const char* chinese;
    };
    QList<MenuText> m_menuTexts;
    QAction* m_actEnglish;
    QAction* m_actChinese;
    QLabel* m_stcPath;
};

// The logbook's window over the archive at its usual place, in the stored language, until it is
// closed. The caller has made the QApplication. Returns the event loop's exit status.
// `location`: the archive file, or a server location (ServerLocation()); empty for the default file.
int RunLogbookWindow(const QString& location = QString());

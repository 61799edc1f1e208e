#pragma once

#include "logbook/LogbookSources.h"
#include "platform/Lang.h"

#include <QWidget>

class QLabel;
class QPushButton;
class QTableView;
class CBackgroundFetch;
class CConfigDiffView;
class CTextTableModel;

// The visit table over the archive, newest first: rows hold the cells of VisitCell.
class CVisitTableModel : public CPagedTableModel {
    Q_OBJECT
public:
    CVisitTableModel(PageSourceFactory factory, QObject* parent = nullptr);
    void SetLanguage(Lang lang);
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    QVariant Cell(const QVariantList& row, int column, int role) const override;

private:
    Lang m_lang = Lang::English;
};

// The visits: each run of the service program (or import), when, who (PC user and host), which
// units, what was read and what was changed. Newest first, paged from the archive. "Report..."
// asks for the printable report of the visit chosen.
class CVisitsPage : public QWidget {
    Q_OBJECT
public:
    CVisitsPage(const QString& archivePath, QWidget* parent = nullptr);
    void SetLanguage(Lang lang);
    void Reload();
    QTableView* Table() const { return m_table; }
    CVisitTableModel* Model() const { return m_model; }
    QPushButton* ReportButton() const { return m_btnReport; }
    // The visit of the row chosen, when its row is read.
    std::optional<qint64> ChosenVisit() const;

signals:
    void StatusText(const QString& text);
    void ReportRequested(qint64 visitId);

private:
    void ShowTitle();

    Lang m_lang = Lang::English;
    QLabel* m_stcTitle;
    QPushButton* m_btnReport;
    QTableView* m_table;
    CVisitTableModel* m_model;
};

// The audit trail: every configuration write, date and time write, record clear and password
// change (never a password), newest first, with whether the read-back showed it applied; a
// configuration write chosen in the table shows what the dialog showed before it against what it
// wrote, the differences marked.
class CActionsPage : public QWidget {
    Q_OBJECT
public:
    CActionsPage(const QString& archivePath, QWidget* parent = nullptr);
    void SetLanguage(Lang lang);
    void Reload();
    QTableView* Table() const { return m_table; }
    CTextTableModel* Model() const { return m_model; }
    CConfigDiffView* Diff() const { return m_diff; }

signals:
    void StatusText(const QString& text);
    void Shown();

private:
    void Fill();
    void ShowChosen();

    QString m_strPath;
    Lang m_lang = Lang::English;
    QList<ActionEntry> m_actions;
    bool m_bMore = false;
    QLabel* m_stcTitle;
    QLabel* m_stcDiff;
    QTableView* m_table;
    CTextTableModel* m_model;
    CConfigDiffView* m_diff;
    CBackgroundFetch* m_fetch;
};

// The archive's failure journal: each time the service program could not keep what a unit told
// it, when and why. The service program itself never shows these.
class CJournalPage : public QWidget {
    Q_OBJECT
public:
    CJournalPage(const QString& archivePath, QWidget* parent = nullptr);
    void SetLanguage(Lang lang);
    void Reload();
    QTableView* Table() const { return m_table; }
    CTextTableModel* Model() const { return m_model; }

signals:
    void StatusText(const QString& text);
    void Shown();

private:
    void Fill();

    QString m_strPath;
    Lang m_lang = Lang::English;
    QList<JournalEntry> m_entries; // newest first
    QLabel* m_stcTitle;
    QTableView* m_table;
    CTextTableModel* m_model;
    CBackgroundFetch* m_fetch;
};

// The newest actions the audit table shows.
constexpr int kActionsShown = 5000;
// The newest failures the journal page shows.
constexpr int kJournalShown = 500;

// A line of the archive's failure journal in the language chosen. The journal keeps English
// lines; in Chinese, the lines the archive writes and the database's common reasons are said in
// Chinese, and what is not known (a path, another reason) stays as written.
QString JournalMessageText(const QString& message, Lang lang);

// Texts of an action for the audit table, in the language chosen: its kind ("config-write" and
// the others), and whether the read-back showed it applied (yes, NO, not known).
QString ActionKindText(const QString& kind, Lang lang);
QString AppliedText(std::optional<bool> applied, Lang lang);
// The same for one action: a write decided by a later visit's read-back names that visit
// ("yes, read back in visit #7").
QString AppliedText(const ActionEntry& action, Lang lang);
// What an action sent, as a person reads it: the configuration written (address and codes), the
// date and time groups ("unchanged" for a 0xFF group), nothing for a clear or a password change.
QString ActionSentText(const ActionEntry& action, Lang lang);

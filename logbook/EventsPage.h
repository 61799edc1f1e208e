#pragma once

#include "archive/ArchiveTypes.h"
#include "logbook/PagedTableModel.h"
#include "platform/Lang.h"

#include <QDate>

#include <QWidget>
#include <optional>

class QCheckBox;
class QComboBox;
class QDateEdit;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableView;
class QTableWidget;
class QTimer;
class CBackgroundFetch;
class CEventTableModel;

constexpr int kEventKinds = 7;

// The events of one unit or of all: the filter bar, the table (sortable by its headers, paged from
// the archive) and the counters per command for what the filter shows. A change of a list or box
// of the bar applies at once; typing in the text box applies once the typing pauses.
class CEventsPage : public QWidget {
    Q_OBJECT
public:
    CEventsPage(const QString& archivePath, QWidget* parent = nullptr);

    void SetLanguage(Lang lang);
    // Reads the unit list again and runs the query again.
    void Reload();
    // The units the unit list offers: id and name as shown.
    void SetUnits(const QList<std::pair<qint64, QString>>& units);
    // Reads the filter bar and runs the query again.
    void Apply();
    // The filter bar and the sort as a text to keep in the settings, and back: a text that cannot
    // be read changes nothing; a unit that is no longer in the archive gives all units.
    QString State() const;
    void RestoreState(const QString& state);
    // There is no archive to read yet: the counter line says how one begins.
    void ShowNoArchive();
    // What the counter line says now.
    QString CountText() const;
    // The text of an empty archive's events: how events come into it.
    static QString NoEventsText(Lang lang);

    // The filter the bar describes.
    EventFilter Fields() const;
    CEventTableModel* Model() const { return m_model; }
    QTableView* Table() const { return m_table; }
    QLineEdit* TextBox() const { return m_edtText; }

    // How long typing waits before the filter applies.
    static constexpr int kTypingPauseMs = 250;

signals:
    void StatusText(const QString& text);

private:
    void Retranslate();
    void ShowCounters();
    void ShowSort(int column, Qt::SortOrder order);

    Lang m_lang = Lang::English;
    std::optional<qint64> m_pendingUnit; // the unit to choose once the unit list is read
    enum class Shown { Query, NoArchive, Failed } m_shown = Shown::Query;
    QString m_strFailure;
    CEventTableModel* m_model;
    QTableView* m_table;
    QComboBox* m_cmbUnit;
    QComboBox* m_cmbSide;
    QComboBox* m_cmbCommand;
    QCheckBox* m_chkKind[kEventKinds];
    QCheckBox* m_chkFrom;
    QCheckBox* m_chkTo;
    QDateEdit* m_dtpFrom;
    QDateEdit* m_dtpTo;
    QLineEdit* m_edtText;
    QPushButton* m_btnReset;
    QLabel* m_stcSort;
    QComboBox* m_cmbSort; // the header's sort, for the keyboard
    QCheckBox* m_chkDescending;
    QLabel* m_stcUnit;
    QLabel* m_stcSide;
    QLabel* m_stcCommand;
    QLabel* m_stcKinds;
    QLabel* m_stcText;
    QLabel* m_stcCount;
    QTableWidget* m_counters;
    QTimer* m_typing;
    QString m_strPath;
    QList<UnitRow> m_units; // as the unit list shows them, after "All units"
    CBackgroundFetch* m_fetchUnits;
};

#pragma once

#include "logbook/LogbookSources.h"
#include "platform/Lang.h"

#include <QWidget>

class QCheckBox;
class QComboBox;
class QLabel;
class CBackgroundFetch;
class CClockChart;
class CConfigDiffView;

// A unit's configuration history and clock: any two of the configurations it answered or was sent,
// side by side with the differences marked (the two latest at first), and its clock's difference
// from the PC's over time.
class CConfigPage : public QWidget {
    Q_OBJECT
public:
    CConfigPage(const QString& archivePath, QWidget* parent = nullptr);

    void SetLanguage(Lang lang);
    // Reads the unit list again, then the chosen unit's history.
    void Reload();
    // Chooses the unit (by its place in the list) and the two configurations compared.
    QComboBox* UnitList() const { return m_cmbUnit; }
    QComboBox* FirstList() const { return m_cmbA; }
    QComboBox* SecondList() const { return m_cmbB; }
    CConfigDiffView* Diff() const { return m_diff; }
    CClockChart* Chart() const { return m_chart; }

signals:
    void StatusText(const QString& text);
    // The chosen unit's history is shown.
    void HistoryShown();

private:
    void LoadHistory();
    void ShowHistory(const UnitHistory& history);
    void ShowDiff();
    void Retranslate();
    QString SnapshotTitle(int index) const;

    QString m_strPath;
    Lang m_lang = Lang::English;
    UnitHistory m_history;
    QList<UnitRow> m_units;
    QComboBox* m_cmbUnit;
    QComboBox* m_cmbA;
    QComboBox* m_cmbB;
    QLabel* m_stcUnit;
    QLabel* m_stcA;
    QLabel* m_stcB;
    QLabel* m_stcSummary;
    QCheckBox* m_chkOnlyChanged;
    QLabel* m_stcClock;
    CConfigDiffView* m_diff;
    CClockChart* m_chart;
    CBackgroundFetch* m_fetchUnits;
    CBackgroundFetch* m_fetchHistory;
};

#pragma once

#include "logbook/LogbookSources.h"
#include "logbook/PagedTableModel.h"
#include "platform/Lang.h"

#include <QAbstractTableModel>
#include <QStringList>

class QTableView;

// A table view for many rows: fixed row height (so a million rows cost nothing to lay out), whole
// rows selected (several with Shift and Ctrl), columns resizable, last column stretched.
void ConfigureBigTable(QTableView* view);
// The selected rows of a table as a spreadsheet pastes them into columns: the header row, then
// each selected row in the table's order, cells as shown, separated by tabs, lines ending in
// CR LF. A tab or line end inside a cell becomes a space. *missing (when given) counts the rows
// whose cells were not read yet (a paged table asks for them; they are left out).
QString SelectedRowsText(const QTableView* view, int* missing = nullptr);
// Widths for a table's columns from the widest text each is expected to show (or its title, when
// wider), so nothing the table reads has to be asked for to lay it out; the last column stretches.
// The widths hold until the next call, across resets of the view's model.
void SizeColumns(QTableView* view, const QStringList& widest);

// The event table over the archive: unit, side, unit time, code, event text in the language
// shown, when the PC first saw the event (local time), visit. Rows hold the cells of EventCell.
class CEventTableModel : public CPagedTableModel {
    Q_OBJECT
public:
    CEventTableModel(PageSourceFactory factory, QObject* parent = nullptr);
    void SetLanguage(Lang lang);
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    QVariant Cell(const QVariantList& row, int column, int role) const override;

private:
    Lang m_lang = Lang::English;
};

// The counters under the event table: rows sent, received, returns, receive alarms, fibre A and
// fibre B interruptions; columns commands 1 to 8 and the total.
constexpr int kCounterRows = 6;
QString CounterRowText(int row, Lang lang);
// A cell's text: a number, or empty where the row has no per-command count (alarms and fibre
// interruptions show in the total column only).
QString CounterCellText(const CommandCounters& counters, int row, int column);

// A small table of ready texts (visits, actions, failures), replaced whole.
class CTextTableModel : public QAbstractTableModel {
    Q_OBJECT
public:
    using QAbstractTableModel::QAbstractTableModel;
    void SetHeaders(const QStringList& headers);
    void SetRows(QList<QStringList> rows);
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

private:
    QStringList m_headers;
    QList<QStringList> m_rows;
};

// A PC time as the logbook shows it: "yyyy-MM-dd HH:mm:ss" in the PC's local time of that moment
// (the offset kept beside it), as the engineer's clock showed it then.
QDateTime PcLocalDateTime(const PcTime& time);
QString PcTimeLocalText(const QDateTime& time);
QString PcTimeLocalText(const PcTime& time);

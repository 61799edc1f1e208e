#include "logbook/LogbookTables.h"

#include "logbook/LogbookLanguage.h"
#include "records/RecordFormat.h"

#include <QHeaderView>
#include <QItemSelectionModel>
#include <QTableView>

#include <algorithm>

void ConfigureBigTable(QTableView* view) {
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    view->setSelectionMode(QAbstractItemView::ExtendedSelection);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view->setWordWrap(false);
    view->setAlternatingRowColors(true);
    view->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    view->verticalHeader()->setDefaultSectionSize(view->fontMetrics().height() + 6);
    view->verticalHeader()->hide();
    view->horizontalHeader()->setStretchLastSection(true);
    view->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    view->horizontalHeader()->setHighlightSections(false);
}

QString SelectedRowsText(const QTableView* view, int* missing) {
    const QAbstractItemModel* model = view->model();
    const auto* paged = qobject_cast<const CPagedTableModel*>(model);
    QList<int> rows;
    for (const QModelIndex& i : view->selectionModel()->selectedRows())
        rows << i.row();
    std::sort(rows.begin(), rows.end());
    auto cell = [](QString text) {
        text.replace(QLatin1Char('\t'), QLatin1Char(' '));
        text.replace(QLatin1String("\r\n"), QLatin1String(" "));
        text.replace(QLatin1Char('\n'), QLatin1Char(' '));
        text.replace(QLatin1Char('\r'), QLatin1Char(' '));
        return text;
    };
    QStringList line;
    for (int c = 0; c < model->columnCount(); ++c)
        line << cell(model->headerData(c, Qt::Horizontal).toString());
    QString out = line.join(QLatin1Char('\t')) + QLatin1String("\r\n");
    int notRead = 0;
    for (int r : rows) {
        if (paged && !paged->RowAt(r)) {
            ++notRead;
            continue;
        }
        line.clear();
        for (int c = 0; c < model->columnCount(); ++c)
            line << cell(model->index(r, c).data().toString());
        out += line.join(QLatin1Char('\t')) + QLatin1String("\r\n");
    }
    if (missing)
        *missing = notRead;
    return out;
}

namespace {

void applyColumnWidths(QTableView* view) {
    const QStringList widest = view->property("lmx207ColumnTexts").toStringList();
    const QFontMetrics fm(view->font());
    const QFontMetrics header(view->horizontalHeader()->font());
    QAbstractItemModel* model = view->model();
    for (int c = 0; c < widest.size() && c < model->columnCount(); ++c) {
        const QString title = model->headerData(c, Qt::Horizontal).toString();
        // Room for the cell margins, the grid line and the header's sort arrow.
        view->setColumnWidth(
            c, std::max(fm.horizontalAdvance(widest[c]) + 16, header.horizontalAdvance(title) + 28));
    }
}

} // namespace

void SizeColumns(QTableView* view, const QStringList& widest) {
    view->setProperty("lmx207ColumnTexts", widest);
    // A model reset gives the header its default widths back: set them again after each.
    if (!view->property("lmx207ColumnWatch").toBool()) {
        view->setProperty("lmx207ColumnWatch", true);
        QObject::connect(view->model(), &QAbstractItemModel::modelReset, view,
                         [view] { applyColumnWidths(view); });
    }
    applyColumnWidths(view);
}

CEventTableModel::CEventTableModel(PageSourceFactory factory, QObject* parent)
    : CPagedTableModel(std::move(factory), parent) {}

void CEventTableModel::SetLanguage(Lang lang) {
    m_lang = lang;
    Retranslate();
}

int CEventTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : EventColumns;
}

QVariant CEventTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return CPagedTableModel::headerData(section, orientation, role);
    const Lang lang = m_lang;
    switch (section) {
    case ColUnit:
        return LbText(lang, "Unit", "装置");
    case ColSide:
        return LbText(lang, "Side", "侧");
    case ColUnitTime:
        return LbText(lang, "Unit time", "装置时间");
    case ColCode:
        return LbText(lang, "Code", "代码");
    case ColText:
        return LbText(lang, "Event", "事件");
    case ColFirstSeen:
        return LbText(lang, "First seen (PC)", "首次读取（电脑）");
    case ColVisit:
        return LbText(lang, "Visit", "访问");
    }
    return {};
}

QVariant CEventTableModel::Cell(const QVariantList& row, int column, int role) const {
    if (role == Qt::TextAlignmentRole && column == ColCode)
        return int(Qt::AlignRight | Qt::AlignVCenter);
    if (role != Qt::DisplayRole || row.size() != EventCells)
        return {};
    switch (column) {
    case ColUnit: {
        const QVariant address = row.at(CellUnitAddress);
        return UnitLabelText(row.at(CellUnitName).toString(),
                             address.isValid() ? std::optional<int>(address.toInt()) : std::nullopt,
                             row.at(CellUnitId).toLongLong(), m_lang);
    }
    case ColSide:
        return SideLabel(UnitSide(row.at(CellSide).toInt()), m_lang);
    case ColUnitTime:
        return row.at(CellUnitTime);
    case ColCode:
        return row.at(CellCode);
    case ColText:
        return RecordEventText(row.at(CellCode).toInt(), m_lang == Lang::Chinese);
    case ColFirstSeen:
        return PcTimeLocalText(row.at(CellFirstSeen).toDateTime());
    case ColVisit:
        return QStringLiteral("#%1").arg(row.at(CellVisit).toLongLong());
    }
    return {};
}

QString CounterRowText(int row, Lang lang) {
    switch (row) {
    case 0:
        return LbText(lang, "Sent", "发送");
    case 1:
        return LbText(lang, "Received", "接收");
    case 2:
        return LbText(lang, "Returns", "返回");
    case 3:
        return LbText(lang, "Receive alarms", "接收告警");
    case 4:
        return LbText(lang, "Fiber A interrupts", "光路A中断");
    case 5:
        return LbText(lang, "Fiber B interrupts", "光路B中断");
    }
    return {};
}

QString CounterCellText(const CommandCounters& c, int row, int column) {
    auto sum = [](const std::array<qint64, 8>& v) {
        qint64 s = 0;
        for (qint64 n : v)
            s += n;
        return s;
    };
    const bool total = column == 8;
    switch (row) {
    case 0:
        return QString::number(total ? sum(c.sent) : c.sent[column]);
    case 1:
        return QString::number(total ? sum(c.received) : c.received[column]);
    case 2:
        return QString::number(total ? sum(c.returns) : c.returns[column]);
    case 3:
        return total ? QString::number(c.alarms) : QString();
    case 4:
        return total ? QString::number(c.interruptionsA) : QString();
    case 5:
        return total ? QString::number(c.interruptionsB) : QString();
    }
    return {};
}

void CTextTableModel::SetHeaders(const QStringList& headers) {
    if (headers.size() == m_headers.size()) {
        m_headers = headers;
        emit headerDataChanged(Qt::Horizontal, 0, int(headers.size()) - 1);
        return;
    }
    beginResetModel();
    m_headers = headers;
    endResetModel();
}

void CTextTableModel::SetRows(QList<QStringList> rows) {
    beginResetModel();
    m_rows = std::move(rows);
    endResetModel();
}

int CTextTableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(m_rows.size());
}

int CTextTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(m_headers.size());
}

QVariant CTextTableModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || role != Qt::DisplayRole || index.row() >= m_rows.size())
        return {};
    const QStringList& row = m_rows.at(index.row());
    return index.column() < row.size() ? row.at(index.column()) : QString();
}

QVariant CTextTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section < m_headers.size())
        return m_headers.at(section);
    return QAbstractTableModel::headerData(section, orientation, role);
}

QDateTime PcLocalDateTime(const PcTime& time) {
    return QDateTime::fromMSecsSinceEpoch(time.utcMs, Qt::OffsetFromUTC, time.offsetSeconds);
}

QString PcTimeLocalText(const QDateTime& time) {
    if (!time.isValid())
        return {};
    return time.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

QString PcTimeLocalText(const PcTime& time) {
    return PcTimeLocalText(PcLocalDateTime(time));
}

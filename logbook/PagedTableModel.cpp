#include "logbook/PagedTableModel.h"

#include <QMutexLocker>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <climits>

struct CPagedTableModel::Shared {
    QMutex mutex;
    quint64 generation = 0;
    PageQuery query;
    std::deque<qint64> wanted; // pages asked for, newest at the back
    std::set<qint64> inFlight; // pages taken by the page worker and not yet received
    bool countWanted = false;
};

// One worker thread's object: it makes its source on first use, in its own thread, and serves the
// shared requests until none is left, or until it is retired.
class CPagedTableModel::CWorker : public QObject {
public:
    CWorker(PageSourceFactory factory, std::shared_ptr<Shared> shared, CPagedTableModel* model)
        : m_factory(std::move(factory)), m_shared(std::move(shared)), m_model(model) {}

    std::atomic<bool> m_bBusy{false};    // a read of the archive is under way
    std::atomic<bool> m_bRetired{false}; // a fresh worker serves in its place

    void ServePages() {
        while (!m_bRetired) {
            quint64 generation;
            PageQuery query;
            qint64 page;
            {
                QMutexLocker lock(&m_shared->mutex);
                if (m_shared->wanted.empty())
                    return;
                page = m_shared->wanted.back();
                m_shared->wanted.pop_back();
                m_shared->inFlight.insert(page);
                generation = m_shared->generation;
                query = m_shared->query;
            }
            QList<QVariantList> rows;
            QString error;
            m_bBusy = true;
            if (EnsureSource(&error))
                m_source->FetchRows(query, page * kPageRows, kPageRows, &rows, &error);
            m_bBusy = false;
            QMetaObject::invokeMethod(
                m_model,
                [m = m_model, generation, page, rows, error] { m->OnPage(generation, page, rows, error); },
                Qt::QueuedConnection);
        }
    }

    void ServeCount() {
        quint64 generation;
        PageQuery query;
        {
            QMutexLocker lock(&m_shared->mutex);
            if (!m_shared->countWanted)
                return;
            m_shared->countWanted = false;
            generation = m_shared->generation;
            query = m_shared->query;
        }
        qint64 count = 0;
        QVariant summary;
        QString error;
        m_bBusy = true;
        if (EnsureSource(&error))
            m_source->FetchCount(query, &count, &summary, &error);
        m_bBusy = false;
        QMetaObject::invokeMethod(
            m_model,
            [m = m_model, generation, count, summary, error] {
                m->OnCount(generation, count, summary, error);
            },
            Qt::QueuedConnection);
    }

private:
    // A source that could not open is made again at the next request, so an archive that was
    // missing or locked is read once it can be.
    bool EnsureSource(QString* error) {
        if (m_source)
            return true;
        m_source = m_factory();
        if (!m_source) {
            *error = QStringLiteral("no archive");
            return false;
        }
        if (!m_source->Open(error)) {
            m_source.reset();
            return false;
        }
        return true;
    }

    PageSourceFactory m_factory;
    std::shared_ptr<Shared> m_shared;
    CPagedTableModel* m_model;
    std::unique_ptr<CPageSource> m_source;
};

CPagedTableModel::CPagedTableModel(PageSourceFactory factory, QObject* parent)
    : QAbstractTableModel(parent), m_factory(factory), m_shared(std::make_shared<Shared>()) {
    m_pageThread = new QThread(this);
    m_countThread = new QThread(this);
    m_pageThread->setObjectName(QStringLiteral("logbook pages"));
    m_countThread->setObjectName(QStringLiteral("logbook counts"));
    m_pageWorker = new CWorker(factory, m_shared, this);
    m_countWorker = new CWorker(factory, m_shared, this);
    m_pageWorker->moveToThread(m_pageThread);
    m_countWorker->moveToThread(m_countThread);
    m_pageThread->start();
    m_countThread->start();
}

CPagedTableModel::~CPagedTableModel() {
    // Each worker is deleted in its own thread, so its source closes its connection there; a query
    // under way finishes first.
    {
        QMutexLocker lock(&m_shared->mutex);
        m_shared->wanted.clear();
        m_shared->countWanted = false;
    }
    for (auto [worker, thread] : {std::pair{m_pageWorker, m_pageThread}, {m_countWorker, m_countThread}}) {
        QMetaObject::invokeMethod(
            worker,
            [worker] {
                delete worker;
                QThread::currentThread()->quit();
            },
            Qt::QueuedConnection);
        thread->wait();
    }
    for (QThread* thread : std::as_const(m_retiring))
        thread->wait();
}

void CPagedTableModel::RenewIfBusy(CWorker*& worker, QThread*& thread) {
    if (!worker->m_bBusy)
        return;
    // A read of an older query can take long (a filter that matches nothing may walk a whole
    // index), and a running read cannot be stopped: a fresh worker with a connection of its own
    // serves the new query, and the old one ends once its read is done. At most kRetiring at a
    // time; past that, the new query waits its turn.
    for (auto it = m_retiring.begin(); it != m_retiring.end();) {
        if ((*it)->isFinished()) {
            delete *it;
            it = m_retiring.erase(it);
        } else {
            ++it;
        }
    }
    if (m_retiring.size() >= kRetiring)
        return;
    worker->m_bRetired = true;
    QMetaObject::invokeMethod(
        worker,
        [old = worker] {
            delete old;
            QThread::currentThread()->quit();
        },
        Qt::QueuedConnection);
    m_retiring << thread;
    const QString name = thread->objectName();
    thread = new QThread(this);
    thread->setObjectName(name);
    worker = new CWorker(m_factory, m_shared, this);
    worker->moveToThread(thread);
    thread->start();
}

void CPagedTableModel::SetQuery(const PageQuery& query) {
    beginResetModel();
    m_query = query;
    ++m_nGeneration;
    m_nRows = 0;
    m_nTotal = 0;
    m_bCountKnown = false;
    m_bFirstPage = false;
    m_summary = {};
    m_pages.clear();
    m_pageUse.clear();
    {
        QMutexLocker lock(&m_shared->mutex);
        m_shared->generation = m_nGeneration;
        m_shared->query = query;
        m_shared->wanted.assign(1, 0);
        m_shared->inFlight.clear();
        m_shared->countWanted = true;
    }
    endResetModel();
    RenewIfBusy(m_pageWorker, m_pageThread);
    RenewIfBusy(m_countWorker, m_countThread);
    QMetaObject::invokeMethod(
        m_pageWorker, [w = m_pageWorker] { w->ServePages(); }, Qt::QueuedConnection);
    QMetaObject::invokeMethod(
        m_countWorker, [w = m_countWorker] { w->ServeCount(); }, Qt::QueuedConnection);
}

int CPagedTableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : m_nRows;
}

void CPagedTableModel::sort(int column, Qt::SortOrder order) {
    if (column == m_query.sortColumn && order == m_query.order)
        return;
    PageQuery q = m_query;
    q.sortColumn = column;
    q.order = order;
    // Before the first query the sort is only kept (a view sets its header up): the first query
    // runs once, when asked.
    if (m_nGeneration == 0)
        m_query = q;
    else
        SetQuery(q);
}

int CPagedTableModel::CachedRows() const {
    int n = 0;
    for (const auto& page : m_pages)
        n += int(page.size());
    return n;
}

void CPagedTableModel::RequestPage(qint64 page) const {
    {
        QMutexLocker lock(&m_shared->mutex);
        if (m_shared->inFlight.count(page))
            return;
        auto& wanted = m_shared->wanted;
        for (auto it = wanted.begin(); it != wanted.end(); ++it)
            if (*it == page) {
                wanted.erase(it);
                break;
            }
        wanted.push_back(page);
        while (wanted.size() > size_t(kWantedPages))
            wanted.pop_front();
    }
    QMetaObject::invokeMethod(
        m_pageWorker, [w = m_pageWorker] { w->ServePages(); }, Qt::QueuedConnection);
}

const QVariantList* CPagedTableModel::RowAt(int row) const {
    if (row < 0 || row >= m_nRows)
        return nullptr;
    const qint64 page = row / kPageRows;
    auto it = m_pages.constFind(page);
    if (it == m_pages.constEnd()) {
        RequestPage(page);
        return nullptr;
    }
    m_pageUse[page] = ++m_nUseClock;
    const int at = row % kPageRows;
    return at < it->size() ? &it->at(at) : nullptr;
}

QVariant CPagedTableModel::Cell(const QVariantList& row, int column, int role) const {
    if (role != Qt::DisplayRole || column < 0 || column >= row.size())
        return {};
    return row.at(column);
}

QVariant CPagedTableModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid())
        return {};
    const QVariantList* row = RowAt(index.row());
    if (!row)
        return {};
    return Cell(*row, index.column(), role);
}

void CPagedTableModel::Retranslate() {
    if (m_nRows > 0)
        emit dataChanged(index(0, 0), index(m_nRows - 1, columnCount() - 1));
    emit headerDataChanged(Qt::Horizontal, 0, columnCount() - 1);
}

void CPagedTableModel::OnPage(quint64 generation, qint64 page, const QList<QVariantList>& rows,
                              const QString& error) {
    if (generation != m_nGeneration)
        return;
    {
        QMutexLocker lock(&m_shared->mutex);
        m_shared->inFlight.erase(page);
    }
    if (!error.isEmpty()) {
        emit Failed(error);
        return;
    }
    // Keep at most kCachedPages pages: the least recently used goes.
    while (m_pages.size() >= kCachedPages) {
        auto oldest = m_pageUse.constBegin();
        for (auto it = m_pageUse.constBegin(); it != m_pageUse.constEnd(); ++it)
            if (it.value() < oldest.value())
                oldest = it;
        m_pages.remove(oldest.key());
        m_pageUse.remove(oldest.key());
    }
    m_pages.insert(page, rows);
    m_pageUse[page] = ++m_nUseClock;

    const qint64 first = page * kPageRows;
    if (!m_bCountKnown && page == 0) {
        // Until the count comes, the table holds the first page; a short first page is the whole.
        if (!rows.isEmpty()) {
            beginInsertRows({}, 0, int(rows.size()) - 1);
            m_nRows = int(rows.size());
            endInsertRows();
        }
        if (rows.size() < kPageRows)
            m_nTotal = rows.size();
    } else if (first < m_nRows && !rows.isEmpty()) {
        const int last = int(std::min<qint64>(first + rows.size(), m_nRows)) - 1;
        emit dataChanged(index(int(first), 0), index(last, columnCount() - 1));
    }
    if (page == 0 && !m_bFirstPage) {
        m_bFirstPage = true;
        emit FirstPageShown();
    }
}

void CPagedTableModel::OnCount(quint64 generation, qint64 count, const QVariant& summary,
                               const QString& error) {
    if (generation != m_nGeneration)
        return;
    if (!error.isEmpty()) {
        emit Failed(error);
        return;
    }
    const int rows = int(std::min<qint64>(count, INT_MAX));
    if (rows > m_nRows) {
        beginInsertRows({}, m_nRows, rows - 1);
        m_nRows = rows;
        endInsertRows();
    }
    // The count may come from a read taken before rows arrived that the first page holds.
    m_nTotal = std::max<qint64>(count, m_nRows);
    m_bCountKnown = true;
    m_summary = summary;
    emit CountShown(count);
    // Nothing matches: the table is complete as it is, whatever the first page's read still takes
    // (a filter that matches nothing can make the archive walk a whole index to be sure).
    if (m_nTotal == 0 && !m_bFirstPage) {
        m_bFirstPage = true;
        emit FirstPageShown();
    }
}

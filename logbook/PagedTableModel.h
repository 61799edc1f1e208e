#pragma once

#include <QAbstractTableModel>
#include <QHash>
#include <QList>
#include <QMutex>
#include <QVariant>

#include <deque>
#include <functional>
#include <memory>
#include <set>

class QThread;

// What one table of the logbook asks the archive: a filter (the source's own type in a QVariant)
// and a sort column with its order.
struct PageQuery {
    QVariant filter;
    int sortColumn = 0;
    Qt::SortOrder order = Qt::AscendingOrder;
};

// Where the rows come from. A source lives on one worker thread only: it is made there by its
// factory and opens its own database connection there (a Qt SQL connection belongs to the thread
// that opened it), so a slow query never holds up the window.
class CPageSource {
public:
    virtual ~CPageSource() = default;
    // Opens the source's own connection. False and *error when the archive cannot be read.
    virtual bool Open(QString* error) = 0;
    // Up to `limit` rows from row `offset` of the query's result, each as its cells.
    virtual bool FetchRows(const PageQuery& query, qint64 offset, int limit, QList<QVariantList>* rows,
                           QString* error) = 0;
    // The number of rows of the query's result, and what the table shows beside it (the counters
    // of an event filter), worked out apart from the rows.
    virtual bool FetchCount(const PageQuery& query, qint64* count, QVariant* summary, QString* error) = 0;
};
using PageSourceFactory = std::function<std::unique_ptr<CPageSource>()>;

// A table model over a result too large to hold: rows are fetched in pages of kPageRows on a
// worker thread when the view first asks for them, at most kCachedPages pages are kept (the least
// recently used go), and the row count comes from a second worker, so the first page shows before
// the count is known. A new query or sort supersedes every request of the old one: pages of the
// old query that arrive late are dropped, and requests not yet begun are never run. Pages the
// view asked for are served newest first, and only the newest kWantedPages are remembered, so
// scrolling fast through a million rows fetches what is on screen, not everything passed. A new
// query never waits for a long read of an older one: a fresh worker takes over.
class CPagedTableModel : public QAbstractTableModel {
    Q_OBJECT
public:
    static constexpr int kPageRows = 128;
    static constexpr int kCachedPages = 24;
    static constexpr int kWantedPages = 6;
    // Workers left finishing a read of an older query, at most.
    static constexpr int kRetiring = 2;

    CPagedTableModel(PageSourceFactory factory, QObject* parent = nullptr);
    ~CPagedTableModel() override;

    // The sort of the first query, before any is run.
    void SetInitialSort(int column, Qt::SortOrder order) {
        m_query.sortColumn = column;
        m_query.order = order;
    }
    // Runs the query: the table empties and fills again from its first page.
    void SetQuery(const PageQuery& query);
    const PageQuery& Query() const { return m_query; }
    // Runs the current query again (rows the archive gained since show up).
    void Refresh() { SetQuery(m_query); }

    // Rows known so far: the first page's until the count arrives, then the count.
    int rowCount(const QModelIndex& parent = {}) const override;
    // Header clicks sort through the query; the archive does the sorting. Before the first
    // SetQuery the sort is only kept.
    void sort(int column, Qt::SortOrder order) override;

    bool CountKnown() const { return m_bCountKnown; }
    qint64 TotalCount() const { return m_nTotal; }
    const QVariant& Summary() const { return m_summary; }
    // The rows the model holds in memory now (never more than kCachedPages pages).
    int CachedRows() const;
    // The cells of a row when its page is in memory, else null (and the page is asked for).
    const QVariantList* RowAt(int row) const;

    // The source's cells of a row as the view shows them; derived models turn codes into texts.
    virtual QVariant Cell(const QVariantList& row, int column, int role) const;

    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

    // Repaints every cell and header (after the language changed); nothing is fetched again.
    void Retranslate();

signals:
    // The first page of the current query is in (rows may be none), or the count said there are
    // no rows.
    void FirstPageShown();
    // The count and summary of the current query are in.
    void CountShown(qint64 count);
    // The archive could not be read: the reason.
    void Failed(const QString& error);

private:
    struct Shared; // the state both workers and the model see, under its mutex
    class CWorker;

    void RequestPage(qint64 page) const;
    void RenewIfBusy(CWorker*& worker, QThread*& thread);
    void OnPage(quint64 generation, qint64 page, const QList<QVariantList>& rows, const QString& error);
    void OnCount(quint64 generation, qint64 count, const QVariant& summary, const QString& error);

    PageSourceFactory m_factory;
    std::shared_ptr<Shared> m_shared;
    QList<QThread*> m_retiring; // threads of retired workers, until they end
    QThread* m_pageThread = nullptr;
    QThread* m_countThread = nullptr;
    CWorker* m_pageWorker = nullptr;
    CWorker* m_countWorker = nullptr;

    PageQuery m_query;
    quint64 m_nGeneration = 0;
    int m_nRows = 0;
    qint64 m_nTotal = 0;
    bool m_bCountKnown = false;
    bool m_bFirstPage = false;
    QVariant m_summary;
    // Pages in memory and their last use, for eviction.
    mutable QHash<qint64, QList<QVariantList>> m_pages;
    mutable QHash<qint64, quint64> m_pageUse;
    mutable quint64 m_nUseClock = 0;
};

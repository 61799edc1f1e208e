#pragma once

#include <QMetaObject>
#include <QObject>
#include <QThreadPool>

#include <atomic>
#include <functional>

// Runs the archive reads of one part of a window on a worker thread of its own, one at a time, so
// the window never waits on the database; each read opens its own connection there (a Qt SQL
// connection belongs to the thread that opened it). A newer read supersedes an older one: a read
// not yet begun is never run, and the result of a superseded one is never delivered. Results come
// back on the thread of the object that owns the fetch. Deleting the fetch waits for a read under
// way.
class CBackgroundFetch : public QObject {
public:
    explicit CBackgroundFetch(QObject* parent) : QObject(parent) { m_pool.setMaxThreadCount(1); }
    ~CBackgroundFetch() override {
        ++m_nGeneration;
        m_pool.clear();
        m_pool.waitForDone();
    }

    template <typename T> void Run(std::function<T()> work, std::function<void(const T&)> done) {
        const quint64 generation = ++m_nGeneration;
        m_pool.start([this, generation, work = std::move(work), done = std::move(done)] {
            if (generation != m_nGeneration.load())
                return;
            T result = work();
            QMetaObject::invokeMethod(
                this,
                [this, generation, done, result = std::move(result)] {
                    if (generation == m_nGeneration.load())
                        done(result);
                },
                Qt::QueuedConnection);
        });
    }

private:
    std::atomic<quint64> m_nGeneration{0};
    QThreadPool m_pool;
};

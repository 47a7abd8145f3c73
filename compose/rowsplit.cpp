#include "compose/rowsplit.h"

#include "platform/stop.h"

#include <QRunnable>
#include <QThread>
#include <QThreadPool>

#include <atomic>
#include <exception>
#include <memory>
#include <optional>
#include <semaphore>

namespace kestrovia {

namespace {
thread_local bool t_splitting = true;
thread_local QThreadPool *t_halves = nullptr; // null: Qt's global pool
// Qt's pool hands a half over under its own lock, which a race checker does not
// see through an uninstrumented Qt; this counter states the same ordering where it
// does. It is global, not captured: the half must take it before it reads anything
// of what it was handed.
std::atomic<unsigned> g_handedOver{0};
} // namespace

RowSplitting::RowSplitting(bool on)
    : m_was(t_splitting)
    , m_wasPool(t_halves)
{
    t_splitting = on;
}

RowSplitting::RowSplitting(QThreadPool &halves)
    : m_was(t_splitting)
    , m_wasPool(t_halves)
{
    t_splitting = true;
    t_halves = &halves;
}

RowSplitting::~RowSplitting()
{
    t_splitting = m_was;
    t_halves = m_wasPool;
}

void splitRows(int n, double work, const std::function<void(int first, int end)> &body)
{
    constexpr double kWorthAThread = 2e6;
    QThreadPool *pool = t_halves ? t_halves : QThreadPool::globalInstance();
    // A pool of one's own holds only the other half; the global pool may be the
    // calling thread's own, and then needs a thread besides it.
    const bool twoCores = t_halves ? QThread::idealThreadCount() >= 2 : pool->maxThreadCount() >= 2;
    if (!t_splitting || n < 2 || work < kWorthAThread || !twoCores) {
        body(0, n);
        return;
    }
    const int mid = n / 2;
    std::binary_semaphore done(0);
    std::exception_ptr otherError;
    // The other half answers to the same stop request as this one.
    const StopFlag *stop = currentStopFlag();
    const std::unique_ptr<QRunnable> other(QRunnable::create([&] {
        g_handedOver.load(std::memory_order_acquire);
        try {
            std::optional<StopScope> scope;
            if (stop)
                scope.emplace(*stop);
            body(mid, n);
        } catch (...) {
            otherError = std::current_exception();
        }
        done.release();
    }));
    other->setAutoDelete(false);
    g_handedOver.fetch_add(1, std::memory_order_release);
    pool->start(other.get());

    std::exception_ptr ownError;
    try {
        body(0, mid);
    } catch (...) {
        ownError = std::current_exception();
    }
    if (pool->tryTake(other.get())) {
        try {
            body(mid, n);
        } catch (...) {
            otherError = std::current_exception();
        }
    } else {
        done.acquire();
    }
    if (ownError)
        std::rethrow_exception(ownError);
    if (otherError)
        std::rethrow_exception(otherError);
}

} // namespace kestrovia

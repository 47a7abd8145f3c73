#include "compose/memorybudget.h"

#include "platform/failure.h"
#include "platform/japanese.h"
#include "platform/stop.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <utility>

#include <unistd.h>

namespace kestrovia {

namespace {

constexpr qint64 kMaxCapacity = qint64(2) << 30;
constexpr qint64 kComfortable = qint64(256) << 20;

qint64 physicalMemory()
{
    const long pages = ::sysconf(_SC_PHYS_PAGES), pageSize = ::sysconf(_SC_PAGESIZE);
    return pages > 0 && pageSize > 0 ? qint64(pages) * pageSize : qint64(4) << 30;
}

struct Budget {
    std::mutex mutex;
    std::condition_variable changed;
    qint64 capacity = std::min(kMaxCapacity, physicalMemory() / 4);
    qint64 comfortable = kComfortable;
    qint64 inUse = 0;
    int waiting = 0;
    std::function<void(qint64)> observer;
};

Budget &budget()
{
    static Budget *const b = new Budget; // never destroyed: reservations may end at exit
    return *b;
}

// Reservations this thread holds: a thread that holds one never waits for more.
thread_local int t_held = 0;

QString megabytes(qint64 bytes) { return QString::number((bytes + (1 << 20) - 1) >> 20); }

} // namespace

namespace memorybudget {

qint64 capacity()
{
    const std::lock_guard lock(budget().mutex);
    return budget().capacity;
}

qint64 comfortable()
{
    const std::lock_guard lock(budget().mutex);
    return budget().comfortable;
}

qint64 inUse()
{
    const std::lock_guard lock(budget().mutex);
    return budget().inUse;
}

int waiting()
{
    const std::lock_guard lock(budget().mutex);
    return budget().waiting;
}

void setLimits(qint64 capacity, qint64 comfortable)
{
    Budget &b = budget();
    const std::lock_guard lock(b.mutex);
    b.capacity = capacity > 0 ? capacity : std::min(kMaxCapacity, physicalMemory() / 4);
    b.comfortable = comfortable > 0 ? comfortable : kComfortable;
    b.changed.notify_all();
}

void setObserver(std::function<void(qint64)> observer)
{
    const std::lock_guard lock(budget().mutex);
    budget().observer = std::move(observer);
}

} // namespace memorybudget

MemoryReservation::MemoryReservation(qint64 bytes, qint64 width, qint64 height) { grow(bytes, width, height); }

MemoryReservation::~MemoryReservation() { release(); }

MemoryReservation::MemoryReservation(MemoryReservation &&other) noexcept
    : m_bytes(std::exchange(other.m_bytes, 0))
{
}

MemoryReservation &MemoryReservation::operator=(MemoryReservation &&other) noexcept
{
    if (this != &other) {
        release();
        m_bytes = std::exchange(other.m_bytes, 0);
    }
    return *this;
}

void MemoryReservation::grow(qint64 bytes, qint64 width, qint64 height)
{
    if (bytes <= 0)
        return;
    Budget &b = budget();
    std::unique_lock lock(b.mutex);
    if (b.observer) {
        const auto observer = b.observer;
        lock.unlock();
        observer(bytes);
        lock.lock();
    }
    if (m_bytes + bytes > b.capacity)
        throw Failure(ja("画像が大きすぎるため、このパソコンのメモリでは処理できません（%1 × %2 "
                         "ピクセル、約 %3 MB が必要です。使えるのは %4 MB までです）")
                          .arg(width)
                          .arg(height)
                          .arg(megabytes(m_bytes + bytes))
                          .arg(megabytes(b.capacity)));
    // Waits only while others hold memory and this thread holds none.
    while (t_held == 0 && m_bytes == 0 && b.inUse > 0 && b.inUse + bytes > b.comfortable) {
        ++b.waiting;
        b.changed.wait_for(lock, std::chrono::milliseconds(50));
        --b.waiting;
        lock.unlock();
        checkPoint();
        lock.lock();
    }
    b.inUse += bytes;
    if (m_bytes == 0)
        ++t_held;
    m_bytes += bytes;
}

void MemoryReservation::release()
{
    if (m_bytes == 0)
        return;
    Budget &b = budget();
    {
        const std::lock_guard lock(b.mutex);
        b.inUse -= m_bytes;
    }
    --t_held;
    m_bytes = 0;
    b.changed.notify_all();
}

} // namespace kestrovia

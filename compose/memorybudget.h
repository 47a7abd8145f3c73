#pragma once
// One memory budget for the whole process: every decode reserves the memory it will
// hold (its pixels, its rows in flight, what its library keeps) before it allocates
// it, so that a batch, the preview and any other caller together never take more
// than the machine can give.
//
// The budget has two bounds. A picture that needs more than the whole capacity is
// refused at once, with its size in the reason. Below that, a reservation waits
// while others are in flight and together they would pass the comfortable level:
// rows of a batch then run one after another instead of side by side. A thread that
// already holds a reservation never waits for another, so two decodes cannot wait on
// each other.

#include <QString>

#include <functional>

namespace kestrovia {

class MemoryReservation;

namespace memorybudget {

// A quarter of the physical memory, at most 2 GB.
qint64 capacity();
// Reservations in flight above this wait for others to end (256 MB: 64 megapixels
// of decoded colour, the load a batch used to admit by pixel count).
qint64 comfortable();
// Bytes reserved now, over all threads.
qint64 inUse();
// Reservations waiting for others to end, now (tests).
int waiting();

// Sets the bounds (tests); 0 restores the defaults.
void setLimits(qint64 capacity, qint64 comfortable);

// Called with every amount asked for, before it is granted or refused (tests: a
// refused bomb has asked for nothing large).
void setObserver(std::function<void(qint64 bytes)> observer);

} // namespace memorybudget

// Reserved memory, given back when it goes.
class MemoryReservation {
public:
    MemoryReservation() = default;
    // Reserves bytes for what a picture of width x height pixels needs. Throws Failure
    // (Japanese, naming that size) when it can never fit; waits while it does not fit
    // yet, answering stop requests (checkPoint) while it waits.
    MemoryReservation(qint64 bytes, qint64 width, qint64 height);
    ~MemoryReservation();
    MemoryReservation(MemoryReservation &&other) noexcept;
    MemoryReservation &operator=(MemoryReservation &&other) noexcept;
    MemoryReservation(const MemoryReservation &) = delete;
    MemoryReservation &operator=(const MemoryReservation &) = delete;

    qint64 bytes() const { return m_bytes; }
    // Adds to this reservation (same rules).
    void grow(qint64 bytes, qint64 width, qint64 height);

private:
    void release();
    qint64 m_bytes = 0;
};

} // namespace kestrovia

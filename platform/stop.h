#pragma once
// Stopping long work from another thread: a decode of a very large picture, a
// preview that a newer click has overtaken, a batch row after 中止.
//
// The thread doing the work holds a StopScope on the flag for as long as the work
// runs; the work calls checkPoint() between its steps (a band of rows, a pass of
// the resampler), which throws Stopped once the flag is raised. Work that runs
// without a scope is never stopped.

#include <atomic>
#include <exception>
#include <memory>

namespace kestrovia {

// Thrown by checkPoint() when the work's flag was raised. Not a Failure: nothing
// went wrong, and nobody shows it to the user.
class Stopped : public std::exception {
public:
    const char *what() const noexcept override { return "stopped"; }
};

// A stop request, shared between the thread that asks and the one that works.
class StopFlag {
public:
    StopFlag()
        : m_raised(std::make_shared<std::atomic<bool>>(false))
    {
    }
    void requestStop() const { m_raised->store(true, std::memory_order_relaxed); }
    bool stopRequested() const { return m_raised->load(std::memory_order_relaxed); }

private:
    std::shared_ptr<std::atomic<bool>> m_raised;
};

// While it lives, checkPoint() on this thread answers to flag.
class StopScope {
public:
    explicit StopScope(const StopFlag &flag);
    ~StopScope();
    StopScope(const StopScope &) = delete;
    StopScope &operator=(const StopScope &) = delete;

private:
    const StopFlag *m_previous;
};

// The flag of the innermost scope on this thread; null without one. Work handed to
// another thread (a split of rows) takes it along with a scope of its own there.
const StopFlag *currentStopFlag();

// Throws Stopped when the current scope's flag has been raised.
void checkPoint();

} // namespace kestrovia

#pragma once
// A gate on a drop's header reads: while closed it holds each read (or each read of
// a name containing a marker) on the drop's thread until the gate opens or the drop
// is stopped, and it counts the reads and the threads they ran on.

#include "joblist/dropimport.h"
#include "platform/stop.h"

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace testui {

class HeldReads {
public:
    explicit HeldReads(kestrovia::DropImport &import, const QString &marker = {})
        : m_state(std::make_shared<State>())
    {
        import.setReadHook([state = m_state, marker](const QString &path) {
            const kestrovia::StopFlag *stop = kestrovia::currentStopFlag();
            std::unique_lock lock(state->mutex);
            state->threads.push_back(std::this_thread::get_id());
            if (!path.contains(marker)) {
                ++state->reads;
                return;
            }
            ++state->waiting;
            // A stop ends the wait as it ends a slow read.
            while (!state->open && !(stop && stop->stopRequested()))
                state->changed.wait_for(lock, std::chrono::milliseconds(10));
            --state->waiting;
            ++state->reads;
        });
    }
    ~HeldReads() { open(); }
    HeldReads(const HeldReads &) = delete;
    HeldReads &operator=(const HeldReads &) = delete;

    void open()
    {
        const std::lock_guard lock(m_state->mutex);
        m_state->open = true;
        m_state->changed.notify_all();
    }
    // Reads held at the gate now.
    int waiting() const
    {
        const std::lock_guard lock(m_state->mutex);
        return m_state->waiting;
    }
    // Reads let through.
    int reads() const
    {
        const std::lock_guard lock(m_state->mutex);
        return m_state->reads;
    }
    // Whether any read ran on the given thread.
    bool readOn(std::thread::id thread) const
    {
        const std::lock_guard lock(m_state->mutex);
        for (const auto id : m_state->threads)
            if (id == thread)
                return true;
        return false;
    }

private:
    struct State {
        mutable std::mutex mutex;
        std::condition_variable changed;
        bool open = false;
        int waiting = 0;
        int reads = 0;
        std::vector<std::thread::id> threads;
    };
    std::shared_ptr<State> m_state;
};

} // namespace testui

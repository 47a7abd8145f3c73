#pragma once
// A gate on the preview renderer's reads of source files: it counts them, and while
// closed it holds each read (and so its decode) on the renderer's thread until the
// gate opens.

#include "preview/previewrenderer.h"

#include <QString>
#include <QStringList>

#include <condition_variable>
#include <memory>
#include <mutex>

namespace testui {

class ReadGate {
public:
    explicit ReadGate(kestrovia::PreviewRenderer &renderer)
        : m_state(std::make_shared<State>())
    {
        renderer.setReadHook([state = m_state](const QString &path) {
            std::unique_lock lock(state->mutex);
            state->reads << path;
            ++state->waiting;
            state->changed.notify_all();
            state->changed.wait(lock, [&] { return state->open; });
            --state->waiting;
        });
    }
    // Opens the gate, so that a test that fails while it is closed does not leave
    // the renderer waiting.
    ~ReadGate() { open(); }
    ReadGate(const ReadGate &) = delete;
    ReadGate &operator=(const ReadGate &) = delete;

    void close()
    {
        const std::lock_guard lock(m_state->mutex);
        m_state->open = false;
    }
    void open()
    {
        const std::lock_guard lock(m_state->mutex);
        m_state->open = true;
        m_state->changed.notify_all();
    }
    // Reads held at the gate right now.
    int waiting() const
    {
        const std::lock_guard lock(m_state->mutex);
        return m_state->waiting;
    }
    // Every read so far, in order, by path.
    QStringList reads() const
    {
        const std::lock_guard lock(m_state->mutex);
        return m_state->reads;
    }

private:
    struct State {
        mutable std::mutex mutex;
        std::condition_variable changed;
        bool open = true;
        int waiting = 0;
        QStringList reads;
    };
    std::shared_ptr<State> m_state;
};

} // namespace testui

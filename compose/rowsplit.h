#pragma once
// Splitting the rows of a large picture operation over two threads.

#include <functional>

class QThreadPool;

namespace kestrovia {

// Runs body(first, end) over the rows [0, n): in two halves when the work (a count
// of multiply-adds) pays for a thread and splitting is on for the calling thread,
// the second half on a thread of the calling thread's pool for halves (Qt's global
// pool unless RowSplitting named another), the first on the calling thread.
// A half that no pool thread has taken by the time the first one is done runs on
// the calling thread too, so a busy pool never deadlocks. Returns when both halves
// are done; an exception thrown in either half is rethrown here.
void splitRows(int n, double work, const std::function<void(int first, int end)> &body);

// Within its scope, splitRows on this thread splits or not as asked; splitting is
// on by default, onto Qt's global pool. Given a pool, it splits onto that one: for
// a thread whose work must keep off the global pool, which others wait on.
class RowSplitting {
public:
    explicit RowSplitting(bool on);
    explicit RowSplitting(QThreadPool &halves);
    ~RowSplitting();
    RowSplitting(const RowSplitting &) = delete;
    RowSplitting &operator=(const RowSplitting &) = delete;

private:
    bool m_was;
    QThreadPool *m_wasPool;
};

} // namespace kestrovia

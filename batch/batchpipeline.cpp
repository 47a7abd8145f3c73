#include "batch/batchpipeline.h"

#include "compose/imagebuffer.h"
#include "compose/jobcompose.h"
#include "compose/metadatablocks.h"
#include "compose/pictureformat.h"
#include "compose/rowsplit.h"
#include "export/export.h"
#include "export/staletemp.h"
#include "platform/failure.h"
#include "platform/stop.h"

#include <QFileInfo>
#include <QSet>
#include <QThread>
#include <QThreadPool>

#include <algorithm>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <optional>
#include <vector>

namespace kestrovia {

namespace {

// A row's result before it is written: its outcome and, when saved, its file.
struct Result {
    RowOutcome outcome;
    QByteArray jpeg;
};

} // namespace

// What the workers share. The pipeline waits for the workers before it goes, so
// `owner` outlives every use.
struct BatchPipeline::Run {
    Run(BatchPipeline *o, const BatchPlan &p)
        : owner(o)
        , plan(p)
    {
    }

    BatchPipeline *const owner;
    // Only read, by every worker at once: const, so that no access detaches the
    // shared list under another thread.
    const BatchPlan plan;
    std::mutex mutex;
    std::condition_variable changed;
    int nextToStart = 0;
    int nextToWrite = 0;
    std::vector<std::optional<Result>> results;
    int window = 0; // rows started ahead of the next one to write
    int workers = 0;
    int stopped = 0; // rows stopped inside their decode by a cancel
    StopFlag stop; // raised by cancel: rows in flight stop at their next check point
    bool cancelled = false;
    bool writing = false;
    bool finishing = false; // the end is being reported
    bool done = false; // ... and has been: nothing touches owner any more
    QSet<QString> cleanedFolders; // only the writer touches it
    BatchSummary summary;

    void work();
    Result convert(const PlannedRow &p);
    void writeReady(std::unique_lock<std::mutex> &lock);
    void finishIfDone(std::unique_lock<std::mutex> &lock);
};

void BatchPipeline::Run::work()
{
    std::unique_lock lock(mutex);
    for (;;) {
        // Rows ahead of the next one to write wait as encoded files; a bounded
        // window keeps them from piling up behind a slow row.
        changed.wait(lock, [this] {
            return cancelled || nextToStart >= int(plan.rows.size()) || nextToStart < nextToWrite + window;
        });
        if (cancelled || nextToStart >= int(plan.rows.size()))
            break;
        const int i = nextToStart++;
        lock.unlock();
        Result result = convert(plan.rows[i]);
        lock.lock();
        results[size_t(i)] = std::move(result);
        writeReady(lock);
    }
    --workers;
    finishIfDone(lock);
}

Result BatchPipeline::Run::convert(const PlannedRow &p)
{
    Result r{RowOutcome{p.row, p.job.fileName, p.job.path, p.output, RowOutcome::Status::Saved, {}}, {}};
    if (p.fate == PlannedRow::Fate::Skip || p.fate == PlannedRow::Fate::Fail) {
        r.outcome.status = p.fate == PlannedRow::Fate::Skip ? RowOutcome::Status::Skipped : RowOutcome::Status::Failed;
        r.outcome.reason = p.reason;
        return r;
    }
    try {
        // A row stops within its decode when the run is cancelled; the memory it
        // holds comes from the process's budget, where a row waits while others hold
        // too much.
        const StopScope scope(stop);
        // The cells are converted before anything is decoded, so that a text that
        // is not a number fails the row at once.
        const Job job = readJob(p.job);
        // A photo only scaled to the canvas goes through its colour planes when it
        // becomes a JPEG; every other job through the RGB canvas the preview shows.
        const ComposedJob composed = composeJobFile(job, true, {}, planeRoute(job));
        checkPoint();
        r.jpeg = composed.planes ? encodeJob(*composed.planes, job, composed.blocks)
                                 : encodeJob(composed.canvas, job, composed.blocks, composed.iccProfile);
        return r;
    } catch (const Stopped &) {
        r.outcome.status = RowOutcome::Status::NotStarted;
        return r;
    } catch (...) {
        r.outcome.reason = failureReason(std::current_exception());
    }
    r.outcome.status = RowOutcome::Status::Failed;
    return r;
}

void BatchPipeline::Run::writeReady(std::unique_lock<std::mutex> &lock)
{
    // One worker at a time writes, in table order, whatever is ready.
    if (writing)
        return;
    writing = true;
    while (nextToWrite < int(results.size()) && results[size_t(nextToWrite)]) {
        Result r = std::move(*results[size_t(nextToWrite)]);
        results[size_t(nextToWrite)].reset();
        ++nextToWrite;
        lock.unlock();
        if (r.outcome.status == RowOutcome::Status::Saved) {
            const PlannedRow &p = plan.rows[size_t(nextToWrite - 1)];
            try {
                // What a killed run left in this folder goes before our first output there.
                const QString folder = QFileInfo(p.output).absolutePath();
                if (!cleanedFolders.contains(folder)) {
                    cleanedFolders.insert(folder);
                    removeStaleOutputTemps(folder);
                }
                writeJobOutput(p.output, r.jpeg,
                               p.fate == PlannedRow::Fate::Replace ? WriteMode::Replace : WriteMode::New);
            } catch (const NameTaken &f) {
                r.outcome.status = RowOutcome::Status::NameTaken;
                r.outcome.reason = f.message();
            } catch (const Failure &f) {
                r.outcome.status = RowOutcome::Status::Failed;
                r.outcome.reason = f.message();
            }
        }
        emit owner->rowDone(r.outcome);
        lock.lock();
        if (r.outcome.status == RowOutcome::Status::Saved)
            ++summary.saved;
        else if (r.outcome.status == RowOutcome::Status::NotStarted)
            ++stopped;
        else
            summary.problems.append(r.outcome);
        changed.notify_all();
    }
    writing = false;
    finishIfDone(lock);
}

void BatchPipeline::Run::finishIfDone(std::unique_lock<std::mutex> &lock)
{
    if (finishing || workers > 0 || writing || nextToWrite < nextToStart)
        return;
    finishing = true;
    summary.notStarted = int(plan.rows.size()) - nextToStart + stopped;
    const BatchSummary s = summary;
    lock.unlock();
    releaseCachedBuffers();
    emit owner->finished(s);
    lock.lock();
    done = true;
    changed.notify_all();
}

BatchPipeline::BatchPipeline(QObject *parent)
    : QObject(parent)
{
    qRegisterMetaType<RowOutcome>();
    qRegisterMetaType<BatchSummary>();
}

BatchPipeline::~BatchPipeline()
{
    if (!m_run)
        return;
    cancel();
    std::unique_lock lock(m_run->mutex);
    m_run->changed.wait(lock, [this] { return m_run->done; });
}

void BatchPipeline::start(const BatchPlan &plan)
{
    if (isRunning())
        return;
    auto run = std::make_shared<Run>(this, plan);
    run->results.resize(size_t(plan.rows.size()));
    const int threads = m_threads > 0 ? m_threads : std::max(1, QThread::idealThreadCount());
    run->window = 2 * threads + 2;
    run->workers = threads;
    m_run = run;
    if (plan.rows.isEmpty()) {
        run->workers = 0;
        std::unique_lock lock(run->mutex);
        run->finishIfDone(lock);
        return;
    }
    m_pool.setMaxThreadCount(threads);
    // As many rows side by side as there are cores already keep every core busy; a
    // row splitting its own work as well would only crowd them.
    const bool splitRowsToo = plan.rows.size() < threads;
    for (int i = 0; i < threads; ++i)
        m_pool.start([run, splitRowsToo] {
            const RowSplitting splitting(splitRowsToo);
            run->work();
        });
}

void BatchPipeline::cancel()
{
    if (!m_run)
        return;
    {
        const std::lock_guard lock(m_run->mutex);
        m_run->cancelled = true;
    }
    m_run->stop.requestStop();
    m_run->changed.notify_all();
}

bool BatchPipeline::isRunning() const
{
    if (!m_run)
        return false;
    const std::lock_guard lock(m_run->mutex);
    return !m_run->done;
}

} // namespace kestrovia

#pragma once
// The batch run without a window: the planned rows composed and encoded on worker
// threads, written in table order, each failure recorded and the run carried on.
// It reports through signals, on the thread the pipeline lives in; the window
// connects them to its progress bar and messages.

#include "batch/batchplan.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QThreadPool>

#include <memory>

namespace kestrovia {

struct RowOutcome {
    enum class Status {
        Saved,
        Failed,
        Skipped,
        NotStarted,
        // Not written: a file took the output's name after the plan, so writing
        // would have replaced it without the user's yes; it is kept (reason names it).
        NameTaken,
    };

    int row = 0;
    QString fileName;
    QString path; // the source
    QString output; // what was (or would have been) written
    Status status = Status::Saved;
    QString reason; // Japanese, for Failed, Skipped and NameTaken
};

struct BatchSummary {
    int saved = 0;
    int notStarted = 0; // rows a cancel kept from starting or stopped
    QList<RowOutcome> problems; // failed, skipped and name-taken rows, in table order
};

class BatchPipeline : public QObject {
    Q_OBJECT
public:
    explicit BatchPipeline(QObject *parent = nullptr);
    // Cancels a run and waits for the rows in flight.
    ~BatchPipeline() override;

    // Starts converting the rows of plan that are to be written (Write, or Replace
    // once the user agreed) and returns at once. As many rows as there are cores
    // are decoded, composed and encoded side by side, in memory, each reserving
    // its memory from the process's budget first (memorybudget.h: a row waits while
    // others hold too much, and a picture that can never fit fails); the files are
    // written in table order (writeJobOutput): a Write row's never replaces a file
    // that appeared since the plan (NameTaken), a Replace row's replaces only an
    // earlier output, and only once complete. Before the first output into a
    // folder, what killed runs left there is removed (removeStaleOutputTemps).
    // Rows planned as Skip or Fail are reported without being touched. rowDone is
    // emitted once per row, in table order; finished at the end.
    // A row that fails never stops the run. Nothing is written to the table.
    void start(const BatchPlan &plan);
    // No row starts any more; the rows in flight stop at their next check point
    // (within their decode) or, when already encoded, are written (never a
    // half-written file). Stopped rows are reported as not started.
    void cancel();
    bool isRunning() const;
    // How many rows a run converts side by side (at least 1); 0, the default, is
    // as many as there are cores. Taken by the next start().
    void setThreads(int threads) { m_threads = threads; }

signals:
    void rowDone(const kestrovia::RowOutcome &outcome);
    void finished(const kestrovia::BatchSummary &summary);

private:
    struct Run;
    std::shared_ptr<Run> m_run;
    // The workers' own threads. On Qt's global pool they would hold every thread for
    // the whole run, and the window's painting, which scales and converts images on
    // that pool and waits for it, would stand still until the end.
    QThreadPool m_pool;
    int m_threads = 0;
};

} // namespace kestrovia

#include "batch/batchpipeline.h"

#include "compose/jobcompose.h"
#include "export/export.h"
#include "platform/failure.h"

#include <exception>
#include <new>

namespace kestrovia {

namespace {

QString ja(const char *text) { return QString::fromUtf8(text); }

void convert(const JobRow &job)
{
    // The cells are converted before anything is decoded, so that a text that is
    // not a number fails the row at once.
    job.backColorValue();
    job.level();
    const QImage canvas = composeJob(job, loadJobSource(job));
    exportJob(canvas, job);
}

RowOutcome runRow(const PlannedRow &p)
{
    RowOutcome outcome{p.row, p.job.fileName, p.job.path, p.output, RowOutcome::Status::Saved, {}};
    if (p.fate == PlannedRow::Fate::Skip || p.fate == PlannedRow::Fate::Fail) {
        outcome.status = p.fate == PlannedRow::Fate::Skip ? RowOutcome::Status::Skipped : RowOutcome::Status::Failed;
        outcome.reason = p.reason;
        return outcome;
    }
    try {
        convert(p.job);
        return outcome;
    } catch (const Failure &f) {
        outcome.reason = f.message();
    } catch (const std::bad_alloc &) {
        outcome.reason = ja("メモリが足りません。画像または新しいサイズが大きすぎる可能性があります");
    } catch (const std::exception &) {
        outcome.reason = ja("予期しないエラーが発生しました");
    }
    outcome.status = RowOutcome::Status::Failed;
    return outcome;
}

} // namespace

BatchPipeline::BatchPipeline(QObject *parent)
    : QObject(parent)
{
}

BatchSummary BatchPipeline::run(const BatchPlan &plan)
{
    BatchSummary summary;
    for (const PlannedRow &p : plan.rows) {
        const RowOutcome outcome = runRow(p);
        if (outcome.status == RowOutcome::Status::Saved)
            ++summary.saved;
        else
            summary.problems.append(outcome);
        emit rowDone(outcome);
    }
    emit finished(summary);
    return summary;
}

} // namespace kestrovia

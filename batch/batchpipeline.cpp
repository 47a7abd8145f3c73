#include "batch/batchpipeline.h"

#include "compose/jobcompose.h"
#include "compose/surface.h"
#include "export/export.h"
#include "export/outputname.h"
#include "platform/failure.h"
#include "platform/numbers.h"

#include <exception>
#include <new>

namespace kestrovia {

namespace {

QString ja(const char *text) { return QString::fromUtf8(text); }

void convert(const PlannedRow &p)
{
    // Every cell is converted before anything is decoded, so that a text that is
    // not a number fails the row at once.
    const JobSettings job = p.job.settings();
    if (!textToInt32(job.backColor))
        throw Failure(ja("背景色「%1」が数値ではありません").arg(job.backColor));
    const std::int16_t level = compressionLevel(p.job.compression);

    const TwipsPerPixel tpp;
    Surface source(tpp), turned(tpp), canvas(tpp);
    JobSurfaces surfaces{source, turned, canvas};
    loadJobSource(surfaces, job, tpp, true);
    composeJob(surfaces, job, tpp, canvas, true);
    exportJob(canvas, p.job.fileName, p.job.saveFolder, level);
}

} // namespace

BatchSummary runBatch(const BatchPlan &plan, const std::function<void(const RowOutcome &)> &rowDone)
{
    BatchSummary summary;
    for (const PlannedRow &p : plan.rows) {
        RowOutcome outcome{p.row, p.job.fileName, p.job.path, p.output, RowOutcome::Status::Saved, {}};
        if (p.fate == PlannedRow::Fate::Skip || p.fate == PlannedRow::Fate::Fail) {
            outcome.status = p.fate == PlannedRow::Fate::Skip ? RowOutcome::Status::Skipped
                                                              : RowOutcome::Status::Failed;
            outcome.reason = p.reason;
        } else {
            try {
                convert(p);
            } catch (const Failure &f) {
                outcome.reason = f.message();
            } catch (const std::bad_alloc &) {
                outcome.reason = ja("メモリが足りません。画像または新しいサイズが大きすぎる可能性があります");
            } catch (const std::exception &) {
                outcome.reason = ja("予期しないエラーが発生しました");
            }
            if (!outcome.reason.isEmpty())
                outcome.status = RowOutcome::Status::Failed;
        }
        if (outcome.status == RowOutcome::Status::Saved)
            ++summary.saved;
        else
            summary.problems.append(outcome);
        if (rowDone)
            rowDone(outcome);
    }
    return summary;
}

} // namespace kestrovia

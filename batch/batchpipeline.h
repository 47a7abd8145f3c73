#pragma once
// The batch run without a window: every planned row composed and exported in
// order, each failure recorded and the run carried on with the next row.

#include "batch/batchplan.h"

#include <QList>
#include <QString>
#include <functional>

namespace kestrovia {

struct RowOutcome {
    enum class Status { Saved, Failed, Skipped };

    int row = 0;
    QString fileName;
    QString path;     // the source
    QString output;   // what was (or would have been) written
    Status status = Status::Saved;
    QString reason;   // Japanese, for Failed and Skipped
};

struct BatchSummary {
    int saved = 0;
    QList<RowOutcome> problems; // failed and skipped rows, in table order
};

// Converts the rows of plan that are to be written (Write, or Replace once the user
// agreed), top to bottom, each on surfaces of its own (never the preview's): the
// cells are converted, the picture decoded and composed, and the canvas exported as
// the row's JPEG (exportJob). Rows planned as Skip or Fail are reported as such
// without being touched. rowDone is called after every row, in order. Nothing is
// written to the table. A row that fails never stops the run.
BatchSummary runBatch(const BatchPlan &plan, const std::function<void(const RowOutcome &)> &rowDone = {});

} // namespace kestrovia

#pragma once
// The batch run without a window: every planned row composed and exported in
// order, each failure recorded and the run carried on with the next row. It reports
// through signals; the window connects them to its progress bar and messages.

#include "batch/batchplan.h"

#include <QList>
#include <QObject>
#include <QString>

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

class BatchPipeline : public QObject {
    Q_OBJECT
public:
    explicit BatchPipeline(QObject *parent = nullptr);

    // Converts the rows of plan that are to be written (Write, or Replace once the
    // user agreed), top to bottom: the cells are converted, the picture decoded and
    // composed in buffers of the run's own, and the canvas exported as the row's
    // JPEG (exportJob). Rows planned as Skip or Fail are reported without being
    // touched. rowDone is emitted once per row, in order; finished at the end. A row
    // that fails never stops the run. Nothing is written to the table.
    BatchSummary run(const BatchPlan &plan);

signals:
    void rowDone(const kestrovia::RowOutcome &outcome);
    void finished(const kestrovia::BatchSummary &summary);
};

} // namespace kestrovia

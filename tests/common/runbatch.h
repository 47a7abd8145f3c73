#pragma once
// A whole batch run, for tests and benchmarks: the pipeline is started and waited
// for while the calling thread's events are processed (it reports through them).

#include "batch/batchpipeline.h"

#include <QEventLoop>

#include <optional>

namespace testbatch {

inline kestrovia::BatchSummary runBatch(kestrovia::BatchPipeline &pipeline, const kestrovia::BatchPlan &plan)
{
    std::optional<kestrovia::BatchSummary> summary;
    QEventLoop loop;
    const QMetaObject::Connection c =
        QObject::connect(&pipeline, &kestrovia::BatchPipeline::finished, &loop, [&](const kestrovia::BatchSummary &s) {
            summary = s;
            loop.quit();
        });
    pipeline.start(plan);
    if (!summary) // an empty plan has finished already
        loop.exec();
    QObject::disconnect(c);
    return summary.value_or(kestrovia::BatchSummary());
}

inline kestrovia::BatchSummary runBatch(const kestrovia::BatchPlan &plan)
{
    kestrovia::BatchPipeline pipeline;
    return runBatch(pipeline, plan);
}

} // namespace testbatch

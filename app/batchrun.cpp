#include "app/batchrun.h"

#include "app/prompts.h"
#include "batch/batchpipeline.h"
#include "batch/batchplan.h"
#include "joblist/jobtable.h"
#include "platform/busypointer.h"

#include <QDir>
#include <QProgressBar>
#include <QPushButton>

namespace kestrovia {

namespace {

QString ja(const char *text) { return QString::fromUtf8(text); }

// Longer lists go behind "詳細を表示" so that the box stays on the screen.
constexpr int kListedInBox = 12;

QString problemLine(const RowOutcome &o)
{
    return ja("・%1（%2）\n　%3").arg(o.fileName, QDir::toNativeSeparators(o.path), o.reason);
}

Prompts::Message summaryMessage(const BatchSummary &summary)
{
    int failed = 0;
    for (const RowOutcome &o : summary.problems)
        failed += o.status == RowOutcome::Status::Failed;
    const int skipped = int(summary.problems.size()) - failed;

    Prompts::Message m;
    m.icon = Prompts::Warning;
    m.title = QStringLiteral("Kestrovia");
    m.text = ja("%1件を保存しました。").arg(summary.saved);
    if (failed > 0)
        m.text += ja("%1件は変換できませんでした。").arg(failed);
    if (skipped > 0)
        m.text += ja("%1件は保存しませんでした。").arg(skipped);
    QStringList lines;
    for (const RowOutcome &o : summary.problems)
        lines.append(problemLine(o));
    m.informative = lines.mid(0, kListedInBox).join(u'\n');
    if (lines.size() > kListedInBox) {
        m.informative += ja("\nほか%1件（「詳細を表示」ですべて確認できます）").arg(lines.size() - kListedInBox);
        m.details = lines.join(u'\n');
    }
    return m;
}

} // namespace

BatchRun::BatchRun(JobTable *table, QPushButton *start, QProgressBar *bar, QWidget *window)
    : QObject(window)
    , m_table(table)
    , m_bar(bar)
    , m_window(window)
{
    connect(start, &QPushButton::clicked, this, &BatchRun::BtnMain_Click);
}

void BatchRun::BtnMain_Click()
{
    const JobTable &table = *m_table;
    const int rows = table.Rows();
    emit note({});

    QList<std::pair<int, JobRow>> jobs;
    for (int r = 1; r < rows; ++r)
        jobs.append({r, table.jobRow(r)});
    BatchPlan plan = planBatch(jobs);

    if (const int replacing = plan.replacing(); replacing > 0) {
        Prompts::Message q;
        q.icon = Prompts::Question;
        q.title = QStringLiteral("Kestrovia");
        q.text = ja("保存先に同じ名前のファイルが%1件あります。").arg(replacing);
        QStringList names = plan.replacedNames(3);
        if (replacing > names.size())
            names.append(ja("ほか%1件").arg(replacing - names.size()));
        q.informative = ja("%1\n\n上書き: これらのファイルを置き換えます\nスキップ: これらの画像は保存しません\n"
                           "中止: 何も保存しません")
                            .arg(names.join(ja("、")));
        const Prompts::Answer answer =
            Prompts::ask(m_window, q, {Prompts::Overwrite, Prompts::Skip, Prompts::Abort}, Prompts::Skip, Prompts::Abort);
        if (answer == Prompts::Abort)
            return;
        if (answer == Prompts::Skip)
            plan.skipReplacing();
    }

    QProgressBar *bar = m_bar;
    bar->setValue(0);
    bar->setMaximum(rows);
    bar->setVisible(true);
    BusyPointer::set();
    // The run uses surfaces of its own: the preview keeps what it shows, and so does
    // its readiness to take a new size.
    BatchPipeline pipeline;
    connect(&pipeline, &BatchPipeline::rowDone, bar, [bar] {
        bar->setValue(bar->value() + 1);
        // The run does not return to the event loop, so the bar is painted here.
        bar->repaint();
    });
    const BatchSummary summary = pipeline.run(plan);
    bar->setVisible(false);
    BusyPointer::restore();

    if (summary.problems.isEmpty()) {
        if (summary.saved > 0)
            emit note(ja("%1件を保存しました").arg(summary.saved));
        return;
    }
    emit note(ja("%1件を保存しました（%2件は保存されていません）").arg(summary.saved).arg(summary.problems.size()));
    Prompts::inform(m_window, summaryMessage(summary));
}

} // namespace kestrovia

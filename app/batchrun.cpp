#include "app/batchrun.h"

#include "app/prompts.h"
#include "batch/batchpipeline.h"
#include "batch/batchplan.h"
#include "joblist/jobtable.h"
#include "platform/busypointer.h"
#include "platform/japanese.h"

#include <QDir>
#include <QFileInfo>
#include <QUrl>

#include <QProgressBar>
#include <QPushButton>
#include <functional>

namespace kestrovia {

namespace {

// Longer lists go behind "詳細を表示" so that the box stays on the screen.
constexpr int kListedInBox = 12;

// The first lines of a list in the box, all of them behind 「詳細を表示」 when there
// are more.
void showList(Prompts::Message &m, const QStringList &lines)
{
    m.informative = lines.mid(0, kListedInBox).join(u'\n');
    if (lines.size() > kListedInBox) {
        m.informative += ja("\nほか%1件（「詳細を表示」ですべて確認できます）").arg(lines.size() - kListedInBox);
        m.details = lines.join(u'\n');
    }
}

Prompts::Message question(const QString &text)
{
    Prompts::Message q;
    q.icon = Prompts::Question;
    q.title = QStringLiteral("Kestrovia");
    q.text = text;
    return q;
}

QString problemLine(const RowOutcome &o)
{
    return ja("・%1（%2）\n　%3").arg(o.fileName, QDir::toNativeSeparators(o.path), o.reason);
}

Prompts::Message summaryMessage(const BatchSummary &summary)
{
    const SummaryWords words = summaryWords(summary);
    Prompts::Message m;
    m.icon = summary.problems.isEmpty() ? Prompts::Information : Prompts::Warning;
    m.title = QStringLiteral("Kestrovia");
    m.text = words.text;
    showList(m, words.lines);
    return m;
}

// Up to three names, then how many more.
QString listed(QStringList names, int count)
{
    if (count > names.size())
        names.append(ja("ほか%1件").arg(count - names.size()));
    return names.join(ja("、"));
}

bool askAboutSameOutputs(BatchPlan &plan, QWidget *parent)
{
    if (plan.sameOutputs.isEmpty())
        return true;
    QStringList lines;
    int later = 0;
    for (const BatchPlan::SameOutput &same : plan.sameOutputs) {
        QStringList rows;
        for (const int i : same.rows) {
            const PlannedRow &r = plan.rows[i];
            rows.append(same.sameSource ? ja("%1行目").arg(r.row) : ja("%1行目（%2）").arg(r.row).arg(r.job.fileName));
        }
        later += int(same.rows.size()) - 1;
        lines.append(ja("・「%1」: %2").arg(same.output, rows.join(ja("、")))
                     + (same.sameSource ? ja("（同じ画像）") : QString()));
    }
    Prompts::Message q = question(ja("同じファイルに保存される行があります。後の%1行は保存できません。").arg(later));
    showList(q, lines);
    q.informative += ja("\n\n後の行をスキップ: それぞれ最初の行の設定で保存し、後の行は保存しません\n"
                        "中止: 何も保存しません");
    // The later rows are planned as skipped already: the question only makes sure
    // the user knows before anything is written.
    return Prompts::ask(parent, q, {Prompts::SkipLater, Prompts::Abort}, Prompts::SkipLater, Prompts::Abort)
           == Prompts::SkipLater;
}

bool askToCreateFolders(const BatchPlan &plan, QWidget *parent)
{
    const QStringList folders = plan.missingFolders();
    if (folders.isEmpty())
        return true;
    QStringList shown;
    for (const QString &folder : folders)
        shown.append(QDir::toNativeSeparators(folder));
    Prompts::Message q = question(ja("保存先のフォルダがありません（%1件）。作成しますか？").arg(folders.size()));
    showList(q, shown);
    q.informative += ja("\n\n作成: フォルダを作成して保存します\n中止: 何も保存しません");
    return Prompts::ask(parent, q, {Prompts::Create, Prompts::Abort}, Prompts::Create, Prompts::Abort)
           == Prompts::Create;
}

bool askAboutReplacing(BatchPlan &plan, QWidget *parent)
{
    const int replacing = plan.replacing();
    if (replacing == 0)
        return true;
    Prompts::Message q = question(ja("保存先に、以前 Kestrovia で保存したファイルが%1件あります。").arg(replacing));
    q.informative = ja("%1\n\n上書き: これらのファイルを置き換えます\nスキップ: これらの画像は保存しません\n"
                       "中止: 何も保存しません")
                        .arg(listed(plan.replacedNames(3), replacing));
    // The files no answer replaces are said here too, before anything is written.
    if (const int others = plan.notOurs(); others > 0)
        q.informative += ja("\n\n次の%1件は Kestrovia で保存したままのファイルではない（元の画像や、保存後に"
                            "変更されたファイルの可能性がある）ため、どの場合も置き換えません: %2")
                             .arg(others)
                             .arg(listed(plan.notOursNames(3), others));
    const Prompts::Answer answer =
        Prompts::ask(parent, q, {Prompts::Overwrite, Prompts::Skip, Prompts::Abort}, Prompts::Skip, Prompts::Abort);
    if (answer == Prompts::Skip)
        plan.skipReplacing();
    return answer != Prompts::Abort;
}

} // namespace

SummaryWords summaryWords(const BatchSummary &summary)
{
    int failed = 0;
    for (const RowOutcome &o : summary.problems)
        failed += o.status == RowOutcome::Status::Failed;
    // Skipped rows and rows whose name another file took during the run: each line
    // says which.
    const int skipped = int(summary.problems.size()) - failed;

    SummaryWords words;
    words.text = ja("%1件を保存しました。").arg(summary.saved);
    if (failed > 0)
        words.text += ja("%1件は変換できませんでした。").arg(failed);
    if (skipped > 0)
        words.text += ja("%1件は保存しませんでした。").arg(skipped);
    if (summary.notStarted > 0)
        words.text += ja("中止したため%1件は保存されていません。").arg(summary.notStarted);
    for (const RowOutcome &o : summary.problems)
        words.lines.append(problemLine(o));
    return words;
}

bool askBeforeWriting(BatchPlan &plan, QWidget *parent)
{
    return askAboutSameOutputs(plan, parent) && askToCreateFolders(plan, parent) && askAboutReplacing(plan, parent);
}

void openSavedFolder(const QString &folder, QWidget *parent)
{
    if (!Prompts::openUrl(QUrl::fromLocalFile(folder))) {
        Prompts::Message m;
        m.icon = Prompts::Warning;
        m.title = QStringLiteral("Kestrovia");
        m.text = ja("保存先「%1」を開けませんでした。").arg(QDir::toNativeSeparators(folder));
        m.informative = ja("ファイルマネージャーが見つからない可能性があります。");
        Prompts::inform(parent, m);
    }
}

BatchRun::BatchRun(JobTable *table, QPushButton *start, QProgressBar *bar, QWidget *window)
    : QObject(window)
    , m_table(table)
    , m_start(start)
    , m_bar(bar)
    , m_window(window)
{
    connect(start, &QPushButton::clicked, this, &BatchRun::BtnMain_Click);
}

// Waits for the rows in flight, which are written: the window that would hear
// about the run's end is going too.
BatchRun::~BatchRun() { delete m_pipeline; }

void BatchRun::openFolder(const QString &folder) { openSavedFolder(folder, m_window); }

bool BatchRun::isRunning() const { return m_pipeline && m_pipeline->isRunning(); }

void BatchRun::cancel()
{
    if (!isRunning())
        return;
    m_pipeline->cancel();
    m_start->setText(ja("中止しています…"));
    m_start->setEnabled(false);
}

bool BatchRun::mayClose()
{
    if (!isRunning())
        return true;
    Prompts::Message q = question(ja("変換の途中です。中止して終了しますか？"));
    q.informative = ja("保存を終えた画像はそのまま残ります。変換中の画像とまだ始まっていない画像は保存されません。");
    const auto runEnds = [this](const std::function<void()> &dismiss) {
        return connect(this, &BatchRun::runningChanged, this, [dismiss](bool running) {
            if (!running)
                dismiss();
        });
    };
    const Prompts::Answer answer = Prompts::ask(m_window, q, {Prompts::Stop, Prompts::Continue}, Prompts::Continue,
                                                Prompts::Continue, runEnds, Prompts::Stop);
    if (!isRunning())
        return true; // over meanwhile: the window closes as asked
    if (answer != Prompts::Stop)
        return false;
    // The rows in flight finish on the workers and are written while the window
    // goes; whoever destroys the pipeline waits for them.
    m_windowClosing = true;
    cancel();
    return true;
}

void BatchRun::endRun()
{
    m_bar->setVisible(false);
    m_start->setText(m_startCaption);
    m_start->setAccessibleName(m_startName);
    m_start->setEnabled(true);
    BusyPointer::restore();
    emit runningChanged(false);
}

void BatchRun::BtnMain_Click()
{
    if (isRunning()) {
        cancel();
        return;
    }
    const JobTable &table = *m_table;
    if (table.Rows() <= 1) {
        emit note(ja("変換する画像がありません。画像をリストにドロップするか、「画像を追加…」で追加してください"), {});
        return;
    }
    emit note({}, {});

    QList<std::pair<int, JobRow>> jobs;
    for (int r = 1; r < table.Rows(); ++r)
        jobs.append({r, table.jobRow(r)});
    BatchPlan plan = planBatch(jobs);
    // Every question comes before anything is made or written: 中止 at any of them
    // leaves the disk as it was.
    if (!askBeforeWriting(plan, m_window))
        return;
    plan.createMissingFolders();

    m_bar->setRange(0, int(plan.rows.size()));
    m_bar->setValue(0);
    m_bar->setFormat(QStringLiteral("%v / %m"));
    m_bar->setTextVisible(true);
    m_bar->setVisible(true);
    m_startCaption = m_start->text();
    m_start->setText(ja("中止"));
    // While it reads 中止, the button is named by its caption.
    m_startName = m_start->accessibleName();
    m_start->setAccessibleName(QString());
    BusyPointer::set();
    emit runningChanged(true);

    delete m_pipeline;
    m_pipeline = new BatchPipeline(this);
    m_firstFolder.clear();
    connect(m_pipeline, &BatchPipeline::rowDone, this, [this](const RowOutcome &o) {
        m_bar->setValue(m_bar->value() + 1);
        if (o.status == RowOutcome::Status::Saved && m_firstFolder.isEmpty())
            m_firstFolder = QFileInfo(o.output).absolutePath();
    });
    connect(m_pipeline, &BatchPipeline::finished, this, &BatchRun::runFinished);
    m_pipeline->start(plan);
}

void BatchRun::runFinished(const BatchSummary &summary)
{
    endRun();
    if (m_windowClosing)
        return;

    if (summary.problems.isEmpty() && summary.notStarted == 0) {
        if (summary.saved > 0)
            emit note(ja("%1件を保存しました").arg(summary.saved), m_firstFolder);
        return;
    }
    emit note(ja("%1件を保存しました（%2件は保存されていません）")
                  .arg(summary.saved)
                  .arg(summary.problems.size() + summary.notStarted),
              m_firstFolder);
    QList<Prompts::Answer> buttons{Prompts::Ok};
    if (!m_firstFolder.isEmpty())
        buttons.append(Prompts::OpenFolder);
    if (Prompts::ask(m_window, summaryMessage(summary), buttons, Prompts::Ok, Prompts::Ok) == Prompts::OpenFolder)
        openFolder(m_firstFolder);
}

} // namespace kestrovia

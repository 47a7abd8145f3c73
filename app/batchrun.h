#pragma once
// BtnMain's batch run in the main window: the question before the run, the
// progress bar, the busy pointer and 「中止」 while it runs, and the summary
// afterwards. The work itself is the widget-free batch pipeline, on worker threads:
// the window keeps answering meanwhile.

#include <QObject>
#include <QString>
#include <QStringList>

class QProgressBar;
class QPushButton;
class QWidget;

namespace kestrovia {

class BatchPipeline;
class JobTable;
struct BatchPlan;
struct BatchSummary;

// A run's summary as the window words it (the command line prints the same): how
// many were saved, failed, skipped and not started, and one line per file that
// failed or was skipped, with its reason.
struct SummaryWords {
    QString text;
    QStringList lines;
};
SummaryWords summaryWords(const BatchSummary &summary);

// The questions the window asks before anything is written, each only when it
// has something to ask (Escape is 中止 everywhere): rows whose outputs are one
// file are named (後の行をスキップ: they are planned as skipped, or 中止); missing
// destination folders are named (作成 or 中止); outputs that would replace earlier
// outputs are named (上書き, スキップ: those rows become skipped, or 中止), with the
// files no answer replaces. False when the user chose 中止: nothing is made yet.
bool askBeforeWriting(BatchPlan &plan, QWidget *parent);

// Opens folder in the desktop's file manager; says so when it cannot.
void openSavedFolder(const QString &folder, QWidget *parent);

class BatchRun : public QObject {
    Q_OBJECT
public:
    // Runs table's rows when start is clicked (and cancels a run when it is clicked
    // again), showing progress on bar; questions and messages are parented to window.
    BatchRun(JobTable *table, QPushButton *start, QProgressBar *bar, QWidget *window);
    ~BatchRun() override;

    // Converts job rows 1..Rows-1 in the table's current order; with no row, says
    // so in the strip under the grid. Before anything is written: outputs that
    // are a row's source are left out; rows whose outputs are one file are named
    // (後の行をスキップ or 中止); destination folders that do not exist are named
    // (作成 or 中止) and made after the last question; when outputs would replace
    // earlier outputs one question asks 「上書き」, 「スキップ」 or 「中止」 (Escape
    // is 中止 everywhere). Files that are not unchanged earlier outputs are never
    // replaced and are named. During the run the progress bar reads "n / N" rows
    // written, the pointer is busy and BtnMain reads 「中止」. A row that fails is
    // recorded and the run goes on. Afterwards the bar is hidden and the pointer
    // restored; then a run without problems leaves 「n件を保存しました」 in the strip
    // under the grid, and otherwise one message names every file that failed or was
    // skipped with its reason, says how many were saved and how many a cancel kept
    // from starting. Nothing is written to the table.
    void BtnMain_Click();

    bool isRunning() const;
    // Opens folder in the desktop's file manager; says so when it cannot.
    void openFolder(const QString &folder);
    // Whether the window may close: yes without a run. During one, a question asks
    // 処理を中止 (the run stops; files already written stay whole, rows still being
    // converted stop at their next check point and write nothing, and no message
    // follows the window) or 続ける (the window and the run stay). A
    // run that ends while the question is open takes it away: the window closes.
    bool mayClose();
    // Stops the run: no row starts any more, rows still being converted stop at
    // their next check point, and files already written stay.
    void cancel();

signals:
    // A short note for the strip under the grid; empty: the drop hint again. After
    // a run that saved files, folder is where the first of them went (the strip
    // offers to open it); empty otherwise.
    void note(const QString &text, const QString &folder);
    // A run started (true) or ended (false): the window takes no edits meanwhile.
    void runningChanged(bool running);

private:
    void runFinished(const BatchSummary &summary);
    // Bar, button, pointer and window as they were before the run.
    void endRun();

    JobTable *m_table;
    QPushButton *m_start;
    QProgressBar *m_bar;
    QWidget *m_window;
    BatchPipeline *m_pipeline = nullptr;
    QString m_startCaption;
    QString m_startName; // BtnMain's accessible name, while a run renames it
    bool m_windowClosing = false; // the run ends after its window: nothing more to say
    QString m_firstFolder; // where the run's first saved file went
};

} // namespace kestrovia

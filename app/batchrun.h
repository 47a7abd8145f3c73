#pragma once
// BtnMain's batch run in the main window: the question before the run, the progress
// bar and the busy pointer while it runs, and the summary afterwards. The work
// itself is the widget-free batch pipeline.

#include <QObject>

class QProgressBar;
class QPushButton;
class QWidget;

namespace kestrovia {

class JobTable;

class BatchRun : public QObject {
    Q_OBJECT
public:
    // Runs table's rows when start is clicked, showing progress on bar; questions
    // and messages are parented to window.
    BatchRun(JobTable *table, QPushButton *start, QProgressBar *bar, QWidget *window);

    // Converts job rows 1..Rows-1 in the table's current order. Before anything is
    // written: outputs that are a row's source, or that another row writes already,
    // are left out; when outputs would replace other existing files one question
    // asks 「上書き」, 「スキップ」 or 「中止」 (Escape). During the run the progress bar
    // (maximum Rows) steps once per row and the pointer is busy. A row that fails is
    // recorded and the run goes on. Afterwards the bar is hidden and the pointer
    // restored; then a run without problems leaves 「n件を保存しました」 in the strip
    // under the grid, and otherwise one message names every file that failed or was
    // skipped with its reason and says how many were saved. Nothing is written to
    // the table.
    void BtnMain_Click();

signals:
    // A short note for the strip under the grid; empty: the drop hint again.
    void note(const QString &text);

private:
    JobTable *m_table;
    QProgressBar *m_bar;
    QWidget *m_window;
};

} // namespace kestrovia

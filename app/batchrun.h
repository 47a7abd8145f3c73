#pragma once
// BtnMain's batch run in the main window: the question before the run, the progress
// bar and the busy pointer while it runs, and the summary afterwards. The work
// itself is the widget-free batch pipeline.

#include <QObject>

namespace kestrovia {

class Form1;

class BatchRun : public QObject {
    Q_OBJECT
public:
    explicit BatchRun(Form1 *form);

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

private:
    Form1 *m_form;
};

} // namespace kestrovia

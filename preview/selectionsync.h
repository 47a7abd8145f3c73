#pragma once
// The selection sync: makes the settings panel and the preview window follow the
// job list's current row. It also handles the preview window's resizes, which turn
// a new client size into the current row's new output size.

#include <QObject>
#include <QTimer>

namespace kestrovia {

class Form2;
class JobPanel;
class JobTable;

class SelectionSync : public QObject {
    Q_OBJECT
public:
    // Runs on every SelChange of table and every resize of preview.
    SelectionSync(JobTable *table, Form2 *preview, JobPanel *panel, QObject *parent = nullptr);

    // One run on the current row: loads its picture from disk, records its size on
    // the first showing, draws the quick or complete preview at the row's output
    // size, sets the panel from the row and finally sets PreviewReady. Any failure
    // ends the run silently at that step. A call made while a run is in progress (a
    // panel handler raised by the run itself) returns at once: the running sync
    // already draws the same row with the same settings.
    void PicsGalary_SelChange();

    // The preview window's resize handling: a size the user chose becomes the
    // current row's ColNewSize (in device pixels) at once, and the sync runs once
    // the size has rested for kResizeRestMs.
    void Form2_Resize();
    static constexpr int kResizeRestMs = 100;

    // Number of completed or failed runs, for tests and diagnostics.
    int runCount() const { return m_runs; }

signals:
    // Emitted at the end of every run that was not absorbed by a running one.
    void ran();

private:
    void run();

    JobTable *m_table;
    Form2 *m_preview;
    JobPanel *m_panel;
    QTimer m_resizeRest;
    bool m_running = false;
    int m_runs = 0;
};

} // namespace kestrovia

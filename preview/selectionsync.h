#pragma once
// The selection sync: makes the settings panel and the preview window follow
// the job list's current row. It also handles the preview window's resizes,
// which turn a new client size into the current row's new output size.

#include <QObject>

namespace kestrovia {

class Form1;

class SelectionSync : public QObject {
    Q_OBJECT
public:
    explicit SelectionSync(Form1 *form);

    // One run on the current row: loads its picture from disk, records its size
    // on the first showing, draws the quick or complete preview at the row's
    // output size, sets the panel from the row and finally sets PreviewReady.
    // Any failure ends the run silently at that step. A call made while a run is
    // in progress (a panel handler raised by the run itself) returns at once: the
    // running sync already draws the same row with the same settings.
    void PicsGalary_SelChange();

    // Number of completed or failed runs, for tests and diagnostics.
    int runCount() const { return m_runs; }

    // The preview window's resize handling.
    void Form2_Resize();

signals:
    // Emitted at the end of every run that was not absorbed by a running one.
    void ran();

private:
    void run();

    Form1 *m_form;
    bool m_running = false;
    int m_runs = 0;
};

} // namespace kestrovia

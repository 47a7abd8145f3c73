#pragma once
// The main window: the job list, the settings panel, the convert button and the
// progress bar. It owns the job table and the preview window and wires the parts
// together; its controls stay private and carry their names as objectName, by
// which tests find them.

#include <QPoint>
#include <QWidget>

#include <optional>

class QLabel;
class QProgressBar;
class QPushButton;

namespace kestrovia {

class BatchRun;
class Form2;
class JobListView;
class JobTable;
class RowCommands;
class SelectionSync;
class SettingsPanel;

class Form1 : public QWidget {
    Q_OBJECT
public:
    explicit Form1(QWidget *parent = nullptr);
    ~Form1() override;

    JobTable *table() const { return m_table; }
    // The preview window; created hidden with the main window.
    Form2 *form2() const { return m_form2; }
    SelectionSync *selectionSync() const { return m_sync; }

    // Queues files as a drop of them on the job list does: one row per picture file,
    // with the settings panel's values; files of other types are named in a note in
    // the strip under the grid. Returns the rows appended.
    int appendFiles(const QStringList &paths);

    // A short note in the strip under the grid (「20件を保存しました」), shown until
    // the next drop or run; an empty note brings back the drop hint.
    void setStripNote(const QString &note);

protected:
    void showEvent(QShowEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void setupJobTable();
    void placeForm2();
    void placeForm2Frame();
    void Form_Resize();
    // Writes text into the current job row (nothing while none is current) and,
    // when redraw, runs the selection sync.
    void writeCurrentRow(int column, const QString &text, bool redraw);
    // "…": the folder chooser at the current row's folder; its choice (or, after a
    // cancel, the folder chosen before) becomes the row's folder.
    void chooseSaveFolder();
    // A batch started or ended: the grid, the panel and the preview's size take no
    // edits while it runs.
    void setRunning(bool running);

    JobTable *m_table;
    JobListView *m_grid;
    SettingsPanel *m_panel;
    QLabel *m_hint;
    QProgressBar *m_bar;
    QPushButton *m_start;
    Form2 *m_form2;
    SelectionSync *m_sync;
    RowCommands *m_rowCommands;
    BatchRun *m_batch;
    bool m_form2Placed = false;
    std::optional<QPoint> m_form2Target; // the preview's frame position, until reached
};

} // namespace kestrovia

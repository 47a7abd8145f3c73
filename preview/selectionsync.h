#pragma once
// The selection sync: makes the preview window follow the job list's current row,
// and turns a size the user gives the preview window into that row's size. The
// window's thread only reads the row and hands a copy of it to the renderer; the
// pixels are drawn when they come back.

#include <QObject>
#include <QTimer>

class QImage;

namespace kestrovia {

class Form2;
class JobPanel;
class JobTable;
class PreviewRenderer;

class SelectionSync : public QObject {
    Q_OBJECT
public:
    // Runs on every SelChange of table and every resize of preview.
    SelectionSync(JobTable *table, Form2 *preview, JobPanel *panel, QObject *parent = nullptr);
    ~SelectionSync() override;

    // Shows the current row. At once, on the row's first showing: its picture's size
    // from the file's header into ColOriginalSize, and the new size its rule gives
    // (the picture's own when it has none and ColNewSize is empty). The renderer
    // then makes the picture as it will be written, which is drawn, and the window
    // fitted to it, when it comes: a JPEG's first look, then the exact picture. A
    // row whose picture cannot be shown says why in the preview area. Nothing else
    // is ever written to the row.
    void PicsGalary_SelChange();

    // The preview window's resize handling: a size the user chose becomes the
    // current row's exact size (its rule; in device pixels) at once, also while its picture is
    // being made, and the row is shown again once the size has rested for
    // kResizeRestMs.
    void Form2_Resize();
    static constexpr int kResizeRestMs = 50;

    // While locked (a batch runs), resizing the preview sets no size, and a picture
    // still in the making is put off until the lock is lifted.
    void setLocked(bool locked);

    // A picture of the current row is being made, or a dragged size waits for one.
    bool isBusy() const;
    // A resize by the user now sets the current row's size: the preview shows, or
    // is making, that row's picture at its size.
    bool followsResize() const { return m_ready; }

    PreviewRenderer *renderer() const { return m_renderer; }
    // Number of showings started, for tests and diagnostics.
    int runCount() const { return m_runs; }

signals:
    // A showing was started (the panel shows the row, its picture is on its way).
    void ran();
    // The current row's first look (exact false) or exact picture was drawn.
    void pictureShown(bool exact);
    // The current row's exact picture, or why there is none, is shown.
    void settled();
    void busyChanged(bool busy);

private:
    void run();
    void showFirstLook(quint64 id, const QImage &canvas);
    void showPicture(quint64 id, const QImage &canvas);
    void showFailure(quint64 id, const QString &reason);
    void draw(const QImage &canvas);
    void showReason(const QString &reason);
    void updateBusy();

    JobTable *m_table;
    Form2 *m_preview;
    JobPanel *m_panel;
    PreviewRenderer *m_renderer;
    QTimer m_resizeRest;
    quint64 m_request = 0; // the renderer's request for the current row, until done
    bool m_ready = false;
    bool m_locked = false;
    bool m_showWhenUnlocked = false;
    bool m_busy = false;
    int m_runs = 0;
};

} // namespace kestrovia

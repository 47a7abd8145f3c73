#include "preview/selectionsync.h"

#include "compose/jobcompose.h"
#include "joblist/jobcolumns.h"
#include "joblist/jobtable.h"
#include "platform/busypointer.h"
#include "platform/failure.h"
#include "platform/numbers.h"
#include "platform/units.h"
#include "preview/form2.h"
#include "preview/jobpanel.h"
#include "preview/surface.h"

#include <cmath>
#include <exception>

namespace kestrovia {

namespace {

// Scroll value for a stored level: ten times its whole part (5.5 gives 50).
int levelScrollValue(const QString &text)
{
    const auto level = parseDecimal(text);
    if (!level)
        throw Failure(QString::fromUtf8("圧縮レベル「%1」が数値ではありません").arg(text));
    const double value = std::trunc(*level) * 10;
    if (std::abs(value) > 32767)
        throw Failure(QString::fromUtf8("圧縮レベル「%1」が大きすぎます").arg(text));
    return int(value);
}

} // namespace

SelectionSync::SelectionSync(JobTable *table, Form2 *preview, JobPanel *panel, QObject *parent)
    : QObject(parent)
    , m_table(table)
    , m_preview(preview)
    , m_panel(panel)
{
    connect(table, &JobTable::SelChange, this, &SelectionSync::PicsGalary_SelChange);
    connect(preview, &Form2::resized, this, &SelectionSync::Form2_Resize);
    m_resizeRest.setSingleShot(true);
    m_resizeRest.setInterval(kResizeRestMs);
    connect(&m_resizeRest, &QTimer::timeout, this, &SelectionSync::PicsGalary_SelChange);
}

void SelectionSync::PicsGalary_SelChange()
{
    if (m_running)
        return;
    m_resizeRest.stop(); // this run already draws the size a resize left
    m_running = true;
    // Decoding a large picture takes a moment: show that the program works.
    const bool wasBusy = BusyPointer::isBusy();
    BusyPointer::set();
    try {
        run();
    } catch (const std::exception &) {
        // Every failure ends the run silently where it happened; what the earlier
        // steps changed stays, and the user sees the empty or partial preview.
    }
    if (!wasBusy)
        BusyPointer::restore();
    m_running = false;
    ++m_runs;
    emit ran();
}

void SelectionSync::run()
{
    JobTable &t = *m_table;
    Form2 &p = *m_preview;
    Surface &preview = *p.PicPreview();

    // Emptied first, so that a run that fails later leaves an empty preview.
    preview.setPicture(QImage());

    const int r = t.Row();
    if (r < 1 || r >= t.Rows())
        return;
    JobRow job = t.jobRow(r);
    const bool firstShowing = job.originalSize.isEmpty();
    // A size the user set or copied to every row is never replaced by a click:
    // only a row without one shows its picture as it is, decoded in full.
    const bool unscaled = firstShowing && job.newSize.isEmpty();
    const bool complete = m_panel->completePreview();
    const DecodedPicture picture = loadJobSource(job, complete);
    p.PreviewReady = false;

    if (firstShowing) {
        const QString size = sizeText(picture.size);
        t.setTextMatrix(r, ColOriginalSize, size);
        if (unscaled)
            t.setTextMatrix(r, ColNewSize, size);
    }
    if (unscaled) {
        // The picture as it is: no turn, fit, position or background.
        preview.setGeometry(0, 0, int(pixelsToTwips(picture.size.width())), int(pixelsToTwips(picture.size.height())));
        preview.setPicture(picture.image, picture.extent);
    } else {
        // A size that is not a number fails here, before the panel is touched.
        job.canvasSize();
        m_panel->showPictureSettings(job);
        // The batch's own composition; the quick preview leaves out only the turn.
        const QImage canvas = composeJob(t.jobRow(r), picture, complete);
        preview.setGeometry(0, 0, int(pixelsToTwips(canvas.width())), int(pixelsToTwips(canvas.height())));
        preview.setPicture(canvas);
    }
    p.fitToPreviewArea();

    const JobRow now = t.jobRow(r);
    m_panel->showColorAndLevel(now.backColorValue(), levelScrollValue(now.compression));
    m_panel->showSize(preview.pixelSize());
    p.PreviewReady = true;
}

void SelectionSync::Form2_Resize()
{
    Form2 &p = *m_preview;
    // The window answering the sync's own fit to the preview area brings no new
    // size; only a size the user chose becomes the row's output size.
    if (!p.PreviewReady || p.showsFittedSize())
        return;
    const QSize client = p.clientPixelSize();
    p.PicPreview()->resize(int(pixelsToTwips(client.width())), int(pixelsToTwips(client.height())));
    m_panel->showSize(client);
    const int r = m_table->Row();
    if (r >= 1 && r < m_table->Rows())
        m_table->setTextMatrix(r, ColNewSize, sizeText(client));
    // Dragging the border resizes many times a second, and decoding and composing a
    // large photo for every step would hold the window at each one. The surface
    // keeps its drawing meanwhile; the picture is drawn again once the border rests.
    m_resizeRest.start();
}

} // namespace kestrovia

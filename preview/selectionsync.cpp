#include "preview/selectionsync.h"

#include "compose/pictureprobe.h"
#include "joblist/jobcolumns.h"
#include "joblist/jobtable.h"
#include "platform/failure.h"
#include "platform/japanese.h"
#include "platform/units.h"
#include "preview/form2.h"
#include "preview/jobpanel.h"
#include "preview/previewrenderer.h"
#include "preview/surface.h"
#include "preview/surfaceview.h"

#include <QFontMetrics>

#include <algorithm>
#include <cmath>

namespace kestrovia {

namespace {

void placePreviewArea(Surface &area, QSize pixels)
{
    area.setGeometry(0, 0, int(pixelsToTwips(pixels.width())), int(pixelsToTwips(pixels.height())));
}

} // namespace

SelectionSync::SelectionSync(JobTable *table, Form2 *preview, JobPanel *panel, QObject *parent)
    : QObject(parent)
    , m_table(table)
    , m_preview(preview)
    , m_panel(panel)
    , m_renderer(new PreviewRenderer(this))
{
    connect(table, &JobTable::SelChange, this, &SelectionSync::PicsGalary_SelChange);
    connect(preview, &Form2::resized, this, &SelectionSync::Form2_Resize);
    m_resizeRest.setSingleShot(true);
    m_resizeRest.setInterval(kResizeRestMs);
    connect(&m_resizeRest, &QTimer::timeout, this, &SelectionSync::PicsGalary_SelChange);
    connect(m_renderer, &PreviewRenderer::firstLook, this, &SelectionSync::showFirstLook);
    connect(m_renderer, &PreviewRenderer::picture, this, &SelectionSync::showPicture);
    connect(m_renderer, &PreviewRenderer::failed, this, &SelectionSync::showFailure);
}

SelectionSync::~SelectionSync() = default;

void SelectionSync::PicsGalary_SelChange()
{
    m_resizeRest.stop(); // this showing draws the size a resize left
    if (m_locked) {
        m_showWhenUnlocked = true;
        return;
    }
    ++m_runs;
    run();
    updateBusy();
    emit ran();
}

void SelectionSync::run()
{
    const int r = m_table->Row();
    m_request = 0;
    if (!m_table->isJobRow(r)) {
        m_renderer->cancel();
        m_ready = false;
        m_preview->PicPreview()->setPicture(QImage());
        return;
    }
    try {
        // The size a row is first shown at comes from the file's header, at once;
        // the pixels take longer. A size the user set, or copied to every row,
        // before the row was ever shown stays.
        if (const JobRow row = m_table->jobRow(r); row.originalSize.isEmpty() || row.newSize.isEmpty())
            m_table->setPictureSize(r, probePicture(row.path).size);
        // The row read once: a text that is no number fails here with the batch's
        // reason.
        PreviewRequest request;
        request.job = readJob(m_table->jobRow(r));
        request.complete = m_panel->completePreview();
        m_ready = true;
        m_request = m_renderer->request(request);
    } catch (const Failure &f) {
        m_renderer->cancel();
        m_ready = false;
        showReason(f.message());
    }
}

void SelectionSync::showFirstLook(quint64 id, const QImage &canvas)
{
    if (id != m_request)
        return;
    draw(canvas);
    emit pictureShown(false);
}

void SelectionSync::showPicture(quint64 id, const QImage &canvas)
{
    if (id != m_request)
        return;
    m_request = 0;
    draw(canvas);
    updateBusy();
    emit pictureShown(true);
    emit settled();
}

void SelectionSync::showFailure(quint64 id, const QString &reason)
{
    if (id != m_request)
        return;
    m_request = 0;
    m_ready = false;
    showReason(reason);
    updateBusy();
    emit settled();
}

void SelectionSync::draw(const QImage &canvas)
{
    Surface &area = *m_preview->PicPreview();
    placePreviewArea(area, canvas.size());
    area.setPicture(canvas);
    m_preview->fitToPreviewArea();
}

void SelectionSync::showReason(const QString &reason)
{
    // A window of its own size for the text, whatever the size of the picture
    // shown before: a line's width, as many lines as the reason takes.
    const QString text = ja("この画像は表示できません。\n\n%1").arg(reason);
    const QFontMetrics metrics(m_preview->picPreviewView()->font());
    const int margin = metrics.height() / 2;
    const int width = std::max(360, metrics.horizontalAdvance(ja("この画像は表示できません。")) + 2 * margin);
    const QRect lines = metrics.boundingRect(QRect(0, 0, width - 2 * margin, 10000), Qt::TextWordWrap, text);
    const QSize room =
        (QSizeF(width, std::max(120, lines.height() + 2 * margin)) * m_preview->devicePixelRatioF()).toSize();
    Surface &area = *m_preview->PicPreview();
    placePreviewArea(area, room);
    area.setMessage(text);
    m_preview->fitToPreviewArea();
}

void SelectionSync::Form2_Resize()
{
    Form2 &p = *m_preview;
    // The window answering the sync's own fit to the preview area brings no new
    // size; only a size the user chose becomes the row's output size.
    if (!m_ready || m_locked || p.showsFittedSize())
        return;
    const QSize client = p.clientPixelSize();
    p.PicPreview()->resize(int(pixelsToTwips(client.width())), int(pixelsToTwips(client.height())));
    // The size the user gives the row shown: its rule becomes that exact size
    // (still never enlarging when the row shrinks only).
    RowSettings size;
    size.size.mode = SizeRule::Exact;
    size.size.exact = client;
    m_table->setRowField(m_table->Row(), RowField::Size, size);
    // A picture in the making is for the size before: drawn now, it would pull the
    // window back while the border is being dragged. Composing for every step would
    // only be overtaken by the next one; the surface keeps its drawing meanwhile,
    // and the row is drawn again once the border rests.
    m_renderer->cancel();
    m_request = 0;
    m_resizeRest.start();
    updateBusy();
}

void SelectionSync::setLocked(bool locked)
{
    if (locked == m_locked)
        return;
    m_locked = locked;
    if (locked && (m_request != 0 || m_resizeRest.isActive())) {
        // A batch takes every core; the preview's picture waits for it.
        m_renderer->cancel();
        m_request = 0;
        m_resizeRest.stop();
        m_showWhenUnlocked = true;
    }
    if (!locked && m_showWhenUnlocked) {
        m_showWhenUnlocked = false;
        PicsGalary_SelChange();
    }
    updateBusy();
}

bool SelectionSync::isBusy() const { return m_request != 0 || m_resizeRest.isActive(); }

void SelectionSync::updateBusy()
{
    const bool busy = isBusy();
    if (busy == m_busy)
        return;
    m_busy = busy;
    // The preview's own pointer, not the application's: the window takes every
    // input meanwhile.
    if (busy)
        m_preview->setCursor(Qt::BusyCursor);
    else
        m_preview->unsetCursor();
    emit busyChanged(busy);
}

} // namespace kestrovia

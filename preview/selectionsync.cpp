#include "preview/selectionsync.h"

#include "app/colorswatch.h"
#include "app/form1.h"
#include "compose/jobcompose.h"
#include "compose/surface.h"
#include "joblist/jobcolumns.h"
#include "joblist/jobtable.h"
#include "platform/busypointer.h"
#include "platform/failure.h"
#include "platform/numbers.h"
#include "preview/form2.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QRadioButton>
#include <QScrollBar>
#include <cmath>
#include <exception>

namespace kestrovia {

namespace {

QString tr(const char *text) { return QString::fromUtf8(text); }

// RollValue's list item for a rotation text; -1 for a text outside the list,
// which leaves the box as it is.
int rotationItem(const QString &text)
{
    if (text == u"+90°")
        return 0;
    if (text == u"-90°")
        return 1;
    if (text == u"+180°")
        return 2;
    if (text == u" " || text.isEmpty())
        return 3;
    return -1;
}

// Scroll value for a stored level: ten times its whole part (5.5 gives 50).
int levelScrollValue(const QString &text)
{
    const auto level = parseDecimal(text);
    if (!level)
        throw Failure(tr("圧縮レベル「%1」が数値ではありません").arg(text));
    const double value = std::trunc(*level) * 10;
    if (std::abs(value) > 32767)
        throw Failure(tr("圧縮レベル「%1」が大きすぎます").arg(text));
    return int(value);
}

} // namespace

SelectionSync::SelectionSync(Form1 *form)
    : QObject(form)
    , m_form(form)
{
    connect(form->table(), &JobTable::SelChange, this, &SelectionSync::PicsGalary_SelChange);
    form->form2()->onResize = [this] { Form2_Resize(); };
}

void SelectionSync::PicsGalary_SelChange()
{
    if (m_running)
        return;
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
    Form1 &f = *m_form;
    Form2 &p = *f.form2();
    JobTable &t = *f.table();
    const TwipsPerPixel tpp = f.twipsPerPixel();
    Surface &preview = *p.PicPreview();
    Surface &source = *p.PicNormal();

    // Emptied first, so that a run that fails later leaves an empty preview.
    p.CompletePicture()->empty();
    preview.empty();
    source.empty();

    const int r = t.Row();
    if (r < 1 || r >= t.Rows())
        return;
    JobSettings job = t.jobRow(r).settings();
    const bool firstShowing = t.TextMatrix(r, ColOriginalSize).isEmpty();
    // A size the user set or copied to every row is never replaced by a click:
    // only a row without one shows its picture as it is.
    const bool unscaled = firstShowing && job.newSize.isEmpty();
    const bool complete = f.PreCheck->isChecked();

    JobSurfaces surfaces{source, *p.SupportPicture(), *p.CompletePicture()};
    loadJobSource(surfaces, job, tpp, complete);
    p.PreviewReady = false;

    if (firstShowing) {
        const QSize size(twipsToPixels(source.width(), tpp.x), twipsToPixels(source.height(), tpp.y));
        const QString text = QString::number(size.width()) + u'*' + QString::number(size.height());
        t.setTextMatrix(r, ColOriginalSize, text);
        if (unscaled)
            t.setTextMatrix(r, ColNewSize, text);
    }
    if (unscaled) {
        // The picture as it is: no turn, fit, position or background.
        preview.removePicture();
        preview.setScaleMode(ScaleMode::Twips);
        preview.setGeometry(0, 0, source.width(), source.height());
        // The source holder was decoded in full above: share its pixels rather
        // than decode the same file a second time.
        preview.setBackingImage(source.image());
        p.fitToPreviewArea();
    } else {
        // A size that is not a number fails here, before the panel is touched.
        canvasPixelSize(job.newSize);

        const int item = rotationItem(job.rotation);
        if (item >= 0)
            f.RollValue->setCurrentIndex(item);
        // Selecting an option button raises its click handling, which writes the
        // same setting back; its request for a sync is absorbed by this run.
        f.AspCheck[job.fit == u"OFF" ? 0 : 1]->setChecked(true);
        if (job.position == u"Top")
            f.PicPos[0]->setChecked(true);
        else if (job.position == u"Center")
            f.PicPos[1]->setChecked(true);

        // The same composition as the batch run's, into the visible preview area;
        // the quick preview leaves out only the turn.
        composeJob(surfaces, job, tpp, preview, complete);
        p.fitToPreviewArea();
    }

    const auto color = textToInt32(t.TextMatrix(r, ColBackColor));
    if (!color)
        throw Failure(tr("背景色が数値ではありません"));
    f.PicBack->setColorValue(*color);
    f.CompressLevel->setValue(levelScrollValue(t.TextMatrix(r, ColCompression)));
    f.TxtWidth->setText(QString::number(twipsToPixels(preview.scaleWidth(), tpp.x)));
    f.TxtHeight->setText(QString::number(twipsToPixels(preview.scaleHeight(), tpp.y)));
    p.PreviewReady = true;
}

void SelectionSync::Form2_Resize()
{
    Form1 &f = *m_form;
    Form2 &p = *f.form2();
    if (!p.PreviewReady)
        return;
    // The window answering the sync's own fit to the preview area brings no new
    // size; only a size the user chose becomes the row's output size.
    if (p.showsFittedSize())
        return;
    Surface &preview = *p.PicPreview();
    const TwipsPerPixel tpp = f.twipsPerPixel();
    const QSize client = p.clientPixelSize();
    preview.resize(client.width() * tpp.x, client.height() * tpp.y);
    const int pw = twipsToPixels(preview.width(), tpp.x);
    const int ph = twipsToPixels(preview.height(), tpp.y);
    f.TxtWidth->setText(QString::number(pw));
    f.TxtHeight->setText(QString::number(ph));
    JobTable &t = *f.table();
    const int r = t.Row();
    if (r >= 1 && r < t.Rows())
        t.setTextMatrix(r, ColNewSize, QString::number(pw) + u'*' + QString::number(ph));
    PicsGalary_SelChange();
}

} // namespace kestrovia

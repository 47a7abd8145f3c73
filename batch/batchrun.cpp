#include "batch/batchrun.h"

#include "app/form1.h"
#include "app/jobrow.h"
#include "export/export.h"
#include "export/privatetemp.h"
#include "export/outputname.h"
#include "compose/jobcompose.h"
#include "joblist/jobcolumns.h"
#include "joblist/jobtable.h"
#include "platform/busypointer.h"
#include "platform/failure.h"
#include "platform/numbers.h"
#include "preview/form2.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>

#include <exception>
#include <new>
#include <optional>

namespace kestrovia {

namespace {

// User-visible texts are written in UTF-8 in the source.
QString ja(const char *text) { return QString::fromUtf8(text); }

// Output is never written anywhere the user did not choose, and a folder that
// cannot take the file is reported before minutes go into composing a large picture.
void checkDestination(const QString &saveFolder, const QString &fileName)
{
    if (saveFolder.trimmed().isEmpty())
        throw Failure(ja("保存先フォルダが指定されていません"));
    // The folder that really receives the file: the text is joined to the output
    // name without a separator.
    const QFileInfo folder(QFileInfo(outputPath(saveFolder, fileName)).absolutePath());
    if (!folder.isDir())
        throw Failure(ja("保存先フォルダ「%1」がありません").arg(QDir::toNativeSeparators(saveFolder)));
    if (!folder.isWritable())
        throw Failure(ja("保存先フォルダ「%1」に書き込む権限がありません").arg(QDir::toNativeSeparators(saveFolder)));
}

} // namespace

BatchRun::MessageBoxSeam BatchRun::showWarning = [](QWidget *parent, const QString &title, const QString &text) {
    QMessageBox::warning(parent, title, text);
};

BatchRun::BatchRun(Form1 *form)
    : QObject(form)
    , m_form(form)
{
    connect(form->BtnMain, &QPushButton::clicked, this, &BatchRun::BtnMain_Click);
}

void BatchRun::convertRow(int row)
{
    const JobTable &table = *m_form->table();
    Form2 &form2 = *m_form->form2();
    const TwipsPerPixel tpp = m_form->twipsPerPixel();

    // Every cell is read and converted before anything is drawn, so that a text
    // that is not a number fails the row at once.
    const QString fileName = table.TextMatrix(row, ColFileName);
    const QString saveFolder = table.TextMatrix(row, ColSaveFolder);
    const JobSettings job = jobSettingsAt(table, row);
    if (!textToInt32(job.backColor))
        throw Failure(ja("背景色「%1」が数値ではありません").arg(job.backColor));
    const std::int16_t level = compressionLevel(table.TextMatrix(row, ColCompression));
    checkDestination(saveFolder, fileName);

    JobSurfaces surfaces{*form2.PicNormal(), *form2.SupportPicture(), *form2.CompletePicture()};
    loadJobSource(surfaces, job, tpp, true);
    form2.PreviewReady = false;
    composeJob(surfaces, job, tpp, *form2.CompletePicture(), true);
    // The turn restores the pointer when it ends; the run is still busy.
    BusyPointer::set();
    exportJob(*form2.CompletePicture(), fileName, saveFolder, level);
    form2.PreviewReady = true;
}

void BatchRun::BtnMain_Click()
{
    QProgressBar *bar = m_form->ProgressBar1;
    const JobTable &table = *m_form->table();
    const int rows = table.Rows();
    bar->setValue(0);
    bar->setMaximum(rows);
    bar->setVisible(true);
    BusyPointer::set();

    int failedRow = 0;
    std::optional<QString> reason;
    for (int r = 1; r < rows; ++r) {
        try {
            convertRow(r);
        } catch (const Failure &f) {
            reason = f.message();
        } catch (const std::bad_alloc &) {
            reason = ja("メモリが足りません。画像または新しいサイズが大きすぎる可能性があります");
        } catch (const std::exception &e) {
            reason = ja("予期しないエラーが発生しました（%1）").arg(QString::fromLocal8Bit(e.what()));
        } catch (...) {
            reason = ja("予期しないエラーが発生しました");
        }
        if (reason) {
            failedRow = r;
            break;
        }
        bar->setValue(bar->value() + 1);
        // The run does not return to the event loop, so the bar is painted here.
        bar->repaint();
    }

    // The export removes its bitmap on every path; this also covers a failure
    // that happened between writing and converting it.
    QFile::remove(temporaryBitmapPath());
    bar->setVisible(false);
    BusyPointer::restore();

    if (failedRow > 0) {
        const int done = failedRow - 1;
        const int after = rows - 1 - failedRow;
        QString outcome = done > 0 ? ja("これより前の%1件は保存済みです。").arg(done) : QString();
        outcome += after > 0 ? ja("この画像と、これより後の%1件は変換されていません。").arg(after)
                             : ja("この画像は変換されていません。");
        const QString text = ja("「%1」を変換できませんでした。\n%2\n\n理由: %3\n\n%4")
                                 .arg(table.TextMatrix(failedRow, ColFileName),
                                      QDir::toNativeSeparators(table.TextMatrix(failedRow, ColPath)), *reason,
                                      outcome);
        showWarning(m_form, QStringLiteral("Kestrovia"), text);
    }
}

} // namespace kestrovia

#include "app/colorswatch.h"
#include "app/form1.h"
#include "compose/surface.h"
#include "joblist/jobcolumns.h"
#include "joblist/joblistview.h"
#include "joblist/jobtable.h"
#include "platform/syscolor.h"
#include "preview/form2.h"
#include "preview/selectionsync.h"
#include "preview/surfaceview.h"

#include <QCheckBox>
#include <QComboBox>
#include <QImage>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QRadioButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace kestrovia;

namespace {

constexpr TwipsPerPixel kTpp{15, 15};
const QColor kRed(255, 0, 0);
const QColor kGreen(0, 255, 0);
const QColor kBlue(0, 0, 255);
constexpr int kBlueValue = 0xFF0000; // 0x00BBGGRR

// A 640 x 480 BMP whose left half is red and right half green, so that both a
// fit and a turn can be seen in single pixels.
QString writePicture(const QTemporaryDir &dir, const QString &name)
{
    QImage img(640, 480, QImage::Format_RGB32);
    img.fill(kRed);
    for (int y = 0; y < 480; ++y)
        for (int x = 320; x < 640; ++x)
            img.setPixelColor(x, y, kGreen);
    const QString path = dir.filePath(name);
    if (!img.save(path, "BMP"))
        qFatal("cannot write test picture");
    return path;
}

void appendJob(JobTable &t, const QString &path, const QString &newSize = {}, const QString &fit = "OFF",
               const QString &position = "Top", const QString &rotation = {})
{
    t.setRows(t.Rows() + 1);
    const int r = t.Rows() - 1;
    const QFileInfo fi(path);
    const QStringList cells{fi.fileName(), newSize.isEmpty() ? QString() : QStringLiteral("640*480"),
                            path, "→", newSize, fit, QString::number(kBlueValue), position, rotation,
                            "", "", fi.absolutePath() + '/', "5"};
    for (int c = 0; c < cells.size(); ++c)
        t.setTextMatrix(r, c, cells[c]);
}

bool near(const QColor &a, const QColor &b)
{
    return std::abs(a.red() - b.red()) < 40 && std::abs(a.green() - b.green()) < 40
        && std::abs(a.blue() - b.blue()) < 40;
}

QColor at(Form1 &f, int x, int y) { return f.form2()->PicPreview()->image().pixelColor(x, y); }

} // namespace

class TestSelectionSync : public QObject {
    Q_OBJECT
private:
    QTemporaryDir m_dir;
    QString m_picture;

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        m_picture = writePicture(m_dir, QStringLiteral("写真 1.bmp"));
    }

    void firstShowing()
    {
        Form1 f(kTpp);
        JobTable &t = *f.table();
        appendJob(t, m_picture);
        // Panel state that a first showing must leave alone.
        f.AspCheck[1]->setChecked(true);
        f.PicPos[1]->setChecked(true);
        f.RollValue->setCurrentIndex(0);
        t.setTextMatrix(1, ColFit, "OFF"); // the panel handlers may have written the row

        t.setRow(1);
        QCOMPARE(t.TextMatrix(1, ColOriginalSize), QStringLiteral("640*480"));
        QCOMPARE(t.TextMatrix(1, ColNewSize), QStringLiteral("640*480"));
        Surface &area = *f.form2()->PicPreview();
        QCOMPARE(area.pixelSize(), QSize(640, 480));
        QCOMPARE(f.form2()->size(), QSize(640, 480));
        QCOMPARE(at(f, 100, 100), kRed);
        QCOMPARE(at(f, 500, 100), kGreen);
        QVERIFY(f.AspCheck[1]->isChecked());
        QVERIFY(f.PicPos[1]->isChecked());
        QCOMPARE(f.RollValue->currentText(), QStringLiteral("+90°"));
        QCOMPARE(f.TxtWidth->text(), QStringLiteral("640"));
        QCOMPARE(f.TxtHeight->text(), QStringLiteral("480"));
        QCOMPARE(f.PicBack->colorValue(), kBlueValue);
        QCOMPARE(f.CompressLevel->value(), 50);
        QVERIFY(f.form2()->PreviewReady);
    }

    // A size copied to every row (or typed) before the row was ever shown survives
    // the click that shows it: the preview shows the job at that size.
    void firstShowingKeepsASizeSetBefore()
    {
        Form1 f(kTpp);
        JobTable &t = *f.table();
        appendJob(t, m_picture, "200*100", "ON");
        t.setTextMatrix(1, ColOriginalSize, QString());
        t.setRow(1);
        QCOMPARE(t.TextMatrix(1, ColOriginalSize), QStringLiteral("640*480"));
        QCOMPARE(t.TextMatrix(1, ColNewSize), QStringLiteral("200*100"));
        QCOMPARE(f.form2()->PicPreview()->pixelSize(), QSize(200, 100));
        QCOMPARE(f.TxtWidth->text(), QStringLiteral("200"));
    }

    // One output pixel per device pixel, whatever the scale factor (this test also
    // runs with QT_SCALE_FACTOR 2 and 1.25), and a resize by N device pixels
    // writes N.
    void previewIsOneDevicePixelPerPixel()
    {
        Form1 f(kTpp);
        JobTable &t = *f.table();
        appendJob(t, m_picture, "400*300", "ON");
        Form2 &p = *f.form2();
        p.show();
        QVERIFY(QTest::qWaitForWindowExposed(&p));
        t.setRow(1);
        const double ratio = p.devicePixelRatioF();
        QCOMPARE(p.clientPixelSize(), QSize(400, 300));
        const QImage shown = p.picPreviewView()->grab().toImage();
        QCOMPARE(shown.size(), QSize(400, 300));
        QVERIFY(near(shown.pixelColor(2, 150), kRed));
        QVERIFY(near(shown.pixelColor(397, 150), kGreen));

        const int step = 8; // logical units: whole device pixels at 1, 1.25 and 2
        p.resize(p.width() + step, p.height());
        const int widened = 400 + qRound(step * ratio);
        QCOMPARE(t.TextMatrix(1, ColNewSize), QStringLiteral("%1*300").arg(widened));
        QCOMPARE(f.TxtWidth->text(), QString::number(widened));
        QCOMPARE(p.clientPixelSize(), QSize(widened, 300));
    }

    void laterShowing_data()
    {
        QTest::addColumn<QString>("fit");
        QTest::addColumn<QString>("position");
        QTest::addColumn<QString>("rotation");
        QTest::addColumn<bool>("complete");
        QTest::addColumn<QPoint>("probe");
        QTest::addColumn<QColor>("expected");
        // 640 x 480 into 200 x 100: fitted 133 x 100, centred at x = 33.
        QTest::newRow("centre: left band") << "OFF" << "Center" << "" << false << QPoint(10, 50) << kBlue;
        QTest::newRow("centre: right band") << "OFF" << "Center" << "" << false << QPoint(190, 50) << kBlue;
        QTest::newRow("centre: picture") << "OFF" << "Center" << "" << false << QPoint(60, 50) << kRed;
        QTest::newRow("top: picture at left") << "OFF" << "Top" << "" << false << QPoint(5, 50) << kRed;
        QTest::newRow("top: band at right") << "OFF" << "Top" << "" << false << QPoint(160, 50) << kBlue;
        QTest::newRow("stretch covers") << "ON" << "Center" << "" << false << QPoint(2, 50) << kRed;
        QTest::newRow("stretch right half") << "ON" << "Center" << "" << false << QPoint(197, 50) << kGreen;
        // A quarter turn clockwise puts the red left half at the top.
        QTest::newRow("turned: top") << "ON" << "Top" << "+90°" << true << QPoint(100, 10) << kRed;
        QTest::newRow("turned: bottom") << "ON" << "Top" << "+90°" << true << QPoint(100, 90) << kGreen;
        QTest::newRow("quick: not turned") << "ON" << "Top" << "+90°" << false << QPoint(10, 90) << kRed;
    }
    void laterShowing()
    {
        QFETCH(QString, fit);
        QFETCH(QString, position);
        QFETCH(QString, rotation);
        QFETCH(bool, complete);
        QFETCH(QPoint, probe);
        QFETCH(QColor, expected);
        Form1 f(kTpp);
        JobTable &t = *f.table();
        appendJob(t, m_picture, "200*100", fit, position, rotation);
        f.PreCheck->setChecked(complete);
        t.setRow(1);
        QCOMPARE(f.form2()->PicPreview()->pixelSize(), QSize(200, 100));
        QCOMPARE(f.form2()->size(), QSize(200, 100));
        QVERIFY2(near(at(f, probe.x(), probe.y()), expected), qPrintable(at(f, probe.x(), probe.y()).name()));
        QCOMPARE(f.AspCheck[fit == "OFF" ? 0 : 1]->isChecked(), true);
        QCOMPARE(f.PicPos[position == "Top" ? 0 : 1]->isChecked(), true);
        if (!rotation.isEmpty())
            QCOMPARE(f.RollValue->currentText(), rotation);
        QCOMPARE(f.TxtWidth->text(), QStringLiteral("200"));
        QCOMPARE(f.TxtHeight->text(), QStringLiteral("100"));
        QCOMPARE(t.TextMatrix(1, ColNewSize), QStringLiteral("200*100"));
    }

    void sizeWithoutStarShowsSourceSize()
    {
        Form1 f(kTpp);
        JobTable &t = *f.table();
        appendJob(t, m_picture, "640x480");
        t.setTextMatrix(1, ColOriginalSize, "640*480");
        t.setRow(1);
        QCOMPARE(f.form2()->PicPreview()->pixelSize(), QSize(640, 480));
        QCOMPARE(f.TxtWidth->text(), QStringLiteral("640"));
        QVERIFY(f.form2()->PreviewReady);
    }

    void missingFileLeavesEverythingElse()
    {
        Form1 f(kTpp);
        JobTable &t = *f.table();
        appendJob(t, m_picture);
        appendJob(t, m_dir.filePath(QStringLiteral("gone.jpg")), "200*100", "ON", "Center", "+90°");
        t.setRow(1);
        QVERIFY(f.form2()->PreviewReady);
        const int level = f.CompressLevel->value();
        t.setRow(2);
        Surface &area = *f.form2()->PicPreview();
        QCOMPARE(area.image().pixelColor(5, 5), resolveColorValue(area.backColor()));
        QVERIFY(f.AspCheck[0]->isChecked());
        QCOMPARE(f.RollValue->currentText(), QString());
        QCOMPARE(f.CompressLevel->value(), level);
        QCOMPARE(f.TxtWidth->text(), QStringLiteral("640"));
        QVERIFY(f.form2()->PreviewReady);
        QCOMPARE(t.TextMatrix(2, ColNewSize), QStringLiteral("200*100"));
    }

    void badTextsEndTheRunWithPreviewNotReady()
    {
        Form1 f(kTpp);
        JobTable &t = *f.table();
        appendJob(t, m_picture, "abc*100");
        f.form2()->show();
        QVERIFY(QTest::qWaitForWindowExposed(f.form2()));
        t.setRow(1);
        QVERIFY(!f.form2()->PreviewReady);
        QCOMPARE(f.TxtWidth->text(), QStringLiteral("0"));
        // A later resize by the user changes nothing while the preview is not ready.
        f.form2()->resize(300, 300);
        QCOMPARE(t.TextMatrix(1, ColNewSize), QStringLiteral("abc*100"));
    }

    void noJobRows()
    {
        Form1 f(kTpp);
        f.form2()->PicPreview()->setBackColor(255);
        f.selectionSync()->PicsGalary_SelChange();
        QCOMPARE(f.selectionSync()->runCount(), 1);
        QCOMPARE(f.table()->Rows(), 1);
        QCOMPARE(f.TxtWidth->text(), QStringLiteral("0"));
        QVERIFY(!f.form2()->PreviewReady);
        QVERIFY(f.form2()->PicNormal()->pixelSize().isEmpty());
    }

    void resizeSetsTheCurrentRowsSize()
    {
        Form1 f(kTpp);
        JobTable &t = *f.table();
        // Before any successful sync a resize is inert.
        appendJob(t, m_picture);
        appendJob(t, m_picture);
        appendJob(t, m_picture);
        f.form2()->show();
        QVERIFY(QTest::qWaitForWindowExposed(f.form2()));
        f.form2()->resize(320, 200);
        for (int r = 1; r <= 3; ++r)
            QCOMPARE(t.TextMatrix(r, ColNewSize), QString());

        t.setRow(2);
        t.setRowSel(3);
        t.selectionModel()->select(t.index(0, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
        QCOMPARE(t.TextMatrix(2, ColNewSize), QStringLiteral("640*480"));
        f.form2()->resize(320, 480);
        QCOMPARE(t.TextMatrix(2, ColNewSize), QStringLiteral("320*480"));
        QCOMPARE(t.TextMatrix(1, ColNewSize), QString());
        QCOMPARE(t.TextMatrix(3, ColNewSize), QString());
        QCOMPARE(f.TxtWidth->text(), QStringLiteral("320"));
        QCOMPARE(f.form2()->PicPreview()->pixelSize(), QSize(320, 480));
        QCOMPARE(f.form2()->size(), QSize(320, 480));

        // A client height of 0: the preview falls back to the picture's size.
        f.form2()->resize(320, 0);
        QCOMPARE(t.TextMatrix(2, ColNewSize), QStringLiteral("320*0"));
        QCOMPARE(f.form2()->PicPreview()->pixelSize(), QSize(640, 480));
        QVERIFY(f.form2()->PreviewReady);
        f.form2()->resize(100, 50);
        QCOMPARE(t.TextMatrix(2, ColNewSize), QStringLiteral("100*50"));
    }

    void everyChangeOfTheCurrentRowRunsTheSync()
    {
        Form1 f(kTpp);
        JobTable &t = *f.table();
        appendJob(t, m_picture);
        appendJob(t, m_picture);
        f.show();
        QVERIFY(QTest::qWaitForWindowExposed(&f));
        QSignalSpy ran(f.selectionSync(), &SelectionSync::ran);
        const QModelIndex second = t.index(1, 0);
        QTest::mouseClick(f.PicsGalary->viewport(), Qt::LeftButton, {},
                          f.PicsGalary->visualRect(second).center());
        QTRY_COMPARE(ran.count(), 1);
        QCOMPARE(t.Row(), 2);
        QCOMPARE(t.TextMatrix(2, ColOriginalSize), QStringLiteral("640*480"));
        QTest::keyClick(f.PicsGalary, Qt::Key_Up);
        QTRY_COMPARE(ran.count(), 2);
        QCOMPARE(t.Row(), 1);
        QCOMPARE(t.TextMatrix(1, ColOriginalSize), QStringLiteral("640*480"));
    }
};

QTEST_MAIN(TestSelectionSync)
#include "tst_selectionsync.moc"

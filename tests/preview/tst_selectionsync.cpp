// The selection sync between the job table, the preview window and a panel: first
// and later showings, the preview's pixels, its one-device-pixel promise, resizes,
// and the runs that fail.

#include "joblist/jobcolumns.h"
#include "joblist/joblistview.h"
#include "joblist/jobtable.h"
#include "platform/syscolor.h"
#include "preview/form2.h"
#include "preview/jobpanel.h"
#include "preview/selectionsync.h"
#include "preview/surface.h"
#include "preview/surfaceview.h"

#include <QImage>
#include <QItemSelectionModel>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace kestrovia;

namespace {

const QColor kRed(255, 0, 0);
const QColor kGreen(0, 255, 0);
const QColor kBlue(0, 0, 255);
constexpr int kBlueValue = 0xFF0000; // 0x00BBGGRR

// What the sync showed in the panel.
struct FakePanel : JobPanel {
    bool complete = false;
    QList<JobRow> pictureSettings;
    std::optional<std::pair<std::int32_t, int>> colorAndLevel;
    QSize size;
    bool completePreview() const override { return complete; }
    void showPictureSettings(const JobRow &job) override { pictureSettings << job; }
    void showColorAndLevel(std::int32_t color, int levelScroll) override { colorAndLevel = {color, levelScroll}; }
    void showSize(QSize pixels) override { size = pixels; }
};

// The parts the sync works with, no main window.
struct Rig {
    JobTable table;
    Form2 preview;
    FakePanel panel;
    SelectionSync sync{&table, &preview, &panel};
    QColor at(int x, int y) const { return preview.PicPreview()->toImage().pixelColor(x, y); }
};

// A 640 x 480 BMP whose left half is red and right half green, so that both a fit
// and a turn can be seen in single pixels.
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

// A row; with a new size it counts as shown before (ColOriginalSize set).
void appendJob(JobTable &t, const QString &path, const QString &newSize = {}, const QString &fit = "OFF",
               const QString &position = "Top", const QString &rotation = {})
{
    JobRow j;
    j.fileName = QFileInfo(path).fileName();
    j.originalSize = newSize.isEmpty() ? QString() : QStringLiteral("640*480");
    j.path = path;
    j.newSize = newSize;
    j.fit = fit;
    j.backColor = QString::number(kBlueValue);
    j.position = position;
    j.rotation = rotation;
    j.saveFolder = QFileInfo(path).absolutePath() + '/';
    j.compression = "5";
    t.appendJob(j);
}

bool near(const QColor &a, const QColor &b)
{
    return std::abs(a.red() - b.red()) < 40 && std::abs(a.green() - b.green()) < 40
        && std::abs(a.blue() - b.blue()) < 40;
}

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
        Rig rig;
        appendJob(rig.table, m_picture);
        rig.table.setRow(1);
        QCOMPARE(rig.table.TextMatrix(1, ColOriginalSize), QStringLiteral("640*480"));
        QCOMPARE(rig.table.TextMatrix(1, ColNewSize), QStringLiteral("640*480"));
        QCOMPARE(rig.preview.PicPreview()->pixelSize(), QSize(640, 480));
        QCOMPARE(rig.preview.size(), QSize(640, 480));
        QCOMPARE(rig.at(100, 100), kRed);
        QCOMPARE(rig.at(500, 100), kGreen);
        // The panel's turn, fit and position are left as they were.
        QVERIFY(rig.panel.pictureSettings.isEmpty());
        QCOMPARE(rig.panel.size, QSize(640, 480));
        QCOMPARE(rig.panel.colorAndLevel, std::make_optional(std::pair<std::int32_t, int>{kBlueValue, 50}));
        QVERIFY(rig.preview.PreviewReady);
    }

    // A size copied to every row (or typed) before the row was ever shown survives
    // the click that shows it: the preview shows the job at that size.
    void firstShowingKeepsASizeSetBefore()
    {
        Rig rig;
        appendJob(rig.table, m_picture, "200*100", "ON");
        rig.table.setTextMatrix(1, ColOriginalSize, QString());
        rig.table.setRow(1);
        QCOMPARE(rig.table.TextMatrix(1, ColOriginalSize), QStringLiteral("640*480"));
        QCOMPARE(rig.table.TextMatrix(1, ColNewSize), QStringLiteral("200*100"));
        QCOMPARE(rig.preview.PicPreview()->pixelSize(), QSize(200, 100));
        QCOMPARE(rig.panel.size, QSize(200, 100));
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
        QTest::newRow("top: band at right") << "OFF" << "Top" << "" << false << QPoint(160, 50) << kBlue;
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
        Rig rig;
        appendJob(rig.table, m_picture, "200*100", fit, position, rotation);
        rig.panel.complete = complete;
        rig.table.setRow(1);
        QCOMPARE(rig.preview.PicPreview()->pixelSize(), QSize(200, 100));
        QCOMPARE(rig.preview.size(), QSize(200, 100));
        QVERIFY2(near(rig.at(probe.x(), probe.y()), expected), qPrintable(rig.at(probe.x(), probe.y()).name()));
        QCOMPARE(rig.panel.pictureSettings.size(), 1);
        QCOMPARE(rig.panel.pictureSettings[0].rotation, rotation);
        QCOMPARE(rig.panel.size, QSize(200, 100));
        QCOMPARE(rig.table.TextMatrix(1, ColNewSize), QStringLiteral("200*100"));
    }

    // One output pixel per device pixel, whatever the scale factor (this test also
    // runs with QT_SCALE_FACTOR 2 and 1.25), and a resize by N device pixels
    // writes N.
    void previewIsOneDevicePixelPerPixel()
    {
        Rig rig;
        appendJob(rig.table, m_picture, "400*300", "ON");
        rig.preview.show();
        QVERIFY(QTest::qWaitForWindowExposed(&rig.preview));
        rig.table.setRow(1);
        const double ratio = rig.preview.devicePixelRatioF();
        QCOMPARE(rig.preview.clientPixelSize(), QSize(400, 300));
        const QImage shown = rig.preview.picPreviewView()->grab().toImage();
        QCOMPARE(shown.size(), QSize(400, 300));
        QVERIFY(near(shown.pixelColor(2, 150), kRed));
        QVERIFY(near(shown.pixelColor(397, 150), kGreen));

        const int step = 8; // logical units: whole device pixels at 1, 1.25 and 2
        rig.preview.resize(rig.preview.width() + step, rig.preview.height());
        const int widened = 400 + qRound(step * ratio);
        QCOMPARE(rig.table.TextMatrix(1, ColNewSize), QStringLiteral("%1*300").arg(widened));
        QCOMPARE(rig.panel.size, QSize(widened, 300));
        QCOMPARE(rig.preview.clientPixelSize(), QSize(widened, 300));
    }

    // Texts the table can hold that are no size: the preview follows the batch and
    // shows the picture at its own size.
    void sizeWithoutStarShowsSourceSize()
    {
        Rig rig;
        appendJob(rig.table, m_picture, "640x480");
        rig.table.setRow(1);
        QCOMPARE(rig.preview.PicPreview()->pixelSize(), QSize(640, 480));
        QCOMPARE(rig.panel.size, QSize(640, 480));
        QVERIFY(rig.preview.PreviewReady);
    }

    void failedRunsLeaveWhatTheyReached_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("size");
        QTest::addColumn<bool>("panelTouched");
        QTest::addColumn<bool>("ready");
        // The picture cannot be read: empty preview, panel and readiness unchanged.
        QTest::newRow("missing file") << "gone.jpg" << "200*100" << false << true;
        // A size that is no number: the run ends after the load, not ready.
        QTest::newRow("size not a number") << "" << "abc*100" << false << false;
    }
    void failedRunsLeaveWhatTheyReached()
    {
        QFETCH(QString, path);
        QFETCH(QString, size);
        QFETCH(bool, panelTouched);
        QFETCH(bool, ready);
        Rig rig;
        appendJob(rig.table, m_picture);
        appendJob(rig.table, path.isEmpty() ? m_picture : m_dir.filePath(path), size, "ON", "Center", "+90°");
        rig.table.setRow(1);
        rig.panel = FakePanel();
        rig.table.setRow(2);
        QVERIFY(rig.preview.PicPreview()->picture().isNull());
        QCOMPARE(!rig.panel.pictureSettings.isEmpty() || rig.panel.colorAndLevel.has_value(), panelTouched);
        QCOMPARE(rig.preview.PreviewReady, ready);
        QCOMPARE(rig.table.TextMatrix(2, ColNewSize), size);
        // A resize by the user writes nothing while the preview is not ready.
        if (!ready) {
            rig.preview.resize(300, 300);
            QCOMPARE(rig.table.TextMatrix(2, ColNewSize), size);
        }
    }

    void noJobRows()
    {
        Rig rig;
        rig.sync.PicsGalary_SelChange();
        QCOMPARE(rig.sync.runCount(), 1);
        QCOMPARE(rig.table.Rows(), 1);
        QVERIFY(!rig.panel.colorAndLevel);
        QVERIFY(!rig.preview.PreviewReady);
    }

    void resizeSetsTheCurrentRowsSize()
    {
        Rig rig;
        JobTable &t = rig.table;
        for (int i = 0; i < 3; ++i)
            appendJob(t, m_picture);
        rig.preview.show();
        QVERIFY(QTest::qWaitForWindowExposed(&rig.preview));
        // Before any successful sync a resize is inert.
        rig.preview.resize(320, 200);
        for (int r = 1; r <= 3; ++r)
            QCOMPARE(t.TextMatrix(r, ColNewSize), QString());

        t.setRow(2);
        t.setRowSel(3);
        t.selectionModel()->select(t.index(0, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
        QCOMPARE(t.TextMatrix(2, ColNewSize), QStringLiteral("640*480"));
        rig.preview.resize(320, 480);
        QCOMPARE(t.TextMatrix(2, ColNewSize), QStringLiteral("320*480"));
        QCOMPARE(t.TextMatrix(1, ColNewSize), QString());
        QCOMPARE(t.TextMatrix(3, ColNewSize), QString());
        QCOMPARE(rig.panel.size, QSize(320, 480));
        QCOMPARE(rig.preview.size(), QSize(320, 480));

        // A client height of 0: the preview falls back to the picture's size.
        rig.preview.resize(320, 0);
        QCOMPARE(t.TextMatrix(2, ColNewSize), QStringLiteral("320*0"));
        QCOMPARE(rig.preview.PicPreview()->pixelSize(), QSize(640, 480));
        QVERIFY(rig.preview.PreviewReady);
        rig.preview.resize(100, 50);
        QCOMPARE(t.TextMatrix(2, ColNewSize), QStringLiteral("100*50"));
    }

    void everyChangeOfTheCurrentRowRunsTheSync()
    {
        Rig rig;
        appendJob(rig.table, m_picture);
        appendJob(rig.table, m_picture);
        rig.table.setColWidth(0, 1500);
        JobListView grid(&rig.table);
        grid.show();
        QVERIFY(QTest::qWaitForWindowExposed(&grid));
        QSignalSpy ran(&rig.sync, &SelectionSync::ran);
        QTest::mouseClick(grid.viewport(), Qt::LeftButton, {}, grid.visualRect(rig.table.index(1, 0)).center());
        QTRY_COMPARE(ran.count(), 1);
        QCOMPARE(rig.table.Row(), 2);
        QCOMPARE(rig.table.TextMatrix(2, ColOriginalSize), QStringLiteral("640*480"));
        QTest::keyClick(&grid, Qt::Key_Up);
        QTRY_COMPARE(ran.count(), 2);
        QCOMPARE(rig.table.Row(), 1);
    }
};

QTEST_MAIN(TestSelectionSync)
#include "tst_selectionsync.moc"

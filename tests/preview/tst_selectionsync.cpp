// The preview: the selection sync between the job table, the preview window and a
// panel (first and later showings, the preview's pixels, its one-device-pixel
// promise, resizes, the runs that fail), and the window's drawing surface.

#include "joblist/jobcolumns.h"
#include "joblist/joblistview.h"
#include "joblist/jobtable.h"
#include "preview/form2.h"
#include "preview/jobpanel.h"
#include "preview/selectionsync.h"
#include "preview/surface.h"
#include "preview/surfaceview.h"
#include "tests/common/testpictures.h"
#include "tests/common/widgets.h"

#include <QApplication>
#include <QPalette>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace kestrovia;
using namespace testpics;

namespace {

const QRgb kGrey = qRgb(0x80, 0x80, 0x80);
constexpr int kGreyValue = 0x808080; // the rows' background colour

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
    QRgb at(int x, int y) const { return preview.PicPreview()->toImage().pixel(x, y); }
};

// A row of a 640 x 480 quadrants picture; with a new size it counts as shown
// before (ColOriginalSize set).
void appendJob(JobTable &t, const QString &path, const QString &newSize = {}, const QString &fit = "OFF",
               const QString &position = "Top", const QString &rotation = {})
{
    t.appendJob({QFileInfo(path).fileName(), newSize.isEmpty() ? "" : "640*480", path, newSize, fit,
                 QString::number(kGreyValue), position, rotation, QFileInfo(path).absolutePath() + '/', "5"});
}

} // namespace

class TestSelectionSync : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_picture;

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        m_picture = m_dir.filePath(QStringLiteral("写真 1.bmp"));
        writeFile(m_picture, bmp(quadrants(640, 480), 24));
    }

    // The first showing records the picture's size; a row without a new size shows
    // the picture as it is and takes its size, while a size copied to every row (or
    // typed) before the row was ever shown survives. Otherwise the job's composition
    // is shown: fitted on its background, and turned only in the complete preview.
    // clang-format off
    void showing_data()
    {
        QTest::addColumn<bool>("first");
        QTest::addColumn<QString>("newSize");
        QTest::addColumn<QString>("fit");
        QTest::addColumn<QString>("rotation");
        QTest::addColumn<bool>("complete");
        QTest::addColumn<QList<QRgb>>("corners"); // at (10, 10) and (width - 10, 10)
        QTest::newRow("first, the picture as it is") << true << "" << "ON" << "" << false << QList<QRgb>{kRed, kGreen};
        QTest::newRow("first, a size set before") << true << "200*100" << "ON" << "" << false << QList<QRgb>{kRed, kGreen};
        QTest::newRow("fitted: bands") << false << "200*100" << "OFF" << "" << false << QList<QRgb>{kGrey, kGrey};
        QTest::newRow("complete: turned") << false << "200*100" << "ON" << "+90°" << true << QList<QRgb>{kBlue, kRed};
        QTest::newRow("quick: not turned") << false << "200*100" << "ON" << "+90°" << false << QList<QRgb>{kRed, kGreen};
    }
    // clang-format on
    void showing()
    {
        QFETCH(bool, first);
        QFETCH(QString, newSize);
        QFETCH(QString, fit);
        QFETCH(QString, rotation);
        QFETCH(bool, complete);
        QFETCH(QList<QRgb>, corners);
        const QSize shown = newSize.isEmpty() ? QSize(640, 480) : QSize(200, 100);
        Rig rig;
        appendJob(rig.table, m_picture, newSize, fit, "Center", rotation);
        if (first)
            rig.table.setTextMatrix(1, ColOriginalSize, QString());
        rig.panel.complete = complete;
        rig.table.setRow(1);
        QCOMPARE(rig.table.TextMatrix(1, ColOriginalSize), QStringLiteral("640*480"));
        QCOMPARE(rig.table.TextMatrix(1, ColNewSize), sizeText(shown));
        QCOMPARE(rig.preview.PicPreview()->pixelSize(), shown);
        QCOMPARE(rig.preview.size(), shown);
        for (const int i : {0, 1}) {
            const QRgb c = rig.at(i ? shown.width() - 10 : 10, 10);
            QVERIFY2(near(c, corners[i], 39), qPrintable(describe(c)));
        }
        // The picture as it is leaves the panel's turn, fit and position as they were.
        QCOMPARE(rig.panel.pictureSettings.size(), newSize.isEmpty() ? 0 : 1);
        if (!newSize.isEmpty())
            QCOMPARE(rig.panel.pictureSettings[0].rotation, rotation);
        QCOMPARE(rig.panel.size, shown);
        QCOMPARE(rig.panel.colorAndLevel, std::make_optional(std::pair<std::int32_t, int>{kGreyValue, 50}));
        QVERIFY(rig.preview.PreviewReady);
    }

    // One output pixel per device pixel, whatever the scale factor (this test also
    // runs with QT_SCALE_FACTOR 2 and 1.25), and a resize by N device pixels
    // writes N, into the current row only, whatever else is highlighted. A drag of
    // the border writes every step at once but composes once, when it rests.
    void previewIsOneDevicePixelPerPixel()
    {
        Rig rig;
        appendJob(rig.table, m_picture);
        appendJob(rig.table, m_picture, "400*300", "ON");
        appendJob(rig.table, m_picture);
        QVERIFY(testui::shown(&rig.preview));
        rig.table.setRow(2);
        rig.table.setRowSel(3);
        const double ratio = rig.preview.devicePixelRatioF();
        QCOMPARE(rig.preview.clientPixelSize(), QSize(400, 300));
        const QImage shown = rig.preview.picPreviewView()->grab().toImage();
        QCOMPARE(shown.size(), QSize(400, 300));
        QVERIFY(near(shown.pixel(2, 50), kRed, 39));
        QVERIFY(near(shown.pixel(397, 50), kGreen, 39));

        const int step = 8; // logical units: whole device pixels at 1, 1.25 and 2
        const int runs = rig.sync.runCount();
        int widened = 400;
        for (int i = 0; i < 3; ++i) {
            rig.preview.resize(rig.preview.width() + step, rig.preview.height());
            widened += qRound(step * ratio);
            QCOMPARE(rig.table.TextMatrix(2, ColNewSize), QStringLiteral("%1*300").arg(widened));
            QCOMPARE(rig.panel.size, QSize(widened, 300));
            QCOMPARE(rig.preview.clientPixelSize(), QSize(widened, 300));
        }
        QCOMPARE(rig.table.TextMatrix(1, ColNewSize) + rig.table.TextMatrix(3, ColNewSize), QString());
        QCOMPARE(rig.sync.runCount(), runs);
        QTRY_COMPARE(rig.sync.runCount(), runs + 1);
        QTest::qWait(2 * SelectionSync::kResizeRestMs);
        QCOMPARE(rig.sync.runCount(), runs + 1);
        // Composed at the new size: the stretched picture reaches the new edge.
        const QImage settled = rig.preview.picPreviewView()->grab().toImage();
        QCOMPARE(settled.size(), QSize(widened, 300));
        QVERIFY(near(settled.pixel(widened - 3, 50), kGreen, 39));
    }

    void failedRunsLeaveWhatTheyReached_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("size");
        QTest::addColumn<bool>("ready");
        // The picture cannot be read: empty preview, panel and readiness unchanged.
        QTest::newRow("missing file") << "gone.jpg"
                                      << "200*100" << true;
        // A size that is no number: the run ends after the load, not ready.
        QTest::newRow("size not a number") << ""
                                           << "abc*100" << false;
    }
    void failedRunsLeaveWhatTheyReached()
    {
        QFETCH(QString, path);
        QFETCH(QString, size);
        QFETCH(bool, ready);
        Rig rig;
        rig.sync.PicsGalary_SelChange(); // no job rows: nothing to show
        QVERIFY(!rig.panel.colorAndLevel && !rig.preview.PreviewReady);
        appendJob(rig.table, m_picture);
        appendJob(rig.table, path.isEmpty() ? m_picture : m_dir.filePath(path), size, "ON", "Center", "+90°");
        QVERIFY(testui::shown(&rig.preview));
        rig.table.setRow(1);
        rig.panel = FakePanel();
        rig.table.setRow(2);
        QVERIFY(rig.preview.PicPreview()->picture().isNull());
        QVERIFY(rig.panel.pictureSettings.isEmpty() && !rig.panel.colorAndLevel);
        QCOMPARE(rig.preview.PreviewReady, ready);
        QCOMPARE(rig.table.TextMatrix(2, ColNewSize), size);
        // A resize by the user writes nothing while the preview is not ready.
        if (!ready) {
            rig.preview.resize(300, 300);
            QCOMPARE(rig.table.TextMatrix(2, ColNewSize), size);
        }
    }

    void everyChangeOfTheCurrentRowRunsTheSync()
    {
        Rig rig;
        appendJob(rig.table, m_picture);
        appendJob(rig.table, m_picture);
        rig.table.setColWidth(0, 1500);
        JobListView grid(&rig.table);
        QVERIFY(testui::shown(&grid));
        QSignalSpy ran(&rig.sync, &SelectionSync::ran);
        QTest::mouseClick(grid.viewport(), Qt::LeftButton, {}, grid.visualRect(rig.table.index(1, 0)).center());
        QTRY_COMPARE(ran.count(), 1);
        QCOMPARE(rig.table.Row(), 2);
        QCOMPARE(rig.table.TextMatrix(2, ColOriginalSize), QStringLiteral("640*480"));
        QTest::keyClick(&grid, Qt::Key_Up);
        QTRY_COMPARE(ran.count(), 2);
        QCOMPARE(rig.table.Row(), 1);
    }

    // A reduced picture is drawn through its extent over the surface; a resize keeps
    // the drawing at the top-left, the rest in the classic back colour whatever the
    // desktop's theme.
    void surfaceKeepsItsDrawing()
    {
        QApplication::setPalette(QPalette(QColor(0x22, 0x22, 0x22)));
        Surface s;
        s.resize(20 * 15, 10 * 15);
        // 11 x 6 reduced pixels of which 10 x 5 stand for the picture: red left, green right.
        QImage reduced(11, 6, QImage::Format_RGB32);
        reduced.fill(Qt::blue);
        for (int y = 0; y < 5; ++y)
            for (int x = 0; x < 10; ++x)
                reduced.setPixel(x, y, x < 5 ? kRed : kGreen);
        s.setPicture(reduced, QRectF(0, 0, 10, 5));
        QCOMPARE(s.toImage().size(), QSize(20, 10));
        QCOMPARE(s.toImage().pixel(1, 1), kRed);
        QCOMPARE(s.toImage().pixel(18, 8), kGreen); // never the blue beyond the extent
        s.resize(30 * 15, 12 * 15);
        QCOMPARE(s.toImage().pixel(18, 8), kGreen);
        QCOMPARE(s.toImage().pixel(25, 5), qRgb(255, 255, 255));
        QApplication::setPalette(QPalette());
    }
};

QTEST_MAIN(TestSelectionSync)
#include "tst_selectionsync.moc"

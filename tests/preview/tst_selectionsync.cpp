// The preview: the selection sync between the job table, the preview window and a
// panel (first and later showings, the preview's pixels, its one-device-pixel
// promise, resizes, the rows that cannot be shown, the window serving while a
// picture is made, overtaken clicks), and the window's drawing surface.

#include "compose/jobcompose.h"
#include "compose/pictureprobe.h"
#include "joblist/jobcolumns.h"
#include "joblist/joblistview.h"
#include "joblist/jobtable.h"
#include "preview/form2.h"
#include "preview/jobpanel.h"
#include "preview/previewrenderer.h"
#include "preview/selectionsync.h"
#include "preview/surface.h"
#include "preview/surfaceview.h"
#include "tests/common/readgate.h"
#include "tests/common/testpictures.h"
#include "tests/common/widgets.h"

#include <QApplication>
#include <QPalette>
#include <QScreen>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>

using namespace kestrovia;
using namespace testpics;

namespace {

const QRgb kGrey = qRgb(0x80, 0x80, 0x80);
constexpr int kGreyValue = 0x808080; // the rows' background colour

// The panel's complete-preview switch.
struct FakePanel : JobPanel {
    bool complete = false;
    bool completePreview() const override { return complete; }
};

// The parts the sync works with, no main window.
struct Rig {
    JobTable table;
    Form2 preview;
    FakePanel panel;
    SelectionSync sync{&table, &preview, &panel};
    testui::ReadGate gate{*sync.renderer()};
    // What the preview area shows on screen at (x, y).
    QRgb at(int x, int y) { return preview.picPreviewView()->grab().toImage().pixel(x, y); }
    // Waits until the current row's picture, or why there is none, is shown.
    bool settled()
    {
        return QTest::qWaitFor([this] { return !sync.isBusy(); }, 20000);
    }
};

// A row of a 640 x 480 quadrants picture; with a new size it counts as shown
// before (ColOriginalSize set).
void appendJob(JobTable &t, const QString &path, const QString &newSize = {}, const QString &fit = "OFF",
               const QString &position = "Top", const QString &rotation = {})
{
    t.appendJob({QFileInfo(path).fileName(), newSize.isEmpty() ? "" : "640*480", path, newSize, fit,
                 QString::number(kGreyValue), position, rotation, QFileInfo(path).absolutePath() + '/', "5"});
}

QPoint rowCentre(const JobListView &grid, int row) { return grid.visualRect(grid.model()->index(row - 1, 0)).center(); }

} // namespace

class TestSelectionSync : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_picture;

    // A 640 x 480 JPEG of one colour.
    QString solid(const QString &name, QColor colour)
    {
        QImage image(640, 480, QImage::Format_RGB32);
        image.fill(colour);
        const QString path = m_dir.filePath(name);
        writeFile(path, jpeg(image));
        return path;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        m_picture = m_dir.filePath(QStringLiteral("写真 1.bmp"));
        writeFile(m_picture, bmp(quadrants(640, 480), 24));
    }

    // The first showing records the picture's size from its header at once, before
    // any pixel is decoded; a row without a new size takes the picture's own, while
    // a size copied to every row (or typed) before the row was ever shown survives.
    // The job's composition is shown: fitted on its background, and turned only in
    // the complete preview; the pixels and the window's size follow.
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
        // A drop writes the picture's size from its header; the first showing is the
        // one that finds no new size.
        QTest::newRow("added, its size known") << false << "" << "ON" << "" << false << QList<QRgb>{kRed, kGreen};
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
        rig.table.setTextMatrix(1, ColOriginalSize, first ? QString() : QStringLiteral("640*480"));
        rig.panel.complete = complete;
        rig.gate.close();
        rig.table.setRow(1);
        // While the picture is held: the row and the panel are done already.
        QCOMPARE(rig.table.TextMatrix(1, ColOriginalSize), QStringLiteral("640*480"));
        QCOMPARE(rig.table.TextMatrix(1, ColNewSize), sizeText(shown));
        QVERIFY(rig.sync.isBusy() && rig.sync.followsResize());
        rig.gate.open();
        QVERIFY(rig.settled());
        QCOMPARE(rig.preview.PicPreview()->pixelSize(), shown);
        QCOMPARE(rig.preview.size(), shown);
        for (const int i : {0, 1}) {
            const QRgb c = rig.at(i ? shown.width() - 10 : 10, 10);
            QVERIFY2(near(c, corners[i], 39), qPrintable(describe(c)));
        }
        QCOMPARE(rig.gate.reads().size(), 1);
    }

    // A size larger than the screen's free area: the window stops at the screen and
    // shows the picture's top-left part, and that is no size the user chose - the
    // row keeps its own.
    void aSizeLargerThanTheScreenStays()
    {
        Rig rig;
        const QSize room = QGuiApplication::primaryScreen()->availableGeometry().size();
        const QString large = sizeText(QSize(room.width() * 2, room.height() * 2) * rig.preview.devicePixelRatioF());
        appendJob(rig.table, m_picture, large, "ON");
        QVERIFY(testui::shown(&rig.preview));
        rig.table.setRow(1);
        QVERIFY(rig.settled());
        QVERIFY(rig.preview.width() <= room.width() && rig.preview.height() <= room.height());
        QTRY_COMPARE(rig.table.TextMatrix(1, ColNewSize), large);
    }

    // One output pixel per device pixel, whatever the scale factor (this test also
    // runs with QT_SCALE_FACTOR 2 and 1.25), and a resize by N device pixels
    // writes N, into the current row only, whatever else is highlighted. A drag of
    // the border writes every step at once but composes once, when it rests, from
    // the picture decoded before.
    void previewIsOneDevicePixelPerPixel()
    {
        Rig rig;
        appendJob(rig.table, m_picture);
        appendJob(rig.table, m_picture, "400*300", "ON");
        appendJob(rig.table, m_picture);
        QVERIFY(testui::shown(&rig.preview));
        rig.table.setRow(2);
        rig.table.setRowSel(3);
        QVERIFY(rig.settled());
        const double ratio = rig.preview.devicePixelRatioF();
        QCOMPARE(rig.preview.clientPixelSize(), QSize(400, 300));
        const QImage shown = rig.preview.picPreviewView()->grab().toImage();
        QCOMPARE(shown.size(), QSize(400, 300));
        QVERIFY(near(shown.pixel(2, 50), kRed, 39));
        QVERIFY(near(shown.pixel(397, 50), kGreen, 39));

        const int step = 8; // logical units: whole device pixels at 1, 1.25 and 2
        const int runs = rig.sync.runCount();
        const qsizetype reads = rig.gate.reads().size();
        int widened = 400;
        for (int i = 0; i < 3; ++i) {
            rig.preview.resize(rig.preview.width() + step, rig.preview.height());
            widened += qRound(step * ratio);
            QCOMPARE(rig.table.TextMatrix(2, ColNewSize), QStringLiteral("%1*300").arg(widened));
            QCOMPARE(rig.preview.clientPixelSize(), QSize(widened, 300));
        }
        QCOMPARE(rig.table.TextMatrix(1, ColNewSize) + rig.table.TextMatrix(3, ColNewSize), QString());
        QCOMPARE(rig.sync.runCount(), runs);
        QVERIFY(rig.settled());
        QCOMPARE(rig.sync.runCount(), runs + 1);
        // Composed at the new size: the stretched picture reaches the new edge.
        const QImage settled = rig.preview.picPreviewView()->grab().toImage();
        QCOMPARE(settled.size(), QSize(widened, 300));
        QVERIFY(near(settled.pixel(widened - 3, 50), kGreen, 39));
        QCOMPARE(rig.gate.reads().size(), reads);

        // A size that only the logical unit above shows exactly: 401 pixels at 125 %
        // (320 units make 400). At 200 % no odd size can be shown at all.
        if (std::fmod(ratio, 1.0) != 0 || ratio == 1) {
            rig.table.setTextMatrix(1, ColNewSize, "401*301");
            rig.table.setRow(1);
            QVERIFY(rig.settled());
            QCOMPARE(rig.preview.clientPixelSize(), QSize(401, 301));
        }
    }

    // A size the user drags while the picture is still being made is the row's at
    // once, and the picture that comes is composed at it.
    void dragWhileAPictureIsMade()
    {
        Rig rig;
        appendJob(rig.table, m_picture, "400*300", "ON");
        appendJob(rig.table, solid("drag.jpg", Qt::red), "200*100", "ON");
        QVERIFY(testui::shown(&rig.preview));
        rig.table.setRow(1);
        QVERIFY(rig.settled());
        rig.gate.close();
        rig.table.setRow(2);
        QTRY_COMPARE(rig.gate.waiting(), 1);
        rig.preview.resize(rig.preview.size() + QSize(10, 20));
        const QSize dragged = rig.preview.clientPixelSize();
        QCOMPARE(rig.table.TextMatrix(2, ColNewSize), sizeText(dragged));
        rig.gate.open();
        QVERIFY(rig.settled());
        QCOMPARE(rig.preview.PicPreview()->picture().size(), dragged);
        QCOMPARE(rig.preview.clientPixelSize(), dragged);
        QCOMPARE(rig.table.TextMatrix(1, ColNewSize), QStringLiteral("400*300"));
    }

    // A row whose picture cannot be shown says why in the preview area, with the
    // reason the batch gives; a resize then sets no size.
    void aRowThatCannotBeShownSaysWhy_data()
    {
        QTest::addColumn<QString>("content"); // "picture", "cut" or "none"
        QTest::addColumn<bool>("first");
        QTest::addColumn<QString>("size");
        QTest::newRow("missing, first showing") << "none" << true << "";
        QTest::newRow("damaged, shown before") << "cut" << false << "200*100";
        QTest::newRow("size not a number") << "picture" << false << "abc*100";
    }
    void aRowThatCannotBeShownSaysWhy()
    {
        QFETCH(QString, content);
        QFETCH(bool, first);
        QFETCH(QString, size);
        const QString path = m_dir.filePath(content + ".jpg");
        const QByteArray photo = jpeg(quadrants(64, 48));
        if (content != "none")
            writeFile(path, content == "cut" ? photo.left(photo.size() / 2) : photo);
        Rig rig;
        QVERIFY(testui::shown(&rig.preview));
        appendJob(rig.table, path, size, "ON");
        if (first)
            rig.table.setTextMatrix(1, ColOriginalSize, QString());
        const JobRow job = rig.table.jobRow(1);
        const QString reason = first ? failureOf([&] { probePicture(path); })
                               : content == "picture"
                                   ? failureOf([&] { job.canvasSize(); })
                                   : failureOf([&] { decodeJobSource(readJob(job), readFile(path)); });
        QVERIFY(!reason.isEmpty());
        const QList<QStringList> before = testui::allCells(rig.table);

        rig.table.setRow(1);
        QVERIFY(rig.settled());

        const Surface &area = *rig.preview.PicPreview();
        QVERIFY2(area.message().contains(reason), qPrintable(area.message()));
        QVERIFY(area.picture().isNull());
        QVERIFY(!rig.sync.followsResize());
        rig.preview.resize(rig.preview.size() + QSize(30, 30));
        QCOMPARE(testui::allCells(rig.table), before);
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
        QTest::mouseClick(grid.viewport(), Qt::LeftButton, {}, rowCentre(grid, 2));
        QTRY_COMPARE(ran.count(), 1);
        QCOMPARE(rig.table.Row(), 2);
        QCOMPARE(rig.table.TextMatrix(2, ColOriginalSize), QStringLiteral("640*480"));
        QTest::keyClick(&grid, Qt::Key_Up);
        QTRY_COMPARE(ran.count(), 2);
        QCOMPARE(rig.table.Row(), 1);
    }

    // While a decode is held, the window's event loop keeps serving: a timer fires,
    // the grid takes a click, and the busy pointer is the preview's own, not the
    // application's. Once released, the row clicked last is shown.
    void theWindowServesWhileAPictureIsMade()
    {
        Rig rig;
        appendJob(rig.table, solid("red.jpg", Qt::red), "320*240", "ON");
        appendJob(rig.table, solid("blue.jpg", Qt::blue), "320*240", "ON");
        rig.table.setColWidth(0, 1500);
        JobListView grid(&rig.table);
        QVERIFY(testui::shown(&grid) && testui::shown(&rig.preview));
        int ticks = 0;
        QTimer timer;
        connect(&timer, &QTimer::timeout, [&] { ++ticks; });
        timer.start(10);
        rig.gate.close();

        QTest::mouseClick(grid.viewport(), Qt::LeftButton, {}, rowCentre(grid, 1));
        QTRY_COMPARE(rig.gate.waiting(), 1);
        const int before = ticks;
        QTRY_VERIFY(ticks >= before + 3);
        QCOMPARE(rig.preview.cursor().shape(), Qt::BusyCursor);
        QVERIFY(!QApplication::overrideCursor());
        QTest::mouseClick(grid.viewport(), Qt::LeftButton, {}, rowCentre(grid, 2));
        QTRY_COMPARE(rig.table.Row(), 2);

        rig.gate.open();
        QVERIFY(rig.settled());
        QVERIFY(near(rig.at(5, 5), kBlue));
        QCOMPARE(rig.preview.cursor().shape(), Qt::ArrowCursor);
    }

    // Three quick clicks: only the third row's picture is ever drawn, and nothing
    // reaches the first two rows after their own click (their first showing's
    // sizes, from the header, are written at the click).
    void threeQuickClicksShowTheThirdRow()
    {
        Rig rig;
        const QList<QColor> colours{Qt::red, Qt::green, Qt::blue};
        for (int i = 0; i < 3; ++i)
            appendJob(rig.table, solid(QStringLiteral("click%1.jpg").arg(i), colours[i]));
        for (int r = 1; r <= 3; ++r)
            rig.table.setTextMatrix(r, ColOriginalSize, QString());
        QVERIFY(testui::shown(&rig.preview));
        QList<QRgb> drawn;
        connect(rig.preview.PicPreview(), &Surface::changed, this, [&] {
            if (!rig.preview.PicPreview()->picture().isNull())
                drawn << rig.at(5, 5);
        });
        rig.gate.close();
        for (int r = 1; r <= 3; ++r) {
            rig.table.setRow(r);
            QCoreApplication::processEvents();
        }
        const QList<QStringList> afterClicks = testui::allCells(rig.table);
        QCOMPARE(afterClicks[1][ColOriginalSize], QStringLiteral("640*480"));
        rig.gate.open();
        QVERIFY(rig.settled());
        QVERIFY(!drawn.isEmpty());
        for (const QRgb c : drawn)
            QVERIFY2(near(c, kBlue), qPrintable(describe(c)));
        QCOMPARE(testui::allCells(rig.table), afterClicks);
    }

    // A reduced picture is shown through its extent over the surface; a resize keeps
    // the drawing at the top-left, the rest in the classic back colour whatever the
    // desktop's theme.
    void surfaceKeepsItsDrawing()
    {
        QApplication::setPalette(QPalette(QColor(0x22, 0x22, 0x22)));
        Surface s;
        SurfaceView view(&s);
        const auto shown = [&view](int x, int y) { return view.grab().toImage().pixel(x, y); };
        s.resize(20 * 15, 10 * 15);
        // 11 x 6 reduced pixels of which 10 x 5 stand for the picture: red left, green right.
        QImage reduced(11, 6, QImage::Format_RGB32);
        reduced.fill(Qt::blue);
        for (int y = 0; y < 5; ++y)
            for (int x = 0; x < 10; ++x)
                reduced.setPixel(x, y, x < 5 ? kRed : kGreen);
        s.setPicture(reduced, QRectF(0, 0, 10, 5));
        QCOMPARE(view.size(), QSize(20, 10));
        QCOMPARE(shown(1, 1), kRed);
        QCOMPARE(shown(18, 8), kGreen); // never the blue beyond the extent
        s.resize(30 * 15, 12 * 15);
        QCOMPARE(shown(18, 8), kGreen);
        QCOMPARE(shown(25, 5), qRgb(255, 255, 255));
        QApplication::setPalette(QPalette());
    }
};

QTEST_MAIN(TestSelectionSync)
#include "tst_selectionsync.moc"

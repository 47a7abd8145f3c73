// The preview window's surface, its view and the window's fit.

#include "platform/syscolor.h"
#include "preview/form2.h"
#include "preview/surface.h"
#include "preview/surfaceview.h"

#include <QApplication>
#include <QPalette>
#include <QTest>

using namespace kestrovia;

class TestSurfaces : public QObject {
    Q_OBJECT
private slots:
    // A reduced picture is drawn through its extent over the surface; a resize keeps
    // the drawing at the top-left, the rest in the classic back colour whatever the
    // desktop's theme.
    void pictureExtentAndResize()
    {
        QApplication::setPalette(QPalette(QColor(0x22, 0x22, 0x22)));
        Surface s;
        s.resize(20 * 15, 10 * 15);
        // 11 x 6 reduced pixels of which 10 x 5 stand for the picture: red left, green right.
        QImage reduced(11, 6, QImage::Format_RGB32);
        reduced.fill(Qt::blue);
        for (int y = 0; y < 5; ++y)
            for (int x = 0; x < 10; ++x)
                reduced.setPixelColor(x, y, x < 5 ? Qt::red : Qt::green);
        s.setPicture(reduced, QRectF(0, 0, 10, 5));
        QImage img = s.toImage();
        QCOMPARE(img.size(), QSize(20, 10));
        QCOMPARE(img.pixelColor(1, 1), QColor(Qt::red));
        QCOMPARE(img.pixelColor(18, 8), QColor(Qt::green)); // never the blue beyond the extent
        s.resize(30 * 15, 12 * 15);
        img = s.toImage();
        QCOMPARE(img.pixelColor(18, 8), QColor(Qt::green));
        QCOMPARE(img.pixelColor(25, 5), QColor(255, 255, 255));
        QApplication::setPalette(QPalette());
    }

    void viewFollowsSurfaceAndWindowFits()
    {
        Form2 form;
        Surface *area = form.PicPreview();
        SurfaceView *view = form.picPreviewView();
        QCOMPARE(view->geometry(), QRect(0, 0, 209, 191));
        area->setGeometry(0, 0, 3000, 1500);
        QCOMPARE(view->geometry(), QRect(0, 0, 200, 100));
        form.fitToPreviewArea();
        QCOMPARE(form.size(), QSize(200, 100));
        QCOMPARE(form.clientPixelSize(), QSize(200, 100));
        QVERIFY(form.showsFittedSize());
    }

    void closeBoxOnlyHides()
    {
        Form2 form;
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        QVERIFY(form.close());
        QVERIFY(!form.isVisible());
        form.show();
        QVERIFY(form.isVisible());
    }
};

QTEST_MAIN(TestSurfaces)
#include "tst_surfaces.moc"

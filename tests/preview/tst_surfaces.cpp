#include "compose/surface.h"
#include "platform/failure.h"
#include "platform/syscolor.h"
#include "preview/form2.h"
#include "preview/surfaceview.h"

#include <QApplication>
#include <QTest>

using namespace kestrovia;

class TestSurfaces : public QObject {
    Q_OBJECT
private slots:
    void zeroExtentIsRefused()
    {
        Surface s({15, 15});
        s.resize(300, 150);
        QCOMPARE(s.pixelSize(), QSize(20, 10));
        QCOMPARE(s.scaleWidth(), 300.0);
        QVERIFY_THROWS_EXCEPTION(Failure, s.setScaleSize(0, 100));
        QVERIFY_THROWS_EXCEPTION(Failure, s.setScaleSize(100, 0));
        // The refused call left the coordinate system as it was.
        QCOMPARE(s.scaleMode(), ScaleMode::Twips);
        QCOMPARE(s.scaleWidth(), 300.0);
        s.setScaleSize(40, 20);
        QCOMPARE(s.scaleMode(), ScaleMode::User);
        QCOMPARE(s.scaleWidth(), 40.0);
        s.setScaleMode(ScaleMode::Pixels);
        QCOMPARE(s.scaleWidth(), 20.0);
        QCOMPARE(s.scaleHeight(), 10.0);
    }

    void systemColourFillsWithTheClassicColour()
    {
        // A dark desktop theme does not darken composed pixels.
        QApplication::setPalette(QPalette(QColor(0x22, 0x22, 0x22)));
        Surface s({15, 15});
        s.resize(150, 150);
        s.setBackColor(kWindowBackgroundRef);
        QCOMPARE(s.backColor(), kWindowBackgroundRef);
        QCOMPARE(s.image().pixelColor(3, 3), QColor(255, 255, 255));
        s.setBackColor(255);
        QCOMPARE(s.image().pixelColor(9, 9), QColor(255, 0, 0));
        QApplication::setPalette(QPalette());
    }

    void stretchDrawInTwips()
    {
        Surface src({15, 15});
        src.resize(30, 30); // 2 x 2 pixels
        src.setBackColor(0x00FF00);
        Surface dst({15, 15});
        dst.resize(150, 150); // 10 x 10 pixels
        dst.setBackColor(0);
        dst.paintPicture(src, QRectF(75, 0, 75, 75));
        QCOMPARE(dst.image().pixelColor(7, 2), QColor(0, 255, 0));
        // Outside the destination rectangle the pixels keep their colour.
        QCOMPARE(dst.image().pixelColor(2, 2), QColor(0, 0, 0));
        QCOMPARE(dst.image().pixelColor(7, 7), QColor(0, 0, 0));
    }

    void previewAreaViewFollowsItsSurface()
    {
        Form2 form({15, 15});
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
        Form2 form({15, 15});
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

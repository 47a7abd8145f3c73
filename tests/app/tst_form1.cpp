#include "app/aboutdialog.h"
#include "app/form1.h"
#include "compose/surface.h"
#include "joblist/jobcolumns.h"
#include "joblist/joblistview.h"
#include "joblist/jobtable.h"
#include "preview/form2.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>

using namespace kestrovia;

namespace {
constexpr TwipsPerPixel kTpp{15, 15};
int px(int twips) { return twips / 15; }
} // namespace

class TestForm1 : public QObject {
    Q_OBJECT
private slots:
    void jobTableSetUp()
    {
        Form1 f(kTpp);
        JobTable *t = f.table();
        const QStringList headers{"ファイル名", "元サイズ", "パス", "", "新サイズ", "フィット", "背景色",
                                  "位置", "回転", "", "", "保存先", "圧縮"};
        const QList<int> widths{1500, 800, 1500, 300, 800, 500, 1000, 500, 500, 100, 100, 2000, 500};
        QCOMPARE(t->Rows(), 1);
        for (int c = 0; c < 13; ++c) {
            QCOMPARE(t->TextMatrix(0, c), headers[c]);
            QCOMPARE(t->ColWidth(c), widths[c]);
            QCOMPARE(f.PicsGalary->columnWidth(c), px(widths[c]));
        }
    }

    void initialControls()
    {
        Form1 f(kTpp);
        QCOMPARE(f.windowTitle(), QStringLiteral("Kestrovia"));
        QCOMPARE(f.TxtWidth->text(), QStringLiteral("0"));
        QCOMPARE(f.TxtHeight->text(), QStringLiteral("0"));
        QVERIFY(f.AspCheck[0]->isChecked());
        QVERIFY(f.PicPos[0]->isChecked());
        QVERIFY(f.SaveCheck[0]->isChecked());
        QCOMPARE(f.RollValue->currentText(), QString());
        QCOMPARE(f.RollValue->count(), 4);
        QCOMPARE(f.RollValue->itemText(3), QStringLiteral(" "));
        QCOMPARE(f.RollValue->itemText(0), QStringLiteral("+90\u00B0"));
        QCOMPARE(f.CompressLevel->value(), 50);
        QCOMPARE(f.CompressLevel->minimum(), 0);
        QCOMPARE(f.CompressLevel->maximum(), 100);
        QCOMPARE(f.CompLabel->text(), QStringLiteral("5 ( 標準 )"));
        QVERIFY(!f.ProgressBar1->isVisibleTo(&f));
        QCOMPARE(f.BtnMain->text(), QStringLiteral("処理実行 >> >>"));
        QCOMPARE(f.BtnMain->geometry(), QRect(px(5820), px(5520), px(2505), px(315)));
        // Every named control is reachable by its name.
        for (const char *name : {"Frame1", "PicsGalary", "ProgressBar1", "Label15", "BtnMain", "Label9",
                                 "TxtWidth", "AspCheck(0)", "AspCheck(1)", "PicBack", "Frame2", "PicPos(1)",
                                 "RollValue", "Label12", "Label13", "CompLabel", "CompressLevel", "Frame3",
                                 "SaveCheck(1)", "SaveTxt", "SaveFolder", "PreCheck", "Label14", "Image1"})
            QVERIFY2(f.findChild<QWidget *>(QString::fromLatin1(name)), name);
        for (const char *name : {"SameAll", "SameA", "SameAllItem", "SameSizeAll", "SameFitAll", "SameColorAll",
                                 "SamePosAll", "SameRollAll", "SameJPGAll", "SameFolderAll", "SortMnu",
                                 "SortFileName", "SortFile(0)", "SortFile(1)", "SortSize", "SortNewSize",
                                 "SortJPG"})
            QVERIFY2(f.findChild<QAction *>(QString::fromLatin1(name)), name);
        QVERIFY(!f.SortSize->isVisible());
        QVERIFY(!f.SortNewSize->isVisible());
        QVERIFY(!f.SortJPG->isVisible());
        QCOMPARE(f.SameA->actions().size(), 8);
    }

    void resizeRule()
    {
        Form1 f(kTpp);
        f.show();
        QVERIFY(QTest::qWaitForWindowExposed(&f));
        QCOMPARE(f.height(), px(5865));
        const QRect btn = f.BtnMain->geometry();
        const QRect bar = f.ProgressBar1->geometry();
        const QRect hint = f.Label15->geometry();
        const QRect frame = f.Frame1->geometry();
        const int grid0 = f.PicsGalary->width();
        const int width0 = f.frameGeometry().width();
        QCOMPARE(grid0, width0 - px(2760));

        // The client height is fixed (a taller title bar cannot clip the panel);
        // the grid widens by what the window widens.
        f.resize(f.width() + 100, 600);
        QTRY_COMPARE(f.height(), px(5865));
        QCOMPARE(f.frameGeometry().width(), width0 + 100);
        QCOMPARE(f.PicsGalary->width(), grid0 + 100);
        QCOMPARE(f.PicsGalary->height(), px(5505));
        QCOMPARE(f.BtnMain->geometry(), btn);
        QCOMPARE(f.ProgressBar1->geometry(), bar);
        QCOMPARE(f.Label15->geometry(), hint);
        QCOMPARE(f.Frame1->geometry(), frame);

        // Under 2700 twips the width jumps back to 8490.
        f.resize(px(2685) - (f.frameGeometry().width() - f.width()), 300);
        QTRY_COMPARE(f.outerWidthTwips(), 8490);
        QCOMPARE(f.height(), px(5865));

        // 2700 stays, and between 2700 and 2760 the grid has no room but nothing fails.
        const int frameW = f.frameGeometry().width() - f.width();
        f.resize(px(2700) - frameW, 419);
        QTRY_COMPARE(f.outerWidthTwips(), 2700);
        QCOMPARE(f.PicsGalary->width(), 0);
        f.resize(px(2745) - frameW, 419);
        QTRY_COMPARE(f.outerWidthTwips(), 2745);
        QCOMPARE(f.PicsGalary->width(), 0);
    }

    void previewWindowAtStartUp()
    {
        Form1 f(kTpp);
        Form2 *p = f.form2();
        QVERIFY(p);
        QVERIFY(!p->isVisible());
        f.show();
        QVERIFY(QTest::qWaitForWindowExposed(&f));
        QVERIFY(!p->isVisible());
        p->show();
        QVERIFY(QTest::qWaitForWindowExposed(p));
        QCOMPARE(p->frameGeometry().left(), f.frameGeometry().left() + f.frameGeometry().width());
        QCOMPARE(p->frameGeometry().top(), f.frameGeometry().top());
        QCOMPARE(p->windowTitle(), QStringLiteral("Preview  "));
        QCOMPARE(p->size(), QSize(px(3150), px(2910)));
        QCOMPARE(p->PicPreview()->width(), 3135);
        QCOMPARE(p->PicPreview()->height(), 2865);
        QVERIFY(p->findChild<QWidget *>(QStringLiteral("PicPreview")));
        for (const char *name : {"SupportPicture", "CompletePicture", "PicNormal"}) {
            // The work surfaces exist but have nothing on screen.
            QVERIFY(p->findChild<Surface *>(QString::fromLatin1(name)));
            QVERIFY(!p->findChild<QWidget *>(QString::fromLatin1(name)));
        }
    }

    void hintGivesWayToTheProgressBar()
    {
        Form1 f(kTpp);
        f.show();
        QVERIFY(QTest::qWaitForWindowExposed(&f));
        QVERIFY(f.Label15->isVisible());
        f.ProgressBar1->show();
        QVERIFY(!f.Label15->isVisible());
        f.ProgressBar1->hide();
        QVERIFY(f.Label15->isVisible());
    }

    void closingEndsTheProgram()
    {
        auto *f = new Form1(kTpp);
        f->show();
        f->form2()->show();
        QVERIFY(QTest::qWaitForWindowExposed(f->form2()));
        QVERIFY(f->close());
        QVERIFY(!f->form2()->isVisible());
        for (QWidget *w : QApplication::topLevelWidgets())
            QVERIFY2(!w->isVisible(), qPrintable(w->objectName()));
        delete f;
    }

    void banner()
    {
        // The click opens the About dialog: answer it without a modal loop.
        int shown = 0;
        AboutDialog::setModalRunner([&](AboutDialog &) { ++shown; });
        Form1 f(kTpp);
        QSignalSpy clicked(&f, &Form1::Image1_Click);
        QVERIFY(!f.Image1->pixmap().isNull());
        QCOMPARE(f.Image1->pixmap().size(), QSize(280, 40));
        f.show();
        QVERIFY(QTest::qWaitForWindowExposed(&f));
        QTest::mouseClick(f.Image1, Qt::LeftButton);
        QCOMPARE(clicked.count(), 1);
        QCOMPARE(shown, 1);
        AboutDialog::setModalRunner({});
    }
};

QTEST_MAIN(TestForm1)
#include "tst_form1.moc"

// The main window: started from the command line, its wiring (the panel's picks into
// the current row, a showing that writes nothing, the folder chooser, the banner and the
// About dialog it opens), the resize rule, the other windows and Qt's own dialogs in
// Japanese.

#include "app/aboutdialog.h"
#include "app/commandline.h"
#include "app/form1.h"
#include "app/prompts.h"
#include "app/settingspanel.h"
#include "app/startup.h"
#include "joblist/dropimport.h"
#include "joblist/joblistview.h"
#include "preview/form2.h"
#include "preview/selectionsync.h"
#include "tests/common/readgate.h"
#include "tests/common/widgets.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QItemSelectionModel>
#include <QLabel>
#include <QPointer>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTranslator>
#include <QUrl>

using namespace kestrovia;
using testui::control;

namespace {

// Three job rows whose files do not exist: a sync on them ends at its first step.
void addThreeRows(JobTable &t, const QString &folder = QStringLiteral("/out/"))
{
    for (int i = 1; i <= 3; ++i)
        t.appendJob(testui::jobFor(QStringLiteral("/nowhere/p%1.jpg").arg(i), folder));
}

// Rows 1 to 3 highlighted, row 2 current.
void highlightThreeSecondCurrent(JobTable &t)
{
    t.setRow(1);
    t.setRowSel(3);
    t.selectionModel()->setCurrentIndex(t.index(1, 0), QItemSelectionModel::NoUpdate);
    QCoreApplication::processEvents(); // deliver the table's pending SelChange
    QCOMPARE(t.Row(), 2);
    QCOMPARE(t.selectionModel()->selectedRows().size(), 3);
}

} // namespace

class TestForm1 : public QObject {
    Q_OBJECT

    QTemporaryDir m_tmp;

private slots:
    void init()
    {
        Prompts::setScripted(true);
        Prompts::clearShown();
    }
    void cleanup() { QApplication::setFont(QFont()); }

    // A picked setting goes into the current row only, before the sync it starts.
    void pickedSettingWritesCurrentRowOnly_data()
    {
        QTest::addColumn<QString>("widget");
        QTest::addColumn<bool>("current");
        QTest::addColumn<int>("column");
        QTest::addColumn<QString>("text"); // empty: the row keeps its text
        QTest::addColumn<bool>("synced");
        QTest::newRow("fit") << "AspCheck(1)" << true << int(ColFit) << "ON" << true;
        QTest::newRow("level: no sync") << "CompressLevel" << true << int(ColCompression) << "6" << false;
        QTest::newRow("complete preview: sync only") << "PreCheck" << true << int(ColFit) << "" << true;
        QTest::newRow("no current row: panel only") << "AspCheck(1)" << false << int(ColFit) << "" << true;
    }
    void pickedSettingWritesCurrentRowOnly()
    {
        QFETCH(QString, widget);
        QFETCH(bool, current);
        QFETCH(int, column);
        QFETCH(QString, text);
        QFETCH(bool, synced);
        Form1 f;
        JobTable &t = *f.table();
        addThreeRows(t);
        if (current)
            highlightThreeSecondCurrent(t);
        QList<QStringList> expected = testui::allCells(t);
        if (!text.isEmpty())
            expected[2][column] = text;
        QStringList cellAtSync;
        connect(f.selectionSync(), &SelectionSync::ran, this, [&] { cellAtSync << t.TextMatrix(2, column); });

        if (widget == "CompressLevel")
            control<QScrollBar>(&f, "CompressLevel")->triggerAction(QAbstractSlider::SliderSingleStepAdd);
        else
            control<QAbstractButton>(&f, widget.toLatin1())->click();

        QCOMPARE(testui::allCells(t), expected);
        QCOMPARE(cellAtSync, synced ? QStringList{expected[2][column]} : QStringList{});
    }

    // Showing a row is not editing it: a level of 5.5, a fit written "on" and a
    // turn stay as the row holds them while the panel shows them its own way. The
    // busy pointer is over the preview and the list while the picture is made, and
    // only then.
    void showingARowWritesNothing()
    {
        const QString picture = m_tmp.filePath("p.bmp");
        QImage image(8, 6, QImage::Format_RGB32);
        image.fill(Qt::darkGreen);
        QVERIFY(image.save(picture, "BMP"));
        Form1 f;
        JobTable &t = *f.table();
        t.appendJob({"p.bmp", "8*6", picture, "8*6", "on", "255", "Center", "+90°", m_tmp.path() + '/', "5.5"});
        const QList<QStringList> before = testui::allCells(t);
        QWidget *grid = control<JobListView>(&f, "PicsGalary")->viewport();
        testui::ReadGate gate(*f.selectionSync()->renderer());
        gate.close();

        t.setRow(1);
        QTRY_COMPARE(gate.waiting(), 1);
        QCOMPARE(grid->cursor().shape(), Qt::BusyCursor);
        QCOMPARE(f.form2()->cursor().shape(), Qt::BusyCursor);
        QCOMPARE(f.cursor().shape(), Qt::ArrowCursor);
        QVERIFY(!QApplication::overrideCursor());
        gate.open();
        QTRY_VERIFY(!f.selectionSync()->isBusy());

        QCOMPARE(testui::allCells(t), before);
        QCOMPARE(control<QScrollBar>(&f, "CompressLevel")->value(), 50);
        QVERIFY(control<QAbstractButton>(&f, "AspCheck(1)")->isChecked());
        QVERIFY(control<QAbstractButton>(&f, "PicPos(1)")->isChecked());
        QCOMPARE(grid->cursor().shape(), Qt::ArrowCursor);
        QVERIFY(f.selectionSync()->followsResize());
    }

    // "…": the chooser opens at the current row's folder; its choice (or after a
    // cancel the folder chosen before) becomes that row's folder and SaveTxt.
    // clang-format off
    void saveFolder_data()
    {
        QTest::addColumn<bool>("chosenPlace");
        QTest::addColumn<QString>("row"); // the current row's folder: there, gone, or no current row
        QTest::addColumn<QString>("saveTxt");
        QTest::addColumn<QString>("answer"); // empty: Cancel
        QTest::addColumn<QString>("rowAfter"); // empty: unchanged
        QTest::addColumn<bool>("shown");
        QTest::newRow("OK") << true << "there" << "/somewhere/else/" << "/chosen/child/" << "/chosen/child/" << true;
        // An empty folder would send the output nowhere the user chose.
        QTest::newRow("Cancel, nothing chosen yet") << true << "there" << "" << "" << "" << true;
        QTest::newRow("Cancel after a choice") << true << "there" << "/before/" << "" << "/before/" << true;
        QTest::newRow("same-folder option") << false << "there" << "/before/" << "/x/" << "" << false;
        QTest::newRow("row's folder gone") << true << "gone" << "/before/" << "/x/" << "" << false;
        QTest::newRow("no current row") << true << "none" << "/before/" << "/x/" << "" << false;
    }
    // clang-format on
    void saveFolder()
    {
        QFETCH(bool, chosenPlace);
        QFETCH(QString, row);
        QFETCH(QString, saveTxt);
        QFETCH(QString, answer);
        QFETCH(QString, rowAfter);
        QFETCH(bool, shown);
        const QString rowFolder = m_tmp.path() + (row == "gone" ? "/gone/" : "/保存 先/");
        QVERIFY(QDir().mkpath(m_tmp.path() + "/保存 先"));
        Form1 f;
        JobTable &t = *f.table();
        addThreeRows(t, rowFolder);
        if (row != "none")
            highlightThreeSecondCurrent(t);
        auto *panel = control<SettingsPanel>(&f, "Frame1");
        control<QAbstractButton>(&f, chosenPlace ? "SaveCheck(1)" : "SaveCheck(0)")->click();
        panel->setSaveText(saveTxt);
        QList<QStringList> expected = testui::allCells(t);
        if (!rowAfter.isEmpty())
            expected[2][ColSaveFolder] = rowAfter;
        if (!answer.isEmpty())
            Prompts::setNextFolder(answer);
        const int runs = f.selectionSync()->runCount();

        QTest::mouseClick(control<QWidget>(&f, "SaveFolder"), Qt::LeftButton);

        QCOMPARE(testui::allCells(t), expected);
        QCOMPARE(panel->saveText(), shown && !answer.isEmpty() ? answer : saveTxt);
        QCOMPARE(Prompts::shown().size(), shown ? 1 : 0);
        if (shown)
            QCOMPARE(QDir::cleanPath(Prompts::shown()[0].text), QDir::cleanPath(rowFolder));
        QCOMPARE(f.selectionSync()->runCount(), runs);
    }

    void bannerOpensAbout()
    {
        Form1 f;
        QVERIFY(testui::shown(&f));
        QTest::mouseClick(control<QLabel>(&f, "Image1"), Qt::LeftButton);
        QCOMPARE(Prompts::shown().size(), 1);
        QCOMPARE(Prompts::shown()[0].kind, Prompts::Kind::Modal);
        QCOMPARE(Prompts::shown()[0].text, QStringLiteral("Dialog1"));
        // Shown modally and gone afterwards, even when not closed.
        QTRY_VERIFY(f.findChildren<AboutDialog *>().isEmpty());
    }

    // The About dialog: each click on the link asks the desktop for the support page; only a request
    // that could not be made brings a box. Nothing else in the dialog reacts.
    void aboutLink_data()
    {
        QTest::addColumn<QStringList>("labels"); // clicked in order; "Label3 out": released outside
        QTest::addColumn<bool>("browserAsked");
        QTest::addColumn<QStringList>("prompts");
        const QString url = AboutDialog::supportUrl().toString();
        QTest::newRow("link twice") << QStringList{"Label3", "Label3"} << true << QStringList{url, url};
        QTest::newRow("browser cannot be asked") << QStringList{"Label3"} << false << QStringList{url, "error"};
        QTest::newRow("released outside the link") << QStringList{"Label3 out"} << true << QStringList{};
        QTest::newRow("other labels") << QStringList{"Picture1", "Label1", "Label2", "Label4"} << true << QStringList{};
    }
    void aboutLink()
    {
        QFETCH(QStringList, labels);
        QFETCH(bool, browserAsked);
        Prompts::setNextUrlOpened(browserAsked);
        QPointer<AboutDialog> dialog = new AboutDialog;
        QVERIFY(testui::shown(dialog));
        for (const QString &name : labels) {
            auto *label = control<QLabel>(dialog, name.section(' ', 0, 0).toLatin1());
            QTest::mousePress(label, Qt::LeftButton, {}, label->rect().center());
            QTest::mouseRelease(label, Qt::LeftButton, {},
                                name.endsWith(" out") ? label->rect().bottomRight() + QPoint(20, 20)
                                                      : label->rect().center());
        }
        QStringList seen;
        for (const Prompts::Message &m : Prompts::shown())
            seen << m.text;
        QTEST(seen, "prompts");
        QVERIFY(dialog && dialog->isVisible());
        delete dialog;
    }

    // The labels grow for a larger UI font (at 16 pt each must grow and move its
    // neighbours) instead of clipping or overlapping.
    void aboutLabelsAreNotClipped()
    {
        QApplication::setFont(QFont(QStringLiteral("IPAPGothic"), 16));
        AboutDialog dialog;
        QList<QRect> placed;
        for (const char *name : {"Label1", "Label2", "Label3", "Label4"}) {
            auto *l = control<QLabel>(&dialog, name);
            QVERIFY2(l->width() >= l->sizeHint().width() && l->height() >= l->sizeHint().height(), name);
            QVERIFY2(dialog.rect().contains(l->geometry()), name);
            const QRect text(l->geometry().topLeft(), l->sizeHint());
            for (const QRect &other : placed)
                QVERIFY2(!text.intersects(other), name);
            placed << text;
        }
    }

    // The keyboard starts on the job list and Tab leaves it (the arrows move in it):
    // on to the button, round to the panel's first field, back again.
    void tabThroughTheWindow()
    {
        Form1 f;
        addThreeRows(*f.table());
        QVERIFY(testui::shown(&f, true));
        QStringList order;
        for (const Qt::KeyboardModifiers m : {Qt::NoModifier, Qt::NoModifier, Qt::ShiftModifier, Qt::ShiftModifier}) {
            order << QApplication::focusWidget()->objectName();
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab, m);
        }
        order << QApplication::focusWidget()->objectName();
        QCOMPARE(order, QStringList({"PicsGalary", "BtnMain", "TxtWidth", "BtnMain", "PicsGalary"}));
    }

    // Only the width is the user's; below 2700 twips it jumps back to 8490, and the
    // grid takes what the width leaves.
    void resizeRule()
    {
        Form1 f;
        QVERIFY(testui::shown(&f));
        auto *grid = control<JobListView>(&f, "PicsGalary");
        const int height = f.height();
        const int grid0 = grid->width();
        const int frameW = f.frameGeometry().width() - f.width();
        f.resize(f.width() + 100, height + 50);
        QTRY_COMPARE(grid->width(), grid0 + 100);
        QCOMPARE(f.height(), height);

        f.resize(2685 / kTwipsPerPixel - frameW, height);
        QTRY_COMPARE(f.frameGeometry().width() * kTwipsPerPixel, 8490);
        // At 2700 the window stays; between 2700 and 2760 the grid has no room.
        f.resize(2700 / kTwipsPerPixel - frameW, height);
        QTRY_COMPARE(f.frameGeometry().width() * kTwipsPerPixel, 2700);
        QCOMPARE(grid->width(), 0);
    }

    // The preview window is hidden at start-up and placed beside the main window on
    // its first showing; closing the main window closes every window.
    void otherWindows()
    {
        auto f = std::make_unique<Form1>();
        QVERIFY(testui::shown(f.get()));
        Form2 *p = f->form2();
        QVERIFY(!p->isVisible());
        QVERIFY(testui::shown(p));
        QCOMPARE(p->frameGeometry().topLeft(), f->frameGeometry().topRight() + QPoint(1, 0));
        QWidget other; // a window of its own, as the folder chooser may be
        other.show();
        QVERIFY(f->close());
        for (QWidget *w : QApplication::topLevelWidgets())
            QVERIFY2(!w->isVisible(), qPrintable(w->objectName()));
    }

    // The command line: names to drop, or an answer without a window.
    void commandLine_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<bool>("textOnly");
        QTest::addColumn<int>("exitCode"); // -1: the window opens
        QTest::addColumn<QStringList>("files");
        QTest::newRow("dash name after --") << QStringList{"--", "-x.jpg"} << false << -1 << QStringList{"-x.jpg"};
        QTest::newRow("version") << QStringList{"--version", "a.jpg"} << true << 0 << QStringList{"a.jpg"};
        QTest::newRow("unknown option") << QStringList{"--bogus", "a.jpg"} << false << 1 << QStringList{};
    }
    void commandLine()
    {
        QFETCH(QStringList, args);
        QFETCH(int, exitCode);
        QFETCH(QStringList, files);
        const CommandLine commandLine(QStringList{"kestrovia"} + args);
        QTEST(commandLine.asksForTextOnly(), "textOnly");
        QCOMPARE(commandLine.answer().value_or(-1), exitCode);
        if (exitCode != 1)
            QCOMPARE(commandLine.files(), files);
    }

    // Files named at start become the rows a drop of the same names makes with the
    // panel as it stands at start-up; a relative name is taken from the working folder.
    void filesOnTheCommandLineAreDropped()
    {
        QTemporaryDir tmp;
        QImage picture(40, 30, QImage::Format_RGB32);
        picture.fill(Qt::darkCyan);
        QVERIFY(picture.save(tmp.filePath("写真 1.jpg"), "JPEG"));
        QVERIFY(picture.save(tmp.filePath("scan.BMP"), "BMP"));
        QFile notes(tmp.filePath("notes.txt"));
        QVERIFY(notes.open(QIODevice::WriteOnly));
        const QStringList named{"写真 1.jpg", tmp.filePath("notes.txt"), tmp.filePath("scan.BMP"),
                                tmp.filePath("gone.jpg")};

        const QString oldCurrent = QDir::currentPath();
        QVERIFY(QDir::setCurrent(tmp.path()));
        const std::unique_ptr<Form1> started = openMainWindow(CommandLine(QStringList{"kestrovia"} + named).files());
        QVERIFY(QDir::setCurrent(oldCurrent));
        QVERIFY(started->isVisible());

        JobTable dropped;
        appendDroppedFiles(dropped, {tmp.filePath("写真 1.jpg"), tmp.filePath("scan.BMP")},
                           [] { return DropPanelValues{}; });
        QCOMPARE(started->table()->Rows(), 3);
        QCOMPARE(testui::allCells(*started->table()).mid(1), testui::allCells(dropped).mid(1));
    }

    // Qt's own dialogs and buttons (the colour chooser, "Cancel") speak Japanese once
    // Qt's translation is installed.
    void qtDialogsInJapanese()
    {
        QTranslator *translator = installQtTranslations(*QCoreApplication::instance());
        if (!translator)
            QSKIP("Qt's Japanese translation (qt6-translations-l10n) is not installed");
        const QStringList texts{QCoreApplication::translate("QPlatformTheme", "Cancel"),
                                QCoreApplication::translate("QColorDialog", "&Basic colors")};
        QCoreApplication::removeTranslator(translator);
        delete translator;
        for (const QString &text : texts)
            QVERIFY2(std::any_of(text.begin(), text.end(), [](QChar c) { return c.unicode() >= 0x3040; }),
                     qPrintable(text));
    }
};

QTEST_MAIN(TestForm1)
#include "tst_form1.moc"

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
#include <QAccessible>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QHeaderView>
#include <QImage>
#include <QItemSelectionModel>
#include <QLabel>
#include <QMenu>
#include <QPointer>
#include <QScrollBar>
#include <QSettings>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTableView>
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

// Rows 1 to 3 selected, row 2 current.
void selectThreeSecondCurrent(JobTable &t)
{
    t.selectRows({1, 2, 3}, 2);
    QCoreApplication::processEvents(); // deliver the table's pending SelChange
    QCOMPARE(t.Row(), 2);
    QCOMPARE(t.selectedRows(), QList<int>({1, 2, 3}));
}

} // namespace

class TestForm1 : public QObject {
    Q_OBJECT

    QTemporaryDir m_tmp;

private slots:
    void initTestCase()
    {
        // The settings the tests keep go to the test's own folder, never the user's.
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_tmp.path() + "/config");
    }
    void init()
    {
        Prompts::setScripted(true);
        Prompts::clearShown();
    }
    void cleanup() { QApplication::setFont(QFont()); }

    // A picked setting goes into every selected row, before the sync it starts
    // when it changes the picture; with no row selected the rows keep theirs.
    void pickedSettingWritesSelectedRows_data()
    {
        QTest::addColumn<QString>("widget");
        QTest::addColumn<QList<int>>("selected");
        QTest::addColumn<int>("column");
        QTest::addColumn<QString>("text"); // empty: the rows keep their texts
        QTest::addColumn<bool>("synced");
        QTest::newRow("fit") << "AspCheck(1)" << QList<int>{1, 2, 3} << int(ColFit) << "ON" << true;
        QTest::newRow("fit, one row clicked") << "AspCheck(1)" << QList<int>{2} << int(ColFit) << "ON" << true;
        // The level decides a JPEG's chroma, which the preview shows.
        QTest::newRow("level") << "CompressLevel" << QList<int>{1, 2, 3} << int(ColCompression) << "6" << true;
        QTest::newRow("complete preview: sync only") << "PreCheck" << QList<int>{1, 2, 3} << int(ColFit) << "" << true;
        QTest::newRow("no row selected: panel only") << "AspCheck(1)" << QList<int>{} << int(ColFit) << "" << false;
    }
    void pickedSettingWritesSelectedRows()
    {
        QFETCH(QString, widget);
        QFETCH(QList<int>, selected);
        QFETCH(int, column);
        QFETCH(QString, text);
        QFETCH(bool, synced);
        Form1 f;
        JobTable &t = *f.table();
        addThreeRows(t);
        if (selected.size() == 3)
            selectThreeSecondCurrent(t);
        else if (!selected.isEmpty())
            t.setRow(selected[0]);
        QList<QStringList> expected = testui::allCells(t);
        if (!text.isEmpty())
            for (const int r : selected)
                expected[r][column] = text;
        QStringList cellAtSync;
        connect(f.selectionSync(), &SelectionSync::ran, this, [&] { cellAtSync << t.TextMatrix(2, column); });

        if (widget == "CompressLevel")
            control<QScrollBar>(&f, "CompressLevel")->triggerAction(QAbstractSlider::SliderSingleStepAdd);
        else
            control<QAbstractButton>(&f, widget.toLatin1())->click();

        QCOMPARE(testui::allCells(t), expected);
        QCOMPARE(cellAtSync, synced ? QStringList{expected[2][column]} : QStringList{});
        // The panel holds the setting for new rows, whatever was selected.
        if (widget == "AspCheck(1)")
            QVERIFY(!control<SettingsPanel>(&f, "Frame1")->values().keepAspect);
    }

    // A click on one row makes it the selection, and a change then reaches it alone;
    // with every row selected again the panel shows that setting as differing until
    // it is set for all.
    void oneRowThenEveryRow()
    {
        Form1 f;
        JobTable &t = *f.table();
        addThreeRows(t);
        QVERIFY(testui::shown(&f));
        auto *grid = control<JobListView>(&f, "PicsGalary");
        auto *panel = control<SettingsPanel>(&f, "Frame1");
        selectThreeSecondCurrent(t);
        QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, grid->visualRect(t.index(2, ColFileName)).center());
        QCOMPARE(t.selectedRows(), QList<int>{3});
        control<QAbstractButton>(&f, "AspCheck(1)")->click();
        QCOMPARE(testui::column(t, ColFit), QStringList({"OFF", "OFF", "ON"}));

        QTest::keySequence(grid, QKeySequence::SelectAll);
        QTRY_COMPARE(panel->mixedFields(), QList<RowField>{RowField::Fit});
        QVERIFY(!control<QAbstractButton>(&f, "AspCheck(0)")->isChecked());
        QVERIFY(!control<QAbstractButton>(&f, "AspCheck(1)")->isChecked());
        control<QAbstractButton>(&f, "AspCheck(0)")->click();
        QCOMPARE(testui::column(t, ColFit), QStringList({"OFF", "OFF", "OFF"}));
        QTRY_COMPARE(panel->mixedFields(), QList<RowField>{});
        QVERIFY(control<QAbstractButton>(&f, "AspCheck(0)")->isChecked());
    }

    // Showing a row is not editing it: a level of 3.7, a fit written "on" and a
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
        t.appendJob({"p.bmp", "8*6", picture, "8*6", "on", "255", "Center", "+90°", m_tmp.path() + '/', "3.7"});
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
        QTRY_COMPARE(control<QScrollBar>(&f, "CompressLevel")->value(), 30);
        QVERIFY(control<QAbstractButton>(&f, "AspCheck(1)")->isChecked());
        QVERIFY(control<QAbstractButton>(&f, "PicPos(1)")->isChecked());
        QCOMPARE(grid->cursor().shape(), Qt::ArrowCursor);
        QVERIFY(f.selectionSync()->followsResize());
    }

    // Changing the selection is not editing either: with three rows that differ in
    // every setting, each way of moving the selection (a click, Ctrl+ and
    // Shift+click, Ctrl+A, the arrow keys, leaving a field that was only entered)
    // leaves every cell as it was and says no setting was picked, while the panel
    // follows the rows it shows.
    void changingTheSelectionWritesNothing_data()
    {
        QTest::addColumn<QString>("steps"); // "click r", "ctrl r", "shift r", "all", "key K", "enter F"
        QTest::addColumn<QList<int>>("selected"); // after the last step
        QTest::newRow("click, ctrl+click, shift+click") << "click 1; ctrl 3; shift 2; click 3" << QList<int>{3};
        QTest::newRow("mixed, then one row") << "all; click 2; all; click 1" << QList<int>{1};
        QTest::newRow("arrow keys") << "click 1; key Shift+Down; key Shift+Down; key Up" << QList<int>{2};
        QTest::newRow("fields entered, then a row") << "all; enter TxtWidth; click 2; enter SaveTxt; click 3"
                                                    << QList<int>{3};
    }
    void changingTheSelectionWritesNothing()
    {
        QFETCH(QString, steps);
        QFETCH(QList<int>, selected);
        Form1 f;
        JobTable &t = *f.table();
        const QList<RowSettings> settings{
            {{SizeRule::Exact, {640, 480}, 1600, 50, false}, true, 255, false, 0, 3.7, "/a/", MetadataChoice::KeepAll},
            {{SizeRule::LongEdge, {}, 500, 50, true}, false, 65280, true, 90, 8, "/b/", MetadataChoice::DropAll},
            {{SizeRule::Percent, {}, 1600, 25, false}, true, kWindowBackgroundRef, true, 270, 0, "", MetadataChoice::DropLocation}};
        for (int i = 0; i < settings.size(); ++i) {
            JobRow row = testui::jobFor(QStringLiteral("/nowhere/p%1.jpg").arg(i + 1), "/out/");
            row.originalSize = QStringLiteral("%1*%2").arg(1000 + i).arg(700 + i);
            writeRowSettings(row, settings[i]);
            t.appendJob(row);
        }
        QVERIFY(testui::shown(&f, true));
        const QList<QStringList> before = testui::allCells(t);
        auto *grid = control<JobListView>(&f, "PicsGalary");
        auto *panel = control<SettingsPanel>(&f, "Frame1");
        QSignalSpy picked(panel, &SettingsPanel::settingPicked);
        for (const QString &step : steps.split(u';')) {
            const QStringList w = step.trimmed().split(u' ');
            const auto click = [&](Qt::KeyboardModifiers modifiers) {
                QTest::mouseClick(grid->viewport(), Qt::LeftButton, modifiers,
                                  grid->visualRect(t.index(w[1].toInt() - 1, ColFileName)).center());
            };
            if (w[0] == "click")
                click({});
            else if (w[0] == "ctrl")
                click(Qt::ControlModifier);
            else if (w[0] == "shift")
                click(Qt::ShiftModifier);
            else if (w[0] == "all")
                QTest::keySequence(grid, QKeySequence::SelectAll);
            else if (w[0] == "key")
                QTest::keySequence(grid, QKeySequence(w[1]));
            else if (w[0] == "enter")
                control<QWidget>(&f, w[1].toLatin1())->setFocus(Qt::MouseFocusReason);
            QCoreApplication::processEvents(); // the panel shows the rows now selected
            QVERIFY2(testui::allCells(t) == before, qPrintable(step));
            QVERIFY2(picked.isEmpty(), qPrintable(step));
        }
        QCOMPARE(t.selectedRows(), selected);
        QTRY_COMPARE(panel->values(), rowSettingsOf(t.jobRow(selected.last())));
    }

    // "…": the chooser opens at the rows' folder (the nearest part of it that
    // exists); its choice becomes the folder of every selected row, or with none
    // selected of the rows still to come. A cancel changes nothing.
    // clang-format off
    void saveFolder_data()
    {
        QTest::addColumn<QString>("rows"); // the rows' folder: there, not yet, or no row selected
        QTest::addColumn<QString>("answer"); // empty: Cancel
        QTest::newRow("OK") << "there" << "/chosen/child/";
        QTest::newRow("Cancel") << "there" << "";
        QTest::newRow("a folder still to be made") << "not yet" << "/chosen/";
        QTest::newRow("no row selected: new rows") << "none" << "/chosen/";
    }
    // clang-format on
    void saveFolder()
    {
        QFETCH(QString, rows);
        QFETCH(QString, answer);
        const QString there = m_tmp.path() + "/保存 先/";
        const QString rowFolder = rows == "not yet" ? there + "まだ/ない/" : there;
        QVERIFY(QDir().mkpath(there));
        Form1 f;
        JobTable &t = *f.table();
        addThreeRows(t, rowFolder);
        auto *panel = control<SettingsPanel>(&f, "Frame1");
        if (rows != "none")
            selectThreeSecondCurrent(t);
        else
            panel->setSaveText(there);
        QCoreApplication::processEvents(); // the panel shows the selection
        QList<QStringList> expected = testui::allCells(t);
        if (!answer.isEmpty() && rows != "none")
            for (int r = 1; r <= 3; ++r)
                expected[r][ColSaveFolder] = answer;
        if (!answer.isEmpty())
            Prompts::setNextFolder(answer);
        const int runs = f.selectionSync()->runCount();

        QTest::mouseClick(control<QWidget>(&f, "SaveFolder"), Qt::LeftButton);

        QCOMPARE(testui::allCells(t), expected);
        QCOMPARE(Prompts::shown().size(), 1);
        QCOMPARE(QDir::cleanPath(Prompts::shown()[0].text), QDir::cleanPath(there));
        QCOMPARE(panel->values().folder, answer.isEmpty() ? rowFolder : answer);
        QVERIFY(control<QAbstractButton>(&f, "SaveCheck(1)")->isChecked() || answer.isEmpty());
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
    // on to the buttons, round to the panel's first field, back again.
    void tabThroughTheWindow()
    {
        Form1 f;
        addThreeRows(*f.table());
        QVERIFY(testui::shown(&f, true));
        QStringList order;
        for (const Qt::KeyboardModifiers m : {Qt::NoModifier, Qt::NoModifier, Qt::NoModifier, Qt::ShiftModifier,
                                              Qt::ShiftModifier, Qt::ShiftModifier}) {
            order << QApplication::focusWidget()->objectName();
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab, m);
        }
        order << QApplication::focusWidget()->objectName();
        QCOMPARE(order,
                 QStringList({"PicsGalary", "BtnAdd", "BtnMain", "PresetChoice", "BtnMain", "BtnAdd", "PicsGalary"}));
    }

    // What a screen reader hears: every control of the main window, hidden ones
    // included, has a name, and no two share one (as both size fields once shared
    // the frame's title). The job list's cells are data (tst_joblistview), and a
    // combo box's field and popup speak through the combo box, which has the focus.
    void everyControlHasAName()
    {
        Form1 f;
        addThreeRows(*f.table());
        QVERIFY(testui::shown(&f));
        const QSet<QAccessible::Role> controls{
            QAccessible::PushButton, QAccessible::CheckBox,  QAccessible::RadioButton, QAccessible::EditableText,
            QAccessible::ComboBox,   QAccessible::ScrollBar, QAccessible::Slider,      QAccessible::ProgressBar,
            QAccessible::Table,      QAccessible::Graphic,   QAccessible::SpinBox,     QAccessible::Grouping};
        QStringList unnamed;
        QMap<QString, QString> named; // name -> the control's objectName
        std::function<void(QAccessibleInterface *)> walk = [&](QAccessibleInterface *a) {
            const QString objectName = a->object() ? a->object()->objectName() : QString();
            if (a->state().focusable || controls.contains(a->role())) {
                QString name = a->text(QAccessible::Name).trimmed();
                // On Linux a combo box's name is its text; the label it is told by
                // is its buddy.
                if (a->role() == QAccessible::ComboBox) {
                    name.clear();
                    for (const auto &[label, relation] : a->relations(QAccessible::Label))
                        if (qobject_cast<QLabel *>(label->object()))
                            name += label->text(QAccessible::Name);
                }
                if (name.isEmpty())
                    unnamed << objectName + QString("(role %1)").arg(a->role());
                else if (named.contains(name))
                    unnamed << QString("%1 and %2 both named %3").arg(named[name], objectName, name);
                named[name] = objectName;
            }
            if (a->role() == QAccessible::Table || a->role() == QAccessible::ComboBox)
                return;
            for (int i = 0; i < a->childCount(); ++i)
                walk(a->child(i));
        };
        walk(QAccessible::queryAccessibleInterface(&f));
        QVERIFY2(unnamed.isEmpty(), qPrintable(unnamed.join(", ")));
        for (const char *control : {"TxtWidth", "TxtHeight", "RollValue", "PicsGalary", "ProgressBar1", "BtnMain"})
            QVERIFY2(named.values().contains(control), control);
    }

    // Below 2700 twips the width jumps back to 8490, and the grid takes what the
    // width leaves; the height never goes below what the panel needs.
    void resizeRule()
    {
        Form1 f;
        QVERIFY(testui::shown(&f));
        auto *grid = control<JobListView>(&f, "PicsGalary");
        const int height = f.height();
        const int grid0 = grid->width();
        const int frameW = f.frameGeometry().width() - f.width();
        f.resize(f.width() + 100, height - 50);
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
        QTest::newRow("unknown option") << QStringList{"--bogus", "a.jpg"} << false << 2 << QStringList{};
    }
    void commandLine()
    {
        QFETCH(QStringList, args);
        QFETCH(int, exitCode);
        QFETCH(QStringList, files);
        const CommandLine commandLine(QStringList{"kestrovia"} + args);
        QTEST(commandLine.asksForTextOnly(), "textOnly");
        QCOMPARE(commandLine.answer().value_or(-1), exitCode);
        if (exitCode != CommandLine::kUsageError)
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
        QVERIFY(started->isVisible());
        QTRY_VERIFY(!started->isAdding());
        QVERIFY(QDir::setCurrent(oldCurrent));

        JobTable dropped;
        appendDroppedFiles(dropped, {tmp.filePath("写真 1.jpg"), tmp.filePath("scan.BMP")},
                           [] { return RowSettings{}; });
        QCOMPARE(started->table()->Rows(), 3);
        QCOMPARE(testui::allCells(*started->table()).mid(1), testui::allCells(dropped).mid(1));
        // What did not become a row is named where the user looks.
        const QString note = testui::control<QLabel>(started.get(), "Label15")->text();
        QVERIFY2(note.contains("notes.txt") && note.contains("gone.jpg") && note.contains("2件"), qPrintable(note));
    }

    // 画像を追加… and Ctrl+O open the file dialog in the folder used last; the files
    // chosen become rows as a drop of them does, and a cancel adds nothing.
    void addingWithTheFileDialog()
    {
        QTemporaryDir tmp;
        QImage picture(40, 30, QImage::Format_RGB32);
        picture.fill(Qt::darkCyan);
        QVERIFY(picture.save(tmp.filePath("a.jpg"), "JPEG") && picture.save(tmp.filePath("b.png"), "PNG"));
        Form1 f;
        QVERIFY(testui::shown(&f, true));
        Prompts::clearShown();
        Prompts::setNextFiles({tmp.filePath("a.jpg"), tmp.filePath("b.png")});
        testui::control<QAbstractButton>(&f, "BtnAdd")->click();
        QTRY_COMPARE(testui::column(*f.table(), ColFileName), QStringList({"a.jpg", "b.png"}));
        QCOMPARE(testui::column(*f.table(), ColOriginalSize), QStringList({"40*30", "40*30"}));
        QTest::keySequence(&f, QKeySequence::Open); // cancelled: nothing chosen
        QVERIFY(!f.isAdding());
        QCOMPARE(f.table()->Rows(), 3);
        QCOMPARE(Prompts::shown().size(), 2);
        QCOMPARE(Prompts::shown()[0].kind, Prompts::Kind::Files);
        QCOMPARE(Prompts::shown()[1].text, tmp.path()); // where the first choice was made
    }

    // The panel's values for new rows, the size rule and 完全プレビュー survive a
    // restart; 設定を初期設定に戻す brings back the start-up values, also for the
    // next start.
    void settingsSurviveARestart()
    {
        const auto panelOf = [](Form1 &f) { return testui::control<SettingsPanel>(&f, "Frame1"); };
        const auto state = [&](Form1 &f) {
            QStringList texts;
            for (const auto &[key, text] : settingsTexts(panelOf(f)->values()))
                texts << key + '=' + text;
            return texts
                   + QStringList{QString::number(panelOf(f)->completePreview()),
                                 testui::control<QLabel>(&f, "CompLabel")->text(),
                                 QString::number(testui::control<QTableView>(&f, "PicsGalary")->columnWidth(ColPath))};
        };
        QStringList chosen, startUp;
        {
            Form1 first;
            first.restoreSettings();
            QVERIFY(testui::shown(&first));
            startUp = state(first);
            panelOf(first)->setSaveText("/out/");
            for (const char *name : {"AspCheck(1)", "PicPos(1)", "SaveCheck(1)", "ShrinkOnly", "PreCheck"})
                testui::control<QAbstractButton>(&first, name)->click();
            testui::control<QScrollBar>(&first, "CompressLevel")->triggerAction(QAbstractSlider::SliderSingleStepAdd);
            auto *mode = testui::control<QComboBox>(&first, "SizeMode");
            mode->setCurrentIndex(2);
            emit mode->activated(2);
            testui::control<QSpinBox>(&first, "SizeValue")->setValue(1200);
            // A column the user widened by dragging its border.
            testui::control<QTableView>(&first, "PicsGalary")->horizontalHeader()->resizeSection(ColPath, 321);
            chosen = state(first);
            QVERIFY(first.close());
        }
        QVERIFY(chosen != startUp);
        {
            Form1 second;
            second.restoreSettings();
            QCOMPARE(state(second), chosen);
            Prompts::setNextMenuChoice("ResetSettings");
            Prompts::popup(second.findChild<QMenu *>("SameAll"), {});
            QCOMPARE(state(second), startUp);
        }
        Form1 third;
        third.restoreSettings();
        QCOMPARE(state(third), startUp);
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

#include "app/aboutdialog.h"
#include "app/form1.h"
#include "app/rowcommands.h"
#include "joblist/jobcolumns.h"
#include "joblist/joblistview.h"
#include "joblist/jobtable.h"
#include "preview/form2.h"
#include "preview/selectionsync.h"

#include <QAction>
#include <QApplication>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPointer>
#include <QTest>
#include <QWindow>
#include <memory>

using namespace kestrovia;

namespace {

constexpr TwipsPerPixel kTpp{15, 15};

// A job row whose every cell can be told apart from the other rows'. The paths
// point nowhere, so the selection sync that a current-row change starts fails
// at its first step and writes nothing.
QStringList jobRow(const QString &name, int n)
{
    const QString tag = QString::number(n);
    return {name,        "",           "/nowhere/" + tag + "/" + name,
            "→",         "",           n % 2 ? "ON" : "OFF",
            "-" + tag,   n % 2 ? "Center" : "Top",
            "+90°",      "",           "",
            "/out/" + tag + "/",       QString::number(n) + ".5"};
}

void appendRow(JobTable *t, const QStringList &cells)
{
    t->setRows(t->Rows() + 1);
    for (int c = 0; c < JobColumnCount; ++c)
        t->setTextMatrix(t->Rows() - 1, c, cells[c]);
}

QList<QStringList> rows(const JobTable *t)
{
    QList<QStringList> all;
    for (int r = 0; r < t->Rows(); ++r) {
        QStringList cells;
        for (int c = 0; c < JobColumnCount; ++c)
            cells.append(t->TextMatrix(r, c));
        all.append(cells);
    }
    return all;
}

QStringList names(const JobTable *t)
{
    QStringList list;
    for (int r = 1; r < t->Rows(); ++r)
        list.append(t->TextMatrix(r, ColFileName));
    return list;
}

QList<int> highlighted(const JobTable *t)
{
    QList<int> list;
    for (int r = 1; r < t->Rows(); ++r) {
        if (t->selectionModel()->isRowSelected(r - 1, {}))
            list.append(r);
    }
    return list;
}

std::unique_ptr<Form1> shownForm(const QStringList &jobNames = {})
{
    auto f = std::make_unique<Form1>(kTpp);
    for (int i = 0; i < jobNames.size(); ++i)
        appendRow(f->table(), jobRow(jobNames[i], i + 1));
    f->show();
    if (!QTest::qWaitForWindowExposed(f.get()))
        return nullptr;
    return f;
}

QPoint rowCentre(const Form1 &f, int row)
{
    return f.PicsGalary->visualRect(f.table()->index(row - 1, ColFileName)).center();
}

} // namespace

class TestRowCommands : public QObject {
    Q_OBJECT
private slots:
    void cleanup()
    {
        RowCommands::setPopupRunner({});
        AboutDialog::setModalRunner({});
        AboutDialog::setUrlOpener({});
        AboutDialog::setMessageBoxRunner({});
    }

    void deleteRemovesCurrentRowOnly_data()
    {
        QTest::addColumn<Qt::KeyboardModifiers>("modifiers");
        QTest::newRow("Delete") << Qt::KeyboardModifiers();
        QTest::newRow("Shift+Delete") << Qt::KeyboardModifiers(Qt::ShiftModifier);
        QTest::newRow("Ctrl+Delete") << Qt::KeyboardModifiers(Qt::ControlModifier);
    }

    void deleteRemovesCurrentRowOnly()
    {
        QFETCH(Qt::KeyboardModifiers, modifiers);
        auto f = shownForm({"a.jpg", "b.jpg", "c.jpg", "d.jpg"});
        QVERIFY(f);
        JobTable *t = f->table();
        t->setRow(2);
        t->setRowSel(4);
        QCOMPARE(highlighted(t), QList<int>({2, 3, 4}));
        const QStringList header = rows(t).constFirst();
        QCoreApplication::processEvents();
        const int syncs = f->selectionSync()->runCount();

        QTest::keyClick(f->PicsGalary, Qt::Key_Delete, modifiers);
        QCoreApplication::processEvents();
        // The panel and the preview are left as they were.
        QCOMPARE(f->selectionSync()->runCount(), syncs);
        QCOMPARE(names(t), QStringList({"a.jpg", "c.jpg", "d.jpg"}));
        QCOMPARE(rows(t).constFirst(), header);
        // The next job moved into the current row's place.
        QCOMPARE(t->Row(), 2);
    }

    void otherKeysDoNothing_data()
    {
        QTest::addColumn<int>("key");
        QTest::newRow("Backspace") << int(Qt::Key_Backspace);
        QTest::newRow("Insert") << int(Qt::Key_Insert);
        QTest::newRow("Period (key code 46)") << int(Qt::Key_Period);
    }

    void otherKeysDoNothing()
    {
        QFETCH(int, key);
        auto f = shownForm({"a.jpg", "b.jpg"});
        QVERIFY(f);
        f->table()->setRow(1);
        const auto before = rows(f->table());
        QTest::keyClick(f->PicsGalary, Qt::Key(key));
        QCOMPARE(rows(f->table()), before);
    }

    void headerIsNeverRemoved()
    {
        auto f = shownForm();
        QVERIFY(f);
        JobTable *t = f->table();
        const auto header = rows(t);
        QTest::keyClick(f->PicsGalary, Qt::Key_Delete);
        QCOMPARE(rows(t), header);

        // Jobs present but none of them current: Row() reports the header row.
        appendRow(t, jobRow("a.jpg", 1));
        t->selectionModel()->clearCurrentIndex();
        QCOMPARE(t->Row(), 0);
        const auto withJob = rows(t);
        f->rowCommands()->PicsGalary_KeyDown(Qt::Key_Delete, {});
        QCOMPARE(rows(t), withJob);
    }

    void copyOneColumn_data()
    {
        QTest::addColumn<QString>("action");
        QTest::addColumn<int>("col");
        QTest::addColumn<QString>("value");
        QTest::newRow("サイズ") << "SameSizeAll" << int(ColNewSize) << "320*240";
        QTest::newRow("フィット") << "SameFitAll" << int(ColFit) << "ON";
        QTest::newRow("背景色") << "SameColorAll" << int(ColBackColor) << "-2147483643";
        QTest::newRow("位置") << "SamePosAll" << int(ColPosition) << "Center";
        QTest::newRow("回転 (typed text)") << "SameRollAll" << int(ColRotation) << "+45 deg";
        QTest::newRow("JPG圧縮") << "SameJPGAll" << int(ColCompression) << "3.7";
        QTest::newRow("保存先") << "SameFolderAll" << int(ColSaveFolder) << "/tmp/出力 先/";
    }

    void copyOneColumn()
    {
        QFETCH(QString, action);
        QFETCH(int, col);
        QFETCH(QString, value);
        auto f = shownForm({"a.jpg", "b.jpg", "c.jpg"});
        QVERIFY(f);
        JobTable *t = f->table();
        t->setRow(2);
        // Row 2 has been shown; rows 1 and 3 never were (both sizes still "").
        t->setTextMatrix(2, ColOriginalSize, "640*480");
        t->setTextMatrix(2, ColNewSize, "320*240");
        t->setTextMatrix(2, col, value);
        auto expected = rows(t);
        for (int r = 1; r < t->Rows(); ++r)
            expected[r][col] = value;

        f->findChild<QAction *>(action)->trigger();
        QCOMPARE(rows(t), expected);
        QCOMPARE(t->TextMatrix(1, ColOriginalSize), QString());
        QCOMPARE(t->Row(), 2);
    }

    void copyAllSettings()
    {
        auto f = shownForm({"a.jpg", "b.jpg", "c.jpg"});
        QVERIFY(f);
        JobTable *t = f->table();
        t->setRow(2);
        t->setTextMatrix(2, ColOriginalSize, "640*480");
        t->setTextMatrix(2, ColNewSize, "320*240");
        // Stray text in the reserved columns of the other rows is overwritten with "".
        for (int r : {1, 3}) {
            t->setTextMatrix(r, ColReserved9, "x");
            t->setTextMatrix(r, ColReserved10, "y");
        }
        t->setTextMatrix(3, ColOriginalSize, "800*600");
        auto expected = rows(t);
        for (int r = 1; r < t->Rows(); ++r) {
            for (int c = ColNewSize; c < JobColumnCount; ++c)
                expected[r][c] = expected[2][c];
        }

        QCoreApplication::processEvents();
        const int syncs = f->selectionSync()->runCount();
        f->SameAllItem->trigger();
        QCoreApplication::processEvents();
        QCOMPARE(f->selectionSync()->runCount(), syncs);
        QCOMPARE(rows(t), expected);
        for (int r = 1; r < t->Rows(); ++r) {
            QCOMPARE(t->TextMatrix(r, ColReserved9), QString());
            QCOMPARE(t->TextMatrix(r, ColReserved10), QString());
        }
        QCOMPARE(t->TextMatrix(1, ColOriginalSize), QString());
        QCOMPARE(t->TextMatrix(3, ColOriginalSize), QStringLiteral("800*600"));
    }

    void copyWithoutCurrentRowChangesNothing()
    {
        auto f = shownForm();
        QVERIFY(f);
        JobTable *t = f->table();
        const QList<QAction *> copies{f->SameAllItem,  f->SameSizeAll, f->SameFitAll,  f->SameColorAll,
                                      f->SamePosAll,   f->SameRollAll, f->SameJPGAll, f->SameFolderAll};
        const auto empty = rows(t);
        for (QAction *a : copies)
            a->trigger();
        QCOMPARE(rows(t), empty);

        appendRow(t, jobRow("a.jpg", 1));
        appendRow(t, jobRow("b.jpg", 2));
        t->selectionModel()->clearCurrentIndex();
        const auto before = rows(t);
        for (QAction *a : copies)
            a->trigger();
        QCOMPARE(rows(t), before);
    }

    void popupMenu_data()
    {
        QTest::addColumn<QString>("where");
        QTest::addColumn<int>("button");
        QTest::addColumn<bool>("opens");
        QTest::newRow("right on a row that is not current") << "row 3" << int(Qt::RightButton) << true;
        QTest::newRow("right on the header") << "header" << int(Qt::RightButton) << true;
        QTest::newRow("right below the rows") << "empty" << int(Qt::RightButton) << true;
        QTest::newRow("left on a row") << "row 3" << int(Qt::LeftButton) << false;
    }

    void popupMenu()
    {
        QFETCH(QString, where);
        QFETCH(int, button);
        QFETCH(bool, opens);
        auto f = shownForm({"a.jpg", "b.jpg", "c.jpg"});
        QVERIFY(f);
        JobTable *t = f->table();
        t->setRow(1);
        t->setTextMatrix(1, ColBackColor, "255");

        QWidget *target = f->PicsGalary->viewport();
        QPoint pos = rowCentre(*f, 3);
        if (where == "header") {
            target = f->PicsGalary->horizontalHeader()->viewport();
            pos = target->rect().center();
        } else if (where == "empty") {
            pos = QPoint(10, target->height() - 5);
            QVERIFY(!f->PicsGalary->indexAt(pos).isValid());
        }

        QList<QPair<QMenu *, QPoint>> opened;
        RowCommands::setPopupRunner([&](QMenu *menu, const QPoint &at) {
            opened.append({menu, at});
            // The row under the pointer must not have become current before a command runs.
            QCOMPARE(t->Row(), 1);
            menu->findChild<QAction *>("SameColorAll")->trigger();
        });
        QTest::mouseClick(target, Qt::MouseButton(button), {}, pos);

        if (!opens) {
            QVERIFY(opened.isEmpty());
            QCOMPARE(t->TextMatrix(3, ColBackColor), QStringLiteral("-3"));
            return;
        }
        QCOMPARE(opened.size(), 1);
        QCOMPARE(opened[0].first, f->SameAll);
        QCOMPARE(opened[0].second, target->mapToGlobal(pos));
        QCOMPARE(t->Row(), 1);
        for (int r = 1; r < t->Rows(); ++r)
            QCOMPARE(t->TextMatrix(r, ColBackColor), QStringLiteral("255"));
    }

    void sortFile_data()
    {
        QTest::addColumn<QStringList>("before");
        QTest::addColumn<int>("current");
        QTest::addColumn<int>("index");
        QTest::addColumn<QStringList>("after");
        const QStringList acb{"a.jpg", "c.jpg", "b.jpg"};
        const QStringList dcba{"d.jpg", "c.jpg", "b.jpg", "a.jpg"};
        QTest::newRow("昇順, first row current") << acb << 1 << 0 << QStringList{"a.jpg", "b.jpg", "c.jpg"};
        QTest::newRow("降順, first row current") << acb << 1 << 1 << QStringList{"c.jpg", "b.jpg", "a.jpg"};
        QTest::newRow("昇順, second row current: the first stays")
            << dcba << 2 << 0 << QStringList{"d.jpg", "a.jpg", "b.jpg", "c.jpg"};
        QTest::newRow("昇順, last row current: all four")
            << dcba << 4 << 0 << QStringList{"a.jpg", "b.jpg", "c.jpg", "d.jpg"};
        QTest::newRow("降順, third row current")
            << QStringList{"a.jpg", "b.jpg", "c.jpg", "d.jpg"} << 3 << 1
            << QStringList{"a.jpg", "b.jpg", "d.jpg", "c.jpg"};
        QTest::newRow("one row") << QStringList{"b.jpg"} << 1 << 0 << QStringList{"b.jpg"};
        QTest::newRow("no rows") << QStringList{} << 0 << 1 << QStringList{};
    }

    void sortFile()
    {
        QFETCH(QStringList, before);
        QFETCH(int, current);
        QFETCH(int, index);
        QFETCH(QStringList, after);
        auto f = shownForm(before);
        QVERIFY(f);
        JobTable *t = f->table();
        if (current > 0)
            t->setRow(current);
        QHash<QString, QStringList> byName;
        for (const QStringList &row : rows(t).mid(1))
            byName.insert(row[ColFileName], row);
        const QStringList header = rows(t).constFirst();

        f->SortFile[index]->trigger();
        QCOMPARE(names(t), after);
        QCOMPARE(t->Row(), current);
        QCOMPARE(rows(t).constFirst(), header);
        // Every setting travelled with its file name.
        for (const QStringList &row : rows(t).mid(1))
            QCOMPARE(row, byName.value(row[ColFileName]));
        QList<int> block;
        for (int r = current; current > 0 && r < t->Rows(); ++r)
            block.append(r);
        QCOMPARE(highlighted(t), block);
    }

    void equalNamesKeepTheirOrder_data()
    {
        QTest::addColumn<int>("index");
        QTest::newRow("昇順") << 0;
        QTest::newRow("降順") << 1;
    }

    void equalNamesKeepTheirOrder()
    {
        QFETCH(int, index);
        auto f = shownForm();
        QVERIFY(f);
        JobTable *t = f->table();
        // Breaking ties by the later columns would put /a/ before /z/.
        const QList<QPair<QString, QString>> jobs{
            {"b.jpg", "/z/b.jpg"}, {"a.jpg", "/z/a.jpg"}, {"b.jpg", "/a/b.jpg"}, {"a.jpg", "/a/a.jpg"}};
        for (const auto &[name, path] : jobs) {
            QStringList row = jobRow(name, t->Rows());
            row[ColPath] = path;
            appendRow(t, row);
        }
        t->setRow(1);
        f->SortFile[index]->trigger();
        QStringList paths;
        for (int r = 1; r < t->Rows(); ++r)
            paths.append(t->TextMatrix(r, ColPath));
        const QStringList as{"/z/a.jpg", "/a/a.jpg"};
        const QStringList bs{"/z/b.jpg", "/a/b.jpg"};
        QCOMPARE(paths, index == 0 ? as + bs : bs + as);
    }

    void doubleClickShowsPreview_data()
    {
        QTest::addColumn<QString>("where");
        QTest::newRow("row") << "row";
        QTest::newRow("header") << "header";
        QTest::newRow("below the rows") << "empty";
    }

    void doubleClickShowsPreview()
    {
        QFETCH(QString, where);
        auto f = shownForm({"a.jpg", "b.jpg"});
        QVERIFY(f);
        Form2 *preview = f->form2();
        QVERIFY(!preview->isVisible());
        QWidget *target = f->PicsGalary->viewport();
        QPoint pos = rowCentre(*f, 2);
        if (where == "header") {
            target = f->PicsGalary->horizontalHeader()->viewport();
            pos = target->rect().center();
        } else if (where == "empty") {
            pos = QPoint(10, target->height() - 5);
        }
        const QPointer<Form2> alive(preview);

        QTest::mouseDClick(target, Qt::LeftButton, {}, pos);
        QVERIFY(preview->isVisible());
        QVERIFY(!preview->isModal());
        QVERIFY(!QApplication::activeModalWidget());

        // The close box only hides it; the next double-click brings the same window back.
        preview->close();
        QVERIFY(alive && !preview->isVisible());
        QTest::mouseDClick(target, Qt::LeftButton, {}, pos);
        QVERIFY(alive && preview->isVisible());
    }

    void aboutDialogFromBanner()
    {
        auto f = shownForm({"a.jpg", "b.jpg", "c.jpg"});
        QVERIFY(f);
        JobTable *t = f->table();
        t->setRow(1);
        QWindow *mainWindow = f->windowHandle();
        const QPoint onRow3 = f->PicsGalary->viewport()->mapTo(f.get(), rowCentre(*f, 3));

        int popups = 0;
        RowCommands::setPopupRunner([&](QMenu *, const QPoint &) { ++popups; });
        int opened = 0;
        AboutDialog::setUrlOpener([&](const QUrl &url) {
            ++opened;
            return url == AboutDialog::supportUrl();
        });
        int boxes = 0;
        AboutDialog::setMessageBoxRunner([&](QMessageBox &) { return ++boxes, 0; });
        QList<QPointer<AboutDialog>> dialogs;
        AboutDialog::setModalRunner([&](AboutDialog &dialog) {
            dialogs.append(&dialog);
            dialog.show();
            QVERIFY(QTest::qWaitForWindowExposed(&dialog));
            QCOMPARE(QApplication::activeModalWidget(), &dialog);
            QCOMPARE(dialog.windowTitle(), QStringLiteral("バージョン情報"));
            const QPixmap icon = dialog.findChild<QLabel *>("Picture1")->pixmap();
            QVERIFY(!icon.isNull());
            QCOMPARE(icon.size(), QSize(32, 32));

            // The link, asked twice, asks the desktop twice and leaves the dialog open.
            QLabel *link = dialog.findChild<QLabel *>("Label3");
            QTest::mouseClick(link, Qt::LeftButton, {}, link->rect().center());
            QTest::mouseClick(link, Qt::LeftButton, {}, link->rect().center());
            QCOMPARE(opened, 2);
            QCOMPARE(boxes, 0);
            QVERIFY(dialog.isVisible());

            // Input through the window system does not reach the main window.
            QTest::mouseClick(mainWindow, Qt::LeftButton, {}, onRow3);
            QTest::mouseClick(mainWindow, Qt::RightButton, {}, onRow3);
            QTest::keyClick(mainWindow, Qt::Key_Delete);
            QCOMPARE(t->Row(), 1);
            QCOMPARE(t->Rows(), 4);
            QCOMPARE(popups, 0);
            dialog.close();
        });

        QTest::mouseClick(f->Image1, Qt::LeftButton, {}, f->Image1->rect().center());
        QVERIFY(!QTest::currentTestFailed());
        QCOMPARE(dialogs.size(), 1);
        QTRY_VERIFY(dialogs[0].isNull());
        QVERIFY(!QApplication::activeModalWidget());

        // With the dialog gone the same click reaches the grid again.
        QTest::mouseClick(mainWindow, Qt::LeftButton, {}, onRow3);
        QTRY_COMPARE(t->Row(), 3);

        // The next click on the banner creates a new dialog.
        AboutDialog::setModalRunner([&](AboutDialog &dialog) { dialogs.append(&dialog); });
        QTest::mouseClick(f->Image1, Qt::LeftButton, {}, f->Image1->rect().center());
        QCOMPARE(dialogs.size(), 2);
        QTRY_VERIFY(dialogs[1].isNull());
    }
};

QTEST_MAIN(TestRowCommands)
#include "tst_rowcommands.moc"

// The job list's gestures without the main window: the selection, Delete, the popup
// menu's copy and sort commands, and the double-click that brings the preview window.

#include "app/prompts.h"
#include "app/rowcommands.h"
#include "joblist/joblistview.h"
#include "preview/form2.h"
#include "tests/common/widgets.h"

#include <QAbstractItemModelTester>
#include <QAction>
#include <QApplication>
#include <QHeaderView>
#include <QKeySequence>
#include <QMenu>
#include <QPointer>
#include <QTest>
#include <QVBoxLayout>
#include <memory>

using namespace kestrovia;

class TestRowCommands : public QObject {
    Q_OBJECT

    std::unique_ptr<QWidget> m_window;
    JobTable *m_table = nullptr;
    JobListView *m_grid = nullptr;
    Form2 *m_preview = nullptr;
    RowCommands *m_commands = nullptr;

    // Row r current; none for 0 (the view made the first row current when shown).
    void setCurrent(int r)
    {
        if (r)
            m_table->setRow(r);
        else
            m_table->selectionModel()->clearCurrentIndex();
    }
    QAction *entry(const char *name) { return testui::control<QAction>(m_commands->menu(), name); }
    // The grid's viewport or its header's, and a point on it: on row 3, on the
    // header, or below the rows.
    std::pair<QWidget *, QPoint> place(const QString &where)
    {
        if (where == "header") {
            QWidget *header = m_grid->horizontalHeader()->viewport();
            return {header, header->rect().center()};
        }
        if (where == "empty")
            return {m_grid->viewport(), QPoint(10, m_grid->viewport()->height() - 5)};
        return {m_grid->viewport(), m_grid->visualRect(m_table->index(2, ColFileName)).center()};
    }

private slots:
    void init()
    {
        Prompts::setScripted(true);
        Prompts::clearShown();
        m_window = std::make_unique<QWidget>();
        m_table = new JobTable(m_window.get());
        m_grid = new JobListView(m_table, m_window.get());
        (new QVBoxLayout(m_window.get()))->addWidget(m_grid);
        m_preview = new Form2(m_window.get());
        m_commands = new RowCommands(m_table, m_grid, m_preview, m_window.get());
        // Four rows whose settings can be told apart from every other row's.
        for (int n = 1; n <= 4; ++n) {
            const QString name = QString("bdac").mid(n - 1, 1) + ".jpg";
            m_table->appendJob({name, "", "/nowhere/" + name, QStringLiteral("%1*%1").arg(n * 10), n % 2 ? "ON" : "OFF",
                                "-" + QString::number(n), n % 2 ? "Center" : "Top", n % 2 ? "+90°" : "",
                                QStringLiteral("/out/%1/").arg(n), QString::number(n) + ".5"});
        }
        m_window->resize(600, 300);
        QVERIFY(testui::shown(m_window.get()));
    }
    void cleanup() { m_window.reset(); }

    // Delete with any modifiers removes the selected rows, wherever they are.
    void deleteKey_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<QList<int>>("selected");
        QTest::addColumn<QStringList>("after");
        QTest::addColumn<int>("current");
        const QStringList bdac{"b.jpg", "d.jpg", "a.jpg", "c.jpg"};
        const QStringList bac{"b.jpg", "a.jpg", "c.jpg"};
        QTest::newRow("Delete") << int(Qt::Key_Delete) << 0 << QList<int>{2} << bac << 2;
        QTest::newRow("Shift+Delete") << int(Qt::Key_Delete) << int(Qt::ShiftModifier) << QList<int>{2} << bac << 2;
        QTest::newRow("Ctrl+Delete") << int(Qt::Key_Delete) << int(Qt::ControlModifier) << QList<int>{2} << bac << 2;
        QTest::newRow("rows apart") << int(Qt::Key_Delete) << 0 << QList<int>{1, 3} << QStringList{"d.jpg", "c.jpg"}
                                    << 1;
        QTest::newRow("the last rows") << int(Qt::Key_Delete) << 0 << QList<int>{3, 4} << QStringList{"b.jpg", "d.jpg"}
                                       << 2;
        QTest::newRow("nothing selected") << int(Qt::Key_Delete) << 0 << QList<int>{} << bdac << 0;
        QTest::newRow("Backspace") << int(Qt::Key_Backspace) << 0 << QList<int>{2} << bdac << 2;
        QTest::newRow("Period (key code 46)") << int(Qt::Key_Period) << 0 << QList<int>{2} << bdac << 2;
    }
    void deleteKey()
    {
        QFETCH(int, key);
        QFETCH(int, modifiers);
        QFETCH(QList<int>, selected);
        QAbstractItemModelTester tester(m_table, QAbstractItemModelTester::FailureReportingMode::QtTest);
        setCurrent(0);
        m_table->selectionModel()->clearSelection();
        m_table->selectRows(selected);
        QTest::keyClick(m_grid, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
        QTEST(testui::column(*m_table, ColFileName), "after");
        // The next job moved into the first removed row's place.
        QTEST(m_table->Row(), "current");
    }

    // The grid takes a selection of rows as lists do: click, Shift+click, Ctrl+click,
    // Ctrl+A and Shift+arrows; a click on one row selects that row only.
    void multiSelection_data()
    {
        QTest::addColumn<QString>("gestures");
        QTest::addColumn<QList<int>>("selected");
        QTest::addColumn<int>("current");
        QTest::newRow("click") << "click 3" << QList<int>{3} << 3;
        QTest::newRow("Shift+click") << "click 1; shift 3" << QList<int>{1, 2, 3} << 3;
        QTest::newRow("Ctrl+click") << "click 1; ctrl 3; ctrl 4" << QList<int>{1, 3, 4} << 4;
        QTest::newRow("Ctrl+click takes one away") << "click 1; shift 3; ctrl 2" << QList<int>{1, 3} << 2;
        QTest::newRow("Ctrl+A") << "click 2; all" << QList<int>{1, 2, 3, 4} << 2;
        QTest::newRow("Shift+Down") << "click 2; down; down" << QList<int>{2, 3, 4} << 4;
        QTest::newRow("a click after a selection") << "click 1; all; click 4" << QList<int>{4} << 4;
    }
    void multiSelection()
    {
        QFETCH(QString, gestures);
        m_grid->setColumnWidth(ColFileName, 100);
        m_grid->setFocus();
        for (const QString &gesture : gestures.split(u';')) {
            const QStringList w = gesture.trimmed().split(u' ');
            const auto at = [this, &w] { return m_grid->visualRect(m_table->index(w[1].toInt() - 1, 0)).center(); };
            if (w[0] == "click" || w[0] == "shift" || w[0] == "ctrl")
                QTest::mouseClick(m_grid->viewport(), Qt::LeftButton,
                                  w[0] == "shift"  ? Qt::ShiftModifier
                                  : w[0] == "ctrl" ? Qt::ControlModifier
                                                   : Qt::NoModifier,
                                  at());
            else if (w[0] == "all")
                QTest::keySequence(m_grid, QKeySequence::SelectAll);
            else if (w[0] == "down")
                QTest::keyClick(m_grid, Qt::Key_Down, Qt::ShiftModifier);
        }
        QTEST(m_table->selectedRows(), "selected");
        QTEST(m_table->Row(), "current");
    }

    // 項目の一致: the current row's setting, into every selected row when several
    // are selected, and into every job row otherwise.
    void copyToAll_data()
    {
        QTest::addColumn<QString>("action");
        QTest::addColumn<QList<int>>("columns");
        QTest::addColumn<int>("current"); // 0: none
        QTest::addColumn<QList<int>>("selected"); // the current row when empty
        QTest::addColumn<QList<int>>("targets");
        const QList<int> all{1, 2, 3, 4};
        QTest::newRow("サイズ") << "SameSizeAll" << QList<int>{ColNewSize, ColSizeRule} << 2 << QList<int>{} << all;
        QTest::newRow("フィット") << "SameFitAll" << QList<int>{ColFit} << 2 << QList<int>{} << all;
        QTest::newRow("背景色") << "SameColorAll" << QList<int>{ColBackColor} << 2 << QList<int>{} << all;
        QTest::newRow("位置") << "SamePosAll" << QList<int>{ColPosition} << 2 << QList<int>{} << all;
        QTest::newRow("回転") << "SameRollAll" << QList<int>{ColRotation} << 1 << QList<int>{} << all;
        QTest::newRow("JPG圧縮") << "SameJPGAll" << QList<int>{ColCompression} << 2 << QList<int>{} << all;
        QTest::newRow("保存先") << "SameFolderAll" << QList<int>{ColSaveFolder} << 3 << QList<int>{} << all;
        QTest::newRow("メタデータ") << "SameMetaAll" << QList<int>{ColMetadata} << 2 << QList<int>{} << all;
        // Never the name, sizes as shown, path or arrow.
        const QList<int> settings{ColNewSize,     ColFit,      ColBackColor, ColPosition, ColRotation,
                                  ColReserved9,   ColReserved10, ColSaveFolder, ColCompression, ColMetadata,
                                  ColSizeRule,    ColFormat,   ColNamePattern};
        QTest::newRow("全項目") << "SameAllItem" << settings << 2 << QList<int>{} << all;
        QTest::newRow("全項目, no current row") << "SameAllItem" << settings << 0 << QList<int>{} << QList<int>{};
        // A selection of several rows is where the copy goes.
        QTest::newRow("背景色 into a selection")
            << "SameColorAll" << QList<int>{ColBackColor} << 2 << QList<int>{2, 4} << QList<int>{2, 4};
        QTest::newRow("全項目 into a selection")
            << "SameAllItem" << settings << 3 << QList<int>{1, 3} << QList<int>{1, 3};
    }
    void copyToAll()
    {
        QFETCH(QString, action);
        QFETCH(QList<int>, columns);
        QFETCH(int, current);
        QFETCH(QList<int>, selected);
        QFETCH(QList<int>, targets);
        const QStringList metadata{"all", "none", "nolocation", "none"};
        const QStringList formats{"png alpha", "webp", "jpeg", "avif alpha"};
        const QStringList patterns{"{n:3}", "{name} {n}", "{名前}{_b}", "x"};
        for (int r = 1; r <= 4; ++r) {
            m_table->setTextMatrix(r, ColOriginalSize, QStringLiteral("%1*%1").arg(r * 100));
            m_table->setTextMatrix(r, ColReserved9, r == current ? "" : "x");
            m_table->setTextMatrix(r, ColMetadata, metadata[r - 1]);
            m_table->setTextMatrix(r, ColFormat, formats[r - 1]);
            m_table->setTextMatrix(r, ColNamePattern, patterns[r - 1]);
        }
        setCurrent(current);
        if (!selected.isEmpty())
            m_table->selectRows(selected, current);
        QList<QStringList> expected = testui::allCells(*m_table);
        for (const int r : targets)
            for (const int c : columns)
                expected[r][c] = expected[current][c];
        // A size copied as the size asked: the rule the row had none of.
        if (columns.contains(ColSizeRule))
            for (const int r : targets)
                expected[r][ColSizeRule] = expected[current][ColNewSize];

        entry(action.toLatin1())->trigger();
        QCOMPARE(testui::allCells(*m_table), expected);
        QCOMPARE(m_table->Row(), current);
    }

    // サイズ copies the current row's size rule: each row works its size out of its
    // own picture, a rule that needs the picture waiting for a picture whose size is
    // not known.
    // clang-format off
    void copySizeByRule_data()
    {
        QTest::addColumn<QString>("rule");
        QTest::addColumn<QStringList>("sizes"); // 4000x3000 stretched, 3000x4000 kept, 800x600 stretched, unknown
        QTest::newRow("long edge") << "long 1600" << QStringList{"1600*1200", "1200*1600", "1600*1200", ""};
        QTest::newRow("long edge, shrink only") << "long 1600 shrink" << QStringList{"1600*1200", "1200*1600", "800*600", ""};
        QTest::newRow("half") << "percent 50" << QStringList{"2000*1500", "1500*2000", "400*300", ""};
        QTest::newRow("exact, shrink only")
            << "1000*1000 shrink" << QStringList{"1000*1000", "1000*1000", "600*600", ""};
        QTest::newRow("exact") << "1000*1000" << QStringList{"1000*1000", "1000*1000", "1000*1000", "1000*1000"};
    }
    // clang-format on
    void copySizeByRule()
    {
        QFETCH(QString, rule);
        const QStringList originals{"4000*3000", "3000*4000", "800*600", ""};
        for (int r = 1; r <= 4; ++r) {
            m_table->setTextMatrix(r, ColOriginalSize, originals[r - 1]);
            m_table->setTextMatrix(r, ColRotation, "");
            m_table->setTextMatrix(r, ColNewSize, "40*40");
        }
        m_table->setTextMatrix(1, ColSizeRule, rule);
        setCurrent(1);
        entry("SameSizeAll")->trigger();
        QTEST(testui::column(*m_table, ColNewSize), "sizes");
        QCOMPARE(testui::column(*m_table, ColSizeRule), QStringList(4, rule));
    }

    // Anywhere on the grid: the right button opens SameAll where it was pressed and
    // the command runs from the row that was current; the left button opens nothing.
    // A double-click brings the preview window, modeless; its close box only hides
    // it, and the next double-click brings the same window back.
    void mouseAnywhereOnTheGrid_data()
    {
        QTest::addColumn<QString>("where");
        QTest::newRow("on a row that is not current") << "row 3";
        QTest::newRow("on the header") << "header";
        QTest::newRow("below the rows") << "empty";
    }
    void mouseAnywhereOnTheGrid()
    {
        QFETCH(QString, where);
        m_table->setRow(1);
        const auto [target, pos] = place(where);
        Prompts::setNextMenuChoice("SameColorAll");
        QTest::mouseClick(target, Qt::RightButton, {}, pos);
        QCOMPARE(Prompts::shown().size(), 1);
        QCOMPARE(Prompts::shown()[0].text, QStringLiteral("SameAll"));
        QCOMPARE(Prompts::shown()[0].position, target->mapToGlobal(pos));
        QCOMPARE(m_table->Row(), 1);
        for (int r = 1; r < m_table->Rows(); ++r)
            QCOMPARE(m_table->TextMatrix(r, ColBackColor), QStringLiteral("-1"));
        QTest::mouseClick(target, Qt::LeftButton, {}, pos);
        QCOMPARE(Prompts::shown().size(), 1);

        const QPointer<Form2> alive(m_preview);
        QVERIFY(!m_preview->isVisible());
        QTest::mouseDClick(target, Qt::LeftButton, {}, pos);
        QVERIFY(m_preview->isVisible());
        QVERIFY(!QApplication::activeModalWidget());
        m_preview->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(alive && !m_preview->isVisible());
        QTest::mouseDClick(target, Qt::LeftButton, {}, pos);
        QVERIFY(alive && m_preview->isVisible());
    }

    // The keyboard's way to the same: the Menu key and Shift+F10 open SameAll at the
    // current row, Enter brings the preview window.
    void keyboard_data()
    {
        QTest::addColumn<QString>("keys");
        QTest::addColumn<bool>("menu");
        QTest::newRow("Menu") << "Menu" << true;
        QTest::newRow("Shift+F10") << "Shift+F10" << true;
        QTest::newRow("Return") << "Return" << false;
        QTest::newRow("keypad Enter") << "Enter" << false;
        QTest::newRow("F10 alone") << "F10" << false;
    }
    void keyboard()
    {
        QFETCH(QString, keys);
        QFETCH(bool, menu);
        m_table->setRow(3);
        m_grid->setFocus();
        const QKeyCombination k = QKeySequence(keys)[0];
        Prompts::setNextMenuChoice("SameColorAll");
        QTest::keyClick(m_grid, k.key(), k.keyboardModifiers());
        QCOMPARE(Prompts::shown().size(), menu ? 1 : 0);
        if (menu) {
            QCOMPARE(Prompts::shown()[0].text, QStringLiteral("SameAll"));
            const QPoint at = m_grid->viewport()->mapFromGlobal(Prompts::shown()[0].position);
            QCOMPARE(m_grid->rowAt(at.y()), 2); // table row 3
            QVERIFY(m_grid->viewport()->rect().contains(at));
            for (int r = 1; r < m_table->Rows(); ++r)
                QCOMPARE(m_table->TextMatrix(r, ColBackColor), QStringLiteral("-3"));
        }
        QCOMPARE(m_preview->isVisible(), keys.contains("Enter") || keys == "Return");
        QCOMPARE(m_table->Row(), 3);
    }

    // Ctrl+Z puts back the rows removed last (by Delete or 「すべての行を削除」, which
    // asks first) at their places with their cells, once; the model's signals stay
    // right throughout.
    void removeAndPutBack_data()
    {
        QTest::addColumn<QString>("steps");
        QTest::addColumn<QString>("after"); // the rows by their names' first letters
        QTest::addColumn<int>("current");
        QTest::addColumn<int>("questions");
        QTest::newRow("Delete, Ctrl+Z") << "delete 2; undo"
                                        << "bdac" << 2 << 0;
        QTest::newRow("all rows, Ctrl+Z") << "current 3; all yes; undo"
                                          << "bdac" << 3 << 1;
        QTest::newRow("all rows, question cancelled") << "current 3; all no"
                                                      << "bdac" << 3 << 1;
        QTest::newRow("all rows, no rows left to ask about") << "all yes; all yes"
                                                             << "" << 0 << 1;
        QTest::newRow("a second removal replaces the first") << "delete 2; delete 3; undo"
                                                             << "bac" << 3 << 0;
        QTest::newRow("Delete after all rows") << "all yes; undo; delete 1; undo; undo"
                                               << "bdac" << 1 << 1;
        QTest::newRow("rows added meanwhile") << "delete 1; add; undo"
                                              << "bdacx" << 1 << 0;
        // During a batch run the grid takes no edits.
        QTest::newRow("grid disabled") << "delete 2; disable; undo"
                                       << "bac" << 2 << 0;
    }
    void removeAndPutBack()
    {
        QFETCH(QString, steps);
        QFETCH(QString, after);
        QAbstractItemModelTester tester(m_table, QAbstractItemModelTester::FailureReportingMode::QtTest);
        QVERIFY(testui::shown(m_window.get(), true));
        m_grid->setFocus();
        QMap<QChar, QStringList> rows;
        for (int r = 1; r < m_table->Rows(); ++r)
            rows[m_table->TextMatrix(r, ColFileName)[0]] = m_table->rowCells(r);
        rows['x'] = m_table->rowCells(1); // a stand-in for a row added meanwhile
        rows['x'][ColFileName] = "x.jpg";

        for (const QString &step : steps.split(u';')) {
            const QStringList w = step.trimmed().split(u' ');
            if (w[0] == "delete" || w[0] == "current")
                m_table->setRow(w[1].toInt());
            if (w[0] == "delete")
                QTest::keyClick(m_grid, Qt::Key_Delete);
            if (w == QStringList{"all", "yes"})
                Prompts::setNextAnswer(Prompts::Delete);
            if (w[0] == "all")
                entry("DeleteAll")->trigger();
            if (w[0] == "add")
                m_table->insertRowCells(m_table->Rows(), {rows['x']});
            if (w[0] == "disable")
                m_grid->setEnabled(false);
            if (w[0] == "undo")
                QTest::keyClick(m_grid->isEnabled() ? QApplication::focusWidget() : m_window.get(), Qt::Key_Z,
                                Qt::ControlModifier);
        }

        // Whole rows come back, the metadata choice kept beside the cells included.
        QList<QStringList> expected, actual;
        for (const QChar c : after)
            expected << rows[c];
        for (int r = 1; r < m_table->Rows(); ++r)
            actual << m_table->rowCells(r);
        QCOMPARE(actual, expected);
        QTEST(m_table->Row(), "current");
        int questions = 0;
        for (const Prompts::Message &m : Prompts::shown())
            questions += m.text == "すべての行を削除しますか？";
        QTEST(questions, "questions");
    }

    // The order itself is the table's (tst_jobtable); the menu sorts from the current
    // row down.
    void sortFromCurrentRow_data()
    {
        QTest::addColumn<QString>("action");
        QTest::addColumn<int>("current");
        QTest::addColumn<QStringList>("after");
        QTest::newRow("昇順 from the second row")
            << "SortFile(0)" << 2 << QStringList{"b.jpg", "a.jpg", "c.jpg", "d.jpg"};
        QTest::newRow("降順 from the first row")
            << "SortFile(1)" << 1 << QStringList{"d.jpg", "c.jpg", "b.jpg", "a.jpg"};
    }
    void sortFromCurrentRow()
    {
        QFETCH(QString, action);
        QFETCH(int, current);
        m_table->setRow(current);
        entry(action.toLatin1())->trigger();
        QTEST(testui::column(*m_table, ColFileName), "after");
        QCOMPARE(m_table->Row(), current);
        QCOMPARE(m_table->RowSel(), 4);
    }
};

QTEST_MAIN(TestRowCommands)
#include "tst_rowcommands.moc"

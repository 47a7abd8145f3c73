// The job list's gestures without the main window: Delete, the popup menu's copy
// and sort commands, and the double-click that brings the preview window.

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

Q_DECLARE_METATYPE(kestrovia::SizeRule)

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

    // Delete with any modifiers removes the current row, not the highlighted block.
    void deleteKey_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<int>("current"); // 0: none
        QTest::addColumn<QStringList>("after");
        const QStringList bdac{"b.jpg", "d.jpg", "a.jpg", "c.jpg"};
        const QStringList bac{"b.jpg", "a.jpg", "c.jpg"};
        QTest::newRow("Delete") << int(Qt::Key_Delete) << 0 << 2 << bac;
        QTest::newRow("Shift+Delete") << int(Qt::Key_Delete) << int(Qt::ShiftModifier) << 2 << bac;
        QTest::newRow("Ctrl+Delete") << int(Qt::Key_Delete) << int(Qt::ControlModifier) << 2 << bac;
        QTest::newRow("no current row") << int(Qt::Key_Delete) << 0 << 0 << bdac;
        QTest::newRow("Backspace") << int(Qt::Key_Backspace) << 0 << 2 << bdac;
        QTest::newRow("Period (key code 46)") << int(Qt::Key_Period) << 0 << 2 << bdac;
    }
    void deleteKey()
    {
        QFETCH(int, key);
        QFETCH(int, modifiers);
        QFETCH(int, current);
        setCurrent(current);
        QTest::keyClick(m_grid, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
        QTEST(testui::column(*m_table, ColFileName), "after");
        // The next job moved into the current row's place.
        QCOMPARE(m_table->Row(), current);
    }

    // What selects a block in other lists highlights only the current row here, so
    // the grid never shows a selection that Delete or a copy would not act on.
    void oneRowHighlighted()
    {
        m_grid->setColumnWidth(ColFileName, 100);
        setCurrent(3);
        QTest::keySequence(m_grid, QKeySequence::SelectAll);
        QTest::keyClick(m_grid, Qt::Key_Up, Qt::ShiftModifier);
        const auto click = [this](const QPoint &at, Qt::KeyboardModifiers modifiers) {
            QTest::mouseClick(m_grid->viewport(), Qt::LeftButton, modifiers, at);
            const QModelIndexList rows = m_table->selectionModel()->selectedRows();
            return rows.size() == 1 && rows.first().row() + 1 == m_table->Row();
        };
        const QPoint onFour = m_grid->visualRect(m_table->index(3, ColFileName)).center();
        QVERIFY(click(onFour, Qt::ControlModifier | Qt::ShiftModifier));
        QVERIFY(click(onFour, Qt::ControlModifier)); // would take the highlight away
        QVERIFY(click(QPoint(10, m_grid->viewport()->height() - 5), {})); // below the rows
        QCOMPARE(m_table->Row(), 4);
    }

    // 項目の一致: the current row's texts, unchanged, into every job row.
    void copyToAll_data()
    {
        QTest::addColumn<QString>("action");
        QTest::addColumn<int>("first");
        QTest::addColumn<int>("last");
        QTest::addColumn<int>("current"); // 0: none
        QTest::newRow("サイズ") << "SameSizeAll" << int(ColNewSize) << int(ColNewSize) << 2;
        QTest::newRow("フィット") << "SameFitAll" << int(ColFit) << int(ColFit) << 2;
        QTest::newRow("背景色") << "SameColorAll" << int(ColBackColor) << int(ColBackColor) << 2;
        QTest::newRow("位置") << "SamePosAll" << int(ColPosition) << int(ColPosition) << 2;
        QTest::newRow("回転") << "SameRollAll" << int(ColRotation) << int(ColRotation) << 1;
        QTest::newRow("JPG圧縮") << "SameJPGAll" << int(ColCompression) << int(ColCompression) << 2;
        QTest::newRow("保存先") << "SameFolderAll" << int(ColSaveFolder) << int(ColSaveFolder) << 3;
        QTest::newRow("メタデータ") << "SameMetaAll" << int(ColMetadata) << int(ColMetadata) << 2;
        // The reserved columns too; never the name, sizes as shown, path or arrow.
        QTest::newRow("全項目") << "SameAllItem" << int(ColNewSize) << int(ColCompression) << 2;
        QTest::newRow("全項目, no current row") << "SameAllItem" << 0 << -1 << 0;
    }
    void copyToAll()
    {
        QFETCH(QString, action);
        QFETCH(int, first);
        QFETCH(int, last);
        QFETCH(int, current);
        const QStringList metadata{"all", "none", "nolocation", "none"};
        for (int r = 1; r <= 4; ++r) {
            m_table->setTextMatrix(r, ColOriginalSize, QStringLiteral("%1*%1").arg(r * 100));
            m_table->setTextMatrix(r, ColReserved9, r == current ? "" : "x");
            m_table->setTextMatrix(r, ColMetadata, metadata[r - 1]);
        }
        setCurrent(current);
        // Every cell, and the metadata choice each row keeps beside them.
        const auto cells = [this] {
            QList<QStringList> all = testui::allCells(*m_table);
            for (int r = 0; r < all.size(); ++r)
                all[r] << m_table->TextMatrix(r, ColMetadata);
            return all;
        };
        QList<QStringList> expected = cells();
        const bool all = action == "SameAllItem";
        for (int r = 1; r <= 4; ++r)
            for (int c = 0; c <= ColMetadata; ++c)
                if ((c >= first && c <= last) || (all && c == ColMetadata && current))
                    expected[r][c] = expected[current][c];

        entry(action.toLatin1())->trigger();
        QCOMPARE(cells(), expected);
        QCOMPARE(m_table->Row(), current);
    }

    // サイズ under a size rule: each row's size is worked out of its own picture.
    // clang-format off
    void copySizeByRule_data()
    {
        QTest::addColumn<SizeRule>("rule");
        QTest::addColumn<QStringList>("sizes"); // of 4000x3000, 3000x4000, 800x600 and an unknown picture
        const SizeRule longEdge{SizeRule::LongEdge, {}, 1600, 100, false};
        SizeRule shrinking = longEdge;
        shrinking.shrinkOnly = true;
        QTest::newRow("long edge") << longEdge << QStringList{"1600*1200", "1200*1600", "1600*1200", "40*40"};
        QTest::newRow("long edge, shrink only") << shrinking << QStringList{"1600*1200", "1200*1600", "800*600", "40*40"};
        QTest::newRow("half") << SizeRule{SizeRule::Percent, {}, 0, 50, false}
                              << QStringList{"2000*1500", "1500*2000", "400*300", "40*40"};
        QTest::newRow("exact, shrink only") << SizeRule{SizeRule::Exact, {}, 0, 0, true}
                                            << QStringList{"1000*1000", "1000*1000", "800*600", "1000*1000"};
        QTest::newRow("exact") << SizeRule{} << QStringList{"1000*1000", "1000*1000", "1000*1000", "1000*1000"};
    }
    // clang-format on
    void copySizeByRule()
    {
        QFETCH(SizeRule, rule);
        const QStringList originals{"4000*3000", "3000*4000", "800*600", ""};
        for (int r = 1; r <= 4; ++r) {
            m_table->setTextMatrix(r, ColOriginalSize, originals[r - 1]);
            m_table->setTextMatrix(r, ColNewSize, r == 1 ? "1000*1000" : "40*40");
        }
        m_commands->setSizeRule([rule] { return rule; });
        setCurrent(1);
        entry("SameSizeAll")->trigger();
        QTEST(testui::column(*m_table, ColNewSize), "sizes");
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

// The job list's gestures without the main window: Delete, the popup menu's copy
// and sort commands, and the double-click that brings the preview window.

#include "app/prompts.h"
#include "app/rowcommands.h"
#include "joblist/joblistview.h"
#include "preview/form2.h"
#include "tests/common/widgets.h"

#include <QAction>
#include <QApplication>
#include <QHeaderView>
#include <QMenu>
#include <QPointer>
#include <QTest>
#include <QVBoxLayout>
#include <memory>

using namespace kestrovia;

namespace {

// A job row whose settings can be told apart from every other row's.
JobRow numberedJob(const QString &name, int n)
{
    JobRow j = testui::jobFor("/nowhere/" + QString::number(n) + "/" + name, "/out/" + QString::number(n) + "/");
    j.newSize = QStringLiteral("%1*%1").arg(n * 10);
    j.fit = n % 2 ? "ON" : "OFF";
    j.backColor = "-" + QString::number(n);
    j.position = n % 2 ? "Center" : "Top";
    j.rotation = n % 2 ? "+90°" : "";
    j.compression = QString::number(n) + ".5";
    return j;
}

QStringList names(const JobTable &t)
{
    QStringList list;
    for (int r = 1; r < t.Rows(); ++r)
        list << t.TextMatrix(r, ColFileName);
    return list;
}

QList<int> highlighted(const JobTable &t)
{
    QList<int> list;
    for (int r = 1; r < t.Rows(); ++r) {
        if (t.selectionModel()->isRowSelected(r - 1, {}))
            list << r;
    }
    return list;
}

} // namespace

class TestRowCommands : public QObject {
    Q_OBJECT

    std::unique_ptr<QWidget> m_window;
    JobTable *m_table = nullptr;
    JobListView *m_grid = nullptr;
    Form2 *m_preview = nullptr;
    RowCommands *m_commands = nullptr;

    void fill(const QStringList &jobNames)
    {
        for (int i = 0; i < jobNames.size(); ++i)
            m_table->appendJob(numberedJob(jobNames[i], i + 1));
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
        m_window->resize(600, 300);
        m_window->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    }
    void cleanup() { m_window.reset(); }

    // Delete with any modifiers removes the current row, not the highlighted block.
    void deleteKey_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<int>("current"); // 0: none
        QTest::addColumn<QStringList>("after");
        const QStringList abcd{"a.jpg", "b.jpg", "c.jpg", "d.jpg"};
        const QStringList acd{"a.jpg", "c.jpg", "d.jpg"};
        QTest::newRow("Delete") << int(Qt::Key_Delete) << 0 << 2 << acd;
        QTest::newRow("Shift+Delete") << int(Qt::Key_Delete) << int(Qt::ShiftModifier) << 2 << acd;
        QTest::newRow("Ctrl+Delete") << int(Qt::Key_Delete) << int(Qt::ControlModifier) << 2 << acd;
        QTest::newRow("no current row") << int(Qt::Key_Delete) << 0 << 0 << abcd;
        QTest::newRow("Backspace") << int(Qt::Key_Backspace) << 0 << 2 << abcd;
        QTest::newRow("Insert") << int(Qt::Key_Insert) << 0 << 2 << abcd;
        QTest::newRow("Period (key code 46)") << int(Qt::Key_Period) << 0 << 2 << abcd;
    }
    void deleteKey()
    {
        QFETCH(int, key);
        QFETCH(int, modifiers);
        QFETCH(int, current);
        QFETCH(QStringList, after);
        fill({"a.jpg", "b.jpg", "c.jpg", "d.jpg"});
        if (current) {
            m_table->setRow(current);
            m_table->setRowSel(4);
        }
        QTest::keyClick(m_grid, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
        QCOMPARE(names(*m_table), after);
        // The next job moved into the current row's place.
        QCOMPARE(m_table->Row(), current);
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
        fill({"a.jpg", "b.jpg", "c.jpg"});
        for (int r = 1; r <= 3; ++r) {
            m_table->setTextMatrix(r, ColOriginalSize, QStringLiteral("%1*%1").arg(r * 100));
            m_table->setTextMatrix(r, ColReserved9, r == current ? "" : "x");
        }
        if (current)
            m_table->setRow(current);
        QList<QStringList> expected = testui::allCells(*m_table);
        for (int r = 1; r <= 3; ++r)
            for (int c = first; c <= last; ++c)
                expected[r][c] = expected[current][c];

        entry(action.toLatin1())->trigger();
        QCOMPARE(testui::allCells(*m_table), expected);
        QCOMPARE(m_table->Row(), current);
    }

    // The right button opens SameAll where it was pressed, anywhere on the grid,
    // and the command runs from the row that was current.
    void popupMenu_data()
    {
        QTest::addColumn<QString>("where");
        QTest::addColumn<int>("button");
        QTest::newRow("right on a row that is not current") << "row 3" << int(Qt::RightButton);
        QTest::newRow("right on the header") << "header" << int(Qt::RightButton);
        QTest::newRow("right below the rows") << "empty" << int(Qt::RightButton);
        QTest::newRow("left on a row") << "row 3" << int(Qt::LeftButton);
    }
    void popupMenu()
    {
        QFETCH(QString, where);
        QFETCH(int, button);
        fill({"a.jpg", "b.jpg", "c.jpg"});
        m_table->setRow(1);
        const auto [target, pos] = place(where);
        Prompts::setNextMenuChoice("SameColorAll");

        QTest::mouseClick(target, Qt::MouseButton(button), {}, pos);

        if (button == Qt::LeftButton) {
            QVERIFY(Prompts::shown().isEmpty());
            QCOMPARE(m_table->TextMatrix(3, ColBackColor), QStringLiteral("-3"));
            return;
        }
        QCOMPARE(Prompts::shown().size(), 1);
        QCOMPARE(Prompts::shown()[0].kind, Prompts::Kind::Popup);
        QCOMPARE(Prompts::shown()[0].text, QStringLiteral("SameAll"));
        QCOMPARE(Prompts::shown()[0].position, target->mapToGlobal(pos));
        QCOMPARE(m_table->Row(), 1);
        for (int r = 1; r < m_table->Rows(); ++r)
            QCOMPARE(m_table->TextMatrix(r, ColBackColor), QStringLiteral("-1"));
    }

    // The order itself is the table's (tst_jobtable); the menu sorts from the current
    // row down and highlights that block.
    void sortFromCurrentRow_data()
    {
        QTest::addColumn<QString>("action");
        QTest::addColumn<int>("current");
        QTest::addColumn<QStringList>("after");
        QTest::addColumn<QList<int>>("block");
        QTest::newRow("昇順 from the second row") << "SortFile(0)" << 2
                                                 << QStringList{"d.jpg", "a.jpg", "b.jpg", "c.jpg"}
                                                 << QList<int>{2, 3, 4};
        QTest::newRow("降順 from the first row") << "SortFile(1)" << 1
                                                << QStringList{"d.jpg", "c.jpg", "b.jpg", "a.jpg"}
                                                << QList<int>{1, 2, 3, 4};
        QTest::newRow("昇順 from the last row: all") << "SortFile(0)" << 4
                                                    << QStringList{"a.jpg", "b.jpg", "c.jpg", "d.jpg"}
                                                    << QList<int>{4};
    }
    void sortFromCurrentRow()
    {
        QFETCH(QString, action);
        QFETCH(int, current);
        QFETCH(QStringList, after);
        QFETCH(QList<int>, block);
        fill({"d.jpg", "c.jpg", "b.jpg", "a.jpg"});
        m_table->setRow(current);
        entry(action.toLatin1())->trigger();
        QCOMPARE(names(*m_table), after);
        QCOMPARE(m_table->Row(), current);
        QCOMPARE(highlighted(*m_table), block);
    }

    // Anywhere on the grid: the preview window comes, modeless; its close box only
    // hides it, and the next double-click brings the same window back.
    void doubleClickShowsPreview_data()
    {
        QTest::addColumn<QString>("where");
        QTest::newRow("row") << "row 3";
        QTest::newRow("header") << "header";
        QTest::newRow("below the rows") << "empty";
    }
    void doubleClickShowsPreview()
    {
        QFETCH(QString, where);
        fill({"a.jpg", "b.jpg", "c.jpg"});
        const auto [target, pos] = place(where);
        const QPointer<Form2> alive(m_preview);
        QVERIFY(!m_preview->isVisible());
        QTest::mouseDClick(target, Qt::LeftButton, {}, pos);
        QVERIFY(m_preview->isVisible());
        QVERIFY(!QApplication::activeModalWidget());
        m_preview->close();
        QVERIFY(alive && !m_preview->isVisible());
        QTest::mouseDClick(target, Qt::LeftButton, {}, pos);
        QVERIFY(alive && m_preview->isVisible());
    }
};

QTEST_MAIN(TestRowCommands)
#include "tst_rowcommands.moc"

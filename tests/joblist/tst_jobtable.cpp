// The job table without a view: rows as values, removal, the current row and the
// highlighted block, and the sort by file name.

#include "joblist/jobcolumns.h"
#include "joblist/jobtable.h"
#include "tests/common/jobrows.h"

#include <QAbstractItemModelTester>
#include <QItemSelectionModel>
#include <QSignalSpy>
#include <QTest>

using namespace kestrovia;
using testui::column;

namespace {

// One job row per name; path and level carry the name so that whole rows can be
// seen to move together.
void appendRows(JobTable &t, const QStringList &names)
{
    for (const QString &name : names) {
        JobRow j;
        j.fileName = name;
        j.path = "/p/" + name;
        j.compression = name.left(1);
        t.appendJob(j);
    }
}

} // namespace

class TestJobTable : public QObject {
    Q_OBJECT
private slots:
    // A row goes in and comes out as the same value; the arrow and the reserved
    // columns are the table's own.
    void jobRowRoundTrip()
    {
        JobTable t;
        QAbstractItemModelTester tester(&t, QAbstractItemModelTester::FailureReportingMode::QtTest);
        t.setTextMatrix(0, ColFileName, "ファイル名");
        QCOMPARE(t.headerData(ColFileName, Qt::Horizontal).toString(), QStringLiteral("ファイル名"));
        t.appendJob({"a.jpg", "8*6", "/p/a.jpg", "4*3", "ON", "255", "Center", "+90°", "/out/", "3.7"});
        t.appendJob(t.jobRow(1));
        t.appendJob(t.jobRow(0)); // outside the job rows: an empty row
        const QStringList cells{"a.jpg",  "8*6",  "/p/a.jpg", "→", "4*3",   "ON", "255",
                                "Center", "+90°", "",         "",  "/out/", "3.7"};
        for (int r = 1; r <= 3; ++r) {
            for (int c = 0; c < t.Cols(); ++c)
                QCOMPARE(t.TextMatrix(r, c), r < 3 || c == ColArrow ? cells[c] : QString());
        }
    }

    void remove()
    {
        JobTable t;
        QAbstractItemModelTester tester(&t, QAbstractItemModelTester::FailureReportingMode::QtTest);
        appendRows(t, {"a.jpg", "b.jpg", "c.jpg"});
        t.setRow(2);
        QSignalSpy selChange(&t, &JobTable::SelChange);
        t.RemoveItem(2);
        QCOMPARE(column(t, ColFileName), QStringList({"a.jpg", "c.jpg"}));
        // The row below moved up into the current row's place.
        QCOMPARE(t.Row(), 2);
        QCOMPARE(t.TextMatrix(t.Row(), ColPath), QStringLiteral("/p/c.jpg"));
        // The header row and rows that do not exist are never removed.
        t.RemoveItem(0);
        t.RemoveItem(7);
        QCOMPARE(t.Rows(), 3);
        t.RemoveItem(1);
        t.RemoveItem(1);
        QCOMPARE(t.Rows(), 1);
        QCOMPARE(t.Row(), 0);
        t.RemoveItem(1);
        QCOMPARE(t.Rows(), 1);
        QCOMPARE(selChange.count(), 0);
    }

    void rowAndRowSel()
    {
        JobTable t;
        appendRows(t, {"a", "b", "c", "d"});
        QSignalSpy selChange(&t, &JobTable::SelChange);
        t.setRow(0); // the header row cannot become current
        QCOMPARE(t.Row(), 0);
        t.setRow(2);
        QCOMPARE(selChange.count(), 1);
        t.setRowSel(4);
        QCOMPARE(QList<int>({t.Row(), t.RowSel(), int(t.selectionModel()->selectedRows().size())}),
                 QList<int>({2, 4, 3}));
        QCOMPARE(selChange.count(), 2);
        t.setRowSel(4); // nothing moved
        QCOMPARE(selChange.count(), 2);
    }

    // From the current row to RowSel, or every row when they are the same row.
    void sort_data()
    {
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<int>("current");
        QTest::addColumn<int>("code");
        QTest::addColumn<QStringList>("expected");
        const QStringList acb{"a.jpg", "c.jpg", "b.jpg"};
        const QStringList dcba{"d.jpg", "c.jpg", "b.jpg", "a.jpg"};
        QTest::newRow("first row, ascending") << acb << 1 << 1 << QStringList{"a.jpg", "b.jpg", "c.jpg"};
        QTest::newRow("first row, descending") << acb << 1 << 2 << QStringList{"c.jpg", "b.jpg", "a.jpg"};
        QTest::newRow("second row down") << dcba << 2 << 1 << QStringList{"d.jpg", "a.jpg", "b.jpg", "c.jpg"};
        QTest::newRow("third row down, descending") << QStringList{"a.jpg", "b.jpg", "c.jpg", "d.jpg"} << 3 << 2
                                                    << QStringList{"a.jpg", "b.jpg", "d.jpg", "c.jpg"};
        QTest::newRow("last row sorts all") << dcba << 4 << 1 << QStringList{"a.jpg", "b.jpg", "c.jpg", "d.jpg"};
        QTest::newRow("unknown code") << dcba << 1 << 3 << dcba;
        QTest::newRow("one row") << QStringList{"z.jpg"} << 1 << 1 << QStringList{"z.jpg"};
        QTest::newRow("no rows") << QStringList{} << 0 << 1 << QStringList{};
        QTest::newRow("numbers as numbers")
            << QStringList{"10", "9", "100", "9.5"} << 1 << 1 << QStringList{"9", "9.5", "10", "100"};
        // A number against a text, and texts among themselves, compare as text;
        // letter case decides only between otherwise equal names.
        QTest::newRow("texts") << QStringList{"a9.jpg", "B.jpg", "9a", "a10.jpg", "b.jpg", "10"} << 1 << 1
                               << QStringList{"10", "9a", "a10.jpg", "a9.jpg", "B.jpg", "b.jpg"};
    }
    void sort()
    {
        QFETCH(QStringList, names);
        QFETCH(int, current);
        QFETCH(int, code);
        QFETCH(QStringList, expected);
        JobTable t;
        QAbstractItemModelTester tester(&t, QAbstractItemModelTester::FailureReportingMode::QtTest);
        appendRows(t, names);
        t.setRow(current);
        t.setRowSel(t.Rows() - 1);
        QSignalSpy selChange(&t, &JobTable::SelChange);
        t.setSort(code);
        QCOMPARE(column(t, ColFileName), expected);
        // Whole rows moved: each name still stands beside its own path and level.
        for (int r = 1; r < t.Rows(); ++r) {
            QCOMPARE(t.TextMatrix(r, ColPath), "/p/" + t.TextMatrix(r, ColFileName));
            QCOMPARE(t.TextMatrix(r, ColCompression), t.TextMatrix(r, ColFileName).left(1));
        }
        QCOMPARE(t.Row(), current);
        QCOMPARE(t.RowSel(), t.Rows() - 1);
        QCOMPARE(selChange.count(), 0);
    }

    // Equal names keep their previous order, among enough rows that an unstable
    // sort would show.
    void sortKeepsEqualNamesInOrder()
    {
        JobTable t;
        QStringList as, bs;
        for (int i = 1; i <= 40; ++i) {
            const QString name = i % 3 ? "a.jpg" : "b.jpg";
            appendRows(t, {name});
            t.setTextMatrix(i, ColPath, QStringLiteral("/%1/").arg(i) + name);
            (i % 3 ? as : bs) << t.TextMatrix(i, ColPath);
        }
        t.setRow(1);
        t.setSort(2);
        QCOMPARE(column(t, ColPath), bs + as);
        t.setSort(1);
        QCOMPARE(column(t, ColPath), as + bs);
    }
};

QTEST_MAIN(TestJobTable)
#include "tst_jobtable.moc"

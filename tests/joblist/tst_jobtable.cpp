#include "joblist/jobcolumns.h"
#include "joblist/jobtable.h"

#include <QAbstractItemModelTester>
#include <QItemSelectionModel>
#include <QSignalSpy>
#include <QTest>

using namespace kestrovia;

namespace {

// Appends one job row per name; the path column carries a marker so that tests
// can see whole rows move together.
void appendRows(JobTable &t, const QStringList &names)
{
    for (const QString &name : names) {
        t.setRows(t.Rows() + 1);
        const int r = t.Rows() - 1;
        t.setTextMatrix(r, ColFileName, name);
        t.setTextMatrix(r, ColPath, QStringLiteral("/p/") + name);
        t.setTextMatrix(r, ColCompression, name.left(1));
    }
}

QStringList column(const JobTable &t, int col)
{
    QStringList out;
    for (int r = 1; r < t.Rows(); ++r)
        out << t.TextMatrix(r, col);
    return out;
}

} // namespace

class TestJobTable : public QObject {
    Q_OBJECT
private slots:
    void startsWithHeaderOnly()
    {
        JobTable t;
        QAbstractItemModelTester tester(&t, QAbstractItemModelTester::FailureReportingMode::QtTest);
        QCOMPARE(t.Rows(), 1);
        QCOMPARE(t.Cols(), 13);
        QCOMPARE(t.Row(), 0);
        QCOMPARE(t.rowCount(), 0);
        t.setTextMatrix(0, ColFileName, QStringLiteral("ファイル名"));
        QCOMPARE(t.headerData(ColFileName, Qt::Horizontal).toString(), QStringLiteral("ファイル名"));
    }

    void appendAndRemove()
    {
        JobTable t;
        QAbstractItemModelTester tester(&t, QAbstractItemModelTester::FailureReportingMode::QtTest);
        appendRows(t, {QStringLiteral("a.jpg"), QStringLiteral("b.jpg"), QStringLiteral("c.jpg")});
        QCOMPARE(t.Rows(), 4);
        QCOMPARE(t.TextMatrix(2, ColPath), QStringLiteral("/p/b.jpg"));
        QCOMPARE(t.TextMatrix(2, ColNewSize), QString());

        t.setRow(2);
        QSignalSpy selChange(&t, &JobTable::SelChange);
        t.RemoveItem(2);
        QCOMPARE(column(t, ColFileName), QStringList({"a.jpg", "c.jpg"}));
        // The row below moved up into the current row's place.
        QCOMPARE(t.Row(), 2);
        QCOMPARE(t.TextMatrix(t.Row(), ColFileName), QStringLiteral("c.jpg"));

        t.RemoveItem(0);
        t.RemoveItem(7);
        QCOMPARE(t.Rows(), 3);
        QCOMPARE(t.TextMatrix(0, ColFileName), QStringLiteral(""));
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
        appendRows(t, {QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c"), QStringLiteral("d")});
        QSignalSpy selChange(&t, &JobTable::SelChange);
        t.setRow(0); // the header row cannot become current
        QCOMPARE(t.Row(), 0);
        t.setRow(2);
        QCOMPARE(t.Row(), 2);
        QCOMPARE(t.RowSel(), 2);
        QCOMPARE(selChange.count(), 1);
        t.setRowSel(4);
        QCOMPARE(t.Row(), 2);
        QCOMPARE(t.RowSel(), 4);
        QCOMPARE(t.selectionModel()->selectedRows().size(), 3);
        QCOMPARE(selChange.count(), 2);
        t.setRowSel(4); // nothing moved
        QCOMPARE(selChange.count(), 2);
    }

    void genericOrder()
    {
        QVERIFY(JobTable::genericCompare(QStringLiteral("9"), QStringLiteral("10")) < 0);
        QVERIFY(JobTable::genericCompare(QStringLiteral("10"), QStringLiteral("9.5")) > 0);
        QVERIFY(JobTable::genericCompare(QStringLiteral("2.0"), QStringLiteral("2")) == 0);
        // A number against a text compares as text.
        QVERIFY(JobTable::genericCompare(QStringLiteral("10"), QStringLiteral("9a")) < 0);
        QVERIFY(JobTable::genericCompare(QStringLiteral("a10.jpg"), QStringLiteral("a9.jpg")) < 0);
        QVERIFY(JobTable::genericCompare(QStringLiteral("B.jpg"), QStringLiteral("a.jpg")) > 0);
    }

    void sortRanges_data()
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
        QTest::newRow("last row sorts all") << dcba << 4 << 1 << QStringList{"a.jpg", "b.jpg", "c.jpg", "d.jpg"};
        QTest::newRow("unknown code") << dcba << 1 << 3 << dcba;
        QTest::newRow("numbers as numbers") << QStringList{"10", "9", "100"} << 1 << 1
                                            << QStringList{"9", "10", "100"};
    }
    void sortRanges()
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
            QCOMPARE(t.TextMatrix(r, ColPath), QStringLiteral("/p/") + t.TextMatrix(r, ColFileName));
            QCOMPARE(t.TextMatrix(r, ColCompression), t.TextMatrix(r, ColFileName).left(1));
        }
        QCOMPARE(t.Row(), current);
        QCOMPARE(t.RowSel(), t.Rows() - 1);
        QCOMPARE(t.TextMatrix(0, ColFileName), QString());
        QCOMPARE(selChange.count(), 0);
    }

    void sortKeepsEqualNamesInOrder()
    {
        JobTable t;
        appendRows(t, {QStringLiteral("b.jpg"), QStringLiteral("a.jpg"), QStringLiteral("a.jpg")});
        t.setTextMatrix(2, ColPath, QStringLiteral("/first/a.jpg"));
        t.setTextMatrix(3, ColPath, QStringLiteral("/second/a.jpg"));
        t.setRow(1);
        t.setSort(2);
        t.setSort(1);
        QCOMPARE(column(t, ColPath), QStringList({"/first/a.jpg", "/second/a.jpg", "/p/b.jpg"}));
    }

    void sortWithFewRows()
    {
        JobTable t;
        t.setSort(1);
        QCOMPARE(t.Rows(), 1);
        appendRows(t, {QStringLiteral("z.jpg")});
        t.setSort(1);
        QCOMPARE(column(t, ColFileName), QStringList({"z.jpg"}));
    }
};

QTEST_MAIN(TestJobTable)
#include "tst_jobtable.moc"

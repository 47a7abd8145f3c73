// The job table without a view: rows as values, removal, the current row and the
// highlighted block, and the sort by file name; and the rows dropped names become
// (which names are taken, in what order, with which cells from the panel's values).

#include "joblist/dropimport.h"
#include "joblist/jobcolumns.h"
#include "joblist/jobtable.h"
#include "platform/filename.h"
#include "tests/common/jobrows.h"

#include <QAbstractItemModelTester>
#include <QDir>
#include <QFile>
#include <QItemSelectionModel>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace kestrovia;
using testui::column;

Q_DECLARE_METATYPE(kestrovia::RowSettings)

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

DropResult drop(JobTable &t, const QStringList &paths, int *reads = nullptr)
{
    return appendDroppedFiles(t, paths, [reads] {
        if (reads)
            ++*reads;
        return RowSettings{};
    });
}

} // namespace

class TestJobTable : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_folder;

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        // Blanks and Japanese characters in the folder must survive into the cells.
        QVERIFY(QDir(m_dir.path()).mkpath("写真 フォルダ/x.jpg"));
        m_folder = m_dir.path() + "/写真 フォルダ/";
        for (const char *name : {"photo.JPG", "scan.Bmp", "a.jpg", "xjpg", "photo.jpeg", "icon.png", "b.bmp", "c.JFIF",
                                 "d.jpe", "e.TIFF", "f.tif", "g.webp", "h.gif", "i.HEIC", "j.heif", "a.psd", "b.raw"}) {
            QFile f(m_folder + QString::fromUtf8(name));
            QVERIFY(f.open(QIODevice::WriteOnly) && f.write("not decoded by the drop") > 0);
        }
        const int fd = ::open(encodeFileName(m_folder).append("caf\xE9.jpg").constData(), O_CREAT | O_WRONLY, 0644);
        QVERIFY(fd >= 0 && ::close(fd) == 0);
        QCOMPARE(::mkfifo(encodeFileName(m_folder + "pipe.jpg").constData(), 0644), 0);
    }

    // Qt cannot name the file whose name is no UTF-8, so it cannot remove it either.
    void cleanupTestCase() { QCOMPARE(::unlink(encodeFileName(m_folder).append("caf\xE9.jpg").constData()), 0); }

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
        const QStringList cells{"a.jpg", "8*6", "/p/a.jpg", "→",     "4*3", "ON", "255", "Center",
                                "+90°",  "",    "",         "/out/", "3.7", "",   "", "", ""};
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
        // RowSel bounds the sort and highlights its block; it moves nothing.
        t.setRowSel(4);
        QCOMPARE(QList<int>({t.Row(), t.RowSel()}), QList<int>({2, 4}));
        QCOMPARE(t.selectedRows(), QList<int>({2, 3, 4}));
        QCOMPARE(selChange.count(), 1);
        // A selection of rows, the current one among them.
        t.selectRows({4, 1, 9}, 4);
        QCOMPARE(t.selectedRows(), QList<int>({1, 4}));
        QCOMPARE(t.Row(), 4);
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
        JobTable t;
        QAbstractItemModelTester tester(&t, QAbstractItemModelTester::FailureReportingMode::QtTest);
        appendRows(t, names);
        t.setRow(current);
        t.setRowSel(t.Rows() - 1);
        QSignalSpy selChange(&t, &JobTable::SelChange);
        t.setSort(code);
        QTEST(column(t, ColFileName), "expected");
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

    // Every picture extension in any case, of an existing regular file, whatever
    // bytes its name holds; everything else is named with its reason.
    void namesTaken_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("reason"); // empty: taken
        for (const char *name : {"photo.JPG", "scan.Bmp", "photo.jpeg", "c.JFIF", "d.jpe", "icon.png", "e.TIFF",
                                 "f.tif", "g.webp", "h.gif", "i.HEIC", "j.heif"})
            QTest::newRow(name) << QString::fromUtf8(name) << "";
        QTest::newRow("name that is no UTF-8") << decodeFileName("caf\xE9.jpg") << "";
        QTest::newRow("xjpg, no dot") << "xjpg"
                                      << "対応していない形式";
        QTest::newRow("folder without pictures") << "x.jpg/"
                                                 << "画像がないフォルダ";
        QTest::newRow("vanished.jpg") << "vanished.jpg"
                                      << "見つかりません";
        QTest::newRow("FIFO") << "pipe.jpg"
                              << "通常のファイルではありません";
    }
    void namesTaken()
    {
        QFETCH(QString, name);
        QFETCH(QString, reason);
        JobTable t;
        const DropResult r = drop(t, {m_folder + name});
        QCOMPARE(r.appended, reason.isEmpty() ? 1 : 0);
        QCOMPARE(t.Rows(), reason.isEmpty() ? 2 : 1);
        QCOMPARE(r.notAdded.size(), reason.isEmpty() ? 0 : 1);
        if (reason.isEmpty()) {
            QCOMPARE(t.TextMatrix(1, ColPath), m_folder + name);
        } else {
            QCOMPARE(r.notAdded[0].name, name.chopped(name.endsWith('/') ? 1 : 0));
            QCOMPARE(r.notAdded[0].reason, reason);
            QVERIFY(notAddedNote(r.notAdded).contains(name.chopped(name.endsWith('/') ? 1 : 0)));
        }
    }

    // A dropped folder adds its pictures and then its sub-folders', each in name
    // order (numbers by their value, letter case aside), leaves hidden files and
    // other types out and says how many; a folder without pictures is named.
    void folderDrop()
    {
        QTemporaryDir d;
        const QString root = d.path() + "/旅行";
        for (const char *name : {"IMG_10.jpg", "IMG_9.jpg", "img_2.JPG", ".hidden.jpg", "notes.txt", "b/z.png",
                                 "a/y.gif", ".cache/x.jpg", "a/.x.jpg"}) {
            QVERIFY(QDir().mkpath(QFileInfo(root + '/' + name).absolutePath()));
            QFile f(root + '/' + name);
            QVERIFY(f.open(QIODevice::WriteOnly));
        }
        QVERIFY(QDir().mkpath(d.path() + "/空"));
        JobTable t;
        const DropResult r = drop(t, {root, d.path() + "/空"});
        QCOMPARE(column(t, ColFileName), QStringList({"img_2.JPG", "IMG_9.jpg", "IMG_10.jpg", "y.gif", "z.png"}));
        QCOMPARE(t.TextMatrix(4, ColPath), root + "/a/y.gif");
        QCOMPARE(r.notAdded.size(), 2);
        QCOMPARE(r.notAdded[0].name, QStringLiteral("旅行"));
        QVERIFY2(r.notAdded[0].reason.contains("1件"), qPrintable(r.notAdded[0].reason));
        QCOMPARE(r.notAdded[1].name, QStringLiteral("空"));
    }

    // A row shows its picture's size from the header when it is added, and its size
    // rule gives its new size from that, after its own turn.
    void sizesFromTheHeader_data()
    {
        QTest::addColumn<QString>("rule");
        QTest::addColumn<int>("turn");
        QTest::addColumn<QStringList>("newSizes"); // of a 400 x 300 and a 30 x 40 picture
        QTest::newRow("own size") << "original" << 0 << QStringList{"400*300", "30*40"};
        QTest::newRow("own size, turned") << "original" << 90 << QStringList{"300*400", "40*30"};
        QTest::newRow("long edge 160") << "long 160" << 0 << QStringList{"160*120", "120*160"};
        QTest::newRow("long edge 160, turned") << "long 160" << 270 << QStringList{"120*160", "160*120"};
        QTest::newRow("long edge 160, shrink only") << "long 160 shrink" << 0 << QStringList{"160*120", "30*40"};
        QTest::newRow("50 percent") << "percent 50" << 0 << QStringList{"200*150", "15*20"};
        QTest::newRow("exact") << "64*48" << 90 << QStringList{"64*48", "64*48"};
    }
    void sizesFromTheHeader()
    {
        QFETCH(QString, rule);
        QFETCH(int, turn);
        QImage picture(400, 300, QImage::Format_RGB32);
        picture.fill(Qt::darkCyan);
        QVERIFY(picture.save(m_folder + "wide.jpg", "JPEG"));
        QVERIFY(picture.scaled(30, 40).save(m_folder + "tall.png", "PNG"));
        JobTable t;
        RowSettings panel;
        rowField(RowField::Size).read(panel, rule);
        rowField(RowField::ShrinkOnly).read(panel, rule);
        panel.turn = std::int16_t(turn);
        appendDroppedFiles(t, {m_folder + "wide.jpg", m_folder + "tall.png"}, [&] { return panel; });
        QCOMPARE(column(t, ColOriginalSize), QStringList({"400*300", "30*40"}));
        QTEST(column(t, ColNewSize), "newSizes");
        QCOMPARE(column(t, ColSizeRule), QStringList({rule, rule}));
    }

    // The settings of new rows in their cells: the folder beside the picture unless
    // one is chosen.
    void panelValues_data()
    {
        QTest::addColumn<RowSettings>("panel");
        // columns 5 to 8, 11 to 16; "*": the file's own folder
        QTest::addColumn<QStringList>("settings");
        using M = MetadataChoice;
        QTest::newRow("untouched panel") << RowSettings{} << QStringList{"OFF", "-2147483643", "Top",     "", "*",
                                                                         "5",   "nolocation",  "original",
                                                                         "jpeg", "{名前}{_b}"};
        QTest::newRow("stretch, red, centre, +90, chosen folder, 3.7, everything kept")
            << RowSettings{{}, false, 255, true, 90, 3.7, "/out/", M::KeepAll, OutputFormat::Png, true, "{n:3}"}
            << QStringList{"ON", "255", "Center", "+90°", "/out/", "3.7", "all", "original", "png alpha", "{n:3}"};
        QTest::newRow("black, level 0, nothing kept, long edge")
            << RowSettings{{SizeRule::LongEdge, {}, 800, 50, true}, true, 0, false, 270, 0, "", M::DropAll}
            << QStringList{"OFF", "0", "Top", "-90°", "*", "0", "none", "long 800 shrink", "jpeg", "{名前}{_b}"};
        QTest::newRow("white, level 10, half turn, 25 %")
            << RowSettings{{SizeRule::Percent, {}, 1600, 25, false},
                           true,
                           16777215,
                           false,
                           180,
                           10,
                           "",
                           M::DropLocation,
                           OutputFormat::WebP}
            << QStringList{"OFF", "16777215", "Top", "+180°", "*", "10", "nolocation", "percent 25", "webp",
                           "{名前}{_b}"};
    }
    void panelValues()
    {
        QFETCH(RowSettings, panel);
        QFETCH(QStringList, settings);
        JobTable t;
        appendDroppedFiles(t, {m_folder + "scan.Bmp"}, [&] { return panel; });
        settings.replaceInStrings(QRegularExpression("^\\*$"), m_folder);
        QCOMPARE(testui::allCells(t)[1], QStringList({"scan.Bmp", "", m_folder + "scan.Bmp", "→", ""})
                                             + settings.mid(0, 4) + QStringList({"", ""}) + settings.mid(4));
        // What the row holds reads back as what it was given.
        QCOMPARE(rowSettingsOf(t.jobRow(1)), panel);
    }

    // List order, duplicates kept, the panel read once per taken name; a second
    // drop appends; the current row and the selection stay as they were.
    void orderAndSelection()
    {
        JobTable t;
        int reads = 0;
        const DropResult r = drop(t,
                                  {m_folder + "b.bmp", m_folder + "a.psd", m_folder + "a.jpg", m_folder + "x.jpg",
                                   m_folder + "b.raw", m_folder + "a.jpg"},
                                  &reads);
        QCOMPARE(r.appended, 3);
        QStringList notAdded;
        for (const NotAdded &n : r.notAdded)
            notAdded << n.name;
        QCOMPARE(notAdded, QStringList({"a.psd", "x.jpg", "b.raw"}));
        QCOMPARE(reads, 3);
        t.setRow(2);
        QSignalSpy selChange(&t, &JobTable::SelChange);
        drop(t, {m_folder + "scan.Bmp"});
        QCOMPARE(testui::column(t, ColFileName), QStringList({"b.bmp", "a.jpg", "a.jpg", "scan.Bmp"}));
        QCOMPARE(t.Row(), 2);
        QCOMPARE(t.RowSel(), 2);
        QCoreApplication::processEvents();
        QCOMPARE(selChange.count(), 0);
    }
};

QTEST_MAIN(TestJobTable)
#include "tst_jobtable.moc"

#include "joblist/dropimport.h"
#include "joblist/jobcolumns.h"
#include "joblist/jobtable.h"

#include <QDir>
#include <QFile>
#include <QItemSelectionModel>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace kestrovia;

namespace {

QStringList column(const JobTable &t, int col)
{
    QStringList out;
    for (int r = 1; r < t.Rows(); ++r)
        out << t.TextMatrix(r, col);
    return out;
}

QStringList rowCells(const JobTable &t, int row)
{
    QStringList out;
    for (int c = 0; c < t.Cols(); ++c)
        out << t.TextMatrix(row, c);
    return out;
}

} // namespace

class TestDropImport : public QObject {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        // Blanks and Japanese characters in the folder must survive into the cells.
        QVERIFY(QDir(m_dir.path()).mkpath("写真 フォルダ/x.jpg"));
        m_folder = m_dir.path() + "/写真 フォルダ/";
        for (const char *name : {"photo.JPG", "scan.Bmp", "a.jpg", "xjpg", "photo.jpeg", "icon.png",
                                 "anim.gif", "b.bmp"}) {
            QFile f(m_folder + QString::fromUtf8(name));
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("not decoded by the drop");
        }
    }

    void threeLetterTest_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("photo.JPG") << "photo.JPG" << true;
        QTest::newRow("scan.Bmp") << "scan.Bmp" << true;
        QTest::newRow("a.jpg") << "a.jpg" << true;
        QTest::newRow("xjpg, no dot") << "xjpg" << true;
        QTest::newRow("photo.jpeg") << "photo.jpeg" << false;
        QTest::newRow("icon.png") << "icon.png" << false;
        QTest::newRow("anim.gif") << "anim.gif" << false;
        QTest::newRow("folder x.jpg") << "x.jpg" << false;
        QTest::newRow("vanished.jpg") << "vanished.jpg" << false;
        QTest::newRow("folder path with slash") << "x.jpg/" << false;
    }
    void threeLetterTest()
    {
        QFETCH(QString, name);
        QFETCH(bool, accepted);
        JobTable t;
        const int n = appendDroppedFiles(t, {m_folder + name}, [] { return DropPanelValues{}; });
        QCOMPARE(n, accepted ? 1 : 0);
        QCOMPARE(t.Rows(), accepted ? 2 : 1);
    }

    void untouchedPanelRow()
    {
        JobTable t;
        appendDroppedFiles(t, {m_folder + "photo.JPG"}, [] { return DropPanelValues{}; });
        QCOMPARE(rowCells(t, 1),
                 QStringList({"photo.JPG", "", m_folder + "photo.JPG", "→", "", "OFF", "-2147483643", "Top", "",
                              "", "", m_folder, "5"}));
    }

    void listOrderAndDuplicates()
    {
        JobTable t;
        int reads = 0;
        const QStringList dropped = {m_folder + "b.bmp", m_folder + "icon.png", m_folder + "a.jpg",
                                     m_folder + "x.jpg", m_folder + "a.jpg"};
        const int n = appendDroppedFiles(t, dropped, [&] {
            ++reads;
            return DropPanelValues{};
        });
        QCOMPARE(n, 3);
        QCOMPARE(reads, 3); // once per accepted file, never for a skipped name
        QCOMPARE(column(t, ColFileName), QStringList({"b.bmp", "a.jpg", "a.jpg"}));
        QCOMPARE(column(t, ColPath).at(1), column(t, ColPath).at(2));

        // A second drop appends after the first.
        appendDroppedFiles(t, {m_folder + "scan.Bmp"}, [] { return DropPanelValues{}; });
        QCOMPARE(column(t, ColFileName), QStringList({"b.bmp", "a.jpg", "a.jpg", "scan.Bmp"}));
    }

    void relativePathBecomesAbsolute()
    {
        const QString before = QDir::currentPath();
        QVERIFY(QDir::setCurrent(m_folder));
        JobTable t;
        appendDroppedFiles(t, {"a.jpg"}, [] { return DropPanelValues{}; });
        QDir::setCurrent(before);
        QCOMPARE(t.TextMatrix(1, ColPath), QFileInfo(m_folder + "a.jpg").absoluteFilePath());
        QVERIFY(t.TextMatrix(1, ColSaveFolder).endsWith('/'));
        QCOMPARE(t.TextMatrix(1, ColSaveFolder) + "a.jpg", t.TextMatrix(1, ColPath));
    }

    void panelValues_data()
    {
        QTest::addColumn<bool>("keepAspect");
        QTest::addColumn<int>("backColor");
        QTest::addColumn<bool>("topLeft");
        QTest::addColumn<QString>("rotation");
        QTest::addColumn<bool>("sameFolder");
        QTest::addColumn<QString>("saveText");
        QTest::addColumn<int>("compress");
        QTest::addColumn<QStringList>("cells"); // columns 5, 6, 7, 8, 11, 12; "*" = own folder
        QTest::newRow("stretch, red, centre, +90, chosen folder, 37")
            << false << 255 << false << "+90°" << false << "/out/" << 37
            << QStringList({"ON", "255", "Center", "+90°", "/out/", "3.7"});
        QTest::newRow("chosen place but empty text: own folder, level 0")
            << true << 0 << true << " " << false << "" << 0
            << QStringList({"OFF", "0", "Top", " ", "*", "0"});
        QTest::newRow("same folder wins over a text, level 100")
            << true << 16777215 << true << "-90°" << true << "/out/" << 100
            << QStringList({"OFF", "16777215", "Top", "-90°", "*", "10"});
        QTest::newRow("typed rotation verbatim, level 5")
            << true << -2147483643 << true << "abc" << true << "" << 5
            << QStringList({"OFF", "-2147483643", "Top", "abc", "*", "0.5"});
    }
    void panelValues()
    {
        QFETCH(bool, keepAspect);
        QFETCH(int, backColor);
        QFETCH(bool, topLeft);
        QFETCH(QString, rotation);
        QFETCH(bool, sameFolder);
        QFETCH(QString, saveText);
        QFETCH(int, compress);
        QFETCH(QStringList, cells);
        const DropPanelValues panel{keepAspect, backColor, topLeft, rotation, sameFolder, saveText, compress};
        JobTable t;
        appendDroppedFiles(t, {m_folder + "scan.Bmp"}, [&] { return panel; });
        cells.replaceInStrings(QRegularExpression("^\\*$"), m_folder);
        const QStringList got = {t.TextMatrix(1, ColFit), t.TextMatrix(1, ColBackColor),
                                 t.TextMatrix(1, ColPosition), t.TextMatrix(1, ColRotation),
                                 t.TextMatrix(1, ColSaveFolder), t.TextMatrix(1, ColCompression)};
        QCOMPARE(got, cells);
    }

    // The drop only appends: the current row stays, and no selection change runs
    // the selection sync.
    void currentRowAndSelectionUntouched()
    {
        JobTable t;
        appendDroppedFiles(t, {m_folder + "a.jpg", m_folder + "b.bmp"}, [] { return DropPanelValues{}; });
        t.setRow(2);
        QSignalSpy selChange(&t, &JobTable::SelChange);
        appendDroppedFiles(t, {m_folder + "scan.Bmp", m_folder + "xjpg"}, [] { return DropPanelValues{}; });
        QCOMPARE(t.Rows(), 5);
        QCOMPARE(t.Row(), 2);
        QCOMPARE(t.RowSel(), 2);
        QCOMPARE(rowCells(t, 3).at(ColOriginalSize), QString());
        QCOMPARE(rowCells(t, 3).at(ColNewSize), QString());
        QCoreApplication::processEvents();
        QCOMPARE(selChange.count(), 0);
    }

private:
    QTemporaryDir m_dir;
    QString m_folder;
};

QTEST_GUILESS_MAIN(TestDropImport)
#include "tst_dropimport.moc"

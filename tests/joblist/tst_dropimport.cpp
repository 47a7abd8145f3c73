// Dropped names to job rows: which names are taken, in what order, and the cells
// a taken name's row gets from the panel's values.

#include "joblist/dropimport.h"
#include "joblist/jobcolumns.h"
#include "joblist/jobtable.h"
#include "tests/common/jobrows.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace kestrovia;

Q_DECLARE_METATYPE(kestrovia::DropPanelValues)

namespace {

DropResult drop(JobTable &t, const QStringList &paths, int *reads = nullptr)
{
    return appendDroppedFiles(t, paths, [reads] {
        if (reads)
            ++*reads;
        return DropPanelValues{};
    });
}

} // namespace

class TestDropImport : public QObject {
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
    }

    // Every picture extension in any case, of an existing regular file; other files
    // are named as left out, folders and vanished names are skipped silently.
    void namesTaken_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("accepted");
        QTest::addColumn<bool>("named");
        for (const char *name : {"photo.JPG", "scan.Bmp", "photo.jpeg", "c.JFIF", "d.jpe", "icon.png", "e.TIFF",
                                 "f.tif", "g.webp", "h.gif", "i.HEIC", "j.heif"})
            QTest::newRow(name) << QString::fromUtf8(name) << true << false;
        QTest::newRow("xjpg, no dot") << "xjpg" << false << true;
        QTest::newRow("folder path with slash") << "x.jpg/" << false << false;
        QTest::newRow("vanished.jpg") << "vanished.jpg" << false << false;
    }
    void namesTaken()
    {
        QFETCH(QString, name);
        QFETCH(bool, accepted);
        QFETCH(bool, named);
        JobTable t;
        const DropResult r = drop(t, {m_folder + name});
        QCOMPARE(r.appended, accepted ? 1 : 0);
        QCOMPARE(t.Rows(), accepted ? 2 : 1);
        QCOMPARE(r.unsupported, named ? QStringList{name} : QStringList());
    }

    void panelValues_data()
    {
        QTest::addColumn<DropPanelValues>("panel");
        QTest::addColumn<QStringList>("settings"); // columns 5 to 8, 11 and 12; "*": the file's own folder
        QTest::newRow("untouched panel") << DropPanelValues{} << QStringList{"OFF", "-2147483643", "Top", "", "*", "5"};
        QTest::newRow("stretch, red, centre, +90, chosen folder, 37")
            << DropPanelValues{false, 255, false, "+90°", false, "/out/", 37}
            << QStringList{"ON", "255", "Center", "+90°", "/out/", "3.7"};
        QTest::newRow("chosen place but empty text: own folder, level 0")
            << DropPanelValues{true, 0, true, " ", false, "", 0} << QStringList{"OFF", "0", "Top", " ", "*", "0"};
        QTest::newRow("same folder wins over a text, level 100")
            << DropPanelValues{true, 16777215, true, "-90°", true, "/out/", 100}
            << QStringList{"OFF", "16777215", "Top", "-90°", "*", "10"};
        QTest::newRow("typed turn verbatim, level 5")
            << DropPanelValues{true, 0, true, "abc", true, "", 5} << QStringList{"OFF", "0", "Top", "abc", "*", "0.5"};
    }
    void panelValues()
    {
        QFETCH(DropPanelValues, panel);
        QFETCH(QStringList, settings);
        JobTable t;
        appendDroppedFiles(t, {m_folder + "scan.Bmp"}, [&] { return panel; });
        settings.replaceInStrings(QRegularExpression("^\\*$"), m_folder);
        QCOMPARE(testui::rowCells(t, 1), QStringList({"scan.Bmp", "", m_folder + "scan.Bmp", "→", ""})
                                             + settings.mid(0, 4) + QStringList({"", ""}) + settings.mid(4));
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
        QCOMPARE(r.unsupported, QStringList({"a.psd", "b.raw"}));
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

QTEST_GUILESS_MAIN(TestDropImport)
#include "tst_dropimport.moc"

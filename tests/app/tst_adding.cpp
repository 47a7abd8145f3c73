// Adding pictures through the main window: the names are read off the window's
// thread (rows come while a slow read is held, Escape and 中止 stop it, closing the
// window ends it), names that are no UTF-8 from a file manager's drop and from the
// command line become rows that convert, the list takes the window's height, and a
// note longer than the strip is readable in full.

#include "app/commandline.h"
#include "app/form1.h"
#include "app/prompts.h"
#include "app/startup.h"
#include "joblist/jobcolumns.h"
#include "joblist/joblistview.h"
#include "joblist/jobtable.h"
#include "platform/filename.h"
#include "tests/common/heldreads.h"
#include "tests/common/jobrows.h"
#include "tests/common/widgets.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QImage>
#include <QLabel>
#include <QMimeData>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <dirent.h>

using namespace kestrovia;
using testui::control;

namespace {

// Small real pictures under folder, made through a name of plain letters and then
// given their own bytes (which need not be UTF-8).
bool makePictures(const QString &folder, const QList<QByteArray> &names)
{
    if (!QDir().mkpath(folder))
        return false;
    QImage picture(40, 30, QImage::Format_RGB32);
    picture.fill(Qt::darkCyan);
    for (const QByteArray &name : names) {
        const QString plain = folder + "/plain.jpg";
        if (!picture.save(plain, "JPEG")
            || ::rename(encodeFileName(plain).constData(), (encodeFileName(folder) + '/' + name).constData()) != 0)
            return false;
    }
    return true;
}

// The names in a folder, as the file system holds them.
QList<QByteArray> namesIn(const QByteArray &folder)
{
    QList<QByteArray> names;
    if (DIR *dir = ::opendir(folder.constData())) {
        while (const dirent *entry = ::readdir(dir))
            if (entry->d_name[0] != '.')
                names << entry->d_name;
        ::closedir(dir);
    }
    return names;
}

QString strip(Form1 &f) { return control<QLabel>(&f, "Label15")->text(); }

} // namespace

class TestAdding : public QObject {
    Q_OBJECT

    QTemporaryDir m_tmp;

private slots:
    void initTestCase() { QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_tmp.path() + "/config"); }
    void init()
    {
        Prompts::setScripted(true);
        Prompts::clearShown();
    }

    // While a slow header read is held, the rows found before it are in the list,
    // the window takes events, 処理実行 waits and the strip offers 中止; Escape
    // stops the adding and the rows found stay.
    void rowsComeWhileAReadIsHeld()
    {
        QTemporaryDir d;
        QVERIFY(makePictures(d.path() + "/f", {"a.jpg", "b.jpg", "slow.jpg", "z.jpg"}));
        Form1 f;
        QVERIFY(testui::shown(&f, true));
        testui::HeldReads held(*f.dropImport(), "slow");
        f.appendFiles({d.path() + "/f"});
        QTRY_COMPARE(held.waiting(), 1);
        QTRY_COMPARE(testui::column(*f.table(), ColFileName), QStringList({"a.jpg", "b.jpg"}));
        QCOMPARE(f.table()->TextMatrix(1, ColOriginalSize), QStringLiteral("40*30"));
        QVERIFY(!held.readOn(std::this_thread::get_id()));
        QVERIFY(f.isAdding());
        QVERIFY(!control<QAbstractButton>(&f, "BtnMain")->isEnabled());
        QVERIFY(control<QLabel>(&f, "LinkStopAdding")->isVisible());
        QVERIFY2(strip(f).contains("2件"), qPrintable(strip(f)));
        QVERIFY(!control<QLabel>(&f, "LinkNoteDetails")->isVisible());

        QTest::keyClick(&f, Qt::Key_Escape);
        QTRY_VERIFY(!f.isAdding());
        QVERIFY(control<QAbstractButton>(&f, "BtnMain")->isEnabled());
        QVERIFY(!control<QLabel>(&f, "LinkStopAdding")->isVisible());
        QVERIFY2(strip(f).contains("中止"), qPrintable(strip(f)));
        QVERIFY(!testui::column(*f.table(), ColFileName).contains("z.jpg"));
    }

    // The rows a drop adds become the selection, the first of them current; a row
    // the user picks while they come keeps the selection.
    void addedRowsBecomeTheSelection()
    {
        QTemporaryDir d;
        QVERIFY(makePictures(d.path() + "/f", {"a.jpg", "b.jpg", "c.jpg"}));
        QVERIFY(makePictures(d.path() + "/g", {"x.jpg", "slow.jpg", "y.jpg"}));
        Form1 f;
        QVERIFY(testui::shown(&f));
        f.table()->appendJob(testui::jobFor("/nowhere/before.jpg", "/out/"));
        f.appendFiles({d.path() + "/f"});
        QTRY_VERIFY(!f.isAdding());
        QCOMPARE(f.table()->selectedRows(), QList<int>({2, 3, 4}));
        QCOMPARE(f.table()->Row(), 2);

        testui::HeldReads held(*f.dropImport(), "slow");
        f.appendFiles({d.path() + "/g"});
        QTRY_COMPARE(held.waiting(), 1);
        f.table()->setRow(1);
        held.open();
        QTRY_VERIFY(!f.isAdding());
        QCOMPARE(f.table()->Rows(), 8);
        QCOMPARE(f.table()->selectedRows(), QList<int>{1});
    }

    // 中止 in the strip stops it as Escape does; a drop after it is read whole.
    void stopLinkThenAnotherDrop()
    {
        QTemporaryDir d;
        QVERIFY(makePictures(d.path() + "/f", {"slow.jpg", "x.jpg"}));
        QVERIFY(makePictures(d.path() + "/g", {"y.jpg"}));
        Form1 f;
        QVERIFY(testui::shown(&f));
        testui::HeldReads held(*f.dropImport(), "slow");
        f.appendFiles({d.path() + "/f"});
        QTRY_COMPARE(held.waiting(), 1);
        emit control<QLabel>(&f, "LinkStopAdding")->linkActivated("stop");
        QTRY_VERIFY(!f.isAdding());
        f.appendFiles({d.path() + "/g"});
        QTRY_VERIFY(!f.isAdding());
        QVERIFY(testui::column(*f.table(), ColFileName).endsWith("y.jpg"));
        QVERIFY(!testui::column(*f.table(), ColFileName).contains("x.jpg"));
    }

    // Closing the window while a read is held ends the adding and the window.
    void closingDuringADrop()
    {
        QTemporaryDir d;
        QVERIFY(makePictures(d.path() + "/f", {"slow.jpg"}));
        auto f = std::make_unique<Form1>();
        QVERIFY(testui::shown(f.get()));
        testui::HeldReads held(*f->dropImport(), "slow");
        f->appendFiles({d.path() + "/f"});
        QTRY_COMPARE(held.waiting(), 1);
        QVERIFY(f->close());
        f.reset();
        QCOMPARE(held.waiting(), 0);
    }

    // A file manager's drop of a name that is no UTF-8 (sent percent-encoded) and
    // the same name on the command line become rows naming the file, and a run
    // writes their outputs.
    void namesThatAreNoUtf8_data()
    {
        QTest::addColumn<bool>("commandLine");
        QTest::newRow("drop") << false;
        QTest::newRow("command line") << true;
    }
    void namesThatAreNoUtf8()
    {
        QFETCH(bool, commandLine);
        QTemporaryDir d;
        QVERIFY(makePictures(d.path(), {"caf\xE9.jpg"}));
        const QByteArray source = encodeFileName(d.path()) + "/caf\xE9.jpg";
        std::unique_ptr<Form1> f;
        if (commandLine) {
            QByteArray program("kestrovia"), name = source;
            char *argv[] = {program.data(), name.data()};
            f = openMainWindow(CommandLine(CommandLine::argumentsOf(2, argv)).files());
        } else {
            f = std::make_unique<Form1>();
            QVERIFY(testui::shown(f.get()));
            QMimeData data;
            data.setData("text/uri-list", "file://" + source.toPercentEncoding("/") + "\r\n");
            QVERIFY(testui::dropData(control<JobListView>(f.get(), "PicsGalary")->viewport(), data));
        }
        QTRY_VERIFY(!f->isAdding());
        QCOMPARE(f->table()->Rows(), 2);
        QCOMPARE(encodeFileName(f->table()->TextMatrix(1, ColPath)), source);
        f->table()->setTextMatrix(1, ColSaveFolder, d.path() + "/out/");
        QVERIFY(QDir().mkpath(d.path() + "/out"));
        auto *start = control<QAbstractButton>(f.get(), "BtnMain");
        start->click();
        QTRY_VERIFY_WITH_TIMEOUT(start->text() != QString::fromUtf8("中止"), 30000);
        const QByteArray out = encodeFileName(d.path()) + "/out/";
        const QList<QByteArray> written = namesIn(out);
        QCOMPARE(written.size(), 1);
        QVERIFY2(written[0].startsWith("caf\xE9") && written[0].endsWith(".jpg"), written[0].constData());
        // QTemporaryDir cannot name them to remove them.
        QCOMPARE(::unlink((out + written[0]).constData()), 0);
        QCOMPARE(::unlink(source.constData()), 0);
    }

    // A taller window gives the list the height; the panel keeps its own, the
    // buttons and the strip stay under the list, and the height is kept with the
    // window's place between starts.
    void theListTakesTheHeight()
    {
        QRect grid0, panel0, start0, add0;
        int taller = 0;
        {
            Form1 f;
            f.restoreSettings();
            QVERIFY(testui::shown(&f));
            auto *grid = control<JobListView>(&f, "PicsGalary");
            grid0 = grid->geometry();
            panel0 = control<QWidget>(&f, "Frame1")->geometry();
            start0 = control<QWidget>(&f, "BtnMain")->geometry();
            add0 = control<QWidget>(&f, "BtnAdd")->geometry();
            const QRect strip0 = control<QLabel>(&f, "Label15")->geometry();
            taller = f.height() + 240;
            f.resize(f.width(), taller);
            QTRY_COMPARE(grid->height(), grid0.height() + 240);
            QCOMPARE(grid->geometry().top(), grid0.top());
            QCOMPARE(control<QWidget>(&f, "Frame1")->geometry(), panel0);
            QCOMPARE(control<QWidget>(&f, "BtnMain")->geometry(), start0.translated(0, 240));
            QCOMPARE(control<QWidget>(&f, "BtnAdd")->geometry(), add0.translated(0, 240));
            QCOMPARE(control<QLabel>(&f, "Label15")->geometry().top(), strip0.top() + 240);
            QVERIFY(f.close());
        }
        Form1 again;
        again.restoreSettings();
        QVERIFY(testui::shown(&again));
        QCOMPARE(again.height(), taller);
        QTRY_COMPARE(control<JobListView>(&again, "PicsGalary")->height(), grid0.height() + 240);
        QCOMPARE(control<QWidget>(&again, "BtnMain")->geometry(), start0.translated(0, 240));
    }

    // A note longer than the strip: 詳細… (reached by Tab) shows all of it, with
    // every name left out and its reason.
    void aLongNoteIsReadableInFull()
    {
        QTemporaryDir d;
        QStringList names;
        for (int i = 0; i < 6; ++i)
            names << d.path() + QStringLiteral("/とても長い名前の写真ファイル_%1.jpg").arg(i);
        Form1 f;
        QVERIFY(testui::shown(&f));
        f.appendFiles(names);
        QTRY_VERIFY(!f.isAdding());
        auto *details = control<QLabel>(&f, "LinkNoteDetails");
        QVERIFY(details->isVisible());
        QVERIFY(details->focusPolicy() & Qt::TabFocus);
        QVERIFY(!details->accessibleName().isEmpty());
        emit details->linkActivated("details");
        QCOMPARE(Prompts::shown().size(), 1);
        const Prompts::Message shown = Prompts::shown()[0];
        QCOMPARE(shown.text, strip(f));
        QVERIFY2(shown.text.startsWith("6件"), qPrintable(shown.text));
        for (const QString &name : names)
            QVERIFY2(shown.details.contains(QFileInfo(name).fileName() + "（見つかりません）"),
                     qPrintable(shown.details));
    }
};

QTEST_MAIN(TestAdding)
#include "tst_adding.moc"

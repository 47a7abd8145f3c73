// BtnMain's batch run in the main window: a real drop converted end to end, the
// question before replacing files, the one message for every problem, and the
// progress bar, pointer and strip note around the run.

#include "app/colorswatch.h"
#include "app/form1.h"
#include "app/prompts.h"
#include "app/settingspanel.h"
#include "compose/picturedecoder.h"
#include "export/programmark.h"
#include "export/safewrite.h"
#include "joblist/jobcolumns.h"
#include "joblist/joblistview.h"
#include "platform/busypointer.h"
#include "platform/filename.h"
#include "preview/selectionsync.h"
#include "tests/common/camerametadata.h"
#include "tests/common/formatpictures.h"
#include "tests/common/formatreaders.h"
#include "tests/common/readgate.h"
#include "tests/common/testpictures.h"
#include "tests/common/widgets.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QHeaderView>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPalette>
#include <QProgressBar>
#include <QScrollBar>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <memory>

#include <fcntl.h>
#include <unistd.h>

using namespace kestrovia;
using namespace testpics;
using testui::control;

namespace {

// A JPEG of w x h quadrants at path.
void writeJpeg(const QString &path, int w, int h) { writeFile(path, jpeg(quadrants(w, h))); }

QStringList entries(const QString &folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
}

} // namespace

// x265 keeps a few allocations of its own after an encoder is freed (the HEIC row
// makes its picture with it); they are not ours to free.
extern "C" const char *__lsan_default_suppressions() { return "leak:libx265.so\n"; }

class TestBatchRun : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_root;
    std::unique_ptr<Form1> m_form;
    // The bar's value after each row, and whether the pointer and the bar (in the
    // hint's place) showed the run then.
    QList<int> m_steps;
    bool m_busyAndShown = true;

    JobTable &table() { return *m_form->table(); }
    // rows rows of 1600 x 1200 photos, p0.jpg onwards, saved beside them: enough
    // work that a run is still going when the test acts on it.
    bool rowsOfOnePhoto(int rows)
    {
        writeJpeg(m_root + "p0.jpg", 1600, 1200);
        for (int i = 0; i < rows; ++i) {
            const QString name = m_root + QStringLiteral("p%1.jpg").arg(i);
            if (i > 0 && !QFile::copy(m_root + "p0.jpg", name))
                return false;
            table().appendJob(testui::jobFor(name, m_root));
        }
        return true;
    }
    // Clicks 処理実行 and waits for the run's end (the button reads 「中止」 meanwhile).
    void run()
    {
        auto *start = control<QAbstractButton>(m_form.get(), "BtnMain");
        start->click();
        QTRY_VERIFY_WITH_TIMEOUT(start->text() != QString::fromUtf8("中止"), 30000);
    }
    QString strip() { return control<QLabel>(m_form.get(), "Label15")->text(); }
    bool drop(const QStringList &paths, bool onHeader = false)
    {
        auto *grid = control<JobListView>(m_form.get(), "PicsGalary");
        return testui::dropFiles(onHeader ? grid->horizontalHeader()->viewport() : grid->viewport(), paths);
    }

private slots:
    void init()
    {
        Prompts::setScripted(true);
        Prompts::clearShown();
        m_form = std::make_unique<Form1>();
        QVERIFY(testui::shown(m_form.get()));
        m_root = m_dir.path() + '/' + QTest::currentTestFunction() + QString::fromUtf8(QTest::currentDataTag()) + '/';
        QVERIFY(QDir().mkpath(m_root));
        m_steps.clear();
        m_busyAndShown = true;
        auto *bar = control<QProgressBar>(m_form.get(), "ProgressBar1");
        auto *hint = control<QLabel>(m_form.get(), "Label15");
        connect(bar, &QProgressBar::valueChanged, this, [this, bar, hint](int v) {
            if (v == 0)
                return;
            m_steps << v;
            const QCursor *c = QGuiApplication::overrideCursor();
            m_busyAndShown =
                m_busyAndShown && c && c->shape() == Qt::WaitCursor && bar->isVisible() && hint->isHidden();
        });
    }
    void cleanup()
    {
        if (!m_form)
            return; // the test ended the program itself
        QVERIFY(control<QProgressBar>(m_form.get(), "ProgressBar1")->isHidden());
        QVERIFY(!control<QLabel>(m_form.get(), "Label15")->isHidden());
        m_form.reset();
        QVERIFY(!BusyPointer::isBusy());
        QCOMPARE(QGuiApplication::overrideCursor(), nullptr);
    }

    // An empty table runs to nothing and says so in the strip, with nothing to click.
    // Then five rows dropped on the header row: the second is damaged and the
    // fourth's file is gone by the run; the other three are written, and one message
    // names the two with their reasons.
    void failingRowsAreReportedTogether()
    {
        run();
        QVERIFY(m_steps.isEmpty() && Prompts::shown().isEmpty());
        QVERIFY2(strip().contains("変換する画像がありません"), qPrintable(strip()));
        QStringList names;
        for (int i = 1; i <= 5; ++i)
            writeJpeg(names.emplace_back(m_root + QStringLiteral("p%1.jpg").arg(i)), 40, 30);
        QFile damaged(names[1]);
        QVERIFY(damaged.resize(damaged.size() / 2));
        QVERIFY(drop(names, true));
        QVERIFY(QFile::remove(names[3]));

        run();

        QCOMPARE(entries(m_root),
                 QStringList({"p1.jpg", "p1_b.jpg", "p2.jpg", "p3.jpg", "p3_b.jpg", "p5.jpg", "p5_b.jpg"}));
        QCOMPARE(m_steps, QList<int>({1, 2, 3, 4, 5}));
        QVERIFY(m_busyAndShown);
        QCOMPARE(Prompts::shown().size(), 1);
        const Prompts::Message &m = Prompts::shown()[0];
        QVERIFY2(m.text.contains("3件を保存しました"), qPrintable(m.text));
        const QStringList lines = m.informative.split('\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 4); // name and reason, twice
        QVERIFY2(lines[0].contains("p2.jpg") && lines[1].contains("壊れて"), qPrintable(m.informative));
        QVERIFY2(lines[2].contains("p4.jpg") && lines[3].contains("見つかりません"), qPrintable(m.informative));
        QCOMPARE(strip(), QStringLiteral("3件を保存しました（2件は保存されていません）"));
    }

    // Starting a run shows no other row: the window coming back to the front (its
    // list takes the focus) picks no row unasked, and a picture still being made
    // waits for the run's end rather than take a core from it.
    void aRunStartsWithoutShowingARow_data()
    {
        QTest::addColumn<bool>("pending");
        QTest::newRow("back to the window after a drop") << false;
        QTest::newRow("a picture in the making") << true;
    }
    void aRunStartsWithoutShowingARow()
    {
        QFETCH(bool, pending);
        QStringList names;
        for (int i = 1; i <= 3; ++i)
            writeJpeg(names.emplace_back(m_root + QStringLiteral("p%1.jpg").arg(i)), 400, 300);
        QVERIFY(drop(names));
        SelectionSync &sync = *m_form->selectionSync();
        // The rows just added are the selection, the first of them shown.
        QCOMPARE(table().selectedRows(), QList<int>({1, 2, 3}));
        QTRY_VERIFY(!sync.isBusy());
        testui::ReadGate gate(*sync.renderer());
        if (pending) {
            gate.close();
            table().setRow(2);
            QTRY_COMPARE(gate.waiting(), 1);
        } else {
            // The file manager had the focus; the click on 処理実行 brings the window back.
            QWidget other;
            QVERIFY(testui::shown(&other, true));
            m_form->activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(m_form.get()));
            QCOMPARE(QApplication::focusWidget()->objectName(), QStringLiteral("PicsGalary"));
        }
        const int runs = sync.runCount();
        const auto before = testui::allCells(table());
        auto *start = control<QAbstractButton>(m_form.get(), "BtnMain");

        start->click();
        QVERIFY(!sync.isBusy());
        gate.open();
        QTRY_VERIFY_WITH_TIMEOUT(start->text() != QString::fromUtf8("中止"), 30000);

        QCOMPARE(m_steps, QList<int>({1, 2, 3}));
        QCOMPARE(testui::allCells(table()), before);
        QCOMPARE(table().Row(), pending ? 2 : 1);
        // The picture put off is made once the run is over.
        QTRY_VERIFY(!sync.isBusy());
        QCOMPARE(sync.runCount(), pending ? runs + 1 : runs);
        QCOMPARE(gate.reads().size(), pending ? 2 : 0);
    }

    void overwriteQuestion_data()
    {
        QTest::addColumn<int>("answer"); // -1: Escape
        QTest::addColumn<QString>("note");
        QTest::newRow("上書き") << int(Prompts::Overwrite) << "2件を保存しました（1件は保存されていません）";
        QTest::newRow("スキップ") << int(Prompts::Skip) << "1件を保存しました（2件は保存されていません）";
        QTest::newRow("Escape: 中止") << -1 << "";
    }
    // holiday.jpg is an earlier output (it carries the program's mark) and is offered
    // for 上書き; photo.jpg beside photo.png is somebody's original and is never
    // replaced, whatever the answer: the question says so before anything is
    // written, and the end message names the row.
    void overwriteQuestion()
    {
        QFETCH(int, answer);
        QFETCH(QString, note);
        const bool replaced = answer == Prompts::Overwrite;
        const QByteArray earlier = jpeg(quadrants(64, 48)), original = jpeg(quadrants(80, 60));
        writeOutputFile(m_root + "holiday.jpg", earlier, WriteMode::New);
        writeFile(m_root + "holiday.bmp", bmp(quadrants(40, 30), 24));
        writeFile(m_root + "photo.jpg", original);
        QVERIFY(quadrants(20, 10).save(m_root + "photo.png", "PNG"));
        writeJpeg(m_root + "new.jpg", 40, 30);
        for (const char *name : {"holiday.bmp", "photo.png", "new.jpg"})
            table().appendJob(testui::jobFor(m_root + name, m_root));
        const QString hint = strip();
        if (answer >= 0)
            Prompts::setNextAnswer(Prompts::Answer(answer));

        run();

        QVERIFY(!Prompts::shown().isEmpty());
        const Prompts::Message &q = Prompts::shown()[0];
        QVERIFY2(q.text.contains("1件") && q.text.contains("Kestrovia"), qPrintable(q.text));
        QVERIFY2(q.informative.contains("holiday.jpg") && q.informative.contains("photo.jpg"),
                 qPrintable(q.informative));
        QCOMPARE(readFile(m_root + "photo.jpg"), original);
        QCOMPARE(readFile(m_root + "holiday.jpg") == earlier, !replaced);
        QCOMPARE(QImage(m_root + "holiday.jpg").size(), replaced ? QSize(40, 30) : QSize(64, 48));
        QCOMPARE(QFile::exists(m_root + "new_b.jpg"), answer >= 0); // Escape writes nothing
        QCOMPARE(strip(), note.isEmpty() ? hint : note);
        // Skipped rows are named in the summary, like failed ones.
        QCOMPARE(Prompts::shown().size(), answer >= 0 ? 2 : 1);
        if (answer >= 0) {
            const QString named = Prompts::shown()[1].informative;
            QVERIFY2(named.contains("photo.png") && named.contains("Kestrovia"), qPrintable(named));
            QCOMPARE(named.contains("holiday.bmp"), !replaced);
        }
    }
    void rowsWithOneOutput_data()
    {
        QTest::addColumn<int>("answer"); // -1: Escape
        QTest::newRow("後の行をスキップ") << int(Prompts::SkipLater);
        QTest::newRow("中止") << int(Prompts::Abort);
        QTest::newRow("Escape: 中止") << -1;
    }
    // The same photo dropped twice, and photo.png beside photo.bmp: each pair would
    // write one file. One question names them before anything is written; skipping
    // writes each file once, with the first row's settings, and the end message
    // names the rows left out.
    void rowsWithOneOutput()
    {
        QFETCH(int, answer);
        const bool skip = answer == Prompts::SkipLater;
        writeJpeg(m_root + "a.jpg", 40, 30);
        QVERIFY(quadrants(20, 10).save(m_root + "photo.png", "PNG"));
        writeFile(m_root + "photo.bmp", bmp(quadrants(30, 20), 24));
        for (const char *name : {"a.jpg", "photo.png"})
            QVERIFY(drop({m_root + name}));
        QVERIFY(drop({m_root + "a.jpg"}));
        QVERIFY(drop({m_root + "photo.bmp"}));
        QCOMPARE(table().Rows(), 5);
        table().setTextMatrix(3, ColNewSize, QStringLiteral("20*15")); // the later row's own size
        const QStringList before = entries(m_root);
        if (answer >= 0)
            Prompts::setNextAnswer(Prompts::Answer(answer));

        run();

        QVERIFY(!Prompts::shown().isEmpty());
        const Prompts::Message &q = Prompts::shown()[0];
        QVERIFY2(q.text.contains("同じファイル"), qPrintable(q.text));
        for (const char *says :
             {"a_b.jpg", "1行目", "3行目", "同じ画像", "photo.jpg", "2行目（photo.png）", "4行目（photo.bmp）"})
            QVERIFY2(q.informative.contains(QString::fromUtf8(says)), says);
        if (!skip) {
            QCOMPARE(Prompts::shown().size(), 1);
            QCOMPARE(entries(m_root), before);
            return;
        }
        QCOMPARE(QImage(m_root + "a_b.jpg").size(), QSize(40, 30));
        QCOMPARE(QImage(m_root + "photo.jpg").size(), QSize(20, 10));
        QCOMPARE(Prompts::shown().size(), 2);
        const QString named = Prompts::shown()[1].informative;
        QVERIFY2(named.contains("1行目と同じ") && named.contains("2行目と同じ"), qPrintable(named));
        QCOMPARE(strip(), QStringLiteral("2件を保存しました（2件は保存されていません）"));
    }

    void missingFolders_data()
    {
        QTest::addColumn<QList<int>>("answers"); // -1: Escape
        QTest::addColumn<bool>("made");
        QTest::newRow("作成") << QList<int>{Prompts::Create} << true;
        QTest::newRow("中止") << QList<int>{Prompts::Abort} << false;
        QTest::newRow("Escape: 中止") << QList<int>{-1} << false;
        QTest::newRow("作成, then 中止 at 上書き") << QList<int>{Prompts::Create, Prompts::Abort} << false;
    }
    // Two rows into folders that do not exist yet (one typed with its parents):
    // one question names both, and only after the last question are they made.
    void missingFolders()
    {
        QFETCH(QList<int>, answers);
        QFETCH(bool, made);
        const bool replacing = answers.size() > 1;
        writeJpeg(m_root + "a.jpg", 40, 30);
        writeJpeg(m_root + "b.jpg", 40, 30);
        const QString first = m_root + "新しい/フォルダ/", second = m_root + "別/";
        table().appendJob(testui::jobFor(m_root + "a.jpg", first));
        table().appendJob(testui::jobFor(m_root + "b.jpg", second));
        if (replacing) {
            writeOutputFile(m_root + "c_b.jpg", jpeg(quadrants(64, 48)), WriteMode::New);
            writeJpeg(m_root + "c.jpg", 40, 30);
            table().appendJob(testui::jobFor(m_root + "c.jpg", m_root));
        }
        for (const int answer : answers) {
            if (answer >= 0)
                Prompts::setNextAnswer(Prompts::Answer(answer));
        }

        run();

        QCOMPARE(Prompts::shown().size(), made ? 1 : int(answers.size()));
        const Prompts::Message &q = Prompts::shown()[0];
        QVERIFY2(q.text.contains("2件"), qPrintable(q.text));
        QVERIFY2(q.informative.contains(QDir::toNativeSeparators(m_root + "新しい/フォルダ"))
                     && q.informative.contains(QDir::toNativeSeparators(m_root + "別")),
                 qPrintable(q.informative));
        QCOMPARE(QFileInfo::exists(m_root + "新しい"), made);
        QCOMPARE(QFileInfo::exists(second), made);
        if (made) {
            QCOMPARE(entries(first), QStringList{"a_b.jpg"});
            QCOMPARE(entries(second), QStringList{"b_b.jpg"});
            QCOMPARE(strip(), QStringLiteral("2件を保存しました"));
        }
    }

    // A dropped folder adds its pictures and names what it left out; a picture whose
    // name is no UTF-8 (an old camera card's) becomes a row and converts beside
    // itself, its bytes kept.
    void namesAsTheFileSystemHasThem()
    {
        QVERIFY(QDir().mkpath(m_root + "アルバム"));
        writeJpeg(m_root + "アルバム/夏.jpg", 40, 30);
        writeFile(m_root + "アルバム/メモ.txt", "notes");
        const QByteArray source = encodeFileName(m_root) + "caf\xE9.jpg",
                         output = encodeFileName(m_root) + "caf\xE9_b.jpg";
        const QByteArray photo = jpeg(quadrants(40, 30));
        const int fd = ::open(source.constData(), O_CREAT | O_WRONLY, 0644);
        QVERIFY(fd >= 0 && ::write(fd, photo.constData(), size_t(photo.size())) == photo.size() && ::close(fd) == 0);
        QVERIFY(drop({m_root + "アルバム", decodeFileName(source)}));
        QVERIFY2(strip().contains("アルバム（画像ではないファイルなど1件）"), qPrintable(strip()));
        QCOMPARE(table().Rows(), 3);
        run();
        QVERIFY(Prompts::shown().isEmpty());
        QCOMPARE(QImage(m_root + "アルバム/夏_b.jpg").size(), QSize(40, 30));
        QCOMPARE(decodePicture(decodeFileName(output)).size, QSize(40, 30));
        for (const QByteArray &name : {source, output})
            QCOMPARE(::unlink(name.constData()), 0);
    }

    // A size typed into 横 and 縦 counts once the field is left, by Tab or by the
    // click on 処理実行 itself: the row and the written file have it. Full-width
    // digits from an input method count as plain ones.
    void typedSizeCounts_data()
    {
        QTest::addColumn<bool>("clickStart");
        QTest::newRow("Tab") << false;
        QTest::newRow("click on 処理実行") << true;
    }
    void typedSizeCounts()
    {
        QFETCH(bool, clickStart);
        writeJpeg(m_root + "p.jpg", 400, 300);
        QVERIFY(drop({m_root + "p.jpg"}));
        table().setRow(1);
        auto *w = control<QLineEdit>(m_form.get(), "TxtWidth");
        auto *h = control<QLineEdit>(m_form.get(), "TxtHeight");
        QTRY_COMPARE(w->text(), QStringLiteral("400"));
        w->setFocus();
        w->selectAll();
        QTest::keyClicks(w, "160");
        QTest::keyClick(w, Qt::Key_Tab);
        QVERIFY(h->hasFocus());
        h->selectAll();
        h->insert(QString::fromUtf8("１２０")); // as an input method commits it
        auto *start = control<QAbstractButton>(m_form.get(), "BtnMain");
        if (clickStart) {
            QTest::mouseClick(start, Qt::LeftButton);
            QTRY_VERIFY_WITH_TIMEOUT(start->text() != QString::fromUtf8("中止"), 30000);
        } else {
            QTest::keyClick(h, Qt::Key_Tab);
            run();
        }
        QCOMPARE(table().TextMatrix(1, ColNewSize), QStringLiteral("160*120"));
        QCOMPARE(QImage(m_root + "p_b.jpg").size(), QSize(160, 120));
        QCOMPARE(w->text() + '*' + h->text(), QStringLiteral("160*120"));
    }

    // While a run goes on the window answers but takes no edits; the run stops by
    // 中止, by Escape or by closing the window, and whatever was written is whole.
    void stoppingARun_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("中止") << "button";
        QTest::newRow("Escape") << "Escape";
        QTest::newRow("closing, 停止") << "close";
        QTest::newRow("closing, 続行") << "close-continue";
    }
    void stoppingARun()
    {
        QFETCH(QString, how);
        const bool stops = how != "close-continue";
        constexpr int rows = 24;
        QVERIFY(rowsOfOnePhoto(rows));
        QVERIFY(QTest::qWaitForWindowActive(m_form.get()));
        const auto before = testui::allCells(table());
        auto *start = control<QAbstractButton>(m_form.get(), "BtnMain");
        start->click();
        // The pipeline reports through this thread's events: until they are
        // processed the run is certainly going on.
        QCOMPARE(start->text(), QString::fromUtf8("中止"));
        QVERIFY(!control<QWidget>(m_form.get(), "PicsGalary")->isEnabled());
        QVERIFY(!control<QWidget>(m_form.get(), "Frame1")->isEnabled());
        QVERIFY(!drop({m_root + "p0.jpg"}));
        if (how == "button") {
            start->click();
        } else if (how == "Escape") {
            QTest::keyClick(m_form.get(), Qt::Key_Escape);
        } else {
            Prompts::setNextAnswer(how == "close" ? Prompts::Stop : Prompts::Continue);
            QCOMPARE(m_form->close(), how == "close");
            QCOMPARE(Prompts::shown().size(), 1);
            QVERIFY(Prompts::shown()[0].text.contains(QString::fromUtf8("中止して終了")));
            Prompts::clearShown();
        }
        QTRY_COMPARE_WITH_TIMEOUT(start->text(), QString::fromUtf8("処理実行 >> >>"), 30000);

        QStringList outputs = entries(m_root).filter("_b.jpg");
        QVERIFY2(stops ? outputs.size() < rows : outputs.size() == rows, qPrintable(outputs.join(' ')));
        for (const QString &name : outputs)
            QCOMPARE(QImage(m_root + name).size(), QSize(1600, 1200));
        QCOMPARE(entries(m_root).size(), rows + outputs.size()); // no temporary files
        QCOMPARE(testui::allCells(table()), before);
        QVERIFY(control<QWidget>(m_form.get(), "PicsGalary")->isEnabled());
        if (how == "button" || how == "Escape") {
            QCOMPARE(Prompts::shown().size(), 1);
            QVERIFY2(
                Prompts::shown()[0].text.contains(QString::fromUtf8("中止したため%1件").arg(rows - outputs.size())),
                qPrintable(Prompts::shown()[0].text));
        }
    }

    // Three photos dropped (an EXIF turn of 6 and a GPS position each) are the
    // selection; every control of the panel set then reaches every row and every
    // written file: its size by the rule after both turns, its colour and place, the
    // tags the metadata choice keeps, the folder typed.
    // clang-format off
    void everyControlReachesEveryRowAndFile_data()
    {
        QTest::addColumn<QString>("gestures");
        QTest::addColumn<QSize>("size");
        QTest::addColumn<QList<QPoint>>("redAt"); // pixels of the background colour, red
        QTest::addColumn<QPoint>("yellowAt"); // where the picture's yellow quarter lands
        QTest::addColumn<QString>("tags"); // "place", "camera" or "none": what is kept
        // Stored 400 x 300, upright 300 x 400, turned +90: 400 x 300.
        QTest::newRow("long edge, turn, level, everything kept")
            << "mode 2; value 200; turn 1; right; meta 0" << QSize(200, 150) << QList<QPoint>{} << QPoint(5, 5)
            << "place";
        QTest::newRow("exact size, centred on red")
            << "mode 1; size 200 200; click PicPos(1); colour #ff0000" << QSize(200, 200)
            << QList<QPoint>{{5, 100}, {195, 100}} << QPoint(30, 195) << "camera";
        // Stretched and shrink-only: the asked shape within the upright picture.
        QTest::newRow("stretched, shrink only, nothing kept")
            << "mode 1; size 640 480; click ShrinkOnly; click AspCheck(1); meta 2" << QSize(300, 225)
            << QList<QPoint>{} << QPoint(5, 220) << "none";
    }
    // clang-format on
    void everyControlReachesEveryRowAndFile()
    {
        QFETCH(QString, gestures);
        QFETCH(QSize, size);
        QFETCH(QList<QPoint>, redAt);
        QFETCH(QPoint, yellowAt);
        QFETCH(QString, tags);
        const QByteArray photo = withCameraMetadata(jpeg(quadrants(400, 300)));
        QStringList names;
        for (const char *name : {"a.jpg", "b.jpg", "c.jpg"})
            writeFile(names.emplace_back(m_root + name), photo);
        QVERIFY(QDir().mkpath(m_root + "out"));
        QVERIFY(drop(names));
        QCOMPARE(table().selectedRows(), QList<int>({1, 2, 3}));
        auto *panel = control<SettingsPanel>(m_form.get(), "Frame1");

        for (const QString &gesture : (gestures + "; folder").split(u';')) {
            const QStringList w = gesture.trimmed().split(u' ');
            const auto pickFrom = [&](const char *name) {
                auto *combo = control<QComboBox>(m_form.get(), name);
                combo->setCurrentIndex(w[1].toInt());
                emit combo->activated(w[1].toInt());
            };
            const auto type = [&](const char *name, const QString &text) {
                auto *field = control<QLineEdit>(m_form.get(), name);
                field->setFocus();
                field->selectAll();
                QTest::keyClicks(field, text);
                QTest::keyClick(field, Qt::Key_Tab);
            };
            if (w[0] == "mode")
                pickFrom("SizeMode");
            else if (w[0] == "value")
                control<QSpinBox>(m_form.get(), "SizeValue")->setValue(w[1].toInt());
            else if (w[0] == "size")
                type("TxtWidth", w[1]), type("TxtHeight", w[2]);
            else if (w[0] == "click")
                control<QAbstractButton>(m_form.get(), w[1].toLatin1())->click();
            else if (w[0] == "colour")
                Prompts::setNextColor(QColor(w[1])), control<ColorSwatch>(m_form.get(), "PicBack")->clicked();
            else if (w[0] == "turn")
                pickFrom("RollValue");
            else if (w[0] == "right")
                control<QScrollBar>(m_form.get(), "CompressLevel")->triggerAction(QAbstractSlider::SliderSingleStepAdd);
            else if (w[0] == "meta")
                pickFrom("MetaChoice");
            else if (w[0] == "folder")
                type("SaveTxt", m_root + "out");
        }
        const RowSettings asked = panel->values();
        QCOMPARE(asked.folder, m_root + "out/");
        for (int r = 1; r <= 3; ++r)
            QCOMPARE(rowSettingsOf(table().jobRow(r)), asked);
        QCOMPARE(testui::column(table(), ColNewSize), QStringList(3, sizeText(size)));
        Prompts::clearShown(); // the colour chooser

        run();

        QVERIFY2(Prompts::shown().isEmpty(), qPrintable(Prompts::shown().value(0).informative));
        QCOMPARE(entries(m_root + "out"), QStringList({"a_b.jpg", "b_b.jpg", "c_b.jpg"}));
        for (const QString &name : entries(m_root + "out")) {
            const QByteArray written = readFile(m_root + "out/" + name);
            const QImage out = QImage::fromData(written);
            QCOMPARE(out.size(), size);
            for (const QPoint at : redAt)
                QVERIFY2(near(out.pixel(at), kRed), qPrintable(describe(out.pixel(at))));
            QVERIFY2(near(out.pixel(yellowAt), kYellow, 40), qPrintable(describe(out.pixel(yellowAt))));
            const ReadBack tagsOut = readBack(written);
            QCOMPARE(!tagsOut.exif("Exif.GPSInfo.GPSLatitude").isEmpty(), tags == "place");
            QCOMPARE(!tagsOut.exif("Exif.Image.Make").isEmpty(), tags != "none");
        }
    }

    // Each output format with each metadata choice, set in the panel for two dropped
    // photos (a camera's EXIF with a GPS position) with a name pattern typed: every
    // row holds them, and every file is named by the pattern with its format's
    // extension, decodes with its format's own library at the row's size, keeps
    // the tags the choice keeps and not the others, and carries the mark.
    // clang-format off
    void everyFormatAndMetadataChoiceFromThePanel_data()
    {
        QTest::addColumn<int>("format"); // OutFormat's item
        QTest::addColumn<int>("metadata"); // MetaChoice's item: 0 all, 1 no place, 2 none
        QTest::addColumn<QString>("extension");
        for (const auto &[format, name, extension] : {std::tuple{0, "JPEG", "jpg"}, {1, "WebP", "webp"},
                                                      {2, "AVIF", "avif"}, {3, "PNG", "png"}}) {
            for (const auto &[metadata, choice] : {std::pair{0, "すべて残す"}, {1, "位置情報を除く"}, {2, "すべて除く"}})
                QTest::addRow("%s %s", name, choice) << format << metadata << QString::fromLatin1(extension);
        }
    }
    // clang-format on
    void everyFormatAndMetadataChoiceFromThePanel()
    {
        QFETCH(int, format);
        QFETCH(int, metadata);
        QFETCH(QString, extension);
        const QByteArray photo = withCameraMetadata(jpeg(quadrants(120, 90)));
        QStringList names;
        for (const char *name : {"a.jpg", "b.JPG"})
            writeFile(names.emplace_back(m_root + name), photo);
        QVERIFY(drop(names));
        QCOMPARE(table().selectedRows(), QList<int>({1, 2}));
        const auto pickFrom = [&](const char *name, int item) {
            auto *combo = control<QComboBox>(m_form.get(), name);
            combo->setCurrentIndex(item);
            emit combo->activated(item);
        };
        const auto type = [&](const char *name, const QString &text) {
            auto *field = control<QLineEdit>(m_form.get(), name);
            field->setFocus();
            field->selectAll();
            QTest::keyClicks(field, text);
            QTest::keyClick(field, Qt::Key_Tab);
        };
        pickFrom("OutFormat", format);
        pickFrom("MetaChoice", metadata);
        pickFrom("SizeMode", 1);
        type("TxtWidth", "60");
        type("TxtHeight", "40");
        type("NamePattern", "{name}_{width}x{height}_{n:2}");
        const RowSettings asked = control<SettingsPanel>(m_form.get(), "Frame1")->values();
        QCOMPARE(int(asked.format), format);
        QCOMPARE(asked.namePattern, "{name}_{width}x{height}_{n:2}");
        for (int r = 1; r <= 2; ++r)
            QCOMPARE(rowSettingsOf(table().jobRow(r)), asked);
        QCOMPARE(testui::column(table(), ColNewSize), QStringList(2, "60*40"));

        run();

        QVERIFY2(Prompts::shown().isEmpty(), qPrintable(Prompts::shown().value(0).informative));
        const QStringList written = {"a_60x40_01." + extension, "b_60x40_02." + extension};
        QCOMPARE(entries(m_root).filter(QStringLiteral("_")), written);
        for (const QString &name : written) {
            const QByteArray file = readFile(m_root + name);
            QCOMPARE(decodedByItsLibrary(OutputFormat(format), file).size(), QSize(60, 40));
            const ReadBack tags = readBack(file);
            QCOMPARE(!tags.exif("Exif.GPSInfo.GPSLatitude").isEmpty(), metadata == 0);
            QCOMPARE(!tags.exif("Exif.Image.Make").isEmpty(), metadata != 2);
            QVERIFY(isKestroviaOutput(m_root + name));
        }
    }

    // 透明を残す set in the panel: the transparent half of a PNG stays transparent
    // in every format that stores it, and takes the row's background colour in a
    // JPEG, for which the box does not apply.
    void keptTransparencyFromThePanel_data()
    {
        QTest::addColumn<int>("format");
        QTest::addColumn<bool>("keep");
        QTest::addColumn<bool>("transparent"); // the written file's left half
        for (const auto &[format, name] : {std::pair{0, "JPEG"}, {1, "WebP"}, {2, "AVIF"}, {3, "PNG"}}) {
            QTest::addRow("%s kept", name) << format << true << (format != 0);
            QTest::addRow("%s filled", name) << format << false << false;
        }
    }
    void keptTransparencyFromThePanel()
    {
        QFETCH(int, format);
        QFETCH(bool, keep);
        QFETCH(bool, transparent);
        QImage picture(40, 20, QImage::Format_ARGB32);
        for (int y = 0; y < 20; ++y)
            for (int x = 0; x < 40; ++x)
                picture.setPixel(x, y, x < 20 ? qRgba(0, 0, 0, 0) : kBlue);
        writeFile(m_root + "logo.png", qtEncoded(picture, "png"));
        QVERIFY(drop({m_root + "logo.png"}));
        auto *combo = control<QComboBox>(m_form.get(), "OutFormat");
        combo->setCurrentIndex(format);
        emit combo->activated(format);
        auto *box = control<QCheckBox>(m_form.get(), "KeepAlpha");
        QCOMPARE(box->isEnabled(), format != 0);
        if (keep) {
            // For a JPEG row the box is disabled: set it while another format is shown.
            if (format == 0) {
                combo->setCurrentIndex(3);
                emit combo->activated(3);
            }
            box->click();
            combo->setCurrentIndex(format);
            emit combo->activated(format);
        }
        Prompts::setNextColor(QColor(Qt::red));
        control<ColorSwatch>(m_form.get(), "PicBack")->clicked();
        QCOMPARE(rowSettingsOf(table().jobRow(1)).keepTransparency, keep);
        Prompts::clearShown();

        run();

        const QString name = format == 0 ? "logo.jpg" : format == 3 ? "logo_b.png" : "logo." + QStringList{"", "webp", "avif"}[format];
        const QImage out = decodedByItsLibrary(OutputFormat(format), readFile(m_root + name));
        QCOMPARE(out.size(), QSize(40, 20));
        if (transparent)
            QCOMPARE(qAlpha(out.pixel(5, 10)), 0);
        else
            QVERIFY2(near(out.pixel(5, 10), kRed) && qAlpha(out.pixel(5, 10)) == 255, qPrintable(describe(out.pixel(5, 10))));
        QVERIFY2(near(out.pixel(35, 10), kBlue, 40), qPrintable(describe(out.pixel(35, 10))));
    }

    // A pattern that gives two rows one output names them before anything is
    // written, as rows with one output are; a pattern filled in past 255 bytes fails
    // its row at the plan with the reason, and the other rows are written.
    void namesFromPatternsBeforeTheRun()
    {
        for (const char *name : {"a.jpg", "b.jpg"})
            writeJpeg(m_root + name, 40, 30);
        const QString longName = QString(240, u'x') + ".jpg";
        writeJpeg(m_root + longName, 40, 30);
        QVERIFY(drop({m_root + "a.jpg", m_root + "b.jpg"}));
        auto *field = control<QLineEdit>(m_form.get(), "NamePattern");
        field->setFocus();
        field->selectAll();
        QTest::keyClicks(field, "same");
        QTest::keyClick(field, Qt::Key_Tab);
        QVERIFY(drop({m_root + longName}));
        field->setFocus();
        field->selectAll();
        QTest::keyClicks(field, "{name}-{date:yyyyMMddHHmmss}");
        QTest::keyClick(field, Qt::Key_Tab);
        QCOMPARE(testui::column(table(), ColNamePattern),
                 QStringList({"same", "same", "{name}-{date:yyyyMMddHHmmss}"}));

        Prompts::setNextAnswer(Prompts::SkipLater);
        run();

        // One question names the rows that share an output; then the summary names
        // the rows not written.
        QVERIFY(!Prompts::shown().isEmpty());
        QVERIFY2(Prompts::shown()[0].informative.contains("same.jpg"), qPrintable(Prompts::shown()[0].informative));
        const QString summary = Prompts::shown().last().informative;
        QVERIFY2(summary.contains("255"), qPrintable(summary));
        QCOMPARE(entries(m_root).filter(QString(240, u'x')), QStringList{longName}); // the source alone
        QVERIFY(QFile::exists(m_root + "same.jpg"));
    }

    // After a run the strip offers the folder the first file went to, and so does the
    // end message when there is one; both ask the desktop to open it.
    void destinationOffered()
    {
        QVERIFY(QDir().mkpath(m_root + "out"));
        writeJpeg(m_root + "a.jpg", 40, 30);
        table().appendJob(testui::jobFor(m_root + "a.jpg", m_root + "out/"));
        auto *link = control<QLabel>(m_form.get(), "LinkOpenFolder");
        QVERIFY(link->isHidden());
        run();
        QVERIFY(link->isVisible());
        emit link->linkActivated("folder");
        QCOMPARE(Prompts::shown().size(), 1);
        QCOMPARE(Prompts::shown()[0].kind, Prompts::Kind::Url);
        QCOMPARE(QUrl(Prompts::shown()[0].text).toLocalFile(), m_root + "out");
        Prompts::clearShown();

        table().RemoveItem(1);
        writeJpeg(m_root + "b.jpg", 40, 30);
        table().appendJob(testui::jobFor(m_root + "gone.jpg", m_root));
        table().appendJob(testui::jobFor(m_root + "b.jpg", m_root + "out/"));
        Prompts::setNextAnswer(Prompts::OpenFolder);
        run();
        QCOMPARE(Prompts::shown().size(), 2); // the end message, then the folder
        QCOMPARE(QUrl(Prompts::shown()[1].text).toLocalFile(), m_root + "out");
        QTest::mouseClick(control<QWidget>(m_form.get(), "BtnAdd"), Qt::LeftButton); // nothing chosen
        QVERIFY(link->isVisible()); // until the next drop or run
    }

    // Closing the window during a run ends the program: with 処理を中止 after the rows
    // in flight, or at the run's end when the question is left open, which then goes
    // away. The application's event loop ends, no message follows the window, and
    // what was written is whole.
    void closingDuringARunEndsTheProgram_data()
    {
        QTest::addColumn<bool>("leftOpen");
        QTest::newRow("処理を中止") << false;
        QTest::newRow("the run ends while asked") << true;
    }
    void closingDuringARunEndsTheProgram()
    {
        QFETCH(bool, leftOpen);
        const int rows = leftOpen ? 3 : 24;
        QVERIFY(rowsOfOnePhoto(rows));
        if (leftOpen)
            Prompts::setNextQuestionLeftOpen();
        else
            Prompts::setNextAnswer(Prompts::Stop);
        QTimer::singleShot(0, m_form.get(), [this] {
            control<QAbstractButton>(m_form.get(), "BtnMain")->click();
            m_form->close();
        });
        // A loop that never ends would hang the test: a guard ends it and says so.
        bool stuck = false;
        QTimer::singleShot(120000, qApp, [&stuck] {
            stuck = true;
            QCoreApplication::exit(1);
        });
        QCOMPARE(QApplication::exec(), 0);
        QVERIFY(!stuck);
        QVERIFY(!m_form->isVisible());
        QCOMPARE(Prompts::shown().size(), 1); // the question, and no message after the window
        m_form.reset(); // waits for the rows in flight
        const QStringList outputs = entries(m_root).filter("_b.jpg");
        QVERIFY2(leftOpen ? outputs.size() == rows : outputs.size() < rows, qPrintable(outputs.join(' ')));
        for (const QString &name : outputs)
            QCOMPARE(QImage(m_root + name).size(), QSize(1600, 1200));
        QCOMPARE(entries(m_root).size(), rows + outputs.size()); // no temporary files
    }

    // Every picture type a drop takes gives a row and a JPEG of the right size and
    // name in the folder the panel names; the decoder goes by the content, so a PNG
    // named .jpg converts too. Transparent parts and the bands take the row's
    // background colour. A name of another type is noted in the strip until the next
    // drop; the run says what it saved there too, and leaves the table as it was.
    void everyPictureTypeConverts_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("output");
        QTest::addColumn<QSize>("size");
        const QImage photo = quadrants(64, 48);
        QTest::newRow(".jpeg") << "a.jpeg" << jpeg(photo) << "a_b.jpg" << photo.size();
        QTest::newRow(".JPE") << "b.JPE" << jpeg(photo) << "b_b.jpg" << photo.size();
        QTest::newRow(".jfif") << "c.jfif" << jpeg(photo) << "c_b.jpg" << photo.size();
        QTest::newRow("PNG named .jpg") << "d.jpg" << qtEncoded(photo, "png") << "d_b.jpg" << photo.size();
        QTest::newRow("16-bit PNG") << "e.png" << qtEncoded(photo.convertToFormat(QImage::Format_RGBX64), "png")
                                    << "e.jpg" << photo.size();
        QTest::newRow("palette PNG") << "f.PNG" << qtEncoded(photo.convertToFormat(QImage::Format_Indexed8), "png")
                                     << "f.jpg" << photo.size();
        QTest::newRow("TIFF") << "h.tif" << qtEncoded(photo, "tiff") << "h.jpg" << photo.size();
        QTest::newRow("WebP") << "i.webp" << qtEncoded(photo, "webp", 100) << "i.jpg" << photo.size();
        QTest::newRow("GIF") << "j.gif" << gif(64, 48, {photo.convertToFormat(QImage::Format_Indexed8)}) << "j.jpg"
                             << photo.size();
        QTest::newRow("HEIC") << "k.HEIC" << heic(photo) << "k.jpg" << photo.size();
        // Left half transparent, right half opaque blue, on a square canvas.
        QImage alpha(40, 20, QImage::Format_ARGB32);
        alpha.fill(Qt::transparent);
        for (int y = 0; y < 20; ++y)
            for (int x = 20; x < 40; ++x)
                alpha.setPixel(x, y, kBlue);
        QTest::newRow("PNG with alpha") << "l.png" << qtEncoded(alpha, "png") << "l.jpg" << QSize(40, 40);
    }
    void everyPictureTypeConverts()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, bytes);
        QFETCH(QString, output);
        QFETCH(QSize, size);
        if (bytes.isEmpty())
            QSKIP("libheif has no HEVC encoder here (Debian's libheif1 builds it in with libx265)");
        writeFile(m_root + name, bytes);
        for (const char *other : {"notes.psd", "invoice.pdf", "DSC_0001.NEF"})
            writeFile(m_root + other, "not a picture");
        const QString folder = m_root + "out/", hint = strip();
        QVERIFY(QDir().mkpath(folder));
        control<SettingsPanel>(m_form.get(), "Frame1")->setSaveText(folder);
        control<QAbstractButton>(m_form.get(), "SaveCheck(1)")->click();
        QVERIFY(drop({m_root + name, m_root + "notes.psd", m_root + "invoice.pdf", m_root + "DSC_0001.NEF"}));
        const QString skipped = strip();
        for (const char *other : {"3件", "notes.psd", "invoice.pdf", "DSC_0001.NEF"})
            QVERIFY2(skipped.contains(QString::fromUtf8(other)), qPrintable(skipped));
        // Longer than the strip's two lines: cut there, whole in the tooltip.
        QCOMPARE(control<QLabel>(m_form.get(), "Label15")->toolTip(), skipped);
        QCOMPARE(table().Rows(), 2);
        table().setTextMatrix(1, ColBackColor, QString::number(0x0000FF)); // red
        table().setTextMatrix(1, ColNewSize, QStringLiteral("%1*%2").arg(size.width()).arg(size.height()));
        table().setTextMatrix(1, ColPosition, "Center");
        const auto before = testui::allCells(table());

        run();

        QVERIFY2(Prompts::shown().isEmpty(), qPrintable(Prompts::shown().value(0).informative));
        QCOMPARE(strip(), QStringLiteral("1件を保存しました"));
        QCOMPARE(m_steps, QList<int>{1});
        QCOMPARE(testui::allCells(table()), before);
        QCOMPARE(entries(folder), QStringList{output}); // no temporary file left beside it
        const QImage out(folder + output);
        QCOMPARE(out.size(), size);
        const auto expect = [&](QPoint at, QRgb colour) {
            QVERIFY2(near(out.pixel(at), colour), qPrintable(describe(out.pixel(at))));
        };
        if (name == "l.png") {
            for (const QPoint red : {QPoint(20, 3), QPoint(5, 20), QPoint(20, 36)})
                expect(red, kRed);
            expect({36, 20}, kBlue);
        } else {
            expect({5, 5}, kRed);
        }
        QVERIFY(drop({m_root + name}));
        QCOMPARE(strip(), hint);
    }

    // The default background is the classic window colour in the file, also under a
    // dark desktop theme.
    void darkThemeStillWritesWhiteBands()
    {
        QApplication::setPalette(QPalette(QColor(0x22, 0x22, 0x22)));
        writeFile(m_root + "wide.bmp", bmp(quadrants(640, 480), 24));
        JobRow job = testui::jobFor(m_root + "wide.bmp", m_root);
        job.newSize = "200*100";
        job.position = "Center";
        table().appendJob(job);
        run();
        QApplication::setPalette(QPalette());
        const QImage out(m_root + "wide.jpg");
        QCOMPARE(out.size(), QSize(200, 100));
        for (const QPoint band : {QPoint(5, 50), QPoint(194, 50)})
            QVERIFY2(qGray(out.pixel(band)) > 245, qPrintable(QColor(out.pixel(band)).name()));
    }
};

QTEST_MAIN(TestBatchRun)
#include "tst_batchrun.moc"

// The file manager's action (--convert): the settings it takes (the window's kept
// values, a named preset, a chosen preset), what it writes, its exit status, 中止
// midway, the summary and 保存先を開く. Run in the test's own process through the
// same command line as the program; questions are answered through Prompts, and
// the progress window is closed with 閉じる once its summary shows.

#include "app/commandline.h"
#include "app/convertwindow.h"
#include "app/form1.h"
#include "app/prompts.h"
#include "app/settingspanel.h"
#include "compose/pictureprobe.h"
#include "compose/presets.h"
#include "export/programmark.h"
#include "tests/common/testpictures.h"

#include <QApplication>
#include <QDir>
#include <QImage>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUrl>

#include <sys/stat.h>

using namespace kestrovia;
using namespace testpics;

namespace {

// What the window kept at its last close, written by its own panel.
void keepPanelValues(const RowSettings &values)
{
    SettingsPanel panel;
    panel.showSettings(values);
    QSettings kept = keptSettings();
    panel.saveTo(kept);
}

RowSettings longEdge(int side, OutputFormat format)
{
    RowSettings s;
    s.size.mode = SizeRule::LongEdge;
    s.size.longEdge = side;
    s.format = format;
    return s;
}

// The last progress window's summary and its lines, as it showed them.
QString g_summary;
// Whether a main window was open during the last run.
bool g_mainWindowSeen = false;

// Runs the command line as the program does, and closes the progress window as a
// user would once its summary shows.
int runAction(const QStringList &args)
{
    g_summary.clear();
    g_mainWindowSeen = false;
    QTimer closer;
    closer.setInterval(5);
    QObject::connect(&closer, &QTimer::timeout, [] {
        for (QWidget *w : QApplication::topLevelWidgets()) {
            g_mainWindowSeen |= qobject_cast<Form1 *>(w) != nullptr;
            auto *window = qobject_cast<ConvertWindow *>(w);
            if (!window || !window->isOver() || !window->isVisible())
                continue;
            g_summary = window->findChild<QLabel *>(QStringLiteral("summary"))->text() + u'\n'
                        + window->findChild<QPlainTextEdit *>(QStringLiteral("details"))->toPlainText();
            window->findChild<QPushButton *>(QStringLiteral("close"))->click();
        }
    });
    closer.start();
    const CommandLine line(QStringList{QStringLiteral("kestrovia")} + args);
    if (const auto status = line.answer())
        return *status;
    const auto request = line.convertRequest();
    return request ? runConvertAction(*request) : -1;
}

// Changes when the file is written again (a new file is renamed over it).
QString fileIdentity(const QString &path)
{
    struct stat st { };
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return {};
    return QString::number(st.st_ino) + u':' + QString::number(st.st_mtim.tv_nsec);
}

QStringList filesIn(const QString &folder) { return QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name); }

// The first file in folder, sources aside, that is not a whole picture of this
// program.
QString notWhole(const QString &folder, const QStringList &sources)
{
    for (const QString &name : filesIn(folder)) {
        if (sources.contains(name))
            continue;
        const QString path = folder + u'/' + name;
        if (QImage(path).isNull() || readOutputMark(path) != OutputMark::Ours)
            return name;
    }
    return {};
}

QString shownTexts()
{
    QStringList texts;
    for (const Prompts::Message &m : Prompts::shown())
        texts.append(m.text + u' ' + m.informative);
    return texts.join(u'\n');
}

} // namespace

class TestConvertWindow : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void settingsTaken_data();
    void settingsTaken();
    void exitStatus_data();
    void exitStatus();
    void stopMidway_data();
    void stopMidway();
    void openFolder_data();
    void openFolder();

private:
    QTemporaryDir m_config;
};

void TestConvertWindow::initTestCase()
{
    // Before the first QSettings: the kept values and presets live here.
    qputenv("XDG_CONFIG_HOME", m_config.path().toUtf8());
    Prompts::setScripted(true);
}

void TestConvertWindow::init()
{
    keptSettings().clear();
    QDir(presetsFolder()).removeRecursively();
    // Nothing queued by an earlier case is left to answer this one.
    Prompts::setScripted(true);
    Prompts::clearShown();
}

void TestConvertWindow::settingsTaken_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<RowSettings>("kept"); // the window's values for new rows
    QTest::addColumn<QString>("chosen"); // the preset picked in the chooser
    QTest::addColumn<QString>("output");
    QTest::addColumn<int>("format");
    QTest::addColumn<QSize>("size");

    // The source is 1600 x 1200; the user's preset 私の is long edge 120, PNG.
    const int jpeg = int(PictureFormat::Jpeg);
    RowSettings exact;
    exact.size.mode = SizeRule::Exact;
    exact.size.exact = QSize(64, 48);
    exact.keepAspect = false;
    exact.format = OutputFormat::Png;
    RowSettings elsewhere = longEdge(200, OutputFormat::Jpeg);
    elsewhere.folder = QStringLiteral("out/");
    QTest::newRow("last: long edge, webp") << QStringList{"--last"} << longEdge(300, OutputFormat::WebP) << ""
                                           << "photo.webp" << int(PictureFormat::WebP) << QSize(300, 225);
    QTest::newRow("last, by default: exact, stretched, png") << QStringList{} << exact << ""
                                                             << "photo.png" << int(PictureFormat::Png) << QSize(64, 48);
    QTest::newRow("last: kept folder") << QStringList{"--last"} << elsewhere << ""
                                       << "out/photo_b.jpg" << jpeg << QSize(200, 150);
    QTest::newRow("last, nothing kept: start-up values") << QStringList{"--last"} << RowSettings() << ""
                                                         << "photo_b.jpg" << jpeg << QSize(1600, 1200);
    QTest::newRow("shipped preset, not the kept values") << QStringList{"--preset", "メール"} << exact << ""
                                                         << "photo_b.jpg" << jpeg << QSize(1024, 768);
    QTest::newRow("user's preset") << QStringList{"--preset=私の"} << exact << ""
                                   << "photo.png" << int(PictureFormat::Png) << QSize(120, 90);
    QTest::newRow("chosen preset") << QStringList{"--choose-preset"} << exact << "私の"
                                   << "photo.png" << int(PictureFormat::Png) << QSize(120, 90);
    QTest::newRow("chosen shipped preset") << QStringList{"--choose-preset"} << exact << "メール"
                                           << "photo_b.jpg" << jpeg << QSize(1024, 768);
}

void TestConvertWindow::settingsTaken()
{
    QFETCH(QStringList, args);
    QFETCH(RowSettings, kept);
    QFETCH(QString, chosen);
    QFETCH(QString, output);
    QFETCH(int, format);
    QFETCH(QSize, size);

    QTemporaryDir dir;
    writeFile(dir.filePath("photo.jpg"), jpeg(photoLike(1600, 1200)));
    if (!kept.folder.isEmpty())
        kept.folder = dir.filePath(kept.folder);
    keepPanelValues(kept);
    savePreset({QStringLiteral("私の"), longEdge(120, OutputFormat::Png)});
    if (!chosen.isEmpty())
        Prompts::setNextText(chosen);
    if (!kept.folder.isEmpty())
        Prompts::setNextAnswer(Prompts::Create); // it is not there yet

    QCOMPARE(runAction(QStringList{"--convert"} + args + QStringList{dir.filePath("photo.jpg")}), 0);
    const QString path = dir.filePath(output);
    QVERIFY2(QFileInfo::exists(path), qPrintable(filesIn(dir.path()).join(u' ')));
    const PictureInfo info = probePicture(path);
    QCOMPARE(int(info.format), format);
    QCOMPARE(info.size, size);
    QCOMPARE(filesIn(dir.path()).size(), kept.folder.isEmpty() ? 2 : 1);
    QVERIFY(!g_mainWindowSeen);
}

void TestConvertWindow::exitStatus_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("other"); // a second file beside photo.jpg: kind:name
    QTest::addColumn<QList<int>>("answers"); // to the questions, in order
    QTest::addColumn<int>("status");
    QTest::addColumn<bool>("photoWritten"); // photo_b.jpg is a new output
    QTest::addColumn<QString>("said"); // in the summary's lines or a message

    const QStringList last{"--last"};
    QTest::newRow("all written") << last << "" << QList<int>{} << 0 << true << "";
    QTest::newRow("two pictures") << last << "picture:second.jpg" << QList<int>{} << 0 << true << "";
    QTest::newRow("a broken picture fails, the other is written")
        << last << "truncated:broken.jpg" << QList<int>{} << 1 << true << "broken.jpg";
    QTest::newRow("a file that is no picture") << last << "text:notes.txt" << QList<int>{} << 1 << true << "notes.txt";
    QTest::newRow("earlier output, スキップ")
        << last << "earlier:photo_b.jpg" << QList<int>{int(Prompts::Skip)} << 0 << false << "photo_b.jpg";
    QTest::newRow("earlier output, 上書き")
        << last << "earlier:photo_b.jpg" << QList<int>{int(Prompts::Overwrite)} << 0 << true << "";
    QTest::newRow("earlier output, 中止")
        << last << "earlier:photo_b.jpg" << QList<int>{int(Prompts::Abort)} << 1 << false << "";
    QTest::newRow("a file of the user's at the output is kept")
        << last << "own:photo_b.jpg" << QList<int>{} << 1 << false << "photo_b.jpg";
    QTest::newRow("no such preset") << QStringList{"--preset", "ない"} << "" << QList<int>{} << 2 << false
                                    << "プリセット「ない」がありません";
    QTest::newRow("choice of preset cancelled")
        << QStringList{"--choose-preset"} << "" << QList<int>{} << 1 << false << "";
    QTest::newRow("no file named") << QStringList{"--last", "--"} << "none" << QList<int>{} << 2 << false << "";
    QTest::newRow("two settings sources")
        << QStringList{"--last", "--choose-preset"} << "" << QList<int>{} << 2 << false << "";
    QTest::newRow("a settings source without --convert")
        << QStringList{"--no-convert"} << "" << QList<int>{} << 2 << false << "";
}

void TestConvertWindow::exitStatus()
{
    QFETCH(QStringList, args);
    QFETCH(QString, other);
    QFETCH(QList<int>, answers);
    QFETCH(int, status);
    QFETCH(bool, photoWritten);
    QFETCH(QString, said);

    QTemporaryDir dir;
    const QString photo = dir.filePath("photo.jpg");
    writeFile(photo, jpeg(photoLike(400, 300)));
    keepPanelValues(RowSettings());
    const QString kind = other.section(u':', 0, 0);
    const QString otherPath = dir.filePath(other.section(u':', 1));
    QStringList files{photo};
    if (kind == u"picture" || kind == u"truncated") {
        const QByteArray bytes = jpeg(photoLike(400, 300));
        writeFile(otherPath, kind == u"picture" ? bytes : bytes.left(bytes.size() / 3));
        files.append(otherPath);
    } else if (kind == u"text") {
        writeFile(otherPath, "not a picture\n");
        files.append(otherPath);
    } else if (kind == u"earlier") {
        QCOMPARE(runAction({"--convert", "--last", photo}), 0);
    } else if (kind == u"own") {
        writeFile(otherPath, jpeg(quadrants(40, 30)));
    } else if (kind == u"none") {
        files.clear();
    }
    const QString before = fileIdentity(dir.filePath("photo_b.jpg"));
    for (const int a : answers)
        Prompts::setNextAnswer(Prompts::Answer(a));
    Prompts::clearShown();
    QStringList line = args;
    if (args.value(0) == u"--no-convert")
        line = QStringList{"--preset", "メール"};
    else
        line.prepend(QStringLiteral("--convert"));

    QCOMPARE(runAction(line + files), status);
    const QString after = fileIdentity(dir.filePath("photo_b.jpg"));
    QCOMPARE(!after.isEmpty() && after != before, photoWritten);
    QCOMPARE(notWhole(dir.path(), {"photo.jpg", "second.jpg", "broken.jpg", "notes.txt", "photo_b.jpg"}), QString());
    if (kind == u"own")
        QCOMPARE(readFile(otherPath), jpeg(quadrants(40, 30)));
    if (!said.isEmpty()) {
        // The summary names the file and why, as the window's does.
        const QString summary = g_summary;
        QVERIFY2((summary + shownTexts()).contains(said), qPrintable(summary + shownTexts()));
        if (kind == u"truncated" || kind == u"text") {
            const QString named = summary.mid(summary.indexOf(said));
            QVERIFY2(named.size() > said.size() + 8, qPrintable(summary)); // a reason follows the name
        }
    }
}

void TestConvertWindow::stopMidway_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("中止 button") << "button";
    QTest::newRow("Escape") << "escape";
    QTest::newRow("close box") << "close";
}

void TestConvertWindow::stopMidway()
{
    QFETCH(QString, how);
    constexpr int kPictures = 10;
    QTemporaryDir dir;
    QStringList files;
    QStringList sources;
    for (int i = 0; i < kPictures; ++i) {
        const QString name = QStringLiteral("p%1.jpg").arg(i);
        writeFile(dir.filePath(name), jpeg(noise(1200, 900)));
        files.append(dir.filePath(name));
        sources.append(name);
    }
    ConvertWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    connect(&window, &ConvertWindow::progressed, &window, [&window, &how](int done) {
        if (done != 1)
            return;
        if (how == u"button")
            window.findChild<QPushButton *>(QStringLiteral("stop"))->click();
        else if (how == u"escape")
            QTest::keyClick(&window, Qt::Key_Escape);
        else
            window.close();
    });
    QVERIFY(window.start(files, longEdge(300, OutputFormat::Jpeg), 1));
    QTRY_VERIFY_WITH_TIMEOUT(window.isOver(), 120000);
    // The window stays for its summary.
    QVERIFY(window.isVisible());
    QCOMPARE(window.exitStatus(), 1);
    const int written = int(filesIn(dir.path()).size()) - kPictures;
    QVERIFY2(written >= 1 && written < kPictures, qPrintable(filesIn(dir.path()).join(u' ')));
    QCOMPARE(notWhole(dir.path(), sources), QString());
    const QString summary = window.findChild<QLabel *>(QStringLiteral("summary"))->text();
    QVERIFY2(summary.contains(QStringLiteral("%1件を保存しました").arg(written))
                 && summary.contains(QStringLiteral("中止")),
             qPrintable(summary));
    // Once over, Escape closes it.
    QTest::keyClick(&window, Qt::Key_Escape);
    QTRY_VERIFY(!window.isVisible());
}

void TestConvertWindow::openFolder_data()
{
    QTest::addColumn<QString>("folder"); // where the outputs go, under the test's folder; empty: beside
    QTest::addColumn<bool>("broken"); // the only picture cannot be converted
    QTest::addColumn<bool>("opens"); // the desktop can be asked to open it

    QTest::newRow("beside the picture") << "" << false << true;
    QTest::newRow("a chosen folder") << "web/" << false << true;
    QTest::newRow("nothing saved: nothing to open") << "" << true << true;
    QTest::newRow("no file manager") << "" << false << false;
}

void TestConvertWindow::openFolder()
{
    QFETCH(QString, folder);
    QFETCH(bool, broken);
    QFETCH(bool, opens);

    QTemporaryDir dir;
    const QByteArray bytes = jpeg(photoLike(400, 300));
    writeFile(dir.filePath("photo.jpg"), broken ? bytes.left(bytes.size() / 3) : bytes);
    RowSettings settings = longEdge(100, OutputFormat::Jpeg);
    if (!folder.isEmpty()) {
        settings.folder = dir.filePath(folder);
        QVERIFY(QDir().mkpath(settings.folder));
    }
    ConvertWindow window;
    window.show();
    QVERIFY(window.start({dir.filePath("photo.jpg")}, settings));
    QTRY_VERIFY_WITH_TIMEOUT(window.isOver(), 60000);
    auto *open = window.findChild<QPushButton *>(QStringLiteral("openFolder"));
    QVERIFY(open->isVisible());
    QCOMPARE(open->isEnabled(), !broken);
    if (broken)
        return;
    Prompts::clearShown();
    Prompts::setNextUrlOpened(opens);
    QTest::keyClick(open, Qt::Key_Space);
    QVERIFY(!Prompts::shown().isEmpty());
    const Prompts::Message asked = Prompts::shown().first();
    QCOMPARE(asked.kind, Prompts::Kind::Url);
    QCOMPARE(QUrl(asked.text).toLocalFile(), QDir::cleanPath(folder.isEmpty() ? dir.path() : dir.filePath(folder)));
    // When the desktop cannot be asked, the user is told.
    QCOMPARE(Prompts::shown().size(), opens ? 1 : 2);
}

QTEST_MAIN(TestConvertWindow)
#include "tst_convertwindow.moc"

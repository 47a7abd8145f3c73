// Presets from the window: the panel saved as a preset reads back as itself, a
// chosen preset reaches the selected rows and their written files (or the rows
// added next), the menu renames, deletes, writes out and reads in, and a file that
// is no preset changes nothing.

#include "app/form1.h"
#include "app/prompts.h"
#include "app/settingspanel.h"
#include "compose/presets.h"
#include "joblist/joblistview.h"
#include "tests/common/camerametadata.h"
#include "tests/common/formatreaders.h"
#include "tests/common/testpictures.h"
#include "tests/common/widgets.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

using namespace kestrovia;
using namespace testpics;
using testui::control;

namespace {

// A preset away from the start-up values in what a written file shows.
Preset smallWebp(const QString &folder)
{
    Preset p{QStringLiteral("小さい WebP"), {}};
    p.settings.size = {SizeRule::Exact, {60, 40}};
    p.settings.keepAspect = false;
    p.settings.metadata = MetadataChoice::DropAll;
    p.settings.format = OutputFormat::WebP;
    p.settings.folder = folder;
    p.settings.namePattern = QStringLiteral("{name}_web");
    return p;
}

Preset halfPng(const QString &folder)
{
    Preset p{QStringLiteral("半分 PNG"), {}};
    p.settings.size = {SizeRule::Percent, {}, 1600, 50};
    p.settings.metadata = MetadataChoice::KeepAll;
    p.settings.format = OutputFormat::Png;
    p.settings.folder = folder;
    p.settings.namePattern = QStringLiteral("{name}_half");
    return p;
}

QStringList items(const QComboBox *combo)
{
    QStringList names;
    for (int i = 0; i < combo->count(); ++i)
        names << combo->itemText(i);
    return names;
}

QStringList files(const QString &folder)
{
    QStringList names = QDir(folder).entryList(QDir::Files | QDir::NoDotAndDotDot);
    names.sort();
    return names;
}

} // namespace

// x265 keeps a few allocations of its own after an encoder is freed.
extern "C" const char *__lsan_default_suppressions() { return "leak:libx265.so\n"; }

class TestPresetPanel : public QObject {
    Q_OBJECT

    QTemporaryDir m_config;
    QTemporaryDir m_dir;
    QString m_root;

    QString folder() const { return presetsFolder(); }
    void choose(QWidget *window, const QString &name)
    {
        auto *combo = control<QComboBox>(window, "PresetChoice");
        const int index = combo->findText(name);
        QVERIFY2(index >= 0, qPrintable(name));
        combo->setCurrentIndex(index);
        emit combo->activated(index);
    }
    void menu(QWidget *window, const char *action)
    {
        Prompts::setNextMenuChoice(QString::fromLatin1(action));
        control<QAbstractButton>(window, "PresetMenuButton")->click();
    }

private slots:
    void initTestCase() { qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_config.path())); }
    void init()
    {
        Prompts::setScripted(true);
        Prompts::clearShown();
        QDir(folder()).removeRecursively();
        m_root = m_dir.path() + '/' + QTest::currentTestFunction() + QString::fromUtf8(QTest::currentDataTag()) + '/';
        QVERIFY(QDir().mkpath(m_root + "out"));
    }

    // 保存… keeps the panel's values under the name typed, asking before it replaces
    // a preset of that name; the combo box then names it.
    void savePanel_data()
    {
        QTest::addColumn<QString>("name"); // typed; "-" cancels the dialog
        QTest::addColumn<bool>("existed"); // a preset of that name was saved before
        QTest::addColumn<int>("answer"); // to the question before replacing
        QTest::addColumn<bool>("saved");
        QTest::newRow("new name") << "週末" << false << int(Prompts::Cancel) << true;
        QTest::newRow("blanks around") << "  週末 " << false << int(Prompts::Cancel) << true;
        QTest::newRow("replaced") << "週末" << true << int(Prompts::Overwrite) << true;
        QTest::newRow("not replaced") << "週末" << true << int(Prompts::Cancel) << false;
        QTest::newRow("shipped changed") << "メール" << false << int(Prompts::Overwrite) << true;
        QTest::newRow("blank name") << "   " << false << int(Prompts::Cancel) << false;
        QTest::newRow("dialog cancelled") << "-" << false << int(Prompts::Cancel) << false;
    }
    void savePanel()
    {
        QFETCH(QString, name);
        QFETCH(bool, existed);
        QFETCH(int, answer);
        QFETCH(bool, saved);
        const Preset before{name.trimmed(), {}};
        if (existed)
            savePreset(before);
        SettingsPanel panel;
        const RowSettings asked = smallWebp(m_root + "out/").settings;
        panel.showSettings(asked);
        if (name != "-")
            Prompts::setNextText(name);
        Prompts::setNextAnswer(Prompts::Answer(answer));
        menu(&panel, "PresetSave");

        const bool replacing = existed || name == "メール";
        // The menu, the name asked, and the question before replacing.
        QCOMPARE(Prompts::shown().size(), 2 + int(replacing && !name.trimmed().isEmpty() && name != "-"));
        const QString path = presetFilePath(name.trimmed());
        if (saved) {
            QCOMPARE(readPresetFile(path), (Preset{name.trimmed(), asked}));
            QCOMPARE(findPreset(name.trimmed())->settings, asked);
            QCOMPARE(control<QComboBox>(&panel, "PresetChoice")->currentText(), name.trimmed());
        } else {
            QCOMPARE(QFile::exists(path), existed);
            if (existed)
                QCOMPARE(readPresetFile(path), before);
            QCOMPARE(control<QComboBox>(&panel, "PresetChoice")->currentIndex(), -1);
        }
    }

    // A size typed and not yet left counts when the menu is clicked.
    void saveTakesWhatIsBeingTyped()
    {
        SettingsPanel panel;
        RowSettings exact;
        exact.size = {SizeRule::Exact, {640, 480}};
        panel.showSettings(exact);
        QVERIFY(testui::shown(&panel, true));
        auto *width = control<QLineEdit>(&panel, "TxtWidth");
        width->setFocus();
        width->selectAll();
        QTest::keyClicks(width, "321");
        Prompts::setNextText("typed");
        Prompts::setNextMenuChoice("PresetSave");
        QTest::mouseClick(control<QAbstractButton>(&panel, "PresetMenuButton"), Qt::LeftButton);
        QCOMPARE(findPreset("typed")->settings.size.exact, QSize(321, 480));
    }

    // A preset chosen with rows selected sets every field of those rows, and the run
    // writes them so; the rows not selected keep theirs. With none selected it is
    // what the rows added next take.
    // clang-format off
    void chosenPresetReachesRowsAndFiles_data()
    {
        QTest::addColumn<QString>("preset");
        QTest::addColumn<QList<int>>("selected"); // none: chosen before the pictures are added
        QTest::addColumn<QSize>("size");
        QTest::addColumn<QString>("suffix"); // of the written names
        QTest::addColumn<QString>("tags"); // kept: "place", "camera" or "none"
        QTest::newRow("webp, 3 of 5") << "小さい WebP" << QList<int>{2, 3, 4} << QSize(60, 40) << "_web.webp" << "none";
        QTest::newRow("png, 3 of 5") << "半分 PNG" << QList<int>{1, 3, 5} << QSize(150, 200) << "_half.png" << "place";
        QTest::newRow("webp, before adding") << "小さい WebP" << QList<int>{} << QSize(60, 40) << "_web.webp" << "none";
        QTest::newRow("shipped, 3 of 5") << "メール" << QList<int>{1, 2, 3} << QSize(768, 1024) << "_b.jpg" << "camera";
    }
    // clang-format on
    void chosenPresetReachesRowsAndFiles()
    {
        QFETCH(QString, preset);
        QFETCH(QList<int>, selected);
        QFETCH(QSize, size);
        QFETCH(QString, suffix);
        QFETCH(QString, tags);
        const QString out = m_root + "out/";
        savePreset(smallWebp(out));
        savePreset(halfPng(out));
        Form1 form;
        QVERIFY(testui::shown(&form));
        JobTable &t = *form.table();
        if (selected.isEmpty())
            choose(&form, preset);
        // Stored 400 x 300, upright (its camera's orientation) 300 x 400.
        const QByteArray photo = withCameraMetadata(jpeg(quadrants(400, 300)));
        QStringList names;
        for (const char *name : {"a.jpg", "b.jpg", "c.jpg", "d.jpg", "e.jpg"})
            writeFile(names.emplace_back(m_root + name), photo);
        testui::dropFiles(control<JobListView>(&form, "PicsGalary")->viewport(), names);
        QTRY_VERIFY(!form.isAdding() && t.Rows() == 6);
        const RowSettings dropped = rowSettingsOf(t.jobRow(1));
        if (!selected.isEmpty()) {
            t.selectRows(selected, selected[0]);
            choose(&form, preset);
        } else {
            selected = {1, 2, 3, 4, 5};
        }
        const RowSettings settings = findPreset(preset)->settings;
        QCOMPARE(control<SettingsPanel>(&form, "Frame1")->values(), settings);
        for (int r = 1; r <= 5; ++r)
            QCOMPARE(rowSettingsOf(t.jobRow(r)), selected.contains(r) ? settings : dropped);

        auto *start = control<QAbstractButton>(&form, "BtnMain");
        start->click();
        QTRY_VERIFY_WITH_TIMEOUT(start->text() != QString::fromUtf8("中止"), 30000);

        QVERIFY2(Prompts::shown().isEmpty(), qPrintable(Prompts::shown().value(0).informative));
        for (int r = 1; r <= 5; ++r) {
            const QString stem = QString(QChar(u'a' + r - 1));
            const bool set = selected.contains(r);
            const QString path =
                set ? (settings.folder.isEmpty() ? m_root : out) + stem + suffix : m_root + stem + "_b.jpg";
            QVERIFY2(QFile::exists(path), qPrintable(path));
            const QByteArray file = readFile(path);
            const OutputFormat format = set ? settings.format : OutputFormat::Jpeg;
            QCOMPARE(decodedByItsLibrary(format, file).size(), set ? size : QSize(300, 400));
            const QString kept = set ? tags : "camera"; // the drop's values drop the place
            const ReadBack back = readBack(file);
            QCOMPARE(!back.exif("Exif.GPSInfo.GPSLatitude").isEmpty(), kept == "place");
            QCOMPARE(!back.exif("Exif.Image.Make").isEmpty(), kept != "none");
        }
    }

    // The combo box names the preset the panel's values are, and 「—」 once a control
    // is set away from it or the rows shown differ.
    void comboNamesThePresetShown()
    {
        SettingsPanel panel;
        auto *combo = control<QComboBox>(&panel, "PresetChoice");
        choose(&panel, "SNS");
        QCOMPARE(panel.values(), findPreset("SNS")->settings);
        QCOMPARE(combo->currentText(), "SNS");
        auto *level = control<QScrollBar>(&panel, "CompressLevel");
        level->triggerAction(QAbstractSlider::SliderSingleStepAdd);
        QCOMPARE(combo->currentIndex(), -1);
        QCOMPARE(combo->placeholderText(), "—");
        level->triggerAction(QAbstractSlider::SliderSingleStepSub);
        QCOMPARE(combo->currentText(), "SNS");
        panel.showSettings(panel.values(), {RowField::Turn});
        QCOMPARE(combo->currentIndex(), -1);
    }

    // 名前の変更… and 削除 act on the preset shown; a shipped preset goes back to
    // what it shipped as and cannot be deleted as it came.
    // clang-format off
    void renameAndDelete_data()
    {
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QString>("gesture"); // "rename <name>", "delete"
        QTest::addColumn<int>("answer");
        QTest::addColumn<QStringList>("filesAfter");
        QTest::addColumn<QString>("failure"); // part of the warning shown; empty: none
        QTest::addColumn<int>("asked"); // what was shown after the menu
        QTest::newRow("rename") << "小さい WebP" << "rename 縮小" << 0 << QStringList{"半分 PNG.kestrovia-preset", "縮小.kestrovia-preset", "ウェブ用.kestrovia-preset"} << "" << 1;
        QTest::newRow("rename onto another") << "小さい WebP" << "rename 半分 PNG" << 0 << QStringList{"半分 PNG.kestrovia-preset", "小さい WebP.kestrovia-preset", "ウェブ用.kestrovia-preset"} << "すでにあります" << 2;
        QTest::newRow("rename to slash") << "小さい WebP" << "rename a/b" << 0 << QStringList{"a%2Fb.kestrovia-preset", "半分 PNG.kestrovia-preset", "ウェブ用.kestrovia-preset"} << "" << 1;
        QTest::newRow("rename cancelled") << "小さい WebP" << "rename" << 0 << QStringList{"半分 PNG.kestrovia-preset", "小さい WebP.kestrovia-preset", "ウェブ用.kestrovia-preset"} << "" << 1;
        QTest::newRow("delete") << "半分 PNG" << "delete" << int(Prompts::Delete) << QStringList{"小さい WebP.kestrovia-preset", "ウェブ用.kestrovia-preset"} << "" << 1;
        QTest::newRow("delete declined") << "半分 PNG" << "delete" << int(Prompts::Cancel) << QStringList{"半分 PNG.kestrovia-preset", "小さい WebP.kestrovia-preset", "ウェブ用.kestrovia-preset"} << "" << 1;
        QTest::newRow("changed shipped back") << "ウェブ用" << "delete" << int(Prompts::Delete) << QStringList{"半分 PNG.kestrovia-preset", "小さい WebP.kestrovia-preset"} << "" << 1;
        QTest::newRow("shipped as it came") << "メール" << "delete" << int(Prompts::Delete) << QStringList{"半分 PNG.kestrovia-preset", "小さい WebP.kestrovia-preset", "ウェブ用.kestrovia-preset"} << "" << 0;
    }
    // clang-format on
    void renameAndDelete()
    {
        QFETCH(QString, shown);
        QFETCH(QString, gesture);
        QFETCH(int, answer);
        QFETCH(QStringList, filesAfter);
        QFETCH(QString, failure);
        QFETCH(int, asked);
        filesAfter.sort();
        savePreset(smallWebp({}));
        savePreset(halfPng({}));
        Preset web = *findPreset(QStringLiteral("ウェブ用"));
        web.settings.level = 8;
        savePreset(web);
        SettingsPanel panel;
        choose(&panel, shown);
        const RowSettings settings = findPreset(shown)->settings;
        const QStringList before = items(control<QComboBox>(&panel, "PresetChoice"));
        if (gesture.startsWith("rename ")) {
            Prompts::setNextText(gesture.mid(7));
            menu(&panel, "PresetRename");
        } else if (gesture == "rename") {
            menu(&panel, "PresetRename");
        } else {
            Prompts::setNextAnswer(Prompts::Answer(answer));
            menu(&panel, "PresetDelete");
        }

        QCOMPARE(files(folder()), filesAfter);
        const QStringList after = items(control<QComboBox>(&panel, "PresetChoice"));
        const QList<Prompts::Message> &said = Prompts::shown();
        QCOMPARE(said.size(), 1 + asked);
        if (!failure.isEmpty()) {
            QCOMPARE(said.last().icon, Prompts::Warning);
            QVERIFY2(said.last().text.contains(failure), qPrintable(said.last().text));
        }
        if (gesture.startsWith("rename ") && failure.isEmpty()) {
            const QString to = gesture.mid(7);
            QCOMPARE(findPreset(to)->settings, settings);
            QVERIFY(!findPreset(shown));
            QCOMPARE(control<QComboBox>(&panel, "PresetChoice")->currentText(), to);
        } else if (gesture == "delete" && filesAfter.size() < 3) {
            // A shipped preset stays offered, as it shipped.
            QCOMPARE(after.contains(shown), shown == QStringLiteral("ウェブ用"));
            if (shown == QStringLiteral("ウェブ用"))
                QCOMPARE(findPreset(shown)->settings, shippedPresets().first().settings);
        } else if (failure.isEmpty()) {
            QCOMPARE(after, before);
        }
    }

    // 書き出し… writes the preset shown as its file; 読み込み… takes a preset file in
    // and refuses one that is not, saying which file and why, with the presets as
    // they were.
    // clang-format off
    void writeOutAndReadIn_data()
    {
        QTest::addColumn<QByteArray>("file"); // read in; empty: the preset written out
        QTest::addColumn<QString>("why"); // part of the warning; empty: read in
        QTest::newRow("written out, read back") << QByteArray() << "";
        QTest::newRow("not json") << QByteArray("name=ウェブ用\n") << "JSON";
        QTest::newRow("empty") << QByteArray() << "JSON";
        QTest::newRow("no marker") << QByteArray(R"({"version":1,"name":"x","settings":{}})") << "format";
        QTest::newRow("level past 10") << QByteArray(R"({"format":"kestrovia-preset","version":1,"name":"x","settings":{"level":"12"}})") << "level";
        QTest::newRow("unknown turn") << QByteArray(R"({"format":"kestrovia-preset","version":1,"name":"x","settings":{"turn":"45"}})") << "turn";
        QTest::newRow("gone") << QByteArray() << "開けません";
    }
    // clang-format on
    void writeOutAndReadIn()
    {
        QFETCH(QByteArray, file);
        QFETCH(QString, why);
        const QString tag = QString::fromUtf8(QTest::currentDataTag());
        savePreset(halfPng(m_root));
        SettingsPanel panel;
        const QString path = m_root + "shared.kestrovia-preset";
        if (tag.startsWith("written")) {
            choose(&panel, "半分 PNG");
            Prompts::setNextFiles({path});
            menu(&panel, "PresetExport");
            QCOMPARE(readFile(path), presetFileBytes(halfPng(m_root)));
            Prompts::setNextAnswer(Prompts::Delete);
            menu(&panel, "PresetDelete");
            QVERIFY(!findPreset("半分 PNG"));
        } else if (tag != "gone") {
            writeFile(path, file);
        }
        const QStringList before = files(folder());
        Prompts::clearShown();
        Prompts::setNextFiles({path});
        menu(&panel, "PresetImport");

        const QList<Prompts::Message> &said = Prompts::shown();
        QCOMPARE(said.value(1).kind, Prompts::Kind::OpenFile);
        if (why.isEmpty()) {
            QCOMPARE(said.size(), 2);
            QCOMPARE(*findPreset("半分 PNG"), halfPng(m_root));
            QVERIFY(items(control<QComboBox>(&panel, "PresetChoice")).contains("半分 PNG"));
            return;
        }
        QCOMPARE(said.size(), 3);
        QCOMPARE(said.last().icon, Prompts::Warning);
        QVERIFY2(said.last().text.contains("shared.kestrovia-preset") && said.last().text.contains(why),
                 qPrintable(said.last().text));
        QCOMPARE(files(folder()), before);
    }
};

QTEST_MAIN(TestPresetPanel)
#include "tst_presetpanel.moc"

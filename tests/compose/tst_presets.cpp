// Presets as files: what is saved reads back as itself, a file that is no preset is
// refused saying which file and what, and the folder's presets stand over the
// shipped ones of their names.

#include "compose/presets.h"
#include "platform/failure.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

using namespace kestrovia;

namespace {

void write(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

QStringList names(const QList<Preset> &presets)
{
    QStringList n;
    for (const Preset &p : presets)
        n.append(p.name);
    return n;
}

// Every setting away from its start-up value.
RowSettings everythingChanged()
{
    RowSettings s;
    s.size.mode = SizeRule::Percent;
    s.size.percent = 37;
    s.size.shrinkOnly = true;
    s.keepAspect = false;
    s.backColor = 0x00123456;
    s.centred = true;
    s.turn = 270;
    s.level = 3.7;
    s.folder = QStringLiteral("/srv/写真/web/");
    s.metadata = MetadataChoice::KeepAll;
    s.format = OutputFormat::Avif;
    s.keepTransparency = true;
    s.namePattern = QStringLiteral("{名前}_{連番:3}");
    return s;
}

} // namespace

class TestPresets : public QObject {
    Q_OBJECT
private slots:
    void roundTrip_data();
    void roundTrip();
    void refused_data();
    void refused();
    void folder();
};

void TestPresets::roundTrip_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<RowSettings>("settings");

    for (const Preset &p : shippedPresets())
        QTest::newRow(qPrintable(p.name)) << p.name << p.settings;
    QTest::newRow("every field changed") << QStringLiteral("全部") << everythingChanged();
    RowSettings exact;
    exact.size.mode = SizeRule::Exact;
    exact.size.exact = QSize(1, 32767);
    exact.turn = 90;
    exact.format = OutputFormat::WebP;
    exact.metadata = MetadataChoice::DropAll;
    exact.level = 0;
    QTest::newRow("edges of the ranges, a name with / and %") << QStringLiteral("a/b 100%") << exact;
    QTest::newRow("start-up values, a hidden name") << QStringLiteral(".dot") << RowSettings{};
}

void TestPresets::roundTrip()
{
    QFETCH(QString, name);
    QFETCH(RowSettings, settings);

    QTemporaryDir dir;
    const Preset preset{name, settings};
    savePreset(preset, dir.path());
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 1);
    const std::optional<Preset> back = findPreset(name, dir.path());
    QVERIFY(back);
    QCOMPARE(back->settings, settings);
    // Exported and imported on another machine.
    const QString exported = dir.filePath("exported.json");
    writePresetFile(preset, exported);
    QTemporaryDir other;
    QCOMPARE(importPreset(exported, other.path()).settings, settings);
    QCOMPARE(findPreset(name, other.path())->settings, settings);
}

void TestPresets::refused_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("said"); // besides the file's name

    QTest::newRow("not JSON") << QByteArray("[preset]\nsize=long 100\n") << "JSON";
    QTest::newRow("cut short") << QByteArray(R"({"format":"kestrovia-preset","version":1,"na)") << "JSON";
    QTest::newRow("JSON of something else") << QByteArray(R"({"name":"x","settings":{}})") << "kestrovia-preset";
    QTest::newRow("another marker") << QByteArray(R"({"format":"xnconvert","version":1,"name":"x"})")
                                    << "kestrovia-preset";
    QTest::newRow("a later version") << QByteArray(R"({"format":"kestrovia-preset","version":2,"name":"x"})")
                                     << "version 2";
    QTest::newRow("no version") << QByteArray(R"({"format":"kestrovia-preset","name":"x"})") << "version";
    QTest::newRow("no name") << QByteArray(R"({"format":"kestrovia-preset","version":1,"settings":{}})") << "名前";
    const auto with = [](const char *settings) {
        return QByteArray(R"({"format":"kestrovia-preset","version":1,"name":"x","settings":{)") + settings + "}}";
    };
    QTest::newRow("level above 10") << with(R"("level":"11")") << "level";
    QTest::newRow("level below 0") << with(R"("level":"-1")") << "level";
    QTest::newRow("level no number") << with(R"("level":"high")") << "level";
    QTest::newRow("level as a number") << with(R"("level":5)") << "level";
    QTest::newRow("turn off the list") << with(R"("turn":"45")") << "turn";
    QTest::newRow("long edge 0") << with(R"("size":"long 0")") << "size";
    QTest::newRow("size beyond the limit") << with(R"("size":"40000*10")") << "size";
    QTest::newRow("format gif") << with(R"("format":"gif")") << "format";
    QTest::newRow("metadata unknown") << with(R"("metadata":"some")") << "metadata";
    QTest::newRow("fit unknown") << with(R"("fit":"maybe")") << "fit";
    QTest::newRow("colour no number") << with(R"("background":"red")") << "background";
}

void TestPresets::refused()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, said);

    QTemporaryDir dir;
    const QString path = dir.filePath("友達の.kestrovia-preset");
    write(path, bytes);
    QTemporaryDir into;
    QString message;
    try {
        importPreset(path, into.path());
    } catch (const Failure &f) {
        message = f.message();
    }
    QVERIFY2(message.contains(QStringLiteral("友達の.kestrovia-preset")), qPrintable(message));
    QVERIFY2(message.contains(said), qPrintable(message));
    // Nothing of it joins the presets.
    QCOMPARE(QDir(into.path()).entryList(QDir::Files).size(), 0);
    QCOMPARE(names(loadPresets(dir.path())), names(shippedPresets()));
}

void TestPresets::folder()
{
    QTemporaryDir dir;
    const QString web = shippedPresets().first().name;
    QCOMPARE(findPreset(web, dir.path())->settings, shippedPresets().first().settings);

    // A changed shipped preset is the user's, in the shipped one's place.
    Preset changed = shippedPresets().first();
    changed.settings.level = 8;
    savePreset(changed, dir.path());
    QCOMPARE(names(loadPresets(dir.path())), names(shippedPresets()));
    QCOMPARE(findPreset(web, dir.path())->settings.level, 8.0);

    // Renamed: the user's copy takes the new name; the shipped one is offered again.
    renamePreset(web, QStringLiteral("私のウェブ"), dir.path());
    QCOMPARE(findPreset(QStringLiteral("私のウェブ"), dir.path())->settings.level, 8.0);
    QCOMPARE(findPreset(web, dir.path())->settings.level, 5.0);
    QVERIFY_THROWS_EXCEPTION(Failure, renamePreset(QStringLiteral("私のウェブ"), web, dir.path()));
    QVERIFY_THROWS_EXCEPTION(Failure, renamePreset(QStringLiteral("ない"), QStringLiteral("b"), dir.path()));

    // A broken file among them leaves the others.
    write(dir.filePath("broken.kestrovia-preset"), "{");
    QCOMPARE(names(loadPresets(dir.path())), names(shippedPresets()) + QStringList{QStringLiteral("私のウェブ")});

    QVERIFY(removePreset(QStringLiteral("私のウェブ"), dir.path()));
    QVERIFY(!findPreset(QStringLiteral("私のウェブ"), dir.path()));
    QVERIFY(!removePreset(web, dir.path()));
}

QTEST_GUILESS_MAIN(TestPresets)
#include "tst_presets.moc"

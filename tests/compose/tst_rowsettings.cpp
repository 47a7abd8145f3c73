// The row model: every field of the settings type through a row's cells, the kept
// texts and the preview's canvas key; the size rules, on the picture as it will be
// written; and the reasons a row's size fails with.

#include "compose/jobcompose.h"
#include "compose/jobrow.h"
#include "export/export.h"
#include "platform/failure.h"
#include "preview/keptpictures.h"
#include "tests/common/testpictures.h"

#include <QTest>

using namespace kestrovia;
using namespace testpics;

Q_DECLARE_METATYPE(kestrovia::SizeRule)

namespace {

// The start-up settings with an exact size that leaves bands around a 30 x 20
// picture, so that position and background show on the canvas.
RowSettings base()
{
    RowSettings s;
    s.size = {SizeRule::Exact, {40, 40}, 1600, 50, false};
    return s;
}

// base(), where field shows on the canvas: the format and 透明を残す keep the
// bands transparent only together.
RowSettings start(RowField field)
{
    RowSettings s = base();
    if (field == RowField::Format)
        s.keepTransparency = true;
    if (field == RowField::Transparency)
        s.format = OutputFormat::Png;
    return s;
}

// start(field) with field set to a value that differs from its own.
RowSettings changed(RowField field)
{
    RowSettings s = start(field);
    switch (field) {
    case RowField::Size: s.size.mode = SizeRule::Percent; break;
    case RowField::ShrinkOnly: s.size.shrinkOnly = true; break;
    case RowField::Fit: s.keepAspect = false; break;
    case RowField::Background: s.backColor = 0x0000FF; break;
    case RowField::Position: s.centred = true; break;
    case RowField::Turn: s.turn = 90; break;
    case RowField::Level: s.level = 2.6; break; // a JPEG with its chroma whole
    case RowField::Folder: s.folder = QStringLiteral("/out/"); break;
    case RowField::Metadata: s.metadata = MetadataChoice::KeepAll; break;
    case RowField::Format: s.format = OutputFormat::WebP; break;
    case RowField::Transparency: s.keepTransparency = true; break;
    case RowField::NamePattern: s.namePattern = QStringLiteral("{名前} {n:3}"); break;
    }
    return s;
}

// A row of a picture of size picture at path, holding settings.
JobRow rowOf(const RowSettings &settings, QSize picture = {30, 20}, const QString &path = "/p/a.bmp")
{
    JobRow row;
    row.fileName = "a.bmp";
    row.path = path;
    row.originalSize = sizeText(picture);
    writeRowSettings(row, settings);
    return row;
}

QString failureOf(const JobRow &row)
{
    try {
        readJob(row);
    } catch (const Failure &f) {
        return f.message();
    }
    return {};
}

} // namespace

class TestRowSettings : public QObject {
    Q_OBJECT

private slots:
    void fields_data()
    {
        QTest::addColumn<int>("field");
        for (const RowFieldEntry &entry : rowFields())
            QTest::newRow(entry.key) << int(entry.field);
    }
    // Each field, changed alone: into its own cell only, and back from the cells as
    // the value it was; through the kept texts and back; and the canvas key changes
    // exactly when the canvas composed from the row does.
    void fields()
    {
        QFETCH(int, field);
        const RowField f = RowField(field);
        const RowFieldEntry &entry = rowField(f);
        const RowSettings want = changed(f);
        QVERIFY(want != start(f));

        JobRow row = rowOf(start(f));
        const JobRow before = row;
        writeRowField(row, f, want);
        QCOMPARE(rowSettingsOf(row), want);
        QCOMPARE(readRowSettings(row), want);
        for (int col = 0; col < JobColumnCount; ++col) {
            // A field that decides the size also gives the row its new size.
            const bool own = col == entry.column || (col == ColNewSize && row.newSize != before.newSize);
            QVERIFY2((row.cell(col) != before.cell(col)) == own, qPrintable(QString::number(col)));
        }
        QVERIFY(row.cell(entry.column) != before.cell(entry.column));

        const QList<std::pair<QString, QString>> texts = settingsTexts(want);
        const RowSettings kept = settingsFromTexts([&texts](const QString &key) -> std::optional<QString> {
            for (const auto &[k, text] : texts)
                if (k == key)
                    return text;
            return std::nullopt;
        });
        QCOMPARE(kept, want);

        // What the preview keeps a canvas under, against the canvas itself.
        const QImage picture = quadrants(30, 20);
        DecodedPicture decoded;
        decoded.image = picture;
        decoded.size = picture.size();
        decoded.extent = QRectF(picture.rect());
        for (const bool withTurn : {true, false}) {
            const Job a = readJob(rowOf(start(f)));
            const Job b = readJob(row);
            // A JPEG's planes taken at another chroma show another picture too.
            const bool differs = composeJob(a, decoded, withTurn) != composeJob(b, decoded, withTurn)
                                 || planeRoute(a) != planeRoute(b);
            const bool keyDiffers = KeptPictures::canvasKey(a, withTurn) != KeptPictures::canvasKey(b, withTurn);
            QVERIFY2(!differs || keyDiffers, withTurn ? "with the turn" : "without the turn");
            if (withTurn)
                QCOMPARE(entry.shapesCanvas, differs);
            if (!entry.shapesCanvas)
                QVERIFY(!keyDiffers);
        }
    }

    // Texts a cell can hold that the panel never writes read as the engine takes
    // them, and the strict read fails a colour or level that is no number.
    void cellsAsTheEngineReadsThem()
    {
        JobRow row = rowOf(base());
        row.fit = "on";
        row.position = "middle";
        row.rotation = "45";
        row.metadata = "some";
        const RowSettings s = rowSettingsOf(row);
        QVERIFY(!s.keepAspect && !s.centred);
        QCOMPARE(s.turn, 0);
        QCOMPARE(s.metadata, MetadataChoice::DropLocation);
        row.backColor = "red";
        QCOMPARE(rowSettingsOf(row).backColor, RowSettings().backColor);
        QVERIFY_THROWS_EXCEPTION(Failure, readRowSettings(row));
        QVERIFY(failureOf(row).contains("背景色"));
        // The folder beside the picture is the picture's own folder in the cell.
        QCOMPARE(rowOf(base(), {30, 20}, "/photos/a.bmp").saveFolder, QStringLiteral("/photos/"));
        QCOMPARE(rowSettingsOf(rowOf(base(), {30, 20}, "/photos/a.bmp")).folder, QString());
    }

    // A row made without a rule (its size typed or copied, as the earlier release
    // kept rows) keeps the size it holds through a change of its turn.
    void aRowWithoutARuleKeepsItsSize()
    {
        JobRow row{"a.jpg", "1001*667", "/p/a.jpg", "200*100", "OFF", "0", "Top", "", "/p/", "5"};
        RowSettings turned;
        turned.turn = 90;
        writeRowField(row, RowField::Turn, turned);
        QCOMPARE(row.newSize, QStringLiteral("200*100"));
        QCOMPARE(rowSettingsOf(row).size, (SizeRule{SizeRule::Exact, {200, 100}, 1600, 50, false}));
    }

    // Each rule works a size out of the picture as it will be written: its shape
    // kept, the other side rounded to the nearest pixel with halves up, never below
    // one; shrink-only never enlarges a side, stretched or fitted.
    // clang-format off
    void sizeRules_data()
    {
        QTest::addColumn<SizeRule>("rule");
        QTest::addColumn<bool>("stretched");
        QTest::addColumn<QSize>("picture");
        QTest::addColumn<QSize>("size");
        const SizeRule longEdge{SizeRule::LongEdge, {}, 1600, 50, false};
        SizeRule shrinking = longEdge;
        shrinking.shrinkOnly = true;
        const auto percent = [](int p, bool shrink = false) { return SizeRule{SizeRule::Percent, {}, 1600, p, shrink}; };
        const auto exact = [](int w, int h, bool shrink) { return SizeRule{SizeRule::Exact, {w, h}, 1600, 50, shrink}; };
        QTest::newRow("own size") << SizeRule{} << false << QSize(1001, 667) << QSize(1001, 667);
        QTest::newRow("long edge, landscape") << longEdge << false << QSize(4000, 3000) << QSize(1600, 1200);
        QTest::newRow("long edge, portrait") << longEdge << false << QSize(3000, 4000) << QSize(1200, 1600);
        QTest::newRow("long edge, rounded") << longEdge << false << QSize(3000, 2000) << QSize(1600, 1067);
        QTest::newRow("long edge 500 of 1001 x 667") << SizeRule{SizeRule::LongEdge, {}, 500, 50, false} << false
                                                     << QSize(1001, 667) << QSize(500, 333);
        QTest::newRow("long edge, half up") << SizeRule{SizeRule::LongEdge, {}, 5, 50, false} << false
                                            << QSize(10, 5) << QSize(5, 3);
        QTest::newRow("long edge enlarges") << longEdge << false << QSize(800, 600) << QSize(1600, 1200);
        QTest::newRow("shrink only keeps a small one") << shrinking << false << QSize(800, 600) << QSize(800, 600);
        QTest::newRow("shrink only still shrinks") << shrinking << false << QSize(4000, 3000) << QSize(1600, 1200);
        QTest::newRow("half") << percent(50) << false << QSize(4000, 3000) << QSize(2000, 1500);
        QTest::newRow("half of 1001, halves up") << percent(50) << false << QSize(1001, 667) << QSize(501, 334);
        QTest::newRow("never below a pixel") << percent(1) << false << QSize(4000, 30) << QSize(40, 1);
        QTest::newRow("percent, shrink only, larger") << percent(150, true) << false << QSize(40, 30) << QSize(40, 30);
        // Past the limits: given as it is, for the row to say why.
        QTest::newRow("1000 % of 3400 x 2000") << percent(1000) << false << QSize(3400, 2000) << QSize(34000, 20000);
        QTest::newRow("exact") << exact(640, 480, false) << true << QSize(600, 500) << QSize(640, 480);
        QTest::newRow("exact, shrink only, fits, fitted")
            << exact(1600, 1200, true) << false << QSize(800, 600) << QSize(800, 600);
        QTest::newRow("exact, shrink only, larger") << exact(1600, 1200, true) << true << QSize(2000, 1500)
                                                    << QSize(1600, 1200);
        // Fitted, a canvas wider than the picture only adds background.
        QTest::newRow("exact, shrink only, one way, fitted")
            << exact(640, 480, true) << false << QSize(600, 500) << QSize(640, 480);
        // Stretched, the largest size of the asked shape within both.
        QTest::newRow("exact, shrink only, one way, stretched")
            << exact(640, 480, true) << true << QSize(600, 500) << QSize(600, 450);
        QTest::newRow("exact, shrink only, taller, stretched")
            << exact(640, 480, true) << true << QSize(700, 400) << QSize(533, 400);
        QTest::newRow("exact, shrink only, fits, stretched")
            << exact(640, 480, true) << true << QSize(300, 300) << QSize(300, 225);
    }
    // clang-format on
    void sizeRules()
    {
        QFETCH(SizeRule, rule);
        QFETCH(bool, stretched);
        QFETCH(QSize, picture);
        QFETCH(QSize, size);
        QCOMPARE(rule.sizeFor(picture, stretched), size);
    }

    // A row's size follows its own turn and its rule: the rule asks of the picture
    // turned, and a size no output can have fails the row naming the rule.
    void rowSizeAfterTheTurn_data()
    {
        QTest::addColumn<QSize>("picture");
        QTest::addColumn<QString>("rule");
        QTest::addColumn<int>("turn");
        QTest::addColumn<QString>("newSize");
        QTest::addColumn<QString>("failure"); // empty: none
        const QSize photo(1001, 667);
        QTest::newRow("long edge, upright") << photo << "long 500" << 0 << "500*333"
                                            << "";
        QTest::newRow("long edge, +90") << photo << "long 500" << 90 << "333*500"
                                        << "";
        QTest::newRow("long edge, -90") << photo << "long 500" << 270 << "333*500"
                                        << "";
        QTest::newRow("long edge, 180") << photo << "long 500" << 180 << "500*333"
                                        << "";
        QTest::newRow("half, +90") << photo << "percent 50" << 90 << "334*501"
                                   << "";
        QTest::newRow("own size, +90") << photo << "original" << 90 << "667*1001"
                                       << "";
        QTest::newRow("exact, +90") << photo << "640*480" << 90 << "640*480"
                                    << "";
        QTest::newRow("1000 %, within the limits") << photo << "percent 1000" << 0 << "10010*6670"
                                                   << "";
        QTest::newRow("1000 % of 3400 x 2000") << QSize(3400, 2000) << "percent 1000" << 0 << "34000*20000"
                                               << "サイズの指定「1000 %」では";
    }
    void rowSizeAfterTheTurn()
    {
        QFETCH(QSize, picture);
        QFETCH(QString, rule);
        QFETCH(int, turn);
        QFETCH(QString, failure);
        RowSettings s;
        rowField(RowField::Size).read(s, rule);
        JobRow row = rowOf(RowSettings(), picture);
        writeRowField(row, RowField::Size, s);
        s.turn = std::int16_t(turn);
        writeRowField(row, RowField::Turn, s);
        QTEST(row.newSize, "newSize");
        const QString why = failureOf(row);
        QVERIFY2(failure.isEmpty() ? why.isEmpty() : why.contains(failure), qPrintable(why));
    }

    // The level bar and the level: whole levels at ten steps, a dragged tenth kept.
    void levelBar_data()
    {
        QTest::addColumn<int>("bar");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("shownAt");
        QTest::newRow("0") << 0 << "0" << 0;
        QTest::newRow("37") << 37 << "3.7" << 30;
        QTest::newRow("50") << 50 << "5" << 50;
        QTest::newRow("100") << 100 << "10" << 100;
    }
    void levelBar()
    {
        QFETCH(int, bar);
        RowSettings s;
        s.level = levelOfBar(bar);
        QTEST(rowField(RowField::Level).text(s), "text");
        QTEST(levelBarValue(s.level), "shownAt");
    }
};

QTEST_MAIN(TestRowSettings)
#include "tst_rowsettings.moc"

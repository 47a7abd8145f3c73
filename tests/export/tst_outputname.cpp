// Output names: the pattern's fields, today's names from the default pattern, the
// names refused where a pattern is typed or after it is filled in, and the date a
// picture was taken.

#include "compose/pictureformat.h"
#include "compose/pictureprobe.h"
#include "export/outputname.h"
#include "platform/filename.h"
#include "tests/common/camerametadata.h"
#include "tests/common/formatpictures.h"

#include <QTemporaryDir>
#include <QtTest>

using namespace kestrovia;
using namespace testpics;

namespace {

// A name as the file system hands it over: Latin-1 and other bytes that are no
// UTF-8 come in as escapes (decodeFileName).
QString fromBytes(const char *bytes) { return decodeFileName(QByteArray(bytes)); }

NameFields row(const QString &source, bool sameKind = false)
{
    NameFields f;
    f.sourceName = source;
    f.sourceOfOutputKind = sameKind;
    f.size = QSize(1600, 1200);
    f.number = 7;
    f.date = QDateTime(QDate(2024, 5, 6), QTime(7, 8, 9));
    return f;
}

// An EXIF block (a TIFF structure) whose Exif directory holds DateTimeOriginal as
// date (19 characters and a NUL, as cameras write it).
QByteArray exifWithDate(const QByteArray &date, bool bigEndian = false, qint64 exifIfdAt = 26)
{
    QByteArray t(64, '\0');
    const auto put = [&](qsizetype at, quint32 v, int bytes) {
        for (int i = 0; i < bytes; ++i)
            t[at + (bigEndian ? bytes - 1 - i : i)] = char(v >> (8 * i));
    };
    t.replace(0, 4, bigEndian ? QByteArray("MM\0*", 4) : QByteArray("II*\0", 4));
    put(4, 8, 4);
    // IFD0 at 8: one entry, the Exif directory's offset.
    put(8, 1, 2);
    put(10, 0x8769, 2), put(12, 4, 2), put(14, 1, 4), put(18, quint32(exifIfdAt), 4);
    put(22, 0, 4);
    // The Exif directory at 26: one entry, DateTimeOriginal at 44.
    put(26, 1, 2);
    put(28, 0x9003, 2), put(30, 2, 2), put(32, 20, 4), put(36, 44, 4);
    put(40, 0, 4);
    t.replace(44, date.size(), date);
    return t;
}

} // namespace

class TestOutputName : public QObject {
    Q_OBJECT

private slots:
    // clang-format off
    // The default pattern gives every source the name outputs had before there
    // were patterns, so an earlier output is found again under its own name.
    void defaultNames_data()
    {
        QTest::addColumn<QString>("source");
        QTest::addColumn<QString>("output");
        QTest::newRow("jpg") << "photo.jpg" << "photo_b.jpg";
        QTest::newRow("JPG upper case") << "PHOTO.JPG" << "PHOTO_b.jpg";
        QTest::newRow("jpeg") << "photo.jpeg" << "photo_b.jpg";
        QTest::newRow("Jpe") << "photo.Jpe" << "photo_b.jpg";
        QTest::newRow("jfif") << "photo.jfif" << "photo_b.jpg";
        QTest::newRow("two dots") << "holiday.2001.jpg" << "holiday.2001_b.jpg";
        QTest::newRow("png") << "photo.png" << "photo.jpg";
        QTest::newRow("Bmp") << "photo.Bmp" << "photo.jpg";
        QTest::newRow("heic") << "IMG_0001.HEIC" << "IMG_0001.jpg";
        QTest::newRow("tif with dots") << "scan.v2.final.tif" << "scan.v2.final.jpg";
        QTest::newRow("jpg that is not the extension") << "jpg.png" << "jpg.jpg";
        QTest::newRow("ends in a dot") << "photo." << "photo.jpg";
        QTest::newRow("only an extension") << ".jpg" << "_b.jpg";
        QTest::newRow("blanks and Japanese") << "夏 の 海.JPEG" << "夏 の 海_b.jpg";
        QTest::newRow("Latin-1 bytes") << fromBytes("caf\xe9 cr\xe8me.jpg") << fromBytes("caf\xe9 cr\xe8me_b.jpg");
        QTest::newRow("broken UTF-8 before the dot") << fromBytes("a\xe3\x81.bmp") << fromBytes("a\xe3\x81.jpg");
    }
    // clang-format on
    void defaultNames()
    {
        QFETCH(QString, source);
        QFETCH(QString, output);
        const NamePattern pattern;
        QVERIFY(pattern.isDefault());
        QCOMPARE(pattern.error(), QString());
        QCOMPARE(pattern.warning(), QString());
        QCOMPARE(pattern.expand(row(source, isJpegExtension(GetExtension(source)))) + QStringLiteral(".jpg"), output);
        QCOMPARE(outputFileName(source), output);
        QCOMPARE(encodeFileName(output), encodeFileName(outputFileName(source)));
    }

    // clang-format off
    void fields_data()
    {
        QTest::addColumn<QString>("pattern");
        QTest::addColumn<QString>("source");
        QTest::addColumn<bool>("sameKind");
        QTest::addColumn<QString>("name");
        QTest::newRow("name alone drops _b") << "{名前}" << "photo.jpg" << true << "photo";
        QTest::newRow("ASCII names") << "{name}_{width}x{height}" << "a.b.png" << false << "a.b_1600x1200";
        QTest::newRow("Japanese size") << "{名前}-{幅}×{高さ}" << "p.jpg" << true << "p-1600×1200";
        QTest::newRow("number") << "{連番}" << "p.jpg" << false << "7";
        QTest::newRow("number of 3 digits") << "img{n:3}" << "p.jpg" << false << "img007";
        QTest::newRow("number longer than its digits") << "{連番:1}" << "p.jpg" << false << "7";
        QTest::newRow("date") << "{撮影日}" << "p.jpg" << false << "20240506";
        QTest::newRow("date in a format") << "{date:yyyy-MM-dd_HHmmss}" << "p.jpg" << false << "2024-05-06_070809";
        QTest::newRow("date in Japanese") << "{撮影日:yyyy年M月d日}" << "p.jpg" << false << "2024年5月6日";
        QTest::newRow("mark only for the same kind") << "{名前}{_b}" << "p.png" << false << "p";
        QTest::newRow("typed with the input method") << "｛名前｝＿｛連番：３｝" << "p.jpg" << false << "p＿007";
        QTest::newRow("braces doubled") << "{{{名前}}}" << "p.jpg" << false << "{p}";
        QTest::newRow("no dot") << "{名前}_s" << "photo" << false << "photo_s";
        QTest::newRow("field text copied, not read") << "{名前}" << "{連番}.png" << false << "{連番}";
        QTest::newRow("Latin-1 name") << "{名前}_{n:2}" << fromBytes("\xe9t\xe9.bmp") << false << fromBytes("\xe9t\xe9_07");
    }
    // clang-format on
    void fields()
    {
        QFETCH(QString, pattern);
        QFETCH(QString, source);
        QFETCH(bool, sameKind);
        const NamePattern p(pattern);
        QCOMPARE(p.error(), QString());
        QTEST(p.expand(row(source, sameKind)), "name");
    }

    // What the plan must find out before it can fill a pattern in.
    void needs_data()
    {
        QTest::addColumn<QString>("pattern");
        QTest::addColumn<bool>("size");
        QTest::addColumn<bool>("date");
        QTest::newRow("default") << NamePattern::defaultText() << false << false;
        QTest::newRow("width") << "{名前}_{幅}" << true << false;
        QTest::newRow("height") << "{height}" << true << false;
        QTest::newRow("date") << "{date:yyyy}{n}" << false << true;
    }
    void needs()
    {
        QFETCH(QString, pattern);
        const NamePattern p(pattern);
        QTEST(p.needsSize(), "size");
        QTEST(p.needsDate(), "date");
    }

    // clang-format off
    // A pattern that would give no usable name is refused as it is typed, with a
    // reason that names the fault.
    void refused_data()
    {
        QTest::addColumn<QString>("pattern");
        QTest::addColumn<QString>("reason"); // a part of the reason
        QTest::newRow("empty") << "" << "空";
        QTest::newRow("slash") << "{名前}/x" << "「/」";
        QTest::newRow("slash from the date format") << "{撮影日:yyyy/MM/dd}" << "「/」";
        QTest::newRow("NUL") << QStringLiteral("a") + QChar(0) + QStringLiteral("{n}") << "NUL";
        QTest::newRow("tab") << "a\t{n}" << "制御文字";
        QTest::newRow("new line") << "{n}\n" << "制御文字";
        QTest::newRow("DEL") << "{n}\x7f" << "制御文字";
        QTest::newRow("unknown field") << "{名前}{サイズ}" << "{サイズ}";
        QTest::newRow("empty field") << "{}" << "{}";
        QTest::newRow("field in another case") << "{Name}" << "{Name}";
        QTest::newRow("open brace") << "{名前" << "「{」";
        QTest::newRow("brace inside a field") << "{名{前}" << "「{」";
        QTest::newRow("close brace") << "名前}" << "「}」";
        QTest::newRow("digits not a number") << "{n:x}" << "桁数";
        QTest::newRow("no digits") << "{連番:0}" << "桁数";
        QTest::newRow("ten digits") << "{連番:10}" << "桁数";
        QTest::newRow("empty date format") << "{撮影日:}" << "日付";
        QTest::newRow("argument to the name") << "{名前:3}" << "{名前:3}";
        QTest::newRow("251 bytes of text") << QString(251, u'a') + QStringLiteral("{n}") << "256 バイト";
        QTest::newRow("84 kanji and 2 letters") << QString(84, u'写') + QStringLiteral("ab{n}") << "259 バイト";
    }
    // clang-format on
    void refused()
    {
        QFETCH(QString, pattern);
        QFETCH(QString, reason);
        const NamePattern p(pattern);
        QVERIFY2(p.error().contains(reason), qPrintable(p.error()));
        QCOMPARE(p.text(), pattern); // the field returns to what it held, not to this
    }

    void longestAccepted()
    {
        // 250 bytes of text leave room for ".avif".
        QCOMPARE(NamePattern(QString(250, u'a') + QStringLiteral("{n}")).error(), QString());
        QCOMPARE(NamePattern(QString(83, u'写') + QStringLiteral("a{n}")).error(), QString());
    }

    // clang-format off
    // What Windows or a memory card refuses, and a pattern that names every row
    // alike, are said but kept.
    void warned_data()
    {
        QTest::addColumn<QString>("pattern");
        QTest::addColumn<QString>("warning"); // a part of the warning, "" for none
        QTest::newRow("colon") << "{名前}:{n}" << "「:」";
        QTest::newRow("each once") << "a?b?c*<{n}>" << "「?*<>」";
        QTest::newRow("backslash") << "a\\{n}" << "「\\」";
        QTest::newRow("colon from the date format") << "{撮影日:HH:mm}" << "「:」";
        QTest::newRow("quote and bar") << "\"{n}|" << "「\"|」";
        QTest::newRow("no field") << "output" << "同じ名前";
        QTest::newRow("only the mark") << "x{_b}" << "同じ名前";
        QTest::newRow("full-width colon is fine") << "{名前}：{n}" << "";
        QTest::newRow("blanks are fine") << "{名前} {n}" << "";
    }
    // clang-format on
    void warned()
    {
        QFETCH(QString, pattern);
        QFETCH(QString, warning);
        const NamePattern p(pattern);
        QCOMPARE(p.error(), QString());
        if (warning.isEmpty())
            QCOMPARE(p.warning(), QString());
        else
            QVERIFY2(p.warning().contains(warning), qPrintable(p.warning()));
    }

    // clang-format off
    // A name after its pattern is filled in, extension included.
    void expandedNames_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("reason"); // a part of the reason, "" when it is a valid name
        QTest::newRow("plain") << "photo_b.jpg" << "";
        QTest::newRow("255 bytes") << QString(251, u'a') + QStringLiteral(".jpg") << "";
        QTest::newRow("256 bytes") << QString(252, u'a') + QStringLiteral(".jpg") << "256 バイト";
        QTest::newRow("83 kanji and 2 letters: 255 bytes") << QString(83, u'写') + QStringLiteral("aa.jpg") << "";
        QTest::newRow("84 kanji: 256 bytes") << QString(84, u'写') + QStringLiteral(".png") << "256 バイト";
        QTest::newRow("odd bytes count one each") << fromBytes(QByteArray(251, '\xe9').constData()) + QStringLiteral(".jpg") << "";
        QTest::newRow("odd bytes one too many") << fromBytes(QByteArray(252, '\xe9').constData()) + QStringLiteral(".jpg") << "256 バイト";
        QTest::newRow("slash from the source") << "a/b.jpg" << "「/」";
        QTest::newRow("new line from the source") << "a\nb.jpg" << "制御文字";
        QTest::newRow("NUL") << QStringLiteral("a") + QChar(0) + QStringLiteral(".jpg") << "NUL";
        QTest::newRow("empty") << "" << "空";
        QTest::newRow("dot") << "." << "フォルダ";
        QTest::newRow("dot dot") << ".." << "フォルダ";
        QTest::newRow("colon is for Windows to refuse") << "a:b.jpg" << "";
    }
    // clang-format on
    void expandedNames()
    {
        QFETCH(QString, name);
        QFETCH(QString, reason);
        const QString got = invalidNameReason(name);
        if (reason.isEmpty())
            QCOMPARE(got, QString());
        else
            QVERIFY2(got.contains(reason), qPrintable(got));
    }

    // clang-format off
    void dateTaken_data()
    {
        QTest::addColumn<QByteArray>("exif");
        QTest::addColumn<QDateTime>("taken"); // invalid: none
        const QDateTime taken(QDate(2024, 5, 6), QTime(7, 8, 9));
        QTest::newRow("little-endian") << exifWithDate("2024:05:06 07:08:09") << taken;
        QTest::newRow("big-endian") << exifWithDate("2024:05:06 07:08:09", true) << taken;
        QTest::newRow("with the JPEG prefix") << QByteArray("Exif\0\0", 6) + exifWithDate("2024:05:06 07:08:09") << taken;
        QTest::newRow("clock never set: blanks") << exifWithDate("    :  :     :  :  ") << QDateTime();
        QTest::newRow("clock never set: zeros") << exifWithDate("0000:00:00 00:00:00") << QDateTime();
        QTest::newRow("no such day") << exifWithDate("2023:02:30 07:08:09") << QDateTime();
        QTest::newRow("directory beyond the block") << exifWithDate("2024:05:06 07:08:09", false, 4000) << QDateTime();
        QTest::newRow("date cut") << exifWithDate("2024:05:06 07:08:09").left(55) << QDateTime();
        QTest::newRow("no EXIF") << QByteArray() << QDateTime();
        QTest::newRow("not TIFF") << QByteArray("2024:05:06 07:08:09") << QDateTime();
    }
    // clang-format on
    void dateTaken()
    {
        QFETCH(QByteArray, exif);
        QTEST(exifDateTaken(exif), "taken");
    }

    // clang-format off
    void dateOfFile_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<bool>("taken"); // the camera's date, or none
        const QImage picture = quadrants(32, 24);
        QTest::newRow("JPEG") << withCameraMetadata(jpeg(picture)) << true;
        QTest::newRow("TIFF") << withCameraMetadata(qtEncoded(picture, "TIFF")) << true;
        QTest::newRow("WebP") << withCameraMetadata(qtEncoded(picture, "WEBP")) << true;
        QTest::newRow("JPEG without EXIF") << jpeg(picture) << false;
        QTest::newRow("PNG without EXIF") << qtEncoded(picture, "PNG") << false;
        QTest::newRow("not a picture") << QByteArray("2024:05:06 07:08:09") << false;
    }
    // clang-format on
    void dateOfFile()
    {
        QFETCH(QByteArray, file);
        QFETCH(bool, taken);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("source"));
        writeFile(path, file);
        QCOMPARE(pictureDateTaken(path), taken ? QDateTime(QDate(2024, 5, 6), QTime(7, 8, 9)) : QDateTime());
    }

    void dateOfVanishedFile() { QCOMPARE(pictureDateTaken(QStringLiteral("/nonexistent/p.jpg")), QDateTime()); }
};

QTEST_GUILESS_MAIN(TestOutputName)
#include "tst_outputname.moc"

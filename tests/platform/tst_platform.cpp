// Number texts, file names, colour values, failure reasons and the busy pointer.

#include "platform/busypointer.h"
#include "platform/failure.h"
#include "platform/filename.h"
#include "platform/numbers.h"
#include "platform/syscolor.h"

#include <QGuiApplication>
#include <QPalette>
#include <QTest>

#include <new>
#include <stdexcept>

using namespace kestrovia;

class TestPlatform : public QObject {
    Q_OBJECT
private slots:
    void parseDecimal_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<double>("value");
        QTest::newRow("integer") << "640" << true << 640.0;
        QTest::newRow("blanks around") << "  12 " << true << 12.0;
        QTest::newRow("fraction") << "3.7" << true << 3.7;
        QTest::newRow("leading point") << ".5" << true << 0.5;
        QTest::newRow("trailing point") << "5." << true << 5.0;
        QTest::newRow("negative") << "-2147483643" << true << -2147483643.0;
        QTest::newRow("plus") << "+7" << true << 7.0;
        QTest::newRow("blank") << " " << false << 0.0;
        QTest::newRow("sign only") << "-" << false << 0.0;
        QTest::newRow("inner blank") << "6 40" << false << 0.0;
        QTest::newRow("comma decimal") << "3,7" << false << 0.0;
        QTest::newRow("exponent") << "1e3" << false << 0.0;
        QTest::newRow("hex") << "0x10" << false << 0.0;
        QTest::newRow("full-width digits") << QStringLiteral("６４０") << false << 0.0;
    }
    void parseDecimal()
    {
        QFETCH(QString, text);
        QFETCH(bool, ok);
        QFETCH(double, value);
        const auto v = kestrovia::parseDecimal(text);
        QCOMPARE(v.has_value(), ok);
        if (ok)
            QCOMPARE(*v, value);
    }

    // Every name comes back as the bytes it was; valid UTF-8 reads as Qt reads it,
    // and only the bytes that are no UTF-8 are carried as escapes.
    void fileNamesRoundTrip_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("escapes");
        QTest::newRow("ascii") << QByteArray("/tmp/a.jpg") << 0;
        QTest::newRow("Japanese") << QByteArray("/写真/夏.jpg") << 0;
        QTest::newRow("outside the BMP") << QByteArray("\xF0\x9F\x93\xB7.jpg") << 0;
        QTest::newRow("Latin-1 byte") << QByteArray("caf\xE9.jpg") << 1;
        QTest::newRow("Shift-JIS name") << QByteArray("\x8E\xCA\x90\x5E.jpg") << 1; // CA 90 happens to be UTF-8
        QTest::newRow("cut sequence at the end") << QByteArray("a\xE5\x86") << 2;
        QTest::newRow("overlong slash") << QByteArray("\xC0\xAF") << 2;
        QTest::newRow("encoded surrogate") << QByteArray("\xED\xA0\x80") << 3;
    }
    void fileNamesRoundTrip()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(int, escapes);
        const QString name = decodeFileName(bytes);
        QCOMPARE(encodeFileName(name), bytes);
        QCOMPARE(int(std::count_if(name.begin(), name.end(), [](QChar c) { return c.isLowSurrogate(); })),
                 escapes + (bytes.startsWith("\xF0") ? 1 : 0));
        if (escapes == 0)
            QCOMPARE(name, QString::fromUtf8(bytes));
    }

    // Ties go to the even neighbour, also below zero; overflow is no number.
    void roundingTiesToEven()
    {
        QCOMPARE(*roundToInt32(0.5), 0);
        QCOMPARE(*roundToInt32(-2.5), -2);
        QCOMPARE(*roundToInt32(2.51), 3);
        QCOMPARE(*textToInt16(QStringLiteral("3.5")), std::int16_t(4));
        QVERIFY(!textToInt16(QStringLiteral("40000")).has_value());
        QVERIFY(!textToInt32(QStringLiteral("99999999999")).has_value());
        QCOMPARE(*textToInt32(QStringLiteral("-2147483648")), std::numeric_limits<std::int32_t>::min());
    }

    void colourValues()
    {
        // 0x00BBGGRR both ways.
        QCOMPARE(resolveColorValue(0x563412), QColor(0x12, 0x34, 0x56));
        QCOMPARE(colorValueFromRgb(QColor(0x12, 0x34, 0x56)), 0x563412);
        // System colours are the classic ones whatever the desktop's theme says; an
        // index beyond the table gives the window background.
        QGuiApplication::setPalette(QPalette(QColor(0x22, 0x22, 0x22)));
        QCOMPARE(resolveColorValue(kWindowBackgroundRef), QColor(255, 255, 255));
        QCOMPARE(resolveColorValue(int(0x800000FFu)), QColor(255, 255, 255));
    }

    // Whatever ends a row's work reaches the user in Japanese: a failure's own
    // words, never a library's English text.
    void failureReasons_data()
    {
        QTest::addColumn<std::exception_ptr>("error");
        QTest::addColumn<QString>("says");
        QTest::newRow("a failure") << std::make_exception_ptr(Failure(QStringLiteral("壊れています")))
                                   << QStringLiteral("壊れています");
        QTest::newRow("a picture that cannot be read") << std::make_exception_ptr(
            unreadablePicture(QStringLiteral("/写真/夏.jpg"), Failure(QStringLiteral("空です"))))
                                                       << QStringLiteral("画像「夏.jpg」を読み込めません: 空です");
        QTest::newRow("memory") << std::make_exception_ptr(std::bad_alloc()) << QStringLiteral("メモリが足りません");
        QTest::newRow("a library's own") << std::make_exception_ptr(std::runtime_error("basic_string::_M_create"))
                                         << QStringLiteral("予期しないエラー");
        QTest::newRow("not even a std::exception") << std::make_exception_ptr(42) << QStringLiteral("予期しないエラー");
    }
    void failureReasons()
    {
        QFETCH(std::exception_ptr, error);
        QFETCH(QString, says);
        const QString reason = failureReason(error);
        QVERIFY2(reason.startsWith(says), qPrintable(reason));
    }

    void busyPointerNeverStacks()
    {
        BusyPointer::set();
        BusyPointer::set();
        QVERIFY(QGuiApplication::overrideCursor());
        BusyPointer::restore();
        QVERIFY(!QGuiApplication::overrideCursor());
        QVERIFY(!BusyPointer::isBusy());
        BusyPointer::restore();
        QVERIFY(!QGuiApplication::overrideCursor());
    }
};

QTEST_MAIN(TestPlatform)
#include "tst_platform.moc"

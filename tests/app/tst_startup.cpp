#include "app/commandline.h"
#include "app/form1.h"
#include "app/startup.h"
#include "joblist/dropimport.h"
#include "tests/common/widgets.h"

#include <QDir>
#include <QImage>
#include <QTemporaryDir>
#include <QTest>
#include <QTranslator>

using namespace kestrovia;

class TestStartup : public QObject {
    Q_OBJECT
private slots:
    void commandLine_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<bool>("textOnly");
        QTest::addColumn<int>("exitCode"); // -1: the window opens
        QTest::addColumn<QStringList>("files");
        QTest::newRow("files") << QStringList{"a.jpg", "b c.bmp"} << false << -1 << QStringList{"a.jpg", "b c.bmp"};
        QTest::newRow("dash name after --") << QStringList{"--", "-x.jpg"} << false << -1 << QStringList{"-x.jpg"};
        QTest::newRow("version") << QStringList{"--version", "a.jpg"} << true << 0 << QStringList{"a.jpg"};
        QTest::newRow("unknown option") << QStringList{"--bogus", "a.jpg"} << false << 1 << QStringList{};
    }
    void commandLine()
    {
        QFETCH(QStringList, args);
        QFETCH(bool, textOnly);
        QFETCH(int, exitCode);
        QFETCH(QStringList, files);
        const CommandLine commandLine(QStringList{"kestrovia"} + args);
        QCOMPARE(commandLine.asksForTextOnly(), textOnly);
        QCOMPARE(commandLine.answer().value_or(-1), exitCode);
        if (exitCode != 1)
            QCOMPARE(commandLine.files(), files);
    }

    // Files named at start become the rows a drop of the same names makes with the
    // panel as it stands at start-up; a relative name is taken from the working folder.
    void filesOnTheCommandLineAreDropped()
    {
        QTemporaryDir tmp;
        QImage picture(40, 30, QImage::Format_RGB32);
        picture.fill(Qt::darkCyan);
        QVERIFY(picture.save(tmp.filePath("写真 1.jpg"), "JPEG"));
        QVERIFY(picture.save(tmp.filePath("scan.BMP"), "BMP"));
        QFile notes(tmp.filePath("notes.txt"));
        QVERIFY(notes.open(QIODevice::WriteOnly));
        const QStringList named{"写真 1.jpg", tmp.filePath("notes.txt"), tmp.filePath("scan.BMP"),
                                tmp.filePath("gone.jpg")};

        const QString oldCurrent = QDir::currentPath();
        QVERIFY(QDir::setCurrent(tmp.path()));
        const std::unique_ptr<Form1> started = openMainWindow(CommandLine(QStringList{"kestrovia"} + named).files());
        QVERIFY(QDir::setCurrent(oldCurrent));
        QVERIFY(started->isVisible());

        JobTable dropped;
        appendDroppedFiles(dropped, {tmp.filePath("写真 1.jpg"), tmp.filePath("scan.BMP")},
                           [] { return DropPanelValues{}; });
        QCOMPARE(started->table()->Rows(), 3);
        QCOMPARE(testui::allCells(*started->table()).mid(1), testui::allCells(dropped).mid(1));
    }

    // Qt's own dialogs and buttons (the colour chooser, "Cancel") speak Japanese once
    // Qt's translation is installed.
    void qtDialogsInJapanese()
    {
        QTranslator *translator = installQtTranslations(*QCoreApplication::instance());
        if (!translator)
            QSKIP("Qt's Japanese translation (qt6-translations-l10n) is not installed");
        const QStringList texts{QCoreApplication::translate("QPlatformTheme", "Cancel"),
                                QCoreApplication::translate("QColorDialog", "&Basic colors")};
        QCoreApplication::removeTranslator(translator);
        delete translator;
        for (const QString &text : texts)
            QVERIFY2(std::any_of(text.begin(), text.end(), [](QChar c) { return c.unicode() >= 0x3040; }),
                     qPrintable(text));
    }
};

QTEST_MAIN(TestStartup)
#include "tst_startup.moc"

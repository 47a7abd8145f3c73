#include "app/commandline.h"
#include "app/form1.h"
#include "app/startup.h"
#include "joblist/jobtable.h"
#include "joblist/joblistview.h"

#include <QAbstractButton>
#include <QColorDialog>
#include <QDir>
#include <QDropEvent>
#include <QImage>
#include <QLabel>
#include <QMimeData>
#include <QTemporaryDir>
#include <QTest>
#include <QTranslator>

using namespace kestrovia;

namespace {

QList<QStringList> jobRows(const JobTable &t)
{
    QList<QStringList> rows;
    for (int r = 1; r < t.Rows(); ++r) {
        QStringList cells;
        for (int c = 0; c < t.Cols(); ++c)
            cells << t.TextMatrix(r, c);
        rows << cells;
    }
    return rows;
}

void dropOn(Form1 &form, const QStringList &absolutePaths)
{
    QMimeData data;
    QList<QUrl> urls;
    for (const QString &p : absolutePaths)
        urls << QUrl::fromLocalFile(p);
    data.setUrls(urls);
    QWidget *viewport = form.PicsGalary->viewport();
    const QPoint pos = viewport->rect().center();
    QDragEnterEvent enter(pos, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(viewport, &enter);
    QDropEvent drop(QPointF(pos), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(viewport, &drop);
}

QStringList dialogTexts(const QWidget &dialog)
{
    QStringList texts;
    for (const QLabel *l : dialog.findChildren<QLabel *>())
        texts << l->text();
    for (const QAbstractButton *b : dialog.findChildren<QAbstractButton *>())
        texts << b->text();
    return texts;
}

} // namespace

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

    // Files named at start become the rows a drop of the same names makes: the
    // same filter, the same panel values; a relative name is taken from the
    // working folder.
    void filesOnTheCommandLineAreDropped()
    {
        QTemporaryDir tmp;
        QVERIFY(tmp.isValid());
        QImage picture(40, 30, QImage::Format_RGB32);
        picture.fill(Qt::darkCyan);
        const QString jpeg = tmp.filePath("写真 1.jpg");
        const QString bmp = tmp.filePath("scan.BMP");
        QVERIFY(picture.save(jpeg, "JPEG"));
        QVERIFY(picture.save(bmp, "BMP"));
        QFile notes(tmp.filePath("notes.txt"));
        QVERIFY(notes.open(QIODevice::WriteOnly));
        notes.close();

        const QString oldCurrent = QDir::currentPath();
        QVERIFY(QDir::setCurrent(tmp.path()));
        const CommandLine commandLine({"kestrovia", "写真 1.jpg", tmp.filePath("notes.txt"), bmp,
                                       tmp.filePath("gone.jpg")});
        const std::unique_ptr<Form1> started = openMainWindow(commandLine.files());
        QVERIFY(QDir::setCurrent(oldCurrent));
        QVERIFY(started->isVisible());

        Form1 dropped;
        dropOn(dropped, {jpeg, tmp.filePath("notes.txt"), bmp, tmp.filePath("gone.jpg")});
        const QList<QStringList> rows = jobRows(*started->table());
        QCOMPARE(rows.size(), 2);
        QCOMPARE(rows[0][0], QStringLiteral("写真 1.jpg"));
        QCOMPARE(rows[1][0], QStringLiteral("scan.BMP"));
        QCOMPARE(rows, jobRows(*dropped.table()));
    }

    // Qt's own colour chooser speaks Japanese once Qt's translation is installed.
    void qtDialogsInJapanese_data()
    {
        QTest::addColumn<QString>("english");
        for (const char *text : {"&Basic colors", "&Custom colors", "&Pick Screen Color", "&Add to Custom Colors", "Cancel"})
            QTest::newRow(text) << QString::fromLatin1(text);
    }
    void qtDialogsInJapanese()
    {
        QFETCH(QString, english);
        QStringList before;
        {
            QColorDialog dialog;
            dialog.setOption(QColorDialog::DontUseNativeDialog);
            before = dialogTexts(dialog);
        }
        QTranslator *translator = installQtTranslations(*QCoreApplication::instance());
        if (!translator)
            QSKIP("Qt's Japanese translation (qt6-translations-l10n) is not installed");
        QColorDialog dialog;
        dialog.setOption(QColorDialog::DontUseNativeDialog);
        const QStringList after = dialogTexts(dialog);
        QCoreApplication::removeTranslator(translator);
        delete translator;

        const auto i = before.indexOf(english);
        QVERIFY2(i >= 0, qPrintable(before.join(u'|')));
        QVERIFY2(!after.contains(english), qPrintable(after.join(u'|')));
        // The same widget now carries kana or kanji.
        QCOMPARE(after.size(), before.size());
        const QString translated = after[i];
        QVERIFY2(std::any_of(translated.begin(), translated.end(), [](QChar c) { return c.unicode() >= 0x3040; }),
                 qPrintable(translated));
    }
};

QTEST_MAIN(TestStartup)
#include "tst_startup.moc"

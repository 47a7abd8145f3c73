// The About dialog: the link and readable labels in larger fonts (the main window
// opens it modally: tst_form1).

#include "app/aboutdialog.h"
#include "app/prompts.h"
#include "tests/common/widgets.h"

#include <QApplication>
#include <QLabel>
#include <QPointer>
#include <QTest>
#include <QUrl>

using namespace kestrovia;
using testui::control;

class TestAboutDialog : public QObject {
    Q_OBJECT

private slots:
    void init()
    {
        Prompts::setScripted(true);
        Prompts::clearShown();
    }
    void cleanup() { QApplication::setFont(QFont()); }

    // Each click on the link asks the desktop for the support page; only a request
    // that could not be made brings a box. Nothing else in the dialog reacts.
    void link_data()
    {
        QTest::addColumn<QStringList>("labels"); // clicked in order; "Label3 out": released outside
        QTest::addColumn<bool>("browserAsked");
        QTest::addColumn<QStringList>("prompts");
        const QString url = AboutDialog::supportUrl().toString();
        QTest::newRow("link twice") << QStringList{"Label3", "Label3"} << true << QStringList{url, url};
        QTest::newRow("browser cannot be asked") << QStringList{"Label3"} << false << QStringList{url, "error"};
        QTest::newRow("released outside the link") << QStringList{"Label3 out"} << true << QStringList{};
        QTest::newRow("other labels") << QStringList{"Picture1", "Label1", "Label2", "Label4"} << true << QStringList{};
    }
    void link()
    {
        QFETCH(QStringList, labels);
        QFETCH(bool, browserAsked);
        QFETCH(QStringList, prompts);
        QVERIFY(AboutDialog::supportUrl().isLocalFile());
        Prompts::setNextUrlOpened(browserAsked);
        QPointer<AboutDialog> dialog = new AboutDialog;
        QVERIFY(testui::shown(dialog));
        for (const QString &name : labels) {
            auto *label = control<QLabel>(dialog, name.section(' ', 0, 0).toLatin1());
            QTest::mousePress(label, Qt::LeftButton, {}, label->rect().center());
            QTest::mouseRelease(label, Qt::LeftButton, {},
                                name.endsWith(" out") ? label->rect().bottomRight() + QPoint(20, 20)
                                                      : label->rect().center());
        }
        QStringList seen;
        for (const Prompts::Message &m : Prompts::shown())
            seen << m.text;
        QCOMPARE(seen, prompts);
        QVERIFY(dialog && dialog->isVisible());
        delete dialog;
    }

    // The labels grow for a larger UI font (at 16 pt each must grow and move its
    // neighbours) instead of clipping or overlapping.
    void noLabelIsClipped()
    {
        QApplication::setFont(QFont(QStringLiteral("IPAPGothic"), 16));
        AboutDialog dialog;
        QList<QRect> placed;
        for (const char *name : {"Label1", "Label2", "Label3", "Label4"}) {
            auto *l = control<QLabel>(&dialog, name);
            QVERIFY2(l->width() >= l->sizeHint().width() && l->height() >= l->sizeHint().height(), name);
            QVERIFY2(dialog.rect().contains(l->geometry()), name);
            const QRect text(l->geometry().topLeft(), l->sizeHint());
            for (const QRect &other : placed)
                QVERIFY2(!text.intersects(other), name);
            placed << text;
        }
    }
};

QTEST_MAIN(TestAboutDialog)
#include "tst_aboutdialog.moc"

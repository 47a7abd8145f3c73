#include "app/aboutdialog.h"

#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QUrl>

using kestrovia::AboutDialog;

class TestAboutDialog : public QObject
{
    Q_OBJECT

private slots:
    void cleanup();

    void textsAndPlace();
    void noLabelIsClipped_data();
    void noLabelIsClipped();
    void linkOpensPageEachTime();
    void otherControlsDoNothing();
    void errorBoxWhenBrowserCannotBeAsked();
    void modalWhileShownAndDestroyedOnClose();
};

static QLabel *label(QWidget *dialog, const char *name)
{
    return dialog->findChild<QLabel *>(QLatin1String(name));
}

static void click(QWidget *widget)
{
    QTest::mouseClick(widget, Qt::LeftButton, {}, widget->rect().center());
}

void TestAboutDialog::cleanup()
{
    AboutDialog::setUrlOpener({});
    AboutDialog::setMessageBoxRunner({});
    AboutDialog::setModalRunner({});
    QApplication::setFont(QFont());
}

void TestAboutDialog::textsAndPlace()
{
    QPointer<AboutDialog> dialog = new AboutDialog({15, 15});
    QCOMPARE(dialog->objectName(), QStringLiteral("Dialog1"));
    QCOMPARE(dialog->windowTitle(), QStringLiteral("バージョン情報"));
    QVERIFY(!dialog->parentWidget());
    QCOMPARE(dialog->windowModality(), Qt::ApplicationModal);
    QVERIFY(!(dialog->windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)));
    QCOMPARE(dialog->minimumSize(), dialog->maximumSize());
    QCOMPARE(dialog->geometry().topLeft(), QPoint(184, 250));
    QVERIFY(dialog->width() >= 209 && dialog->height() >= 64);

    QCOMPARE(label(dialog, "Label1")->text(), QStringLiteral("Kestrovia"));
    QCOMPARE(label(dialog, "Label2")->text(), QStringLiteral("Ver 1.00β"));
    QLabel *link = label(dialog, "Label3");
    QCOMPARE(link->text(), QStringLiteral("Kestroviaサポートページ"));
    QVERIFY(link->font().underline());
    QCOMPARE(link->palette().color(QPalette::WindowText), QColor(Qt::blue));
    QCOMPARE(label(dialog, "Label4")->text(), QStringLiteral("Mail : support@kestrovia.example"));
    QVERIFY(label(dialog, "Picture1"));
    QCOMPARE(AboutDialog::supportUrl(), QUrl(QStringLiteral("http://kestrovia.example/")));
    delete dialog;
}

void TestAboutDialog::noLabelIsClipped_data()
{
    QTest::addColumn<QString>("family");
    QTest::addColumn<int>("points");
    QTest::newRow("IPAPGothic 9pt") << QStringLiteral("IPAPGothic") << 9;
    QTest::newRow("IPAPGothic 12pt") << QStringLiteral("IPAPGothic") << 12;
}

void TestAboutDialog::noLabelIsClipped()
{
    QFETCH(QString, family);
    QFETCH(int, points);
    QApplication::setFont(QFont(family, points));
    QPointer<AboutDialog> dialog = new AboutDialog({15, 15});
    const QRect client = dialog->rect();
    QList<QRect> placed;
    for (const char *name : {"Label1", "Label2", "Label3", "Label4"}) {
        QLabel *l = label(dialog, name);
        QVERIFY2(l->width() >= l->sizeHint().width() && l->height() >= l->sizeHint().height(), name);
        QVERIFY2(client.contains(l->geometry()), name);
        // The text's own extent must not run into another label's text.
        const QRect text(l->geometry().topLeft(), l->sizeHint());
        for (const QRect &other : placed)
            QVERIFY2(!text.intersects(other), name);
        placed.append(text);
    }
    delete dialog;
}

void TestAboutDialog::linkOpensPageEachTime()
{
    QList<QUrl> opened;
    int boxes = 0;
    AboutDialog::setUrlOpener([&](const QUrl &url) {
        opened.append(url);
        return true;
    });
    AboutDialog::setMessageBoxRunner([&](QMessageBox &) { return ++boxes, int(QMessageBox::Ok); });
    QPointer<AboutDialog> dialog = new AboutDialog({15, 15});
    dialog->show();
    QVERIFY(QTest::qWaitForWindowExposed(dialog));
    click(label(dialog, "Label3"));
    click(label(dialog, "Label3"));
    QCOMPARE(opened, QList<QUrl>(2, AboutDialog::supportUrl()));
    QCOMPARE(boxes, 0);
    QVERIFY(dialog && dialog->isVisible());
    delete dialog;
}

void TestAboutDialog::otherControlsDoNothing()
{
    int opened = 0;
    AboutDialog::setUrlOpener([&](const QUrl &) { return ++opened, true; });
    QPointer<AboutDialog> dialog = new AboutDialog({15, 15});
    dialog->show();
    QVERIFY(QTest::qWaitForWindowExposed(dialog));
    for (const char *name : {"Picture1", "Label1", "Label2", "Label4"})
        click(label(dialog, name));
    // Pressed on the link but released outside it: no click.
    QLabel *link = label(dialog, "Label3");
    QTest::mousePress(link, Qt::LeftButton, {}, link->rect().center());
    QTest::mouseRelease(link, Qt::LeftButton, {}, link->rect().bottomRight() + QPoint(20, 20));
    QCOMPARE(opened, 0);
    QVERIFY(dialog->isVisible());
    delete dialog;
}

void TestAboutDialog::errorBoxWhenBrowserCannotBeAsked()
{
    int asked = 0;
    AboutDialog::setUrlOpener([&](const QUrl &) { return ++asked, false; });
    QString text, title;
    QMessageBox::StandardButtons buttons;
    QWidget *boxParent = nullptr;
    int boxes = 0;
    AboutDialog::setMessageBoxRunner([&](QMessageBox &box) {
        ++boxes;
        text = box.text();
        title = box.windowTitle();
        buttons = box.standardButtons();
        boxParent = box.parentWidget();
        return int(QMessageBox::Ok);
    });
    QPointer<AboutDialog> dialog = new AboutDialog({15, 15});
    dialog->show();
    QVERIFY(QTest::qWaitForWindowExposed(dialog));
    click(label(dialog, "Label3"));
    QCOMPARE(asked, 1);
    QCOMPARE(boxes, 1);
    QCOMPARE(text, QStringLiteral("error"));
    QCOMPARE(title, QStringLiteral("Kestrovia"));
    QCOMPARE(buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    QCOMPARE(boxParent, dialog.data());
    QVERIFY(dialog->isVisible());
    delete dialog;
}

void TestAboutDialog::modalWhileShownAndDestroyedOnClose()
{
    QWidget mainWindow;
    auto *image1 = new QPushButton(QStringLiteral("Image1"), &mainWindow);
    image1->resize(100, 40);
    mainWindow.resize(200, 100);
    mainWindow.show();
    QVERIFY(QTest::qWaitForWindowExposed(&mainWindow));
    QSignalSpy clicks(image1, &QPushButton::clicked);
    const QPoint onButton = image1->geometry().center();

    QList<QPointer<AboutDialog>> seen;
    AboutDialog::setModalRunner([&](AboutDialog &dialog) {
        seen.append(&dialog);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        QCOMPARE(QApplication::activeModalWidget(), &dialog);
        // Through the window system, as a user's click arrives: blocked.
        QTest::mouseClick(mainWindow.windowHandle(), Qt::LeftButton, {}, onButton);
        QCOMPARE(clicks.count(), 0);
        dialog.close(); // the close box
    });
    AboutDialog::showModal({15, 15});
    QVERIFY(!QTest::currentTestFailed());
    QTRY_VERIFY(seen.constFirst().isNull());
    QVERIFY(!QApplication::activeModalWidget());
    // The same click reaches the main window once the dialog is gone.
    QTest::mouseClick(mainWindow.windowHandle(), Qt::LeftButton, {}, onButton);
    QCOMPARE(clicks.count(), 1);

    // The next showing is a new dialog; one left open by the runner is destroyed too.
    AboutDialog::setModalRunner([&](AboutDialog &dialog) { seen.append(&dialog); });
    AboutDialog::showModal({15, 15});
    QCOMPARE(seen.size(), 2);
    QTRY_VERIFY(seen.constLast().isNull());
}

QTEST_MAIN(TestAboutDialog)
#include "tst_aboutdialog.moc"

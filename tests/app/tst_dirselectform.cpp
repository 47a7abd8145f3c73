#include "app/dirselectform.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>

using kestrovia::DirSelectForm;

class TestDirSelectForm : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();

    void layoutInTwips_data();
    void layoutInTwips();
    void okStoresOpenFolderWithOneSeparator_data();
    void okStoresOpenFolderWithOneSeparator();
    void highlightedFolderIsNotStored();
    void cancelAndCloseBoxStoreNothing_data();
    void cancelAndCloseBoxStoreNothing();
    void unlistableFolderIsNotShown_data();
    void unlistableFolderIsNotShown();
    void unreadableDriveFallsBack();
    void enterAndEscapeDoNothing_data();
    void enterAndEscapeDoNothing();

private:
    QTreeWidgetItem *findItem(QTreeWidget *tree, const QString &text) const;

    QTemporaryDir m_tmp;
    QString m_photos; // holds Japanese characters and a space
};

static QPushButton *button(QWidget *dialog, int index)
{
    return dialog->findChild<QPushButton *>(QStringLiteral("Command1(%1)").arg(index));
}

void TestDirSelectForm::initTestCase()
{
    QVERIFY(m_tmp.isValid());
    m_photos = m_tmp.path() + QStringLiteral("/写真 フォルダ");
    QVERIFY(QDir().mkpath(m_photos + QStringLiteral("/子 A")));
    QVERIFY(QDir().mkpath(m_photos + QStringLiteral("/子 B")));
    QFile file(m_photos + QStringLiteral("/picture.jpg"));
    QVERIFY(file.open(QIODevice::WriteOnly));
}

void TestDirSelectForm::cleanup()
{
    DirSelectForm::setModalRunner({});
    DirSelectForm::setVolumeSource({});
    delete DirSelectForm::shared();
}

void TestDirSelectForm::layoutInTwips_data()
{
    QTest::addColumn<int>("tpp");
    QTest::addColumn<QSize>("client");
    QTest::addColumn<QRect>("ok");
    QTest::addColumn<QRect>("cancel");
    QTest::newRow("96 dpi") << 15 << QSize(312, 213) << QRect(218, 2, 77, 25) << QRect(218, 30, 77, 25);
    QTest::newRow("120 dpi") << 12 << QSize(390, 266) << QRect(272, 2, 96, 31) << QRect(272, 37, 96, 31);
}

void TestDirSelectForm::layoutInTwips()
{
    QFETCH(int, tpp);
    QFETCH(QSize, client);
    QFETCH(QRect, ok);
    QFETCH(QRect, cancel);
    DirSelectForm dialog({tpp, tpp});
    QCOMPARE(dialog.objectName(), QStringLiteral("DirSelectForm"));
    QCOMPARE(dialog.windowTitle(), QStringLiteral("ファイル保存先"));
    QCOMPARE(dialog.size(), client);
    QCOMPARE(dialog.minimumSize(), dialog.maximumSize());
    QVERIFY(!(dialog.windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)));
    QCOMPARE(button(&dialog, 0)->text(), QStringLiteral("OK"));
    QCOMPARE(button(&dialog, 0)->geometry(), ok);
    QCOMPARE(button(&dialog, 1)->text(), QStringLiteral("Cancel"));
    QCOMPARE(button(&dialog, 1)->geometry(), cancel);
    // The folder list sits below the drive list and ends at its design bottom.
    auto *drive1 = dialog.findChild<QComboBox *>(QStringLiteral("Drive1"));
    auto *dir1 = dialog.findChild<QTreeWidget *>(QStringLiteral("Dir1"));
    QVERIFY(drive1 && dir1);
    QVERIFY(dir1->geometry().top() > drive1->geometry().bottom());
    QCOMPARE(dir1->geometry().bottom() + 1, (360 + 2820) / tpp);
    // The machine's own volumes, the root among them.
    QVERIFY(drive1->count() > 0);
    QVERIFY(dialog.setDrive(QStringLiteral("/")));
    QVERIFY(!dialog.drive().isEmpty());
}

void TestDirSelectForm::okStoresOpenFolderWithOneSeparator_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("stored");
    QTest::newRow("root stays as it is") << QStringLiteral("/") << QStringLiteral("/");
    QTest::newRow("folder gains one") << m_photos << m_photos + QLatin1Char('/');
    QTest::newRow("given with separator") << m_photos + QLatin1Char('/') << m_photos + QLatin1Char('/');
    QTest::newRow("given with doubled separator")
        << m_photos + QStringLiteral("//") << m_photos + QLatin1Char('/');
}

void TestDirSelectForm::okStoresOpenFolderWithOneSeparator()
{
    QFETCH(QString, folder);
    QFETCH(QString, stored);
    QLineEdit saveTxt(QStringLiteral("before/"));
    int shown = 0;
    DirSelectForm::setModalRunner([&](DirSelectForm &dialog) {
        ++shown;
        button(&dialog, 0)->click();
    });
    QVERIFY(DirSelectForm::choose(&saveTxt, folder, nullptr, {15, 15}));
    QCOMPARE(shown, 1);
    QCOMPARE(saveTxt.text(), stored);
    QVERIFY(DirSelectForm::shared() && DirSelectForm::shared()->isHidden());
}

QTreeWidgetItem *TestDirSelectForm::findItem(QTreeWidget *tree, const QString &text) const
{
    const auto items = tree->findItems(text, Qt::MatchExactly | Qt::MatchRecursive);
    return items.size() == 1 ? items.first() : nullptr;
}

void TestDirSelectForm::highlightedFolderIsNotStored()
{
    QLineEdit saveTxt;
    DirSelectForm::setModalRunner([&](DirSelectForm &dialog) {
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        auto *dir1 = dialog.findChild<QTreeWidget *>(QStringLiteral("Dir1"));
        // Root to the open folder, then its sub-folders.
        QTreeWidgetItem *open = findItem(dir1, QStringLiteral("写真 フォルダ"));
        QTreeWidgetItem *child = findItem(dir1, QStringLiteral("子 A"));
        QVERIFY(open && child && findItem(dir1, QStringLiteral("子 B")));
        QCOMPARE(child->parent(), open);
        QCOMPARE(dir1->currentItem(), open);

        const QPoint at = dir1->visualItemRect(child).center();
        QTest::mouseClick(dir1->viewport(), Qt::LeftButton, {}, at);
        QCOMPARE(dir1->currentItem(), child);
        QCOMPARE(dialog.path(), m_photos);
        button(&dialog, 0)->click();
    });
    QVERIFY(DirSelectForm::choose(&saveTxt, m_photos, nullptr, {15, 15}));
    QVERIFY(!QTest::currentTestFailed());
    QCOMPARE(saveTxt.text(), m_photos + QLatin1Char('/'));

    // Opening it with a double-click is what makes it the chosen folder.
    DirSelectForm::setModalRunner([&](DirSelectForm &dialog) {
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        auto *dir1 = dialog.findChild<QTreeWidget *>(QStringLiteral("Dir1"));
        QTreeWidgetItem *child = findItem(dir1, QStringLiteral("子 B"));
        QVERIFY(child);
        // Through the window system, so that press, release and the double-click
        // arrive as they do from a real mouse.
        const QPoint at = dir1->viewport()->mapTo(&dialog, dir1->visualItemRect(child).center());
        QTest::mouseDClick(dialog.windowHandle(), Qt::LeftButton, {}, at);
        QTRY_COMPARE(dialog.path(), m_photos + QStringLiteral("/子 B"));
        QCOMPARE(dir1->currentItem()->text(0), QStringLiteral("子 B"));
        QCOMPARE(dir1->currentItem()->childCount(), 0);
        button(&dialog, 0)->click();
    });
    QVERIFY(DirSelectForm::choose(&saveTxt, m_photos, nullptr, {15, 15}));
    QVERIFY(!QTest::currentTestFailed());
    QCOMPARE(saveTxt.text(), m_photos + QStringLiteral("/子 B/"));
}

void TestDirSelectForm::cancelAndCloseBoxStoreNothing_data()
{
    QTest::addColumn<bool>("closeBox");
    QTest::newRow("Cancel") << false;
    QTest::newRow("close box") << true;
}

void TestDirSelectForm::cancelAndCloseBoxStoreNothing()
{
    QFETCH(bool, closeBox);
    QLineEdit saveTxt(QStringLiteral("/earlier/"));
    DirSelectForm::setModalRunner([&](DirSelectForm &dialog) {
        dialog.show();
        if (closeBox)
            dialog.close();
        else
            button(&dialog, 1)->click();
    });
    QVERIFY(DirSelectForm::choose(&saveTxt, m_photos, nullptr, {15, 15}));
    QCOMPARE(saveTxt.text(), QStringLiteral("/earlier/"));
    if (closeBox) {
        QTRY_VERIFY(!DirSelectForm::shared());
    } else {
        QVERIFY(DirSelectForm::shared());
        QVERIFY(DirSelectForm::shared()->isHidden());
        QVERIFY(!DirSelectForm::shared()->testAttribute(Qt::WA_DeleteOnClose));
    }

    // The next use works again, on a new dialog after the close box.
    DirSelectForm::setModalRunner([](DirSelectForm &dialog) { button(&dialog, 0)->click(); });
    QVERIFY(DirSelectForm::choose(&saveTxt, m_photos, nullptr, {15, 15}));
    QCOMPARE(saveTxt.text(), m_photos + QLatin1Char('/'));
}

void TestDirSelectForm::unlistableFolderIsNotShown_data()
{
    QTest::addColumn<QString>("folder");
    QTest::newRow("missing") << m_photos + QStringLiteral("/ない");
    QTest::newRow("a file") << m_photos + QStringLiteral("/picture.jpg");
    QTest::newRow("empty") << QString();
    QTest::newRow("blank") << QStringLiteral("  ");
}

void TestDirSelectForm::unlistableFolderIsNotShown()
{
    QFETCH(QString, folder);
    QLineEdit saveTxt(QStringLiteral("/earlier/"));
    int shown = 0;
    DirSelectForm::setModalRunner([&](DirSelectForm &dialog) {
        ++shown;
        button(&dialog, 0)->click();
    });
    QVERIFY(DirSelectForm::choose(&saveTxt, m_photos, nullptr, {15, 15}));
    QCOMPARE(shown, 1);
    saveTxt.setText(QStringLiteral("/earlier/"));

    QVERIFY(!DirSelectForm::choose(&saveTxt, folder, nullptr, {15, 15}));
    QCOMPARE(shown, 1);
    QCOMPARE(saveTxt.text(), QStringLiteral("/earlier/"));
    // The folder list keeps what it had.
    QCOMPARE(DirSelectForm::shared()->path(), m_photos);
}

void TestDirSelectForm::unreadableDriveFallsBack()
{
    const QString medium = m_tmp.path() + QStringLiteral("/no medium");
    DirSelectForm::setVolumeSource([&] {
        return QList<DirSelectForm::Volume>{{QStringLiteral("/"), QString()},
                                             {m_tmp.path(), QStringLiteral("作業")},
                                             {medium, QStringLiteral("USB")}};
    });
    DirSelectForm dialog({15, 15});
    auto *drive1 = dialog.findChild<QComboBox *>(QStringLiteral("Drive1"));
    QCOMPARE(drive1->count(), 3);
    QCOMPARE(drive1->itemText(1), m_tmp.path() + QStringLiteral("  [作業]"));

    // Picking a drive lists its root.
    drive1->setCurrentIndex(1);
    QCOMPARE(dialog.path(), m_tmp.path());
    drive1->setCurrentIndex(0);
    QCOMPARE(dialog.path(), QStringLiteral("/"));
    // Setting the folder list leaves the drive list where the user put it.
    QVERIFY(dialog.setPath(m_photos));
    QCOMPARE(dialog.drive(), QStringLiteral("/"));

    // A volume that cannot be read: back to the drive of the listed folder, silently.
    drive1->setCurrentIndex(2);
    QCOMPARE(drive1->currentIndex(), 1);
    QCOMPARE(dialog.drive(), m_tmp.path());
    QCOMPARE(dialog.path(), m_photos);
    QVERIFY(!QApplication::activeModalWidget());

    drive1->setCurrentIndex(0);
    QCOMPARE(dialog.path(), QStringLiteral("/"));
    QVERIFY(dialog.setDrive(m_photos));
    QCOMPARE(dialog.drive(), m_tmp.path());
    QCOMPARE(dialog.path(), QStringLiteral("/"));
}

void TestDirSelectForm::enterAndEscapeDoNothing_data()
{
    QTest::addColumn<QString>("focus");
    QTest::addColumn<int>("key");
    for (const char *focus : {"Command1(0)", "Command1(1)", "Dir1"}) {
        for (int key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape})
            QTest::addRow("%s key %x", focus, key) << QString::fromLatin1(focus) << key;
    }
}

void TestDirSelectForm::enterAndEscapeDoNothing()
{
    QFETCH(QString, focus);
    QFETCH(int, key);
    QLineEdit saveTxt(QStringLiteral("/earlier/"));
    DirSelectForm dialog({15, 15});
    dialog.setSaveTarget(&saveTxt);
    QVERIFY(dialog.setPath(m_photos));
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    auto *target = dialog.findChild<QWidget *>(focus);
    QVERIFY(target);
    target->setFocus();
    QTest::keyClick(target, Qt::Key(key));
    QVERIFY(dialog.isVisible());
    QCOMPARE(saveTxt.text(), QStringLiteral("/earlier/"));
    QCOMPARE(dialog.path(), m_photos);
}

QTEST_MAIN(TestDirSelectForm)
#include "tst_dirselectform.moc"

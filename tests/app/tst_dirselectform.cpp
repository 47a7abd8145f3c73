// The save-folder chooser: OK takes the open folder (never a merely highlighted one),
// the keys that would close a dialog do nothing, unreadable drives fall back, and
// Prompts keeps one chooser between uses.

#include "app/dirselectform.h"
#include "app/prompts.h"
#include "tests/common/widgets.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QPointer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>

using namespace kestrovia;
using testui::control;

namespace {

QTreeWidgetItem *item(QTreeWidget *tree, const QString &text)
{
    const auto items = tree->findItems(text, Qt::MatchExactly | Qt::MatchRecursive);
    return items.size() == 1 ? items.first() : nullptr;
}

// The chooser Prompts keeps between uses, if there is one.
DirSelectForm *sharedChooser()
{
    for (QWidget *w : QApplication::topLevelWidgets()) {
        if (auto *d = qobject_cast<DirSelectForm *>(w))
            return d;
    }
    return nullptr;
}

} // namespace

class TestDirSelectForm : public QObject {
    Q_OBJECT

    QTemporaryDir m_tmp;
    QString m_photos; // holds Japanese characters and a space

private slots:
    void initTestCase()
    {
        QVERIFY(m_tmp.isValid());
        m_photos = m_tmp.path() + "/写真 フォルダ";
        QVERIFY(QDir().mkpath(m_photos + "/子 A") && QDir().mkpath(m_photos + "/子 B"));
        QFile file(m_photos + "/picture.jpg");
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    void init() { Prompts::setScripted(true); }
    void cleanup()
    {
        DirSelectForm::setVolumeSource({});
        delete sharedChooser();
    }

    // OK takes the open folder with exactly one separator; Cancel takes nothing.
    // Both only hide the dialog, which is kept for the next use.
    // clang-format off
    void buttons_data()
    {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("chosen"); // empty: rejected
        QTest::newRow("root stays as it is") << "/" << "Command1(0)" << "/";
        QTest::newRow("folder gains one") << m_photos << "Command1(0)" << m_photos + '/';
        QTest::newRow("given with two") << m_photos + "//" << "Command1(0)" << m_photos + '/';
        QTest::newRow("Cancel") << m_photos << "Command1(1)" << "";
    }
    // clang-format on
    void buttons()
    {
        QFETCH(QString, folder);
        QFETCH(QString, button);
        QFETCH(QString, chosen);
        DirSelectForm dialog;
        QVERIFY(dialog.setPath(folder));
        dialog.show();
        control<QPushButton>(&dialog, button.toLatin1())->click();
        QCOMPARE(dialog.result(), int(chosen.isEmpty() ? QDialog::Rejected : QDialog::Accepted));
        QCOMPARE(dialog.chosenFolder(), chosen);
        QVERIFY(dialog.isHidden());
        QVERIFY(!dialog.testAttribute(Qt::WA_DeleteOnClose));
    }

    // A click only highlights a folder; a double-click opens it, and OK takes the
    // open one.
    void highlightedFolderIsNotTaken()
    {
        DirSelectForm dialog;
        QVERIFY(dialog.setPath(m_photos));
        QVERIFY(testui::shown(&dialog));
        auto *dir1 = control<QTreeWidget>(&dialog, "Dir1");
        // The chain down to the open folder, then its sub-folders.
        QTreeWidgetItem *open = item(dir1, "写真 フォルダ");
        QTreeWidgetItem *a = item(dir1, "子 A");
        QTreeWidgetItem *b = item(dir1, "子 B");
        QVERIFY(open && a && b && a->parent() == open);
        QTest::mouseClick(dir1->viewport(), Qt::LeftButton, {}, dir1->visualItemRect(a).center());
        QCOMPARE(dir1->currentItem(), a);
        // The keys that close other dialogs leave this one only through its buttons.
        for (const char *focus : {"Command1(0)", "Command1(1)", "Dir1"}) {
            for (Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape}) {
                control<QWidget>(&dialog, focus)->setFocus();
                QTest::keyClick(control<QWidget>(&dialog, focus), key);
                QVERIFY2(dialog.isVisible() && dialog.result() == 0, focus);
            }
        }
        control<QPushButton>(&dialog, "Command1(0)")->click();
        QCOMPARE(dialog.chosenFolder(), m_photos + '/');

        // Through the window system, as a real double-click arrives: that opens it.
        QVERIFY(testui::shown(&dialog));
        const QPoint onB = dir1->viewport()->mapTo(&dialog, dir1->visualItemRect(b).center());
        QTest::mouseDClick(dialog.windowHandle(), Qt::LeftButton, {}, onB);
        QTRY_COMPARE(dialog.path(), m_photos + "/子 B");
        QCOMPARE(dir1->currentItem()->text(0), QStringLiteral("子 B"));
        control<QPushButton>(&dialog, "Command1(0)")->click();
        QCOMPARE(dialog.chosenFolder(), m_photos + "/子 B/");
    }

    void drives()
    {
        QVERIFY(DirSelectForm().setDrive("/")); // the machine's own volumes hold the root
        const QString medium = m_tmp.path() + "/no medium";
        DirSelectForm::setVolumeSource([&] {
            return QList<DirSelectForm::Volume>{{"/", ""}, {m_tmp.path(), "作業"}, {medium, "USB"}};
        });
        DirSelectForm dialog;
        auto *drive1 = control<QComboBox>(&dialog, "Drive1");
        QCOMPARE(drive1->count(), 3);
        // Picking a drive lists its root; setting the folder leaves the drive list alone.
        drive1->setCurrentIndex(1);
        QCOMPARE(dialog.path(), m_tmp.path());
        drive1->setCurrentIndex(0);
        QCOMPARE(dialog.path(), QStringLiteral("/"));
        QVERIFY(dialog.setPath(m_photos));
        QCOMPARE(dialog.drive(), QStringLiteral("/"));
        // A volume that cannot be read: back to the drive of the listed folder, silently.
        drive1->setCurrentIndex(2);
        QCOMPARE(dialog.drive(), m_tmp.path());
        QCOMPARE(dialog.path(), m_photos);
        QVERIFY(!QApplication::activeModalWidget());
        // Setting the drive from a path does not list it.
        drive1->setCurrentIndex(0);
        QVERIFY(dialog.setDrive(m_photos));
        QCOMPARE(dialog.drive(), m_tmp.path());
        QCOMPARE(dialog.path(), QStringLiteral("/"));
    }

    // One chooser, kept hidden between uses; a start folder that cannot be listed
    // shows nothing and leaves it as it was; its close box destroys it, and the next
    // use makes a new one.
    void promptsKeepOneChooser()
    {
        Prompts::setNextFolder(m_photos + '/');
        const Prompts::FolderChoice first = Prompts::chooseFolder(nullptr, m_photos);
        QCOMPARE(first.result, Prompts::FolderChoice::Chosen);
        QCOMPARE(first.folder, m_photos + '/');
        QPointer<DirSelectForm> kept = sharedChooser();
        QVERIFY(kept && kept->isHidden());
        Prompts::clearShown();
        for (const QString &folder : {m_photos + "/ない", m_photos + "/picture.jpg", QString(), QStringLiteral("  ")})
            QVERIFY2(Prompts::chooseFolder(nullptr, folder).result == Prompts::FolderChoice::NotShown,
                     qPrintable(folder));
        QVERIFY(Prompts::shown().isEmpty());
        QCOMPARE(kept->path(), m_photos);
        Prompts::chooseFolder(nullptr, m_tmp.path());
        QCOMPARE(sharedChooser(), kept.data());
        QCOMPARE(kept->path(), m_tmp.path());
        kept->close();
        QTRY_VERIFY(kept.isNull());
        QCOMPARE(Prompts::chooseFolder(nullptr, m_photos).result, Prompts::FolderChoice::Cancelled);
        QVERIFY(sharedChooser());
    }
};

QTEST_MAIN(TestDirSelectForm)
#include "tst_dirselectform.moc"

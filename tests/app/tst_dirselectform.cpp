// The save-folder chooser: OK and Enter take the highlighted folder, Escape cancels,
// unreadable drives fall back, and Prompts keeps one chooser between uses.

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

#include <unistd.h>

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

    // OK, or Enter wherever the focus is, takes the highlighted folder (the open one
    // until the user highlights another); Escape cancels.
    // clang-format off
    void highlightedFolderIsTaken_data()
    {
        QTest::addColumn<QString>("highlight"); // clicked in the list; empty: none
        QTest::addColumn<QString>("focus");
        QTest::addColumn<int>("key"); // 0: a click on OK
        QTest::addColumn<QString>("chosen"); // empty: cancelled
        QTest::newRow("OK, nothing clicked") << "" << "" << 0 << m_photos + '/';
        QTest::newRow("OK after a click") << "子 A" << "" << 0 << m_photos + "/子 A/";
        QTest::newRow("Enter in the list") << "子 A" << "Dir1" << int(Qt::Key_Return) << m_photos + "/子 A/";
        QTest::newRow("Enter on OK") << "子 B" << "Command1(0)" << int(Qt::Key_Enter) << m_photos + "/子 B/";
        QTest::newRow("Escape in the list") << "子 A" << "Dir1" << int(Qt::Key_Escape) << "";
        QTest::newRow("Escape on OK") << "" << "Command1(0)" << int(Qt::Key_Escape) << "";
    }
    // clang-format on
    void highlightedFolderIsTaken()
    {
        QFETCH(QString, highlight);
        QFETCH(QString, focus);
        QFETCH(int, key);
        QFETCH(QString, chosen);
        DirSelectForm dialog;
        QVERIFY(dialog.setPath(m_photos));
        QVERIFY(testui::shown(&dialog));
        auto *dir1 = control<QTreeWidget>(&dialog, "Dir1");
        if (!highlight.isEmpty()) {
            QTreeWidgetItem *it = item(dir1, highlight);
            QVERIFY(it && it->parent() == item(dir1, "写真 フォルダ"));
            QTest::mouseClick(dir1->viewport(), Qt::LeftButton, {}, dir1->visualItemRect(it).center());
            QCOMPARE(dialog.path(), m_photos); // highlighted, not opened
        }
        if (key == 0) {
            control<QPushButton>(&dialog, "Command1(0)")->click();
        } else {
            control<QWidget>(&dialog, focus.toLatin1())->setFocus();
            QTest::keyClick(control<QWidget>(&dialog, focus.toLatin1()), Qt::Key(key));
        }
        QVERIFY(dialog.isHidden());
        QCOMPARE(dialog.result(), int(chosen.isEmpty() ? QDialog::Rejected : QDialog::Accepted));
        QCOMPARE(dialog.chosenFolder(), chosen);
    }

    // A real double-click, through the window system, opens a folder.
    void doubleClickOpens()
    {
        DirSelectForm dialog;
        QVERIFY(dialog.setPath(m_photos));
        QVERIFY(testui::shown(&dialog));
        auto *dir1 = control<QTreeWidget>(&dialog, "Dir1");
        const QPoint onB = dir1->viewport()->mapTo(&dialog, dir1->visualItemRect(item(dir1, "子 B")).center());
        QTest::mouseDClick(dialog.windowHandle(), Qt::LeftButton, {}, onB);
        QTRY_COMPARE(dialog.path(), m_photos + "/子 B");
        QCOMPARE(dir1->currentItem()->text(0), QStringLiteral("子 B"));
    }

    // 新しいフォルダ makes a folder in the highlighted one (the open one without a
    // highlight) under the name asked, and highlights it so that OK takes it; a name
    // that cannot be a folder's, or a folder that cannot be made, is said and
    // changes nothing; a cancel changes nothing.
    // clang-format off
    void newFolder_data()
    {
        QTest::addColumn<QString>("highlight"); // empty: none
        QTest::addColumn<QString>("name"); // null: cancelled
        QTest::addColumn<QString>("chosen"); // empty: nothing made
        QTest::addColumn<QString>("reason"); // in the message; empty: no message
        QTest::newRow("in the open folder") << "" << "新しい 書類" << m_photos + "/新しい 書類/" << "";
        QTest::newRow("in the highlighted folder") << "子 A" << "夏" << m_photos + "/子 A/夏/" << "";
        QTest::newRow("blanks around") << "" << "  冬  " << m_photos + "/冬/" << "";
        QTest::newRow("there already") << "" << "子 B" << m_photos + "/子 B/" << "";
        QTest::newRow("cancelled") << "" << QString() << "" << "";
        QTest::newRow("a file's name") << "" << "picture.jpg" << "" << "ファイル";
        QTest::newRow("a slash") << "" << "a/b" << "" << "「/」";
        QTest::newRow("dot dot") << "" << ".." << "" << "できません";
        QTest::newRow("nothing") << "" << " " << "" << "入力";
        QTest::newRow("too long") << "" << QString(90, u'長') << "" << "255";
        QTest::newRow("read-only folder") << "読めるだけ" << "x" << "" << "権限";
    }
    // clang-format on
    void newFolder()
    {
        QFETCH(QString, highlight);
        QFETCH(QString, name);
        QFETCH(QString, chosen);
        QFETCH(QString, reason);
        if (::geteuid() == 0 && reason == "権限")
            QSKIP("root writes into a read-only folder");
        const QString readOnly = m_photos + "/読めるだけ";
        QVERIFY(QDir().mkpath(readOnly));
        QVERIFY(QFile::setPermissions(readOnly, QFile::ReadOwner | QFile::ExeOwner));
        DirSelectForm dialog;
        QVERIFY(dialog.setPath(m_photos));
        QVERIFY(testui::shown(&dialog));
        auto *dir1 = control<QTreeWidget>(&dialog, "Dir1");
        if (!highlight.isEmpty())
            dir1->setCurrentItem(item(dir1, highlight));
        const QStringList before = QDir(m_photos).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
        Prompts::clearShown();
        if (!name.isNull())
            Prompts::setNextText(name);

        control<QPushButton>(&dialog, "NewFolder")->click();

        QCOMPARE(Prompts::shown().size(), reason.isEmpty() ? 1 : 2);
        QCOMPARE(Prompts::shown()[0].kind, Prompts::Kind::Text);
        if (!reason.isEmpty())
            QVERIFY2(Prompts::shown()[1].informative.contains(reason), qPrintable(Prompts::shown()[1].informative));
        if (chosen.isEmpty()) {
            QCOMPARE(QDir(m_photos).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), before);
            QVERIFY(QFileInfo(readOnly).isDir() && QDir(readOnly).isEmpty());
        } else {
            QVERIFY(QFileInfo(chosen).isDir());
            control<QPushButton>(&dialog, "Command1(0)")->click();
            QCOMPARE(dialog.chosenFolder(), chosen);
            if (chosen != m_photos + "/子 B/")
                QVERIFY(QDir().rmdir(chosen));
        }
        QVERIFY(QFile::setPermissions(readOnly, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
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

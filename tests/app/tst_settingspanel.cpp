#include "app/colorswatch.h"
#include "app/dirselectform.h"
#include "app/form1.h"
#include "app/settingspanel.h"
#include "joblist/jobcolumns.h"
#include "joblist/jobtable.h"
#include "compose/surface.h"
#include "preview/form2.h"
#include "preview/selectionsync.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QImage>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

using namespace kestrovia;

namespace {

constexpr TwipsPerPixel kTpp{15, 15};

using Cells = QList<QStringList>;

Cells cells(const JobTable *t)
{
    Cells all;
    for (int r = 0; r < t->Rows(); ++r) {
        QStringList row;
        for (int c = 0; c < JobColumnCount; ++c)
            row << t->TextMatrix(r, c);
        all << row;
    }
    return all;
}

// Job rows whose settings cells hold a marker, so that any write shows. The
// path names no file: a sync on them ends silently before touching the panel.
void makeRows(JobTable *t, int jobs, const QString &folder = QStringLiteral("-"))
{
    t->setRows(jobs + 1);
    for (int r = 1; r <= jobs; ++r) {
        t->setTextMatrix(r, ColFileName, QStringLiteral("p%1.jpg").arg(r));
        for (int c : {ColFit, ColBackColor, ColPosition, ColRotation, ColCompression})
            t->setTextMatrix(r, c, QStringLiteral("-"));
        t->setTextMatrix(r, ColSaveFolder, folder);
    }
}

// Rows 1 to 3 highlighted, row 2 current.
void highlightThreeSecondCurrent(JobTable *t)
{
    t->setRow(1);
    t->setRowSel(3);
    t->selectionModel()->setCurrentIndex(t->index(1, 0), QItemSelectionModel::NoUpdate);
    QCoreApplication::processEvents(); // deliver the table's pending SelChange
    QCOMPARE(t->Row(), 2);
    QCOMPARE(t->selectionModel()->selectedRows().size(), 3);
}

QPushButton *command1(DirSelectForm &dialog, int index)
{
    return dialog.findChild<QPushButton *>(QStringLiteral("Command1(%1)").arg(index));
}

} // namespace

class TestSettingsPanel : public QObject {
    Q_OBJECT
private slots:
    void cleanup()
    {
        SettingsPanel::setColorChooser({});
        DirSelectForm::setModalRunner({});
    }

    void optionWritesCurrentRowOnly_data()
    {
        QTest::addColumn<bool>("fitGroup");
        QTest::addColumn<int>("index");
        QTest::addColumn<int>("col");
        QTest::addColumn<QString>("text");
        QTest::newRow("AspCheck(0)") << true << 0 << int(ColFit) << "OFF";
        QTest::newRow("AspCheck(1)") << true << 1 << int(ColFit) << "ON";
        QTest::newRow("PicPos(0)") << false << 0 << int(ColPosition) << "Top";
        QTest::newRow("PicPos(1)") << false << 1 << int(ColPosition) << "Center";
    }

    void optionWritesCurrentRowOnly()
    {
        QFETCH(bool, fitGroup);
        QFETCH(int, index);
        QFETCH(int, col);
        QFETCH(QString, text);
        Form1 f(kTpp);
        const auto &group = fitGroup ? f.AspCheck : f.PicPos;
        makeRows(f.table(), 3);
        // Start from the other member; with no current row this writes nothing.
        group[1 - index]->setChecked(true);
        highlightThreeSecondCurrent(f.table());
        Cells expected = cells(f.table());
        expected[2][col] = text;
        QSignalSpy runs(f.selectionSync(), &SelectionSync::ran);

        group[index]->click();

        QCOMPARE(cells(f.table()), expected);
        QCOMPARE(runs.count(), 1);
        // The member the panel already shows, clicked again (the row may hold the
        // other choice after a first showing): written and synced like any click.
        f.table()->setTextMatrix(2, col, QStringLiteral("-"));
        group[index]->click();
        QCOMPARE(f.table()->TextMatrix(2, col), text);
        QCOMPARE(runs.count(), 2);
        // Selected by program (as the sync does): handled once, not twice.
        group[1 - index]->setChecked(true);
        QCOMPARE(runs.count(), 3);
    }

    void thumbReleasedAt37WritesTenthAndKeepsCaption()
    {
        Form1 f(kTpp);
        makeRows(f.table(), 3);
        highlightThreeSecondCurrent(f.table());
        Cells expected = cells(f.table());
        QScrollBar *bar = f.CompressLevel;
        // A real drag: the thumb moves while held and reports on release only.
        bar->setSliderDown(true);
        bar->setSliderPosition(37);
        QCOMPARE(cells(f.table()), expected);
        bar->setSliderDown(false);

        expected[2][ColCompression] = QStringLiteral("3.7");
        QCOMPARE(cells(f.table()), expected);
        QCOMPARE(f.CompLabel->text(), QStringLiteral("5 ( 標準 )"));
    }

    void rightArrowFrom50()
    {
        Form1 f(kTpp);
        makeRows(f.table(), 3);
        highlightThreeSecondCurrent(f.table());
        QSignalSpy runs(f.selectionSync(), &SelectionSync::ran);
        f.CompressLevel->triggerAction(QAbstractSlider::SliderSingleStepAdd);
        QCOMPARE(f.CompressLevel->value(), 60);
        QCOMPARE(f.CompLabel->text(), QStringLiteral("6 : 標準画質-"));
        QCOMPARE(f.table()->TextMatrix(2, ColCompression), QStringLiteral("6"));
        QCOMPARE(runs.count(), 0); // the level does not change the preview
    }

    void levelCaptions_data()
    {
        QTest::addColumn<int>("value");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QString>("stored");
        const char *captions[] = {"0 : 最高画質+", "1 : 最高画質", "2 : 高画質+",  "3 : 高画質",
                                  "4 : 標準画質+", "5 : 標準画質", "6 : 標準画質-", "7 : 低画質",
                                  "8 : 低画質-",   "9 : 最低画質", "10 : 最低画質-"};
        for (int i = 0; i <= 10; ++i)
            QTest::addRow("%d", i * 10) << i * 10 << QString::fromUtf8(captions[i]) << QString::number(i);
    }

    void levelCaptions()
    {
        QFETCH(int, value);
        QFETCH(QString, caption);
        QFETCH(QString, stored);
        Form1 f(kTpp);
        makeRows(f.table(), 1);
        f.table()->setRow(1);
        // From a value between the steps, so that every target is a change.
        f.CompressLevel->setValue(37);
        f.CompressLevel->setValue(value);
        QCOMPARE(f.CompLabel->text(), caption);
        QCOMPARE(f.table()->TextMatrix(1, ColCompression), stored);
        QCOMPARE(f.table()->TextMatrix(0, ColCompression), QStringLiteral("圧縮"));
    }

    void colourChooser_data()
    {
        QTest::addColumn<QColor>("chosen");
        QTest::addColumn<QString>("stored");
        QTest::newRow("white") << QColor(Qt::white) << "16777215";
        QTest::newRow("black") << QColor(Qt::black) << "0";
        QTest::newRow("red byte lowest") << QColor(0x12, 0x34, 0x56) << QString::number(0x563412);
    }

    void colourChooser()
    {
        QFETCH(QColor, chosen);
        QFETCH(QString, stored);
        Form1 f(kTpp);
        makeRows(f.table(), 3);
        highlightThreeSecondCurrent(f.table());
        Cells expected = cells(f.table());
        QWidget *parentSeen = nullptr;
        SettingsPanel::setColorChooser([&](QWidget *parent) {
            parentSeen = parent;
            return chosen;
        });
        QStringList cellAtSync;
        connect(f.selectionSync(), &SelectionSync::ran, this,
                [&] { cellAtSync << f.table()->TextMatrix(2, ColBackColor); });

        QTest::mouseClick(f.PicBack, Qt::LeftButton);

        QCOMPARE(parentSeen, &f);
        expected[2][ColBackColor] = stored;
        QCOMPARE(cells(f.table()), expected);
        QCOMPARE(QString::number(f.PicBack->colorValue()), stored);
        QCOMPARE(cellAtSync, QStringList{stored}); // one sync, after the write
    }

    void cancelledColourChangesNothing()
    {
        Form1 f(kTpp);
        makeRows(f.table(), 3);
        highlightThreeSecondCurrent(f.table());
        const Cells before = cells(f.table());
        const int swatch = f.PicBack->colorValue();
        QSignalSpy runs(f.selectionSync(), &SelectionSync::ran);
        SettingsPanel::setColorChooser([](QWidget *) { return QColor(); });
        f.settingsPanel()->PicBack_Click();
        QCOMPARE(cells(f.table()), before);
        QCOMPARE(f.PicBack->colorValue(), swatch);
        QCOMPARE(runs.count(), 0);
    }

    void rotationOnlyFromTheList()
    {
        Form1 f(kTpp);
        makeRows(f.table(), 3);
        highlightThreeSecondCurrent(f.table());
        Cells expected = cells(f.table());
        QSignalSpy runs(f.selectionSync(), &SelectionSync::ran);

        QTest::keyClicks(f.RollValue->lineEdit(), QStringLiteral("45"));
        QTest::keyClick(f.RollValue->lineEdit(), Qt::Key_Return);
        QCOMPARE(cells(f.table()), expected);
        QCOMPARE(runs.count(), 0);
        // The typed text is what the panel hands to newly dropped rows.
        QCOMPARE(f.RollValue->currentText(), QStringLiteral("45"));

        // Choosing with the arrow key picks the first item.
        QTest::keyClick(f.RollValue, Qt::Key_Down);
        expected[2][ColRotation] = QStringLiteral("+90\u00B0");
        QCOMPARE(cells(f.table()), expected);
        QCOMPARE(runs.count(), 1);
        // As the sync sets it: no handler.
        f.RollValue->setCurrentIndex(3);
        QCOMPARE(cells(f.table()), expected);
        QCOMPARE(runs.count(), 1);
    }

    // Enter takes a typed size into the current row; leaving the field does not.
    void typedSize_data()
    {
        QTest::addColumn<QString>("width");
        QTest::addColumn<QString>("height");
        QTest::addColumn<int>("key");
        QTest::addColumn<QString>("written"); // empty: the row keeps its size
        QTest::newRow("Enter") << "640" << "480" << int(Qt::Key_Return) << "640*480";
        QTest::newRow("keypad Enter, blanks around") << " 12" << "7 " << int(Qt::Key_Enter) << "12*7";
        QTest::newRow("Tab leaves it") << "640" << "480" << int(Qt::Key_Tab) << "";
        QTest::newRow("empty") << "" << "480" << int(Qt::Key_Return) << "";
        QTest::newRow("letters") << "12a" << "480" << int(Qt::Key_Return) << "";
        QTest::newRow("negative") << "640" << "-5" << int(Qt::Key_Return) << "";
        QTest::newRow("zero") << "0" << "480" << int(Qt::Key_Return) << "";
        QTest::newRow("full-width digits") << "１２" << "480" << int(Qt::Key_Return) << "";
        QTest::newRow("beyond 32767") << "32768" << "480" << int(Qt::Key_Return) << "";
    }
    void typedSize()
    {
        QFETCH(QString, width);
        QFETCH(QString, height);
        QFETCH(int, key);
        QFETCH(QString, written);
        Form1 f(kTpp);
        f.show();
        QVERIFY(QTest::qWaitForWindowExposed(&f));
        makeRows(f.table(), 3);
        highlightThreeSecondCurrent(f.table());
        f.table()->setTextMatrix(2, ColNewSize, QStringLiteral("10*10"));
        Cells expected = cells(f.table());
        if (!written.isEmpty())
            expected[2][ColNewSize] = written;
        QSignalSpy runs(f.selectionSync(), &SelectionSync::ran);
        f.TxtWidth->setText(width);
        f.TxtHeight->setFocus();
        f.TxtHeight->selectAll();
        QTest::keyClicks(f.TxtHeight, height);
        QTest::keyClick(f.TxtHeight, Qt::Key(key));
        QCOMPARE(cells(f.table()), expected);
        QCOMPARE(runs.count(), written.isEmpty() ? 0 : 1);
        if (key == Qt::Key_Return && written.isEmpty()) {
            // Refused: the fields show the preview's size again and say why.
            QCOMPARE(f.TxtWidth->text(), QString::number(f.form2()->PicPreview()->pixelSize().width()));
            QVERIFY(!(f.TxtWidth->toolTip() + f.TxtHeight->toolTip()).isEmpty());
        }
    }

    void completePreviewSyncsWhenChecked()
    {
        Form1 f(kTpp);
        QSignalSpy runs(f.selectionSync(), &SelectionSync::ran);
        QTest::mouseClick(f.PreCheck, Qt::LeftButton);
        QVERIFY(f.PreCheck->isChecked());
        QCOMPARE(runs.count(), 1);
        QTest::mouseClick(f.PreCheck, Qt::LeftButton);
        QVERIFY(!f.PreCheck->isChecked());
        QCOMPARE(runs.count(), 1);
    }

    void noJobRowChangesPanelOnly()
    {
        Form1 f(kTpp);
        const Cells header = cells(f.table());
        QSignalSpy runs(f.selectionSync(), &SelectionSync::ran);
        SettingsPanel::setColorChooser([](QWidget *) { return QColor(Qt::white); });
        int chooserShown = 0;
        DirSelectForm::setModalRunner([&](DirSelectForm &) { ++chooserShown; });
        f.SaveCheck[1]->setChecked(true);
        f.SaveTxt->setText(QDir::tempPath() + u'/');

        f.AspCheck[1]->click();
        f.PicPos[1]->click();
        QTest::mouseClick(f.PicBack, Qt::LeftButton);
        QTest::keyClick(f.RollValue, Qt::Key_Down);
        f.CompressLevel->triggerAction(QAbstractSlider::SliderSingleStepAdd);
        QTest::mouseClick(f.SaveFolder, Qt::LeftButton);

        QCOMPARE(cells(f.table()), header);
        QCOMPARE(runs.count(), 4); // fit, position, colour, turn
        QCOMPARE(chooserShown, 0);
        QCOMPARE(f.CompLabel->text(), QStringLiteral("6 : 標準画質-"));
        QCOMPARE(f.PicBack->colorValue(), 0xFFFFFF);
    }

    void saveFolderOkStoresOpenFolder()
    {
        QTemporaryDir tmp;
        const QString start = tmp.path() + QStringLiteral("/保存 先");
        const QString child = start + QStringLiteral("/子");
        QVERIFY(QDir().mkpath(child));
        Form1 f(kTpp);
        makeRows(f.table(), 3, start + u'/');
        highlightThreeSecondCurrent(f.table());
        f.SaveCheck[1]->setChecked(true);
        f.SaveTxt->setText(QStringLiteral("/somewhere/else/"));
        Cells expected = cells(f.table());
        QSignalSpy runs(f.selectionSync(), &SelectionSync::ran);
        QString openedAt;
        DirSelectForm::setModalRunner([&](DirSelectForm &dialog) {
            openedAt = dialog.path();
            QVERIFY(dialog.setPath(child)); // the user opens a sub-folder
            command1(dialog, 0)->click();
        });

        QTest::mouseClick(f.SaveFolder, Qt::LeftButton);

        QCOMPARE(openedAt, start);
        QCOMPARE(f.SaveTxt->text(), child + u'/');
        expected[2][ColSaveFolder] = child + u'/';
        QCOMPARE(cells(f.table()), expected);
        QCOMPARE(runs.count(), 0);
    }

    void saveFolderCancel_data()
    {
        QTest::addColumn<QString>("saveTxt");
        QTest::addColumn<bool>("rowTakesSaveTxt");
        // Nothing chosen yet: an empty folder would send the output nowhere the
        // user chose, so the row keeps its own.
        QTest::newRow("empty SaveTxt") << QString() << false;
        // The chooser cannot tell Cancel from OK: the folder last chosen is copied.
        QTest::newRow("folder chosen before") << QStringLiteral("/chosen/before/") << true;
    }

    void saveFolderCancel()
    {
        QFETCH(QString, saveTxt);
        QFETCH(bool, rowTakesSaveTxt);
        QTemporaryDir tmp;
        Form1 f(kTpp);
        makeRows(f.table(), 3, tmp.path() + u'/');
        highlightThreeSecondCurrent(f.table());
        f.SaveCheck[1]->setChecked(true);
        f.SaveTxt->setText(saveTxt);
        Cells expected = cells(f.table());
        int shown = 0;
        DirSelectForm::setModalRunner([&](DirSelectForm &dialog) {
            ++shown;
            command1(dialog, 1)->click();
        });

        QTest::mouseClick(f.SaveFolder, Qt::LeftButton);

        QCOMPARE(shown, 1);
        QCOMPARE(f.SaveTxt->text(), saveTxt);
        if (rowTakesSaveTxt)
            expected[2][ColSaveFolder] = saveTxt;
        QCOMPARE(cells(f.table()), expected);
    }

    void saveFolderOpensNothing_data()
    {
        QTest::addColumn<bool>("chosenFolderOption");
        QTest::addColumn<bool>("folderExists");
        QTest::newRow("画像と同じフォルダに保存") << false << true;
        QTest::newRow("row's folder is gone") << true << false;
    }

    void saveFolderOpensNothing()
    {
        QFETCH(bool, chosenFolderOption);
        QFETCH(bool, folderExists);
        QString folder = QDir::tempPath() + u'/';
        if (!folderExists) {
            QTemporaryDir gone;
            folder = gone.path() + u'/';
        }
        Form1 f(kTpp);
        makeRows(f.table(), 3, folder);
        highlightThreeSecondCurrent(f.table());
        f.SaveCheck[chosenFolderOption ? 1 : 0]->setChecked(true);
        f.SaveTxt->setText(QDir::tempPath() + u'/');
        const Cells before = cells(f.table());
        int shown = 0;
        DirSelectForm::setModalRunner([&](DirSelectForm &) { ++shown; });
        QTest::mouseClick(f.SaveFolder, Qt::LeftButton);
        QCOMPARE(shown, 0);
        QCOMPARE(cells(f.table()), before);
    }

    // The sync sets the panel from the row; the handlers it raises write the
    // same settings back, and the end state is that of one run.
    void syncSettingPanelEndsAsOneRun_data()
    {
        QTest::addColumn<int>("barBefore");
        QTest::addColumn<QString>("storedAfter");
        QTest::newRow("bar elsewhere: whole part") << 50 << "3";
        QTest::newRow("bar at 30: kept") << 30 << "3.7";
    }

    void syncSettingPanelEndsAsOneRun()
    {
        QFETCH(int, barBefore);
        QFETCH(QString, storedAfter);
        QTemporaryDir tmp;
        const QString picture = tmp.filePath(QStringLiteral("p.bmp"));
        QImage image(8, 6, QImage::Format_RGB32);
        image.fill(Qt::darkGreen);
        QVERIFY(image.save(picture, "BMP"));

        Form1 f(kTpp);
        JobTable *t = f.table();
        t->setRows(2);
        const QStringList row{QStringLiteral("p.bmp"), QStringLiteral("8*6"), picture, QStringLiteral("→"),
                              QStringLiteral("8*6"), QStringLiteral("on"), QStringLiteral("255"),
                              QStringLiteral("Center"), QStringLiteral("+90\u00B0"), QString(), QString(),
                              tmp.path() + u'/', QStringLiteral("3.7")};
        for (int c = 0; c < JobColumnCount; ++c)
            t->setTextMatrix(1, c, row[c]);
        f.CompressLevel->setValue(barBefore); // no current row: panel only
        QSignalSpy runs(f.selectionSync(), &SelectionSync::ran);

        t->setRow(1);

        QTRY_COMPARE(runs.count(), 1);
        QCoreApplication::processEvents();
        QCOMPARE(runs.count(), 1); // the raised handlers' syncs were absorbed
        // Anything but "OFF" fills; the raised handler writes it in its own form.
        QStringList expected = row;
        expected[ColFit] = QStringLiteral("ON");
        expected[ColCompression] = storedAfter;
        QCOMPARE(cells(t).at(1), expected);
        QVERIFY(f.AspCheck[1]->isChecked());
        QVERIFY(f.PicPos[1]->isChecked());
        QCOMPARE(f.RollValue->currentIndex(), 0);
        QCOMPARE(f.PicBack->colorValue(), 255);
        QCOMPARE(f.CompressLevel->value(), 30);
        QCOMPARE(f.CompLabel->text(), SettingsPanel::levelCaption(30));
    }
};

QTEST_MAIN(TestSettingsPanel)
#include "tst_settingspanel.moc"

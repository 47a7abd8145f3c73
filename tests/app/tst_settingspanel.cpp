// The settings panel on its own: what it says when the user changes a control, that
// it says nothing when the sync shows a row, and the values new rows take from it.

#include "app/colorswatch.h"
#include "app/prompts.h"
#include "app/settingspanel.h"
#include "tests/common/widgets.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QScrollBar>
#include <QTest>
#include <memory>

using namespace kestrovia;
using testui::control;

namespace {

QString pick(int column, const QString &text, bool redraw = true)
{
    return QStringLiteral("pick %1 %2%3").arg(column).arg(text, QString(redraw ? "" : " quiet"));
}

QStringList describe(const DropPanelValues &v)
{
    return {QString::number(v.keepAspect),   QString::number(v.backColor),
            QString::number(v.topLeft),      v.rotation,
            QString::number(v.sameFolder),   v.saveFolderText,
            QString::number(v.compressValue)};
}

} // namespace

class TestSettingsPanel : public QObject {
    Q_OBJECT

    std::unique_ptr<SettingsPanel> m_panel;
    QStringList m_log;
    QString m_caption;
    std::int32_t m_swatch = 0;

    // Gestures separated by ";": "click <name> [colour chosen]", "down <name>",
    // "type <name> <text>" (then Enter), "drag <name> <value>",
    // "key <name> <key sequence> [colour chosen]" (typed with the control focused).
    void perform(const QString &gestures)
    {
        for (const QString &gesture : gestures.split(u';')) {
            const QStringList w = gesture.trimmed().split(u' ');
            QWidget *c = control<QWidget>(m_panel.get(), w[1].toLatin1());
            auto *bar = qobject_cast<QScrollBar *>(c);
            auto *edit = qobject_cast<QComboBox *>(c) ? qobject_cast<QComboBox *>(c)->lineEdit() : nullptr;
            if (w.last().startsWith(u'#'))
                Prompts::setNextColor(QColor(w.last()));
            if (w[0] == "click" && qobject_cast<QAbstractButton *>(c)) {
                qobject_cast<QAbstractButton *>(c)->click();
            } else if (w[0] == "click") {
                QTest::mouseClick(c, Qt::LeftButton);
            } else if (w[0] == "down") {
                QTest::keyClick(c, Qt::Key_Down);
            } else if (w[0] == "type") {
                QTest::keyClicks(edit, w[2]);
                QTest::keyClick(edit, Qt::Key_Return);
            } else if (w[0] == "key") {
                QVERIFY(testui::shown(m_panel.get(), true));
                c->setFocus();
                const QKeyCombination k = QKeySequence(w[2])[0];
                QTest::keyClick(c, k.key(), k.keyboardModifiers());
            } else if (w[0] == "drag") {
                // A real drag: the thumb moves while held and reports on release only.
                bar->setSliderDown(true);
                bar->setSliderPosition(w[2].toInt());
                m_log << "released";
                bar->setSliderDown(false);
            }
        }
    }

    // What the panel said, then how its caption and swatch changed.
    QStringList log() const
    {
        QStringList out = m_log;
        const QString caption = control<QLabel>(m_panel.get(), "CompLabel")->text();
        if (caption != m_caption)
            out << "caption " + caption;
        const std::int32_t swatch = control<ColorSwatch>(m_panel.get(), "PicBack")->colorValue();
        if (swatch != m_swatch)
            out << "swatch " + QString::number(swatch);
        return out;
    }

private slots:
    void init()
    {
        Prompts::setScripted(true);
        m_panel = std::make_unique<SettingsPanel>();
        m_log.clear();
        SettingsPanel *p = m_panel.get();
        connect(p, &SettingsPanel::settingPicked, this,
                [this](int column, const QString &text, bool redraw) { m_log << pick(column, text, redraw); });
        connect(p, &SettingsPanel::completePreviewChecked, this, [this] { m_log << "complete"; });
        connect(p, &SettingsPanel::saveFolderRequested, this, [this] { m_log << "folder"; });
        m_caption = control<QLabel>(p, "CompLabel")->text();
        m_swatch = control<ColorSwatch>(p, "PicBack")->colorValue();
    }

    void userGestures_data()
    {
        QTest::addColumn<QString>("gestures");
        QTest::addColumn<QStringList>("expected");
        // The panel may show a choice the row does not hold (a first showing leaves
        // the panel as it was): a click on the shown option is meant, too.
        QTest::newRow("keep, already shown") << "click AspCheck(0)" << QStringList{pick(ColFit, "OFF")};
        QTest::newRow("centre") << "click PicPos(1)" << QStringList{pick(ColPosition, "Center")};
        QTest::newRow("top, already shown") << "click PicPos(0)" << QStringList{pick(ColPosition, "Top")};
        QTest::newRow("turn from the list") << "down RollValue" << QStringList{pick(ColRotation, "+90°")};
        QTest::newRow("typed turn") << "type RollValue 45" << QStringList{};
        // Between the steps: a tenth is stored and the caption stays.
        QTest::newRow("level dragged to 37")
            << "drag CompressLevel 37" << QStringList{"released", pick(ColCompression, "3.7", false)};
        QTest::newRow("colour cancelled") << "click PicBack" << QStringList{};
        QTest::newRow("complete preview on, off") << "click PreCheck; click PreCheck" << QStringList{"complete"};
        QTest::newRow("folder button, same folder") << "click SaveFolder" << QStringList{};
        QTest::newRow("folder button, chosen place") << "click SaveCheck(1); click SaveFolder" << QStringList{"folder"};
        // The keyboard reaches what the mouse does.
        QTest::newRow("swatch, Space") << "key PicBack Space #010203"
                                       << QStringList{pick(ColBackColor, QString::number(0x030201)),
                                                      "swatch " + QString::number(0x030201)};
        QTest::newRow("swatch, Enter") << "key PicBack Return #000001"
                                       << QStringList{pick(ColBackColor, QString::number(0x010000)),
                                                      "swatch " + QString::number(0x010000)};
        QTest::newRow("level, Right toward High")
            << "key CompressLevel Right"
            << QStringList{pick(ColCompression, "6", false), "caption " + SettingsPanel::levelCaption(60)};
        QTest::newRow("level, Left toward Low")
            << "key CompressLevel Left"
            << QStringList{pick(ColCompression, "4", false), "caption " + SettingsPanel::levelCaption(40)};
        QTest::newRow("folder mnemonic, chosen place")
            << "click SaveCheck(1); key TxtWidth Alt+F" << QStringList{"folder"};
    }
    void userGestures()
    {
        QFETCH(QString, gestures);
        QFETCH(QStringList, expected);
        perform(gestures);
        // A shortcut clicks its button after a short animation.
        QTRY_COMPARE(log(), expected);
    }

    // Tab walks the panel top to bottom, the swatch and the level bar included.
    void tabOrder()
    {
        QVERIFY(testui::shown(m_panel.get(), true));
        // A group's Tab stop is the option last clicked; the folder button needs the
        // chosen-place option.
        QTest::mouseClick(control<QWidget>(m_panel.get(), "SaveCheck(1)"), Qt::LeftButton);
        control<QWidget>(m_panel.get(), "TxtWidth")->setFocus();
        QStringList order;
        for (int i = 0; i < 11; ++i) {
            order << QApplication::focusWidget()->objectName();
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        }
        QCOMPARE(order, QStringList({"TxtWidth", "TxtHeight", "AspCheck(0)", "PicBack", "PicPos(0)", "RollValue",
                                     "CompressLevel", "SaveCheck(1)", "SaveTxt", "SaveFolder", "PreCheck"}));
    }

    // Enter takes a typed size; leaving the field does not; a refused size brings
    // back the size the preview shows and says why.
    // clang-format off
    void typedSize_data()
    {
        QTest::addColumn<QString>("width");
        QTest::addColumn<QString>("height");
        QTest::addColumn<int>("key");
        QTest::addColumn<QString>("size"); // empty: nothing picked
        QTest::newRow("Enter") << "640" << "480" << int(Qt::Key_Return) << "640*480";
        QTest::newRow("keypad Enter, blanks around") << " 12" << "7 " << int(Qt::Key_Enter) << "12*7";
        QTest::newRow("largest") << "32767" << "1" << int(Qt::Key_Return) << "32767*1";
        QTest::newRow("Tab leaves it") << "640" << "480" << int(Qt::Key_Tab) << "";
        QTest::newRow("empty") << "" << "480" << int(Qt::Key_Return) << "";
        QTest::newRow("negative") << "640" << "-5" << int(Qt::Key_Return) << "";
        QTest::newRow("fraction") << "640" << "4.5" << int(Qt::Key_Return) << "";
        QTest::newRow("zero") << "0" << "480" << int(Qt::Key_Return) << "";
        QTest::newRow("full-width digits") << "１２" << "480" << int(Qt::Key_Return) << "";
        QTest::newRow("beyond 32767") << "32768" << "480" << int(Qt::Key_Return) << "";
    }
    // clang-format on
    void typedSize()
    {
        QFETCH(QString, width);
        QFETCH(QString, height);
        QFETCH(int, key);
        QFETCH(QString, size);
        auto *w = control<QLineEdit>(m_panel.get(), "TxtWidth");
        auto *h = control<QLineEdit>(m_panel.get(), "TxtHeight");
        m_panel->showSize(QSize(33, 44));
        QVERIFY(testui::shown(m_panel.get(), true));
        w->setText(width);
        h->setFocus();
        h->selectAll();
        QTest::keyClicks(h, height);
        QTest::keyClick(h, Qt::Key(key));
        QCOMPARE(log(), size.isEmpty() ? QStringList{} : QStringList{pick(ColNewSize, size)});
        if (key != Qt::Key_Tab && size.isEmpty()) {
            QCOMPARE(QStringList({w->text(), h->text()}), QStringList({"33", "44"}));
            QVERIFY(!(w->toolTip() + h->toolTip()).isEmpty());
        }
    }

    // What the sync shows of a row, texts outside the lists changing nothing; showing
    // is not choosing, so the panel says nothing (the row is never written back).
    // clang-format off
    void showPictureSettings_data()
    {
        QTest::addColumn<QString>("fit");
        QTest::addColumn<QString>("position");
        QTest::addColumn<QString>("rotation");
        QTest::addColumn<QStringList>("shown"); // checked AspCheck, checked PicPos, turn text
        QTest::newRow("as the panel stands") << "OFF" << "Top" << "" << QStringList{"0", "0", " "};
        QTest::newRow("stretch, centre, +90") << "ON" << "Center" << "+90°" << QStringList{"1", "1", "+90°"};
        QTest::newRow("unknown position and turn") << "OFF" << "middle" << "45" << QStringList{"0", "0", ""};
    }
    // clang-format on
    void showPictureSettings()
    {
        QFETCH(QString, fit);
        QFETCH(QString, position);
        QFETCH(QString, rotation);
        QFETCH(QStringList, shown);
        JobRow job;
        job.fit = fit;
        job.position = position;
        job.rotation = rotation;
        m_panel->showPictureSettings(job);
        const auto checked = [this](const char *second) {
            return QString::number(control<QAbstractButton>(m_panel.get(), second)->isChecked());
        };
        QCOMPARE(QStringList({checked("AspCheck(1)"), checked("PicPos(1)"),
                              control<QComboBox>(m_panel.get(), "RollValue")->currentText()}),
                 shown);
        QCOMPARE(log(), QStringList());
        // The user's own click on what the panel shows is still the user's choice.
        control<QAbstractButton>(m_panel.get(), "AspCheck(0)")->click();
        QCOMPARE(log(), QStringList{pick(ColFit, "OFF")});
    }

    // The level bar shows a row's level (a 5.5 at 50) with its caption, and says
    // nothing: the row keeps its 5.5.
    void showColorAndLevel()
    {
        m_panel->showColorAndLevel(255, 30);
        QCOMPARE(log(), QStringList({"caption " + SettingsPanel::levelCaption(30), "swatch 255"}));
    }

    // A new row takes the panel as it stands (at start-up the defaults: tst_form1's
    // filesOnTheCommandLineAreDropped).
    void valuesForNewRows()
    {
        perform("click AspCheck(1); click PicPos(1); type RollValue 45; click SaveCheck(1); key CompressLevel Right;"
                "click PicBack #ff0000");
        m_panel->setSaveText("/out/");
        QCOMPARE(describe(m_panel->values()), describe({false, 255, false, "45", false, "/out/", 60}));
    }
};

QTEST_MAIN(TestSettingsPanel)
#include "tst_settingspanel.moc"

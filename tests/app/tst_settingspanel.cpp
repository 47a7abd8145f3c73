// The settings panel on its own: what it says when the user changes a control, that
// it says nothing when the sync shows a row, and the values new rows take from it.

#include "app/colorswatch.h"
#include "app/prompts.h"
#include "app/settingspanel.h"
#include "tests/common/widgets.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QApplication>
#include <QComboBox>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QScrollBar>
#include <QSet>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTest>
#include <cmath>
#include <memory>

using namespace kestrovia;

Q_DECLARE_METATYPE(kestrovia::SizeRule)
using testui::control;

namespace {

QString pick(int column, const QString &text, bool redraw = true)
{
    return QStringLiteral("pick %1 %2%3").arg(column).arg(text, QString(redraw ? "" : " quiet"));
}

QStringList describe(const DropPanelValues &v)
{
    return {QString::number(v.keepAspect),    QString::number(v.backColor),
            QString::number(v.topLeft),       v.rotation,
            QString::number(v.sameFolder),    v.saveFolderText,
            QString::number(v.compressValue), metadataText(v.metadata).toString()};
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
        // The blank item reads なし; the row takes its own text.
        QTest::newRow("turn down to the blank item")
            << "down RollValue; down RollValue; down RollValue; down RollValue"
            << QStringList{pick(ColRotation, "+90°"), pick(ColRotation, "-90°"), pick(ColRotation, "+180°"),
                           pick(ColRotation, " ")};
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

    // Tab reaches every control of the panel once, the swatch and the level bar
    // included, walking down the panel as it reads.
    void tabOrder()
    {
        QVERIFY(testui::shown(m_panel.get(), true));
        // A group's Tab stop is the option last clicked; the folder button needs the
        // chosen-place option.
        QTest::mouseClick(control<QWidget>(m_panel.get(), "SaveCheck(1)"), Qt::LeftButton);
        control<QWidget>(m_panel.get(), "TxtWidth")->setFocus();
        QList<QWidget *> order;
        do {
            order << QApplication::focusWidget();
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        } while (QApplication::focusWidget() != order.first() && order.size() < 40);
        for (QWidget *w : m_panel->findChildren<QWidget *>()) {
            const auto *option = qobject_cast<QRadioButton *>(w);
            if (!w->isVisible() || !(w->focusPolicy() & Qt::TabFocus) || w->focusProxy()
                || (option && !option->isChecked()) || qobject_cast<QLabel *>(w))
                continue;
            QVERIFY2(order.contains(w), qPrintable(w->objectName()));
        }
        for (qsizetype i = 1; i < order.size(); ++i)
            QVERIFY2(order[i]->mapTo(m_panel.get(), QPoint()).y() >= order[i - 1]->mapTo(m_panel.get(), QPoint()).y(),
                     qPrintable(order[i]->objectName()));
        QCOMPARE(QSet<QWidget *>(order.begin(), order.end()).size(), order.size());
    }

    // Enter or leaving the field takes a typed size, full-width digits too; an
    // unchanged size writes nothing; a refused size brings back the size the
    // preview shows and says why.
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
        QTest::newRow("Tab") << "640" << "480" << int(Qt::Key_Tab) << "640*480";
        QTest::newRow("full-width digits and space") << "１６００" << "１２００　" << int(Qt::Key_Tab) << "1600*1200";
        QTest::newRow("unchanged") << "33" << "44" << int(Qt::Key_Tab) << "";
        QTest::newRow("empty") << "" << "480" << int(Qt::Key_Return) << "";
        QTest::newRow("negative") << "640" << "-5" << int(Qt::Key_Return) << "";
        QTest::newRow("fraction") << "640" << "4.5" << int(Qt::Key_Return) << "";
        QTest::newRow("zero") << "0" << "480" << int(Qt::Key_Return) << "";
        QTest::newRow("letters") << "12a" << "480" << int(Qt::Key_Tab) << "";
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
        h->setFocus();
        w->setText(width);
        w->setModified(true);
        h->selectAll();
        h->insert(height); // as an input method commits it, full-width digits too
        h->setModified(h->text() != "44");
        QTest::keyClick(h, Qt::Key(key));
        QCOMPARE(log(), size.isEmpty() ? QStringList{} : QStringList{pick(ColNewSize, size)});
        // The fields show the size written, or the row's own again with the reason.
        const QString shown = w->text() + u'*' + h->text();
        QCOMPARE(shown, size.isEmpty() ? QStringLiteral("33*44") : size);
        QCOMPARE((w->toolTip() + h->toolTip()).isEmpty(), !size.isEmpty() || width == "33");
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
        QTest::newRow("as the panel stands") << "OFF" << "Top" << "" << QStringList{"0", "0", "なし"};
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

    // The size rule: a mode from the list, its value (kept for each mode) and
    // shrink-only. Each change is said once, and new rows take the rule.
    void sizeRuleControls()
    {
        m_panel->showSize(QSize(640, 480));
        QSignalSpy picked(m_panel.get(), &SettingsPanel::sizeRulePicked);
        auto *value = control<QSpinBox>(m_panel.get(), "SizeValue");
        QVERIFY(value->isHidden()); // the exact size needs no value
        perform("down SizeMode");
        QVERIFY(!value->isHidden());
        QCOMPARE(value->value(), 1600);
        value->setValue(1200);
        perform("down SizeMode");
        QCOMPARE(value->value(), 50);
        perform("key SizeMode Up; click ShrinkOnly");
        QCOMPARE(value->value(), 1200);
        const SizeRule expected{SizeRule::LongEdge, {640, 480}, 1200, 50, true};
        QCOMPARE(m_panel->values().sizeRule, expected);
        QCOMPARE(picked.count(), 5);
        QCOMPARE(picked.last().first().value<SizeRule>(), expected);
    }

    // The blank turn reads なし on screen and to a screen reader, while new rows take
    // what they took before: the item's own " ", or "" before any choice, and
    // typed text verbatim.
    void turnTexts_data()
    {
        QTest::addColumn<QString>("gesture"); // "show <row text>" or "type <text>"; empty: none
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QString>("newRows");
        QTest::newRow("at start") << ""
                                  << ""
                                  << "";
        QTest::newRow("row holds the blank") << "show  "
                                             << "なし"
                                             << " ";
        QTest::newRow("row holds nothing") << "show "
                                           << "なし"
                                           << " ";
        QTest::newRow("row holds -90°") << "show -90°"
                                        << "-90°"
                                        << "-90°";
        QTest::newRow("typed なし") << "type なし"
                                    << "なし"
                                    << " ";
        QTest::newRow("typed 45") << "type 45"
                                  << "45"
                                  << "45";
    }
    void turnTexts()
    {
        QFETCH(QString, gesture);
        QFETCH(QString, shown);
        auto *turn = control<QComboBox>(m_panel.get(), "RollValue");
        if (gesture.startsWith("type")) {
            turn->lineEdit()->insert(gesture.mid(5)); // as an input method commits it
            QTest::keyClick(turn->lineEdit(), Qt::Key_Return);
        }
        if (gesture.startsWith("show")) {
            JobRow job;
            job.rotation = gesture.mid(5);
            m_panel->showPictureSettings(job);
        }
        QCOMPARE(turn->currentText(), shown);
        QAccessibleInterface *heard = QAccessible::queryAccessibleInterface(turn);
        QStringList labels;
        for (const auto &[label, relation] : heard->relations(QAccessible::Label))
            labels << label->text(QAccessible::Name);
        QVERIFY2(labels.contains("回転"), qPrintable(labels.join(", ")));
        QCOMPARE(heard->text(QAccessible::Value), shown);
        QTEST(m_panel->values().rotation, "newRows");
    }

    // The level bar, which Tab reaches, shows when it has the keyboard focus.
    void levelBarShowsFocus()
    {
        QVERIFY(testui::shown(m_panel.get(), true));
        auto *bar = control<QScrollBar>(m_panel.get(), "CompressLevel");
        control<QWidget>(m_panel.get(), "TxtWidth")->setFocus();
        QTRY_VERIFY(!bar->hasFocus());
        const QImage without = bar->grab().toImage();
        bar->setFocus(Qt::TabFocusReason);
        QTRY_VERIFY(bar->hasFocus());
        QVERIFY(bar->grab().toImage() != without);
    }

    // The warning reads at 4.5:1 (WCAG AA) on light and dark desktops, in red.
    void warningContrast_data()
    {
        QTest::addColumn<QColor>("window");
        QTest::addColumn<QColor>("text");
        QTest::newRow("Fusion light") << QColor("#efefef") << QColor(Qt::black);
        QTest::newRow("white") << QColor(Qt::white) << QColor(Qt::black);
        QTest::newRow("classic grey") << QColor("#d4d0c8") << QColor(Qt::black);
        QTest::newRow("dark") << QColor("#353535") << QColor(Qt::white);
        QTest::newRow("Breeze dark") << QColor("#2a2e32") << QColor("#fcfcfc");
        QTest::newRow("black") << QColor(Qt::black) << QColor(Qt::white);
    }
    void warningContrast()
    {
        QFETCH(QColor, window);
        QFETCH(QColor, text);
        QPalette palette(text, window);
        m_panel->setPalette(palette);
        auto *warning = control<QLabel>(m_panel.get(), "Label14");
        const QColor red = warning->palette().color(QPalette::Active, warning->foregroundRole());
        const QColor back = m_panel->palette().color(QPalette::Active, QPalette::Window);
        const auto luminance = [](const QColor &c) {
            const auto lin = [](double v) { return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
            return 0.2126 * lin(c.redF()) + 0.7152 * lin(c.greenF()) + 0.0722 * lin(c.blueF());
        };
        const double a = luminance(red);
        const double b = luminance(back);
        const double ratio = (std::max(a, b) + 0.05) / (std::min(a, b) + 0.05);
        QVERIFY2(ratio >= 4.5, qPrintable(QString("%1 on %2: %3").arg(red.name(), back.name()).arg(ratio)));
        QVERIFY2(red.red() > 2 * std::max(red.green(), red.blue()), qPrintable(red.name()));
    }

    // A new row takes the panel as it stands (at start-up the defaults: tst_form1's
    // filesOnTheCommandLineAreDropped).
    void valuesForNewRows()
    {
        perform("click AspCheck(1); click PicPos(1); type RollValue 45; click SaveCheck(1); key CompressLevel Right;"
                "click PicBack #ff0000; down MetaChoice");
        m_panel->setSaveText("/out/");
        QCOMPARE(describe(m_panel->values()),
                 describe({false, 255, false, "45", false, "/out/", 60, MetadataChoice::DropAll, {}}));
        QVERIFY(m_log.contains(pick(ColMetadata, "none", false)));
    }
};

QTEST_MAIN(TestSettingsPanel)
#include "tst_settingspanel.moc"

// The settings panel on its own: which field it says the user set, that showing
// rows (with values that differ across them) says nothing, the values new rows take
// from it, a typed folder, and the values kept between starts.

#include "app/colorswatch.h"
#include "app/prompts.h"
#include "app/settingspanel.h"
#include "tests/common/widgets.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QScrollBar>
#include <QSet>
#include <QSettings>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>
#include <cmath>
#include <memory>

using namespace kestrovia;

Q_DECLARE_METATYPE(kestrovia::RowSettings)
using testui::control;

namespace {

// The field said, with its value as its text.
QString pick(RowField field, const RowSettings &values)
{
    const RowFieldEntry &entry = rowField(field);
    return QStringLiteral("pick %1 %2").arg(QString::fromLatin1(entry.key), entry.text(values)).trimmed();
}

QString pick(const char *key, const QString &text)
{
    return QStringLiteral("pick %1 %2").arg(QString::fromLatin1(key), text).trimmed();
}

// Settings that differ from the start-up values in every field.
RowSettings unusual()
{
    return {{SizeRule::Percent, {}, 1600, 25, true},
            false,
            255,
            true,
            90,
            3.7,
            "/out/",
            MetadataChoice::KeepAll,
            OutputFormat::WebP,
            true,
            "{n:3}"};
}

} // namespace

class TestSettingsPanel : public QObject {
    Q_OBJECT

    std::unique_ptr<SettingsPanel> m_panel;
    QStringList m_log;
    QString m_caption;
    QTemporaryDir m_dir;

    // Gestures separated by ";": "click <name> [colour chosen]", "down <name>",
    // "type <name> <text>" (then Enter), "drag <name> <value>",
    // "key <name> <key sequence> [colour chosen]" (typed with the control focused).
    void perform(const QString &gestures)
    {
        for (const QString &gesture : gestures.split(u';')) {
            const QStringList w = gesture.trimmed().split(u' ');
            QWidget *c = control<QWidget>(m_panel.get(), w[1].toLatin1());
            auto *bar = qobject_cast<QScrollBar *>(c);
            if (w.last().startsWith(u'#'))
                Prompts::setNextColor(QColor(w.last()));
            if (w[0] == "click" && qobject_cast<QAbstractButton *>(c)) {
                qobject_cast<QAbstractButton *>(c)->click();
            } else if (w[0] == "click") {
                QTest::mouseClick(c, Qt::LeftButton);
            } else if (w[0] == "down") {
                QTest::keyClick(c, Qt::Key_Down);
            } else if (w[0] == "type") {
                auto *edit = qobject_cast<QLineEdit *>(c);
                edit->selectAll();
                QTest::keyClicks(edit, w.mid(2).join(u' '));
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

    // What the panel said, then how its caption changed.
    QStringList log() const
    {
        QStringList out = m_log;
        const QString caption = control<QLabel>(m_panel.get(), "CompLabel")->text();
        if (caption != m_caption)
            out << "caption " + caption;
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
                [this](RowField field, const RowSettings &values) { m_log << pick(field, values); });
        connect(p, &SettingsPanel::completePreviewChecked, this, [this] { m_log << "complete"; });
        connect(p, &SettingsPanel::saveFolderRequested, this, [this] { m_log << "folder"; });
        m_caption = control<QLabel>(p, "CompLabel")->text();
    }

    void userGestures_data()
    {
        QTest::addColumn<QString>("gestures");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("keep, as shown") << "click AspCheck(0)" << QStringList{};
        QTest::newRow("stretch") << "click AspCheck(1)" << QStringList{pick("fit", "ON")};
        QTest::newRow("centre") << "click PicPos(1)" << QStringList{pick("position", "Center")};
        QTest::newRow("turn down the list")
            << "down RollValue; down RollValue; down RollValue"
            << QStringList{pick("turn", "+90°"), pick("turn", "-90°"), pick("turn", "+180°")};
        // Between the steps: a tenth is kept and the caption stays.
        QTest::newRow("level dragged to 37")
            << "drag CompressLevel 37" << QStringList{"released", pick("level", "3.7")};
        QTest::newRow("colour cancelled") << "click PicBack" << QStringList{};
        QTest::newRow("complete preview on, off") << "click PreCheck; click PreCheck" << QStringList{"complete"};
        QTest::newRow("metadata from the list") << "down MetaChoice" << QStringList{pick("metadata", "none")};
        QTest::newRow("format from the list") << "down OutFormat" << QStringList{pick("format", "webp")};
        // JPEG stores no transparency: for a JPEG row the box cannot be set.
        QTest::newRow("transparency for JPEG") << "click KeepAlpha" << QStringList{};
        QTest::newRow("transparency for PNG") << "down OutFormat; down OutFormat; down OutFormat; click KeepAlpha"
                                              << QStringList{pick("format", "webp"), pick("format", "avif"),
                                                             pick("format", "png"), pick("keepTransparency", "alpha")};
        QTest::newRow("name pattern") << "type NamePattern {name}_{n:3}" << QStringList{pick("namePattern", "{name}_{n:3}")};
        QTest::newRow("shrink only") << "click ShrinkOnly" << QStringList{pick("shrinkOnly", "shrink")};
        // The chooser opens from "…" whichever option is selected, and from the
        // chosen-place option while no folder is there to take.
        QTest::newRow("folder button") << "click SaveFolder" << QStringList{"folder"};
        QTest::newRow("chosen place, no folder yet") << "click SaveCheck(1)" << QStringList{"folder"};
        QTest::newRow("typed folder, then beside the picture")
            << "type SaveTxt /; click SaveCheck(0); click SaveCheck(1)"
            << QStringList{pick("folder", "/"), pick("folder", ""), pick("folder", "/")};
        // The keyboard reaches what the mouse does.
        QTest::newRow("swatch, Space") << "key PicBack Space #010203"
                                       << QStringList{pick("background", QString::number(0x030201))};
        QTest::newRow("swatch, Enter") << "key PicBack Return #000001"
                                       << QStringList{pick("background", QString::number(0x010000))};
        QTest::newRow("level, Right toward High")
            << "key CompressLevel Right"
            << QStringList{pick("level", "6"), "caption " + SettingsPanel::levelCaption(60)};
        QTest::newRow("level, Left toward Low")
            << "key CompressLevel Left"
            << QStringList{pick("level", "4"), "caption " + SettingsPanel::levelCaption(40)};
        QTest::newRow("folder mnemonic") << "key TxtWidth Alt+F" << QStringList{"folder"};
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
        control<QWidget>(m_panel.get(), "PresetChoice")->setFocus();
        QList<QWidget *> order;
        do {
            order << QApplication::focusWidget();
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        } while (QApplication::focusWidget() != order.first() && order.size() < 40);
        for (QWidget *w : m_panel->findChildren<QWidget *>()) {
            const auto *option = qobject_cast<QRadioButton *>(w);
            if (!w->isVisible() || !w->isEnabled() || !(w->focusPolicy() & Qt::TabFocus) || w->focusProxy()
                || (option && !option->isChecked()) || qobject_cast<QLabel *>(w))
                continue;
            QVERIFY2(order.contains(w), qPrintable(w->objectName()));
        }
        for (qsizetype i = 1; i < order.size(); ++i)
            QVERIFY2(order[i]->mapTo(m_panel.get(), QPoint()).y() >= order[i - 1]->mapTo(m_panel.get(), QPoint()).y(),
                     qPrintable(order[i]->objectName()));
        QCOMPARE(QSet<QWidget *>(order.begin(), order.end()).size(), order.size());
    }

    // Enter or leaving the field takes a typed size as the exact size, full-width
    // digits too; an unchanged size says nothing; a refused size brings back the
    // size shown and says why.
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
        RowSettings shown;
        shown.size = {SizeRule::Exact, {33, 44}, 1600, 50, false};
        m_panel->showSettings(shown);
        m_caption = control<QLabel>(m_panel.get(), "CompLabel")->text();
        QVERIFY(testui::shown(m_panel.get(), true));
        h->setFocus();
        w->setText(width);
        w->setModified(true);
        h->selectAll();
        h->insert(height); // as an input method commits it, full-width digits too
        h->setModified(h->text() != "44");
        QTest::keyClick(h, Qt::Key(key));
        QCOMPARE(log(), size.isEmpty() ? QStringList{} : QStringList{pick("size", size)});
        // The fields show the size taken, or the rows' own again with the reason.
        QCOMPARE(w->text() + u'*' + h->text(), size.isEmpty() ? QStringLiteral("33*44") : size);
        QCOMPARE((w->toolTip() + h->toolTip()).isEmpty(), !size.isEmpty() || width == "33");
        QCOMPARE(control<QComboBox>(m_panel.get(), "SizeMode")->currentText(), QStringLiteral("横×縦"));
    }

    // Rows shown, some settings differing across them: each such control shows it
    // (empty, neither option, hatched, 複数の値) and says nothing, also while another
    // control is set; the user's own choice there is said and ends the mark.
    void mixedValues_data()
    {
        QTest::addColumn<int>("field");
        QTest::addColumn<QString>("gesture");
        QTest::newRow("size rule") << int(RowField::Size) << "down SizeMode";
        QTest::newRow("shrink only") << int(RowField::ShrinkOnly) << "click ShrinkOnly";
        QTest::newRow("fit") << int(RowField::Fit) << "click AspCheck(0)";
        QTest::newRow("colour") << int(RowField::Background) << "click PicBack #102030";
        QTest::newRow("position") << int(RowField::Position) << "click PicPos(1)";
        QTest::newRow("turn") << int(RowField::Turn) << "down RollValue";
        QTest::newRow("level") << int(RowField::Level) << "key CompressLevel Right";
        QTest::newRow("folder") << int(RowField::Folder) << "click SaveCheck(0)";
        QTest::newRow("metadata") << int(RowField::Metadata) << "down MetaChoice";
        QTest::newRow("format") << int(RowField::Format) << "down OutFormat";
        QTest::newRow("transparency") << int(RowField::Transparency) << "click KeepAlpha";
        QTest::newRow("name pattern") << int(RowField::NamePattern) << "type NamePattern {n}";
    }
    void mixedValues()
    {
        QFETCH(int, field);
        QFETCH(QString, gesture);
        const RowField f = RowField(field);
        const RowSettings shown = unusual();
        m_panel->showSettings(shown, {f}, QSize(400, 300));
        // What each control shows while its rows differ.
        SettingsPanel *p = m_panel.get();
        const auto checked = [p](const char *a, const char *b) {
            return control<QAbstractButton>(p, a)->isChecked() || control<QAbstractButton>(p, b)->isChecked();
        };
        const QMap<RowField, std::function<bool()>> marked{
            {RowField::Size, [p] { return control<QComboBox>(p, "SizeMode")->currentIndex() == -1; }},
            {RowField::ShrinkOnly,
             [p] { return control<QCheckBox>(p, "ShrinkOnly")->checkState() == Qt::PartiallyChecked; }},
            {RowField::Fit, [=] { return !checked("AspCheck(0)", "AspCheck(1)"); }},
            {RowField::Background, [p] { return control<ColorSwatch>(p, "PicBack")->isMixed(); }},
            {RowField::Position, [=] { return !checked("PicPos(0)", "PicPos(1)"); }},
            {RowField::Turn, [p] { return control<QComboBox>(p, "RollValue")->currentIndex() == -1; }},
            {RowField::Level, [p] { return control<QLabel>(p, "CompLabel")->text() == "複数の値"; }},
            {RowField::Folder,
             [=] {
                 return !checked("SaveCheck(0)", "SaveCheck(1)")
                        && control<QLineEdit>(p, "SaveTxt")->placeholderText() == "（複数の値）";
             }},
            {RowField::Metadata, [p] { return control<QComboBox>(p, "MetaChoice")->currentIndex() == -1; }},
            {RowField::Format, [p] { return control<QComboBox>(p, "OutFormat")->currentIndex() == -1; }},
            {RowField::Transparency,
             [p] { return control<QCheckBox>(p, "KeepAlpha")->checkState() == Qt::PartiallyChecked; }},
            {RowField::NamePattern,
             [p] {
                 const auto *field = control<QLineEdit>(p, "NamePattern");
                 return field->text().isEmpty() && field->placeholderText() == "（複数の値）";
             }},
        };
        QCOMPARE(marked.size(), qsizetype(rowFields().size()));
        for (auto it = marked.begin(); it != marked.end(); ++it)
            QVERIFY2(it.value()() == (it.key() == f), qPrintable(QString::fromLatin1(rowField(it.key()).key)));
        QCOMPARE(m_panel->mixedFields(), QList<RowField>{f});
        QCOMPARE(m_log, QStringList{});
        // New rows take the current row's value of a field the rows differ in.
        QCOMPARE(m_panel->values(), shown);

        // A choice in another control is said for that field alone: the differing
        // one keeps its mark and the rows keep their own values of it.
        const RowField other = f == RowField::Position ? RowField::Fit : RowField::Position;
        perform(other == RowField::Fit ? "click AspCheck(0)" : "click PicPos(0)");
        QCOMPARE(m_log, QStringList{pick(other, m_panel->values())});
        QVERIFY(marked[f]());
        QCOMPARE(m_panel->mixedFields(), QList<RowField>{f});
        m_log.clear();

        perform(gesture);
        QCOMPARE(m_log.size(), 1);
        QVERIFY2(m_log[0].startsWith(QStringLiteral("pick ") + QString::fromLatin1(rowField(f).key)),
                 qPrintable(m_log[0]));
        QVERIFY(!marked[f]());
        QCOMPARE(m_panel->mixedFields(), QList<RowField>{});
    }

    // A pattern is taken when the field is left; one that names no file is refused
    // there: the field returns to the rows' pattern and its tooltip says why. What
    // Windows or a memory card refuses is taken, and said.
    // clang-format off
    void typedPattern_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("taken"); // empty: refused
        QTest::addColumn<QString>("said"); // a part of the tooltip
        QTest::newRow("fields") << "{名前}_{幅}x{高さ}" << "{名前}_{幅}x{高さ}" << "{連番:3}";
        QTest::newRow("input method's braces") << "｛連番：３｝" << "{連番：３}" << "{撮影日}";
        QTest::newRow("slash") << "{名前}/{n}" << "" << "「/」";
        QTest::newRow("unknown field") << "{番号}" << "" << "{番号}";
        QTest::newRow("too long") << QString(260, u'a') << "" << "255 バイト";
        QTest::newRow("colon: taken, said") << "{名前}:{n}" << "{名前}:{n}" << "Windows";
        QTest::newRow("no field: taken, said") << "photo" << "photo" << "同じ名前";
    }
    // clang-format on
    void typedPattern()
    {
        QFETCH(QString, typed);
        QFETCH(QString, taken);
        QFETCH(QString, said);
        RowSettings shown;
        shown.namePattern = "{n:2}";
        m_panel->showSettings(shown);
        auto *field = control<QLineEdit>(m_panel.get(), "NamePattern");
        QVERIFY(testui::shown(m_panel.get(), true));
        field->setFocus();
        field->selectAll();
        field->insert(typed);
        QTest::keyClick(field, Qt::Key_Tab);
        QCOMPARE(m_log, taken.isEmpty() ? QStringList{} : QStringList{pick("namePattern", taken)});
        QCOMPARE(field->text(), taken.isEmpty() ? QStringLiteral("{n:2}") : taken);
        QCOMPARE(m_panel->values().namePattern, taken.isEmpty() ? QStringLiteral("{n:2}") : taken);
        QVERIFY2(field->toolTip().contains(said), qPrintable(field->toolTip()));
    }

    // What the level means follows the format: PNG is lossless at every level and
    // the level buys compression effort; WebP's level 0 is lossless.
    void levelSaysWhatItMeans_data()
    {
        QTest::addColumn<int>("format");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("atZero");
        QTest::newRow("JPEG") << int(OutputFormat::Jpeg) << "■JPG圧縮レベル：" << "0 : 最高画質+";
        QTest::newRow("WebP") << int(OutputFormat::WebP) << "■WebP圧縮レベル：" << "0 : ロスレス";
        QTest::newRow("AVIF") << int(OutputFormat::Avif) << "■AVIF圧縮レベル：" << "0 : 最高画質+";
        QTest::newRow("PNG") << int(OutputFormat::Png) << "■PNG圧縮：" << "0 : ロスレス・速い";
    }
    void levelSaysWhatItMeans()
    {
        QFETCH(int, format);
        QFETCH(QString, atZero);
        RowSettings shown;
        shown.format = OutputFormat(format);
        shown.level = 1;
        m_panel->showSettings(shown);
        QTEST(control<QLabel>(m_panel.get(), "Label5")->text(), "title");
        perform("key CompressLevel Left");
        QCOMPARE(control<QLabel>(m_panel.get(), "CompLabel")->text(), atZero);
        QCOMPARE(SettingsPanel::levelCaption(0, OutputFormat(format)), atZero);
    }

    // Showing a row is not choosing: a level of 5.5 shows at 50 and stays 5.5 in the
    // values, and nothing is said.
    void showingSaysNothing()
    {
        RowSettings shown = unusual();
        shown.level = 5.5;
        m_panel->showSettings(shown);
        QCOMPARE(m_log, QStringList{});
        QCOMPARE(control<QScrollBar>(m_panel.get(), "CompressLevel")->value(), 50);
        QCOMPARE(m_panel->values(), shown);
        QCOMPARE(control<QComboBox>(m_panel.get(), "RollValue")->currentText(), QStringLiteral("+90°"));
    }

    // The size rule: a mode from the list, its value (kept for each mode) and
    // shrink-only. Each change is said once, and new rows take the rule.
    void sizeRuleControls()
    {
        m_panel->showSettings(RowSettings(), {}, QSize(640, 480));
        auto *value = control<QSpinBox>(m_panel.get(), "SizeValue");
        QVERIFY(value->isHidden()); // the picture's own size needs no value
        perform("down SizeMode"); // 横×縦: the size the row has
        QVERIFY(value->isHidden());
        QCOMPARE(m_panel->values().size.exact, QSize(640, 480));
        perform("down SizeMode");
        QVERIFY(!value->isHidden());
        QCOMPARE(value->value(), 1600);
        value->setValue(1200);
        perform("down SizeMode");
        QCOMPARE(value->value(), 50);
        perform("key SizeMode Up; click ShrinkOnly");
        QCOMPARE(value->value(), 1200);
        QCOMPARE(m_panel->values().size, (SizeRule{SizeRule::LongEdge, {640, 480}, 1200, 50, true}));
        QCOMPARE(m_log,
                 QStringList({pick("size", "640*480"), pick("size", "long 1600"), pick("size", "long 1200"),
                              pick("size", "percent 50"), pick("size", "long 1200"), pick("shrinkOnly", "shrink")}));
    }

    // Combo boxes are named by what they set, not by the item they show, and their
    // item is their value.
    void comboBoxesNamedForScreenReaders_data()
    {
        QTest::addColumn<QString>("combo");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("value");
        QTest::newRow("turn") << "RollValue"
                              << "回転"
                              << "なし";
        QTest::newRow("size rule") << "SizeMode"
                                   << "サイズの指定"
                                   << "元のサイズ";
        QTest::newRow("metadata") << "MetaChoice"
                                  << "メタデータ"
                                  << "位置情報を除く";
    }
    void comboBoxesNamedForScreenReaders()
    {
        QFETCH(QString, combo);
        QAccessibleInterface *heard =
            QAccessible::queryAccessibleInterface(control<QComboBox>(m_panel.get(), combo.toLatin1()));
        QCOMPARE(heard->role(), QAccessible::ComboBox);
        QTEST(heard->text(QAccessible::Name), "name");
        QTEST(heard->text(QAccessible::Value), "value");
    }

    // The level bar, which Tab reaches, shows when it has the keyboard focus.
    void levelBarShowsFocus()
    {
        QVERIFY(testui::shown(m_panel.get(), true));
        auto *bar = control<QScrollBar>(m_panel.get(), "CompressLevel");
        control<QWidget>(m_panel.get(), "PresetChoice")->setFocus();
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

    // A new row takes the panel as it stands.
    void valuesForNewRows()
    {
        perform("click AspCheck(1); click PicPos(1); down RollValue; key CompressLevel Right;"
                "click PicBack #ff0000; down MetaChoice; type SaveTxt /");
        QCOMPARE(m_panel->values(), (RowSettings{{}, false, 255, true, 90, 6, "/", MetadataChoice::DropAll}));
    }

    // A typed folder: a full path ("~" the home folder), a folder that is there or
    // one the run will make; a file, a relative path or nothing is refused with the
    // reason, and the field returns to what it showed.
    void typedFolder_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("folder"); // empty: refused
        QTest::addColumn<bool>("made");
        const QString root = m_dir.path();
        QTest::newRow("there") << root + "/there" << root + "/there/" << false;
        QTest::newRow("there, separator and dots") << root + "/there/../there/" << root + "/there/" << false;
        QTest::newRow("not yet") << root + "/new/deeper" << root + "/new/deeper/" << true;
        QTest::newRow("home") << "~/" << QDir::homePath() + '/' << false;
        QTest::newRow("a file") << root + "/file.jpg"
                                << "" << false;
        QTest::newRow("inside a file") << root + "/file.jpg/x"
                                       << "" << false;
        QTest::newRow("relative") << "there/x"
                                  << "" << false;
        QTest::newRow("blank") << "  "
                               << "" << false;
    }
    void typedFolder()
    {
        QFETCH(QString, typed);
        QFETCH(QString, folder);
        QFETCH(bool, made);
        QVERIFY(QDir().mkpath(m_dir.filePath("there")));
        QFile file(m_dir.filePath("file.jpg"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        m_panel->setSaveText("/before/");
        auto *field = control<QLineEdit>(m_panel.get(), "SaveTxt");
        QVERIFY(testui::shown(m_panel.get(), true));
        field->setFocus();
        field->selectAll();
        field->insert(typed);
        QTest::keyClick(field, Qt::Key_Tab);
        QCOMPARE(m_log, folder.isEmpty() ? QStringList{} : QStringList{pick("folder", folder)});
        QCOMPARE(field->text(), folder.isEmpty() ? QStringLiteral("/before/") : folder);
        QCOMPARE(field->toolTip().isEmpty(), !folder.isEmpty() && !made);
        QCOMPARE(control<QAbstractButton>(m_panel.get(), "SaveCheck(1)")->isChecked(), !folder.isEmpty());
        QCOMPARE(m_panel->values().folder, folder);
        QCOMPARE(QFileInfo::exists(m_dir.filePath("new")), false); // made at the run, not here
    }

    // Every setting survives a restart through the kept settings, one key a field;
    // the keys of the release before still give the user's values.
    void keptSettings()
    {
        const QString file = m_dir.filePath("kept.ini");
        {
            QSettings s(file, QSettings::IniFormat);
            m_panel->showSettings(unusual());
            m_panel->saveTo(s);
            for (const RowFieldEntry &entry : rowFields())
                QVERIFY2(s.contains(QStringLiteral("row/") + QString::fromLatin1(entry.key)), entry.key);
        }
        SettingsPanel again;
        again.restoreFrom(QSettings(file, QSettings::IniFormat));
        QCOMPARE(again.values(), unusual());

        QFile::remove(file);
        {
            QSettings s(file, QSettings::IniFormat);
            for (const auto &[key, value] : QList<std::pair<QString, QVariant>>{{"keepAspect", false},
                                                                                {"backColor", 255},
                                                                                {"topLeft", false},
                                                                                {"rotation", "+90°"},
                                                                                {"level", 37},
                                                                                {"sameFolder", false},
                                                                                {"saveFolder", "/out/"},
                                                                                {"sizeMode", 2},
                                                                                {"longEdge", 1200},
                                                                                {"percent", 25},
                                                                                {"shrinkOnly", true},
                                                                                {"metadata", "all"}})
                s.setValue("panel/" + key, value);
        }
        SettingsPanel earlier;
        earlier.restoreFrom(QSettings(file, QSettings::IniFormat));
        // That release had no output formats or name patterns.
        RowSettings kept = unusual();
        kept.format = RowSettings().format;
        kept.keepTransparency = RowSettings().keepTransparency;
        kept.namePattern = RowSettings().namePattern;
        QCOMPARE(earlier.values(), kept);
        QCOMPARE(earlier.saveText(), QStringLiteral("/out/"));
    }
};

QTEST_MAIN(TestSettingsPanel)
#include "tst_settingspanel.moc"

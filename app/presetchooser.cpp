#include "app/presetchooser.h"

#include "app/prompts.h"
#include "platform/failure.h"
#include "platform/japanese.h"

#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QSignalBlocker>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

namespace kestrovia {

namespace {

Prompts::Message message(Prompts::Icon icon, const QString &title, const QString &text, const QString &informative = {})
{
    Prompts::Message m;
    m.icon = icon;
    m.title = title;
    m.text = text;
    m.informative = informative;
    return m;
}

bool isShippedName(const QString &name)
{
    const QList<Preset> shipped = shippedPresets();
    return std::any_of(shipped.begin(), shipped.end(), [&name](const Preset &p) { return p.name == name; });
}

QString fileFilter() { return ja("Kestrovia のプリセット (*%1)").arg(kPresetSuffix); }

} // namespace

PresetChooser::PresetChooser(QWidget *parent, const QString &folder)
    : QWidget(parent)
    , m_folder(folder)
    , m_combo(new QComboBox(this))
    , m_button(new QToolButton(this))
    , m_menu(new QMenu(this))
{
    setObjectName(QStringLiteral("PresetBar"));
    const int editHeight = fontMetrics().height() + 6;
    m_combo->setObjectName(QStringLiteral("PresetChoice"));
    m_combo->setAccessibleName(ja("プリセット"));
    m_combo->setToolTip(ja("選ぶと、その設定を選択中の行（行がなければ、これから追加する行）に使います"));
    m_combo->setPlaceholderText(QStringLiteral("—"));
    // A long name is cut in the box rather than widening the panel.
    m_combo->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    m_combo->setMinimumContentsLength(6);
    m_combo->setFixedHeight(editHeight);
    m_button->setObjectName(QStringLiteral("PresetMenuButton"));
    m_button->setText(QStringLiteral("…"));
    m_button->setFixedSize(24, editHeight);
    // A click takes the focus, so that a size or name being typed counts before
    // 保存… takes the panel's values.
    m_button->setFocusPolicy(Qt::StrongFocus);
    m_button->setAccessibleName(ja("プリセットの操作"));
    m_button->setToolTip(ja("プリセットの保存・名前の変更・削除・書き出し・読み込み"));
    m_menu->setObjectName(QStringLiteral("PresetMenu"));
    const auto add = [this](const char *name, const char *text, void (PresetChooser::*slot)()) {
        QAction *a = m_menu->addAction(ja(text));
        a->setObjectName(QString::fromLatin1(name));
        connect(a, &QAction::triggered, this, slot);
        return a;
    };
    add("PresetSave", "保存…", &PresetChooser::save);
    m_rename = add("PresetRename", "名前の変更…", &PresetChooser::rename);
    m_remove = add("PresetDelete", "削除", &PresetChooser::remove);
    m_menu->addSeparator();
    m_writeOut = add("PresetExport", "書き出し…", &PresetChooser::writeOut);
    add("PresetImport", "読み込み…", &PresetChooser::readIn);

    // The caption, a section of the panel like the others, names the combo box for
    // screen readers: they look for its label beside it.
    auto *caption = new QLabel(ja("■プリセット"), this);
    caption->setObjectName(QStringLiteral("Label20"));
    caption->setBuddy(m_combo);
    auto *v = new QVBoxLayout(this);
    v->setContentsMargins(0, 0, 0, 0);
    v->setSpacing(1);
    v->addWidget(caption);
    auto *h = new QHBoxLayout;
    h->setSpacing(2);
    h->addWidget(m_combo, 1);
    h->addWidget(m_button);
    v->addLayout(h);

    // activated, not currentIndexChanged: the user's choice, never the box showing
    // which preset the values are.
    connect(m_combo, &QComboBox::activated, this, &PresetChooser::chosen);
    connect(m_button, &QToolButton::clicked, this, &PresetChooser::openMenu);
    reload();
}

void PresetChooser::showValues(const RowSettings &values, bool mixed)
{
    m_values = values;
    m_mixed = mixed;
    showMatch();
}

QString PresetChooser::shownName() const { return m_combo->currentIndex() < 0 ? QString() : m_combo->currentText(); }

void PresetChooser::reload()
{
    m_presets = loadPresets(m_folder);
    const QSignalBlocker blocker(m_combo);
    m_combo->clear();
    for (const Preset &p : m_presets) {
        m_combo->addItem(p.name);
        if (isShippedName(p.name))
            m_combo->setItemData(m_combo->count() - 1,
                                 changedShipped(p.name) ? ja("付属のプリセット（変更あり）") : ja("付属のプリセット"),
                                 Qt::ToolTipRole);
    }
    showMatch();
}

void PresetChooser::showMatch()
{
    int index = -1;
    if (!m_mixed) {
        const auto matches = [this](const Preset &p) { return p.settings == m_values; };
        // Two presets alike: the one chosen stays named.
        if (const std::optional<Preset> last = presetNamed(m_chosen); last && matches(*last))
            index = int(m_presets.indexOf(*last));
        else if (const auto found = std::find_if(m_presets.begin(), m_presets.end(), matches); found != m_presets.end())
            index = int(found - m_presets.begin());
    }
    const QSignalBlocker blocker(m_combo);
    m_combo->setCurrentIndex(index);
}

void PresetChooser::chosen(int index)
{
    if (index < 0 || index >= m_presets.size())
        return;
    m_chosen = m_presets[index].name;
    emit presetChosen(m_presets[index].settings);
    showMatch();
}

std::optional<Preset> PresetChooser::presetNamed(const QString &name) const
{
    const auto found =
        std::find_if(m_presets.begin(), m_presets.end(), [&name](const Preset &p) { return p.name == name; });
    return found == m_presets.end() ? std::nullopt : std::optional(*found);
}

std::optional<Preset> PresetChooser::shownPreset() const
{
    const int index = m_combo->currentIndex();
    return index < 0 || index >= m_presets.size() ? std::nullopt : std::optional(m_presets[index]);
}

bool PresetChooser::changedShipped(const QString &name) const
{
    return isShippedName(name) && QFile::exists(presetFilePath(name, m_folder));
}

void PresetChooser::openMenu()
{
    // Another window or the batch command may have changed the folder meanwhile.
    reload();
    const std::optional<Preset> shown = shownPreset();
    m_rename->setEnabled(bool(shown));
    m_writeOut->setEnabled(bool(shown));
    // A shipped preset as it came has nothing to delete; a changed one goes back.
    m_remove->setEnabled(shown && (!isShippedName(shown->name) || changedShipped(shown->name)));
    m_remove->setText(shown && isShippedName(shown->name) ? ja("付属の設定に戻す") : ja("削除"));
    Prompts::popup(m_menu, m_button->mapToGlobal(QPoint(0, m_button->height())));
}

void PresetChooser::showFailure(const QString &title, const QString &why)
{
    Prompts::inform(window(), message(Prompts::Warning, title, why));
}

bool PresetChooser::succeeded(const QString &title, const std::function<void()> &change)
{
    try {
        change();
        return true;
    } catch (const Failure &f) {
        showFailure(title, f.message());
        return false;
    }
}

bool PresetChooser::mayReplace(const QString &name, const QString &title)
{
    if (!presetNamed(name))
        return true;
    const QString informative = isShippedName(name) ? ja("付属のプリセットは、あとで削除すると元の設定に戻ります。")
                                                    : ja("前の設定は失われます。");
    return Prompts::ask(window(),
                        message(Prompts::Question, title,
                                ja("プリセット「%1」はすでにあります。置き換えますか？").arg(name), informative),
                        {Prompts::Overwrite, Prompts::Cancel}, Prompts::Cancel, Prompts::Cancel)
           == Prompts::Overwrite;
}

void PresetChooser::save()
{
    const QString title = ja("プリセットを保存");
    Prompts::Message ask = message(Prompts::Question, title, ja("いまの設定を保存するプリセットの名前:"));
    if (m_mixed)
        ask.informative = ja("選択中の行で値が異なる設定は、現在の行の値で保存します。");
    const std::optional<QString> typed = Prompts::askText(window(), ask, shownName());
    const QString name = typed.value_or(QString()).trimmed();
    if (name.isEmpty() || !mayReplace(name, title))
        return;
    if (!succeeded(title, [&] { savePreset({name, m_values}, m_folder); }))
        return;
    m_chosen = name;
    reload();
}

void PresetChooser::rename()
{
    const std::optional<Preset> shown = shownPreset();
    if (!shown)
        return;
    const QString title = ja("プリセットの名前の変更");
    Prompts::Message ask = message(Prompts::Question, title, ja("プリセット「%1」の新しい名前:").arg(shown->name));
    if (isShippedName(shown->name))
        ask.informative = ja("付属のプリセットは元の名前でも残ります。");
    const QString name = Prompts::askText(window(), ask, shown->name).value_or(QString()).trimmed();
    if (name.isEmpty() || name == shown->name)
        return;
    if (!succeeded(title, [&] { renamePreset(shown->name, name, m_folder); }))
        return;
    m_chosen = name;
    reload();
}

void PresetChooser::remove()
{
    const std::optional<Preset> shown = shownPreset();
    if (!shown)
        return;
    const bool shipped = isShippedName(shown->name);
    const QString title = shipped ? ja("付属の設定に戻す") : ja("プリセットの削除");
    const Prompts::Message question =
        shipped ? message(Prompts::Question, title, ja("プリセット「%1」を付属の設定に戻しますか？").arg(shown->name),
                          ja("変更した設定は失われ、「%1」は付属のときの設定になります。").arg(shown->name))
                : message(Prompts::Question, title, ja("プリセット「%1」を削除しますか？").arg(shown->name),
                          ja("削除したプリセットは元に戻せません。"));
    if (Prompts::ask(window(), question, {Prompts::Delete, Prompts::Cancel}, Prompts::Cancel, Prompts::Cancel)
        != Prompts::Delete)
        return;
    const QString path = presetFilePath(shown->name, m_folder);
    if (!removePreset(shown->name, m_folder) && QFile::exists(path)) {
        showFailure(title, ja("「%1」を削除できません").arg(QDir::toNativeSeparators(path)));
        return;
    }
    reload();
}

void PresetChooser::writeOut()
{
    const std::optional<Preset> shown = shownPreset();
    if (!shown)
        return;
    const QString title = ja("プリセットの書き出し");
    const QString start = QDir::homePath() + u'/' + QFileInfo(presetFilePath(shown->name, m_folder)).fileName();
    const QString path = Prompts::chooseFile(window(), Prompts::FileUse::Save, title, start, fileFilter(),
                                             kPresetSuffix.mid(1).toString());
    if (path.isEmpty())
        return;
    succeeded(title, [&] { writePresetFile(*shown, path); });
}

void PresetChooser::readIn()
{
    const QString title = ja("プリセットの読み込み");
    const QString path = Prompts::chooseFile(window(), Prompts::FileUse::Open, title, QDir::homePath(), fileFilter(),
                                             kPresetSuffix.mid(1).toString());
    if (path.isEmpty())
        return;
    Preset preset;
    if (!succeeded(title, [&] { preset = readPresetFile(path); }))
        return;
    if (!mayReplace(preset.name, title))
        return;
    if (!succeeded(title, [&] { savePreset(preset, m_folder); }))
        return;
    reload();
}

} // namespace kestrovia

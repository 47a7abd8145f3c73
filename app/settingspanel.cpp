#include "app/settingspanel.h"

#include "app/accessiblecombo.h"
#include "app/artwork.h"
#include "app/colorswatch.h"
#include "app/levelbar.h"
#include "app/presetchooser.h"
#include "app/prompts.h"
#include "compose/picturelimits.h"
#include "export/outputname.h"
#include "platform/contrast.h"
#include "platform/japanese.h"
#include "platform/numbers.h"
#include "platform/syscolor.h"
#include "platform/units.h"

#include <QAction>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QRadioButton>
#include <QScrollBar>
#include <QSettings>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QStyle>
#include <QToolButton>
#include <QToolTip>
#include <QVBoxLayout>

namespace kestrovia {

namespace {

template <typename T> T *named(T *widget, const char *name)
{
    widget->setObjectName(QString::fromLatin1(name));
    return widget;
}

QLabel *label(const char *text, const char *name, QWidget *parent) { return named(new QLabel(ja(text), parent), name); }

// What a control shows for a value that differs across the selected rows.
QString manyValues() { return ja("（複数の値）"); }
// The level's caption for it: the line beside its title has no room for more.
QString manyLevels() { return ja("複数の値"); }

// What the name pattern's fields are, for its tooltip.
QString patternHelp()
{
    return ja("出力ファイルの名前（拡張子は形式で決まります）。{ } の項目は行ごとに置き換わります:\n"
              "{名前} 元画像の名前　{_b} 元画像と同じ形式のとき _b\n"
              "{幅} {高さ} 出力のピクセル数　{連番:3} 行番号（3 桁）\n"
              "{撮影日} 撮影日（yyyyMMdd。なければ更新日）　{撮影日:yyyy-MM-dd_HHmmss} 書式つき\n"
              "英字でも書けます: {name} {width} {height} {n:3} {date}");
}

// The level caption before any level was picked: a text none of the levels gives.
QString startCaption() { return ja("5 ( 標準 )"); }

// Selects the item of combo whose data is value (none: -1).
void selectData(QComboBox *combo, int value) { combo->setCurrentIndex(combo->findData(value)); }

// Checks the option of group that stands for first or second, or neither.
void checkOption(QButtonGroup *group, std::optional<bool> first)
{
    // An exclusive group cannot show none selected, and a value that differs
    // across the selection is neither. The group reports its buttons' toggles
    // itself, past their blocked signals.
    const QSignalBlocker blockGroup(group);
    group->setExclusive(false);
    for (QAbstractButton *b : group->buttons()) {
        const QSignalBlocker blocker(b);
        b->setChecked(first && (group->id(b) == 0) == *first);
    }
    group->setExclusive(true);
}

} // namespace

SettingsPanel::SettingsPanel(QWidget *parent)
    : QGroupBox(ja("作成画像"), parent)
{
    setObjectName(QStringLiteral("Frame1"));
    installNamedComboBoxes();
    build();

    connectOptions(m_fitGroup, RowField::Fit, [this](bool first) { m_values.keepAspect = first; });
    connectOptions(m_positionGroup, RowField::Position, [this](bool first) { m_values.centred = !first; });
    connect(m_saveGroup, &QButtonGroup::idToggled, this, [this](int id, bool on) {
        if (on)
            saveWherePicked(id);
    });
    connect(m_back, &ColorSwatch::clicked, this, &SettingsPanel::pickColor);
    // activated, not currentIndexChanged: only the user's choice from the list
    // (mouse, arrow keys) counts, never the panel showing a row.
    connect(m_turn, &QComboBox::activated, this, [this](int index) {
        m_values.turn = std::int16_t(m_turn->itemData(index).toInt());
        pick(RowField::Turn);
    });
    connect(m_complete, &QCheckBox::toggled, this, [this](bool on) {
        if (on)
            emit completePreviewChecked();
    });
    // With tracking off a dragged thumb reports once, on release.
    connect(m_level, &QScrollBar::valueChanged, this, &SettingsPanel::levelChanged);
    connect(m_saveFolder, &QToolButton::clicked, this, &SettingsPanel::saveFolderRequested);
    connect(m_metadata, &QComboBox::activated, this, [this](int index) {
        m_values.metadata = MetadataChoice(m_metadata->itemData(index).toInt());
        pick(RowField::Metadata);
    });
    connect(m_format, &QComboBox::activated, this, [this](int index) {
        m_values.format = OutputFormat(m_format->itemData(index).toInt());
        m_mixed.removeAll(RowField::Format);
        showFormat();
        pick(RowField::Format);
    });
    connect(m_keepTransparency, &QCheckBox::clicked, this, [this](bool on) {
        m_keepTransparency->setTristate(false);
        m_keepTransparency->setChecked(on);
        m_values.keepTransparency = on;
        pick(RowField::Transparency);
    });
    connect(m_pattern, &QLineEdit::editingFinished, this, &SettingsPanel::patternEntered);
    connect(m_presets, &PresetChooser::presetChosen, this, &SettingsPanel::applyPreset);
    connect(m_sizeMode, &QComboBox::activated, this, &SettingsPanel::sizeModePicked);
    connect(m_sizeValue, &QSpinBox::valueChanged, this, &SettingsPanel::sizeValuePicked);
    connect(m_shrinkOnly, &QCheckBox::clicked, this, [this](bool on) {
        // Half checked only shows rows that differ; a click sets every row.
        m_shrinkOnly->setTristate(false);
        m_shrinkOnly->setChecked(on);
        m_values.size.shrinkOnly = on;
        pick(RowField::ShrinkOnly);
    });
    // A typed size or folder counts once the field is left: Enter, Tab, a click
    // elsewhere or on 処理実行 (which takes the focus before its click).
    connect(m_width, &QLineEdit::editingFinished, this, &SettingsPanel::sizeEntered);
    connect(m_height, &QLineEdit::editingFinished, this, &SettingsPanel::sizeEntered);
    connect(m_saveText, &QLineEdit::editingFinished, this, &SettingsPanel::folderEntered);
    showSettings(RowSettings());
    m_levelCaption->setText(startCaption());
}

SettingsPanel::~SettingsPanel()
{
    // A panel that is a window of its own (as in its tests) hides itself while it
    // is destroyed; a field with the focus then reports editingFinished to a panel
    // that is no longer a SettingsPanel. What was typed then is not taken.
    m_width->disconnect(this);
    m_height->disconnect(this);
    m_saveText->disconnect(this);
    m_pattern->disconnect(this);
}

void SettingsPanel::build()
{
    auto *v = new QVBoxLayout(this);
    v->setContentsMargins(5, 2, 3, 3);
    v->setSpacing(1);
    const auto row = [v](std::initializer_list<QWidget *> widgets) {
        auto *h = new QHBoxLayout;
        h->setSpacing(3);
        h->setContentsMargins(0, 0, 0, 0);
        for (QWidget *w : widgets)
            h->addWidget(w);
        h->addStretch(1);
        v->addLayout(h);
    };
    const int editHeight = fontMetrics().height() + 6;

    // A preset sets everything below it.
    m_presets = new PresetChooser(this);
    v->addWidget(m_presets);

    v->addWidget(label("■画像サイズ ：単位pixel", "Label9", this));
    m_width = named(new QLineEdit(QStringLiteral("0"), this), "TxtWidth");
    m_height = named(new QLineEdit(QStringLiteral("0"), this), "TxtHeight");
    // Without names a screen reader takes the frame's title for both fields.
    m_width->setAccessibleName(ja("横"));
    m_height->setAccessibleName(ja("縦"));
    for (QLineEdit *e : {m_width, m_height}) {
        e->setFixedSize(52, editHeight);
        e->setAlignment(Qt::AlignRight);
    }
    QLabel *widthLabel = label("横", "Label2", this);
    QLabel *heightLabel = label("縦", "Label1", this);
    // Screen readers also find a field's label through its buddy.
    widthLabel->setBuddy(m_width);
    heightLabel->setBuddy(m_height);
    row({widthLabel, m_width, heightLabel, m_height});

    // How a row's size is worked out of its own picture: each row keeps its rule,
    // so that its size follows its turn.
    m_sizeMode = named(new QComboBox(this), "SizeMode");
    for (const auto &[mode, text] : {std::pair{SizeRule::Original, "元のサイズ"}, std::pair{SizeRule::Exact, "横×縦"},
                                     std::pair{SizeRule::LongEdge, "長辺"}, std::pair{SizeRule::Percent, "パーセント"}})
        m_sizeMode->addItem(ja(text), int(mode));
    m_sizeMode->setAccessibleName(ja("サイズの指定"));
    m_sizeMode->setFixedHeight(editHeight);
    m_sizeValue = named(new QSpinBox(this), "SizeValue");
    m_sizeValue->setKeyboardTracking(false); // one change when the typing is done, not one per digit
    m_sizeValue->setFixedSize(68, editHeight);
    m_sizeValue->setAccessibleName(ja("サイズの値"));
    m_sizeValue->setAlignment(Qt::AlignRight);
    QLabel *byRule = label("指定", "Label17", this);
    byRule->setBuddy(m_sizeMode); // a screen reader names a combo box by its label
    row({byRule, m_sizeMode, m_sizeValue});
    m_shrinkOnly = named(new QCheckBox(ja("縮小のみ（拡大しない）"), this), "ShrinkOnly");
    v->addWidget(m_shrinkOnly);

    m_fit[0] = named(new QRadioButton(ja("元画像の縦横比を保持する。"), this), "AspCheck(0)");
    m_fit[1] = named(new QRadioButton(ja("比率を無視して画像サイズに\nフィットさせる。"), this), "AspCheck(1)");
    m_fitGroup = new QButtonGroup(this);
    m_fitGroup->addButton(m_fit[0], 0);
    m_fitGroup->addButton(m_fit[1], 1);
    v->addWidget(m_fit[0]);
    v->addWidget(m_fit[1]);

    m_back = named(new ColorSwatch(this), "PicBack");
    m_back->setFixedSize(60, editHeight - 2);
    row({label("■背景色", "Label3", this), m_back});

    v->addWidget(label("■画像位置", "Label4", this));
    auto *frame2 = named(new QFrame(this), "Frame2");
    frame2->setFrameShape(QFrame::NoFrame);
    {
        auto *h = new QHBoxLayout(frame2);
        h->setContentsMargins(8, 0, 0, 0);
        m_position[0] = named(new QRadioButton(ja("左上"), frame2), "PicPos(0)");
        m_position[1] = named(new QRadioButton(ja("中央"), frame2), "PicPos(1)");
        m_positionGroup = new QButtonGroup(this);
        m_positionGroup->addButton(m_position[0], 0);
        m_positionGroup->addButton(m_position[1], 1);
        h->addWidget(m_position[0]);
        h->addWidget(m_position[1]);
        h->addStretch(1);
    }
    v->addWidget(frame2);

    v->addWidget(label("■画像編集", "Label10", this));
    // A choice of four: a typed text could only ever mean no turn.
    m_turn = named(new QComboBox(this), "RollValue");
    for (const auto &[code, text] :
         {std::pair{0, "なし"}, std::pair{90, "+90°"}, std::pair{270, "-90°"}, std::pair{180, "+180°"}})
        m_turn->addItem(ja(text), code);
    m_turn->setAccessibleName(ja("回転"));
    // Wide enough for its items and for saying that the rows differ.
    m_turn->setFixedSize(std::max(80, fontMetrics().horizontalAdvance(manyValues()) + 2 * editHeight), editHeight);
    QLabel *turnLabel = label("回転", "Label11", this);
    // On Linux a combo box's accessible name is its text; its label comes from here.
    turnLabel->setBuddy(m_turn);
    row({turnLabel, m_turn});
    // Inactive captions: nothing reads or sets a brightness or a contrast.
    QLabel *brightness = label("明度", "Label12", this);
    QLabel *contrast = label("コントラスト", "Label13", this);
    brightness->setEnabled(false);
    contrast->setEnabled(false);
    row({brightness, contrast});

    m_levelCaption = label("5 ( 標準 )", "CompLabel", this);
    m_levelTitle = label("■JPG圧縮レベル：", "Label5", this);
    row({m_levelTitle, m_levelCaption});
    m_level = named(new LevelBar(Qt::Horizontal, this), "CompressLevel");
    m_level->setRange(0, 100);
    m_level->setSingleStep(10);
    m_level->setPageStep(10);
    m_level->setValue(50);
    // A dragged thumb reports its value once, when it is released.
    m_level->setTracking(false);
    // A scroll bar takes no focus by default; this one is a setting, so Tab reaches
    // it and the arrow keys move it toward the caption they point at.
    m_level->setFocusPolicy(Qt::StrongFocus);
    m_level->setAccessibleName(ja("JPG圧縮レベル"));
    m_level->installEventFilter(this);
    {
        auto *h = new QHBoxLayout;
        h->setSpacing(3);
        h->addWidget(label("Low", "Label7", this));
        h->addWidget(m_level, 1);
        h->addWidget(label("High", "Label8", this));
        v->addLayout(h);
    }

    v->addWidget(label("■保存", "Label6", this));
    auto *frame3 = named(new QFrame(this), "Frame3");
    frame3->setFrameShape(QFrame::NoFrame);
    {
        auto *fv = new QVBoxLayout(frame3);
        fv->setContentsMargins(0, 0, 0, 0);
        fv->setSpacing(1);
        m_saveWhere[0] = named(new QRadioButton(ja("画像と同じフォルダに保存"), frame3), "SaveCheck(0)");
        m_saveWhere[1] = named(new QRadioButton(ja("場所を指定して保存"), frame3), "SaveCheck(1)");
        m_saveGroup = new QButtonGroup(this);
        m_saveGroup->addButton(m_saveWhere[0], 0);
        m_saveGroup->addButton(m_saveWhere[1], 1);
        fv->addWidget(m_saveWhere[0]);
        fv->addWidget(m_saveWhere[1]);
        auto *h = new QHBoxLayout;
        h->setSpacing(2);
        // A folder typed here counts once the field is left, as a typed size does.
        m_saveText = named(new QLineEdit(frame3), "SaveTxt");
        m_saveText->setFixedHeight(editHeight);
        m_willBeCreated =
            m_saveText->addAction(style()->standardIcon(QStyle::SP_FileDialogNewFolder), QLineEdit::TrailingPosition);
        m_willBeCreated->setText(ja("まだないフォルダ"));
        m_willBeCreated->setToolTip(ja("このフォルダはまだありません。処理実行のときに作成します"));
        m_willBeCreated->setVisible(false);
        m_saveText->setAccessibleName(ja("保存先フォルダ"));
        m_saveFolder = named(new QToolButton(frame3), "SaveFolder");
        m_saveFolder->setText(QStringLiteral("…"));
        m_saveFolder->setFixedSize(24, editHeight);
        // The button is too small to underline a letter, so its mnemonic is told in
        // the tooltip.
        m_saveFolder->setShortcut(QKeySequence(Qt::ALT | Qt::Key_F));
        m_saveFolder->setToolTip(ja("保存先フォルダを選ぶ (Alt+F)"));
        m_saveFolder->setAccessibleName(ja("保存先フォルダを選ぶ"));
        h->addWidget(m_saveText, 1);
        h->addWidget(m_saveFolder);
        fv->addLayout(h);
    }
    v->addWidget(frame3);

    // What of the picture's metadata the output keeps; outputs are mostly for
    // sharing, so the place it was taken is left out unless asked for.
    m_metadata = named(new QComboBox(this), "MetaChoice");
    for (const auto &[choice, text] :
         {std::pair{MetadataChoice::KeepAll, "すべて残す"}, std::pair{MetadataChoice::DropLocation, "位置情報を除く"},
          std::pair{MetadataChoice::DropAll, "すべて除く"}})
        m_metadata->addItem(ja(text), int(choice));
    m_metadata->setAccessibleName(ja("メタデータ"));
    m_metadata->setToolTip(ja("撮影情報・著作権などのメタデータのうち、出力に残すもの"));
    m_metadata->setFixedHeight(editHeight);
    // The kind of file written, and whether the picture's transparency stays in it.
    m_format = named(new QComboBox(this), "OutFormat");
    for (const auto &[format, text] : {std::pair{OutputFormat::Jpeg, "JPEG"}, std::pair{OutputFormat::WebP, "WebP"},
                                       std::pair{OutputFormat::Avif, "AVIF"}, std::pair{OutputFormat::Png, "PNG"}})
        m_format->addItem(QString::fromLatin1(text), int(format));
    m_format->setAccessibleName(ja("出力形式"));
    m_format->setToolTip(ja("書き出すファイルの形式"));
    m_format->setFixedHeight(editHeight);
    m_keepTransparency = named(new QCheckBox(ja("透明を残す"), this), "KeepAlpha");
    // An empty box says why it is empty: the selected rows differ.
    for (QComboBox *box : {m_sizeMode, m_turn, m_metadata, m_format})
        box->setPlaceholderText(manyValues());
    QLabel *metadataLabel = label("メタデータ", "Label16", this);
    metadataLabel->setBuddy(m_metadata);
    row({metadataLabel, m_metadata});
    QLabel *formatLabel = label("形式", "Label18", this);
    formatLabel->setBuddy(m_format);
    row({formatLabel, m_format});
    v->addWidget(m_keepTransparency);

    // The output's name without its extension, which follows the format: checked
    // when the field is left, as a typed folder is.
    m_pattern = named(new QLineEdit(this), "NamePattern");
    m_pattern->setFixedHeight(editHeight);
    m_pattern->setAccessibleName(ja("出力名"));
    QLabel *patternLabel = label("出力名", "Label19", this);
    patternLabel->setBuddy(m_pattern);
    {
        auto *h = new QHBoxLayout;
        h->setSpacing(3);
        h->addWidget(patternLabel);
        h->addWidget(m_pattern, 1);
        v->addLayout(h);
    }

    m_complete = named(new QCheckBox(ja("完全プレビューを表示する。"), this), "PreCheck");
    v->addWidget(m_complete);
    m_warning = label("注意：画像編集を行う場合は動作が非常に重くなります。", "Label14", this);
    m_warning->setWordWrap(true);
    showWarningColor();
    v->addWidget(m_warning);
    v->addStretch(1);

    m_banner = label("", "Image1", this);
    m_banner->setPixmap(bannerPixmap());
    m_banner->setScaledContents(true);
    m_banner->setFixedSize(twipsRect(0, 0, 2550, 465).size());
    m_banner->setCursor(Qt::PointingHandCursor);
    m_banner->setAccessibleName(ja("Kestrovia について"));
    m_banner->installEventFilter(this);
    v->addWidget(m_banner, 0, Qt::AlignHCenter);
}

void SettingsPanel::connectOptions(QButtonGroup *group, RowField field, const std::function<void(bool first)> &set)
{
    // toggled(true) takes a choice made with the keyboard's arrows as well as a
    // click; the panel's own showing is made with the signals blocked.
    connect(group, &QButtonGroup::idToggled, this, [this, field, set](int id, bool on) {
        if (!on)
            return;
        set(id == 0);
        pick(field);
    });
}

void SettingsPanel::pick(RowField field)
{
    m_mixed.removeAll(field);
    m_presets->showValues(m_values, !m_mixed.isEmpty());
    emit settingPicked(field, m_values);
}

void SettingsPanel::applyPreset(const RowSettings &settings)
{
    // Shown first, so that the rows written next show again as the panel does.
    showSettings(settings);
    emit presetPicked(m_values);
}

void SettingsPanel::showSettings(const RowSettings &settings, const QList<RowField> &mixedFields, QSize size)
{
    m_values = settings;
    m_mixed = mixedFields;
    if (size.isValid())
        m_shownSize = size;
    const auto many = [this](QWidget *w, RowField field) {
        w->setAccessibleDescription(mixed(field) ? manyValues() : QString());
    };

    showSizeRule();
    showSizeFields();
    checkOption(m_fitGroup, mixed(RowField::Fit) ? std::nullopt : std::optional(settings.keepAspect));
    checkOption(m_positionGroup, mixed(RowField::Position) ? std::nullopt : std::optional(!settings.centred));
    for (int i : {0, 1}) {
        many(m_fit[i], RowField::Fit);
        many(m_position[i], RowField::Position);
    }
    m_back->setColorValue(settings.backColor);
    m_back->setMixed(mixed(RowField::Background));
    {
        const QSignalBlocker blocker(m_turn);
        selectData(m_turn, mixed(RowField::Turn) ? -1 : settings.turn);
        many(m_turn, RowField::Turn);
    }
    {
        // A row's 5.5 shows as 50 and stays 5.5: only the user's move of the bar is
        // a choice.
        const QSignalBlocker blocker(m_level);
        m_level->setValue(levelBarValue(settings.level));
    }
    if (mixed(RowField::Level))
        m_levelCaption->setText(manyLevels());
    else
        showLevelCaption(m_level->value());
    many(m_level, RowField::Level);
    showFolder();
    {
        const QSignalBlocker blocker(m_metadata);
        selectData(m_metadata, mixed(RowField::Metadata) ? -1 : int(settings.metadata));
        many(m_metadata, RowField::Metadata);
    }
    showFormat();
    showPattern();
    m_presets->showValues(m_values, !m_mixed.isEmpty());
}

void SettingsPanel::showFormat()
{
    const bool formatMixed = mixed(RowField::Format);
    {
        const QSignalBlocker blocker(m_format);
        selectData(m_format, formatMixed ? -1 : int(m_values.format));
        m_format->setAccessibleDescription(formatMixed ? manyValues() : QString());
    }
    {
        const QSignalBlocker blocker(m_keepTransparency);
        if (mixed(RowField::Transparency)) {
            m_keepTransparency->setTristate(true);
            m_keepTransparency->setCheckState(Qt::PartiallyChecked);
        } else {
            m_keepTransparency->setTristate(false);
            m_keepTransparency->setChecked(m_values.keepTransparency);
        }
    }
    // JPEG stores no transparency: for JPEG rows the box does not apply.
    const bool applies = formatMixed || formatHasAlpha(m_values.format);
    m_keepTransparency->setEnabled(applies);
    m_keepTransparency->setToolTip(applies ? ja("透明な部分と縦横比を保った余白を、背景色で塗らずに透明のまま残します")
                                           : ja("JPEG は透明を保存できないため、背景色で塗ります"));
    // What the level means to the format the rows are written in.
    const OutputFormat shown = formatMixed ? OutputFormat::Jpeg : m_values.format;
    const QString title = formatMixed                       ? ja("■圧縮レベル：")
                          : shown == OutputFormat::Png      ? ja("■PNG圧縮：")
                          : shown == OutputFormat::WebP     ? ja("■WebP圧縮レベル：")
                          : shown == OutputFormat::Avif     ? ja("■AVIF圧縮レベル：")
                                                            : ja("■JPG圧縮レベル：");
    m_levelTitle->setText(title);
    m_level->setAccessibleName(title.mid(1).chopped(1));
    if (!mixed(RowField::Level) && m_levelCaption->text() != startCaption())
        showLevelCaption(m_level->value());
}

void SettingsPanel::showPattern()
{
    const bool many = mixed(RowField::NamePattern);
    // A field the user is typing in keeps the text until it is left.
    if (!(m_pattern->hasFocus() && m_pattern->isModified())) {
        m_pattern->setText(many ? QString() : m_values.namePattern);
        m_pattern->setCursorPosition(0); // a long pattern shows its start
    }
    m_pattern->setPlaceholderText(many ? manyValues() : QString());
    m_pattern->setAccessibleDescription(many ? manyValues() : QString());
    const QString warning = many ? QString() : NamePattern(m_values.namePattern).warning();
    m_pattern->setToolTip(patternHelp() + (warning.isEmpty() ? QString() : QStringLiteral("\n\n") + warning));
}

void SettingsPanel::showSizeRule()
{
    const SizeRule &rule = m_values.size;
    const QSignalBlocker blockMode(m_sizeMode), blockValue(m_sizeValue), blockShrink(m_shrinkOnly);
    const bool ruleMixed = mixed(RowField::Size);
    selectData(m_sizeMode, ruleMixed ? -1 : int(rule.mode));
    m_sizeMode->setAccessibleDescription(ruleMixed ? manyValues() : QString());
    m_sizeValue->setVisible(!ruleMixed && (rule.mode == SizeRule::LongEdge || rule.mode == SizeRule::Percent));
    if (rule.mode == SizeRule::LongEdge) {
        m_sizeValue->setRange(1, kMaxPictureSide);
        m_sizeValue->setSuffix(QStringLiteral(" px"));
        m_sizeValue->setValue(rule.longEdge);
        m_sizeValue->setAccessibleName(ja("長辺（ピクセル）"));
    } else if (rule.mode == SizeRule::Percent) {
        m_sizeValue->setRange(1, 1000);
        m_sizeValue->setSuffix(QStringLiteral(" %"));
        m_sizeValue->setValue(rule.percent);
        m_sizeValue->setAccessibleName(ja("パーセント"));
    }
    if (mixed(RowField::ShrinkOnly)) {
        m_shrinkOnly->setTristate(true);
        m_shrinkOnly->setCheckState(Qt::PartiallyChecked);
    } else {
        m_shrinkOnly->setTristate(false);
        m_shrinkOnly->setChecked(rule.shrinkOnly);
    }
}

void SettingsPanel::showSizeFields()
{
    // An exact rule shows the size it asks; the others the size they gave the row.
    const bool exact = m_values.size.mode == SizeRule::Exact && !m_values.size.exact.isEmpty();
    const QSize shown = exact ? m_values.size.exact : m_shownSize;
    const bool many = mixed(RowField::Size);
    for (auto [field, value] : {std::pair{m_width, shown.width()}, std::pair{m_height, shown.height()}}) {
        field->setPlaceholderText(many ? ja("複数") : QString());
        field->setAccessibleDescription(many ? manyValues() : QString());
        // A field the user is typing in keeps the text until it is left.
        if (!(field->hasFocus() && field->isModified()))
            field->setText(many ? QString() : QString::number(value));
    }
}

void SettingsPanel::showFolder()
{
    const QString &folder = m_values.folder;
    const bool many = mixed(RowField::Folder);
    // Rows that differ in where they are saved: neither option.
    checkOption(m_saveGroup, many ? std::nullopt : std::optional(folder.isEmpty()));
    if (!many && !folder.isEmpty())
        m_lastFolder = folder;
    // Beside the picture, the field keeps the folder chosen last, for the option
    // 場所を指定して保存 to take again. A field the user is typing in keeps the text.
    if (!(m_saveText->hasFocus() && m_saveText->isModified()))
        m_saveText->setText(many ? QString() : m_lastFolder);
    m_saveText->setPlaceholderText(many ? manyValues() : QString());
    m_saveText->setAccessibleDescription(many ? manyValues() : QString());
    const QString shown = m_saveText->text();
    m_willBeCreated->setVisible(!shown.isEmpty() && !QFileInfo::exists(shown));
}

bool SettingsPanel::completePreview() const { return m_complete->isChecked(); }

namespace {

// The keys the values for new rows were kept under before they were one type,
// as the settings' texts: a user's kept settings survive the upgrade.
std::optional<QString> earlierText(const QSettings &s, const QString &key)
{
    const auto old = [&s](const char *name) { return s.value(QStringLiteral("panel/") + QLatin1String(name)); };
    const auto has = [&s](const char *name) { return s.contains(QStringLiteral("panel/") + QLatin1String(name)); };
    if (key == u"size" && has("sizeMode")) {
        // Sizes by hand, long edge, percentage: sizes by hand gave new rows their
        // pictures' own size.
        switch (old("sizeMode").toInt()) {
        case 1: return QStringLiteral("long ") + old("longEdge").toString();
        case 2: return QStringLiteral("percent ") + old("percent").toString();
        default: return QStringLiteral("original");
        }
    }
    if (key == u"shrinkOnly" && has("shrinkOnly"))
        return old("shrinkOnly").toBool() ? QStringLiteral("shrink") : QString();
    if (key == u"fit" && has("keepAspect"))
        return (old("keepAspect").toBool() ? celltext::FitKeep : celltext::FitStretch).toString();
    if (key == u"background" && has("backColor"))
        return old("backColor").toString();
    if (key == u"position" && has("topLeft"))
        return (old("topLeft").toBool() ? celltext::Top : celltext::Center).toString();
    if (key == u"turn" && has("rotation"))
        return old("rotation").toString();
    if (key == u"level" && has("level"))
        return shortestDecimal(levelOfBar(std::clamp(old("level").toInt(), 0, 100)));
    if (key == u"folder" && has("sameFolder"))
        return old("sameFolder").toBool() ? QString() : old("saveFolder").toString();
    if (key == u"metadata" && has("metadata"))
        return old("metadata").toString();
    return std::nullopt;
}

} // namespace

void SettingsPanel::saveTo(QSettings &s) const
{
    for (const auto &[key, text] : settingsTexts(m_values))
        s.setValue(QStringLiteral("row/") + key, text);
    s.setValue(QStringLiteral("panel/saveFolder"), m_lastFolder);
    s.setValue(QStringLiteral("panel/completePreview"), m_complete->isChecked());
}

void SettingsPanel::restoreFrom(const QSettings &s)
{
    const RowSettings kept = settingsFromTexts([&s](const QString &key) -> std::optional<QString> {
        if (const QString name = QStringLiteral("row/") + key; s.contains(name))
            return s.value(name).toString();
        return earlierText(s, key);
    });
    m_lastFolder = s.value(QStringLiteral("panel/saveFolder")).toString();
    {
        const QSignalBlocker blocker(m_complete);
        m_complete->setChecked(s.value(QStringLiteral("panel/completePreview"), false).toBool());
    }
    showSettings(kept);
    if (levelBarValue(kept.level) == levelBarValue(RowSettings().level))
        m_levelCaption->setText(startCaption());
}

void SettingsPanel::resetToStartUp()
{
    m_lastFolder.clear();
    {
        const QSignalBlocker blocker(m_complete);
        m_complete->setChecked(false);
    }
    showSettings(RowSettings());
    m_levelCaption->setText(startCaption());
}

QString SettingsPanel::saveText() const { return m_saveText->text(); }

void SettingsPanel::setSaveText(const QString &folder)
{
    m_lastFolder = folder;
    showFolder();
}

void SettingsPanel::takeFolder(const QString &folder)
{
    if (folder.isEmpty())
        return;
    m_values.folder = folder;
    m_mixed.removeAll(RowField::Folder);
    showFolder();
    pick(RowField::Folder);
}

SettingsPanel::TypedFolder SettingsPanel::typedFolder(const QString &text)
{
    QString t = QDir::fromNativeSeparators(text.trimmed());
    if (t.isEmpty())
        return {{}, ja("保存先のフォルダを入力してください"), false};
    if (t == u"~" || t.startsWith(QStringLiteral("~/")))
        t = QDir::homePath() + t.mid(1);
    if (!QDir::isAbsolutePath(t))
        return {{}, ja("保存先は / で始まるフルパスで入力してください"), false};
    t = QDir::cleanPath(t);
    // The nearest part of the path that exists must be a folder: the rest is made
    // at the run.
    QString existing = t;
    while (!QFileInfo::exists(existing) && existing != QDir::rootPath())
        existing = QFileInfo(existing).path();
    if (!QFileInfo(existing).isDir()) {
        return {
            {},
            existing == t
                ? ja("「%1」はファイルです。フォルダを入力してください").arg(QDir::toNativeSeparators(t))
                : ja("「%1」はファイルのため、その中にフォルダは作れません").arg(QDir::toNativeSeparators(existing)),
            false};
    }
    return {t.endsWith(u'/') ? t : t + u'/', {}, existing != t};
}

QString SettingsPanel::levelCaption(int scrollValue, OutputFormat format)
{
    static const std::array<const char *, 11> captions{
        "0 : 最高画質+", "1 : 最高画質", "2 : 高画質+", "3 : 高画質",   "4 : 標準画質+",  "5 : 標準画質",
        "6 : 標準画質-", "7 : 低画質",   "8 : 低画質-", "9 : 最低画質", "10 : 最低画質-",
    };
    if (scrollValue < 0 || scrollValue > 100 || scrollValue % 10 != 0)
        return {};
    const int level = scrollValue / 10;
    if (format == OutputFormat::Png) {
        // Every PNG is lossless: a higher level compresses harder, and takes longer.
        const char *effort = level <= 3 ? "速い" : level <= 7 ? "標準" : "最小";
        return ja("%1 : ロスレス・%2").arg(level).arg(ja(effort));
    }
    if (format == OutputFormat::WebP && level == 0)
        return ja("0 : ロスレス");
    return ja(captions[std::size_t(level)]);
}

std::optional<int> SettingsPanel::typedSide(const QString &text)
{
    // An input method types full-width digits and spaces (１６００); NFKC makes
    // them the plain ones.
    const QString t = text.normalized(QString::NormalizationForm_KC).trimmed();
    if (t.isEmpty() || t.size() > 5)
        return std::nullopt;
    int value = 0;
    for (const QChar c : t) {
        // Digits only: signs and fractions are refused.
        if (c < u'0' || c > u'9')
            return std::nullopt;
        value = value * 10 + (c.unicode() - u'0');
    }
    if (value < 1 || value > kMaxPictureSide)
        return std::nullopt;
    return value;
}

void SettingsPanel::showWarningColor()
{
    QPalette p = m_warning->palette();
    p.setColor(QPalette::WindowText, readableRed(palette().color(QPalette::Window)));
    m_warning->setPalette(p);
}

void SettingsPanel::changeEvent(QEvent *event)
{
    QGroupBox::changeEvent(event);
    if (event->type() == QEvent::PaletteChange && m_warning)
        showWarningColor();
}

void SettingsPanel::pickColor()
{
    const QColor chosen = Prompts::chooseColor(this);
    // Qt reports a cancel as an invalid colour; taking it would write a colour
    // nobody chose, so a cancel leaves swatch, rows and preview as they are.
    if (!chosen.isValid())
        return;
    m_values.backColor = colorValueFromRgb(chosen);
    m_back->setColorValue(m_values.backColor);
    pick(RowField::Background);
}

void SettingsPanel::levelChanged(int value)
{
    showLevelCaption(value);
    m_values.level = levelOfBar(value);
    pick(RowField::Level);
}

void SettingsPanel::showLevelCaption(int value)
{
    const QString caption = levelCaption(value, mixed(RowField::Format) ? OutputFormat::Jpeg : m_values.format);
    if (!caption.isNull())
        m_levelCaption->setText(caption);
    else if (m_levelCaption->text() == manyLevels())
        m_levelCaption->clear(); // the rows' level is one again, yet between the captions
}

void SettingsPanel::sizeModePicked(int index)
{
    SizeRule &rule = m_values.size;
    rule.mode = SizeRule::Mode(m_sizeMode->itemData(index).toInt());
    // An exact size not asked before starts at the size the row has.
    if (rule.mode == SizeRule::Exact && rule.exact.isEmpty())
        rule.exact = m_shownSize.isEmpty() ? QSize(640, 480) : m_shownSize;
    // A value belongs to the mode it was set for; switching modes shows the other
    // mode's own value.
    m_mixed.removeAll(RowField::Size);
    showSizeRule();
    showSizeFields();
    pick(RowField::Size);
}

void SettingsPanel::sizeValuePicked(int value)
{
    SizeRule &rule = m_values.size;
    if (rule.mode == SizeRule::LongEdge)
        rule.longEdge = value;
    else if (rule.mode == SizeRule::Percent)
        rule.percent = value;
    else
        return;
    pick(RowField::Size);
}

void SettingsPanel::sayWhy(QLineEdit *field, const QString &why)
{
    field->setToolTip(why);
    QToolTip::showText(field->mapToGlobal(QPoint(0, field->height())), why, field);
}

void SettingsPanel::sizeEntered()
{
    if (!m_width->isModified() && !m_height->isModified())
        return; // left without a change: the fields show the rows' size already
    const auto w = typedSide(m_width->text());
    const auto h = typedSide(m_height->text());
    m_width->setModified(false);
    m_height->setModified(false);
    if (!w || !h) {
        // The fields go back to the rows' size, and say why.
        QLineEdit *wrong = w ? m_height : m_width;
        showSizeFields();
        sayWhy(wrong, ja("サイズは 1〜%1 の整数で入力してください").arg(kMaxPictureSide));
        return;
    }
    m_width->setToolTip({});
    m_height->setToolTip({});
    const QSize typed(*w, *h);
    SizeRule &rule = m_values.size;
    if (rule.mode == SizeRule::Exact && rule.exact == typed && !mixed(RowField::Size)) {
        showSizeFields(); // the same size in its plain form: nothing to write
        return;
    }
    rule.mode = SizeRule::Exact;
    rule.exact = typed;
    m_mixed.removeAll(RowField::Size);
    showSizeRule();
    showSizeFields();
    pick(RowField::Size);
}

void SettingsPanel::folderEntered()
{
    if (!m_saveText->isModified())
        return;
    m_saveText->setModified(false);
    const TypedFolder typed = typedFolder(m_saveText->text());
    if (!typed.refusal.isEmpty()) {
        // The field returns to what it showed, and says why.
        showFolder();
        sayWhy(m_saveText, typed.refusal);
        return;
    }
    m_saveText->setToolTip(typed.createdAtRun ? m_willBeCreated->toolTip() : QString());
    takeFolder(typed.folder);
}

void SettingsPanel::patternEntered()
{
    if (!m_pattern->isModified())
        return;
    m_pattern->setModified(false);
    const NamePattern typed(m_pattern->text());
    if (!typed.error().isEmpty()) {
        // The field returns to the rows' pattern, and says why.
        showPattern();
        sayWhy(m_pattern, typed.error());
        return;
    }
    m_values.namePattern = typed.text();
    m_mixed.removeAll(RowField::NamePattern);
    showPattern();
    if (!typed.warning().isEmpty())
        sayWhy(m_pattern, typed.warning());
    pick(RowField::NamePattern);
}

void SettingsPanel::saveWherePicked(int index)
{
    if (index == 0) {
        m_values.folder.clear();
        pick(RowField::Folder);
        return;
    }
    if (const TypedFolder last = typedFolder(m_lastFolder); last.refusal.isEmpty()) {
        takeFolder(last.folder);
        return;
    }
    // No folder to take yet: the chooser, and without a choice the rows' own
    // destination again.
    emit saveFolderRequested();
    if (m_values.folder.isEmpty() || mixed(RowField::Folder))
        showFolder();
}

bool SettingsPanel::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_banner && event->type() == QEvent::MouseButtonRelease) {
        if (static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton)
            emit bannerClicked();
        return true;
    }
    // A scroll bar turns its arrow keys round; this one moves the way its Low and
    // High captions read.
    if (watched == m_level && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent *>(event)->key();
        if (key == Qt::Key_Left || key == Qt::Key_Right) {
            m_level->triggerAction(key == Qt::Key_Left ? QAbstractSlider::SliderSingleStepSub
                                                       : QAbstractSlider::SliderSingleStepAdd);
            return true;
        }
    }
    return QGroupBox::eventFilter(watched, event);
}

} // namespace kestrovia

#include "app/settingspanel.h"

#include "app/artwork.h"
#include "app/colorswatch.h"
#include "app/levelbar.h"
#include "app/prompts.h"
#include "compose/picturelimits.h"
#include "joblist/jobcolumns.h"
#include "platform/contrast.h"
#include "platform/japanese.h"
#include "platform/numbers.h"
#include "platform/syscolor.h"
#include "platform/units.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
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

// The turn list's items, in order; "°" is U+00B0.
constexpr std::array<QStringView, 4> kTurnItems = {celltext::TurnRight, celltext::TurnLeft, celltext::TurnHalf,
                                                   celltext::NoTurn};

// The blank item reads なし, on screen and to a screen reader; the row still takes
// the item's own text (" ").
QString turnItemText(QStringView item) { return item == celltext::NoTurn ? ja("なし") : item.toString(); }

} // namespace

SettingsPanel::SettingsPanel(QWidget *parent)
    : QGroupBox(ja("作成画像"), parent)
{
    setObjectName(QStringLiteral("Frame1"));
    build();

    connectOptions(m_fit, ColFit, celltext::FitKeep, celltext::FitStretch);
    connectOptions(m_position, ColPosition, celltext::Top, celltext::Center);
    connect(m_back, &ColorSwatch::clicked, this, &SettingsPanel::pickColor);
    // activated, not currentIndexChanged: only a choice from the list (mouse, arrow
    // keys) counts; typed text and the sync's setCurrentIndex do not.
    connect(m_turn, &QComboBox::activated, this, [this] { emit settingPicked(ColRotation, turnText(), true); });
    connect(m_complete, &QCheckBox::toggled, this, [this](bool on) {
        if (on)
            emit completePreviewChecked();
    });
    // With tracking off a dragged thumb reports once, on release.
    connect(m_level, &QScrollBar::valueChanged, this, &SettingsPanel::levelChanged);
    connect(m_saveFolder, &QToolButton::clicked, this, [this] {
        if (!m_saveWhere[0]->isChecked())
            emit saveFolderRequested();
    });
    connect(m_metadata, &QComboBox::activated, this, [this](int index) {
        emit settingPicked(ColMetadata, metadataText(MetadataChoice(index)).toString(), false);
    });
    connect(m_sizeMode, &QComboBox::activated, this, &SettingsPanel::takeSizeRule);
    connect(m_sizeValue, &QSpinBox::valueChanged, this, &SettingsPanel::takeSizeRule);
    connect(m_shrinkOnly, &QCheckBox::clicked, this, &SettingsPanel::takeSizeRule);
    // A typed size counts once the field is left: Enter, Tab, a click elsewhere or
    // on 処理実行 (which takes the focus before its click).
    connect(m_width, &QLineEdit::editingFinished, this, &SettingsPanel::sizeEntered);
    connect(m_height, &QLineEdit::editingFinished, this, &SettingsPanel::sizeEntered);
}

SettingsPanel::~SettingsPanel()
{
    // A panel that is a window of its own (as in its tests) hides itself while it
    // is destroyed; a size field with the focus then reports editingFinished to
    // a panel that is no longer a SettingsPanel. What was typed then is not taken.
    m_width->disconnect(this);
    m_height->disconnect(this);
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

    // How a row's size is worked out of its own picture: for new rows, for the
    // current row when the rule changes, and for 項目の一致 → サイズ.
    m_sizeMode = named(new QComboBox(this), "SizeMode");
    m_sizeMode->addItems({ja("横×縦"), ja("長辺"), ja("パーセント")});
    m_sizeMode->setAccessibleName(ja("サイズの決め方"));
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
    showSizeRule(SizeRule());

    m_fit[0] = named(new QRadioButton(ja("元画像の縦横比を保持する。"), this), "AspCheck(0)");
    m_fit[1] = named(new QRadioButton(ja("比率を無視して画像サイズに\nフィットさせる。"), this), "AspCheck(1)");
    m_fit[0]->setChecked(true);
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
        m_position[0]->setChecked(true);
        h->addWidget(m_position[0]);
        h->addWidget(m_position[1]);
        h->addStretch(1);
    }
    v->addWidget(frame2);

    v->addWidget(label("■画像編集", "Label10", this));
    m_turn = named(new QComboBox(this), "RollValue");
    m_turn->setEditable(true);
    m_turn->setInsertPolicy(QComboBox::NoInsert);
    for (QStringView item : kTurnItems)
        m_turn->addItem(turnItemText(item), item.toString());
    m_turn->setCurrentIndex(-1);
    m_turn->setEditText(QString());
    // The empty start means no turn as well.
    m_turn->lineEdit()->setPlaceholderText(turnItemText(celltext::NoTurn));
    m_turn->setAccessibleName(ja("回転"));
    m_turn->setFixedSize(80, editHeight);
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
    row({label("■JPG圧縮レベル：", "Label5", this), m_levelCaption});
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
        m_saveWhere[0]->setChecked(true);
        fv->addWidget(m_saveWhere[0]);
        fv->addWidget(m_saveWhere[1]);
        auto *h = new QHBoxLayout;
        h->setSpacing(2);
        m_saveText = named(new QLineEdit(frame3), "SaveTxt");
        // The folder comes from the chooser, so it always names a folder that existed.
        m_saveText->setReadOnly(true);
        m_saveText->setFixedHeight(editHeight);
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
    m_metadata->addItems({ja("すべて残す"), ja("位置情報を除く"), ja("すべて除く")});
    m_metadata->setCurrentIndex(int(MetadataChoice::DropLocation));
    m_metadata->setAccessibleName(ja("メタデータ"));
    m_metadata->setToolTip(ja("撮影情報・著作権などのメタデータのうち、出力に残すもの"));
    m_metadata->setFixedHeight(editHeight);
    QLabel *metadataLabel = label("メタデータ", "Label16", this);
    metadataLabel->setBuddy(m_metadata);
    row({metadataLabel, m_metadata});

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

void SettingsPanel::connectOptions(const std::array<QRadioButton *, 2> &buttons, int column, QStringView first,
                                   QStringView second)
{
    // toggled(true) takes a choice made with the keyboard's arrows as well as a
    // click; the sync's own selections are made with the signals blocked. A click on
    // the button that is already selected raises no toggle, yet the user means it:
    // the panel may show a choice that the row does not hold (a first showing leaves
    // the panel as it was). Whether the button was selected is read when it is
    // pressed, before a click changes it.
    auto *group = new QButtonGroup(this);
    for (int i = 0; i < 2; ++i) {
        QRadioButton *b = buttons[i];
        group->addButton(b, i);
        const QString text = (i == 0 ? first : second).toString();
        connect(b, &QRadioButton::toggled, this, [this, column, text](bool on) {
            if (on)
                emit settingPicked(column, text, true);
        });
        connect(b, &QRadioButton::pressed, b, [b] { b->setProperty("selectedWhenPressed", b->isChecked()); });
        connect(b, &QRadioButton::clicked, this, [this, b, column, text] {
            if (b->property("selectedWhenPressed").toBool())
                emit settingPicked(column, text, true);
        });
    }
}

namespace {
constexpr int kStartLevel = 50;
QString startCaption() { return ja("5 ( 標準 )"); }
} // namespace

void SettingsPanel::saveTo(QSettings &s) const
{
    s.beginGroup(QStringLiteral("panel"));
    s.setValue(QStringLiteral("keepAspect"), m_fit[0]->isChecked());
    s.setValue(QStringLiteral("backColor"), m_back->colorValue());
    s.setValue(QStringLiteral("topLeft"), m_position[0]->isChecked());
    s.setValue(QStringLiteral("rotation"), m_turn->currentText());
    s.setValue(QStringLiteral("level"), m_level->value());
    s.setValue(QStringLiteral("sameFolder"), m_saveWhere[0]->isChecked());
    s.setValue(QStringLiteral("saveFolder"), m_saveText->text());
    s.setValue(QStringLiteral("sizeMode"), int(m_rule.mode));
    s.setValue(QStringLiteral("longEdge"), m_rule.longEdge);
    s.setValue(QStringLiteral("percent"), m_rule.percent);
    s.setValue(QStringLiteral("shrinkOnly"), m_rule.shrinkOnly);
    s.setValue(QStringLiteral("completePreview"), m_complete->isChecked());
    s.setValue(QStringLiteral("metadata"), metadataText(MetadataChoice(m_metadata->currentIndex())).toString());
    s.endGroup();
}

void SettingsPanel::restoreFrom(const QSettings &s)
{
    applyState([&s](const char *key, const QVariant &fallback) {
        return s.value(QStringLiteral("panel/") + QLatin1String(key), fallback);
    });
}

void SettingsPanel::resetToStartUp()
{
    applyState([](const char *, const QVariant &fallback) { return fallback; });
}

void SettingsPanel::applyState(const std::function<QVariant(const char *, const QVariant &)> &value)
{
    // Nothing here is the user's choice of the moment: no signal goes out.
    const QSignalBlocker blocks[] = {QSignalBlocker(m_fit[0]),      QSignalBlocker(m_fit[1]),
                                     QSignalBlocker(m_position[0]), QSignalBlocker(m_position[1]),
                                     QSignalBlocker(m_turn),        QSignalBlocker(m_level),
                                     QSignalBlocker(m_complete)};
    m_fit[value("keepAspect", true).toBool() ? 0 : 1]->setChecked(true);
    m_back->setColorValue(value("backColor", kWindowBackgroundRef).toInt());
    m_position[value("topLeft", true).toBool() ? 0 : 1]->setChecked(true);
    const QString rotation = value("rotation", QString()).toString();
    m_turn->setCurrentIndex(int(std::find(kTurnItems.begin(), kTurnItems.end(), rotation) - kTurnItems.begin()));
    if (m_turn->currentIndex() >= int(kTurnItems.size()))
        m_turn->setCurrentIndex(-1);
    m_turn->setEditText(rotation);
    const int level = std::clamp(value("level", kStartLevel).toInt(), 0, 100);
    m_level->setValue(level);
    const QString caption = levelCaption(level);
    m_levelCaption->setText(level == kStartLevel || caption.isNull() ? startCaption() : caption);
    m_saveWhere[value("sameFolder", true).toBool() ? 0 : 1]->setChecked(true);
    m_saveText->setText(value("saveFolder", QString()).toString());
    SizeRule rule;
    rule.mode = SizeRule::Mode(std::clamp(value("sizeMode", 0).toInt(), 0, 2));
    rule.longEdge = std::clamp(value("longEdge", rule.longEdge).toInt(), 1, kMaxPictureSide);
    rule.percent = std::clamp(value("percent", rule.percent).toInt(), 1, 1000);
    rule.shrinkOnly = value("shrinkOnly", false).toBool();
    showSizeRule(rule);
    m_complete->setChecked(value("completePreview", false).toBool());
    m_metadata->setCurrentIndex(int(metadataChoiceOf(value("metadata", QString()).toString())));
}

SizeRule SettingsPanel::sizeRule() const
{
    SizeRule rule = m_rule;
    rule.exact = m_shownSize;
    return rule;
}

void SettingsPanel::setSizeRule(const SizeRule &rule) { showSizeRule(rule); }

void SettingsPanel::showSizeRule(const SizeRule &rule)
{
    m_rule = rule;
    const QSignalBlocker blockMode(m_sizeMode), blockValue(m_sizeValue), blockShrink(m_shrinkOnly);
    m_sizeMode->setCurrentIndex(int(rule.mode));
    m_shrinkOnly->setChecked(rule.shrinkOnly);
    m_sizeValue->setVisible(rule.mode != SizeRule::Exact);
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
}

void SettingsPanel::takeSizeRule()
{
    SizeRule rule = m_rule;
    rule.mode = SizeRule::Mode(m_sizeMode->currentIndex());
    rule.shrinkOnly = m_shrinkOnly->isChecked();
    // The value belongs to the mode it was typed for; switching modes shows the
    // other mode's own value.
    if (rule.mode == m_rule.mode && rule.mode == SizeRule::LongEdge)
        rule.longEdge = m_sizeValue->value();
    else if (rule.mode == m_rule.mode && rule.mode == SizeRule::Percent)
        rule.percent = m_sizeValue->value();
    showSizeRule(rule);
    emit sizeRulePicked(sizeRule());
}

DropPanelValues SettingsPanel::values() const
{
    DropPanelValues v;
    v.sizeRule = sizeRule();
    v.metadata = MetadataChoice(m_metadata->currentIndex());
    v.keepAspect = m_fit[0]->isChecked();
    v.backColor = m_back->colorValue();
    v.topLeft = m_position[0]->isChecked();
    v.rotation = turnText();
    v.sameFolder = m_saveWhere[0]->isChecked();
    v.saveFolderText = m_saveText->text();
    v.compressValue = m_level->value();
    return v;
}

bool SettingsPanel::completePreview() const { return m_complete->isChecked(); }

QString SettingsPanel::turnText() const
{
    // A list item's text stands for the item's cell text (なし for " "); anything
    // typed goes into the row verbatim.
    const QString shown = m_turn->currentText();
    const int item = m_turn->findText(shown, Qt::MatchExactly | Qt::MatchCaseSensitive);
    return item >= 0 ? m_turn->itemData(item).toString() : shown;
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

void SettingsPanel::showPictureSettings(const JobRow &job)
{
    // Shown, not chosen: the signals that carry a user's choice into the row stay
    // silent, so looking at a row never rewrites it.
    const QSignalBlocker turn(m_turn);
    for (int i = 0; i < int(kTurnItems.size()); ++i) {
        // An empty text shows the "no turn" item; a text outside the list leaves
        // the box as it is.
        if (job.rotation == kTurnItems[i] || (job.rotation.isEmpty() && kTurnItems[i] == celltext::NoTurn))
            m_turn->setCurrentIndex(i);
    }
    const auto select = [](QRadioButton *button) {
        const QSignalBlocker blocker(button);
        button->setChecked(true);
    };
    select(m_fit[job.keepsAspect() ? 0 : 1]);
    m_metadata->setCurrentIndex(int(job.metadata));
    if (job.position == celltext::Top)
        select(m_position[0]);
    else if (job.position == celltext::Center)
        select(m_position[1]);
}

void SettingsPanel::showColorAndLevel(std::int32_t color, int levelScroll)
{
    m_back->setColorValue(color);
    {
        // A row's 5.5 shows as 50 and stays 5.5: the bar's own change is the user's.
        const QSignalBlocker blocker(m_level);
        m_level->setValue(levelScroll);
    }
    showLevelCaption(m_level->value());
}

void SettingsPanel::showSize(QSize pixels)
{
    m_shownSize = pixels;
    // A field the user is typing in keeps the text until it is left.
    for (auto [field, value] : {std::pair{m_width, pixels.width()}, std::pair{m_height, pixels.height()}}) {
        if (!(field->hasFocus() && field->isModified()))
            field->setText(QString::number(value));
    }
}

void SettingsPanel::revertSize()
{
    m_width->setModified(false);
    m_height->setModified(false);
    showSize(m_shownSize);
}

QString SettingsPanel::saveText() const { return m_saveText->text(); }

void SettingsPanel::setSaveText(const QString &folder) { m_saveText->setText(folder); }

QString SettingsPanel::levelCaption(int scrollValue)
{
    static const std::array<const char *, 11> captions{
        "0 : 最高画質+", "1 : 最高画質", "2 : 高画質+", "3 : 高画質",   "4 : 標準画質+",  "5 : 標準画質",
        "6 : 標準画質-", "7 : 低画質",   "8 : 低画質-", "9 : 最低画質", "10 : 最低画質-",
    };
    if (scrollValue < 0 || scrollValue > 100 || scrollValue % 10 != 0)
        return {};
    return ja(captions[std::size_t(scrollValue / 10)]);
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

void SettingsPanel::pickColor()
{
    const QColor chosen = Prompts::chooseColor(this);
    // Qt reports a cancel as an invalid colour; taking it would write a colour
    // nobody chose, so a cancel leaves swatch, row and preview as they are.
    if (!chosen.isValid())
        return;
    m_back->setColorValue(colorValueFromRgb(chosen));
    emit settingPicked(ColBackColor, QString::number(m_back->colorValue()), true);
}

void SettingsPanel::levelChanged(int value)
{
    showLevelCaption(value);
    emit settingPicked(ColCompression, shortestDecimal(value / 10.0), false);
}

void SettingsPanel::showLevelCaption(int value)
{
    const QString caption = levelCaption(value);
    if (!caption.isNull())
        m_levelCaption->setText(caption);
}

void SettingsPanel::sizeEntered()
{
    if (!m_width->isModified() && !m_height->isModified())
        return; // left without a change: the fields show the row's size already
    const auto w = typedSide(m_width->text());
    const auto h = typedSide(m_height->text());
    if (!w || !h) {
        // The fields go back to the row's size, and say why.
        QLineEdit *wrong = w ? m_height : m_width;
        revertSize();
        const QString why = ja("サイズは 1〜%1 の整数で入力してください").arg(kMaxPictureSide);
        wrong->setToolTip(why);
        QToolTip::showText(wrong->mapToGlobal(QPoint(0, wrong->height())), why, wrong);
        return;
    }
    m_width->setToolTip({});
    m_height->setToolTip({});
    m_width->setModified(false);
    m_height->setModified(false);
    const QSize typed(*w, *h);
    if (typed == m_shownSize) {
        showSize(typed); // the same size in its plain form: nothing to write
        return;
    }
    // In plain digits at once; the row, once written, shows itself through showSize.
    m_width->setText(QString::number(typed.width()));
    m_height->setText(QString::number(typed.height()));
    emit settingPicked(ColNewSize, sizeText(typed), true);
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

#pragma once
// The settings panel (the frame Frame1 of the main window): the current job's size,
// fit, background colour, position, turn and level, where new rows are saved, the
// complete-preview switch, and the banner.
//
// When the user changes a control the panel says so with settingPicked(); the main
// window writes the text into the current job row and, for settings that change
// the picture, runs the selection sync. The sync shows a row through the JobPanel
// calls; an option button or the level bar that they move raises the same signal
// as a user change (the row receives the same setting in the panel's text form).

#include "joblist/dropimport.h"
#include "preview/jobpanel.h"

#include <QGroupBox>
#include <QString>
#include <array>
#include <functional>
#include <optional>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QRadioButton;
class QScrollBar;
class QSettings;
class QSpinBox;
class QToolButton;

namespace kestrovia {

class ColorSwatch;

class SettingsPanel : public QGroupBox, public JobPanel {
    Q_OBJECT
public:
    explicit SettingsPanel(QWidget *parent = nullptr);
    ~SettingsPanel() override;

    // The panel as a newly dropped row takes it.
    DropPanelValues values() const;

    // JobPanel
    bool completePreview() const override;
    void showPictureSettings(const JobRow &job) override;
    void showColorAndLevel(std::int32_t color, int levelScroll) override;
    void showSize(QSize pixels) override;
    // The size fields back to the size last shown, dropping what was typed (e.g. when
    // no row is current to take a typed size).
    void revertSize();

    // How sizes are worked out of the rows' own pictures (SizeMode, SizeValue,
    // ShrinkOnly); the exact size is the one the size fields show.
    SizeRule sizeRule() const;
    // Shows rule, raising no signal.
    void setSizeRule(const SizeRule &rule);

    // The values new rows take, kept between starts (group "panel" of settings).
    // Missing or unusable keys give the start-up values; nothing is raised.
    void saveTo(QSettings &settings) const;
    void restoreFrom(const QSettings &settings);
    // The start-up values: keep aspect, window background, top-left, no turn, level
    // 5, the picture's own folder, exact sizes, complete preview off.
    void resetToStartUp();

    // SaveTxt: the folder last chosen for "場所を指定して保存", ending in "/".
    QString saveText() const;
    void setSaveText(const QString &folder);

    // The level caption for a scroll value of 0, 10, ..., 100; a null string for
    // any other value (the caption is then kept).
    static QString levelCaption(int scrollValue);
    // A typed side: a whole number 1..32767 after NFKC normalisation (full-width
    // digits and blanks from an input method count as plain ones; blanks around
    // allowed); nullopt for anything else.
    static std::optional<int> typedSide(const QString &text);

signals:
    // The user picked a setting: text for the current row's column; redraw when the
    // preview must follow (fit, position, colour, turn, size; not the level).
    void settingPicked(int column, const QString &text, bool redraw);
    // The user changed how sizes are worked out; the current row follows it.
    void sizeRulePicked(const kestrovia::SizeRule &rule);
    // 完全プレビューを表示する was checked.
    void completePreviewChecked();
    // "…" with 場所を指定して保存 selected.
    void saveFolderRequested();
    // The banner was clicked.
    void bannerClicked();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void build();
    void connectOptions(const std::array<QRadioButton *, 2> &buttons, int column, QStringView first,
                        QStringView second);
    void pickColor();
    void levelChanged(int value);
    void sizeEntered();
    void takeSizeRule();
    void showSizeRule(const SizeRule &rule);
    // Sets every value for new rows from value(key, start-up value).
    void applyState(const std::function<QVariant(const char *key, const QVariant &startUp)> &value);

    QLineEdit *m_width = nullptr;
    QLineEdit *m_height = nullptr;
    QComboBox *m_sizeMode = nullptr;
    QSpinBox *m_sizeValue = nullptr;
    QCheckBox *m_shrinkOnly = nullptr;
    SizeRule m_rule;
    std::array<QRadioButton *, 2> m_fit{};
    ColorSwatch *m_back = nullptr;
    std::array<QRadioButton *, 2> m_position{};
    QComboBox *m_turn = nullptr;
    QLabel *m_levelCaption = nullptr;
    QScrollBar *m_level = nullptr;
    std::array<QRadioButton *, 2> m_saveWhere{};
    QLineEdit *m_saveText = nullptr;
    QToolButton *m_saveFolder = nullptr;
    QCheckBox *m_complete = nullptr;
    QLabel *m_banner = nullptr;
    QSize m_shownSize{0, 0};
};

} // namespace kestrovia

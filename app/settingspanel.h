#pragma once
// The settings panel (the frame Frame1 of the main window): the presets, the size rule and the
// size, fit, background colour, position, turn, level, destination, metadata
// choice, output format, 透明を残す and name pattern of the selected rows, the
// complete-preview switch, and the banner.
//
// It shows the settings it is given (the current row's, with the fields that differ
// across the selection marked) and, when the user changes a control, says which
// field changed with settingPicked(); the main window writes that field into every
// selected row. Showing raises none of the panel's signals: showing a row never
// writes it. Its values are also what new rows take, the fields shown as differing
// taken from the current row; with no row selected the panel edits only them.
// A preset chosen sets every field at once: the panel shows it and says so with
// presetPicked().

#include "compose/rowsettings.h"
#include "preview/jobpanel.h"

#include <QGroupBox>
#include <QList>
#include <QSize>
#include <QString>
#include <array>
#include <functional>
#include <optional>

class QAction;
class QButtonGroup;
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
class PresetChooser;

class SettingsPanel : public QGroupBox, public JobPanel {
    Q_OBJECT
public:
    explicit SettingsPanel(QWidget *parent = nullptr);
    ~SettingsPanel() override;

    // The values the panel holds: those new rows take.
    RowSettings values() const { return m_values; }
    // Shows settings, the fields in mixed as differing across the selected rows
    // (an empty combo box, both options unselected, a hatched swatch, a caption
    // or field that says 複数の値) until the user sets them; size is the current
    // row's output size, for the size fields. Raises no signal; a field the user is
    // typing in keeps its text.
    void showSettings(const RowSettings &settings, const QList<RowField> &mixed = {}, QSize size = {});
    // The fields shown as differing.
    QList<RowField> mixedFields() const { return m_mixed; }

    // JobPanel
    bool completePreview() const override;

    // The values new rows take, kept between starts (the settings' own keys under
    // "row/", read from the keys of earlier releases when those are missing; the
    // panel's own under "panel/"). Missing or unusable keys give the start-up
    // values; nothing is raised.
    void saveTo(QSettings &settings) const;
    void restoreFrom(const QSettings &settings);
    // The start-up values: the picture's own size, keep aspect, window background,
    // top-left, no turn, level 5, beside the picture, without the place it was
    // taken, complete preview off.
    void resetToStartUp();

    // SaveTxt: the folder last chosen or typed for 場所を指定して保存, ending in "/".
    QString saveText() const;
    void setSaveText(const QString &folder);
    // A folder chosen (with "…"): shown in SaveTxt, 場所を指定して保存 selected, and
    // said as the Folder field.
    void takeFolder(const QString &folder);

    // What a folder typed into SaveTxt becomes: a full path ("~" is the home
    // folder) ending in "/", or the reason it is refused (a file, a relative
    // path, nothing typed). A folder that does not exist yet is taken and made at
    // the run; createdAtRun says so.
    struct TypedFolder {
        QString folder;
        QString refusal;
        bool createdAtRun = false;
    };
    static TypedFolder typedFolder(const QString &text);

    // The level caption for a scroll value of 0, 10, ..., 100, as the level means
    // it to format (WebP's level 0 is lossless, PNG's levels are lossless and buy
    // compression effort); a null string for any other value (the caption is then
    // kept).
    static QString levelCaption(int scrollValue, OutputFormat format = OutputFormat::Jpeg);
    // A typed side: a whole number 1..32767 after NFKC normalisation (full-width
    // digits and blanks from an input method count as plain ones; blanks around
    // allowed); nullopt for anything else.
    static std::optional<int> typedSide(const QString &text);

signals:
    // The user set field; settings holds it (and every other value of the panel).
    void settingPicked(kestrovia::RowField field, const kestrovia::RowSettings &settings);
    // The user chose a preset: every field is set to settings (as the panel now shows).
    void presetPicked(const kestrovia::RowSettings &settings);
    // 完全プレビューを表示する was checked.
    void completePreviewChecked();
    // "…", or 場所を指定して保存 with no folder to take yet: the folder chooser.
    void saveFolderRequested();
    // The banner was clicked.
    void bannerClicked();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void build();
    // The user set field to the value it now has in m_values.
    void pick(RowField field);
    void applyPreset(const RowSettings &settings);
    void connectOptions(QButtonGroup *group, RowField field, const std::function<void(bool first)> &set);
    void pickColor();
    void levelChanged(int value);
    void showLevelCaption(int value);
    void sizeEntered();
    void sizeModePicked(int index);
    void sizeValuePicked(int value);
    void folderEntered();
    void patternEntered();
    void showFormat();
    void showPattern();
    void saveWherePicked(int index);
    void showSizeRule();
    void showSizeFields();
    void showFolder();
    bool mixed(RowField field) const { return m_mixed.contains(field); }
    void showWarningColor();
    void sayWhy(QLineEdit *field, const QString &why);

    RowSettings m_values;
    QList<RowField> m_mixed;
    QSize m_shownSize{0, 0}; // the current row's output size
    QString m_lastFolder; // SaveTxt's folder: the one chosen or typed last
    PresetChooser *m_presets = nullptr;
    QLineEdit *m_width = nullptr;
    QLineEdit *m_height = nullptr;
    QComboBox *m_sizeMode = nullptr;
    QSpinBox *m_sizeValue = nullptr;
    QCheckBox *m_shrinkOnly = nullptr;
    std::array<QRadioButton *, 2> m_fit{};
    QButtonGroup *m_fitGroup = nullptr;
    ColorSwatch *m_back = nullptr;
    std::array<QRadioButton *, 2> m_position{};
    QButtonGroup *m_positionGroup = nullptr;
    QComboBox *m_turn = nullptr;
    QLabel *m_levelCaption = nullptr;
    QScrollBar *m_level = nullptr;
    std::array<QRadioButton *, 2> m_saveWhere{};
    QButtonGroup *m_saveGroup = nullptr;
    QLineEdit *m_saveText = nullptr;
    QAction *m_willBeCreated = nullptr;
    QToolButton *m_saveFolder = nullptr;
    QCheckBox *m_complete = nullptr;
    QComboBox *m_metadata = nullptr;
    QLabel *m_levelTitle = nullptr;
    QComboBox *m_format = nullptr;
    QCheckBox *m_keepTransparency = nullptr;
    QLineEdit *m_pattern = nullptr;
    QLabel *m_banner = nullptr;
    QLabel *m_warning = nullptr;
};

} // namespace kestrovia

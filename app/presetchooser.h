#pragma once
// The presets in the settings panel: a combo box of the shipped presets and the
// user's, where choosing one applies it, and a menu beside it (…) that saves the
// panel's values as a preset, renames, deletes, writes out and reads in one. Every
// question and file dialog goes through Prompts.
//
// The combo box names the preset whose settings are the panel's values, and shows
// 「—」 once they are no preset's: a control set to another value, or selected rows
// that differ.

#include "compose/presets.h"

#include <QList>
#include <QString>
#include <QWidget>

#include <functional>
#include <optional>

class QAction;
class QComboBox;
class QMenu;
class QToolButton;

namespace kestrovia {

class PresetChooser : public QWidget {
    Q_OBJECT
public:
    // Presets are kept in folder (the user's settings folder in the program).
    explicit PresetChooser(QWidget *parent = nullptr, const QString &folder = presetsFolder());

    // The panel's values, and whether some of them differ across the selected rows.
    void showValues(const RowSettings &values, bool mixed);
    // The preset the combo box names; empty for 「—」.
    QString shownName() const;
    // The presets offered, read from the folder again.
    void reload();

signals:
    // The user chose a preset: its settings.
    void presetChosen(const kestrovia::RowSettings &settings);

private:
    void chosen(int index);
    void openMenu();
    void save();
    void rename();
    void remove();
    void writeOut();
    void readIn();
    std::optional<Preset> shownPreset() const;
    std::optional<Preset> presetNamed(const QString &name) const;
    // The shipped preset of that name, changed by the user (a file stands for it).
    bool changedShipped(const QString &name) const;
    // Asks before a preset of name is replaced; true when there is none, or to replace it.
    bool mayReplace(const QString &name, const QString &title);
    void showFailure(const QString &title, const QString &why);
    // Runs change; a Failure it throws is shown under title. Whether it ran through.
    bool succeeded(const QString &title, const std::function<void()> &change);
    void showMatch();

    QString m_folder;
    QList<Preset> m_presets;
    RowSettings m_values;
    bool m_mixed = false;
    QString m_chosen; // the name last chosen or saved: shown while it still matches
    QComboBox *m_combo;
    QToolButton *m_button;
    QMenu *m_menu;
    QAction *m_rename;
    QAction *m_remove;
    QAction *m_writeOut;
};

} // namespace kestrovia

#pragma once
// The settings panel's handlers: each control writes its setting into the
// current job row (the grid's Row) as text, and the settings that change the
// picture then run the selection sync. Highlighted rows other than the current
// one are never written, nor is the header row; with no job row a handler
// changes the panel alone.
//
// The selection sync sets the panel's controls from the row; an option button
// that becomes selected, or a scroll value that changes, raises the same
// handler as a user change would. The handler writes the same setting back and
// asks for a sync, which the running sync absorbs, so the end state is that of
// one run.

#include <QColor>
#include <QObject>
#include <QString>
#include <functional>
#include <optional>

class QWidget;

namespace kestrovia {

class Form1;

class SettingsPanel : public QObject {
    Q_OBJECT
public:
    // Asks the user for a background colour. Returns an invalid QColor when
    // the user cancelled.
    using ColorChooser = std::function<QColor(QWidget *parent)>;

    // Connects the panel's controls of form; form owns the panel.
    explicit SettingsPanel(Form1 *form);

    // The level caption for a scroll value of 0, 10, ..., 100; a null string
    // for any other value (the caption is then kept).
    static QString levelCaption(int scrollValue);

    // Seam for tests: replaces the modal colour dialog; {} restores it.
    static void setColorChooser(ColorChooser chooser);

    // AspCheck(index) became selected: writes "OFF" (0, keep the aspect ratio)
    // or "ON" (1, stretch) into ColFit, then runs the selection sync.
    void AspCheck_Click(int index);
    // PicPos(index) became selected: writes "Top" (0) or "Center" (1) into
    // ColPosition, then runs the selection sync.
    void PicPos_Click(int index);
    // Opens the colour chooser. A chosen colour goes into the swatch and, as
    // the signed decimal text of its 0x00BBGGRR value, into ColBackColor; then
    // the selection sync runs. Cancelling changes nothing and runs no sync.
    void PicBack_Click();
    // An item was chosen from RollValue's list: writes its text into
    // ColRotation, then runs the selection sync. Typing raises nothing.
    void RollValue_Click();
    // Runs the selection sync when PreCheck is now checked; unchecking does
    // nothing until the next sync.
    void PreCheck_Click();
    // CompressLevel's value v changed: CompLabel shows the caption of a
    // multiple of 10 and keeps its text otherwise; ColCompression receives
    // v / 10 in its shortest decimal form (3.7, 5, 10). No sync: the level
    // does not change the preview.
    void CompressLevel_Change();
    // "…": with "場所を指定して保存" selected and a job row current, shows the
    // folder chooser at the row's ColSaveFolder and afterwards copies SaveTxt
    // into ColSaveFolder of the row then current. Nothing is shown when the
    // row's folder cannot be listed. An empty SaveTxt (cancelled before any
    // folder was chosen) leaves the row's folder as it was.
    void SaveFolder_Click();
    // Enter in TxtWidth or TxtHeight: the two numbers shown become the current
    // row's ColNewSize and the selection sync runs, as resizing the preview does.
    // Text that is not a whole number from 1 to 32767 in plain digits changes
    // nothing: both fields show the preview's size again and a tooltip says why.
    void TxtSize_Enter();

    // A typed side: a whole number 1..32767 in ASCII digits (blanks around
    // allowed); nullopt for anything else.
    static std::optional<int> typedSide(const QString &text);

private:
    // The current row when it is a job row, else 0.
    int currentJobRow() const;
    // Writes text into column col of the current job row; nothing without one.
    void writeCurrent(int col, const QString &text);
    void runSync();

    Form1 *m_form;
};

} // namespace kestrovia

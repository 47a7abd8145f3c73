#pragma once
// The job list's gestures: Delete, the popup menu and its commands, double-click,
// and the banner click that opens the About dialog.
//
// Every command acts on the current row (JobTable::Row()) or on all job rows,
// never on a selected block, and none of them refreshes the settings panel or
// the preview itself.

#include <QObject>
#include <functional>

class QMenu;
class QPoint;

namespace kestrovia {

class Form1;

class RowCommands : public QObject {
    Q_OBJECT
public:
    // Opens the menu as a popup at a global position in pixels and returns once
    // it is closed, after any chosen action has run.
    using PopupRunner = std::function<void(QMenu *, const QPoint &)>;

    // Connects the grid's KeyDown, MouseDown and DblClick, the popup menu's
    // commands and Image1_Click of the given main window.
    explicit RowCommands(Form1 *form);

    // Seam for tests; an empty function restores QMenu::exec(pos).
    static void setPopupRunner(PopupRunner runner);

    // Delete (any modifiers) removes the current job row; other keys do nothing.
    // No confirmation; nothing happens while no job row is current.
    void PicsGalary_KeyDown(int key, Qt::KeyboardModifiers modifiers);
    // The right button opens SameAll at globalPos (pixels) without moving the
    // current row; other buttons do nothing here.
    void PicsGalary_MouseDown(Qt::MouseButtons buttons, const QPoint &globalPos);
    // Brings the preview window on screen, modeless; it is not redrawn.
    void PicsGalary_DblClick();

    // Writes the current row's text of column col, unchanged, into that column
    // of every job row. Nothing happens while no job row is current.
    void copyColumnToAll(int col);
    // copyColumnToAll for the columns from ColNewSize to the last one; the
    // name, original size, path and arrow columns are never copied.
    void SameAllItem_Click();
    // index 0 ascending, 1 descending by file name, from the current row down to
    // the last row (every job row when the current row is the first or the last);
    // then the block from the current row to the last row is highlighted. Equal
    // names keep their previous order. Other indexes do nothing.
    void SortFile_Click(int index);

    void Image1_Click();

private:
    Form1 *m_form;
};

} // namespace kestrovia

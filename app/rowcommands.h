#pragma once
// The job list's gestures: Delete, the popup menu SameAll with its copy, sort and
// remove commands, Ctrl+Z for the rows removed last, and the double-click that
// shows the preview window.
//
// Every command acts on the current row (JobTable::Row()) or on all job rows, never
// on a selected block, and none of them refreshes the settings panel or the preview.

#include "compose/sizerule.h"

#include <QList>
#include <QObject>
#include <QStringList>

#include <functional>

class QAction;
class QMenu;
class QPoint;

namespace kestrovia {

class Form2;
class JobListView;
class JobTable;

class RowCommands : public QObject {
    Q_OBJECT
public:
    // Builds the popup menu (parented to menuParent) and connects grid's KeyDown,
    // MouseDown and DblClick.
    RowCommands(JobTable *table, JobListView *grid, Form2 *preview, QWidget *menuParent);

    // The root of the popup menu; its entries carry their names as objectName.
    QMenu *menu() const { return m_menu; }

    // Delete (any modifiers) removes the current job row; other keys do nothing.
    // No confirmation (undoRemove puts it back); nothing happens while no job row
    // is current.
    void PicsGalary_KeyDown(int key, Qt::KeyboardModifiers modifiers);
    // 「すべての行を削除」: asks first (削除 / キャンセル, Escape cancels), then removes
    // every job row. Nothing happens while the table holds no job row.
    void DeleteAll_Click();
    // Ctrl+Z (the action UndoRemove, also in the popup menu, active in the whole
    // window while the grid takes input): puts back the rows that the last Delete
    // or 「すべての行を削除」 removed, at their old row numbers with their cells
    // unchanged, and makes current the row that was current then. Once: a second
    // Ctrl+Z does nothing, and a new removal replaces what it puts back.
    void undoRemove();
    // The right button opens SameAll at globalPos (pixels) without moving the
    // current row; other buttons do nothing here.
    void PicsGalary_MouseDown(Qt::MouseButtons buttons, const QPoint &globalPos);
    // Brings the preview window on screen, modeless; it is not redrawn.
    void PicsGalary_DblClick();

    // Writes the current row's text of column col, unchanged, into that column of
    // every job row. Nothing happens while no job row is current. For ColNewSize the
    // panel's size rule (setSizeRule) decides: a long edge or a percentage is worked
    // out of every row's own picture, and shrink-only keeps a smaller picture at its
    // own size; the exact size is copied as it is otherwise.
    void copyColumnToAll(int col);
    void setSizeRule(std::function<SizeRule()> rule) { m_sizeRule = std::move(rule); }
    // copyColumnToAll for the columns from ColNewSize to the last one and the
    // metadata choice; the name, original size, path and arrow columns are never
    // copied.
    void SameAllItem_Click();
    // index 0 ascending, 1 descending by file name, from the current row down to
    // the last row (every job row when the current row is the first or the last);
    // then the block from the current row to the last row is highlighted. Equal
    // names keep their previous order. Other indexes do nothing.
    void SortFile_Click(int index);

private:
    void buildMenu(QWidget *parent);
    // Keeps rows first.. (grid numbers, as many as cells holds) for undoRemove.
    void keepRemoved(int first, const QList<QStringList> &cells);

    JobTable *m_table;
    Form2 *m_preview;
    QMenu *m_menu = nullptr;
    std::function<SizeRule()> m_sizeRule;
    QAction *m_undo = nullptr;
    struct Removed {
        int first = 0; // the grid number of the first removed row
        QList<QStringList> rows;
        int current = 0; // the current row before the removal
    } m_removed;
};

} // namespace kestrovia

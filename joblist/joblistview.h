#pragma once
// The grid PicsGalary: the job table shown as whole-row-selecting rows under a
// header row. It turns the raw input gestures into the grid's five events; what
// each event does is decided by the handlers connected to them.

#include "platform/units.h"

#include <QTableView>

class QMimeData;

namespace kestrovia {

class JobTable;

class JobListView : public QTableView {
    Q_OBJECT
public:
    explicit JobListView(JobTable *table, QWidget *parent = nullptr);

    JobTable *table() const { return m_table; }

    // Font of the grid: "ＭＳ Ｐゴシック" 9 pt where installed, else the closest
    // installed Japanese Gothic.
    static QFont gridFont();

signals:
    // Files (or anything else) dropped on the grid; only the drop decides what is taken.
    void OLEDragDrop(const QMimeData *data);
    void KeyDown(int key, Qt::KeyboardModifiers modifiers);
    // Any mouse button pressed anywhere on the grid, the header included.
    void MouseDown(Qt::MouseButtons buttons, const QPoint &globalPos);
    void DblClick();
    // The Menu key or Shift+F10: the popup menu, opened at the current row (the
    // grid's top without one), a global position in pixels.
    void MenuKey(const QPoint &globalPos);

protected:
    void focusInEvent(QFocusEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dropEvent(QDropEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void applyColWidth(int col, int twips);

    JobTable *m_table;
};

} // namespace kestrovia

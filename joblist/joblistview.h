#pragma once
// The grid PicsGalary: the job table shown as rows under a header row, the
// selected rows highlighted whole. It turns the raw input gestures into the grid's
// five events; what each event does is decided by the handlers connected to them.

#include "platform/units.h"

#include <QTableView>

#include <optional>

class QMimeData;

namespace kestrovia {

class JobDelegate;
class JobTable;

class JobListView : public QTableView {
    Q_OBJECT
public:
    explicit JobListView(JobTable *table, QWidget *parent = nullptr);

    JobTable *table() const { return m_table; }

    // Font of the grid: "ＭＳ Ｐゴシック" 9 pt where installed, else the closest
    // installed Japanese Gothic.
    static QFont gridFont();

    // The columns' widths and which of them the user dragged, for the next start
    // (the caller keeps the bytes, e.g. in QSettings). restoreHeaderState takes what
    // headerState gave; for anything else it returns false and changes nothing.
    QByteArray headerState() const;
    bool restoreHeaderState(const QByteArray &state);
    // Every column back to the table's width (widened to its content), none of them
    // the user's any more.
    void resetColumnWidths();

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
    // A width the table sets (twips), widened where it would cut the column's
    // typical content.
    void applyColWidth(int col, int twips);
    // The width that shows the header and the column's typical values whole, in
    // pixels; 0 for the arrow and the reserved columns, which keep their widths.
    int typicalWidth(int col) const;
    // Widens the columns the user has not dragged to show these rows' cells whole
    // (up to a limit for the long texts of names and paths), once the event loop
    // is reached: a drop appends its rows one by one.
    void fitRowsLater(int first, int last, int firstCol, int lastCol);
    void fitRows(int first, int last, int firstCol, int lastCol);
    void setWidth(int col, int pixels);

    JobTable *m_table;
    JobDelegate *m_delegate;
    QList<bool> m_userWidth; // columns whose width the user dragged
    int m_settingWidth = 0; // > 0 while the view sets a width itself
    struct Range {
        int first, last, firstCol, lastCol;
    };
    std::optional<Range> m_toFit; // rows and columns that fitRowsLater will measure
};

} // namespace kestrovia

#include "app/rowcommands.h"

#include "app/prompts.h"
#include "joblist/dropimport.h"
#include "joblist/jobcolumns.h"
#include "joblist/joblistview.h"
#include "joblist/jobtable.h"
#include "platform/failure.h"
#include "platform/japanese.h"
#include "preview/form2.h"

#include <QAction>
#include <QKeySequence>
#include <QMenu>

#include <utility>

namespace kestrovia {

namespace {

std::optional<QSize> canvasSizeOrNothing(const QString &text)
{
    try {
        return canvasPixelSize(text);
    } catch (const Failure &) {
        return std::nullopt;
    }
}

} // namespace

RowCommands::RowCommands(JobTable *table, JobListView *grid, Form2 *preview, QWidget *menuParent)
    : QObject(menuParent)
    , m_table(table)
    , m_preview(preview)
{
    buildMenu(menuParent);
    // On the grid: the shortcut acts in the whole window, but only while the grid
    // takes input (not during a batch run), and a text field's own Ctrl+Z comes first.
    grid->addAction(m_undo);
    connect(grid, &JobListView::KeyDown, this, &RowCommands::PicsGalary_KeyDown);
    connect(grid, &JobListView::MouseDown, this, &RowCommands::PicsGalary_MouseDown);
    connect(grid, &JobListView::DblClick, this, &RowCommands::PicsGalary_DblClick);
    connect(grid, &JobListView::MenuKey, this, [this](const QPoint &at) { Prompts::popup(m_menu, at); });
}

void RowCommands::buildMenu(QWidget *parent)
{
    const auto named = [](QAction *a, const char *name) {
        a->setObjectName(QString::fromLatin1(name));
        return a;
    };
    const auto submenu = [named](QMenu *in, const char *text, const char *name) {
        QMenu *m = in->addMenu(ja(text));
        m->setObjectName(QString::fromLatin1(name));
        named(m->menuAction(), name);
        return m;
    };
    m_menu = new QMenu(ja("編集"), parent);
    m_menu->setObjectName(QStringLiteral("SameAll"));
    named(m_menu->menuAction(), "SameAll");
    // The root only serves as the popup: there is no menu bar to show it in.
    m_menu->menuAction()->setVisible(false);

    QMenu *same = submenu(m_menu, "項目の一致", "SameA");
    connect(named(same->addAction(ja("全項目")), "SameAllItem"), &QAction::triggered, this,
            &RowCommands::SameAllItem_Click);
    const struct {
        const char *text;
        const char *name;
        int column;
    } copies[] = {
        {"サイズ", "SameSizeAll", ColNewSize},      {"フィット", "SameFitAll", ColFit},
        {"背景色", "SameColorAll", ColBackColor},   {"位置", "SamePosAll", ColPosition},
        {"回転", "SameRollAll", ColRotation},       {"JPG圧縮", "SameJPGAll", ColCompression},
        {"保存先", "SameFolderAll", ColSaveFolder}, {"メタデータ", "SameMetaAll", ColMetadata},
    };
    for (const auto &c : copies) {
        QAction *a = named(same->addAction(ja(c.text)), c.name);
        connect(a, &QAction::triggered, this, [this, col = c.column] { copyColumnToAll(col); });
    }

    QMenu *sort = submenu(m_menu, "ソート", "SortMnu");
    QMenu *byName = submenu(sort, "ファイル名", "SortFileName");
    connect(named(byName->addAction(ja("昇順")), "SortFile(0)"), &QAction::triggered, this,
            [this] { SortFile_Click(0); });
    connect(named(byName->addAction(ja("降順")), "SortFile(1)"), &QAction::triggered, this,
            [this] { SortFile_Click(1); });
    // Present in the menu tree, but without a command: not offered.
    named(sort->addAction(ja("サイズ")), "SortSize")->setVisible(false);
    named(sort->addAction(ja("新規サイズ")), "SortNewSize")->setVisible(false);
    named(sort->addAction(ja("JPG圧縮")), "SortJPG")->setVisible(false);

    m_menu->addSeparator();
    connect(named(m_menu->addAction(ja("すべての行を削除")), "DeleteAll"), &QAction::triggered, this,
            &RowCommands::DeleteAll_Click);
    m_undo = named(m_menu->addAction(ja("削除した行を元に戻す")), "UndoRemove");
    m_undo->setShortcut(QKeySequence::Undo);
    m_undo->setShortcutContext(Qt::WindowShortcut);
    m_undo->setEnabled(false);
    connect(m_undo, &QAction::triggered, this, &RowCommands::undoRemove);
}

void RowCommands::keepRemoved(int first, const QList<QStringList> &cells)
{
    m_removed = {first, cells, m_table->Row()};
    m_undo->setEnabled(!cells.isEmpty());
}

void RowCommands::PicsGalary_KeyDown(int key, Qt::KeyboardModifiers)
{
    if (key != Qt::Key_Delete)
        return;
    // Row() is 0 while no job row is current; the header row is never removed.
    if (m_table->Rows() - 1 == 0 || m_table->Row() == 0)
        return;
    keepRemoved(m_table->Row(), {m_table->rowCells(m_table->Row())});
    m_table->RemoveItem(m_table->Row());
}

void RowCommands::DeleteAll_Click()
{
    const int count = m_table->Rows() - 1;
    if (count == 0)
        return;
    Prompts::Message question;
    question.icon = Prompts::Question;
    question.title = ja("すべての行を削除");
    question.text = ja("すべての行を削除しますか？");
    question.informative = ja("%1 行を一覧から削除します。Ctrl+Z で元に戻せます。").arg(count);
    if (Prompts::ask(m_menu->parentWidget(), question, {Prompts::Delete, Prompts::Cancel}, Prompts::Cancel,
                     Prompts::Cancel)
        != Prompts::Delete)
        return;
    QList<QStringList> cells;
    cells.reserve(count);
    for (int r = 1; r < m_table->Rows(); ++r)
        cells.append(m_table->rowCells(r));
    keepRemoved(1, cells);
    m_table->setRows(1);
}

void RowCommands::undoRemove()
{
    if (m_removed.rows.isEmpty())
        return;
    const Removed removed = std::exchange(m_removed, {});
    m_undo->setEnabled(false);
    m_table->insertRowCells(removed.first, removed.rows);
    // Rows added since may have moved the old numbers; the restored rows are where
    // the table put them.
    const int first = std::min(removed.first, m_table->Rows() - int(removed.rows.size()));
    const int current = removed.current >= removed.first && removed.current < removed.first + removed.rows.size()
                            ? first + (removed.current - removed.first)
                            : first;
    m_table->setRow(current);
}

void RowCommands::PicsGalary_MouseDown(Qt::MouseButtons buttons, const QPoint &globalPos)
{
    if (buttons & Qt::RightButton)
        Prompts::popup(m_menu, globalPos);
}

void RowCommands::PicsGalary_DblClick()
{
    // A minimised preview would be "shown" without coming on screen.
    if (m_preview->isMinimized())
        m_preview->setWindowState(m_preview->windowState() & ~Qt::WindowMinimized);
    m_preview->show();
    m_preview->raise();
    m_preview->activateWindow();
}

void RowCommands::copyColumnToAll(int col)
{
    const int source = m_table->Row();
    if (source == 0)
        return;
    // Read once: the current row is overwritten with its own value on the way.
    const QString text = m_table->TextMatrix(source, col);
    SizeRule rule = m_sizeRule ? m_sizeRule() : SizeRule();
    const bool ruled = col == ColNewSize && (rule.mode != SizeRule::Exact || rule.shrinkOnly);
    if (ruled && rule.mode == SizeRule::Exact) {
        const auto exact = canvasSizeOrNothing(text);
        if (!exact)
            rule.shrinkOnly = false; // no size to keep within: a plain copy
        rule.exact = exact.value_or(QSize());
    }
    for (int r = 1; r < m_table->Rows(); ++r) {
        if (!ruled || (rule.mode == SizeRule::Exact && !rule.shrinkOnly)) {
            m_table->setTextMatrix(r, col, text);
            continue;
        }
        // Each row's own picture decides; a row whose picture's size cannot be
        // known keeps its size, or takes the plain copy of an exact size.
        const QString own = sizeByRule(m_table->jobRow(r), rule);
        if (!own.isNull())
            m_table->setTextMatrix(r, col, own);
        else if (rule.mode == SizeRule::Exact)
            m_table->setTextMatrix(r, col, text);
    }
}

void RowCommands::SameAllItem_Click()
{
    for (int col = ColNewSize; col < m_table->Cols(); ++col)
        copyColumnToAll(col);
    copyColumnToAll(ColMetadata);
}

void RowCommands::SortFile_Click(int index)
{
    if (index != 0 && index != 1)
        return;
    // The block from the current row to the last row is what gets sorted, and it
    // stays highlighted afterwards because the sort keeps row numbers.
    m_table->setRowSel(m_table->Rows() - 1);
    m_table->setSort(index == 0 ? 1 : 2);
}

} // namespace kestrovia

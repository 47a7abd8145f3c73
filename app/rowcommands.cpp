#include "app/rowcommands.h"

#include "app/prompts.h"
#include "joblist/jobcolumns.h"
#include "joblist/joblistview.h"
#include "joblist/jobtable.h"
#include "platform/japanese.h"
#include "preview/form2.h"

#include <QAction>
#include <QKeySequence>
#include <QMenu>

#include <utility>

namespace kestrovia {

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
        QList<RowField> fields;
    } copies[] = {
        {"サイズ", "SameSizeAll", {RowField::Size, RowField::ShrinkOnly}},
        {"フィット", "SameFitAll", {RowField::Fit}},
        {"背景色", "SameColorAll", {RowField::Background}},
        {"位置", "SamePosAll", {RowField::Position}},
        {"回転", "SameRollAll", {RowField::Turn}},
        {"JPG圧縮", "SameJPGAll", {RowField::Level}},
        {"保存先", "SameFolderAll", {RowField::Folder}},
        {"メタデータ", "SameMetaAll", {RowField::Metadata}},
    };
    for (const auto &c : copies) {
        QAction *a = named(same->addAction(ja(c.text)), c.name);
        connect(a, &QAction::triggered, this, [this, fields = c.fields] { copyFields(fields); });
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

void RowCommands::keepRemoved(const QList<int> &rows)
{
    m_removed = {{}, m_table->Row()};
    for (const int r : rows)
        m_removed.rows.append({r, m_table->rowCells(r)});
    m_undo->setEnabled(!rows.isEmpty());
}

void RowCommands::PicsGalary_KeyDown(int key, Qt::KeyboardModifiers)
{
    if (key != Qt::Key_Delete)
        return;
    const QList<int> rows = m_table->selectedRows();
    if (rows.isEmpty())
        return;
    keepRemoved(rows);
    m_table->removeRows(rows);
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
    QList<int> rows;
    for (int r = 1; r < m_table->Rows(); ++r)
        rows.append(r);
    keepRemoved(rows);
    m_table->setRows(1);
}

void RowCommands::undoRemove()
{
    if (m_removed.rows.isEmpty())
        return;
    const Removed removed = std::exchange(m_removed, {});
    m_undo->setEnabled(false);
    // Ascending, each at its old number: the rows between them are back in place
    // when the next is put back.
    QList<int> back;
    int current = 0;
    for (const auto &[number, cells] : removed.rows) {
        const int at = std::min(number, m_table->Rows());
        m_table->insertRowCells(at, {cells});
        back.append(at);
        if (number == removed.current)
            current = at;
    }
    m_table->selectRows(back, current);
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

QList<int> RowCommands::copyTargets() const
{
    // A selection of several rows is what the user means to set; one selected row
    // is the source itself, so the copy goes to every row, as it always has.
    QList<int> targets = m_table->selectedRows();
    if (targets.size() < 2) {
        targets.clear();
        for (int r = 1; r < m_table->Rows(); ++r)
            targets.append(r);
    }
    return targets;
}

void RowCommands::copyFields(const QList<RowField> &fields)
{
    const int source = m_table->Row();
    if (!m_table->isJobRow(source))
        return;
    // Read once: the current row is written too, with its own values.
    const RowSettings settings = rowSettingsOf(m_table->jobRow(source));
    for (const int r : copyTargets()) {
        for (const RowField field : fields)
            m_table->setRowField(r, field, settings);
    }
}

void RowCommands::SameAllItem_Click()
{
    if (!m_table->isJobRow(m_table->Row()))
        return;
    QList<RowField> fields;
    for (const RowFieldEntry &entry : rowFields())
        fields.append(entry.field);
    copyFields(fields);
    // The reserved columns go with the settings, as they always have.
    const QList<int> targets = copyTargets();
    for (const int col : {int(ColReserved9), int(ColReserved10)}) {
        const QString text = m_table->TextMatrix(m_table->Row(), col);
        for (const int r : targets)
            m_table->setTextMatrix(r, col, text);
    }
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

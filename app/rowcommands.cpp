#include "app/rowcommands.h"

#include "app/aboutdialog.h"
#include "app/form1.h"
#include "joblist/jobcolumns.h"
#include "joblist/joblistview.h"
#include "joblist/jobtable.h"
#include "preview/form2.h"

#include <QAction>
#include <QMenu>

namespace kestrovia {

namespace {
RowCommands::PopupRunner s_popupRunner;
} // namespace

RowCommands::RowCommands(Form1 *form)
    : QObject(form)
    , m_form(form)
{
    JobListView *grid = form->PicsGalary;
    connect(grid, &JobListView::KeyDown, this, &RowCommands::PicsGalary_KeyDown);
    connect(grid, &JobListView::MouseDown, this, &RowCommands::PicsGalary_MouseDown);
    connect(grid, &JobListView::DblClick, this, &RowCommands::PicsGalary_DblClick);

    const std::pair<QAction *, int> copies[] = {
        {form->SameSizeAll, ColNewSize},    {form->SameFitAll, ColFit},       {form->SameColorAll, ColBackColor},
        {form->SamePosAll, ColPosition},    {form->SameRollAll, ColRotation}, {form->SameJPGAll, ColCompression},
        {form->SameFolderAll, ColSaveFolder},
    };
    for (const auto &[action, col] : copies)
        connect(action, &QAction::triggered, this, [this, col = col] { copyColumnToAll(col); });
    connect(form->SameAllItem, &QAction::triggered, this, &RowCommands::SameAllItem_Click);
    for (int i = 0; i < int(form->SortFile.size()); ++i)
        connect(form->SortFile[i], &QAction::triggered, this, [this, i] { SortFile_Click(i); });

    connect(form, &Form1::Image1_Click, this, &RowCommands::Image1_Click);
}

void RowCommands::setPopupRunner(PopupRunner runner) { s_popupRunner = std::move(runner); }

void RowCommands::PicsGalary_KeyDown(int key, Qt::KeyboardModifiers)
{
    if (key != Qt::Key_Delete)
        return;
    JobTable *table = m_form->table();
    // Row() is 0 while no job row is current; the header row is never removed.
    if (table->Rows() - 1 == 0 || table->Row() == 0)
        return;
    table->RemoveItem(table->Row());
}

void RowCommands::PicsGalary_MouseDown(Qt::MouseButtons buttons, const QPoint &globalPos)
{
    if (!(buttons & Qt::RightButton))
        return;
    if (s_popupRunner)
        s_popupRunner(m_form->SameAll, globalPos);
    else
        m_form->SameAll->exec(globalPos);
}

void RowCommands::PicsGalary_DblClick()
{
    Form2 *preview = m_form->form2();
    // A minimised preview would be "shown" without coming on screen.
    if (preview->isMinimized())
        preview->setWindowState(preview->windowState() & ~Qt::WindowMinimized);
    preview->show();
    preview->raise();
    preview->activateWindow();
}

void RowCommands::copyColumnToAll(int col)
{
    JobTable *table = m_form->table();
    const int source = table->Row();
    if (source == 0)
        return;
    // Read once: the current row is overwritten with its own value on the way.
    const QString text = table->TextMatrix(source, col);
    for (int r = 1; r < table->Rows(); ++r)
        table->setTextMatrix(r, col, text);
}

void RowCommands::SameAllItem_Click()
{
    for (int col = ColNewSize; col < m_form->table()->Cols(); ++col)
        copyColumnToAll(col);
}

void RowCommands::SortFile_Click(int index)
{
    if (index != 0 && index != 1)
        return;
    JobTable *table = m_form->table();
    // The block from the current row to the last row is what gets sorted, and it
    // stays highlighted afterwards because the sort keeps row numbers.
    table->setRowSel(table->Rows() - 1);
    table->setSort(index == 0 ? 1 : 2);
}

void RowCommands::Image1_Click() { AboutDialog::showModal(m_form->twipsPerPixel()); }

} // namespace kestrovia

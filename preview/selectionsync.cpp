#include "preview/selectionsync.h"

#include "app/form1.h"

namespace kestrovia {

SelectionSync::SelectionSync(Form1 *form)
    : QObject(form)
    , m_form(form)
{
}

void SelectionSync::PicsGalary_SelChange()
{
    if (m_running)
        return;
    m_running = true;
    run();
    m_running = false;
    ++m_runs;
    emit ran();
}

void SelectionSync::run() {}

void SelectionSync::Form2_Resize() {}

} // namespace kestrovia

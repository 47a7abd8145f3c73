#include "preview/selectionsync.h"

#include "app/form1.h"

namespace kestrovia {

SelectionSync::SelectionSync(Form1 *form)
    : QObject(form)
    , m_form(form)
{
}

} // namespace kestrovia

#include "batch/batchrun.h"

#include "app/form1.h"

namespace kestrovia {

BatchRun::BatchRun(Form1 *form)
    : QObject(form)
    , m_form(form)
{
}

} // namespace kestrovia

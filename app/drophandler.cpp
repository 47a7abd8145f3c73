#include "app/drophandler.h"

#include "app/form1.h"

namespace kestrovia {

DropHandler::DropHandler(Form1 *form)
    : QObject(form)
    , m_form(form)
{
}

} // namespace kestrovia

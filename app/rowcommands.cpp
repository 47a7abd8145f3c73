#include "app/rowcommands.h"

#include "app/form1.h"

namespace kestrovia {

RowCommands::RowCommands(Form1 *form)
    : QObject(form)
    , m_form(form)
{
}

} // namespace kestrovia

#include "app/settingspanel.h"

#include "app/form1.h"

namespace kestrovia {

SettingsPanel::SettingsPanel(Form1 *form)
    : QObject(form)
    , m_form(form)
{
}

} // namespace kestrovia

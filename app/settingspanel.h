#pragma once
// The settings panel's handlers: each control writes its setting into the current job row.

#include <QObject>

namespace kestrovia {

class Form1;

class SettingsPanel : public QObject {
    Q_OBJECT
public:
    explicit SettingsPanel(Form1 *form);

private:
    Form1 *m_form;
};

} // namespace kestrovia

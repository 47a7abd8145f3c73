#pragma once
// Files dropped on the job list become job rows carrying the settings panel's values.

#include <QObject>

namespace kestrovia {

class Form1;

class DropHandler : public QObject {
    Q_OBJECT
public:
    explicit DropHandler(Form1 *form);

private:
    Form1 *m_form;
};

} // namespace kestrovia

#pragma once
// The job list's gestures: Delete, the popup menu and its commands, double-click.

#include <QObject>

namespace kestrovia {

class Form1;

class RowCommands : public QObject {
    Q_OBJECT
public:
    explicit RowCommands(Form1 *form);

private:
    Form1 *m_form;
};

} // namespace kestrovia

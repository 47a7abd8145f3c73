#pragma once
// The selection sync: brings the current row into the settings panel and draws its preview.

#include <QObject>

namespace kestrovia {

class Form1;

class SelectionSync : public QObject {
    Q_OBJECT
public:
    explicit SelectionSync(Form1 *form);

private:
    Form1 *m_form;
};

} // namespace kestrovia

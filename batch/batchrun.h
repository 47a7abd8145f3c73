#pragma once
// The batch run behind BtnMain: every job row, top to bottom, into its JPEG file.

#include <QObject>

namespace kestrovia {

class Form1;

class BatchRun : public QObject {
    Q_OBJECT
public:
    explicit BatchRun(Form1 *form);

private:
    Form1 *m_form;
};

} // namespace kestrovia

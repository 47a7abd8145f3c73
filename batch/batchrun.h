#pragma once
// The batch run behind BtnMain: every job row, top to bottom, into its JPEG file.

#include <QObject>
#include <functional>

class QString;
class QWidget;

namespace kestrovia {

class Form1;

class BatchRun : public QObject {
    Q_OBJECT
public:
    explicit BatchRun(Form1 *form);

    // Converts job rows 1..Rows-1 (Rows read once) in the table's current order:
    // per row the cells are read and converted, the destination folder checked, the
    // picture composed on the preview window's canvas and exported as a JPEG (see
    // exportJob; an existing output file is replaced only once the new one is
    // complete). The progress bar runs from 0 with maximum Rows, one step per row,
    // and is hidden afterwards; the pointer is busy throughout and restored at the
    // end. The run stays on the calling thread without returning to the event loop.
    // The first row that fails ends the run: the rows above keep their output, the
    // rows below are not touched, and after the bar is hidden and the pointer
    // restored a warning names the file and the reason. Nothing is written to the
    // table.
    void BtnMain_Click();

    // How the warning reaches the user (QMessageBox::warning by default). Tests
    // replace it to read the message instead of waiting on a modal box.
    using MessageBoxSeam = std::function<void(QWidget *parent, const QString &title, const QString &text)>;
    static MessageBoxSeam showWarning;

private:
    void convertRow(int row);

    Form1 *m_form;
};

} // namespace kestrovia

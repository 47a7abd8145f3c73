#pragma once
// Files dropped on the job list become job rows carrying the settings panel's values.

#include <QObject>

class QMimeData;

namespace kestrovia {

class Form1;
struct DropPanelValues;

class DropHandler : public QObject {
    Q_OBJECT
public:
    explicit DropHandler(Form1 *form);

    // PicsGalary's drop: appends one row per local JPEG or BMP file of the URL list
    // (see appendDroppedFiles). Data without URLs, and URLs that are not local
    // files, change nothing. Does not move the current row or run the selection sync.
    void PicsGalary_OLEDragDrop(const QMimeData *data);

    // The settings panel's controls as a new row takes them.
    DropPanelValues panelValues() const;

private:
    Form1 *m_form;
};

} // namespace kestrovia

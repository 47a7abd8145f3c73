#pragma once
// Files dropped on the job list become job rows carrying the settings panel's values.

#include <QObject>
#include <QStringList>

class QMimeData;

namespace kestrovia {

class Form1;
struct DropPanelValues;

class DropHandler : public QObject {
    Q_OBJECT
public:
    explicit DropHandler(Form1 *form);

    // PicsGalary's drop: appends one row per local JPEG or BMP file of the URL list
    // (see appendFiles). Data without URLs, and URLs that are not local files,
    // change nothing. Does not move the current row or run the selection sync.
    void PicsGalary_OLEDragDrop(const QMimeData *data);

    // Appends one row per accepted file of paths, with the settings panel's current
    // values, as a drop of those files does (see appendDroppedFiles); relative paths
    // are taken from the working folder. The drop and the command line both come
    // here, so a file named on the command line becomes the row a drop would make.
    // Returns the number of rows appended.
    int appendFiles(const QStringList &paths);

    // The settings panel's controls as a new row takes them.
    DropPanelValues panelValues() const;

private:
    Form1 *m_form;
};

} // namespace kestrovia

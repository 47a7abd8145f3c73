#include "app/drophandler.h"

#include "app/colorswatch.h"
#include "app/form1.h"
#include "joblist/dropimport.h"
#include "joblist/joblistview.h"

#include <QComboBox>
#include <QLineEdit>
#include <QMimeData>
#include <QRadioButton>
#include <QScrollBar>
#include <QUrl>

namespace kestrovia {

DropHandler::DropHandler(Form1 *form)
    : QObject(form)
    , m_form(form)
{
    connect(form->PicsGalary, &JobListView::OLEDragDrop, this, &DropHandler::PicsGalary_OLEDragDrop);
}

DropPanelValues DropHandler::panelValues() const
{
    DropPanelValues v;
    v.keepAspect = m_form->AspCheck[0]->isChecked();
    v.backColor = m_form->PicBack->colorValue();
    v.topLeft = m_form->PicPos[0]->isChecked();
    v.rotation = m_form->RollValue->currentText();
    v.sameFolder = m_form->SaveCheck[0]->isChecked();
    v.saveFolderText = m_form->SaveTxt->text();
    v.compressValue = m_form->CompressLevel->value();
    return v;
}

void DropHandler::PicsGalary_OLEDragDrop(const QMimeData *data)
{
    if (!data || !data->hasUrls())
        return;
    QStringList paths;
    for (const QUrl &url : data->urls()) {
        // Only files on this machine can be read; a web link or a remote share URL
        // dragged from a browser is not a picture file.
        if (url.isLocalFile())
            paths.append(url.toLocalFile());
    }
    appendFiles(paths);
}

int DropHandler::appendFiles(const QStringList &paths)
{
    m_form->setStripNote({});
    return appendDroppedFiles(*m_form->table(), paths, [this] { return panelValues(); });
}

} // namespace kestrovia

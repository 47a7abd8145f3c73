#include "app/settingspanel.h"

#include "app/colorswatch.h"
#include "app/dirselectform.h"
#include "app/form1.h"
#include "joblist/jobcolumns.h"
#include "joblist/jobtable.h"
#include "platform/numbers.h"
#include "platform/syscolor.h"
#include "preview/selectionsync.h"

#include <QCheckBox>
#include <QColorDialog>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QScrollBar>
#include <QToolButton>
#include <array>

namespace kestrovia {

namespace {

SettingsPanel::ColorChooser s_colorChooser;

QColor askColor(QWidget *parent)
{
    // No initial colour is offered: the dialog opens on its own default.
    return QColorDialog::getColor(Qt::white, parent, QStringLiteral("色の設定"));
}

} // namespace

SettingsPanel::SettingsPanel(Form1 *form)
    : QObject(form)
    , m_form(form)
{
    // toggled(true) rather than clicked(): a button selected by the selection
    // sync must raise the same handling as a click, and a button that is
    // already selected raises nothing either way.
    for (int i = 0; i < 2; ++i) {
        connect(form->AspCheck[i], &QRadioButton::toggled, this, [this, i](bool on) {
            if (on)
                AspCheck_Click(i);
        });
        connect(form->PicPos[i], &QRadioButton::toggled, this, [this, i](bool on) {
            if (on)
                PicPos_Click(i);
        });
    }
    connect(form->PicBack, &ColorSwatch::clicked, this, &SettingsPanel::PicBack_Click);
    // activated, not currentIndexChanged: only a choice from the list (mouse,
    // arrow keys) counts; typed text and the sync's setCurrentIndex do not.
    connect(form->RollValue, &QComboBox::activated, this, &SettingsPanel::RollValue_Click);
    connect(form->PreCheck, &QCheckBox::toggled, this, &SettingsPanel::PreCheck_Click);
    // With tracking off a dragged thumb reports once, on release.
    connect(form->CompressLevel, &QScrollBar::valueChanged, this, &SettingsPanel::CompressLevel_Change);
    connect(form->SaveFolder, &QToolButton::clicked, this, &SettingsPanel::SaveFolder_Click);
    // TxtWidth, TxtHeight and the SaveCheck pair deliberately stay unconnected:
    // nothing reads what is typed there, and the save option is read when used.
}

QString SettingsPanel::levelCaption(int scrollValue)
{
    static const std::array<const char16_t *, 11> captions{
        u"0 : 最高画質+", u"1 : 最高画質",  u"2 : 高画質+", u"3 : 高画質",  u"4 : 標準画質+",  u"5 : 標準画質",
        u"6 : 標準画質-", u"7 : 低画質",    u"8 : 低画質-", u"9 : 最低画質", u"10 : 最低画質-",
    };
    if (scrollValue < 0 || scrollValue > 100 || scrollValue % 10 != 0)
        return {};
    return QString::fromUtf16(captions[std::size_t(scrollValue / 10)]);
}

void SettingsPanel::setColorChooser(ColorChooser chooser)
{
    s_colorChooser = std::move(chooser);
}

int SettingsPanel::currentJobRow() const
{
    const JobTable *table = m_form->table();
    const int r = table->Row();
    return r >= 1 && r < table->Rows() ? r : 0;
}

void SettingsPanel::writeCurrent(int col, const QString &text)
{
    if (const int r = currentJobRow())
        m_form->table()->setTextMatrix(r, col, text);
}

void SettingsPanel::runSync()
{
    m_form->selectionSync()->PicsGalary_SelChange();
}

void SettingsPanel::AspCheck_Click(int index)
{
    writeCurrent(ColFit, index == 0 ? QStringLiteral("OFF") : QStringLiteral("ON"));
    runSync();
}

void SettingsPanel::PicPos_Click(int index)
{
    writeCurrent(ColPosition, index == 0 ? QStringLiteral("Top") : QStringLiteral("Center"));
    runSync();
}

void SettingsPanel::PicBack_Click()
{
    const QColor chosen = s_colorChooser ? s_colorChooser(m_form) : askColor(m_form);
    // Qt reports a cancel as an invalid colour; taking it would write a colour
    // nobody chose, so a cancel leaves swatch, row and preview as they are.
    if (!chosen.isValid())
        return;
    m_form->PicBack->setColorValue(colorValueFromRgb(chosen));
    writeCurrent(ColBackColor, QString::number(m_form->PicBack->colorValue()));
    runSync();
}

void SettingsPanel::RollValue_Click()
{
    writeCurrent(ColRotation, m_form->RollValue->currentText());
    runSync();
}

void SettingsPanel::PreCheck_Click()
{
    if (m_form->PreCheck->isChecked())
        runSync();
}

void SettingsPanel::CompressLevel_Change()
{
    const int v = m_form->CompressLevel->value();
    const QString caption = levelCaption(v);
    if (!caption.isNull())
        m_form->CompLabel->setText(caption);
    writeCurrent(ColCompression, shortestDecimal(v / 10.0));
}

void SettingsPanel::SaveFolder_Click()
{
    if (m_form->SaveCheck[0]->isChecked())
        return;
    const int r = currentJobRow();
    if (r == 0)
        return;
    const QString folder = m_form->table()->TextMatrix(r, ColSaveFolder);
    if (!DirSelectForm::choose(m_form->SaveTxt, folder, m_form, m_form->twipsPerPixel()))
        return;
    // An empty SaveTxt means no folder was ever chosen (the chooser was
    // cancelled); writing it would send this job's output somewhere the user
    // never picked, so the row keeps its folder.
    const QString chosen = m_form->SaveTxt->text();
    if (chosen.isEmpty())
        return;
    // The chooser was modal, but the current row is read again in case its
    // closing moved the selection.
    writeCurrent(ColSaveFolder, chosen);
}

} // namespace kestrovia

#include "app/settingspanel.h"

#include "app/colorswatch.h"
#include "app/dirselectform.h"
#include "app/form1.h"
#include "compose/picturedecoder.h"
#include "compose/surface.h"
#include "joblist/jobcolumns.h"
#include "joblist/jobtable.h"
#include "platform/numbers.h"
#include "platform/syscolor.h"
#include "preview/form2.h"
#include "preview/selectionsync.h"

#include <QCheckBox>
#include <QColorDialog>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QScrollBar>
#include <QToolButton>
#include <QToolTip>
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
    //
    // A click on the button that is already selected raises no toggle, yet the
    // user means it: the panel may show a choice that the row does not hold (a
    // first showing leaves the panel as it was). Such a click is handled too;
    // whether the button was selected is read when it is pressed, before a
    // click changes it.
    const auto connectGroup = [this](const std::array<QRadioButton *, 2> &buttons, void (SettingsPanel::*handler)(int)) {
        for (int i = 0; i < 2; ++i) {
            QRadioButton *b = buttons[i];
            connect(b, &QRadioButton::toggled, this, [this, handler, i](bool on) {
                if (on)
                    (this->*handler)(i);
            });
            connect(b, &QRadioButton::pressed, b, [b] { b->setProperty("selectedWhenPressed", b->isChecked()); });
            connect(b, &QRadioButton::clicked, this, [this, b, handler, i] {
                if (b->property("selectedWhenPressed").toBool())
                    (this->*handler)(i);
            });
        }
    };
    connectGroup(form->AspCheck, &SettingsPanel::AspCheck_Click);
    connectGroup(form->PicPos, &SettingsPanel::PicPos_Click);
    connect(form->PicBack, &ColorSwatch::clicked, this, &SettingsPanel::PicBack_Click);
    // activated, not currentIndexChanged: only a choice from the list (mouse,
    // arrow keys) counts; typed text and the sync's setCurrentIndex do not.
    connect(form->RollValue, &QComboBox::activated, this, &SettingsPanel::RollValue_Click);
    connect(form->PreCheck, &QCheckBox::toggled, this, &SettingsPanel::PreCheck_Click);
    // With tracking off a dragged thumb reports once, on release.
    connect(form->CompressLevel, &QScrollBar::valueChanged, this, &SettingsPanel::CompressLevel_Change);
    connect(form->SaveFolder, &QToolButton::clicked, this, &SettingsPanel::SaveFolder_Click);
    // Only Enter takes a typed size; leaving the field changes nothing.
    connect(form->TxtWidth, &QLineEdit::returnPressed, this, &SettingsPanel::TxtSize_Enter);
    connect(form->TxtHeight, &QLineEdit::returnPressed, this, &SettingsPanel::TxtSize_Enter);
    // The SaveCheck pair stays unconnected: the save option is read when used.
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

std::optional<int> SettingsPanel::typedSide(const QString &text)
{
    const QString t = text.trimmed();
    if (t.isEmpty() || t.size() > 5)
        return std::nullopt;
    int value = 0;
    for (const QChar c : t) {
        // Plain digits only: full-width digits, signs and fractions are refused.
        if (c < u'0' || c > u'9')
            return std::nullopt;
        value = value * 10 + (c.unicode() - u'0');
    }
    if (value < 1 || value > kMaxPictureSide)
        return std::nullopt;
    return value;
}

void SettingsPanel::TxtSize_Enter()
{
    QLineEdit *width = m_form->TxtWidth;
    QLineEdit *height = m_form->TxtHeight;
    const auto w = typedSide(width->text());
    const auto h = typedSide(height->text());
    if (!w || !h) {
        // The fields go back to the size the preview shows, and say why.
        const Surface *area = m_form->form2()->PicPreview();
        const TwipsPerPixel tpp = m_form->twipsPerPixel();
        width->setText(QString::number(twipsToPixels(area->width(), tpp.x)));
        height->setText(QString::number(twipsToPixels(area->height(), tpp.y)));
        QLineEdit *wrong = w ? height : width;
        const QString why = QString::fromUtf8("サイズは 1〜%1 の整数を半角数字で入力してください").arg(kMaxPictureSide);
        wrong->setToolTip(why);
        QToolTip::showText(wrong->mapToGlobal(QPoint(0, wrong->height())), why, wrong);
        return;
    }
    width->setToolTip({});
    height->setToolTip({});
    if (!currentJobRow())
        return;
    writeCurrent(ColNewSize, QString::number(*w) + u'*' + QString::number(*h));
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

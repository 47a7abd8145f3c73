#include "app/aboutdialog.h"

#include "app/artwork.h"
#include "app/prompts.h"
#include "platform/japanese.h"
#include "platform/units.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QMouseEvent>
#include <QPointer>
#include <QScreen>
#include <QUrl>
#include <algorithm>

namespace kestrovia {

namespace {

QLabel *addLabel(QWidget *parent, const char *name, const QString &text, const QRect &design)
{
    auto *label = new QLabel(text, parent);
    label->setObjectName(QLatin1String(name));
    label->setGeometry(design);
    // The design sizes were made for a smaller UI font; clipping "Mail : …"
    // or the Japanese link text would make them unreadable.
    const QSize hint = label->sizeHint();
    label->resize(std::max(design.width(), hint.width()), std::max(design.height(), hint.height()));
    return label;
}

// When a label had to grow, its neighbour moves out of the way rather than
// being overdrawn: to the right on the same line, or down to the next line.
void keepRightOf(const QLabel *left, QLabel *right, int gap)
{
    const int edge = left->x() + left->sizeHint().width() + gap;
    if (right->x() < edge)
        right->move(edge, right->y());
}

void keepBelow(const QLabel *above, QLabel *below)
{
    const int edge = above->y() + above->sizeHint().height();
    if (below->y() < edge)
        below->move(below->x(), edge);
}

} // namespace

AboutDialog::AboutDialog(QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint)
{
    setObjectName(QStringLiteral("Dialog1"));
    setWindowTitle(QStringLiteral("バージョン情報"));
    setWindowModality(Qt::ApplicationModal);
    setAttribute(Qt::WA_DeleteOnClose);

    auto *picture1 = new QLabel(this);
    picture1->setObjectName(QStringLiteral("Picture1"));
    picture1->setGeometry(twipsRect(90, 330, 555, 555));
    picture1->setAlignment(Qt::AlignCenter);
    picture1->setPixmap(iconPixmap(32));

    const QRect design1 = twipsRect(150, 60, 1005, 195);
    const QRect design2 = twipsRect(1170, 60, 1395, 225);
    const QRect design3 = twipsRect(720, 390, 2385, 285);
    const QRect design4 = twipsRect(720, 660, 2385, 225);
    QLabel *label1 = addLabel(this, "Label1", QStringLiteral("Kestrovia"), design1);
    QLabel *label2 = addLabel(this, "Label2", QStringLiteral("Ver 1.00β"), design2);
    m_label3 = addLabel(this, "Label3", QStringLiteral("Kestroviaサポートページ"), design3);
    QLabel *label4 = addLabel(this, "Label4", ja("Mail : README の「サポート」を参照"), design4);
    keepRightOf(label1, label2, twipsToPixels(15));
    // A large font makes the name line taller than the gap above the link.
    keepBelow(label1, m_label3);
    keepBelow(label2, m_label3);
    keepBelow(m_label3, label4);

    QFont linkFont = m_label3->font();
    linkFont.setUnderline(true);
    m_label3->setFont(linkFont);
    QPalette linkPalette = m_label3->palette();
    linkPalette.setColor(QPalette::WindowText, QColor(0, 0, 255));
    m_label3->setPalette(linkPalette);
    m_label3->setCursor(Qt::PointingHandCursor);
    m_label3->installEventFilter(this);

    // Grow the client area by as much as a label grew past its design
    // extent, so the design margins are kept and nothing else changes.
    int width = twipsToPixels(3135);
    int height = twipsToPixels(960);
    int extraWidth = 0;
    int extraHeight = 0;
    for (auto [label, design] : {std::pair{label1, design1}, std::pair{label2, design2}, std::pair{m_label3, design3},
                                 std::pair{label4, design4}}) {
        extraWidth = std::max(extraWidth, label->geometry().right() - design.right());
        extraHeight = std::max(extraHeight, label->geometry().bottom() - design.bottom());
    }
    width += extraWidth;
    height += extraHeight;
    setFixedSize(width, height);
    // Centred on the main window, where the user's eyes are.
    const QRect around =
        parent ? parent->frameGeometry() : (screen() ? screen()->availableGeometry() : QRect(0, 0, width, height));
    move(around.center() - QPoint(width / 2, height / 2));
}

AboutDialog::~AboutDialog() = default;

QUrl AboutDialog::supportUrl()
{
    // Found from the program's own folder, so that one build serves /usr/local, /usr
    // and the Debian package alike.
    const QString installed =
        QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral(KESTROVIA_README_INSTALLED));
    return QUrl::fromLocalFile(QFileInfo::exists(installed) ? installed : QStringLiteral(KESTROVIA_README_SOURCE));
}

void AboutDialog::showModal(QWidget *parent)
{
    QPointer<AboutDialog> dialog = new AboutDialog(parent);
    Prompts::showModal(*dialog);
    // Normally the close box has already scheduled the deletion.
    if (dialog)
        dialog->deleteLater();
}

bool AboutDialog::eventFilter(QObject *watched, QEvent *event)
{
    // A click is a left press and release over the link; releasing elsewhere
    // lets the user change their mind.
    if (watched == m_label3 && event->type() == QEvent::MouseButtonRelease) {
        const auto *mouse = static_cast<QMouseEvent *>(event);
        if (mouse->button() == Qt::LeftButton && m_label3->rect().contains(mouse->position().toPoint())) {
            label3Click();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void AboutDialog::label3Click()
{
    // Whether the browser then shows the page is the desktop's business;
    // only a request that could not be made at all is reported.
    if (Prompts::openUrl(supportUrl()))
        return;
    Prompts::Message m;
    m.title = QStringLiteral("Kestrovia");
    m.text = QStringLiteral("error");
    m.informative = ja("サポートページを開くためのブラウザを起動できませんでした。");
    Prompts::inform(this, m);
}

} // namespace kestrovia

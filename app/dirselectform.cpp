#include "app/dirselectform.h"

#include "app/prompts.h"
#include "platform/filename.h"
#include "platform/japanese.h"
#include "platform/oserror.h"
#include "platform/units.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QPushButton>
#include <QStorageInfo>
#include <QStyle>
#include <QTimer>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>
#include <algorithm>

#include <cerrno>
#include <sys/stat.h>

namespace kestrovia {

namespace {

DirSelectForm::VolumeSource s_volumeSource;

QList<DirSelectForm::Volume> mountedVolumes()
{
    QList<DirSelectForm::Volume> volumes;
    for (const QStorageInfo &info : QStorageInfo::mountedVolumes()) {
        // Volumes that are not ready stay listed: picking one must fall back
        // to the listed folder's drive rather than silently vanish.
        if (!info.rootPath().isEmpty())
            volumes.append({QDir::cleanPath(info.rootPath()), info.name()});
    }
    // In a container or chroot the mount table may name no volume that is
    // visible from here; the file system's root is always there.
    if (volumes.isEmpty())
        volumes.append({QDir::rootPath(), QString()});
    std::sort(volumes.begin(), volumes.end(), [](const auto &a, const auto &b) { return a.rootPath < b.rootPath; });
    return volumes;
}

bool holds(const QString &root, const QString &path)
{
    if (path == root)
        return true;
    const QString prefix = root.endsWith(QLatin1Char('/')) ? root : root + QLatin1Char('/');
    return path.startsWith(prefix);
}

constexpr int PathRole = Qt::UserRole;

} // namespace

DirSelectForm::DirSelectForm(QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint)
{
    setObjectName(QStringLiteral("DirSelectForm"));
    setWindowTitle(QStringLiteral("ファイル保存先"));

    m_drive1 = new QComboBox(this);
    m_drive1->setObjectName(QStringLiteral("Drive1"));
    m_dir1 = new QTreeWidget(this);
    m_dir1->setObjectName(QStringLiteral("Dir1"));
    m_dir1->setHeaderHidden(true);
    m_dir1->setRootIsDecorated(false);
    // The list always shows the whole chain and the sub-folders; opening a
    // folder is the only navigation, so the user cannot fold branches away.
    m_dir1->setItemsExpandable(false);
    m_dir1->setExpandsOnDoubleClick(false);
    m_dir1->setIndentation(10);
    // Without foldable branches an arrow would promise an action that does nothing.
    m_dir1->setStyleSheet(QStringLiteral("QTreeView::branch { image: none; border-image: none; }"));
    m_dir1->setSelectionMode(QAbstractItemView::SingleSelection);

    m_ok = new QPushButton(QStringLiteral("OK"), this);
    m_ok->setObjectName(QStringLiteral("Command1(0)"));
    m_cancel = new QPushButton(ja("キャンセル"), this);
    m_cancel->setObjectName(QStringLiteral("Command1(1)"));
    // Enter confirms and Escape cancels, as in every other dialog.
    m_ok->setDefault(true);
    m_newFolder = new QPushButton(ja("新しいフォルダ"), this);
    m_newFolder->setObjectName(QStringLiteral("NewFolder"));

    m_drive1->setGeometry(twipsRect(30, 30, 3165, 300));
    m_dir1->setGeometry(twipsRect(30, 360, 3135, 2820));
    m_ok->setGeometry(twipsRect(3270, 30, 1155, 375));
    m_cancel->setGeometry(twipsRect(3270, 450, 1155, 375));
    m_newFolder->setGeometry(twipsRect(3270, 870, 1155, 375));
    // Its caption is the longest: a larger font widens the button leftwards.
    if (const int wanted = m_newFolder->sizeHint().width(); wanted > m_newFolder->width())
        m_newFolder->setGeometry(m_newFolder->geometry().adjusted(m_newFolder->width() - wanted, 0, 0, 0));
    // A combo box at its design height clips its text with larger fonts;
    // grow it and move the folder list's top edge down, keeping its bottom.
    const int needed = m_drive1->sizeHint().height();
    if (m_drive1->height() < needed) {
        m_drive1->resize(m_drive1->width(), needed);
        const QRect dir = m_dir1->geometry();
        const int top = std::max(dir.top(), m_drive1->geometry().bottom() + 3);
        m_dir1->setGeometry(dir.left(), top, dir.width(), dir.bottom() + 1 - top);
    }
    setFixedSize(twipsToPixels(4680), twipsToPixels(3195));

    fillDrives();
    selectDriveQuietly(volumeIndexFor(QDir::currentPath()));

    connect(m_ok, &QPushButton::clicked, this, [this] { command1Click(0); });
    connect(m_cancel, &QPushButton::clicked, this, [this] { command1Click(1); });
    connect(m_newFolder, &QPushButton::clicked, this, &DirSelectForm::newFolder);
    connect(m_drive1, &QComboBox::currentIndexChanged, this, [this] { drive1Change(); });
    connect(m_dir1, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem *item) {
        const QString folder = item->data(0, PathRole).toString();
        // Rebuilding the list inside the view's own mouse handling would
        // delete the item under the event; open it once the event is done.
        QTimer::singleShot(0, this, [this, folder] {
            if (!setPath(folder))
                fillFolders(); // the folder vanished meanwhile: show what is there now
        });
    });
}

DirSelectForm::~DirSelectForm() = default;

bool DirSelectForm::setPath(const QString &folder)
{
    if (folder.trimmed().isEmpty())
        return false;
    const QFileInfo info(QDir::fromNativeSeparators(folder));
    if (!info.isDir() || !info.isReadable() || !info.isExecutable())
        return false;
    m_path = QDir::cleanPath(info.absoluteFilePath());
    fillFolders();
    return true;
}

QString DirSelectForm::path() const { return m_path; }

bool DirSelectForm::setDrive(const QString &path)
{
    const int index = volumeIndexFor(QDir::cleanPath(QDir::fromNativeSeparators(path)));
    if (index < 0)
        return false;
    selectDriveQuietly(index);
    return true;
}

QString DirSelectForm::drive() const
{
    const int index = m_drive1->currentIndex();
    return index >= 0 && index < m_volumes.size() ? m_volumes.at(index).rootPath : QString();
}

QString DirSelectForm::chosenFolder() const { return m_chosen; }

void DirSelectForm::setVolumeSource(VolumeSource source) { s_volumeSource = std::move(source); }

void DirSelectForm::closeEvent(QCloseEvent *event)
{
    // The buttons only hide the dialog so that it keeps its drive; the close
    // box destroys it, storing nothing, like "Cancel".
    setAttribute(Qt::WA_DeleteOnClose, true);
    QDialog::closeEvent(event);
}

void DirSelectForm::command1Click(int index)
{
    // A user who highlights a folder and presses OK means that folder; without a
    // highlight the open folder is taken.
    const QTreeWidgetItem *highlighted = m_dir1->currentItem();
    const QString folder = highlighted ? highlighted->data(0, PathRole).toString() : m_path;
    if (index == 0 && !folder.isEmpty()) {
        // Exactly one trailing separator: a root already ends in one.
        m_chosen = QDir::toNativeSeparators(folder);
        if (!m_chosen.endsWith(QDir::separator()))
            m_chosen += QDir::separator();
        accept();
    } else {
        reject();
    }
}

namespace {

// Why name cannot be a folder's name here; null when it can.
QString nameRefusal(const QString &name)
{
    if (name.isEmpty())
        return ja("名前を入力してください");
    if (name == u"." || name == u"..")
        return ja("「%1」はフォルダの名前にできません").arg(name);
    if (name.contains(u'/'))
        return ja("名前に「/」は使えません");
    for (const QChar c : name) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7F)
            return ja("名前に制御文字は使えません");
    }
    if (name.toUtf8().size() > 255)
        return ja("名前が長すぎます（255 バイトまで）");
    return {};
}

} // namespace

void DirSelectForm::newFolder()
{
    const QTreeWidgetItem *highlighted = m_dir1->currentItem();
    const QString parent = highlighted ? highlighted->data(0, PathRole).toString() : m_path;
    if (parent.isEmpty())
        return;
    Prompts::Message ask;
    ask.title = ja("新しいフォルダ");
    ask.text = ja("「%1」の中に作るフォルダの名前").arg(QDir::toNativeSeparators(parent));
    const std::optional<QString> typed = Prompts::askText(this, ask, ja("新しいフォルダ"));
    if (!typed)
        return;
    const QString name = typed->trimmed();
    const QString folder = QDir(parent).filePath(name);
    QString refusal = nameRefusal(name);
    if (refusal.isNull() && QFileInfo::exists(folder) && !QFileInfo(folder).isDir())
        refusal = ja("同じ名前のファイルがあります");
    // A folder of that name already there is simply taken.
    if (refusal.isNull() && !QFileInfo(folder).isDir() && ::mkdir(encodeFileName(folder).constData(), 0777) != 0)
        refusal = systemErrorReason(errno);
    if (!refusal.isNull()) {
        Prompts::Message m;
        m.icon = Prompts::Warning;
        m.title = ja("新しいフォルダ");
        m.text = ja("フォルダ「%1」を作れませんでした。").arg(name);
        m.informative = refusal;
        Prompts::inform(this, m);
        return;
    }
    setPath(parent);
    for (QTreeWidgetItemIterator it(m_dir1); *it; ++it) {
        if ((*it)->data(0, PathRole).toString() == QDir::cleanPath(folder)) {
            m_dir1->setCurrentItem(*it);
            m_dir1->scrollToItem(*it);
        }
    }
}

void DirSelectForm::drive1Change()
{
    const int index = m_drive1->currentIndex();
    if (index < 0 || index >= m_volumes.size())
        return;
    if (setPath(m_volumes.at(index).rootPath))
        return;
    // No medium or unreachable: show the drive of the folder still listed, silently.
    const QString listed = m_path.isEmpty() ? QDir::currentPath() : m_path;
    selectDriveQuietly(volumeIndexFor(listed));
}

void DirSelectForm::fillDrives()
{
    m_volumes = s_volumeSource ? s_volumeSource() : mountedVolumes();
    const QSignalBlocker blocker(m_drive1);
    m_drive1->clear();
    for (const Volume &v : m_volumes) {
        const QString root = QDir::toNativeSeparators(v.rootPath);
        m_drive1->addItem(v.name.isEmpty() ? root : root + QStringLiteral("  [") + v.name + QLatin1Char(']'));
    }
}

void DirSelectForm::refreshDrives()
{
    // Volumes come and go while the dialog waits hidden; keep the chosen one.
    const QString chosen = drive();
    fillDrives();
    int index = -1;
    for (int i = 0; i < m_volumes.size(); ++i) {
        if (m_volumes.at(i).rootPath == chosen)
            index = i;
    }
    selectDriveQuietly(index >= 0 ? index : volumeIndexFor(QDir::currentPath()));
}

void DirSelectForm::fillFolders()
{
    m_dir1->clear();
    if (m_path.isEmpty())
        return;
    QStringList chain;
    for (QString p = m_path;;) {
        chain.prepend(p);
        const QString up = QFileInfo(p).path();
        if (up == p || up.isEmpty())
            break;
        p = up;
    }
    const QIcon openIcon = style()->standardIcon(QStyle::SP_DirOpenIcon);
    const QIcon closedIcon = style()->standardIcon(QStyle::SP_DirClosedIcon);
    QTreeWidgetItem *item = nullptr;
    for (const QString &p : chain) {
        const QString name = QFileInfo(p).fileName();
        auto *next = item ? new QTreeWidgetItem(item) : new QTreeWidgetItem(m_dir1);
        next->setText(0, name.isEmpty() ? QDir::toNativeSeparators(p) : name);
        next->setData(0, PathRole, p);
        next->setIcon(0, openIcon);
        item = next;
    }
    QTreeWidgetItem *current = item;
    const QFileInfoList subs = QDir(m_path).entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot,
                                                          QDir::Name | QDir::IgnoreCase | QDir::LocaleAware);
    for (const QFileInfo &sub : subs) {
        auto *child = new QTreeWidgetItem(current);
        child->setText(0, sub.fileName());
        child->setData(0, PathRole, QDir::cleanPath(sub.absoluteFilePath()));
        child->setIcon(0, closedIcon);
    }
    m_dir1->expandAll();
    m_dir1->setCurrentItem(current);
    m_dir1->scrollToItem(current);
}

int DirSelectForm::volumeIndexFor(const QString &path) const
{
    int best = -1;
    for (int i = 0; i < m_volumes.size(); ++i) {
        const QString &root = m_volumes.at(i).rootPath;
        if (holds(root, path) && (best < 0 || root.size() > m_volumes.at(best).rootPath.size()))
            best = i;
    }
    return best;
}

void DirSelectForm::selectDriveQuietly(int index)
{
    // Setting the drive from a path must not list that drive's folder.
    const QSignalBlocker blocker(m_drive1);
    m_drive1->setCurrentIndex(index);
}

} // namespace kestrovia

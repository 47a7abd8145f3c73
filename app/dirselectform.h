#pragma once
// The save-folder chooser: a drive list, a folder list, OK / キャンセル and
// 新しいフォルダ. OK (or Enter) takes the highlighted folder, which is the open one
// until the user highlights another; Escape cancels. Shown through
// Prompts::chooseFolder.

#include <QDialog>
#include <QList>
#include <QString>
#include <functional>

class QComboBox;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace kestrovia {

class DirSelectForm : public QDialog {
    Q_OBJECT

public:
    // One entry of the drive list.
    struct Volume {
        QString rootPath; // "/" separated, no trailing "/" except for a root
        QString name; // the volume's label; may be empty
    };
    using VolumeSource = std::function<QList<Volume>()>;

    // The drive list starts at the volume holding the working folder.
    explicit DirSelectForm(QWidget *parent = nullptr);
    ~DirSelectForm() override;

    // The folder open in the folder list ("/" separated, no trailing "/"
    // except for a root). Relative paths are taken from the working folder.
    // Fails, returning false and changing nothing, when the folder does not
    // exist, is not a folder or cannot be listed. Leaves the drive list alone.
    bool setPath(const QString &folder);
    QString path() const;

    // Selects the drive list entry of the volume holding path (the longest
    // matching root). Does not touch the folder list; false when no listed
    // volume holds path.
    bool setDrive(const QString &path);
    // Root path of the selected drive list entry; empty when there is none.
    QString drive() const;

    // After OK: the folder taken, with exactly one trailing separator.
    QString chosenFolder() const;

    // 新しいフォルダ: asks a name (through Prompts), makes the folder inside the
    // highlighted one (the open one without a highlight), opens that folder and
    // highlights the new one, so that OK takes it. A name that cannot be a folder's
    // or a folder that cannot be made is said in a message; nothing changes then.
    void newFolder();

    // Lists the volumes again (they come and go while the dialog waits hidden),
    // keeping the chosen one.
    void refreshDrives();

    // The drive list's source, for tests; an empty function restores
    // QStorageInfo::mountedVolumes.
    static void setVolumeSource(VolumeSource source);

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void command1Click(int index);
    void drive1Change();
    void fillDrives();
    void fillFolders();
    int volumeIndexFor(const QString &path) const;
    void selectDriveQuietly(int index);

    QComboBox *m_drive1 = nullptr;
    QTreeWidget *m_dir1 = nullptr;
    QPushButton *m_ok = nullptr;
    QPushButton *m_cancel = nullptr;
    QPushButton *m_newFolder = nullptr;
    QString m_chosen;
    QList<Volume> m_volumes;
    QString m_path;
};

} // namespace kestrovia

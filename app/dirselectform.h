#pragma once
// The save-folder chooser: a drive list, a folder list and "OK"/"Cancel".
// "OK" writes the open folder (never a merely highlighted one) into the
// main window's SaveTxt; nothing else is handed back to the caller.

#include "platform/units.h"

#include <QDialog>
#include <QList>
#include <QPointer>
#include <QString>
#include <functional>

class QComboBox;
class QLineEdit;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace kestrovia {

class DirSelectForm : public QDialog
{
    Q_OBJECT

public:
    // One entry of the drive list.
    struct Volume {
        QString rootPath; // "/" separated, no trailing "/" except for a root
        QString name;     // the volume's label; may be empty
    };
    using VolumeSource = std::function<QList<Volume>()>;
    // Stands in for the modal exec() in choose(); receives the shown dialog.
    using ModalRunner = std::function<void(DirSelectForm &)>;

    // Geometry is given in twips and converted with tpp (fraction dropped).
    // The drive list starts at the volume holding the working folder.
    explicit DirSelectForm(TwipsPerPixel tpp = {}, QWidget *parent = nullptr);
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

    // Where "OK" writes the chosen folder; may be null (then "OK" only hides).
    void setSaveTarget(QLineEdit *saveTxt);

    // Sets the folder list to startFolder and shows the shared chooser
    // modally, creating it on first use or after its close box destroyed
    // it. Returns false, without showing anything, when startFolder cannot
    // be listed; true once the dialog has been shown and closed again.
    static bool choose(QLineEdit *saveTxt, const QString &startFolder, QWidget *parent = nullptr,
                       TwipsPerPixel tpp = {});
    // The chooser kept by choose(), or null before its first use or after
    // it was destroyed. The main window closes it at shutdown.
    static DirSelectForm *shared();

    // Seams for tests; an empty function restores the default
    // (QStorageInfo::mountedVolumes and QDialog::exec).
    static void setVolumeSource(VolumeSource source);
    static void setModalRunner(ModalRunner runner);

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void command1Click(int index);
    void drive1Change();
    void fillDrives();
    void refreshDrives();
    void fillFolders();
    int volumeIndexFor(const QString &path) const;
    void selectDriveQuietly(int index);

    QComboBox *m_drive1 = nullptr;
    QTreeWidget *m_dir1 = nullptr;
    QPushButton *m_ok = nullptr;
    QPushButton *m_cancel = nullptr;
    QPointer<QLineEdit> m_saveTxt;
    QList<Volume> m_volumes;
    QString m_path;
};

} // namespace kestrovia

#pragma once
// Dropped file names to job rows: the part of a drop on the job list that needs no
// window. The drop handler collects the names and reads the settings panel; this
// decides which names become rows and what the rows hold. The folder walk and the
// header reads run on a thread of their own (DropImport); the rows are made on the
// window's thread from what it found.

#include "compose/jobrow.h"
#include "platform/stop.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QSize>
#include <QString>
#include <QStringList>
#include <QStringView>
#include <QTimer>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

namespace kestrovia {

class JobTable;

// Why a dropped name, or files inside a dropped folder, did not become rows.
enum class LeftOut {
    Missing, // the name names nothing
    BrokenLink, // a symbolic link to nothing
    NotRegular, // a FIFO, a device, a socket
    OtherType, // a file whose name is no picture's
    Unreadable, // no permission to read it
    NotLocal, // a URL of another machine (a web link, a remote share)
    OverLimit, // past the rows one drop may add (kMaxRowsPerDrop)
    EmptyFolder, // a dropped folder with nothing to add
    Hidden, // a name starting with "." inside a dropped folder
    LinkedFolder, // a folder reached through a symbolic link, not entered
    UnlistableFolder, // a folder inside a dropped one that cannot be listed
};

// The short Japanese reason: 「見つかりません」, 「対応していない形式」, ...
QString leftOutText(LeftOut why);

// A dropped or named item that did not become a row, or count files of a dropped
// folder left out for one reason.
struct NotAdded {
    QString name; // the file's or folder's name, without its folder
    LeftOut why = LeftOut::Missing;
    int count = 1; // how many: more than one only for a folder's files
    bool inFolder = false; // count files inside the folder name, not the name itself

    QString reason() const { return leftOutText(why); }
    bool operator==(const NotAdded &) const = default;
};

struct DropResult {
    int appended = 0; // rows appended
    QList<NotAdded> notAdded; // in the order given
};

// The note for the strip under the grid that names what was not added, the first
// few with their reasons; empty when everything was added.
QString notAddedNote(const QList<NotAdded> &notAdded);
// Every item of notAdded on a line of its own, with its reason: the note's details.
QString notAddedList(const QList<NotAdded> &notAdded);

// At most this many rows come from one drop; what a folder holds beyond is noted.
inline constexpr int kMaxRowsPerDrop = 10000;

// The names a drag from a file manager carries as text/uri-list (RFC 2483: one URI
// a line, "#" lines are comments). A file URL's percent-encoded path is decoded to
// the bytes it names, which need not be UTF-8 (decodeFileName); a URL of another
// host or scheme is left out as NotLocal.
struct UriListNames {
    QStringList paths;
    QList<NotAdded> notAdded;
};
UriListNames namesOfUriList(const QByteArray &uriList);

// A picture a drop found: its absolute path and its upright size from the header
// (invalid when the header cannot be read: the row then says why when it is shown
// or converted).
struct FoundPicture {
    QString path;
    QSize size;
};

// Reads the dropped names: every name that passes isPictureName and is an existing,
// readable regular file (symbolic links followed) is found, in list order. A folder
// gives the pictures in it and in its sub-folders, in name order (numbers by their
// value, letter case aside), each folder's pictures before its sub-folders; hidden
// files and folders are left out, linked folders are not entered, and what a folder
// leaves out is counted under each reason. Everything else is named in notAdded with
// its reason. Paths may carry bytes that are no UTF-8 (decodeFileName).
// found receives each picture as it comes, its header read; beforeRead (when set)
// is called before each header read. Returns early, with what was found until then,
// once stop is raised. Runs on any thread.
struct DropScanHooks {
    std::function<void(FoundPicture &&picture)> found;
    std::function<void(const QString &path)> beforeRead;
    const StopFlag *stop = nullptr;
};
QList<NotAdded> scanDrop(const QStringList &paths, const DropScanHooks &hooks);

// Appends one job row per found picture, in order, with the settings (asked once),
// in one insertion. The row's cells: the file's name and absolute path,
// ColOriginalSize from the header, "→", and the settings (writeRowSettings: the
// folder beside the picture unless one is chosen, ColNewSize by the size rule from
// the picture's size and the turn). Only the appended rows are written; the current
// row and the selection stay as they are. Returns the rows appended.
int appendFoundPictures(JobTable &table, const QList<FoundPicture> &pictures,
                        const std::function<RowSettings()> &settings);

// scanDrop and appendFoundPictures in one go, on the calling thread.
DropResult appendDroppedFiles(JobTable &table, const QStringList &paths, const std::function<RowSettings()> &settings);

// A drop read on a thread of its own: the window stays responsive, the pictures
// come back in batches on the thread that made this object, and stop() ends it
// early. A drop started while one is read waits for it.
class DropImport : public QObject {
    Q_OBJECT
public:
    explicit DropImport(QObject *parent = nullptr);
    // Stops the drop being read and waits for its thread; nothing is delivered after.
    ~DropImport() override;

    // notAddedBefore (names found unusable before, e.g. remote URLs) come first in
    // the drop's notAdded.
    void start(const QStringList &paths, const QList<NotAdded> &notAddedBefore = {});
    // Ends the drop being read (what was found stays) and drops the ones waiting.
    void stop();
    bool isRunning() const { return m_running; }

    // Called on the reading thread before each header read (tests hold it there).
    void setReadHook(std::function<void(const QString &path)> hook);

signals:
    void started();
    void picturesFound(const QList<kestrovia::FoundPicture> &pictures);
    void finished(const QList<kestrovia::NotAdded> &notAdded, bool stopped);

private:
    struct Pending {
        QStringList paths;
        QList<NotAdded> notAdded;
    };
    void startNext();
    void join();

    // The pictures found and not yet taken, shared with the reading thread, which
    // asks this thread to take them whenever it has not asked already.
    struct Found {
        std::mutex mutex;
        QList<FoundPicture> pictures;
        bool asked = false;
    };
    // Appends what was found, a batch a turn, and ends the drop after the last.
    void takeFound();
    struct End {
        QList<NotAdded> notAdded;
        bool stopped = false;
    };

    QList<Pending> m_waiting;
    std::shared_ptr<Found> m_found = std::make_shared<Found>();
    std::thread m_thread;
    StopFlag m_stop;
    bool m_running = false;
    QTimer m_take; // runs while found pictures wait to be taken
    std::optional<End> m_end; // the thread has ended: once all is taken, the drop
    std::function<void(const QString &)> m_readHook;
};

} // namespace kestrovia

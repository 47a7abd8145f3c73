#pragma once
// The canvases the preview drew lately, kept so that a return to a recent row, or a
// panel change undone, is drawn without reading and decoding the file again. What
// is kept is what was drawn: a canvas of the row's output size, never the source.
// Bounded in bytes and in the number of files; the least recently used go first.
// Safe to use from any thread.

#include "compose/jobrow.h"

#include <QImage>
#include <QString>

#include <list>
#include <mutex>
#include <optional>

namespace kestrovia {

// What tells one state of a file from another: a file saved again, replaced or
// touched gets another identity, and is read again.
struct FileIdentity {
    QString path;
    qint64 size = 0;
    qint64 modifiedNs = 0;
    qint64 changedNs = 0; // the inode's change time: also moves when mtime is set back
    quint64 inode = 0;
    quint64 device = 0;

    // The identity of the file at path now; nullopt when it cannot be looked up (the
    // read that follows says why).
    static std::optional<FileIdentity> of(const QString &path);
    bool operator==(const FileIdentity &) const = default;
};

class KeptPictures {
public:
    // Room for the canvases of 8 rows at a few megapixels each, or one of 50 MP.
    static constexpr qint64 kDefaultBytes = qint64(256) << 20;
    // The rows a user goes back and forth between.
    static constexpr int kDefaultFiles = 8;

    explicit KeptPictures(qint64 byteLimit = kDefaultBytes, int fileLimit = kDefaultFiles);

    // The canvas kept for file and the composition described by job (see canvasKey).
    std::optional<QImage> canvas(const FileIdentity &file, const QString &job);
    void keepCanvas(const FileIdentity &file, const QString &job, const QImage &canvas);
    // Everything of a job that shapes its canvas, as one text: its canvas size and
    // each of its settings (job.settings) that shapes the canvas, the turn only
    // withTurn.
    static QString canvasKey(const Job &job, bool withTurn);

    qint64 bytes() const;
    int count() const; // canvases kept
    void clear();

private:
    struct Entry {
        FileIdentity file;
        QString job;
        QImage canvas;
        qint64 bytes = 0;
    };
    // Drops what was kept of an older state of file's path. Called with the lock held.
    void forgetOlder(const FileIdentity &file);
    // Whether more files than the limit have canvases kept. Called with the lock held.
    bool tooManyFiles() const;

    const qint64 m_byteLimit;
    const int m_fileLimit;
    mutable std::mutex m_mutex;
    std::list<Entry> m_entries; // most recently used first
    qint64 m_bytes = 0;
};

} // namespace kestrovia

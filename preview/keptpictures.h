#pragma once
// The pictures the preview made lately, kept so that a panel change, a return to a
// recent row or the end of a border drag composes again without reading and
// decoding the file: decoded sources, and the canvases composed from them. Bounded
// in bytes and in count; the least recently used go first. Safe to use from any
// thread.

#include "compose/jobrow.h"
#include "compose/picturedecoder.h"

#include <QImage>
#include <QString>

#include <functional>
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

// How a job draws its source: what decides how far a decode of it may be reduced.
struct SourceUse {
    std::optional<QSize> canvas; // the job's size; none: the picture's own
    bool keepsAspect = false;
    bool quarterTurn = false; // turned by a quarter, in the picture the preview shows

    static SourceUse of(const Job &job, bool withTurn);
};

class KeptPictures {
public:
    static constexpr qint64 kDefaultBytes = qint64(256) << 20;
    static constexpr int kDefaultCount = 8;

    explicit KeptPictures(qint64 byteLimit = kDefaultBytes, int countLimit = kDefaultCount);

    // A kept decode of file that serves use: one in full serves every job; a reduced
    // one serves jobs that draw it no larger than the job it was decoded for (a
    // larger drawing may want more of the picture's detail than it holds).
    std::optional<DecodedPicture> source(const FileIdentity &file, const SourceUse &use);
    // Keeps picture, decoded from file for use.
    void keepSource(const FileIdentity &file, const SourceUse &use, const DecodedPicture &picture);

    // The canvas kept for file and the composition described by job (see canvasKey).
    std::optional<QImage> canvas(const FileIdentity &file, const QString &job);
    void keepCanvas(const FileIdentity &file, const QString &job, const QImage &canvas);
    // Everything of a job that shapes its canvas, as one text: its canvas size and
    // each of its settings (job.settings) that shapes the canvas, the turn only
    // withTurn.
    static QString canvasKey(const Job &job, bool withTurn);

    // Lets go of the least recently used until `bytes` more fit the budget: done
    // before a large decode, the memory of a picture that would make way for it
    // anyway is free for the decode to take up again.
    void makeRoom(qint64 bytes);

    qint64 bytes() const;
    int count() const;
    void clear();

private:
    struct Entry {
        FileIdentity file;
        QString job; // empty for a decoded source
        SourceUse use; // for a decoded source
        DecodedPicture source;
        QImage canvas;
        qint64 bytes = 0;
    };
    void keep(Entry entry);
    // Drops what was kept of an older state of file's path.
    void forgetOlder(const FileIdentity &file);
    // The first entry of file that matches, moved to the front; null when none does.
    // Called with the lock held.
    const Entry *touch(const FileIdentity &file, const std::function<bool(const Entry &)> &matches);

    const qint64 m_byteLimit;
    const int m_countLimit;
    mutable std::mutex m_mutex;
    std::list<Entry> m_entries; // most recently used first
    qint64 m_bytes = 0;
};

} // namespace kestrovia

#pragma once
// Reading a picture file.
//
// Sources are read, never mapped: another program (an editor re-saving the file, a
// sync client, an unplugged drive) may shorten a file while it is decoded, and a
// mapped file that shrinks kills the whole program with SIGBUS. Reads are made
// where the decoder asks (pread), so a decoder looks at the header before anything
// else is read, and a file that is no picture costs a few kilobytes.

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace kestrovia {

// Largest file accepted as a picture source (4 GiB): far above any picture within
// the pixel limits, but a bound before the memory is taken.
inline constexpr qint64 kMaxSourceBytes = qint64(4) << 30;

// An open picture source: a regular file read through its descriptor, or bytes
// already in memory. Copies share the one descriptor; reads at an offset do not
// move any position, so a copy may be read from another thread.
class PictureSource {
public:
    // Opens the regular file at path. Anything that is not a regular file at open
    // time (a FIFO, a device, a folder, a socket) is refused at once, without waiting
    // for data. Throws Failure with a Japanese reason: not found, no permission, not
    // a regular file, empty, too large.
    static PictureSource open(const QString &path);
    static PictureSource memory(const QByteArray &data);

    // The size the file had when it was opened.
    qint64 size() const;
    // Reads n bytes at offset into to, fewer only where the size above ends. Throws
    // Failure for a read error, and when the file has become shorter than it was
    // (another program writes it): the picture would be incomplete.
    qint64 read(qint64 offset, void *to, qint64 n) const;
    // The same into a new array (n bounded by the size).
    QByteArray bytes(qint64 offset, qint64 n) const;
    // The first bytes (up to 4 KB), read once: the format and the headers that sit
    // at the start (PNG, BMP, WebP, GIF) are read from here.
    const QByteArray &head() const;
    // In-memory data (the whole source), or null for a file.
    const QByteArray *data() const;
    // Whether the file now holds more bytes than when it was opened.
    bool grew() const;

private:
    struct Impl;
    std::shared_ptr<Impl> m;
};

// Forward reading of a source in windows, for walks over chunk and block headers:
// a file of millions of tiny chunks costs one read a window, not one a header,
// and a walk that steps over large chunks reads little more than their headers.
class SourceWindow {
public:
    // window: the bytes one read fetches (at least the largest n asked below).
    explicit SourceWindow(const PictureSource &source, qint64 window = 64 * 1024);
    // n bytes at offset into to (n at most the window), fewer only where the source
    // ends. Throws Failure as PictureSource::read.
    qint64 read(qint64 offset, void *to, qint64 n);
    // The byte at offset, or -1 past the end.
    int byte(qint64 offset);
    const PictureSource &source() const { return m_source; }

private:
    PictureSource m_source;
    qint64 m_window;
    std::vector<std::uint8_t> m_bytes;
    qint64 m_at = 0; // offset of m_bytes in the source
};

// The whole content of the regular file at path, with the refusals of
// PictureSource::open, and a Failure when the file changed size while read.
QByteArray readSourceFile(const QString &path);

// Bytes read from files so far, by all threads (a test's measure of what a refusal
// cost).
qint64 sourceBytesRead();

// Called after every read from a file with sourceBytesRead() (tests: a stop request
// raised part way through a decode). Set it while no decode runs; empty removes it.
void setSourceReadObserver(std::function<void(qint64 bytesRead)> observer);

} // namespace kestrovia

#pragma once
// What users do to an output after it was written, done the way their tools do it,
// for the tests of the mark that tells an unchanged output from a changed one.

#include "tests/common/testpictures.h"

#include <QImage>
#include <QImageWriter>

#include <sys/stat.h>
#include <time.h>

namespace testpics {

// True once the file system's clock has moved past path's modification time, so
// that an edit from now on gets a time of its own, as every edit by hand does.
inline bool clockPassed(const QString &path)
{
    struct stat st { };
    timespec now{};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0 || ::clock_gettime(CLOCK_REALTIME_COARSE, &now) != 0)
        return false;
    return now.tv_sec > st.st_mtim.tv_sec || (now.tv_sec == st.st_mtim.tv_sec && now.tv_nsec > st.st_mtim.tv_nsec);
}

// The first `from` in the file becomes `to` (as long), written in place as a hex
// editor or a tool that patches a tag does: the file's attributes stay.
inline bool changeInPlace(const QString &path, const QByteArray &from, const QByteArray &to)
{
    QFile f(path);
    if (from.size() != to.size() || !f.open(QIODevice::ReadWrite))
        return false;
    const qint64 at = f.readAll().indexOf(from);
    return at >= 0 && f.seek(at) && f.write(to) == to.size();
}

// The picture saved again over itself by an image library (Qt's writer truncates
// and rewrites the file: its attributes stay, its metadata goes).
inline bool saveAgain(const QString &path)
{
    const QImage picture(path);
    QImageWriter writer(path, "jpeg");
    return !picture.isNull() && writer.write(picture.mirrored());
}

} // namespace testpics

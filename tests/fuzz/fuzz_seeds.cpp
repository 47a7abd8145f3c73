// Writes a small seed corpus for the fuzzers: every JPEG and BMP flavour the decoder
// reads, each prefixed with the harness's option byte.
//   fuzz_seeds <folder>

#include "tests/common/testpictures.h"

#include <QDir>

using namespace testpics;

int main(int argc, char **argv)
{
    if (argc != 2)
        return 2;
    const QDir dir(QString::fromLocal8Bit(argv[1]));
    dir.mkpath(QStringLiteral("."));
    const QImage q = quadrants(37, 23);
    const QList<std::pair<const char *, QByteArray>> seeds = {
        {"baseline", jpeg(q, 90, TJSAMP_420)},
        {"progressive", jpeg(q, 90, TJSAMP_444, TJFLAG_PROGRESSIVE)},
        {"grey", jpeg(q, 90, TJSAMP_GRAY)},
        {"cmyk", cmykJpeg(q)},
        {"exif6", withExifOrientation(jpeg(q), 6)},
        {"bmp8", bmp(q, 8)},
        {"bmp24", bmp(q, 24)},
        {"bmp32topdown", bmp(q, 32, true)},
    };
    for (const auto &[name, data] : seeds) {
        for (const char option : {char(0), char(9)})
            writeFile(dir.filePath(QStringLiteral("%1-%2").arg(QLatin1String(name)).arg(int(option))),
                      QByteArray(1, option) + data);
    }
    return 0;
}

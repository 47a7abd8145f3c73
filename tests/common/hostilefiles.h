#pragma once
// Files that no picture could be, or that declare far more pixels than their data
// can hold: what a decoder must refuse from its first bytes. Shared by the decoder
// tests and the benchmark's bombs case.

#include "tests/common/formatpictures.h"
#include "tests/common/testpictures.h"

#include <QByteArray>
#include <QList>
#include <QString>

namespace testpics {

inline QByteArray be32(quint32 v) { return QByteArray() + char(v >> 24) + char(v >> 16) + char(v >> 8) + char(v); }
inline QByteArray le32(quint32 v) { return QByteArray() + char(v) + char(v >> 8) + char(v >> 16) + char(v >> 24); }

// A TIFF of one deflated strip of `bytes` bytes declaring w x h grey pixels.
inline QByteArray tiffDeclaring(quint32 w, quint32 h, int bytes)
{
    const auto entry = [](int tag, int type, quint32 value) {
        QByteArray e = QByteArray() + char(tag) + char(tag >> 8) + char(type) + '\0' + le32(1);
        return e + (type == 3 ? QByteArray() + char(value) + char(value >> 8) + QByteArray(2, '\0') : le32(value));
    };
    const quint32 data = 8 + 2 + 9 * 12 + 4;
    return QByteArray("II*\0", 4) + le32(8) + QByteArray("\x09\0", 2) + entry(256, 4, w) + entry(257, 4, h)
           + entry(258, 3, 8) + entry(259, 3, 8) + entry(262, 3, 1) + entry(273, 4, data) + entry(277, 3, 1)
           + entry(278, 4, h) + entry(279, 4, quint32(bytes)) + le32(0) + QByteArray(bytes, 'x');
}

// A small JPEG whose frame header declares side x side pixels.
inline QByteArray jpegDeclaring(int side)
{
    QByteArray j = jpeg(quadrants(16, 16), 50, TJSAMP_420);
    const qsizetype sof = j.indexOf(QByteArray("\xFF\xC0", 2));
    j.replace(sof + 5, 4, QByteArray() + char(side >> 8) + char(side) + char(side >> 8) + char(side));
    return j;
}

struct HostileFile {
    const char *name; // what it is
    QString fileName;
    QByteArray data;
    qint64 sparseSize = 0; // the file made this long (sparse) after the data, when set
    QString says; // part of the refusal's reason
};

// One file of each hostile kind.
inline QList<HostileFile> hostileFiles()
{
    const QByteArray vp8l = QByteArray("\x2F\xFE\xBF\xFF\x0F", 5) + QByteArray(9, '\0'); // 16383 x 16383
    const QByteArray png = qtEncoded(quadrants(64, 48), "png");
    return {
        {"600 MB that are no picture, named .jpg", QStringLiteral("movie.jpg"),
         QByteArray("\0\0\0\x20"
                    "ftypisom",
                    12),
         qint64(600) << 20, QString::fromUtf8("対応していない形式")},
        {"34-byte WebP", QStringLiteral("a.webp"), "RIFF" + le32(26) + "WEBPVP8L" + le32(14) + vp8l, 0,
         QString::fromUtf8("データが少なすぎます")},
        {"1.6 KB TIFF", QStringLiteral("b.tif"), tiffDeclaring(20000, 20000, 1500), 0,
         QString::fromUtf8("データが少なすぎます")},
        {"1 KB RLE bitmap", QStringLiteral("c.bmp"),
         bmpFile(40, 20000, 20000, 8, 1, QByteArray(1000, '\x01') + QByteArray("\0\x01", 2), {kRed}), 0,
         QString::fromUtf8("データが少なすぎます")},
        {"PNG chunk claiming 1.6 GB", QStringLiteral("d.png"),
         png.left(33) + be32(1600u << 20) + "tEXtComment" + png.mid(33), 0, QString::fromUtf8("PNG ファイルが")},
        // Present in the (sparse) file, but more than any text or profile needs.
        {"PNG text chunk of 33 MB", QStringLiteral("f.png"), png.left(33) + be32(33u << 20) + "tEXtComment",
         33 + 12 + (qint64(33) << 20) + 64, QString::fromUtf8("PNG ファイルが壊れているため")},
        {"tiny JPEG declaring 20000x20000", QStringLiteral("e.jpg"), jpegDeclaring(20000), 0,
         QString::fromUtf8("データが少なすぎます")},
    };
}

} // namespace testpics

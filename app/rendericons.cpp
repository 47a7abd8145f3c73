// Build-time tool: draws the launcher icons from the program's own artwork.
// Usage: kestrovia_icons <folder> <icon name> <size in pixels>...
// Writes <folder>/<n>x<n>/apps/<icon name>.png for each size n and
// <folder>/scalable/apps/<icon name>.svg, laid out as the hicolor theme is.

#include "app/artwork.h"

#include <QCoreApplication>
#include <QDir>
#include <QImage>
#include <QPainter>
#include <QSvgGenerator>
#include <cstdio>

namespace {

bool makeFolder(const QString &path)
{
    if (QDir().mkpath(path))
        return true;
    std::fprintf(stderr, "kestrovia_icons: cannot create %s\n", qUtf8Printable(path));
    return false;
}

} // namespace

int main(int argc, char *argv[])
{
    // Only images and files are drawn, so no window system is touched: the tool
    // runs on a build machine without a display.
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() < 4) {
        std::fputs("usage: kestrovia_icons <folder> <icon name> <size in pixels>...\n", stderr);
        return 2;
    }
    const QString root = args[1];
    const QString name = args[2];

    for (const QString &sizeText : args.mid(3)) {
        bool ok = false;
        const int size = sizeText.toInt(&ok);
        if (!ok || size < 1 || size > 1024) {
            std::fprintf(stderr, "kestrovia_icons: not an icon size: %s\n", qUtf8Printable(sizeText));
            return 2;
        }
        const QString folder = QStringLiteral("%1/%2x%2/apps").arg(root).arg(size);
        if (!makeFolder(folder))
            return 1;
        QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        {
            QPainter painter(&image);
            kestrovia::paintIcon(painter, size);
        }
        const QString file = QStringLiteral("%1/%2.png").arg(folder, name);
        if (!image.save(file, "PNG")) {
            std::fprintf(stderr, "kestrovia_icons: cannot write %s\n", qUtf8Printable(file));
            return 1;
        }
    }

    // The same painter calls recorded as vector paths, for any size a launcher asks for.
    const QString folder = root + QStringLiteral("/scalable/apps");
    if (!makeFolder(folder))
        return 1;
    constexpr int kSvgSize = 256;
    QSvgGenerator svg;
    svg.setFileName(QStringLiteral("%1/%2.svg").arg(folder, name));
    svg.setSize(QSize(kSvgSize, kSvgSize));
    svg.setViewBox(QRect(0, 0, kSvgSize, kSvgSize));
    svg.setTitle(QStringLiteral("Kestrovia"));
    QPainter painter;
    if (!painter.begin(&svg)) {
        std::fprintf(stderr, "kestrovia_icons: cannot write %s\n", qUtf8Printable(svg.fileName()));
        return 1;
    }
    kestrovia::paintIcon(painter, kSvgSize);
    return painter.end() ? 0 : 1;
}

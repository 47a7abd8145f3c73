#include "compose/imagebuffer.h"

#include "platform/failure.h"

#include <cstdlib>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace kestrovia {

namespace {

constexpr std::size_t kHugePage = std::size_t(2) << 20;

void *allocate(std::size_t bytes)
{
    if (bytes < 2 * kHugePage)
        return std::malloc(bytes ? bytes : 1);
    const std::size_t rounded = (bytes + kHugePage - 1) / kHugePage * kHugePage;
    void *p = nullptr;
    if (posix_memalign(&p, kHugePage, rounded) != 0)
        return nullptr;
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    madvise(p, rounded, MADV_HUGEPAGE); // a hint; plain pages if refused
#endif
    return p;
}

[[noreturn]] void outOfMemory(std::size_t bytes)
{
    throw Failure(QString::fromUtf8("画像のためのメモリが足りません（%1 MB）").arg(double(bytes) / 1048576.0, 0, 'f', 1));
}

} // namespace

void FreeDeleter::operator()(void *p) const { std::free(p); }

QImage newImage(int width, int height)
{
    if (width <= 0 || height <= 0)
        return QImage(qMax(width, 0), qMax(height, 0), QImage::Format_RGB32);
    const qsizetype bpl = qsizetype(width) * 4;
    const std::size_t bytes = std::size_t(bpl) * std::size_t(height);
    void *p = allocate(bytes);
    if (!p)
        outOfMemory(bytes);
    QImage img(static_cast<uchar *>(p), width, height, bpl, QImage::Format_RGB32,
               [](void *info) { std::free(info); }, p);
    if (img.isNull()) {
        std::free(p);
        outOfMemory(bytes);
    }
    return img;
}

std::unique_ptr<unsigned char[], FreeDeleter> newBuffer(std::size_t bytes)
{
    void *p = allocate(bytes);
    if (!p)
        outOfMemory(bytes);
    return std::unique_ptr<unsigned char[], FreeDeleter>(static_cast<unsigned char *>(p));
}

} // namespace kestrovia

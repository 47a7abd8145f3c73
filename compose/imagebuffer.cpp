#include "compose/imagebuffer.h"

#include "platform/failure.h"
#include "platform/japanese.h"

#include <cstdlib>
#include <mutex>
#include <unordered_map>
#include <vector>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace kestrovia {

namespace {

constexpr std::size_t kHugePage = std::size_t(2) << 20;
// Blocks kept for reuse, in all: a few canvases. Rows are decoded in bands now, so
// large blocks are canvases and the few pictures decoded whole; keeping more only
// raised the batch's resident memory.
constexpr std::size_t kCacheLimit = std::size_t(64) << 20;

// Large blocks: their sizes while in use, and the ones given back for reuse.
struct Blocks {
    std::mutex mutex;
    std::unordered_map<void *, std::size_t> inUse;
    std::vector<std::pair<void *, std::size_t>> cached;
    std::size_t cachedBytes = 0;
};

Blocks &blocks()
{
    // Never destroyed: an image freed while the program exits still finds it, and
    // the kept blocks stay reachable rather than lost.
    static Blocks *const b = new Blocks;
    return *b;
}

void *allocate(std::size_t bytes)
{
    if (bytes < 2 * kHugePage)
        return std::malloc(bytes ? bytes : 1);
    const std::size_t rounded = (bytes + kHugePage - 1) / kHugePage * kHugePage;
    Blocks &b = blocks();
    {
        const std::lock_guard lock(b.mutex);
        // The smallest kept block that fits without wasting more than a quarter.
        auto best = b.cached.end();
        for (auto it = b.cached.begin(); it != b.cached.end(); ++it) {
            if (it->second >= rounded && it->second <= rounded + rounded / 4
                && (best == b.cached.end() || it->second < best->second))
                best = it;
        }
        if (best != b.cached.end()) {
            void *p = best->first;
            b.inUse.emplace(p, best->second);
            b.cachedBytes -= best->second;
            b.cached.erase(best);
            return p;
        }
    }
    void *p = nullptr;
    if (posix_memalign(&p, kHugePage, rounded) != 0)
        return nullptr;
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    madvise(p, rounded, MADV_HUGEPAGE); // a hint; plain pages if refused
#endif
    const std::lock_guard lock(b.mutex);
    b.inUse.emplace(p, rounded);
    return p;
}

void release(void *p)
{
    Blocks &b = blocks();
    {
        const std::lock_guard lock(b.mutex);
        const auto it = b.inUse.find(p);
        if (it != b.inUse.end()) {
            const std::size_t size = it->second;
            b.inUse.erase(it);
            if (b.cachedBytes + size <= kCacheLimit) {
                b.cached.emplace_back(p, size);
                b.cachedBytes += size;
                return;
            }
        }
    }
    std::free(p);
}

[[noreturn]] void outOfMemory(std::size_t bytes)
{
    throw Failure(ja("画像のためのメモリが足りません（%1 MB）").arg(double(bytes) / 1048576.0, 0, 'f', 1));
}

} // namespace

void FreeDeleter::operator()(void *p) const { release(p); }

namespace {

QImage newImageOf(int width, int height, QImage::Format format, int bytesPerPixel)
{
    if (width <= 0 || height <= 0)
        return QImage(qMax(width, 0), qMax(height, 0), format);
    // Rows on 4-byte boundaries, as QImage expects.
    const qsizetype bpl = (qsizetype(width) * bytesPerPixel + 3) / 4 * 4;
    const std::size_t bytes = std::size_t(bpl) * std::size_t(height);
    void *p = allocate(bytes);
    if (!p)
        outOfMemory(bytes);
    QImage img(
        static_cast<uchar *>(p), width, height, bpl, format, [](void *info) { release(info); }, p);
    if (img.isNull()) {
        release(p);
        outOfMemory(bytes);
    }
    return img;
}

} // namespace

QImage newImage(int width, int height) { return newImageOf(width, height, QImage::Format_RGB32, 4); }

QImage newPlane(int width, int height) { return newImageOf(width, height, QImage::Format_Grayscale8, 1); }

std::unique_ptr<unsigned char[], FreeDeleter> newBuffer(std::size_t bytes)
{
    void *p = allocate(bytes);
    if (!p)
        outOfMemory(bytes);
    return std::unique_ptr<unsigned char[], FreeDeleter>(static_cast<unsigned char *>(p));
}

void releaseCachedBuffers()
{
    Blocks &b = blocks();
    std::vector<std::pair<void *, std::size_t>> cached;
    {
        const std::lock_guard lock(b.mutex);
        cached.swap(b.cached);
        b.cachedBytes = 0;
    }
    for (const auto &[p, size] : cached)
        std::free(p);
}

} // namespace kestrovia

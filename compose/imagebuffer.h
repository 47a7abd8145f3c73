#pragma once
// Pixel memory for large pictures.
//
// A 12-megapixel picture is 48 MB; taken in 4 KB pages, every first touch is a page
// fault, which on virtual machines costs as much as decoding the pixels. Large
// buffers are therefore aligned to 2 MB and offered to the kernel as huge pages,
// and a batch that decodes one photo after another reuses the blocks the previous
// rows gave back instead of having the kernel clear fresh pages for every row.

#include <QImage>

#include <cstddef>
#include <memory>

namespace kestrovia {

// A Format_RGB32 image of w x h pixels, contents undefined. Throws Failure when the
// memory cannot be had.
QImage newImage(int width, int height);

// A Format_Grayscale8 image of w x h pixels (a colour plane), contents undefined.
QImage newPlane(int width, int height);

struct FreeDeleter {
    void operator()(void *p) const;
};

// Uninitialised raw memory of `bytes` bytes, huge-page backed when large. Throws
// Failure when the memory cannot be had.
std::unique_ptr<unsigned char[], FreeDeleter> newBuffer(std::size_t bytes);

// Large blocks given back are kept (up to a bound) for the next allocation of about
// the same size. This returns them to the system, e.g. when a batch has ended.
void releaseCachedBuffers();

} // namespace kestrovia

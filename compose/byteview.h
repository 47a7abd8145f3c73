#pragma once
// A bounds-checked view over a file's bytes for the header parsers: every read
// first asks has(), so a crafted length or offset never reads outside the data.

#include <QByteArray>

#include <cstdint>
#include <cstring>

namespace kestrovia {

struct ByteView {
    const std::uint8_t *p = nullptr;
    qint64 size = 0;

    static ByteView of(const QByteArray &data)
    {
        return {reinterpret_cast<const std::uint8_t *>(data.constData()), data.size()};
    }
    bool has(qint64 at, qint64 n) const { return at >= 0 && n >= 0 && at <= size && n <= size - at; }
    bool is(qint64 at, const char *magic, qint64 n) const
    {
        return has(at, n) && std::memcmp(p + at, magic, size_t(n)) == 0;
    }
    std::uint32_t be16(qint64 at) const { return (std::uint32_t(p[at]) << 8) | p[at + 1]; }
    std::uint32_t be32(qint64 at) const { return (be16(at) << 16) | be16(at + 2); }
    std::uint32_t le16(qint64 at) const { return p[at] | (std::uint32_t(p[at + 1]) << 8); }
    std::uint32_t le32(qint64 at) const { return le16(at) | (le16(at + 2) << 16); }
    QByteArray bytes(qint64 at, qint64 n) const { return QByteArray(reinterpret_cast<const char *>(p + at), n); }
};

} // namespace kestrovia

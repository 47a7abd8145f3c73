#pragma once
// A Japanese text of the source as a QString. The sources are UTF-8, and
// QT_NO_CAST_FROM_ASCII keeps a narrow literal from becoming a QString by accident;
// this makes the conversion on purpose, in one place.

#include <QString>

namespace kestrovia {

inline QString ja(const char *text) { return QString::fromUtf8(text); }

} // namespace kestrovia

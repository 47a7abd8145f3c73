#pragma once
// Japanese reasons for the operating system's error numbers. The C library's own
// texts ("Permission denied", "No space left on device") are English and mean
// little to the people who use this program, so every file error that reaches a
// message goes through here.

#include <QString>

namespace kestrovia {

// A short reason for errno value err, e.g. "ディスクの空き容量が足りません".
// Unknown numbers give a generic reason that still carries the number.
QString systemErrorReason(int err);

} // namespace kestrovia

#pragma once
// The application-wide busy pointer. One override cursor is set or removed, never
// stacked, so that any number of set() calls is undone by one restore(). Without a
// GUI application (engine tests, command-line tools) both calls do nothing.

namespace kestrovia::BusyPointer {

void set();
void restore();
bool isBusy();

} // namespace kestrovia::BusyPointer

#pragma once
// `kestrovia --batch`: the batch without a window. The named files and folders
// become rows as a drop makes them, with the settings of a preset (--preset) or
// the start-up values, changed by the options; the rows are planned and converted
// by the window's own plan and pipeline. It needs only a QCoreApplication: no
// display, no window system, so it runs over SSH and from cron.

#include <QString>
#include <QStringList>

namespace kestrovia {

// Exit statuses: every file written; some failed or were not written; the command
// line cannot be understood; stopped by SIGINT or SIGTERM (128 + the signal).
inline constexpr int kBatchAllWritten = 0;
inline constexpr int kBatchNotAllWritten = 1;
inline constexpr int kBatchUsageError = 2;

// Whether the command line asks for the batch without a window (--batch).
bool asksForBatch(const QStringList &arguments);

// Runs the batch the arguments (the program's name first) describe, reporting
// progress and the summary on standard error (--help on standard output), and
// returns the exit status. A QCoreApplication must exist; SIGINT and SIGTERM are
// handled while it runs: no row starts any more, the rows in flight end (a file is
// written whole or not at all), and the status is 130 or 143.
int runBatchCommand(const QStringList &arguments);

// The options of the batch, as --help lists them (the window's --help too).
QString batchOptionsHelp();

} // namespace kestrovia

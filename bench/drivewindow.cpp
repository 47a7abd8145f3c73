// Drives the real program's main window from inside it, for bench/hostile.sh:
// loaded with LD_PRELOAD into an unmodified `kestrovia` (ours or another build's),
// it waits until the window's event loop first turns and 処理実行 can be pressed
// (the files named on the command line are rows by then, added as a drop adds
// them), presses it,
// waits for the run's end, prints one line to standard output and ends the
// process. It reaches the window only through Qt and the controls' object names,
// so the same module drives any build of the program.
//
//   drive rows=<rows added> add_ms=<start to 処理実行 ready, the files added>
//         run_ms=<処理実行 to the end> longest_gap_ms=<event loop, during the run>
//         [cancel_ms=<中止 to the end>] result="<the strip's note or the message>"
//
// Environment: KESTROVIA_DRIVE_CANCEL_MS=n presses 中止 n ms into the run;
// KESTROVIA_DRIVE_TIMEOUT_S (default 600) ends a run that takes longer, with
// result="timeout". Messages are answered with their default button; the line
// carries their text.

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QApplication>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <unistd.h>

namespace {

struct Drive {
    QElapsedTimer clock; // from the application's construction
    QWidget *window = nullptr;
    QPushButton *start = nullptr;
    QProgressBar *bar = nullptr;
    double addMs = 0, pressedAt = 0, cancelAt = -1, lastTick = 0, longestGap = 0;
    bool barSeen = false;
    int cancelAfter = -1, timeoutS = 600, rows = 0;
    QTimer poll;
};

Drive *g_drive = nullptr;

double now() { return g_drive->clock.nsecsElapsed() / 1e6; }

QString oneLine(QString text) { return text.replace(u'\n', u' ').replace(u'"', u'\''); }

// Prints the line and ends at once: a decode that cannot be stopped must not
// hold the process (and the measure) after the run has ended.
[[noreturn]] void finish(const QString &result)
{
    Drive &d = *g_drive;
    const double end = now();
    std::printf("drive rows=%d add_ms=%.0f run_ms=%.0f longest_gap_ms=%.0f", d.rows, d.addMs, end - d.pressedAt,
                d.longestGap);
    if (d.cancelAt >= 0)
        std::printf(" cancel_ms=%.0f", end - d.cancelAt);
    std::printf(" result=\"%s\"\n", oneLine(result).toUtf8().constData());
    std::fflush(stdout);
    ::_exit(0);
}

QMessageBox *openMessage()
{
    for (QWidget *w : QApplication::topLevelWidgets())
        if (auto *box = qobject_cast<QMessageBox *>(w); box && box->isVisible())
            return box;
    return nullptr;
}

void tick()
{
    Drive &d = *g_drive;
    const double t = now();
    d.longestGap = std::max(d.longestGap, t - d.lastTick);
    d.lastTick = t;
    if (QMessageBox *box = openMessage()) {
        QString text = box->text();
        if (!box->informativeText().isEmpty())
            text += u' ' + box->informativeText();
        if (!box->detailedText().isEmpty())
            text += u' ' + box->detailedText();
        finish(text);
    }
    if (d.bar->isVisible())
        d.barSeen = true;
    if (d.cancelAfter >= 0 && d.cancelAt < 0 && t - d.pressedAt >= d.cancelAfter && d.bar->isVisible()) {
        d.cancelAt = t;
        d.start->click();
    }
    // The run is over once the bar has gone again; a message that ends a run is
    // shown before the loop turns again, so one more tick finds it.
    static int afterEnd = 0;
    if (d.barSeen && !d.bar->isVisible() && ++afterEnd > 2) {
        const auto *note = d.window->findChild<QLabel *>(QStringLiteral("Label15"));
        finish(note ? note->text() : QString());
    }
    if (t - d.pressedAt > d.timeoutS * 1000.0)
        finish(QStringLiteral("timeout"));
}

void press()
{
    Drive &d = *g_drive;
    d.addMs = now();
    for (QWidget *w : QApplication::topLevelWidgets())
        if (w->objectName() == u"Form1")
            d.window = w;
    if (!d.window) {
        QTimer::singleShot(5, press); // not shown yet
        return;
    }
    d.start = d.window->findChild<QPushButton *>(QStringLiteral("BtnMain"));
    d.bar = d.window->findChild<QProgressBar *>(QStringLiteral("ProgressBar1"));
    const auto *grid = d.window->findChild<QAbstractItemView *>(QStringLiteral("PicsGalary"));
    if (!d.start || !d.bar || !grid)
        finish(QStringLiteral("no window controls"));
    if (!d.start->isEnabled()) {
        QTimer::singleShot(5, press); // the files are still being added
        return;
    }
    d.rows = grid->model() ? grid->model()->rowCount() : 0;
    if (d.rows == 0) {
        // Nothing became a row: the strip says why, and there is nothing to run.
        const auto *note = d.window->findChild<QLabel *>(QStringLiteral("Label15"));
        finish(note ? note->text() : QString());
    }
    d.poll.setTimerType(Qt::PreciseTimer);
    d.poll.setInterval(5);
    QObject::connect(&d.poll, &QTimer::timeout, tick);
    d.poll.start();
    d.pressedAt = d.lastTick = now();
    d.start->click();
}

void install()
{
    if (!qobject_cast<QApplication *>(QCoreApplication::instance()))
        return; // --help, --version: no window
    g_drive = new Drive;
    g_drive->clock.start();
    bool stops = false;
    const int stopAfter = qEnvironmentVariableIntValue("KESTROVIA_DRIVE_CANCEL_MS", &stops);
    g_drive->cancelAfter = stops ? stopAfter : -1;
    if (const int t = qEnvironmentVariableIntValue("KESTROVIA_DRIVE_TIMEOUT_S"); t > 0)
        g_drive->timeoutS = t;
    // The first turn of the event loop: main() has opened the window and added the
    // rows by then.
    QTimer::singleShot(0, press);
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(install)

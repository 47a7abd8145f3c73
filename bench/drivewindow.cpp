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
// KESTROVIA_DRIVE_DROP=<folder> drops the folder on the job list instead (as a
// file manager does: text/uri-list) once the window is up, and prints
//
//   drop rows=<rows added> drop_ms=<drop to the rows in and 処理実行 ready>
//        longest_gap_ms=<between ticks of a 10 ms timer on the event loop>
//        longest_turn_cpu_ms=<the window thread's processor time between two ticks>
//        rows_then=<the rows in after that longest turn>
//        idle_gap_ms=<the timer's longest gap in a second of the idle window before>
//
// Environment: KESTROVIA_DRIVE_CANCEL_MS=n presses 中止 n ms into the run;
// KESTROVIA_DRIVE_TIMEOUT_S (default 600) ends a run that takes longer, with
// result="timeout". Messages are answered with their default button; the line
// carries their text.

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QApplication>
#include <QCoreApplication>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QLabel>
#include <QMessageBox>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <ctime>
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

// The drop: a 10 ms timer ticks on the window's event loop from before the drop to
// the end; the drop ends once its rows are in and 処理実行 can be pressed again.
void dropFolder()
{
    Drive &d = *g_drive;
    for (QWidget *w : QApplication::topLevelWidgets())
        if (w->objectName() == u"Form1" && w->isVisible())
            d.window = w;
    if (!d.window) {
        QTimer::singleShot(5, dropFolder);
        return;
    }
    d.start = d.window->findChild<QPushButton *>(QStringLiteral("BtnMain"));
    auto *grid = d.window->findChild<QAbstractItemView *>(QStringLiteral("PicsGalary"));
    if (!d.start || !grid || !grid->model())
        finish(QStringLiteral("no window controls"));
    static double dropAt = 0;
    static double idleGap = 0; // the same timer's longest gap before the drop
    // The window thread's processor time between two ticks: the work of one turn of
    // the event loop, which a loaded machine does not stretch as it does the gap.
    static double lastCpu = 0, longestCpu = 0;
    static int longestCpuRows = 0; // the rows in after that turn
    static int turns = 0;
    d.poll.setTimerType(Qt::PreciseTimer);
    d.poll.setInterval(10);
    QObject::connect(&d.poll, &QTimer::timeout, [grid] {
        Drive &d = *g_drive;
        const double t = now();
        (dropAt > 0 ? d.longestGap : idleGap) = std::max(dropAt > 0 ? d.longestGap : idleGap, t - d.lastTick);
        d.lastTick = t;
        timespec cpu{};
        ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &cpu);
        const double cpuMs = cpu.tv_sec * 1e3 + cpu.tv_nsec / 1e6;
        if (dropAt > 0 && cpuMs - lastCpu > longestCpu) {
            longestCpu = cpuMs - lastCpu;
            longestCpuRows = grid->model()->rowCount();
        }
        lastCpu = cpuMs;
        if (dropAt == 0)
            return;
        // Two quiet ticks with the rows in and 処理実行 ready: the drop is over.
        const int rows = grid->model()->rowCount();
        turns = rows > 0 && d.start->isEnabled() && rows == d.rows ? turns + 1 : 0;
        d.rows = rows;
        if (turns >= 2) {
            std::printf("drop rows=%d drop_ms=%.0f longest_gap_ms=%.0f longest_turn_cpu_ms=%.0f rows_then=%d "
                        "idle_gap_ms=%.0f\n",
                        rows, t - dropAt, d.longestGap, longestCpu, longestCpuRows, idleGap);
            std::fflush(stdout);
            ::_exit(0);
        }
        if (t - dropAt > d.timeoutS * 1000.0)
            finish(QStringLiteral("timeout"));
    });
    d.lastTick = now();
    d.poll.start();
    // A second of the idle window first: the gap the machine's load alone makes.
    QTimer::singleShot(1000, [grid] {
        static QMimeData data;
        const QByteArray folder = qgetenv("KESTROVIA_DRIVE_DROP");
        data.setData(QStringLiteral("text/uri-list"), "file://" + folder.toPercentEncoding("/") + "\r\n");
        QWidget *target = grid->viewport();
        const QPoint pos = target->rect().center();
        dropAt = now();
        QDragEnterEvent enter(pos, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(target, &enter);
        QDragMoveEvent move(pos, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(target, &move);
        QDropEvent drop(QPointF(pos), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(target, &drop);
    });
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
    if (qEnvironmentVariableIsSet("KESTROVIA_DRIVE_DROP")) {
        QTimer::singleShot(0, dropFolder);
        return;
    }
    // The first turn of the event loop: main() has opened the window and added the
    // rows by then.
    QTimer::singleShot(0, press);
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(install)

#include "platform/busypointer.h"

#include <QCursor>
#include <QGuiApplication>

namespace kestrovia::BusyPointer {

namespace {
bool g_busy = false;

bool haveGui() { return qobject_cast<QGuiApplication *>(QCoreApplication::instance()) != nullptr; }
} // namespace

void set()
{
    if (g_busy)
        return;
    g_busy = true;
    if (haveGui())
        QGuiApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
}

void restore()
{
    if (!g_busy)
        return;
    g_busy = false;
    if (haveGui())
        QGuiApplication::restoreOverrideCursor();
}

bool isBusy() { return g_busy; }

} // namespace kestrovia::BusyPointer

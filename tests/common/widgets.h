#pragma once
// Helpers for the tests that drive windows: controls by their names, a window on
// screen and a real drop of files.

#include "platform/filename.h"
#include "tests/common/jobrows.h"

#include <QCoreApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QTest>
#include <QUrl>
#include <QWidget>

namespace testui {

// The control of window named name (its objectName); fails the test when missing.
template <typename T> T *control(const QObject *window, const char *name)
{
    T *found = window->findChild<T *>(QString::fromUtf8(name));
    if (!found)
        qFatal("no control named %s", name);
    return found;
}

// Shows w and waits until it is on screen (and active, when asked).
inline bool shown(QWidget *w, bool active = false)
{
    w->show();
    return active ? QTest::qWaitForWindowActive(w) : QTest::qWaitForWindowExposed(w);
}

inline bool dropData(QWidget *target, const QMimeData &data);

// A drop as the file manager sends it: enter, move and drop on target (a view's
// viewport). Returns whether the drag was accepted. paths may carry bytes that
// are no UTF-8 (decodeFileName).
inline bool dropFiles(QWidget *target, const QStringList &paths)
{
    QMimeData data;
    QList<QUrl> urls;
    // Percent-encoded from the name's own bytes, as file managers send them.
    for (const QString &p : paths)
        urls << QUrl::fromEncoded("file://" + kestrovia::encodeFileName(p).toPercentEncoding("/"));
    data.setUrls(urls);
    return dropData(target, data);
}

// A drop of data as a drag from another program sends it: enter, move and drop on
// target. Returns whether the drag was accepted.
inline bool dropData(QWidget *target, const QMimeData &data)
{
    const QPoint pos = target->rect().center();
    QDragEnterEvent enter(pos, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &enter);
    QDragMoveEvent move(pos, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &move);
    QDropEvent drop(QPointF(pos), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &drop);
    return enter.isAccepted();
}

} // namespace testui

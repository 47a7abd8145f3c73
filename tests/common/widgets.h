#pragma once
// Helpers for the tests that drive windows: controls by their names, a real drop of
// files, and job rows made directly in the table.

#include "compose/jobrow.h"
#include "joblist/jobcolumns.h"
#include "joblist/jobtable.h"

#include <QCoreApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QMimeData>
#include <QTest>
#include <QUrl>
#include <QWidget>

namespace testui {

// The control of window named name (its objectName); fails the test when missing.
template <typename T>
T *control(const QObject *window, const char *name)
{
    T *found = window->findChild<T *>(QString::fromUtf8(name));
    if (!found)
        qFatal("no control named %s", name);
    return found;
}

// A drop as the file manager sends it: enter, move and drop on target (a view's
// viewport). Returns whether the drag was accepted.
inline bool dropFiles(QWidget *target, const QStringList &paths)
{
    QMimeData data;
    QList<QUrl> urls;
    for (const QString &p : paths)
        urls << QUrl::fromLocalFile(p);
    data.setUrls(urls);
    const QPoint pos = target->rect().center();
    QDragEnterEvent enter(pos, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &enter);
    QDragMoveEvent move(pos, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &move);
    QDropEvent drop(QPointF(pos), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &drop);
    return enter.isAccepted();
}

// A job row as a drop with the panel untouched would make it, into folder.
inline kestrovia::JobRow jobFor(const QString &path, const QString &folder)
{
    kestrovia::JobRow j;
    j.fileName = QFileInfo(path).fileName();
    j.path = path;
    j.fit = QStringLiteral("OFF");
    j.backColor = QStringLiteral("-2147483643");
    j.position = QStringLiteral("Top");
    j.saveFolder = folder;
    j.compression = QStringLiteral("5");
    return j;
}

// All cells of row r.
inline QStringList rowCells(const kestrovia::JobTable &t, int r)
{
    QStringList out;
    for (int c = 0; c < t.Cols(); ++c)
        out << t.TextMatrix(r, c);
    return out;
}

// Every cell of the table, header included.
inline QList<QStringList> allCells(const kestrovia::JobTable &t)
{
    QList<QStringList> out;
    for (int r = 0; r < t.Rows(); ++r)
        out << rowCells(t, r);
    return out;
}

} // namespace testui

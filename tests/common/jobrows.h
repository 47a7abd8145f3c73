#pragma once
// Job rows made directly, and the table's cells read back, for tests without a window.

#include "compose/jobrow.h"
#include "joblist/jobcolumns.h"
#include "joblist/jobtable.h"

#include <QFileInfo>
#include <QStringList>

namespace testui {

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

// The row written in format, keeping transparency or not, as the panel sets it.
inline kestrovia::JobRow &writtenAs(kestrovia::JobRow &row, kestrovia::OutputFormat format,
                                    bool keepTransparency = false)
{
    kestrovia::RowSettings s;
    s.format = format;
    s.keepTransparency = keepTransparency;
    kestrovia::writeRowField(row, kestrovia::RowField::Format, s);
    kestrovia::writeRowField(row, kestrovia::RowField::Transparency, s);
    return row;
}

// Column col of every job row.
inline QStringList column(const kestrovia::JobTable &t, int col)
{
    QStringList out;
    for (int r = 1; r < t.Rows(); ++r)
        out << t.TextMatrix(r, col);
    return out;
}

// Every cell of the table, row by row, header included.
inline QList<QStringList> allCells(const kestrovia::JobTable &t)
{
    QList<QStringList> out(t.Rows());
    for (int r = 0; r < t.Rows(); ++r)
        for (int c = 0; c < t.Cols(); ++c)
            out[r] << t.TextMatrix(r, c);
    return out;
}

} // namespace testui

#pragma once
// How the list shows a stored cell text to people: words and a swatch instead of the
// job table's internal texts ("OFF", "Top", "-2147483643", "1600*1200"). Display only:
// the table keeps its texts, and every reader of a row still reads those.

#include <QColor>
#include <QString>

namespace kestrovia {

struct CellView {
    QString text; // what the list shows (and a screen reader reads)
    QString toolTip; // why a text shows as it does; empty when there is nothing to add
    QColor swatch; // the colour the output gets (ColBackColor); invalid elsewhere
    bool problem = false; // the row cannot be converted as the text stands (toolTip says why)
};

// The readable form of the text stored in column column. Each word says what the
// program does with the text: a position other than "Center" shows 左上 because it
// places the picture top-left, a turn outside the list shows なし, a level shows
// the whole level the export uses. Texts no rule gives a word for show as stored.
// A new size that cannot be written (a rule's size past the limits) is a problem.
CellView cellView(int column, const QString &stored);

} // namespace kestrovia

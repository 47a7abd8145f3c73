#pragma once
// What the selection sync shows of the current row in the settings panel. The panel
// is a widget of the main window; the sync knows it only through this. Showing is
// not editing: none of these raises what a user's change of the control raises, so
// looking at a row never writes it.

#include "compose/jobrow.h"

#include <QSize>
#include <cstdint>

namespace kestrovia {

class JobPanel {
public:
    virtual ~JobPanel() = default;

    // 完全プレビュー is checked: the preview shows the turn too.
    virtual bool completePreview() const = 0;
    // The row's turn (when its text is one of the list's), fit and position (when
    // "Top" or "Center").
    virtual void showPictureSettings(const JobRow &job) = 0;
    // The background colour, and the level bar at levelScroll (ten times the
    // level's whole part: a row's 5.5 shows as 50 and stays 5.5).
    virtual void showColorAndLevel(std::int32_t color, int levelScroll) = 0;
    // The size fields, in pixels.
    virtual void showSize(QSize pixels) = 0;
};

} // namespace kestrovia

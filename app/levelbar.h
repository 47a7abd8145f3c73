#pragma once
// The level bar CompressLevel: a scroll bar that shows when it has the keyboard
// focus. Styles draw no focus for scroll bars, since they seldom take it; this one
// is a setting that Tab reaches.

#include <QScrollBar>

namespace kestrovia {

class LevelBar : public QScrollBar {
    Q_OBJECT
public:
    using QScrollBar::QScrollBar;

protected:
    void paintEvent(QPaintEvent *event) override;
};

} // namespace kestrovia

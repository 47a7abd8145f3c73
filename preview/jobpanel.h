#pragma once
// What the selection sync asks of the settings panel, a widget of the main window
// that the sync knows only through this. The panel shows the rows itself, from the
// table; the sync only needs to know how complete a preview the user wants.

namespace kestrovia {

class JobPanel {
public:
    virtual ~JobPanel() = default;

    // 完全プレビュー is checked: the preview shows the turn too.
    virtual bool completePreview() const = 0;
};

} // namespace kestrovia

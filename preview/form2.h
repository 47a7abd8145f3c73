#pragma once
// The preview window: shows the current job at its output size, one screen
// pixel per output pixel, and owns the four drawing surfaces that the selection
// sync and the batch run draw on. Only PicPreview is visible.

#include "platform/units.h"

#include <QWidget>
#include <functional>
#include <optional>

namespace kestrovia {

class Surface;
class SurfaceView;

class Form2 : public QWidget {
    Q_OBJECT
public:
    explicit Form2(TwipsPerPixel tpp, QWidget *parent = nullptr);
    ~Form2() override;

    TwipsPerPixel twipsPerPixel() const { return m_tpp; }

    Surface *PicPreview() const { return m_picPreview; }
    Surface *SupportPicture() const { return m_supportPicture; }
    Surface *CompletePicture() const { return m_completePicture; }
    Surface *PicNormal() const { return m_picNormal; }
    SurfaceView *picPreviewView() const { return m_picPreviewView; }

    // Client area in twips.
    int clientWidthTwips() const;
    int clientHeightTwips() const;
    // Resizes the window so that its client area has exactly the preview
    // area's outer size (the preview area sits at the client's top-left).
    void fitToPreviewArea();

    // Set while the preview shows a successfully synced job and no batch row is
    // being worked on; only then does a resize by the user set a new output size.
    bool PreviewReady = false;

    // Places the window's outer top-left corner (frame included) at p. The
    // frame is only known once the window is shown, so a hidden window is
    // placed again when it first appears.
    void placeFrameAt(const QPoint &p);

    // Run on every size change of the window, by the user or by the program.
    std::function<void()> onResize;

protected:
    void resizeEvent(QResizeEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    TwipsPerPixel m_tpp;
    Surface *m_picPreview;
    Surface *m_supportPicture;
    Surface *m_completePicture;
    Surface *m_picNormal;
    SurfaceView *m_picPreviewView;
    std::optional<QPoint> m_framePos;
};

} // namespace kestrovia

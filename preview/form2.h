#pragma once
// The preview window: shows the current job at its output size, one screen
// pixel per output pixel, and owns the four drawing surfaces that the selection
// sync and the batch run draw on. Only PicPreview is visible.

#include "platform/units.h"

#include <QWidget>
#include <functional>

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

    // The client area in device pixels: its logical size times the device pixel
    // ratio, rounded. One preview pixel is one device pixel, so on a 200% screen
    // a 400 x 300 output shows in a 200 x 150 window.
    QSize clientPixelSize() const;
    // Resizes the window so that its client area shows the whole preview area one
    // device pixel per pixel (the preview area sits at the client's top-left), but
    // never larger than the screen's free area: a larger output shows its top-left
    // part, and the window's border stays within reach.
    void fitToPreviewArea();
    // True while the client area has the size the last fit asked for: a resize
    // then is the echo of that fit (or of the window manager holding it to the
    // screen), not a size the user chose.
    bool showsFittedSize() const;

    // Set while the preview shows a successfully synced job and no batch row is
    // being worked on; only then does a resize by the user set a new output size.
    bool PreviewReady = false;

    // Run on every size change of the window, by the user or by the program.
    std::function<void()> onResize;

protected:
    void resizeEvent(QResizeEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    TwipsPerPixel m_tpp;
    Surface *m_picPreview;
    Surface *m_supportPicture;
    Surface *m_completePicture;
    Surface *m_picNormal;
    SurfaceView *m_picPreviewView;
    QSize m_fitted;
};

} // namespace kestrovia

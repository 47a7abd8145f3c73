#pragma once
// The preview window: shows the current job at its output size, one output pixel
// per device pixel, in its preview area PicPreview. Resizing it by hand sets the
// current job's output size (the selection sync listens to resized()).

#include <QWidget>

namespace kestrovia {

class Surface;
class SurfaceView;

class Form2 : public QWidget {
    Q_OBJECT
public:
    explicit Form2(QWidget *parent = nullptr);
    ~Form2() override;

    Surface *PicPreview() const { return m_picPreview; }
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
    // Moves the window back onto the screen's free area if its frame reaches past it.
    void keepOnScreen();

signals:
    // Every size change of the window while it is shown, by the user or by the
    // program.
    void resized();

protected:
    void resizeEvent(QResizeEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    Surface *m_picPreview;
    SurfaceView *m_picPreviewView;
    QSize m_fitted;
};

} // namespace kestrovia

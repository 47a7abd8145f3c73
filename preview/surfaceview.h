#pragma once
// Shows a Surface on screen one surface pixel per device pixel and keeps the
// widget's geometry equal to the surface's (twips to device pixels to logical
// units).

#include <QPointer>
#include <QWidget>

namespace kestrovia {

class Surface;

class SurfaceView : public QWidget {
    Q_OBJECT
public:
    SurfaceView(Surface *surface, QWidget *parent = nullptr);

    Surface *surface() const { return m_surface; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void followGeometry();

    Surface *m_surface;
};

} // namespace kestrovia

#pragma once
// A drawing surface of the preview window: a picture and its geometry in twips (15
// a pixel), in the window's client coordinates. One surface pixel is one device
// pixel on screen; SurfaceView shows it.

#include <QImage>
#include <QObject>
#include <QRectF>
#include <QSize>
#include <QString>
#include <cstdint>

namespace kestrovia {

class Surface : public QObject {
    Q_OBJECT
public:
    explicit Surface(QObject *parent = nullptr);

    // Outer geometry in twips; a negative size is taken as 0.
    int left() const { return m_left; }
    int top() const { return m_top; }
    int width() const { return m_width; }
    int height() const { return m_height; }
    void setGeometry(int leftTwips, int topTwips, int widthTwips, int heightTwips);
    void resize(int widthTwips, int heightTwips);
    // floor(twips / 15) per axis.
    QSize pixelSize() const;

    // Shown wherever no picture is (0x00BBGGRR or a system colour reference).
    std::int32_t backColor() const { return m_backColor; }
    void setBackColor(std::int32_t colorValue);

    // The picture, drawn from the top-left over the surface's present pixel size:
    // the rectangle extent of image (its own rectangle when empty) stands for the
    // whole picture, so a reduced decode is shown scaled. A later resize keeps the
    // drawing where it is (uncovered pixels show the back colour). Shared, not
    // copied. A null image shows the back colour only.
    void setPicture(const QImage &image, const QRectF &extent = {});
    const QImage &picture() const { return m_picture; }
    QRectF extent() const { return m_extent; }
    // The pixels the picture covers, from the top-left.
    QSize drawnSize() const { return m_drawnSize; }

    // A text shown instead of a picture (why there is none); setting one drops the
    // picture, and setting a picture drops the text.
    void setMessage(const QString &text);
    const QString &message() const { return m_message; }

signals:
    void changed();
    void geometryChanged();

private:
    int m_left = 0, m_top = 0, m_width = 0, m_height = 0;
    std::int32_t m_backColor;
    QImage m_picture;
    QRectF m_extent;
    QSize m_drawnSize;
    QString m_message;
};

} // namespace kestrovia

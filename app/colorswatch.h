#pragma once
// The background colour swatch PicBack: shows a colour value as the output will
// have it (a system colour reference through the fixed classic table, not the
// desktop's theme), or that the selected rows differ, and reports clicks.

#include <QFrame>
#include <cstdint>

namespace kestrovia {

class ColorSwatch : public QFrame {
    Q_OBJECT
public:
    explicit ColorSwatch(QWidget *parent = nullptr);

    std::int32_t colorValue() const { return m_value; }
    // Raises no click: only the user's click does. Ends the mixed look.
    void setColorValue(std::int32_t value);
    // The selected rows have different colours: the swatch is hatched over the
    // colour it holds until a colour is set.
    void setMixed(bool mixed);
    bool isMixed() const { return m_mixed; }

signals:
    void clicked();

protected:
    void paintEvent(QPaintEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    std::int32_t m_value;
    bool m_mixed = false;
};

} // namespace kestrovia

#pragma once
// Lamps beside the capture, the tests, the EEPROM write and the calibration
// steps: unlit (a white ring), lit (a red lamp with rays) and passed (a green
// check mark). The images are drawn here rather than shipped as resources.
#include <QLabel>
#include <QPixmap>

enum class Lamp { Unlit, Lit, Passed };

// Logical size of the lamp images, in pixels.
inline constexpr int kLampSize = 24;

// The image of a lamp state, drawn once and then shared.
QPixmap lampPixmap(Lamp lamp);

// A picture control showing one lamp image.
class CLamp : public QLabel {
    Q_OBJECT
public:
    explicit CLamp(QWidget* parent = nullptr);
    void setLamp(Lamp lamp);
    Lamp lamp() const { return lamp_; }

private:
    Lamp lamp_ = Lamp::Unlit;
};

#pragma once
// Progress bar of the resolution test, painted in fixed colours: a flat
// sunken edge, a light background and a blue bar.
#include <QColor>
#include <QProgressBar>

namespace ratebar {
// Width of the bar in pixels for an inset rectangle [left, right) and the
// bar's range and position: trunc((right - left) * f).
int fillWidth(int left, int right, int minimum, int maximum, int value);
}

class CRate : public QProgressBar {
    Q_OBJECT
public:
    explicit CRate(QWidget* parent = nullptr);

    QColor barColour() const { return bar_; }
    QColor backgroundColour() const { return background_; }
    void setBarColour(const QColor& c);
    void setBackgroundColour(const QColor& c);

protected:
    void paintEvent(QPaintEvent* e) override;

private:
    QColor bar_{128, 128, 255};
    QColor background_{235, 235, 235};
};

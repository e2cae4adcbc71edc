#pragma once
// Push buttons painted in a solid colour that their owner switches to show a
// state: power on or off, settings applied or not, a name confirmed. Four
// classes, one look: CMyColor ("Power control"), CMyButton ("Clicking
// setting"), CMyColor_force ("Back to home") and CMyGetID ("ENTER").
#include <QColor>
#include <QPushButton>

class CColourButton : public QPushButton {
    Q_OBJECT
public:
    // Fill while held down, and otherwise.
    QColor pressedColour() const { return pressed_; }
    QColor normalColour() const { return normal_; }
    void setPressedColour(const QColor& c);
    void setNormalColour(const QColor& c);

protected:
    explicit CColourButton(QWidget* parent);
    void paintEvent(QPaintEvent* e) override;

private:
    QColor pressed_{205, 205, 180};
    QColor normal_{210, 105, 30};
};

// Inverse of a colour, each component 255 minus its value: the frame of a
// held-down button.
QColor inverseColour(const QColor& c);

class CMyColor : public CColourButton {
    Q_OBJECT
public:
    explicit CMyColor(QWidget* parent = nullptr) : CColourButton(parent) {}
};

class CMyButton : public CColourButton {
    Q_OBJECT
public:
    explicit CMyButton(QWidget* parent = nullptr) : CColourButton(parent) {}
};

class CMyColor_force : public CColourButton {
    Q_OBJECT
public:
    explicit CMyColor_force(QWidget* parent = nullptr) : CColourButton(parent) {}
};

class CMyGetID : public CColourButton {
    Q_OBJECT
public:
    explicit CMyGetID(QWidget* parent = nullptr) : CColourButton(parent) {}
};

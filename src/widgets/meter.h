#pragma once
// The analog gauge: a round dial with a shaded rim, a scale of ticks, four
// labels and a red needle. CMeter shows the decoded angle in the main window;
// CMeter_fprce shows the live force in the force test. Both are drawn by the
// same code and differ only in their constants (gauge::Dial).
#include "widgets/gauge_geometry.h"

#include <QPixmap>
#include <QRegion>
#include <QWidget>

class QPainter;
class QPalette;

// Dial face (everything but the needle and the hub) for a control of the
// given logical size; `clip` receives the needle's clip region, the polygon
// through the outer tick ends.
QPixmap drawGaugeFace(const gauge::Dial& dial, QSize size, const QPalette& palette,
                      qreal devicePixelRatio, QRegion* clip);
// Needle, clipped to the scale, then the hub.
void drawGaugeNeedle(QPainter& p, const gauge::Dial& dial, const gauge::Frame& frame,
                     double value, const QRegion& clip, const QPalette& palette);

class CGauge : public QWidget {
    Q_OBJECT
public:
    // The owner writes the value (scale units) and then calls update().
    void setValue(double v) { value_ = v; }
    double value() const { return value_; }

    const gauge::Dial& dial() const { return dial_; }
    gauge::Frame frame() const;

    // The face is drawn at the first repaint and dropped on resize.
    bool hasCachedFace() const { return !face_.isNull(); }
    QSize cachedFaceSize() const;
    // How many times the face has been drawn; repaints with a valid cache
    // leave it unchanged.
    int faceBuilds() const { return faceBuilds_; }

    QSize sizeHint() const override { return QSize(200, 200); }

protected:
    CGauge(const gauge::Dial& dial, QWidget* parent);
    void paintEvent(QPaintEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;

private:
    gauge::Dial dial_;
    double value_ = 0;
    QPixmap face_;
    QRegion clip_;  // held with the face: building it costs more than the needle
    QPixmap back_;  // off-screen surface of each repaint
    int faceBuilds_ = 0;
};

// Angle gauge of the main window: 0..360 degrees round the full circle.
class CMeter : public CGauge {
    Q_OBJECT
public:
    explicit CMeter(QWidget* parent = nullptr);
};

// Force gauge of the force test: 0..600 N round the full circle.
class CMeter_fprce : public CGauge {
    Q_OBJECT
public:
    explicit CMeter_fprce(QWidget* parent = nullptr);
};

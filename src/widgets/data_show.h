#pragma once
// CDataShow: the waveform chart of the sin/cos analysis. Draws up to two
// series of (x, y) points over fixed axes inside a framed plot area, painted
// into an off-screen image first and copied in one piece. Setting a series
// schedules one repaint; Qt folds the requests made before the next paint
// into one, so the chart repaints when its data changed and no faster.
#include "widgets/data_show_geometry.h"

#include <QColor>
#include <QImage>
#include <QPen>
#include <QWidget>
#include <array>
#include <memory>

class CDataShow : public QWidget {
    Q_OBJECT
public:
    static constexpr int kCapacity = 16000;

    explicit CDataShow(QWidget* parent = nullptr);
    ~CDataShow() override;

    // Stores n points as series 1 (or 2), converted to pixel offsets with the
    // scales of the last paint. More than kCapacity points (or a negative
    // count) is refused: returns false and the series is left as it was.
    bool setSeries1(const double* y, const double* x, int n);
    bool setSeries2(const double* y, const double* x, int n);

    // Replaces the pen of series 1 or 2: solid, keeping its width.
    void setSeriesColour(int series, const QColor& colour);
    void setSeriesPenWidth(int series, int width);

    int seriesCount(int series) const;
    // Paints so far (on screen, not renderImage), to measure the frame rate.
    int paintCount() const { return m_paints; }
    datashow::Ranges ranges() const { return m_ranges; }

    // Paints the chart as the next paint would and returns the image.
    QImage renderImage();

protected:
    void paintEvent(QPaintEvent* event) override;
    // Presses and releases of every button are swallowed.
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    struct Series {
        std::unique_ptr<std::array<datashow::OffsetPoint, kCapacity>> points;
        int count = 0;
        QPen pen;
    };

    bool setSeries(Series& series, const double* y, const double* x, int n);
    void ensurePreviousLayout();
    void drawAxes(QPainter& p, const datashow::Layout& l, const datashow::Axes& a, int usableHeight);
    void drawSeries(QPainter& p, const Series& s, const datashow::PlotRect& plot,
                    const datashow::Axes& a, datashow::SeriesRule rule);

    Series m_series1;
    Series m_series2;
    datashow::Ranges m_ranges;
    datashow::Scales m_scales;
    datashow::Layout m_previous;  // layout of the last paint; scales use it
    bool m_havePrevious = false;
    int m_paints = 0;

    const QColor m_background{0, 100, 100};
    const QColor m_plotFill{0, 0, 0};
    const QColor m_axisColour{255, 255, 0};
    const QColor m_textColour{255, 255, 255};
};

#pragma once
// The plots of a result's trace, drawn with QPainter on any paint device: a
// widget, an image, a PDF page or an SVG document. Each function fills the
// rectangle it is given, frame, axes and labels included; none keeps state.
#include "measure/result_trace.h"

#include <QByteArray>
#include <QImage>
#include <QRectF>
#include <QString>
#include <functional>
#include <optional>

class QPainter;

// A sin/cos pair's fitted figures (volts, degrees), as the analysis gives them.
struct PairFit {
    double cosOffset = 0, sinOffset = 0, cosPp = 0, sinPp = 0, phase = 90;
};

// The accuracy test's angle over its steps; jumps as red marks.
void paintAccuracyAngle(QPainter& p, const QRectF& r, const AccuracyTrace& t);
// Where on the turn the jumps are: a ring of the angles the samples covered,
// each jump a red spoke from the angle it left, longer for a larger jump.
void paintJumpMap(QPainter& p, const QRectF& r, const AccuracyTrace& t);
// One pair as a Lissajous figure (cos across, sin up, volts) with the fitted
// ellipse and its centre at the offsets.
void paintLissajous(QPainter& p, const QRectF& r, const QString& title, const std::vector<std::uint8_t>& cosCodes,
                    const std::vector<std::uint8_t>& sinCodes, const std::optional<PairFit>& fit);
// A reading's raw values over time since its start.
void paintReadSeries(QPainter& p, const QRectF& r, const ReadTrace& t);
// The resolution walk: its first and last positions within the span.
void paintResolutionSpan(QPainter& p, const QRectF& r, const ResolutionTrace& t);

using PlotPainter = std::function<void(QPainter&, const QRectF&)>;
// An SVG document of `size` (pixels) drawn by `paint`; just the <svg> element,
// ready to go inline into HTML.
QByteArray plotSvg(const QSizeF& size, const PlotPainter& paint);
QImage plotImage(const QSize& size, const PlotPainter& paint);

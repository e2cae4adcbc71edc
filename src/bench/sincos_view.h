#pragma once
// What the sin/cos analysis dialog shows, as the sin/cos test sees it. The
// window implements it with the dialog's widgets (calls made while no dialog
// is open are dropped); tests implement it with a recorder. Any thread.
#include "sincos/sincos_capture.h"

#include <QString>
#include <array>
#include <memory>

// The dialog's value fields.
enum class SinCosField {
    Count,
    SinPlusOffset, SinPlusPeakToPeak,
    SinMinusOffset, SinMinusPeakToPeak,
    CosPlusOffset, CosPlusPeakToPeak,
    CosMinusOffset, CosMinusPeakToPeak,
    ZPlusOffset, ZPlusPeakToPeak,
    ZMinusOffset, ZMinusPeakToPeak,
    PhasePlus,   // "phase difference sin+/cos+:"
    PhaseMinus,  // "phase difference sin-/cos-:"
    Count_
};
inline constexpr int kSinCosFieldCount = static_cast<int>(SinCosField::Count_);

// The samples the three charts draw: the first 1600 of each track, in volts.
using SinCosTraces = std::array<std::array<double, kSinCosShownSamples>, kSinCosTrackCount>;

inline const QString kSinCosCollection = QStringLiteral("Collection");
inline const QString kSinCosTurning = QStringLiteral("Turning encoder");

class SinCosView {
public:
    virtual ~SinCosView() = default;

    // Every field except "Count:" back to "xxx", "Count:" empty, the
    // "Collection" caption, charts empty: how a fresh dialog looks.
    virtual void reset() = 0;
    virtual void setField(SinCosField field, const QString& text) = 0;
    virtual void setCollectionCaption(const QString& caption) = 0;
    // New samples for the charts (SIN±, COS±, Z± in series 1 and 2).
    virtual void showTraces(std::shared_ptr<const SinCosTraces> traces) = 0;
};

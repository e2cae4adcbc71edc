#include "sincos/sincos_analysis.h"

#include <cmath>
#include <cstdio>

bool sinCosTracksSwing(const SinCosStatistics& stats)
{
    for (SinCosTrack t : {SinPlus, SinMinus, CosPlus, CosMinus}) {
        if (stats.peakToPeak[t] >= kSinCosMinSwingVolts && stats.newMaxCount[t] >= kSinCosMinExtremeHits
            && stats.newMinCount[t] >= kSinCosMinExtremeHits)
            return true;
    }
    return false;
}

bool zTrackSwings(const SinCosStatistics& stats, SinCosTrack z)
{
    return stats.peakToPeak[z] >= kSinCosMinSwingVolts;
}

SinCosPairResult sinCosPairResult(const EllipseFitResult& fit)
{
    SinCosPairResult r;
    r.cosOffset = fit.cosCentre;
    r.cosPeakToPeak = fit.cosExtent;
    r.sinOffset = fit.sinCentre;
    r.sinPeakToPeak = fit.sinExtent;
    r.phaseDegrees = fit.phaseDegrees;
    return r;
}

SinCosPairResult fitSinCosPair(const SinCosSnapshot& snapshot, SinCosTrack cosTrack, SinCosTrack sinTrack)
{
    return sinCosPairResult(SinCosEllipseFit::fit(snapshot.tracks[cosTrack], snapshot.tracks[sinTrack]));
}

std::string sinCosValueText(double volts)
{
    // A singular fit (tracks in phase) gives no number worth showing.
    if (!std::isfinite(volts))
        return kSinCosNoValue;
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.3f", volts);
    return buf;
}

std::string sinCosCountText(std::uint32_t position)
{
    return std::to_string(static_cast<std::int32_t>(position));
}

SinCosPairTexts sinCosPairTexts(const SinCosPairResult& r)
{
    return {sinCosValueText(r.cosOffset), sinCosValueText(r.cosPeakToPeak), sinCosValueText(r.sinOffset),
            sinCosValueText(r.sinPeakToPeak), sinCosValueText(r.phaseDegrees)};
}

bool SinCosAnalysis::toggleCollection()
{
    m_armed = !m_armed;
    return m_armed;
}

SinCosRefresh SinCosAnalysis::refresh(const SinCosSnapshot& snapshot)
{
    SinCosRefresh out;
    out.count = sinCosCountText(snapshot.position);
    if (!snapshot.ready)
        return out;

    if (m_armed && snapshot.shownSamplesFresh() && sinCosTracksSwing(snapshot.stats)) {
        out.plus = sinCosPairTexts(fitSinCosPair(snapshot, CosPlus, SinPlus));
        out.minus = sinCosPairTexts(fitSinCosPair(snapshot, CosMinus, SinMinus));
        m_armed = false;
    }
    for (SinCosTrack z : {ZPlus, ZMinus}) {
        if (!zTrackSwings(snapshot.stats, z))
            continue;
        SinCosZTexts texts{sinCosValueText(snapshot.stats.dcOffset[z]), sinCosValueText(snapshot.stats.peakToPeak[z])};
        (z == ZPlus ? out.zPlus : out.zMinus) = std::move(texts);
    }
    return out;
}

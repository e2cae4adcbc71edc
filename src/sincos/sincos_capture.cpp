#include "sincos/sincos_capture.h"

#include <algorithm>

namespace {

constexpr std::array<std::uint8_t, 4> kMarker{0xAA, 0x55, 0x55, 0xAA};

// True when the four bytes at `at` are the block marker; false when fewer
// than four bytes are left.
bool markerAt(std::span<const std::uint8_t> bytes, std::size_t at)
{
    return at + kMarker.size() <= bytes.size() && std::equal(kMarker.begin(), kMarker.end(), bytes.begin() + at);
}

}  // namespace

SinCosRecord decodeSinCosRecord(std::span<const std::uint8_t, kSinCosRecordBytes> bytes)
{
    SinCosRecord r;
    std::copy_n(bytes.begin(), kSinCosTrackCount, r.codes.begin());
    r.position = static_cast<std::uint32_t>(bytes[9]) << 16 | static_cast<std::uint32_t>(bytes[6]) << 8 | bytes[7];
    return r;
}

std::optional<std::size_t> findSinCosSync(std::span<const std::uint8_t> bytes)
{
    for (std::size_t o = 0; o + kSinCosBlockBytes + kMarker.size() <= bytes.size(); ++o) {
        if (markerAt(bytes, o) && markerAt(bytes, o + kSinCosBlockBytes))
            return o;
    }
    return std::nullopt;
}

std::vector<SinCosRecord> parseSinCosTransfer(std::span<const std::uint8_t> bytes)
{
    std::vector<SinCosRecord> records;
    std::optional<std::size_t> sync = findSinCosSync(bytes);
    if (!sync)
        return records;
    records.reserve(bytes.size() / kSinCosRecordBytes);
    std::size_t block = *sync;
    while (block + kMarker.size() <= bytes.size()) {
        const std::size_t next = block + kSinCosBlockBytes;
        // A block is taken whole when the next one starts where it should
        // (or the transfer ends within it). Otherwise packets were lost
        // after it: its tail and what follows are off the record grid, so
        // the walk drops it and synchronises again further on.
        const bool whole = markerAt(bytes, block) && (next + kMarker.size() > bytes.size() || markerAt(bytes, next));
        if (!whole) {
            sync = findSinCosSync(bytes.subspan(block + 1));
            if (!sync)
                break;
            block += 1 + *sync;
            continue;
        }
        const std::size_t end = std::min(next, bytes.size());
        for (std::size_t at = block + kMarker.size(); at + kSinCosRecordBytes <= end; at += kSinCosRecordBytes)
            records.push_back(decodeSinCosRecord(bytes.subspan(at).first<kSinCosRecordBytes>()));
        block = next;
    }
    return records;
}

SinCosStatistics SinCosStatistics::of(std::span<const SinCosRecord> records)
{
    SinCosStatistics s;
    for (std::size_t n = 0; n < records.size(); ++n) {
        for (int t = 0; t < kSinCosTrackCount; ++t) {
            const int code = records[n].codes[t];
            if (n == 0) {
                s.maxCode[t] = code;
                s.minCode[t] = code;
                continue;
            }
            // Reaching an extreme counts as well as passing it: a flat track
            // counts on every record, which is why the swing test also asks
            // for a minimum peak-to-peak.
            if (code >= s.maxCode[t]) {
                s.maxCode[t] = code;
                ++s.newMaxCount[t];
            }
            if (code <= s.minCode[t]) {
                s.minCode[t] = code;
                ++s.newMinCount[t];
            }
        }
    }
    for (int t = 0; t < kSinCosTrackCount; ++t) {
        s.peakToPeak[t] = 5.0 * (s.maxCode[t] - s.minCode[t]) / 256.0;
        s.dcOffset[t] = 5.0 * (s.maxCode[t] + s.minCode[t]) / 512.0;
    }
    return s;
}

SinCosCapture::SinCosCapture()
    : m_tracks(static_cast<std::size_t>(kSinCosTrackCount) * kSinCosTrackLength, 0.0)
{
}

int SinCosCapture::storeTransfer(std::span<const std::uint8_t> bytes)
{
    const std::vector<SinCosRecord> records = parseSinCosTransfer(bytes);
    publish(records);
    return static_cast<int>(std::min<std::size_t>(records.size(), kSinCosTrackLength));
}

void SinCosCapture::publish(std::span<const SinCosRecord> records)
{
    const std::span<const SinCosRecord> kept = records.first(std::min<std::size_t>(records.size(), kSinCosTrackLength));
    // The statistics cover the records kept, computed before taking the lock.
    const SinCosStatistics stats = SinCosStatistics::of(kept);

    std::lock_guard lock(m_mutex);
    for (std::size_t n = 0; n < kept.size(); ++n) {
        for (int t = 0; t < kSinCosTrackCount; ++t)
            m_tracks[static_cast<std::size_t>(t) * kSinCosTrackLength + n] = sinCosVolts(kept[n].codes[t]);
    }
    m_stats = stats;
    m_recordCount = static_cast<int>(kept.size());
    if (!kept.empty())
        m_position = kept.back().position;
    m_ready = true;
    ++m_sequence;
}

SinCosSnapshot SinCosCapture::snapshot() const
{
    SinCosSnapshot s;
    std::lock_guard lock(m_mutex);
    for (int t = 0; t < kSinCosTrackCount; ++t) {
        const auto first = m_tracks.begin() + static_cast<std::ptrdiff_t>(t) * kSinCosTrackLength;
        std::copy_n(first, kSinCosShownSamples, s.tracks[t].begin());
    }
    s.stats = m_stats;
    s.recordCount = m_recordCount;
    s.position = m_position;
    s.ready = m_ready;
    s.sequence = m_sequence;
    return s;
}

void SinCosCapture::clear()
{
    std::lock_guard lock(m_mutex);
    std::fill(m_tracks.begin(), m_tracks.end(), 0.0);
    m_stats = SinCosStatistics{};
    m_recordCount = 0;
    m_position = 0;
    m_ready = false;
    m_sequence = 0;
}

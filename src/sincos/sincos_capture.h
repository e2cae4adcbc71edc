#pragma once
// The sin/cos sample stream of the box and the store the sample reader fills.
//
// One transfer is 20480 bytes of 1024-byte blocks; each block is the marker
// AA 55 55 AA followed by 10-byte records of six 8-bit ADC codes and a 24-bit
// position. The reader parses a transfer into a staging record and publishes
// it with one lock, so the dialog always copies tracks, statistics and the
// position count of the same transfer.
#include <array>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <span>
#include <vector>

// The six analog tracks, in the order of their bytes in a record.
enum SinCosTrack : int { SinPlus, SinMinus, CosPlus, CosMinus, ZPlus, ZMinus };
constexpr int kSinCosTrackCount = 6;

constexpr std::size_t kSinCosTransferBytes = 20480;
constexpr std::size_t kSinCosBlockBytes = 1024;
constexpr std::size_t kSinCosRecordBytes = 10;
// Samples kept per track; indices beyond the latest transfer keep older ones.
constexpr int kSinCosTrackLength = 16000;
// Samples the dialog draws and fits, from index 0.
constexpr int kSinCosShownSamples = 1600;

// Volts of an 8-bit ADC code: 5 V full scale over 256 counts.
constexpr double sinCosVolts(int code)
{
    return code * 5.0 / 256.0;
}

struct SinCosRecord {
    std::array<std::uint8_t, kSinCosTrackCount> codes{};  // by SinCosTrack
    std::uint32_t position = 0;                            // 24 bits
};

// Decodes one 10-byte record: bytes 0..5 the codes, position bits 23..16 in
// byte 9, 15..8 in byte 6, 7..0 in byte 7 (byte 8 is not used).
SinCosRecord decodeSinCosRecord(std::span<const std::uint8_t, kSinCosRecordBytes> bytes);

// First offset o with the marker at o and again at o + 1024, both wholly
// inside the transfer; nullopt when there is none.
std::optional<std::size_t> findSinCosSync(std::span<const std::uint8_t> bytes);

// Records of a transfer, block by block from the first synchronised block
// on: each block is its marker and the records that fill it (a record that
// happens to read like a marker is still a record). A block whose successor
// is not 1024 bytes on (packets lost in between) is dropped and the walk
// synchronises again; a record cut off by the end is dropped. Without
// synchronisation the transfer yields no record.
std::vector<SinCosRecord> parseSinCosTransfer(std::span<const std::uint8_t> bytes);

// Extremes and swings of one transfer's records.
struct SinCosStatistics {
    std::array<int, kSinCosTrackCount> maxCode{};
    std::array<int, kSinCosTrackCount> minCode{};
    // Records that reached or passed the running maximum / minimum after the
    // first one (kept for every track; the swing test looks at sin and cos).
    std::array<int, kSinCosTrackCount> newMaxCount{};
    std::array<int, kSinCosTrackCount> newMinCount{};
    std::array<double, kSinCosTrackCount> peakToPeak{};  // V, 5·(max − min)/256
    std::array<double, kSinCosTrackCount> dcOffset{};    // V, midpoint of the extremes

    // Extremes, counts and swings of `records`; all zero without records.
    static SinCosStatistics of(std::span<const SinCosRecord> records);
};

// What the dialog works on: tracks, statistics and position count of the
// same transfer.
struct SinCosSnapshot {
    std::array<std::array<double, kSinCosShownSamples>, kSinCosTrackCount> tracks{};  // V
    SinCosStatistics stats;
    int recordCount = 0;          // records the latest transfer held
    std::uint32_t position = 0;   // position of the latest record seen
    bool ready = false;           // a transfer has been stored
    std::uint64_t sequence = 0;   // transfers stored so far

    // True when samples 0..1599 all come from the latest transfer.
    bool shownSamplesFresh() const { return ready && recordCount >= kSinCosShownSamples; }
};

// The shared sample store: one writer (the sample reader), readers on the
// bench or GUI thread.
class SinCosCapture {
public:
    SinCosCapture();

    // Parses one transfer and publishes its samples, statistics and position
    // at once. Returns the number of records stored.
    int storeTransfer(std::span<const std::uint8_t> bytes);

    // Publishes already parsed records (at most kSinCosTrackLength are kept).
    void publish(std::span<const SinCosRecord> records);

    // A consistent copy of the first kSinCosShownSamples samples of each
    // track with the statistics and count of the same transfer.
    SinCosSnapshot snapshot() const;

    // Back to the state of a new test: no samples, nothing ready.
    void clear();

private:
    mutable std::mutex m_mutex;
    std::vector<double> m_tracks;  // kSinCosTrackCount × kSinCosTrackLength, track-major
    SinCosStatistics m_stats;
    int m_recordCount = 0;
    std::uint32_t m_position = 0;
    bool m_ready = false;
    std::uint64_t m_sequence = 0;
};

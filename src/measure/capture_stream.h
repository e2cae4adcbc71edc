#pragma once
// The capture's side of the box stream: how much each inbound transfer asks
// for, how a transfer becomes a file block, the stop acknowledgement and the
// half-second timing of a timed capture. Pure values; the capture worker owns
// the transfers and the file.
#include "interface/mode_flags.h"

#include <array>
#include <cstdint>
#include <optional>
#include <span>

// One receive buffer: every transfer is stored as a block of exactly this size.
inline constexpr int kCaptureBlockBytes = 40960;

// The length of the next inbound request. The box ends a transfer early only
// when it has less to send, and the next one asks for what the last one
// delivered. A transfer that delivered nothing (or reported a length outside
// the buffer) leaves the length as it was, so one empty transfer cannot
// shrink every later request to zero and spin on empty blocks.
int nextCaptureRequest(int previousRequest, int delivered);

// The receive buffer of the capture worker. Transfers land in data() (at
// most requestLength() bytes); takeBlock() turns the delivered bytes into the
// file block, zero after the delivered bytes, and updates the next request.
class CaptureReceiver {
public:
    std::uint8_t* data() { return buffer_.data(); }
    int requestLength() const { return request_; }

    // The 40960-byte block to append for a transfer of `delivered` bytes;
    // empty for a transfer that delivered nothing (nothing to append).
    std::span<const std::uint8_t> takeBlock(int delivered);

    // The delivered bytes of the last transfer, for the acknowledgement test.
    std::span<const std::uint8_t> delivered(int delivered) const;

private:
    std::array<std::uint8_t, kCaptureBlockBytes> buffer_{};
    int request_ = kCaptureBlockBytes;
};

// The box's answer to the stop packet: 6A, any byte, 6A, status.
struct StopAck {
    std::uint8_t status = 0;
};

// The acknowledgement in a transfer's delivered bytes, or nothing. Bytes 0
// and 2 must both be 6A and the status byte must have arrived, so a transfer
// shorter than 4 bytes is never taken as one (a stale buffer byte would
// otherwise be read as its status). "6A xx 00 ..." is stream data.
std::optional<StopAck> parseStopAck(std::span<const std::uint8_t> delivered);

enum class CaptureEnd {
    Complete,           // keep the capture
    TransmissionError,  // the box lost data: discard it, show "数据传输出错"
};

// Status 0 is a complete stream; any other status is a transmission error,
// except with the ADC front ends, whose box firmware reports no status worth
// reading: every acknowledgement ends their capture as complete.
CaptureEnd captureEndFor(const StopAck& ack, const ModeFlags& modes);

// Timer 1 of a capture ticks every 500 ms.
inline constexpr int kCaptureTickMs = 500;

// A timed capture stops on the tick at which halfSecondTicks reaches twice
// the set seconds, i.e. after that many seconds. Zero or negative seconds
// never stop a capture (the command refuses to start with 0).
bool timedCaptureStopsAt(std::int64_t halfSecondTicks, bool timedCapture,
                         std::int64_t captureSeconds);

// The capture lamp blinks: lit red on even ticks, unlit on odd ones (the
// first tick shows it unlit).
bool captureLampLit(std::int64_t halfSecondTicks);

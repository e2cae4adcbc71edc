#include "measure/capture_stream.h"

#include <algorithm>

int nextCaptureRequest(int previousRequest, int delivered)
{
    if (delivered <= 0 || delivered > kCaptureBlockBytes)
        return previousRequest;
    return delivered;
}

std::span<const std::uint8_t> CaptureReceiver::takeBlock(int delivered)
{
    // No data, no block: an empty transfer would only add 40960 zeros that
    // the box never sent.
    if (delivered <= 0)
        return {};
    const int kept = std::clamp(delivered, 0, kCaptureBlockBytes);
    // Zero everything after the delivered bytes: requests only shrink, but a
    // driver may leave bytes past the reported length, and the file must
    // hold exactly what the box sent followed by zeros.
    std::fill(buffer_.begin() + kept, buffer_.end(), std::uint8_t{0});
    request_ = nextCaptureRequest(request_, delivered);
    return {buffer_.data(), buffer_.size()};
}

std::span<const std::uint8_t> CaptureReceiver::delivered(int delivered) const
{
    return {buffer_.data(), static_cast<std::size_t>(std::clamp(delivered, 0, kCaptureBlockBytes))};
}

std::optional<StopAck> parseStopAck(std::span<const std::uint8_t> delivered)
{
    if (delivered.size() < 4 || delivered[0] != 0x6A || delivered[2] != 0x6A)
        return std::nullopt;
    return StopAck{delivered[3]};
}

CaptureEnd captureEndFor(const StopAck& ack, const ModeFlags& modes)
{
    if (modes.adcMode || ack.status == 0)
        return CaptureEnd::Complete;
    return CaptureEnd::TransmissionError;
}

bool timedCaptureStopsAt(std::int64_t halfSecondTicks, bool timedCapture,
                         std::int64_t captureSeconds)
{
    return timedCapture && captureSeconds > 0 && halfSecondTicks == 2 * captureSeconds;
}

bool captureLampLit(std::int64_t halfSecondTicks)
{
    return halfSecondTicks % 2 == 0;
}

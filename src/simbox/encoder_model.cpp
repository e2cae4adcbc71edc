#include "simbox/encoder_model.h"

#include "common/bench_clock.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <numbers>

namespace {

std::uint64_t maskOf(int bits)
{
    if (bits <= 0)
        return 0;
    if (bits >= 64)
        return ~std::uint64_t{0};
    return (std::uint64_t{1} << bits) - 1;
}

// The frame as a box reads it with `clocks` clock pulses: serial interfaces
// shift most significant bit first, so extra clocks append zeros and missing
// clocks drop the low bits.
std::uint64_t readWithClocks(std::uint64_t frame, int frameBits, int clocks)
{
    if (clocks >= frameBits) {
        const int s = clocks - frameBits;
        return s >= 64 ? 0 : frame << s;
    }
    const int s = frameBits - clocks;
    return s >= 64 ? 0 : frame >> s;
}

std::uint8_t adcCode(double volts)
{
    const double code = std::floor(volts * 256.0 / 5.0);
    return static_cast<std::uint8_t>(std::clamp(code, 0.0, 255.0));
}

}  // namespace

BoxInterfaceConfig BoxInterfaceConfig::fromHeader(const std::uint8_t* h)
{
    BoxInterfaceConfig c;
    c.clockTurnByte = h[2];
    c.protocolCode = h[3];
    c.crcConfig = h[4];
    c.frameBits = (h[5] & 0x3F) + 1;
    c.crcInverted = (h[5] & 0x40) != 0;
    c.gray = (h[5] & 0x80) != 0;
    return c;
}

EncoderModel::EncoderModel()
{
    baseMicros_ = benchclock::nowMicros();
}

void EncoderModel::reanchorLocked(std::int64_t now)
{
    baseCounts_ = countsAtLocked(now);
    baseMicros_ = now;
}

void EncoderModel::setSpeedRpm(double rpm)
{
    std::lock_guard lock(mutex_);
    reanchorLocked(benchclock::nowMicros());
    rpm_ = rpm;
    countsPerMicro_ = rpm / 60e6 * std::ldexp(1.0, singleTurnBits_);
}

double EncoderModel::speedRpm() const
{
    std::lock_guard lock(mutex_);
    return rpm_;
}

void EncoderModel::setResolution(int singleTurnBits, int turnBits, int statusBits)
{
    std::lock_guard lock(mutex_);
    singleTurnBits_ = std::clamp(singleTurnBits, 1, 32);
    turnBits_ = std::clamp(turnBits, 0, 24);
    statusBits_ = std::clamp(statusBits, 0, 64 - singleTurnBits_ - turnBits_);
    statusBits_ = std::min(statusBits_, 16);
    baseCounts_ = 0;
    zero_ = 0;
    baseMicros_ = benchclock::nowMicros();
    countsPerMicro_ = rpm_ / 60e6 * std::ldexp(1.0, singleTurnBits_);
}

int EncoderModel::singleTurnBits() const
{
    std::lock_guard lock(mutex_);
    return singleTurnBits_;
}

int EncoderModel::turnBits() const
{
    std::lock_guard lock(mutex_);
    return turnBits_;
}

int EncoderModel::statusBits() const
{
    std::lock_guard lock(mutex_);
    return statusBits_;
}

int EncoderModel::frameBits() const
{
    std::lock_guard lock(mutex_);
    return turnBits_ + singleTurnBits_ + statusBits_;
}

void EncoderModel::setStatus(std::uint32_t value)
{
    std::lock_guard lock(mutex_);
    status_ = value;
}

void EncoderModel::setPositionCounts(std::int64_t counts)
{
    std::lock_guard lock(mutex_);
    baseMicros_ = benchclock::nowMicros();
    baseCounts_ = counts + zero_;
}

void EncoderModel::jumpBy(std::int64_t counts)
{
    std::lock_guard lock(mutex_);
    baseCounts_ += counts;
}

void EncoderModel::resetAngle()
{
    std::lock_guard lock(mutex_);
    const std::int64_t total = countsAtLocked(benchclock::nowMicros()) - zero_;
    zero_ += static_cast<std::int64_t>(static_cast<std::uint64_t>(total) & maskOf(singleTurnBits_));
}

void EncoderModel::resetTurns()
{
    std::lock_guard lock(mutex_);
    const std::int64_t total = countsAtLocked(benchclock::nowMicros()) - zero_;
    // Arithmetic shift: floor division, so a negative turn count clears too.
    zero_ += (total >> singleTurnBits_) * (std::int64_t{1} << singleTurnBits_);
}

void EncoderModel::setSinCos(const SinCosShape& shape)
{
    std::lock_guard lock(mutex_);
    shape_ = shape;
    shape_.periodsPerTurn = std::max(1, shape_.periodsPerTurn);
}

SinCosShape EncoderModel::sinCos() const
{
    std::lock_guard lock(mutex_);
    return shape_;
}

std::int64_t EncoderModel::countsAtLocked(std::int64_t t) const
{
    const double moved = std::floor(countsPerMicro_ * static_cast<double>(t - baseMicros_));
    return baseCounts_ + static_cast<std::int64_t>(moved);
}

EncoderFields EncoderModel::fieldsAtLocked(std::int64_t t) const
{
    const std::int64_t total = countsAtLocked(t) - zero_;
    EncoderFields f;
    f.position = static_cast<std::uint64_t>(total) & maskOf(singleTurnBits_);
    f.turns = total >> singleTurnBits_;
    f.status = status_;
    return f;
}

EncoderFields EncoderModel::fieldsAt(std::int64_t t) const
{
    std::lock_guard lock(mutex_);
    return fieldsAtLocked(t);
}

EncoderFields EncoderModel::fields() const
{
    return fieldsAt(benchclock::nowMicros());
}

std::uint64_t EncoderModel::frameOfLocked(const EncoderFields& f) const
{
    const int low = singleTurnBits_ + statusBits_;
    std::uint64_t frame = (static_cast<std::uint64_t>(f.turns) & maskOf(turnBits_));
    frame = low >= 64 ? 0 : frame << low;
    frame |= f.position << statusBits_;
    frame |= f.status & maskOf(statusBits_);
    return frame;
}

std::uint64_t EncoderModel::frameAt(std::int64_t t) const
{
    std::lock_guard lock(mutex_);
    return frameOfLocked(fieldsAtLocked(t));
}

RecordValue EncoderModel::recordValueAt(RecordGroup group, const BoxInterfaceConfig& cfg,
                                        std::int64_t t) const
{
    std::lock_guard lock(mutex_);
    const EncoderFields f = fieldsAtLocked(t);
    const int n = turnBits_ + singleTurnBits_ + statusBits_;
    const std::uint64_t frame = frameOfLocked(f);
    const std::uint64_t turns = static_cast<std::uint64_t>(f.turns) & maskOf(turnBits_);
    RecordValue r;
    switch (group) {
    case RecordGroup::SyncSerial:
        r.value = readWithClocks(frame, n, cfg.frameBits) & maskOf(48);
        break;
    case RecordGroup::RxOnly:
        r.value = readWithClocks(frame, n, cfg.frameBits) & maskOf(32);
        break;
    case RecordGroup::Spi: {
        // Data and its 6 CRC bits must fit the 48-bit word.
        const int bits = std::clamp(cfg.frameBits, 1, 42);
        const std::uint64_t data = readWithClocks(frame, n, bits) & maskOf(bits);
        r.crc = crc6(data, bits);
        if (cfg.crcInverted)
            r.crc ^= 0x3F;
        r.value = ((data << (48 - bits)) | (std::uint64_t{r.crc} << (42 - bits))) & maskOf(48);
        break;
    }
    case RecordGroup::Rs485:
    case RecordGroup::Rs485Ab:
        r.value = ((turns & 0xFFFFFF) << 32) | ((f.position & 0xFFFFFF) << 8) | (f.status & 0xFF);
        break;
    case RecordGroup::Incremental:
        r.value = ((static_cast<std::uint64_t>(f.turns) & 0xFFFFFF) << 24) | (f.position & 0xFFFFFF);
        break;
    case RecordGroup::SinCos:
        r.value = sinCosAtLocked(t).count;
        break;
    case RecordGroup::None:
        break;
    }
    return r;
}

std::vector<std::int64_t> EncoderModel::expectedFieldsAt(RecordGroup group, std::int64_t t) const
{
    std::lock_guard lock(mutex_);
    if (group == RecordGroup::SinCos)
        return {static_cast<std::int64_t>(sinCosAtLocked(t).count)};
    const EncoderFields f = fieldsAtLocked(t);
    const auto turns = static_cast<std::int64_t>(static_cast<std::uint64_t>(f.turns) & maskOf(turnBits_));
    const auto pos = static_cast<std::int64_t>(f.position);
    std::vector<std::int64_t> out;
    switch (group) {
    case RecordGroup::Incremental:
        out.push_back(std::llabs(f.turns) & 0xFFFFFF);
        out.push_back(pos & 0xFFFFFF);
        break;
    case RecordGroup::Rs485:
    case RecordGroup::Rs485Ab:
        if (turnBits_ > 0)
            out.push_back(turns);
        out.push_back(pos);
        out.push_back(f.status & 0xFF);
        break;
    case RecordGroup::SyncSerial:
    case RecordGroup::Spi:
    case RecordGroup::RxOnly:
        if (turnBits_ > 0)
            out.push_back(turns);
        out.push_back(pos);
        if (statusBits_ > 0)
            out.push_back(static_cast<std::int64_t>(f.status & maskOf(statusBits_)));
        break;
    case RecordGroup::SinCos:
    case RecordGroup::None:
        break;
    }
    return out;
}

SinCosSample EncoderModel::sinCosAt(std::int64_t t) const
{
    std::lock_guard lock(mutex_);
    return sinCosAtLocked(t);
}

SinCosSample EncoderModel::sinCosAtLocked(std::int64_t t) const
{
    const std::int64_t total = countsAtLocked(t) - zero_;
    const double turns = std::ldexp(static_cast<double>(total), -singleTurnBits_);
    const SinCosShape& s = shape_;
    const double periods = turns * s.periodsPerTurn;
    const double theta = 2.0 * std::numbers::pi * periods;
    const double phase = s.phaseDegrees * std::numbers::pi / 180.0;
    const double sn = std::sin(theta);
    const double cs = std::sin(theta + phase);
    // The index pulse: the first quarter signal period of every turn.
    const double withinTurn = (turns - std::floor(turns)) * s.periodsPerTurn;
    const double z = withinTurn < 0.25 ? 1.0 : -1.0;

    SinCosSample out;
    out.volts = {s.sinPlusOffset + s.sinAmplitude * sn, s.sinMinusOffset - s.sinAmplitude * sn,
                 s.cosPlusOffset + s.cosAmplitude * cs, s.cosMinusOffset - s.cosAmplitude * cs,
                 s.zOffset + s.zAmplitude * z,          s.zOffset - s.zAmplitude * z};
    for (std::size_t i = 0; i < 6; ++i)
        out.codes[i] = adcCode(out.volts[i]);
    const auto quadrature = static_cast<std::int64_t>(std::floor(periods * 4.0));
    out.count = static_cast<std::uint32_t>(static_cast<std::uint64_t>(quadrature) & 0xFFFFFF);
    return out;
}

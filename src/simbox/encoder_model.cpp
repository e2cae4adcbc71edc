#include "simbox/encoder_model.h"

#include "common/clock.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>
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

std::uint64_t splitMix(std::uint64_t x)
{
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

// Standard normal noise as a function of the sample time and the track, so a
// sample taken twice reads the same (the box may compute a record late).
double gaussianAt(std::int64_t t, int track)
{
    const std::uint64_t key = static_cast<std::uint64_t>(t) * 8 + static_cast<std::uint64_t>(track);
    const std::uint64_t a = splitMix(key);
    const std::uint64_t b = splitMix(a);
    const double u1 = (static_cast<double>(a >> 11) + 1.0) * 0x1.0p-53;  // (0, 1]
    const double u2 = static_cast<double>(b >> 11) * 0x1.0p-53;
    return std::sqrt(-2.0 * std::log(u1)) * std::cos(2.0 * std::numbers::pi * u2);
}

constexpr std::int64_t kNeverMicros = std::numeric_limits<std::int64_t>::max();

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
    baseMicros_ = benchClock().nowMicros();
}

double sinCosRpmForPeriods(double periods, int samples, std::int64_t samplePeriodMicros, int periodsPerTurn)
{
    const double spanMinutes = static_cast<double>(samples) * static_cast<double>(samplePeriodMicros) / 60e6;
    if (spanMinutes <= 0.0 || periodsPerTurn <= 0)
        return 0.0;
    return periods / (spanMinutes * periodsPerTurn);
}

void EncoderModel::reanchorLocked(std::int64_t now)
{
    rebaseLocked(now, countsAtLocked(now));
}

// The motion starts afresh at `now` from `baseCounts`: jumps that fired up to
// now are part of the new base, later ones are armed again.
void EncoderModel::rebaseLocked(std::int64_t now, std::int64_t baseCounts)
{
    settleJumpsLocked(now);
    unfireAfterLocked(now);
    appliedJumps_.clear();
    baseCounts_ = baseCounts;
    baseMicros_ = now;
}

void EncoderModel::unfireAfterLocked(std::int64_t now)
{
    while (!appliedJumps_.empty() && appliedJumps_.back().benchMicros > now) {
        armedJumps_.push_back(appliedJumps_.back().armed);
        appliedJumps_.pop_back();
    }
    std::erase_if(firedJumps_, [now](const FiredJump& f) { return f.benchMicros > now; });
}

std::int64_t EncoderModel::jumpOffsetAtLocked(std::int64_t t) const
{
    std::int64_t offset = 0;
    for (const AppliedJump& a : appliedJumps_)
        if (a.benchMicros <= t)
            offset += a.counts;
    return offset;
}

void EncoderModel::settleJumpsLocked(std::int64_t t) const
{
    const double c = countsPerMicro_;
    if (c == 0.0)
        return;  // a standing shaft passes no angle
    const double turn = std::ldexp(1.0, singleTurnBits_);
    while (!armedJumps_.empty()) {
        // The motion since the last fired jump: reported counts R(tau) =
        // R0 + c * (tau - from), with every fired jump applied.
        std::int64_t from = baseMicros_;
        double offset = 0.0;
        for (const AppliedJump& a : appliedJumps_)
            offset += static_cast<double>(a.counts);
        if (!appliedJumps_.empty())
            from = std::max(from, appliedJumps_.back().benchMicros);

        std::size_t first = 0;
        std::int64_t firstAt = kNeverMicros;
        for (std::size_t i = 0; i < armedJumps_.size(); ++i) {
            const ArmedJump& a = armedJumps_[i];
            const std::int64_t f = std::max(from, a.armedMicros);
            const double r0 = static_cast<double>(baseCounts_ - zero_) + offset +
                              c * static_cast<double>(f - baseMicros_);
            const double angle = a.jump.atDegrees / 360.0 * turn;
            // The next position congruent to the angle in the direction of motion.
            const double k = c > 0 ? std::ceil((r0 - angle) / turn) : std::floor((r0 - angle) / turn);
            const double target = angle + k * turn;
            const auto at = f + static_cast<std::int64_t>(std::ceil((target - r0) / c));
            if (at < firstAt) {
                firstAt = at;
                first = i;
            }
        }
        if (firstAt > t)
            return;
        const ArmedJump a = armedJumps_[first];
        armedJumps_.erase(armedJumps_.begin() + static_cast<std::ptrdiff_t>(first));
        const auto counts = static_cast<std::int64_t>(std::llround(a.jump.stepDegrees / 360.0 * turn));
        appliedJumps_.push_back({a, firstAt, counts});
        firedJumps_.push_back({a.jump, firstAt});
    }
}

void EncoderModel::addAngleJump(const AngleJump& jump)
{
    std::lock_guard lock(mutex_);
    const std::int64_t now = benchClock().nowMicros();
    settleJumpsLocked(now);
    AngleJump j = jump;
    j.atDegrees = std::fmod(j.atDegrees, 360.0);
    if (j.atDegrees < 0)
        j.atDegrees += 360.0;
    armedJumps_.push_back({j, now});
}

void EncoderModel::clearAngleJumps()
{
    std::lock_guard lock(mutex_);
    const std::int64_t now = benchClock().nowMicros();
    settleJumpsLocked(now);
    unfireAfterLocked(now);
    armedJumps_.clear();
}

std::vector<FiredJump> EncoderModel::firedJumpsUntil(std::int64_t t) const
{
    std::lock_guard lock(mutex_);
    settleJumpsLocked(t);
    std::vector<FiredJump> out;
    for (const FiredJump& f : firedJumps_)
        if (f.benchMicros <= t)
            out.push_back(f);
    return out;
}

void EncoderModel::setEepromBehaviour(EepromBehaviour behaviour)
{
    std::lock_guard lock(mutex_);
    eepromBehaviour_ = behaviour;
}

EepromBehaviour EncoderModel::eepromBehaviour() const
{
    std::lock_guard lock(mutex_);
    return eepromBehaviour_;
}

void EncoderModel::writeEeprom(std::uint8_t value)
{
    std::lock_guard lock(mutex_);
    if (eepromBehaviour_ != EepromBehaviour::Ignore)
        eeprom_ = value;
}

std::uint8_t EncoderModel::eepromContent() const
{
    std::lock_guard lock(mutex_);
    return eeprom_;
}

std::uint8_t EncoderModel::readEeprom(std::uint64_t index) const
{
    std::lock_guard lock(mutex_);
    if (eepromBehaviour_ == EepromBehaviour::Short && index % 127 == 126)
        return static_cast<std::uint8_t>(~eeprom_);
    return eeprom_;
}

void EncoderModel::setSpeedRpm(double rpm)
{
    std::lock_guard lock(mutex_);
    reanchorLocked(benchClock().nowMicros());
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
    rebaseLocked(benchClock().nowMicros(), 0);  // jumps up to now fire in the old resolution
    singleTurnBits_ = std::clamp(singleTurnBits, 1, 32);
    turnBits_ = std::clamp(turnBits, 0, 24);
    statusBits_ = std::clamp(statusBits, 0, 64 - singleTurnBits_ - turnBits_);
    statusBits_ = std::min(statusBits_, 16);
    zero_ = 0;
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
    rebaseLocked(benchClock().nowMicros(), counts + zero_);
}

void EncoderModel::jumpBy(std::int64_t counts)
{
    std::lock_guard lock(mutex_);
    reanchorLocked(benchClock().nowMicros());
    baseCounts_ += counts;
}

void EncoderModel::resetAngle()
{
    std::lock_guard lock(mutex_);
    const std::int64_t now = benchClock().nowMicros();
    reanchorLocked(now);  // armed jumps are sought from now on in the new frame
    const std::int64_t total = countsAtLocked(now) - zero_;
    zero_ += static_cast<std::int64_t>(static_cast<std::uint64_t>(total) & maskOf(singleTurnBits_));
}

void EncoderModel::resetTurns()
{
    std::lock_guard lock(mutex_);
    const std::int64_t now = benchClock().nowMicros();
    reanchorLocked(now);
    const std::int64_t total = countsAtLocked(now) - zero_;
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
    settleJumpsLocked(t);
    const double moved = std::floor(countsPerMicro_ * static_cast<double>(t - baseMicros_));
    return baseCounts_ + static_cast<std::int64_t>(moved) + jumpOffsetAtLocked(t);
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
    return fieldsAt(benchClock().nowMicros());
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
    const double minusPhase = s.minusPhaseDegrees.value_or(s.phaseDegrees) * std::numbers::pi / 180.0;
    const double sn = std::sin(theta);
    const double cs = std::sin(theta + phase);
    const double csMinus = std::sin(theta + minusPhase);
    // The index pulse: the first quarter signal period of every turn.
    const double withinTurn = (turns - std::floor(turns)) * s.periodsPerTurn;
    const double z = withinTurn < 0.25 ? 1.0 : -1.0;

    SinCosSample out;
    out.volts = {s.sinPlusOffset + s.sinAmplitude * sn,
                 s.sinMinusOffset - s.sinMinusAmplitude.value_or(s.sinAmplitude) * sn,
                 s.cosPlusOffset + s.cosAmplitude * cs,
                 s.cosMinusOffset - s.cosMinusAmplitude.value_or(s.cosAmplitude) * csMinus,
                 s.zOffset + s.zAmplitude * z,
                 s.zOffset - s.zAmplitude * z};
    if (s.noiseVolts > 0.0)
        for (std::size_t i = 0; i < 6; ++i)
            out.volts[i] += s.noiseVolts * gaussianAt(t, static_cast<int>(i));
    for (std::size_t i = 0; i < 6; ++i)
        out.codes[i] = adcCode(out.volts[i]);
    const auto quadrature = static_cast<std::int64_t>(std::floor(periods * 4.0));
    out.count = static_cast<std::uint32_t>(static_cast<std::uint64_t>(quadrature) & 0xFFFFFF);
    return out;
}

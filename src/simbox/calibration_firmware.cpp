#include "simbox/calibration_firmware.h"

#include "simbox/fx2_pipe.h"

#include <QLoggingCategory>

#include <algorithm>
#include <cmath>

namespace {

// Off unless enabled, e.g. QT_LOGGING_RULES="quillmark.sim.debug=true".
Q_LOGGING_CATEGORY(lcSimCalibration, "quillmark.sim", QtInfoMsg)

constexpr std::uint8_t kEnter = 0x1D;
constexpr std::uint8_t kService = 0x0D;
constexpr std::uint8_t kIdle = 0x16;
constexpr std::uint8_t kWakeLine = 0x2D;
constexpr std::uint8_t kParamHeader = 0x39;
constexpr std::uint8_t kConfigWrite = 0x3D;
constexpr std::uint8_t kCoarseEcc = 0x3B;  // encoder 2: zero alignment
constexpr std::uint8_t kFineAdc = 0x1A;
constexpr std::uint8_t kCoarseAdc = 0x2A;  // encoder 2: B1/B2 correction
constexpr std::uint8_t kFineRadius = 0x2B;
constexpr std::uint8_t kZeroAlign = 0x1C;
constexpr std::uint8_t kAirI = 0x49;
constexpr std::uint8_t kAirP = 0x50;
constexpr std::uint8_t kInformation = 0x15;

struct StepCodes {
    std::uint8_t success;
    std::uint8_t failure;  // 0: none
    double delayMs;        // default answer time
};

// Indexed by CalFirmwareStep. The default times are short for the encoder's own
// work and long where the operator turns the shaft (two turns to wake, one
// turn each way for B1 and B2).
constexpr StepCodes kSteps[kCalStepCount] = {
    {0x3A, 0, 10},     // Enter
    {0x3A, 0, 10},     // ConfigRequest
    {0x39, 0, 10},     // ConfigWrite
    {0, 0, 0},         // Information: tags, paced separately
    {0xB3, 0, 30},     // CoarseEccentricity
    {0xA1, 0x22, 30},  // FineAdc
    {0xA2, 0x22, 30},  // CoarseAdc
    {0xB2, 0x22, 30},  // FineRadius
    {0xC1, 0, 30},     // ZeroAlign1
    {0x2D, 0, 5},      // WakeLine
    {0xB3, 0, 1200},   // WakeTurns
    {0x49, 0, 30},     // AirI
    {0x50, 0, 30},     // AirP
    {0x35, 0x1E, 30},  // ZeroAlign2
    {0xB1, 0x5A, 600}, // B1
    {0xB2, 0x5A, 1200},// B2
};

const StepCodes& codesOf(CalFirmwareStep step)
{
    return kSteps[static_cast<int>(step)];
}

void putBigEndian(std::uint8_t* t, int first, std::uint64_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        t[first + i] = static_cast<std::uint8_t>(value >> (8 * (bytes - 1 - i)));
}

std::uint32_t bits(std::int32_t v)
{
    return static_cast<std::uint32_t>(v);
}

const char* kindName(CalEncoderKind kind)
{
    return kind == CalEncoderKind::CoarseFine ? "encoder 1" : "encoder 2";
}

}  // namespace

std::uint32_t calAngleCode(double degrees)
{
    const double turns = degrees / 360.0 - std::floor(degrees / 360.0);
    const double code = std::round(turns * 4294967296.0);
    return code >= 4294967296.0 ? 0u : static_cast<std::uint32_t>(code);
}

std::array<std::uint8_t, 53> encoder1InfoTags(const Encoder1Stored& s)
{
    std::array<std::uint8_t, 53> t{};
    putBigEndian(t.data(), 1, s.coarseZero, 4);
    putBigEndian(t.data(), 5, s.fineZero, 4);
    putBigEndian(t.data(), 9, bits(s.coarseSin), 4);
    putBigEndian(t.data(), 13, bits(s.coarseCos), 4);
    putBigEndian(t.data(), 17, s.fineRadiusSquare, 8);
    putBigEndian(t.data(), 25, s.userZero, 4);
    putBigEndian(t.data(), 29, s.temperatureCode, 4);
    putBigEndian(t.data(), 33, bits(s.fineSin), 4);
    putBigEndian(t.data(), 37, bits(s.fineCos), 4);
    for (int i = 0; i < 4; ++i)
        t[static_cast<std::size_t>(41 + i)] = s.firmware[static_cast<std::size_t>(i)];
    putBigEndian(t.data(), 45, s.coarseAdc, 4);
    putBigEndian(t.data(), 49, s.fineAdc, 4);
    return t;
}

std::array<std::uint8_t, 33> encoder2InfoTags(const Encoder2Stored& s)
{
    std::array<std::uint8_t, 33> t{};
    putBigEndian(t.data(), 1, bits(s.coarseSin), 4);
    putBigEndian(t.data(), 5, bits(s.coarseCos), 4);
    putBigEndian(t.data(), 9, bits(s.fineSin), 4);
    putBigEndian(t.data(), 13, bits(s.fineCos), 4);
    putBigEndian(t.data(), 17, s.zeroOffset, 4);
    putBigEndian(t.data(), 21, s.b1Angle, 4);
    putBigEndian(t.data(), 25, s.b2Angle, 4);
    putBigEndian(t.data(), 29, s.serial, 4);
    return t;
}

const std::vector<std::uint8_t>& CalibrationFirmware::packetCodes()
{
    static const std::vector<std::uint8_t> codes{kService, kEnter, kIdle, kWakeLine, kParamHeader,
                                                 kConfigWrite, kCoarseEcc, kFineAdc, kCoarseAdc,
                                                 kFineRadius, kZeroAlign, kAirI, kAirP, kInformation};
    return codes;
}

CalibrationFirmware::Packet CalibrationFirmware::replyFrame(std::uint8_t code)
{
    return {0xAA, 0x00, 0xAA, code};
}

std::uint8_t CalibrationFirmware::successCode(CalFirmwareStep step)
{
    return codesOf(step).success;
}

std::uint8_t CalibrationFirmware::failureCode(CalFirmwareStep step)
{
    return codesOf(step).failure;
}

CalibrationFirmware::CalibrationFirmware()
{
    outcomes_.fill(CalOutcome::Pass);
    for (int i = 0; i < kCalStepCount; ++i)
        delaysMs_[static_cast<std::size_t>(i)] = kSteps[i].delayMs;
}

// --- Settings ----------------------------------------------------------------

void CalibrationFirmware::setKind(CalEncoderKind kind)
{
    std::lock_guard lock(mutex_);
    kind_ = kind;
}

CalEncoderKind CalibrationFirmware::kind() const
{
    std::lock_guard lock(mutex_);
    return kind_;
}

bool CalibrationFirmware::setOutcome(CalFirmwareStep step, CalOutcome outcome)
{
    if (step == CalFirmwareStep::Count || (outcome == CalOutcome::Fail && failureCode(step) == 0))
        return false;
    std::lock_guard lock(mutex_);
    outcomes_[static_cast<std::size_t>(step)] = outcome;
    return true;
}

CalOutcome CalibrationFirmware::outcome(CalFirmwareStep step) const
{
    std::lock_guard lock(mutex_);
    return outcomes_.at(static_cast<std::size_t>(step));
}

void CalibrationFirmware::resetOutcomes()
{
    std::lock_guard lock(mutex_);
    outcomes_.fill(CalOutcome::Pass);
}

void CalibrationFirmware::setReplyDelayMs(CalFirmwareStep step, double ms)
{
    std::lock_guard lock(mutex_);
    delaysMs_.at(static_cast<std::size_t>(step)) = std::max(0.0, ms);
}

void CalibrationFirmware::setAllReplyDelaysMs(double ms)
{
    std::lock_guard lock(mutex_);
    delaysMs_.fill(std::max(0.0, ms));
}

void CalibrationFirmware::setInfoPacing(double firstMs, double intervalMs)
{
    std::lock_guard lock(mutex_);
    infoFirstMs_ = std::max(0.0, firstMs);
    infoIntervalMs_ = std::max(0.0, intervalMs);
}

void CalibrationFirmware::setStored1(const Encoder1Stored& s)
{
    std::lock_guard lock(mutex_);
    stored1_ = s;
}

void CalibrationFirmware::setStored2(const Encoder2Stored& s)
{
    std::lock_guard lock(mutex_);
    stored2_ = s;
}

Encoder1Stored CalibrationFirmware::stored1() const
{
    std::lock_guard lock(mutex_);
    return stored1_;
}

Encoder2Stored CalibrationFirmware::stored2() const
{
    std::lock_guard lock(mutex_);
    return stored2_;
}

void CalibrationFirmware::loseConfiguration()
{
    std::lock_guard lock(mutex_);
    configured_ = false;
}

bool CalibrationFirmware::sessionOpen() const
{
    std::lock_guard lock(mutex_);
    return sessionOpen_;
}

bool CalibrationFirmware::configured() const
{
    std::lock_guard lock(mutex_);
    return configured_;
}

bool CalibrationFirmware::woken() const
{
    std::lock_guard lock(mutex_);
    return woken_;
}

int CalibrationFirmware::lastCalibParam() const
{
    std::lock_guard lock(mutex_);
    return lastCalibParam_;
}

void CalibrationFirmware::reset()
{
    std::lock_guard lock(mutex_);
    sessionOpen_ = false;
    configured_ = false;
    woken_ = false;
    lastCalibParam_ = -1;
}

// --- Firmware ------------------------------------------------------------------

void CalibrationFirmware::install(CommandDispatcher& commands, const FirmwareContext& box)
{
    Fx2Pipe* pipe = &box.pipe;
    for (std::uint8_t code : packetCodes())
        commands.on(code, [this, pipe](const Packet& p, std::int64_t now) {
            take(p, now, [&](Packet bytes, std::int64_t due) { pipe->sendShortPacket(std::move(bytes), now, due); });
        });
}

std::int64_t CalibrationFirmware::delayMicrosLocked(CalFirmwareStep step) const
{
    return static_cast<std::int64_t>(delaysMs_[static_cast<std::size_t>(step)] * 1000.0);
}

void CalibrationFirmware::answerLocked(CalFirmwareStep step, std::int64_t now, const Send& send) const
{
    const CalOutcome o = outcomes_[static_cast<std::size_t>(step)];
    if (o == CalOutcome::Silent) {
        qCDebug(lcSimCalibration) << "calibration step" << static_cast<int>(step) << "stays silent";
        return;
    }
    const std::uint8_t code = o == CalOutcome::Fail ? failureCode(step) : successCode(step);
    const std::int64_t due = now + delayMicrosLocked(step);
    qCDebug(lcSimCalibration).nospace() << "calibration reply AA 00 AA " << Qt::hex << int(code) << Qt::dec
                                        << " in " << (due - now) / 1000 << " ms";
    send(replyFrame(code), due);
}

void CalibrationFirmware::setLostInfoTagEvery(int n)
{
    std::lock_guard lock(mutex_);
    lostTagEvery_ = n;
}

void CalibrationFirmware::sendInformationLocked(std::int64_t now, const Send& send) const
{
    if (outcomes_[static_cast<std::size_t>(CalFirmwareStep::Information)] == CalOutcome::Silent)
        return;
    auto paced = [&](const std::uint8_t* t, int last) {
        const auto first = static_cast<std::int64_t>(infoFirstMs_ * 1000.0);
        const auto interval = static_cast<std::int64_t>(infoIntervalMs_ * 1000.0);
        for (int tag = 1; tag <= last; ++tag)
            if (lostTagEvery_ <= 0 || tag % lostTagEvery_ != 0)
                send({static_cast<std::uint8_t>(tag), t[tag]}, now + first + (tag - 1) * interval);
        qCDebug(lcSimCalibration) << "calibration information:" << last << "tags, one every"
                                  << infoIntervalMs_ << "ms";
    };
    if (kind_ == CalEncoderKind::CoarseFine)
        paced(encoder1InfoTags(stored1_).data(), 52);
    else
        paced(encoder2InfoTags(stored2_).data(), 32);
}

void CalibrationFirmware::take(const Packet& p, std::int64_t now, const Send& send)
{
    if (p.empty())
        return;
    std::lock_guard lock(mutex_);
    const bool one = kind_ == CalEncoderKind::CoarseFine;
    // Encoder 1 takes its steps only inside a configured session; encoder 2
    // only once it is awake.
    const bool ready1 = one && sessionOpen_ && configured_;
    const bool ready2 = !one && woken_;
    qCDebug(lcSimCalibration).nospace() << kindName(kind_) << " takes " << Qt::hex << int(p[0]);

    switch (p[0]) {
    case kEnter:
        if (outcomes_[static_cast<std::size_t>(CalFirmwareStep::Enter)] == CalOutcome::Silent)
            return;  // the encoder did not react: no session, no wake
        if (one) {
            // A new session always asks for its configuration.
            sessionOpen_ = true;
            configured_ = false;
        } else {
            woken_ = true;
        }
        answerLocked(CalFirmwareStep::Enter, now, send);
        if (!one)
            answerLocked(CalFirmwareStep::WakeTurns, now, send);
        break;
    case kIdle:
        if (one && sessionOpen_ && !configured_)
            answerLocked(CalFirmwareStep::ConfigRequest, now, send);
        break;
    case kService:
        break;  // the encoder leaves its position output; nothing to answer
    case kWakeLine:
        if (!one)
            answerLocked(CalFirmwareStep::WakeLine, now, send);
        break;
    case kParamHeader:
        if (p.size() >= 6 && p[1] == kParamHeader && p[2] == p[3] && p[2] == p[4] && p[2] == p[5])
            lastCalibParam_ = p[2];
        break;
    case kConfigWrite:
        if (one && sessionOpen_ && outcomes_[static_cast<std::size_t>(CalFirmwareStep::ConfigWrite)] != CalOutcome::Silent) {
            configured_ = true;
            answerLocked(CalFirmwareStep::ConfigWrite, now, send);
        }
        break;
    case kCoarseEcc:
        if (ready1)
            answerLocked(CalFirmwareStep::CoarseEccentricity, now, send);
        else if (ready2)
            answerLocked(CalFirmwareStep::ZeroAlign2, now, send);
        break;
    case kCoarseAdc:
        if (ready1) {
            answerLocked(CalFirmwareStep::CoarseAdc, now, send);
        } else if (ready2) {
            // B1 after the turn one way, B2 after the turn back; a failed or
            // missing B1 ends the correction.
            answerLocked(CalFirmwareStep::B1, now, send);
            if (outcomes_[static_cast<std::size_t>(CalFirmwareStep::B1)] == CalOutcome::Pass)
                answerLocked(CalFirmwareStep::B2, now, send);
        }
        break;
    case kFineAdc:
        if (ready1)
            answerLocked(CalFirmwareStep::FineAdc, now, send);
        break;
    case kFineRadius:
        if (ready1)
            answerLocked(CalFirmwareStep::FineRadius, now, send);
        break;
    case kZeroAlign:
        if (ready1)
            answerLocked(CalFirmwareStep::ZeroAlign1, now, send);
        break;
    case kAirI:
        if (ready2)
            answerLocked(CalFirmwareStep::AirI, now, send);
        break;
    case kAirP:
        if (ready2)
            answerLocked(CalFirmwareStep::AirP, now, send);
        break;
    case kInformation:
        sendInformationLocked(now, send);
        break;
    default:
        break;
    }
}

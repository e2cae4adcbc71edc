#include "calibration/cal_engine.h"

#include "calibration/cal_reply_scan.h"
#include "common/clock.h"

#include <iterator>

namespace {

using Kind = CalStep::Kind;
using W = CalWait;
using Q = CalRequest;
using R = CalResult;

constexpr std::uint32_t bit(W w)
{
    return 1u << static_cast<int>(w);
}
constexpr std::uint32_t bit(Q q)
{
    return 1u << static_cast<int>(q);
}
constexpr std::uint32_t bit(R r)
{
    return 1u << static_cast<int>(r);
}

static_assert(static_cast<int>(W::Count) <= 32 && static_cast<int>(Q::Count) <= 32 && static_cast<int>(R::Count) <= 32);

constexpr std::uint32_t kEncoder1Waits = bit(W::StartAck) | bit(W::ConfigAck) | bit(W::CoarseEcc) | bit(W::FineAdc)
                                         | bit(W::CoarseAdc) | bit(W::FineRadius) | bit(W::Zero1) | bit(W::Info1);
constexpr std::uint32_t kEncoder2Waits = bit(W::Wake) | bit(W::Wake2) | bit(W::AirI) | bit(W::AirP) | bit(W::Zero2)
                                         | bit(W::BFirst) | bit(W::BSecond) | bit(W::Info2);
constexpr std::uint32_t kAllWaits = kEncoder1Waits | kEncoder2Waits;
constexpr std::uint32_t kEncoder1Results = bit(R::StartOk) | bit(R::CoarseEccOk) | bit(R::FineAdcOk)
                                           | bit(R::FineAdcFailed) | bit(R::CoarseAdcOk) | bit(R::CoarseAdcFailed)
                                           | bit(R::FineRadiusOk) | bit(R::FineRadiusFailed) | bit(R::Zero1Ok);
// The pending 'P' counts among the encoder-2 waits: whatever drops those
// drops it too.
constexpr std::uint32_t kPendingP = bit(Q::AirP);

constexpr CalStep pause(int ms)
{
    return {Kind::Pause, Flag::Count, W::Count, ms};
}
constexpr CalStep send(Flag f, int ms)
{
    return {Kind::Send, f, W::Count, ms};
}
constexpr CalStep drainRead(int ms)
{
    return {Kind::DrainRead, Flag::Count, W::Count, ms};
}
constexpr CalStep read(W w)
{
    return {Kind::Read, Flag::Count, w, 0};
}
constexpr CalStep lower(W w)
{
    return {Kind::LowerWait, Flag::Count, w, 0};
}

// The power cycle and the configuration wake the encoder; 0x16, '-' and
// 0x1D put it into calibration mode.
constexpr CalStep kWake[] = {
    pause(50),
    send(Flag::PowerOffCmd, 500),
    send(Flag::ConfigCmd, 100),
    send(Flag::StopCmd, 20),
    drainRead(100),
    send(Flag::Cal16Cmd, 20),
    send(Flag::CalDashCmd, 100),
    send(Flag::Cal1DCmd, 20),
    send(Flag::PowerOnCmd, 50),
    read(W::Wake),
};
constexpr CalStep kAirCal[] = {pause(100), send(Flag::CalICmd, 20), read(W::AirI)};
constexpr CalStep kAirP[] = {pause(100), send(Flag::CalPCmd, 20), read(W::AirP)};
// Encoder 2 reuses the eccentricity and coarse-ADC commands for its zero
// alignment and its B1/B2 correction.
constexpr CalStep kZero2[] = {pause(100), send(Flag::CoarseEccentricityCmd, 100), read(W::Zero2)};
constexpr CalStep kB1B2[] = {pause(100), send(Flag::CoarseAdcCmd, 100), read(W::BFirst)};
constexpr CalStep kInfo2[] = {pause(100), send(Flag::Cal16Cmd, 100), send(Flag::CalInfoCmd2, 100), read(W::Info2)};
constexpr CalStep kStart[] = {
    pause(50),
    send(Flag::PowerOnCmd, 200),
    send(Flag::ConfigCmd, 100),
    send(Flag::Cal0DCmd, 100),
    send(Flag::Cal16Cmd, 100),
    send(Flag::Cal1DCmd, 100),
    read(W::StartAck),
};
constexpr CalStep kConfigWrite[] = {send(Flag::CalParamCmd, 100), send(Flag::CalEqualsCmd, 100), read(W::ConfigAck)};
// Each encoder-1 step opens a short ':' window after its 0x16: an encoder
// that lost its calibration configuration asks for it again there.
constexpr CalStep kCoarseEcc[] = {
    send(Flag::Cal16Cmd, 100), read(W::StartAck), pause(100), lower(W::StartAck),
    send(Flag::CoarseEccentricityCmd, 100), read(W::CoarseEcc),
};
constexpr CalStep kFineAdc[] = {
    send(Flag::Cal16Cmd, 100), read(W::StartAck), pause(100), lower(W::StartAck),
    send(Flag::FineAdcCmd, 50), read(W::FineAdc),
};
constexpr CalStep kCoarseAdc[] = {
    send(Flag::Cal16Cmd, 100), read(W::StartAck), pause(100), lower(W::StartAck),
    send(Flag::CoarseAdcCmd, 100), read(W::CoarseAdc),
};
constexpr CalStep kFineRadius[] = {
    send(Flag::Cal16Cmd, 100), read(W::StartAck), pause(100), lower(W::StartAck),
    send(Flag::FineRadiusCmd, 100), read(W::FineRadius),
};
constexpr CalStep kZero1[] = {
    send(Flag::Cal16Cmd, 50), read(W::StartAck), pause(100), lower(W::StartAck),
    send(Flag::ZeroAlignCmd, 100), read(W::Zero1),
};
constexpr CalStep kInfo1[] = {
    pause(50), send(Flag::Cal0DCmd, 100), send(Flag::Cal16Cmd, 100), send(Flag::CalInfoCmd, 100), read(W::Info1),
};
constexpr CalStep kClosed[] = {send(Flag::Cal16Cmd, 80), {Kind::ShowMainWindow, Flag::Count, W::Count, 0}};

constexpr CalClears kEncoder1Step{kEncoder1Waits, 0, kEncoder1Results};

const CalSequenceRow kTable[] = {
    {Q::Wake, {kAllWaits, bit(Q::Start) | bit(Q::Restart) | kPendingP, kEncoder1Results}, kWake},
    {Q::AirCal, {kEncoder2Waits, kPendingP | bit(Q::Info2), 0}, kAirCal},
    {Q::AirP, {bit(W::Wake2), 0, 0}, kAirP},
    {Q::Zero2, {kEncoder2Waits | bit(W::CoarseEcc), kPendingP | bit(Q::Info2), 0}, kZero2},
    {Q::B1B2, {kEncoder2Waits | bit(W::CoarseEcc), kPendingP | bit(Q::Info2) | bit(Q::Zero2), 0}, kB1B2},
    {Q::Info2, {kAllWaits, kPendingP | bit(Q::Zero2) | bit(Q::Info1), 0}, kInfo2},
    {Q::Start, {kAllWaits, kPendingP | bit(Q::Info2) | bit(Q::Start) | bit(Q::Restart), kEncoder1Results}, kStart},
    {Q::ConfigWrite, {0, bit(Q::ConfigWrite), 0}, kConfigWrite},
    {Q::CoarseEccentricity, kEncoder1Step, kCoarseEcc},
    {Q::FineAdc, kEncoder1Step, kFineAdc},
    {Q::CoarseAdc, kEncoder1Step, kCoarseAdc},
    {Q::FineRadius, kEncoder1Step, kFineRadius},
    {Q::Zero1, kEncoder1Step, kZero1},
    {Q::Info1, {kAllWaits, kPendingP | bit(Q::Info2), 0}, kInfo1},
};

// The requests that run a row: the start sequence runs for a press of
// "启动校准" and for the restart after the first acknowledgement.
std::uint32_t triggersOf(const CalSequenceRow& row)
{
    return row.request == Q::Start ? bit(Q::Start) | bit(Q::Restart) : bit(row.request);
}

// The result that shows a wait's step as failed when its reply never came.
R failureOf(W w)
{
    switch (w) {
    case W::StartAck:
    case W::ConfigAck: return R::StartFailed;
    case W::CoarseEcc: return R::CoarseEccFailed;
    case W::FineAdc: return R::FineAdcFailed;
    case W::CoarseAdc: return R::CoarseAdcFailed;
    case W::FineRadius: return R::FineRadiusFailed;
    case W::Zero1: return R::Zero1Failed;
    case W::Info1: return R::Info1Failed;
    case W::Wake: return R::WakeFailed;
    case W::Wake2: return R::Wake2Failed;
    case W::AirI:
    case W::AirP: return R::AirFailed;
    case W::Zero2: return R::Zero2Failed;
    case W::BFirst: return R::B1Failed;
    case W::BSecond: return R::B2Failed;
    case W::Info2: return R::Info2Failed;
    case W::Count: break;
    }
    return R::Count;
}

std::int64_t benchMillis()
{
    return benchClock().nowMicros() / 1000;
}

}  // namespace

std::span<const CalSequenceRow> calSequenceTable()
{
    return kTable;
}

std::span<const CalStep> calClosedSteps()
{
    return kClosed;
}

CalibrationEngine::CalibrationEngine(Clock nowMs)
    : m_now(nowMs ? std::move(nowMs) : Clock(benchMillis))
{
}

int CalibrationEngine::replyTimeoutMs(CalWait w)
{
    switch (w) {
    case W::Wake2:    // after waking, the operator turns the encoder twice
    case W::BFirst:   // one turn counter-clockwise, one clockwise
    case W::BSecond:
        return 60000;
    default:
        return 5000;
    }
}

// --- state helpers, called with the lock held ---

bool CalibrationEngine::isWaiting(CalWait w) const
{
    return m_waits & bit(w);
}

void CalibrationEngine::raiseWait(CalWait w)
{
    m_waits |= bit(w);
    m_waitSince[static_cast<int>(w)] = m_now();
}

void CalibrationEngine::lowerWait(CalWait w)
{
    m_waits &= ~bit(w);
}

void CalibrationEngine::raise(CalResult r)
{
    m_results |= bit(r);
}

void CalibrationEngine::lowerEverything()
{
    m_requests = 0;
    m_waits = 0;
}

// --- dialog side ---

void CalibrationEngine::open()
{
    std::lock_guard lock(m_mutex);
    lowerEverything();
    m_results = 0;
    m_configAcks = 0;
    m_closed = false;
}

void CalibrationEngine::close()
{
    std::lock_guard lock(m_mutex);
    m_closed = true;
    lowerEverything();
}

bool CalibrationEngine::closed() const
{
    std::lock_guard lock(m_mutex);
    return m_closed;
}

void CalibrationEngine::raiseRequest(CalRequest r)
{
    std::lock_guard lock(m_mutex);
    m_requests |= bit(r);
}

void CalibrationEngine::lowerRequest(CalRequest r)
{
    std::lock_guard lock(m_mutex);
    m_requests &= ~bit(r);
}

bool CalibrationEngine::requested(CalRequest r) const
{
    std::lock_guard lock(m_mutex);
    return m_requests & bit(r);
}

bool CalibrationEngine::takeResult(CalResult r)
{
    std::lock_guard lock(m_mutex);
    const bool up = m_results & bit(r);
    m_results &= ~bit(r);
    return up;
}

bool CalibrationEngine::resultRaised(CalResult r) const
{
    std::lock_guard lock(m_mutex);
    return m_results & bit(r);
}

Encoder1InfoTexts CalibrationEngine::info1Texts() const
{
    std::lock_guard lock(m_mutex);
    return m_info1;
}

Encoder2InfoTexts CalibrationEngine::info2Texts() const
{
    std::lock_guard lock(m_mutex);
    return m_info2;
}

void CalibrationEngine::stopAll()
{
    std::lock_guard lock(m_mutex);
    lowerEverything();
}

// --- timer 3 ---

void CalibrationEngine::beginTick()
{
    std::lock_guard lock(m_mutex);
    m_tickClosed = m_closed;
    // A tick runs the rows asked for when it began. A reply that the reader
    // takes while the tick sends raises its follow-up for the next tick, so
    // a tick's packets do not depend on how fast the reader thread ran.
    m_tickRequests = m_requests;
    m_row = -1;
    m_step = 0;
    m_inRow = false;
    if (m_tickClosed)
        lowerEverything();
}

std::optional<CalStep> CalibrationEngine::nextStep()
{
    std::lock_guard lock(m_mutex);
    if (m_tickClosed) {
        if (m_step < std::size(kClosed))
            return kClosed[m_step++];
        return std::nullopt;
    }
    for (;;) {
        if (m_inRow) {
            const CalSequenceRow& row = kTable[m_row];
            if (m_step < row.steps.size()) {
                const CalStep step = row.steps[m_step++];
                if (step.kind == Kind::Read) {
                    // A record is read into the tag values of the last one:
                    // a tag lost on the way keeps its previous value.
                    raiseWait(step.wait);
                } else if (step.kind == Kind::LowerWait) {
                    lowerWait(step.wait);
                }
                return step;
            }
            m_inRow = false;
        }
        if (m_row + 1 >= static_cast<int>(std::size(kTable)))
            return std::nullopt;
        const CalSequenceRow& row = kTable[++m_row];
        const std::uint32_t triggers = triggersOf(row);
        if (!(m_requests & m_tickRequests & triggers))
            continue;
        // The acknowledgement count is kept across a press of "启动校准":
        // only the opening and the second acknowledgement reset it, so an
        // interrupted handshake is not sent one start round more.
        m_requests &= ~(triggers | row.clears.requests);
        m_waits &= ~row.clears.waits;
        m_results &= ~row.clears.results;
        m_inRow = true;
        m_step = 0;
    }
}

// --- reply reader ---

bool CalibrationEngine::awaitingReply() const
{
    std::lock_guard lock(m_mutex);
    return m_waits != 0;
}

bool CalibrationEngine::waiting(CalWait w) const
{
    std::lock_guard lock(m_mutex);
    return isWaiting(w);
}

int CalibrationEngine::configAckCount() const
{
    std::lock_guard lock(m_mutex);
    return m_configAcks;
}

CalReplyOutcome CalibrationEngine::takeTransfer(std::span<const std::uint8_t> bytes)
{
    std::lock_guard lock(m_mutex);
    const bool info1 = isWaiting(W::Info1);
    const bool info2 = isWaiting(W::Info2);
    const CalScanItem item = scanCalibrationTransfer(bytes, info1, info2);
    CalReplyOutcome out;
    switch (item.kind) {
    case CalScanItem::Kind::Nothing:
        break;
    case CalScanItem::Kind::Tag:
        out.item = CalReplyOutcome::Item::Tag;
        out.code = item.tag;
        // The box paces a record's tags: the time-out counts from the last
        // tag, not from the request, so a long record is not thrown away.
        m_waitSince[static_cast<int>(info2 ? W::Info2 : W::Info1)] = m_now();
        if (info2) {
            if (m_tags2.store(item.tag, item.value)) {
                lowerWait(W::Info2);
                m_info2 = formatEncoder2Info(m_tags2);
                raise(R::Info2Ready);
            }
        } else if (m_tags1.store(item.tag, item.value)) {
            lowerWait(W::Info1);
            m_info1 = m_decoder1.decode(m_tags1);
            raise(R::Info1Ready);
        }
        break;
    case CalScanItem::Kind::Reply:
        out = applyReplyLocked(item.code);
        break;
    }
    out.endReader = out.endReader || m_waits == 0;
    return out;
}

CalReplyOutcome CalibrationEngine::applyReply(std::uint8_t code)
{
    std::lock_guard lock(m_mutex);
    CalReplyOutcome out = applyReplyLocked(code);
    out.endReader = out.endReader || m_waits == 0;
    return out;
}

CalReplyOutcome CalibrationEngine::applyReplyLocked(std::uint8_t code)
{
    CalReplyOutcome out;
    out.item = CalReplyOutcome::Item::Reply;
    out.code = code;
    // A code answers the waits that were raised when it arrived, but for
    // the second B1B2 wait: a code that raises it goes on to that row and
    // lowers it again at once, so one B reply ends the step and its reader.
    const std::uint32_t before = m_waits;
    const auto was = [before](W w) { return (before & bit(w)) != 0; };

    if (was(W::StartAck) && code == 0x3A) {
        lowerWait(W::StartAck);
        m_requests |= bit(Q::ConfigWrite);
    }
    if (was(W::Wake) && code == 0x3A) {
        raise(R::WakeOk);
        lowerWait(W::Wake);
        raiseWait(W::Wake2);
    }
    if (was(W::Wake2) && code == 0xB3) {
        lowerWait(W::Wake2);
        raise(R::Wake2Ok);
    }
    if (was(W::AirI) && code == 0x49) {
        lowerWait(W::AirI);
        m_requests |= bit(Q::AirP);
    }
    if (was(W::AirP) && code == 0x50) {
        lowerWait(W::AirP);
        raise(R::AirOk);
    }
    if (was(W::Zero2) && (code == 0x35 || code == 0x1E)) {
        lowerWait(W::Zero2);
        raise(code == 0x35 ? R::Zero2Ok : R::Zero2Failed);
    }
    if (was(W::BFirst) && (code == 0xB1 || code == 0xB2 || code == 0x5A)) {
        lowerWait(W::BFirst);
        if (code == 0x5A) {
            raise(R::B1Failed);
        } else {
            raise(code == 0xB1 ? R::B1Ok : R::B2Ok);
            raiseWait(W::BSecond);
        }
    }
    if (isWaiting(W::BSecond) && (code == 0xB1 || code == 0xB2 || code == 0x5A)) {
        lowerWait(W::BSecond);
        raise(code == 0xB1 ? R::B1Ok : code == 0xB2 ? R::B2Ok : R::B2Failed);
    }
    if (was(W::ConfigAck)) {
        if (code == 0x39) {
            lowerWait(W::ConfigAck);
            if (++m_configAcks == 1) {
                // The encoder took the configuration once: run the start
                // sequence again and expect a second acknowledgement.
                m_requests |= bit(Q::Restart);
                out.endReader = true;
            } else {
                m_configAcks = 0;
                m_requests &= ~(bit(Q::Start) | bit(Q::Restart));
                lowerWait(W::StartAck);
                raise(R::StartOk);
            }
        }
        return out;
    }

    // Of the encoder-1 steps only the first awaited one is answered.
    if (was(W::CoarseEcc)) {
        if (code == 0xB3) {
            lowerWait(W::CoarseEcc);
            raise(R::CoarseEccOk);
        }
    } else if (was(W::CoarseAdc)) {
        if (code == 0xA2 || code == 0x22) {
            lowerWait(W::CoarseAdc);
            raise(code == 0xA2 ? R::CoarseAdcOk : R::CoarseAdcFailed);
        }
    } else if (was(W::FineAdc)) {
        if (code == 0xA1 || code == 0x22) {
            lowerWait(W::FineAdc);
            raise(code == 0xA1 ? R::FineAdcOk : R::FineAdcFailed);
        }
    } else if (was(W::FineRadius)) {
        if (code == 0xB2) {
            lowerWait(W::FineRadius);
            raise(R::FineRadiusOk);
        } else if (code == 0x22) {
            // Both results (the dialog ends on the failure icon); the wait
            // stays raised for a later answer.
            raise(R::FineRadiusOk);
            raise(R::FineRadiusFailed);
        }
    } else if (was(W::Zero1)) {
        if (code == 0xC1) {
            lowerWait(W::Zero1);
            raise(R::Zero1Ok);
        }
    }
    return out;
}

std::vector<CalWait> CalibrationEngine::expireOverdue()
{
    std::lock_guard lock(m_mutex);
    std::vector<CalWait> expired;
    const std::int64_t now = m_now();
    for (int i = 0; i < static_cast<int>(W::Count); ++i) {
        const W w = static_cast<W>(i);
        if (isWaiting(w) && now - m_waitSince[i] >= replyTimeoutMs(w)) {
            lowerWait(w);
            raise(failureOf(w));
            expired.push_back(w);
        }
    }
    return expired;
}

#pragma once
// The calibration command engine: the dialog raises requests, each timer-3
// tick (450 ms) turns raised requests into timed sequences of command
// packets, and a reply reader feeds the box's answers back, which raise the
// results the dialog shows.
//
// The engine holds no thread and never touches the link. The operation
// drives it: on each tick it calls beginTick() and carries out the steps
// nextStep() hands out (pulse a packet, pause, drain read, make sure a reply
// reader runs); the reply reader passes every inbound transfer to
// takeTransfer(). All members may be called from any thread; one lock guards
// the state.
#include "calibration/cal_info_records.h"
#include "protocol/command_flags.h"

#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <span>
#include <vector>

// Requests, one per row of the sequence table. Start and Restart share a row;
// AirP (send 'P'), ConfigWrite and Restart are raised by replies. The
// engine keeps them apart from the command flags: a request never makes a
// packet carry a pattern, only the sequence's own pulses do.
enum class CalRequest : int {
    Wake,                // "唤醒"
    AirCal,              // "对空气校准"
    AirP,                // the 'P' packet after the 0x49 reply
    Zero2,               // encoder-2 "零点对齐"
    B1B2,                // "B1B2校正"
    Info2,               // encoder-2 "获取校准信息"
    Start,               // "启动校准"
    Restart,             // the start sequence again after the first 0x39
    ConfigWrite,         // the calibration configuration, after a 0x3A
    CoarseEccentricity,  // "粗圈偏心"
    FineAdc,             // "细圈ADC"
    CoarseAdc,           // "粗圈ADC"
    FineRadius,          // "细圈半径"
    Zero1,               // encoder-1 "零点对齐"
    Info1,               // encoder-1 "获取校准信息"
    Count
};

// Replies a sequence waits for.
enum class CalWait : int {
    StartAck,   // 0x3A after the start sequence or a step's 0x16
    ConfigAck,  // 0x39 after the configuration write
    CoarseEcc,
    FineAdc,
    CoarseAdc,
    FineRadius,
    Zero1,
    Info1,      // tags 1..52
    Wake,
    Wake2,
    AirI,
    AirP,
    Zero2,
    BFirst,
    BSecond,
    Info2,      // tags 1..32
    Count
};

// Results for the dialog, each read and lowered by takeResult().
enum class CalResult : int {
    WakeOk,
    Wake2Ok,
    AirOk,
    Zero2Ok,
    Zero2Failed,
    B1Ok,
    B1Failed,
    B2Ok,
    B2Failed,
    StartOk,
    CoarseEccOk,
    FineAdcOk,
    FineAdcFailed,
    CoarseAdcOk,
    CoarseAdcFailed,
    FineRadiusOk,
    FineRadiusFailed,
    Zero1Ok,
    Info1Ready,
    Info2Ready,
    // A step whose reply did not come within its time-out (the steps above
    // that have a negative reply use their own failure result).
    StartFailed,
    CoarseEccFailed,
    Zero1Failed,
    Info1Failed,
    WakeFailed,
    Wake2Failed,
    AirFailed,
    Info2Failed,
    Count
};

// One step of a sequence.
struct CalStep {
    enum class Kind {
        Pause,           // wait waitMs
        Send,            // pulse `packet` (raise, request a send, lower), then wait waitMs
        DrainRead,       // start the drain read, then wait waitMs
        Read,            // `wait` is raised: make sure a reply reader runs
        LowerWait,       // `wait` is lowered (done by the engine)
        ShowMainWindow,  // the dialog has closed
    };
    Kind kind = Kind::Pause;
    Flag packet = Flag::Count;
    CalWait wait = CalWait::Count;
    int waitMs = 0;

    friend bool operator==(const CalStep&, const CalStep&) = default;
};

// What a row lowers before its sequence runs, so that a new step abandons
// older waits.
struct CalClears {
    std::uint32_t waits = 0;     // bits by CalWait
    std::uint32_t requests = 0;  // bits by CalRequest
    std::uint32_t results = 0;   // bits by CalResult

    bool has(CalWait w) const { return waits >> static_cast<int>(w) & 1u; }
    bool has(CalRequest r) const { return requests >> static_cast<int>(r) & 1u; }
    bool has(CalResult r) const { return results >> static_cast<int>(r) & 1u; }
};

struct CalSequenceRow {
    CalRequest request;
    CalClears clears;
    std::span<const CalStep> steps;
};

// The rows in the order a tick tests them.
std::span<const CalSequenceRow> calSequenceTable();
// The steps of a tick after the dialog has closed.
std::span<const CalStep> calClosedSteps();

// What the reply reader does after a transfer.
struct CalReplyOutcome {
    enum class Item { Nothing, Tag, Reply };
    Item item = Item::Nothing;
    std::uint8_t code = 0;   // Reply: the frame's code; Tag: the tag
    bool endReader = false;  // stop reading (the start sequence runs again, or nothing is awaited)
};

class CalibrationEngine {
public:
    // Milliseconds of a steady clock, for the reply time-outs.
    using Clock = std::function<std::int64_t()>;
    explicit CalibrationEngine(Clock nowMs = {});

    // How long a wait may stay unanswered. Waits that need the operator to
    // turn the shaft first get a minute; the others five seconds.
    static int replyTimeoutMs(CalWait w);

    // --- dialog side ---
    // The dialog has opened: every request, wait, result and follow-up is
    // lowered, the acknowledgement count is 0, the closed mark is down.
    void open();
    // The dialog has closed: from now on each tick sends 0x16 and shows the
    // main window. Every wait, follow-up and request is lowered at once, so
    // the reply reader ends and no 'P' is left pending.
    void close();
    bool closed() const;
    void raiseRequest(CalRequest r);
    void lowerRequest(CalRequest r);
    bool requested(CalRequest r) const;
    // Reads and lowers a result.
    bool takeResult(CalResult r);
    bool resultRaised(CalResult r) const;
    // The texts of the last complete information record of each encoder.
    Encoder1InfoTexts info1Texts() const;
    Encoder2InfoTexts info2Texts() const;

    // --- stop-all ---
    // Lowers every wait, follow-up and request (results stay for the dialog).
    void stopAll();

    // --- timer 3 ---
    // Starts a tick; then call nextStep() until it returns nothing. Requests
    // are tested row by row as the tick reaches them; Read and LowerWait
    // steps take effect when they are handed out.
    void beginTick();
    std::optional<CalStep> nextStep();

    // --- reply reader ---
    bool awaitingReply() const;
    bool waiting(CalWait w) const;
    int configAckCount() const;
    // Takes the first item of one inbound transfer: an information tag while
    // a record is awaited, otherwise a reply frame AA ?? AA code.
    CalReplyOutcome takeTransfer(std::span<const std::uint8_t> bytes);
    // Applies one reply code to the waits raised when it arrived.
    CalReplyOutcome applyReply(std::uint8_t code);
    // Lowers the waits past their time-out and raises their steps' failure
    // results; returns the waits that expired.
    std::vector<CalWait> expireOverdue();

private:
    bool isWaiting(CalWait w) const;
    void raiseWait(CalWait w);
    void lowerWait(CalWait w);
    void raise(CalResult r);
    void lowerEverything();
    CalReplyOutcome applyReplyLocked(std::uint8_t code);

    Clock m_now;
    mutable std::mutex m_mutex;
    std::uint32_t m_requests = 0;
    std::uint32_t m_tickRequests = 0;  // m_requests when the tick began
    std::uint32_t m_waits = 0;
    std::uint32_t m_results = 0;
    std::int64_t m_waitSince[static_cast<int>(CalWait::Count)] = {};
    bool m_closed = false;
    int m_configAcks = 0;

    // Tick cursor.
    bool m_tickClosed = false;
    int m_row = -1;
    std::size_t m_step = 0;
    bool m_inRow = false;

    CalInfo1Tags m_tags1;
    CalInfo2Tags m_tags2;
    Encoder1InfoDecoder m_decoder1;
    Encoder1InfoTexts m_info1;
    Encoder2InfoTexts m_info2;
};

#include "campaign/campaign_checks.h"

#include "bench/capture.h"
#include "support/capture_blocks.h"

#include <QJsonDocument>
#include <algorithm>
#include <cstdlib>

namespace {

// Misbehaviour that the operation reads: a pass after it would be a lie.
bool spoilsAPass(const RunEvidence& ev, const Fault& f)
{
    const CampaignOp op = ev.plan.op;
    // A fault that keeps the box's stream from the host may swallow the
    // damaged blocks before anyone reads them.
    const bool swallowing = std::any_of(ev.plan.faults.begin(), ev.plan.faults.end(), [](const Fault& g) {
        return g.kind == FaultKind::Silence || g.kind == FaultKind::Gap || g.kind == FaultKind::StallIn ||
               g.kind == FaultKind::Unplug;
    });
    switch (f.kind) {
    case FaultKind::Unplug:
        // Reading's verdict is the user's stop; what it showed came before.
        return op != CampaignOp::Read;
    case FaultKind::InOnly:
        return true;
    case FaultKind::BadAckStatus:
    case FaultKind::NoAck:
    case FaultKind::Overflow:
        return op == CampaignOp::Capture;
    case FaultKind::EepromIgnore:
        return op == CampaignOp::Eeprom && ev.plan.eepromValue != 0xFF;
    case FaultKind::EepromShort:
        return op == CampaignOp::Eeprom;
    case FaultKind::Jump:
        // The test sees the jump plus the shaft's travel between two samples
        // (up to 3 degrees either way): only a step beyond 8 is sure to show.
        return op == CampaignOp::Accuracy && std::abs(f.amount) >= 8;
    // A wrong CRC is not listed: reading and the accuracy test check the
    // records they show, not every record of a transfer, so a record with a
    // wrong CRC may pass by unread.
    case FaultKind::DropSync:
        return op == CampaignOp::Resolution && !swallowing;
    default:
        return false;
    }
}

std::string describeFault(const Fault& f)
{
    return faultKindName(f.kind);
}

std::vector<const PostedOutcome*> outcomesOf(const RunEvidence& ev, Operation op)
{
    std::vector<const PostedOutcome*> out;
    for (const PostedOutcome& p : ev.outcomes)
        if (p.outcome.operation == op)
            out.push_back(&p);
    return out;
}

}  // namespace

std::vector<std::string> checkRun(const RunEvidence& ev)
{
    std::vector<std::string> broken;
    auto fail = [&](std::string what) { broken.push_back(std::move(what)); };

    // The bench is idle again: no flag that stop-all lowers, no worker, no
    // session on the IN endpoint, and the box holds no transfer of ours.
    for (const std::string& f : ev.flagsUp)
        fail(f + " is still up after stop-all");
    if (ev.workersRunning != 0)
        fail(std::to_string(ev.workersRunning) + " workers still run after stop-all");
    if (ev.inGateOwned)
        fail("the IN endpoint is still owned after stop-all");
    if (ev.boxPendingIn != 0 || ev.boxPendingOut != 0)
        fail("the box still holds " + std::to_string(ev.boxPendingIn) + " IN and " +
             std::to_string(ev.boxPendingOut) + " OUT transfers");
    if (ev.boxFound && !ev.reconfigured &&
        std::none_of(ev.plan.faults.begin(), ev.plan.faults.end(),
                     [](const Fault& f) { return f.kind == FaultKind::InOnly; }))
        fail("\"Clicking setting\" after the faults ended did not configure the box");
    if (!ev.boxFound)
        fail("the box was not found at start-up");

    const std::vector<const PostedOutcome*> mine = outcomesOf(ev, ev.operation);
    const bool oncePerRun = ev.operation != Operation::Calibration && ev.operation != Operation::SinCos;
    if (oncePerRun && mine.size() > 1)
        fail(std::to_string(mine.size()) + " outcomes for one run of " + campaignOpName(ev.plan.op));
    if (outcomesOf(ev, Operation::Configure).size() > 1)
        fail("the configuration concluded more than once");

    // A pass never comes after misbehaviour the operation reads. The
    // verdict may follow the last data by a little: the resolution walk at
    // once, a calibration indicator at the dialog's next 500 ms tick. A
    // fault within that time came after the data and spoils nothing.
    const double afterDataMs = ev.operation == Operation::Calibration ? 500
                               : ev.operation == Operation::Resolution ? 1
                                                                       : 0;
    for (const PostedOutcome* p : mine) {
        if (p->outcome.ending != Ending::Verdict || !p->outcome.passed)
            continue;
        for (const AppliedFault& a : ev.faults)
            if (a.atMicros + static_cast<std::int64_t>(afterDataMs * 1000) <= p->atMicros && spoilsAPass(ev, a.fault))
                fail(std::string("a pass after ") + describeFault(a.fault));
    }

    // A well-behaved box passes every operation.
    if (ev.plan.clean()) {
        const bool passed = !mine.empty() && std::all_of(mine.begin(), mine.end(), [](const PostedOutcome* p) {
            return p->outcome.ending == Ending::Verdict && p->outcome.passed;
        });
        if (!passed)
            fail(mine.empty() ? std::string("no outcome from a well-behaved box")
                              : "a well-behaved box gave: " + operationName(mine.back()->outcome.operation).toStdString() +
                                    " " + std::to_string(static_cast<int>(mine.back()->outcome.ending)) + " " +
                                    mine.back()->outcome.message.toStdString());
    }

    // The stored results are the verdicts, one each, equal to them.
    std::vector<const Outcome*> verdicts;
    for (const PostedOutcome& p : ev.outcomes)
        if (p.outcome.ending == Ending::Verdict)
            verdicts.push_back(&p.outcome);
    if (verdicts.size() != ev.reports.size()) {
        fail(std::to_string(verdicts.size()) + " verdicts but " + std::to_string(ev.reports.size()) +
             " stored results");
    } else {
        for (std::size_t i = 0; i < verdicts.size(); ++i) {
            const TestReport& r = ev.reports[i];
            const Outcome& o = *verdicts[i];
            if (r.command != operationName(o.operation) || r.passed != o.passed || r.figures != o.figures())
                fail("stored result " + std::to_string(i) + " (" + r.command.toStdString() + ") differs from its outcome: " +
                     QJsonDocument(r.figures).toJson(QJsonDocument::Compact).toStdString() + " against " +
                     QJsonDocument(o.figures()).toJson(QJsonDocument::Compact).toStdString());
        }
    }

    // Every byte the box sent for a capture is in its file, or was offered.
    if (ev.plan.op == CampaignOp::Capture && !mine.empty()) {
        const Outcome& o = mine.back()->outcome;
        const CaptureResult* c = o.as<CaptureResult>();
        const bool sent = std::any_of(ev.captureTransfers.begin(), ev.captureTransfers.end(),
                                      [](const auto& t) { return !t.empty(); });
        using S = CaptureResult::Status;
        if (c && c->file.isEmpty() && sent && c->status != S::NotSaved && c->status != S::TransmissionError &&
            c->status != S::WriteError)
            fail("the capture's data were neither kept nor offered");
        if (!c && sent && o.ending != Ending::Refused)
            fail("the capture ended without a result though the box had sent data");
        if (c && !c->file.isEmpty() && !c->decimal) {
            const std::size_t n = ev.captureTransfers.size();
            const QByteArray all = captureFileOf(ev.captureTransfers, n);
            const bool whole = ev.captureFileBytes == all;
            const bool lastCut = n > 0 && ev.captureFileBytes == captureFileOf(ev.captureTransfers, n - 1);
            if (!whole && !lastCut)
                fail("the capture file (" + std::to_string(ev.captureFileBytes.size()) +
                     " bytes) is not what the box sent (" + std::to_string(all.size()) + " bytes)");
        }
    }
    return broken;
}

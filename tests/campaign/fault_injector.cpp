#include "campaign/fault_injector.h"

#include "simbox/sim_box.h"
#include "simbox/sim_bus.h"

#include <algorithm>

namespace {

constexpr std::int64_t kRecordMicros = 125;

bool isTimed(const Fault& f)
{
    switch (f.kind) {
    case FaultKind::Unplug:
        return f.forMs >= 0;
    case FaultKind::Silence:
    case FaultKind::Gap:
    case FaultKind::Burst:
    case FaultKind::StallIn:
        return true;
    default:
        return false;
    }
}

bool isStanding(FaultKind k)
{
    return k == FaultKind::InOnly || k == FaultKind::NoAck || k == FaultKind::Jump || k == FaultKind::EepromBurst ||
           k == FaultKind::EepromNoise || k == FaultKind::EepromIgnore || k == FaultKind::EepromShort;
}

}  // namespace

void prepareBox(const FaultPlan& plan, SimBox& box)
{
    box.setRecordPeriodMicros(kRecordMicros);
    box.calibration().setKind(plan.calibrationEncoder == 2 ? CalEncoderKind::Waking : CalEncoderKind::CoarseFine);
    for (const Fault& f : plan.faults) {
        switch (f.kind) {
        case FaultKind::InOnly:
            box.setInEndpointOnly(true);
            break;
        case FaultKind::NoAck:
            box.setCaptureAckAbsent(true);
            break;
        case FaultKind::EepromBurst:
            box.setEepromBurst(true);
            break;
        case FaultKind::EepromNoise:
            box.setEepromNoise(true);
            break;
        case FaultKind::EepromIgnore:
            box.encoder().setEepromBehaviour(EepromBehaviour::Ignore);
            break;
        case FaultKind::EepromShort:
            box.encoder().setEepromBehaviour(EepromBehaviour::Short);
            break;
        case FaultKind::Jump: {
            // Past the shaft's start, within the first turn of the test.
            box.encoder().addAngleJump(AngleJump{90.0, static_cast<double>(f.amount)});
            break;
        }
        default:
            break;
        }
    }
}

std::vector<FaultInjector::Step> FaultInjector::stepsOf(const FaultPlan& plan, std::int64_t t0)
{
    std::vector<Step> steps;
    for (std::size_t i = 0; i < plan.faults.size(); ++i) {
        const Fault& f = plan.faults[i];
        if (isStanding(f.kind))
            continue;
        const auto at = t0 + static_cast<std::int64_t>(f.atMs * 1000.0);
        steps.push_back({at, i, false});
        if (isTimed(f))
            steps.push_back({at + static_cast<std::int64_t>(f.forMs * 1000.0), i, true});
    }
    std::stable_sort(steps.begin(), steps.end(), [](const Step& a, const Step& b) { return a.dueMicros < b.dueMicros; });
    return steps;
}

FaultInjector::FaultInjector(const FaultPlan& plan, std::shared_ptr<SimBus> bus, std::shared_ptr<SimBox> box)
    : plan_(plan),
      bus_(std::move(bus)),
      box_(std::move(box)),
      clock_(benchClock()),
      steps_(stepsOf(plan_, clock_.nowMicros())),
      thread_(clock_, [this] { run(); })
{
    const std::int64_t t0 = clock_.nowMicros();
    std::lock_guard lock(mutex_);
    for (const Fault& f : plan_.faults)
        if (isStanding(f.kind))
            applied_.push_back({f, t0});
}

FaultInjector::~FaultInjector()
{
    endAll();
}

void FaultInjector::run()
{
    for (const Step& step : steps_) {
        if (clock_.waitUntil(step.dueMicros, [this] { return quit_; }))
            return;
        apply(step);
    }
}

void FaultInjector::apply(const Step& step)
{
    const Fault& f = plan_.faults[step.fault];
    SimBox& box = *box_;
    switch (f.kind) {
    case FaultKind::Unplug:
        if (!step.ending)
            bus_->unplug(box_);
        else if (!bus_->isPresent(box_))
            bus_->plug(box_);
        break;
    case FaultKind::Silence:
    case FaultKind::Gap:
        box.setNoAnswer(!step.ending);
        break;
    case FaultKind::Burst:
        box.setRecordPeriodMicros(step.ending ? kRecordMicros : std::max<std::int64_t>(kRecordMicros / f.amount, 16));
        break;
    case FaultKind::LateAnswers:
        box.setAnswerDelayMs(f.amount);
        break;
    case FaultKind::Corrupt:
        box.corruptBlocks(f.amount);
        break;
    case FaultKind::DropSync:
        box.dropBlockSync(f.amount);
        break;
    case FaultKind::CrcErrors:
        box.injectCrcErrors(f.amount);
        break;
    case FaultKind::StallIn:
        box.setInStalled(!step.ending);
        break;
    case FaultKind::BadAckStatus:
        box.setCaptureAckStatus(f.amount);
        break;
    case FaultKind::Overflow:
        box.injectCaptureOverflow(f.amount);
        break;
    case FaultKind::LostTags:
        box.calibration().setLostInfoTagEvery(f.amount);
        break;
    default:
        return;
    }
    if (!step.ending) {
        std::lock_guard lock(mutex_);
        applied_.push_back({f, clock_.nowMicros()});
    }
}

void FaultInjector::endAll()
{
    if (!thread_.joinable())
        return;
    clock_.update([this] { quit_ = true; });
    thread_.join();
    SimBox& box = *box_;
    box.setNoAnswer(false);
    box.setInStalled(false);
    box.setAnswerDelayMs(0);
    box.setRecordPeriodMicros(kRecordMicros);
    box.corruptBlocks(0);
    box.dropBlockSync(0);
    box.injectCrcErrors(0);
    box.setCaptureAckStatus(std::nullopt);
    box.calibration().setLostInfoTagEvery(0);
    if (!bus_->isPresent(box_))
        bus_->plug(box_);
}

std::vector<AppliedFault> FaultInjector::applied() const
{
    std::lock_guard lock(mutex_);
    return applied_;
}

#include "campaign/campaign_run.h"

#include "common/clock.h"
#include "headless/box_runs.h"
#include "headless/headless_bench.h"
#include "headless/interface_choice.h"
#include "headless/tool_result.h"
#include "interface/protocol_table.h"
#include "simbox/demo_bus.h"
#include "simbox/sim_box.h"
#include "simbox/sim_bus.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <mutex>

namespace {

InterfaceChoice interfaceOf(const FaultPlan& plan)
{
    InterfaceChoice c;
    const auto p = protocolByName(plan.protocol);
    c.protocol = static_cast<int>(*p);
    if (plan.op == CampaignOp::Accuracy)
        c.gaugeField = QStringLiteral("2");
    return c;
}

QStringList calibrationSteps(int encoder)
{
    if (encoder == 1)
        return {"start", "coarse-eccentricity", "fine-adc", "coarse-adc", "fine-radius", "zero-1", "info-1"};
    return {"wake", "air", "zero-2", "b1b2", "info-2"};
}

void drive(HeadlessBench& hb, const FaultPlan& plan, const QString& captureFile)
{
    switch (plan.op) {
    case CampaignOp::Configure:
        runConfigure(hb);
        break;
    case CampaignOp::Read:
        runRead(hb, 3);
        break;
    case CampaignOp::Capture:
        runCapture(hb, CaptureStart{plan.captureSeconds, captureFile, plan.decimal});
        break;
    case CampaignOp::Accuracy:
        runAbsTest(hb);
        break;
    case CampaignOp::Resolution:
        runResolution(hb, plan.resolutionCycles, std::nullopt);
        break;
    case CampaignOp::Eeprom:
        runEeprom(hb, plan.eepromValue);
        break;
    case CampaignOp::SinCos:
        runSinCos(hb, std::nullopt);
        break;
    case CampaignOp::Calibration:
        runCalibration(hb, CalibrationRun{QStringLiteral("482"), calibrationSteps(plan.calibrationEncoder)});
        break;
    case CampaignOp::Force:
        runForce(hb, ForceRun{1.0, QString(), false}, false);
        break;
    }
}

bool hasFault(const FaultPlan& plan, FaultKind kind)
{
    for (const Fault& f : plan.faults)
        if (f.kind == kind)
            return true;
    return false;
}

}  // namespace

RunEvidence runPlan(const FaultPlan& plan)
{
    setToolQuiet(true);
    RunEvidence ev;
    ev.plan = plan;
    ev.operation = static_cast<Operation>(plan.op);

    QTemporaryDir files;
    const QString captureFile = files.filePath(QStringLiteral("capture.txt"));
    // The demo box; the link reads its descriptors (IN-only or not) only
    // when the bench opens it.
    std::shared_ptr<SimBox> box;
    const std::shared_ptr<SimBus> bus = makeDemoBus(&box);
    prepareBox(plan, *box);

    std::mutex m;
    bool recording = true;  // under m: the recovery's outcomes are not the run's
    {
        HeadlessBench hb(/*quiet=*/true);
        hb.view.setFileAnswer(captureFile);
        hb.run([&](Bench& b) {
            b.context().setResultSink([&](const TestReport& r) {
                std::lock_guard lock(m);
                if (recording)
                    ev.reports.push_back(r);
            });
            b.outcomes().addListener([&](const Outcome& o) {
                std::lock_guard lock(m);
                if (recording)
                    ev.outcomes.push_back({o, benchClock().nowMicros()});
            });
        });
        hb.startUp(bus);
        ev.boxFound = hb.boxPresent();
        if (ev.boxFound && applyInterface(hb, interfaceOf(plan))) {
            ev.startMicros = benchClock().nowMicros();
            FaultInjector injector(plan, bus, box);
            drive(hb, plan, captureFile);
            injector.endAll();
            ev.faults = injector.applied();
        }
        hb.run([](Bench& b) { b.stopAll(); });
        bus->waitForNotifications();
        hb.waitFor([&] { return hb.state.link.workers.runningCount() == 0; }, 5000);

        for (Flag f : kEveryOperationFlag)
            if (hb.state.link.flags.isUp(f))
                ev.flagsUp.push_back("flag " + std::to_string(static_cast<int>(f)));
        ev.workersRunning = hb.state.link.workers.runningCount();
        ev.inGateOwned = hb.state.link.inGate.owned();
        const SimBoxState s = box->state();
        ev.boxPendingIn = s.pendingInTransfers;
        ev.boxPendingOut = s.pendingOutTransfers;
        ev.captureTransfers = box->captureTransfers();

        {
            std::lock_guard lock(m);
            recording = false;
        }
        if (ev.boxFound && !hasFault(plan, FaultKind::InOnly))
            ev.reconfigured = runConfigure(hb).status == kPass;
        hb.shutdown();
    }
    QFile f(captureFile);
    if (f.open(QIODevice::ReadOnly)) {
        ev.captureFile = captureFile;
        ev.captureFileBytes = f.readAll();
    }
    return ev;
}

RunEvidence runPlanInVirtualTime(const FaultPlan& plan)
{
    const std::shared_ptr<Clock> before = benchClockPtr();
    auto clock = std::make_shared<VirtualClock>();
    installBenchClock(clock);
    RunEvidence ev;
    {
        Clock::Member member(*clock);
        ev = runPlan(plan);
    }
    installBenchClock(before);
    return ev;
}

// The fault campaign's plans, and the seeds that once broke an invariant:
// each replays as a regression case.
#include "campaign/campaign_checks.h"
#include "campaign/campaign_run.h"
#include "campaign/fault_plan.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <set>

namespace {

// Seeds that broke an invariant once; what they found is mended.
const std::uint64_t kRegressionSeeds[] = {
    18,   // accuracy: a stalled IN endpoint spun the sampler without end
    90,   // reading: a stalled IN endpoint spun the reader without end
    165,  // reading: the same after a gap in the stream
    187,  // force: the reader spun on a stalled endpoint
    199,  // force: an attempt cut short by the box's removal scored a pass
    287,  // resolution: blocks lost at the transfer's start gave a pass
    534,  // resolution: the same on SPI
    881,  // force: an attempt begun after the box was gone scored a pass
};

}  // namespace

TEST(FaultPlan, SeedsReplayAndCoverEveryOperationAndFault)
{
    std::set<CampaignOp> ops;
    std::set<FaultKind> kinds;
    int clean = 0;
    for (std::uint64_t seed = 1; seed <= 2000; ++seed) {
        const FaultPlan p = drawFaultPlan(seed);
        ASSERT_EQ(p.describe(), drawFaultPlan(seed).describe());
        ops.insert(p.op);
        clean += p.clean() ? 1 : 0;
        for (const Fault& f : p.faults) {
            kinds.insert(f.kind);
            ASSERT_GE(f.atMs, 0);
            ASSERT_LE(f.atMs, p.runMs);
        }
    }
    EXPECT_EQ(ops.size(), static_cast<std::size_t>(kCampaignOpCount));
    EXPECT_EQ(kinds.size(), static_cast<std::size_t>(FaultKind::Jump) + 1);
    EXPECT_GT(clean, 300);
    EXPECT_LT(clean, 700);
}

TEST(FaultCampaign, RegressionSeedsKeepEveryInvariant)
{
    // The bench's files go to a data root of this test's own.
    QTemporaryDir dataRoot;
    qputenv("XDG_DATA_HOME", dataRoot.path().toUtf8());
    for (std::uint64_t seed : kRegressionSeeds) {
        const FaultPlan plan = drawFaultPlan(seed);
        SCOPED_TRACE(plan.describe());
        for (const std::string& broken : checkRun(runPlanInVirtualTime(plan)))
            ADD_FAILURE() << broken;
    }
}

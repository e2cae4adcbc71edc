#include "campaign/fault_plan.h"

#include <algorithm>
#include <cstdio>
#include <random>

namespace {

using Rng = std::mt19937_64;

int uniform(Rng& rng, int lo, int hi)
{
    return std::uniform_int_distribution<int>(lo, hi)(rng);
}

double uniformMs(Rng& rng, double lo, double hi)
{
    return std::uniform_real_distribution<double>(lo, hi)(rng);
}

template <typename T>
T pick(Rng& rng, std::initializer_list<T> items)
{
    return *(items.begin() + uniform(rng, 0, static_cast<int>(items.size()) - 1));
}

bool isSpi(const std::string& protocol)
{
    return protocol == "SPI" || protocol == "SPI_CRC";
}

// The misbehaviours an operation can meet: the box's own, and those of the
// data the operation reads.
std::vector<FaultKind> faultsFor(CampaignOp op, const std::string& protocol)
{
    using K = FaultKind;
    std::vector<K> kinds{K::Unplug, K::Silence, K::Gap, K::LateAnswers, K::StallIn, K::InOnly};
    const bool streams = op == CampaignOp::Read || op == CampaignOp::Capture || op == CampaignOp::Accuracy ||
                         op == CampaignOp::Resolution || op == CampaignOp::Force;
    if (streams)
        kinds.insert(kinds.end(), {K::Burst, K::Corrupt, K::DropSync});
    if (isSpi(protocol) && (op == CampaignOp::Read || op == CampaignOp::Accuracy))
        kinds.push_back(K::CrcErrors);
    switch (op) {
    case CampaignOp::Capture:
        kinds.insert(kinds.end(), {K::BadAckStatus, K::NoAck, K::Overflow});
        break;
    case CampaignOp::Eeprom:
        kinds.insert(kinds.end(), {K::EepromBurst, K::EepromNoise, K::EepromIgnore, K::EepromShort});
        break;
    case CampaignOp::Calibration:
        kinds.push_back(K::LostTags);
        break;
    case CampaignOp::Accuracy:
        kinds.push_back(K::Jump);
        break;
    default:
        break;
    }
    return kinds;
}

Fault drawFault(Rng& rng, FaultKind kind, double runMs)
{
    Fault f;
    f.kind = kind;
    f.atMs = uniformMs(rng, 0, runMs);
    switch (kind) {
    case FaultKind::Unplug:
        f.forMs = uniform(rng, 0, 2) == 0 ? -1 : uniformMs(rng, 1, 2000);
        break;
    case FaultKind::Silence:
        f.forMs = uniformMs(rng, 300, 8000);
        break;
    case FaultKind::Gap:
        f.forMs = uniformMs(rng, 1, 250);
        break;
    case FaultKind::Burst:
        f.forMs = uniformMs(rng, 10, 2000);
        f.amount = uniform(rng, 2, 8);
        break;
    case FaultKind::LateAnswers:
        f.amount = uniform(rng, 1, 120);
        break;
    case FaultKind::Corrupt:
    case FaultKind::DropSync:
        f.amount = uniform(rng, 1, 6);
        break;
    case FaultKind::CrcErrors:
        f.amount = uniform(rng, 1, 4);
        break;
    case FaultKind::StallIn:
        f.forMs = uniformMs(rng, 1, 3000);
        break;
    case FaultKind::BadAckStatus:
        f.amount = uniform(rng, 1, 255);
        break;
    case FaultKind::Overflow:
        f.amount = uniform(rng, 1, 40);
        break;
    case FaultKind::LostTags:
        f.amount = uniform(rng, 1, 20);
        break;
    case FaultKind::Jump:
        // A step of 5 degrees or more is an error; a smaller one is not.
        f.amount = pick(rng, {-40, -12, -5, 5, 7, 30, 90, 2, -3});
        f.atMs = 0;
        break;
    case FaultKind::InOnly:
    case FaultKind::EepromBurst:
    case FaultKind::EepromNoise:
    case FaultKind::EepromIgnore:
    case FaultKind::EepromShort:
    case FaultKind::NoAck:
        // Properties of the box or the encoder for the whole run.
        f.atMs = 0;
        break;
    }
    return f;
}

}  // namespace

const char* campaignOpName(CampaignOp op)
{
    static const char* const names[] = {"configure", "read",   "capture",     "accuracy", "resolution",
                                        "eeprom",    "sincos", "calibration", "force"};
    return names[static_cast<int>(op)];
}

const char* faultKindName(FaultKind kind)
{
    static const char* const names[] = {"unplug",     "silence",   "gap",        "burst",        "late-answers",
                                        "corrupt",    "drop-sync", "crc-errors", "stall-in",     "bad-ack-status",
                                        "no-ack",     "overflow",  "in-only",    "lost-tags",    "eeprom-burst",
                                        "eeprom-noise", "eeprom-ignore", "eeprom-short", "jump"};
    return names[static_cast<int>(kind)];
}

FaultPlan drawFaultPlan(std::uint64_t seed)
{
    Rng rng(seed * 0x9E3779B97F4A7C15ull + 1);
    FaultPlan p;
    p.seed = seed;
    p.op = static_cast<CampaignOp>(uniform(rng, 0, kCampaignOpCount - 1));
    switch (p.op) {
    case CampaignOp::Configure:
        p.protocol = pick(rng, {"BISS", "SSI", "SPI", "SPI_CRC", "RS485", "sin_cosine"});
        p.runMs = 400;
        break;
    case CampaignOp::Read:
        p.protocol = pick(rng, {"BISS", "SSI", "SPI", "SPI_CRC", "RS485"});
        p.runMs = 1500;
        break;
    case CampaignOp::Capture:
        p.protocol = pick(rng, {"BISS", "SSI", "SPI", "RS485"});
        p.captureSeconds = uniform(rng, 1, 4);
        p.decimal = uniform(rng, 0, 3) == 0;
        p.runMs = p.captureSeconds * 1000.0 + 300;
        break;
    case CampaignOp::Accuracy:
        p.protocol = "BISS";
        p.runMs = 680 * 300.0;
        break;
    case CampaignOp::Resolution:
        p.protocol = pick(rng, {"BISS", "SSI", "SPI", "RS485"});
        p.resolutionCycles = pick(rng, {10000, 20000, 60000, 100000, 300000, 800000});
        p.runMs = p.resolutionCycles >= 100000 ? p.resolutionCycles / 100000 * 2100.0 : 1000.0;
        break;
    case CampaignOp::Eeprom:
        p.protocol = "RS485";
        p.eepromValue = uniform(rng, 0, 255);
        p.runMs = 7000;
        break;
    case CampaignOp::SinCos:
        p.protocol = "sin_cosine";
        p.runMs = 1200;
        break;
    case CampaignOp::Calibration:
        p.protocol = "BISS";
        p.calibrationEncoder = uniform(rng, 1, 2);
        p.runMs = p.calibrationEncoder == 1 ? 6000 : 8000;
        break;
    case CampaignOp::Force:
        p.protocol = "BISS";
        p.runMs = 1200;
        break;
    }
    // A quarter of the runs meet a well-behaved box: they must pass.
    const int count = uniform(rng, 0, 3) == 0 ? 0 : uniform(rng, 1, 3);
    const std::vector<FaultKind> kinds = faultsFor(p.op, p.protocol);
    for (int i = 0; i < count; ++i) {
        const FaultKind kind = kinds[static_cast<std::size_t>(uniform(rng, 0, static_cast<int>(kinds.size()) - 1))];
        const bool once = kind == FaultKind::InOnly || kind == FaultKind::NoAck || kind == FaultKind::Jump ||
                          kind >= FaultKind::EepromBurst;
        if (once && std::any_of(p.faults.begin(), p.faults.end(), [&](const Fault& f) { return f.kind == kind; }))
            continue;
        p.faults.push_back(drawFault(rng, kind, p.runMs));
    }
    std::sort(p.faults.begin(), p.faults.end(), [](const Fault& a, const Fault& b) { return a.atMs < b.atMs; });
    return p;
}

std::string FaultPlan::describe() const
{
    char head[160];
    std::snprintf(head, sizeof head, "seed %llu: %s on %s", static_cast<unsigned long long>(seed),
                  campaignOpName(op), protocol.c_str());
    std::string s = head;
    if (op == CampaignOp::Capture)
        s += ", " + std::to_string(captureSeconds) + " s" + (decimal ? " decimal" : "");
    if (op == CampaignOp::Resolution)
        s += ", " + std::to_string(resolutionCycles) + " cycles";
    if (op == CampaignOp::Eeprom)
        s += ", value " + std::to_string(eepromValue);
    if (op == CampaignOp::Calibration)
        s += ", encoder " + std::to_string(calibrationEncoder);
    s += faults.empty() ? "; a well-behaved box" : ";";
    for (const Fault& f : faults) {
        char one[120];
        std::snprintf(one, sizeof one, " %s at %.0f ms", faultKindName(f.kind), f.atMs);
        s += one;
        if (f.forMs != 0) {
            std::snprintf(one, sizeof one, f.forMs < 0 ? " for good" : " for %.0f ms", f.forMs);
            s += one;
        }
        if (f.amount != 0)
            s += " (" + std::to_string(f.amount) + ")";
        s += ",";
    }
    if (!faults.empty())
        s.pop_back();
    return s;
}

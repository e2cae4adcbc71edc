#include "simbox/sim_options.h"

#include "simbox/sim_box.h"
#include "simbox/unplug_timer.h"

#include <charconv>
#include <cmath>
#include <set>

namespace {

std::optional<double> parseNumber(std::string_view s)
{
    double v = 0;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    if (s.empty() || ec != std::errc{} || end != s.data() + s.size() || !std::isfinite(v))
        return std::nullopt;
    return v;
}

std::optional<int> parseWhole(std::string_view s, int lo, int hi)
{
    int v = 0;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    if (s.empty() || ec != std::errc{} || end != s.data() + s.size() || v < lo || v > hi)
        return std::nullopt;
    return v;
}

std::vector<std::string_view> split(std::string_view s, char sep)
{
    std::vector<std::string_view> parts;
    for (;;) {
        const auto at = s.find(sep);
        parts.push_back(s.substr(0, at));
        if (at == std::string_view::npos)
            return parts;
        s.remove_prefix(at + 1);
    }
}

std::string quoted(std::string_view s)
{
    return "\"" + std::string(s) + "\"";
}

class Parser {
public:
    explicit Parser(SimSettings& out) : s_(out) {}

    // Empty string: fine; otherwise the error.
    std::string item(std::string_view key, std::optional<std::string_view> value)
    {
        key_ = key;
        if (key != "jump" && !seen_.insert(std::string(key)).second)
            return "--simulate key " + quoted(key) + " is given twice";
        if (key == "silent") {
            if (value)
                return "--simulate key \"silent\" takes no value";
            s_.silent = true;
            return {};
        }
        if (key == "no-ack") {
            if (value)
                return "--simulate key \"no-ack\" takes no value";
            s_.noAck = true;
            return {};
        }
        static const std::set<std::string_view> kKeys{
            "speed",      "rpm",    "bits",   "turn-bits",  "status-bits",  "jump",
            "crc-errors", "eeprom", "sincos", "ack-status", "unplug-after", "calibration"};
        if (!kKeys.contains(key))
            return "unknown --simulate key " + quoted(key);
        if (!value || value->empty())
            return "--simulate key " + quoted(key) + " needs a value";
        v_ = *value;

        if (key == "speed") {
            const auto f = parseNumber(v_);
            if (!f || *f <= 0)
                return bad("a number above 0");
            s_.speed = *f;
        } else if (key == "rpm") {
            const auto r = parseNumber(v_);
            if (!r || std::fabs(*r) > 100000)
                return bad("a number of revolutions per minute (negative turns backwards)");
            s_.rpm = *r;
        } else if (key == "bits") {
            if (!(s_.singleTurnBits = parseWhole(v_, 1, 32)))
                return bad("a whole number from 1 to 32");
        } else if (key == "turn-bits") {
            if (!(s_.turnBits = parseWhole(v_, 0, 24)))
                return bad("a whole number from 0 to 24");
        } else if (key == "status-bits") {
            if (!(s_.statusBits = parseWhole(v_, 0, 16)))
                return bad("a whole number from 0 to 16");
        } else if (key == "jump") {
            const auto parts = split(v_, ':');
            const auto at = parts.size() == 2 ? parseNumber(parts[0]) : std::nullopt;
            const auto step = parts.size() == 2 ? parseNumber(parts[1]) : std::nullopt;
            if (!at || !step || *at < 0 || *at >= 360 || *step == 0 || std::fabs(*step) >= 360)
                return bad("ANGLE:STEP in degrees, the angle from 0 to below 360, the step not 0 and "
                           "less than 360 either way");
            s_.jumps.push_back({*at, *step});
        } else if (key == "crc-errors") {
            if (!(s_.crcErrorEvery = parseWhole(v_, 1, 1'000'000'000)))
                return bad("a whole number of 1 or more (every Nth record)");
        } else if (key == "eeprom") {
            if (v_ == "store")
                s_.eeprom = EepromBehaviour::Store;
            else if (v_ == "ignore")
                s_.eeprom = EepromBehaviour::Ignore;
            else if (v_ == "short")
                s_.eeprom = EepromBehaviour::Short;
            else
                return bad("store, ignore or short");
        } else if (key == "sincos") {
            const auto parts = split(v_, ':');
            std::vector<double> n;
            for (std::string_view p : parts)
                if (const auto x = parseNumber(p))
                    n.push_back(*x);
            const auto volts = [](double x) { return x >= 0 && x <= 5; };
            if (parts.size() != 5 || n.size() != 5 || !volts(n[0]) || !volts(n[1]) || !volts(n[2]) ||
                !volts(n[3]))
                return bad("CO:SO:CA:SA:PH, offsets and amplitudes in volts from 0 to 5, phase in degrees");
            s_.sincos = SimSinCosSetting{n[0], n[1], n[2], n[3], n[4]};
        } else if (key == "ack-status") {
            if (!(s_.ackStatus = parseWhole(v_, 0, 255)))
                return bad("a whole number from 0 to 255");
        } else if (key == "unplug-after") {
            const auto t = parseNumber(v_);
            if (!t || *t < 0)
                return bad("a number of seconds, 0 or more");
            s_.unplugAfterSeconds = *t;
        } else if (key == "calibration") {
            if (!(s_.calibrationEncoder = parseWhole(v_, 1, 2)))
                return bad("1 (coarse and fine track) or 2 (the waking encoder)");
        }
        return {};
    }

private:
    std::string bad(const char* expected) const
    {
        return "--simulate key " + quoted(key_) + ": expected " + expected + ", got " + quoted(v_);
    }

    SimSettings& s_;
    std::set<std::string> seen_;
    std::string_view key_;
    std::string_view v_;
};

}  // namespace

SimOptionsParse parseSimOptions(std::string_view text)
{
    SimOptionsParse result;
    Parser parser(result.settings);
    for (std::string_view item : split(text, ',')) {
        if (item.empty())
            continue;  // "a=1,,b=2" and a trailing comma
        const auto eq = item.find('=');
        const std::string_view key = item.substr(0, eq);
        std::optional<std::string_view> value;
        if (eq != std::string_view::npos)
            value = item.substr(eq + 1);
        if (key.empty()) {
            result.error = "--simulate item " + quoted(item) + " has no key";
            break;
        }
        result.error = parser.item(key, value);
        if (!result.ok())
            break;
    }
    const SimSettings& s = result.settings;
    if (result.ok() && s.singleTurnBits.value_or(0) + s.turnBits.value_or(0) + s.statusBits.value_or(0) > 64)
        result.error = "--simulate keys \"bits\", \"turn-bits\" and \"status-bits\": the frame holds at most 64 bits";
    if (!result.ok())
        result.settings = {};
    return result;
}

void applySimSettings(const SimSettings& s, SimBox& box)
{
    EncoderModel& enc = box.encoder();
    if (s.singleTurnBits || s.turnBits || s.statusBits)
        enc.setResolution(s.singleTurnBits.value_or(enc.singleTurnBits()), s.turnBits.value_or(enc.turnBits()),
                          s.statusBits.value_or(enc.statusBits()));
    if (s.rpm)
        enc.setSpeedRpm(*s.rpm);
    for (const AngleJump& j : s.jumps)
        enc.addAngleJump(j);
    if (s.eeprom)
        enc.setEepromBehaviour(*s.eeprom);
    if (s.sincos) {
        SinCosShape shape = enc.sinCos();
        shape.cosPlusOffset = shape.cosMinusOffset = s.sincos->cosOffset;
        shape.sinPlusOffset = shape.sinMinusOffset = s.sincos->sinOffset;
        shape.cosAmplitude = s.sincos->cosAmplitude;
        shape.sinAmplitude = s.sincos->sinAmplitude;
        shape.phaseDegrees = s.sincos->phaseDegrees;
        shape.cosMinusAmplitude.reset();
        shape.sinMinusAmplitude.reset();
        shape.minusPhaseDegrees.reset();
        enc.setSinCos(shape);
    }
    if (s.crcErrorEvery)
        box.injectCrcErrorEvery(*s.crcErrorEvery);
    if (s.ackStatus)
        box.setCaptureAckStatus(*s.ackStatus);
    if (s.silent)
        box.setNoAnswer(true);
    if (s.noAck)
        box.setCaptureAckAbsent(true);
    if (s.calibrationEncoder)
        box.calibration().setKind(*s.calibrationEncoder == 2 ? CalEncoderKind::Waking : CalEncoderKind::CoarseFine);
}

std::unique_ptr<SimUnplugTimer> startUnplugTimer(const SimSettings& s, const std::shared_ptr<SimBus>& bus,
                                                 const std::shared_ptr<SimBox>& box)
{
    if (!s.unplugAfterSeconds)
        return nullptr;
    return std::make_unique<SimUnplugTimer>(bus, box, *s.unplugAfterSeconds);
}

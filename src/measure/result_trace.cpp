#include "measure/result_trace.h"

#include "measure/accuracy_tracker.h"

#include <cmath>

namespace {

constexpr char kFormat = 1;
enum TraceKind : std::uint8_t { kAccuracyTrace = 1, kSinCosTrace = 2, kReadTrace = 3, kResolutionTrace = 4 };
// Bounds a decoder trusts: no trace of ours comes near them.
constexpr std::uint64_t kMaxPoints = 1u << 22;

class TraceWriter {
public:
    void byte(std::uint8_t b) { out_.append(static_cast<char>(b)); }
    void unsignedVarint(std::uint64_t v)
    {
        while (v >= 0x80) {
            byte(static_cast<std::uint8_t>(v | 0x80));
            v >>= 7;
        }
        byte(static_cast<std::uint8_t>(v));
    }
    void signedVarint(std::int64_t v)
    {
        unsignedVarint((static_cast<std::uint64_t>(v) << 1) ^ static_cast<std::uint64_t>(v >> 63));
    }
    QByteArray take() { return std::move(out_); }

private:
    QByteArray out_;
};

class TraceReader {
public:
    explicit TraceReader(const QByteArray& in) : in_(in) {}
    bool byte(std::uint8_t& b)
    {
        if (pos_ >= in_.size())
            return fail();
        b = static_cast<std::uint8_t>(in_[pos_++]);
        return true;
    }
    bool unsignedVarint(std::uint64_t& v)
    {
        v = 0;
        for (int shift = 0; shift < 64; shift += 7) {
            std::uint8_t b = 0;
            if (!byte(b))
                return false;
            v |= static_cast<std::uint64_t>(b & 0x7F) << shift;
            if (!(b & 0x80))
                return true;
        }
        return fail();
    }
    bool signedVarint(std::int64_t& v)
    {
        std::uint64_t u = 0;
        if (!unsignedVarint(u))
            return false;
        v = static_cast<std::int64_t>(u >> 1) ^ -static_cast<std::int64_t>(u & 1);
        return true;
    }
    bool count(std::uint64_t& n) { return unsignedVarint(n) && (n <= kMaxPoints || fail()); }
    bool ok() const { return ok_; }
    bool atEnd() const { return pos_ == in_.size(); }

private:
    bool fail()
    {
        ok_ = false;
        return false;
    }
    const QByteArray& in_;
    qsizetype pos_ = 0;
    bool ok_ = true;
};

// Sums and differences that wrap instead of overflowing: damaged bytes may
// hold any number.
std::int64_t plus(std::int64_t a, std::int64_t b)
{
    return static_cast<std::int64_t>(static_cast<std::uint64_t>(a) + static_cast<std::uint64_t>(b));
}
std::int64_t minus(std::int64_t a, std::int64_t b)
{
    return static_cast<std::int64_t>(static_cast<std::uint64_t>(a) - static_cast<std::uint64_t>(b));
}

std::int64_t angleUnits(double degrees)
{
    return std::llround(degrees / kTraceAngleUnit);
}

struct Encode {
    TraceWriter& w;
    void operator()(std::monostate) const {}
    void operator()(const AccuracyTrace& t) const
    {
        w.byte(kAccuracyTrace);
        w.unsignedVarint(t.points.size());
        std::int64_t step = 0, angle = 0;
        for (const AccuracyTracePoint& p : t.points) {
            const std::int64_t a = angleUnits(p.angle);
            w.signedVarint(minus(p.step, step));
            w.signedVarint(minus(a, angle));
            step = p.step;
            angle = a;
        }
        // The jumps as the gaps between their sample indices.
        std::uint64_t jumps = 0;
        for (const AccuracyTracePoint& p : t.points)
            jumps += p.jump;
        w.unsignedVarint(jumps);
        std::uint64_t last = 0;
        for (std::uint64_t i = 0; i < t.points.size(); ++i)
            if (t.points[i].jump) {
                w.unsignedVarint(i - last);
                last = i;
            }
    }
    void operator()(const SinCosTrace& t) const
    {
        w.byte(kSinCosTrace);
        for (const auto& track : t.codes) {
            w.unsignedVarint(track.size());
            // Byte differences: a smooth wave repeats them, which zlib takes.
            std::uint8_t previous = 0;
            for (std::uint8_t c : track) {
                w.byte(static_cast<std::uint8_t>(c - previous));
                previous = c;
            }
        }
    }
    void operator()(const ReadTrace& t) const
    {
        w.byte(kReadTrace);
        w.unsignedVarint(t.points.size());
        std::int64_t us = 0, raw = 0;
        for (const ReadTracePoint& p : t.points) {
            const std::int64_t u = std::llround(p.ms * 1000.0);
            w.signedVarint(minus(u, us));
            w.signedVarint(minus(p.raw, raw));
            us = u;
            raw = p.raw;
        }
    }
    void operator()(const ResolutionTrace& t) const
    {
        w.byte(kResolutionTrace);
        for (std::int64_t v : {t.first, t.last, t.minimum, t.maximum})
            w.signedVarint(v);
    }
};

std::optional<ResultTrace> decodePayload(const QByteArray& payload)
{
    TraceReader r(payload);
    std::uint8_t kind = 0;
    if (!r.byte(kind))
        return std::nullopt;
    ResultTrace out;
    switch (kind) {
    case kAccuracyTrace: {
        AccuracyTrace t;
        std::uint64_t n = 0;
        if (!r.count(n))
            return std::nullopt;
        t.points.reserve(n);
        std::int64_t step = 0, angle = 0;
        for (std::uint64_t i = 0; i < n; ++i) {
            std::int64_t ds = 0, da = 0;
            if (!r.signedVarint(ds) || !r.signedVarint(da))
                return std::nullopt;
            step = plus(step, ds);
            angle = plus(angle, da);
            t.points.push_back({static_cast<int>(step), static_cast<double>(angle) * kTraceAngleUnit, false});
        }
        std::uint64_t jumps = 0, index = 0;
        if (!r.count(jumps))
            return std::nullopt;
        for (std::uint64_t j = 0; j < jumps; ++j) {
            std::uint64_t gap = 0;
            if (!r.unsignedVarint(gap))
                return std::nullopt;
            index += gap;
            if (index >= n)
                return std::nullopt;
            t.points[index].jump = true;
        }
        out = std::move(t);
        break;
    }
    case kSinCosTrace: {
        SinCosTrace t;
        for (auto& track : t.codes) {
            std::uint64_t n = 0;
            if (!r.count(n))
                return std::nullopt;
            track.resize(n);
            std::uint8_t previous = 0;
            for (auto& c : track) {
                std::uint8_t d = 0;
                if (!r.byte(d))
                    return std::nullopt;
                c = previous = static_cast<std::uint8_t>(previous + d);
            }
        }
        out = std::move(t);
        break;
    }
    case kReadTrace: {
        ReadTrace t;
        std::uint64_t n = 0;
        if (!r.count(n))
            return std::nullopt;
        t.points.reserve(n);
        std::int64_t us = 0, raw = 0;
        for (std::uint64_t i = 0; i < n; ++i) {
            std::int64_t du = 0, dr = 0;
            if (!r.signedVarint(du) || !r.signedVarint(dr))
                return std::nullopt;
            us = plus(us, du);
            raw = plus(raw, dr);
            t.points.push_back({static_cast<double>(us) / 1000.0, raw});
        }
        out = std::move(t);
        break;
    }
    case kResolutionTrace: {
        ResolutionTrace t;
        if (!r.signedVarint(t.first) || !r.signedVarint(t.last) || !r.signedVarint(t.minimum) ||
            !r.signedVarint(t.maximum))
            return std::nullopt;
        out = t;
        break;
    }
    default:
        return std::nullopt;
    }
    if (!r.ok() || !r.atEnd())
        return std::nullopt;
    return out;
}

}  // namespace

QByteArray encodeTrace(const ResultTrace& trace)
{
    if (std::holds_alternative<std::monostate>(trace))
        return {};
    TraceWriter w;
    std::visit(Encode{w}, trace);
    QByteArray out("QT");
    out.append(kFormat);
    out.append(qCompress(w.take(), 9));
    return out;
}

std::optional<ResultTrace> decodeTrace(const QByteArray& bytes)
{
    if (bytes.size() < 7 || !bytes.startsWith("QT") || bytes[2] != kFormat)
        return std::nullopt;
    // qCompress's header holds the payload's length; refuse a claim no trace makes.
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.constData() + 3);
    const std::uint32_t claimed = (std::uint32_t(p[0]) << 24) | (std::uint32_t(p[1]) << 16) |
                                  (std::uint32_t(p[2]) << 8) | std::uint32_t(p[3]);
    if (claimed > 64u * 1024 * 1024)
        return std::nullopt;
    const QByteArray payload = qUncompress(bytes.mid(3));
    if (payload.isEmpty())
        return std::nullopt;
    return decodePayload(payload);
}

std::vector<double> traceJumpSizes(const AccuracyTrace& t)
{
    std::vector<double> sizes;
    for (std::size_t i = 1; i < t.points.size(); ++i)
        if (t.points[i].jump)
            sizes.push_back(circularDistance(t.points[i - 1].angle, t.points[i].angle));
    return sizes;
}

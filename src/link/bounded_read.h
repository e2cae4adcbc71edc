#pragma once
// The one way to read the IN endpoint: a transfer that waits in short slices
// until it completes, the reading operation stops, or its limit passes, and
// is then cancelled. It never stays pending behind its reader, so it cannot
// swallow the data of a later operation.
#include <cstdint>
#include <functional>

struct BoxLink;

enum class ReadStatus {
    Ok,          // completed without error (bytes may be fewer than asked)
    Failed,      // completed with a USB or system error (bytes: what came before it)
    TimedOut,    // the limit passed; cancelled
    Stopped,     // the operation's own flag dropped; cancelled
    Cancelled,   // stop-all or a device change cancelled the reads
    NoEndpoint,  // no IN endpoint (no box)
};

const char* readStatusName(ReadStatus s);

struct BoundedRead {
    int length = 2048;
    // Bench milliseconds after which the transfer is cancelled.
    double limitMs = 1000;
    // `keepWaiting` is consulted only after this long; the drain read waits
    // its first 100 ms whatever happens.
    double firstWaitMs = 0;
    // The reading operation still runs. Empty: it always does.
    std::function<bool()> keepWaiting;
    double sliceMs = 10;
};

struct ReadOutcome {
    ReadStatus status = ReadStatus::NoEndpoint;
    int bytes = 0;
    double waitedMs = 0;  // bench time from the start of the transfer to its end
    bool ok() const { return status == ReadStatus::Ok; }
};

// Reads up to `request.length` bytes into `buf` on the calling thread. The
// bytes are copied into `buf` only when the transfer completed.
ReadOutcome readBounded(BoxLink& link, std::uint8_t* buf, const BoundedRead& request);

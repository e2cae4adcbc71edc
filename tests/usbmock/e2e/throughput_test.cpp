// A capture through libusb, in real time, with the box streaming faster
// than it ever does: 10-byte records every 2 us (5 MB/s, 62.5 times the
// box's fastest stream of 8000 records a second). The IN pump's queued
// transfers must keep the FX2's four-packet FIFO from overflowing.
#include "usb_bench.h"

#include "bench/capture.h"
#include "headless/box_runs.h"
#include "headless/tool_result.h"
#include "link/in_pump.h"
#include "measure/capture_stream.h"

#include <gtest/gtest.h>

#include <QFile>
#include <chrono>
#include <cstdlib>
#include <iostream>

namespace {
#ifdef QUILLMARK_INSTRUMENTED
// Sanitized code takes several times as long per URB (an ASan build at 62.5
// times lost most of the stream); 12.5 times the box's rate still keeps many
// transfers queued and in flight, and the figure that counts is the plain
// build's.
constexpr std::int64_t kRecordPeriodMicros = 10;
#else
constexpr std::int64_t kRecordPeriodMicros = 2;
#endif
}  // namespace

TEST(UsbE2eThroughput, CaptureAtFiftyTimesTheBoxRateLosesNothing)
{
    UsbBench b;
    b.choose("RS485");
    // QM_RECORD_PERIOD_US explores other rates by hand.
    const char* period = std::getenv("QM_RECORD_PERIOD_US");
    const std::int64_t periodMicros = period ? std::atoll(period) : kRecordPeriodMicros;
    b.box->setRecordPeriodMicros(periodMicros);

    const QString target = b.file("fast.txt");
    const auto t0 = std::chrono::steady_clock::now();
    const ToolResult r = runCapture(*b.hb, CaptureStart{2, target, false});
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    EXPECT_EQ(r.status, kPass) << r.summary.toStdString();
    const SimBoxState s = b.box->state();
    EXPECT_EQ(s.lostBytesTotal, 0u) << "the FIFO overflowed";
    QFile f(target);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray file = f.readAll();
    EXPECT_TRUE(file == b.expectedCaptureFile());
    // Two seconds of 10-byte records.
    const double expected = 2.0 * 10.0 * 1e6 / static_cast<double>(periodMicros);
    EXPECT_GT(static_cast<double>(file.size()), 0.9 * expected);
    const double rate = static_cast<double>(s.bytesSent) / seconds / 1e6;
    // The box's fastest stream is a 10-byte record every 125 us.
    std::cout << "capture at " << 10.0 / static_cast<double>(periodMicros) << " MB/s ("
              << 125.0 / static_cast<double>(periodMicros) << " times the box's rate): " << file.size()
              << " bytes in the file, " << s.bytesSent << " sent, " << s.lostBytesTotal << " lost, "
              << "IN pump depth " << inPumpDepthFor(kCaptureBlockBytes) << " x " << kCaptureBlockBytes
              << " bytes; " << rate << " MB/s over the whole run\n";
}

// Every operation once through the libusb backend, end to end: the bench as
// quillmark-tool drives it, libusb's asynchronous transfers, the emulated
// device's URBs and the simulated box's firmware. Each case checks what the
// box received and the operation's outcome and files.
#include "usb_bench.h"

#include "headless/box_runs.h"
#include "headless/interface_choice.h"
#include "headless/tool_result.h"
#include "interface/protocol_table.h"
#include "link/box_link.h"

#include <gtest/gtest.h>

#include <QFile>
#include <algorithm>

namespace {

using Log = std::vector<std::string>;

void choose(UsbBench& b, const char* protocol, const char* gaugeField = nullptr)
{
    InterfaceChoice c;
    c.protocol = static_cast<int>(*protocolByName(protocol));
    if (gaugeField)
        c.gaugeField = QString::fromLatin1(gaugeField);
    ASSERT_TRUE(applyInterface(*b.hb, c));
    b.clearPackets();
}

std::optional<Outcome> lastOutcome(const UsbBench& b, Operation op)
{
    const auto all = b.outcomes();
    for (auto it = all.rbegin(); it != all.rend(); ++it)
        if (it->operation == op)
            return *it;
    return std::nullopt;
}

QByteArray readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool anyPacketStartsWith(const UsbBench& b, std::initializer_list<std::uint8_t> header)
{
    const auto packets = b.box->receivedPackets();
    return std::any_of(packets.begin(), packets.end(), [&](const ReceivedPacket& p) { return p.startsWith(header); });
}

}  // namespace

TEST(UsbE2e, ConfigurationTakesAndTheBoxAnswersTheQuery)
{
    UsbBench b;
    choose(b, "BISS");
    ASSERT_EQ(runConfigure(*b.hb).status, kPass);
    // The box took every packet whole, in order, and answered the 9A query
    // within the drain read's wait.
    EXPECT_EQ(b.packetLog(), (Log{"6A", "4D", "4A", "3A3A1201A161", "3A3A1200A161", "9A", "4A"}));
    for (const ReceivedPacket& p : b.box->receivedPackets())
        EXPECT_EQ(p.bytes.size(), 512u);
    EXPECT_TRUE(b.box->state().configured);
    const auto o = lastOutcome(b, Operation::Configure);
    ASSERT_TRUE(o);
    EXPECT_TRUE(o->passed);
    b.expectIdle();
}

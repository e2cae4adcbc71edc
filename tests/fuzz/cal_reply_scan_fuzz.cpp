// The calibration reply scanner on any transfer, against a plain search.
#include "calibration/cal_reply_scan.h"
#include "fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FuzzInput in(data, size);
    const std::uint8_t flags = in.u8();
    const bool info1 = flags & 1, info2 = flags & 2;
    const std::span<const std::uint8_t> b = in.rest();
    const CalScanItem item = scanCalibrationTransfer(b, info1, info2);

    CalScanItem expected;
    if (info1 || info2) {
        const int last = info2 ? kInfo2LastTag : kInfo1LastTag;
        for (std::size_t i = 0; i < b.size(); ++i) {
            if (b[i] >= 1 && b[i] <= last) {
                if (i + 1 < b.size())
                    expected = {CalScanItem::Kind::Tag, b[i], b[i + 1], 0};
                break;
            }
        }
    } else {
        for (std::size_t i = 0; i + 2 < b.size(); ++i) {
            if (b[i] == 0xAA && b[i + 2] == 0xAA) {
                if (i + 3 < b.size())
                    expected = {CalScanItem::Kind::Reply, 0, 0, b[i + 3]};
                break;
            }
        }
    }
    FUZZ_CHECK(item.kind == expected.kind);
    FUZZ_CHECK(item.tag == expected.tag && item.value == expected.value && item.code == expected.code);
    return 0;
}

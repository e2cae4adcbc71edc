#include "calibration/cal_reply_scan.h"

CalScanItem scanCalibrationTransfer(std::span<const std::uint8_t> bytes, bool waitInfo1, bool waitInfo2)
{
    CalScanItem item;
    const std::size_t n = bytes.size();
    if (waitInfo1 || waitInfo2) {
        const int lastTag = waitInfo2 ? kInfo2LastTag : kInfo1LastTag;
        for (std::size_t i = 0; i < n; ++i) {
            if (bytes[i] >= 1 && bytes[i] <= lastTag) {
                if (i + 1 < n) {
                    item.kind = CalScanItem::Kind::Tag;
                    item.tag = bytes[i];
                    item.value = bytes[i + 1];
                }
                return item;
            }
        }
        return item;
    }
    for (std::size_t i = 0; i + 2 < n; ++i) {
        if (bytes[i] == 0xAA && bytes[i + 2] == 0xAA) {
            if (i + 3 < n) {
                item.kind = CalScanItem::Kind::Reply;
                item.code = bytes[i + 3];
            }
            return item;
        }
    }
    return item;
}

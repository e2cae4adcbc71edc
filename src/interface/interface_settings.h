#pragma once
// The encoder interface and frame layout the user set up. Lives in the bench
// state; reaches the box only through the configuration command.
#include "interface/mode_flags.h"
#include "interface/protocol_table.h"
#include "protocol/packet_params.h"

#include <QString>
#include <array>
#include <cstdint>

inline constexpr int kFieldCount = 10;
inline constexpr int kCrcInverted = 64;

enum class ClockItem { None, MHz9_6, MHz4_8, MHz2_4, MHz1_2 };

struct ClockItemInfo {
    ClockItem item;
    int code;
    const char* caption;
};
inline constexpr std::array<ClockItemInfo, 4> kClockItems{{
    {ClockItem::MHz9_6, 8, "9.6MHZ"},
    {ClockItem::MHz4_8, 18, "4.8MHZ"},
    {ClockItem::MHz2_4, 34, "2.4MHZ"},
    {ClockItem::MHz1_2, 38, "1.2MHZ"},
}};

struct InterfaceSettings {
    int protocol = 0;  // index into the protocol list
    int protocolCode = 0;
    int clockCode = 18;
    ClockItem clockMark = ClockItem::MHz4_8;
    QString frequencyText = "4.8MHZ";
    int turnMode = 0;       // 0 "Single turn", 1 "Multiturn"
    bool crcInverted = true;  // "inverted" / "notinverted"
    int crcInvertBits = kCrcInverted;
    int crcConfig = 0xA1;
    int codeMode = 0;       // 0 Binary, 128 Gray
    unsigned fieldCount = 3;
    std::array<int, kFieldCount> fieldWidth{15, 17, 2, 0, 0, 0, 0, 0, 0, 0};
    std::array<std::uint32_t, kFieldCount> fieldMask{};
    std::array<QString, kFieldCount> fieldLabel{"St", "Error", "Warning"};
    QString description;  // "Description:", kept with the labels in the configuration record
    int frameBits = 34;
    int truncateBits = 2;
    int gaugeField = 0;
    ModeFlags modes;  // BISS at start-up, but bissSelected only once chosen

    // Parameters of the configuration header and other packets.
    PacketParams packetParams(int eepromValue = 0, int calibParam = 4) const;
    // 2^width − 1 for the ten fields.
    void computeFieldMasks();
};

#pragma once
// The fourteen protocols of the "Protocols:" list, in list order, with what
// choosing each one sets.
#include "interface/mode_flags.h"

#include <array>
#include <optional>
#include <string_view>

enum class Protocol {
    BISS, SSI, RS485, TTL, RS485_AB, SPI, SPI_CRC, sin_cosine, rx_485_only, HTL, ADC_121,
    Corvane_485, Tarsk_RS485_422, ADC_7946
};

inline constexpr int kProtocolCount = 14;

// Which controls a protocol shows or hides.
enum class VisibilityGroup {
    SyncLike,       // BISS, SSI, SPI, SPI_CRC, Corvane_485
    Rs485,          // RS485, RS485+AB
    Incremental,    // TTL, HTL
    Analog,         // sin_cosine, ADC_121, ADC_7946
    RxOnly,         // rx_485_only
    Unchanged,      // Tarsk_RS485_422
};

struct ProtocolInfo {
    std::string_view name;       // exact list text
    int protocolCode;
    // Frequency text; nullopt leaves the text as it was.
    std::optional<std::string_view> frequencyText;
    bool turnListEnabled;        // otherwise disabled and forced to "Single turn"
    bool crcListEnabled;
    int truncateBitsPreset;
    VisibilityGroup visibility;
};

const std::array<ProtocolInfo, kProtocolCount>& protocolTable();
const ProtocolInfo& protocolInfo(Protocol p);
std::optional<Protocol> protocolByName(std::string_view name);

// Mode flags for a protocol (bissSelected/ssiSelected included).
ModeFlags modeFlagsFor(Protocol p);

// List entry selected when a configuration record carries this protocol
// code: 0..5 map to entries 0..5 (SPI_CRC comes back as SPI), 6..12 to 7..13.
std::optional<Protocol> protocolForCode(int protocolCode);

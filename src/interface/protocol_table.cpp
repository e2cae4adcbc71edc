#include "interface/protocol_table.h"

const std::array<ProtocolInfo, kProtocolCount>& protocolTable()
{
    using V = VisibilityGroup;
    static const std::array<ProtocolInfo, kProtocolCount> table{{
        {"BISS", 0, "4.8MHZ", true, true, 2, V::SyncLike},
        {"SSI", 1, "2.4MHZ", true, false, 0, V::SyncLike},
        {"RS485", 2, "2.5MHZ", true, false, 8, V::Rs485},
        {"TTL", 3, "", false, false, 0, V::Incremental},
        {"RS485+AB", 4, "2.5MHZ", false, false, 8, V::Rs485},
        {"SPI", 5, "3MHZ", true, false, 0, V::SyncLike},
        {"SPI_CRC", 5, "3MHZ", true, false, 0, V::SyncLike},
        {"sin_cosine", 6, std::nullopt, false, false, 0, V::Analog},
        {"rx_485_only", 7, "2.5MHZ", false, false, 0, V::RxOnly},
        {"HTL", 8, "", false, false, 0, V::Incremental},
        {"ADC_121", 9, std::nullopt, false, false, 0, V::Analog},
        {"Corvane_485", 10, "2.5MHZ", true, false, 8, V::SyncLike},
        {"Tarsk_RS485_422", 11, "19200HZ", true, false, 8, V::Unchanged},
        {"ADC_7946", 12, std::nullopt, false, false, 0, V::Analog},
    }};
    return table;
}

const ProtocolInfo& protocolInfo(Protocol p)
{
    return protocolTable()[static_cast<std::size_t>(p)];
}

std::optional<Protocol> protocolByName(std::string_view name)
{
    const auto& t = protocolTable();
    for (std::size_t i = 0; i < t.size(); ++i)
        if (t[i].name == name)
            return static_cast<Protocol>(i);
    return std::nullopt;
}

ModeFlags modeFlagsFor(Protocol p)
{
    ModeFlags m;
    m.syncSerialMode = p == Protocol::BISS || p == Protocol::SSI;
    m.rs485Mode = p == Protocol::RS485 || p == Protocol::Corvane_485;
    m.rs485AbMode = p == Protocol::RS485_AB;
    m.spiMode = p == Protocol::SPI || p == Protocol::SPI_CRC;
    m.spiCrcMode = p == Protocol::SPI_CRC;
    m.incrementalMode = p == Protocol::TTL || p == Protocol::HTL;
    m.sinCosMode = p == Protocol::sin_cosine;
    m.rxOnlyMode = p == Protocol::rx_485_only || p == Protocol::Tarsk_RS485_422;
    m.adcMode = p == Protocol::ADC_121 || p == Protocol::ADC_7946;
    m.htlMode = p == Protocol::HTL;
    m.bissSelected = p == Protocol::BISS;
    m.ssiSelected = p == Protocol::SSI;
    return m;
}

std::optional<Protocol> protocolForCode(int code)
{
    if (code >= 0 && code <= 5)
        return static_cast<Protocol>(code);
    if (code >= 6 && code <= 12)
        return static_cast<Protocol>(code + 1);
    return std::nullopt;
}

#include "simbox/record_encoding.h"

RecordGroup recordGroupOf(int protocolCode)
{
    switch (protocolCode) {
    case 0:   // BISS
    case 1:   // SSI
        return RecordGroup::SyncSerial;
    case 2:   // RS485
    case 10:  // Corvane_485
        return RecordGroup::Rs485;
    case 3:   // TTL
    case 8:   // HTL
        return RecordGroup::Incremental;
    case 4: return RecordGroup::Rs485Ab;
    case 5: return RecordGroup::Spi;  // SPI and SPI_CRC share the code
    case 6:   // sin_cosine
    case 9:   // ADC_121
    case 12:  // ADC_7946
        return RecordGroup::SinCos;
    case 7:   // rx_485_only
    case 11:  // Tarsk_RS485_422
        return RecordGroup::RxOnly;
    default: return RecordGroup::None;
    }
}

int recordLengthOf(RecordGroup group)
{
    switch (group) {
    case RecordGroup::SyncSerial:
    case RecordGroup::Incremental: return 6;
    case RecordGroup::Spi:
    case RecordGroup::Rs485:
    case RecordGroup::Rs485Ab:
    case RecordGroup::SinCos: return 10;
    case RecordGroup::RxOnly: return 4;
    case RecordGroup::None: break;
    }
    return 0;
}

const char* recordGroupName(RecordGroup group)
{
    switch (group) {
    case RecordGroup::SyncSerial: return "SyncSerial";
    case RecordGroup::Incremental: return "Incremental";
    case RecordGroup::Spi: return "Spi";
    case RecordGroup::Rs485: return "Rs485";
    case RecordGroup::Rs485Ab: return "Rs485Ab";
    case RecordGroup::RxOnly: return "RxOnly";
    case RecordGroup::SinCos: return "SinCos";
    case RecordGroup::None: break;
    }
    return "None";
}

namespace {
std::uint8_t byteOf(std::uint64_t v, int shift)
{
    return static_cast<std::uint8_t>((v >> shift) & 0xFF);
}
}  // namespace

void encodeSixByteRecord(std::uint64_t v, std::uint8_t* out)
{
    out[4] = byteOf(v, 40);
    out[5] = byteOf(v, 32);
    out[2] = byteOf(v, 24);
    out[3] = byteOf(v, 16);
    out[0] = byteOf(v, 8);
    out[1] = byteOf(v, 0);
}

void encodeSpiRecord(std::uint64_t w, std::uint8_t crcByte, std::uint8_t* out)
{
    for (int i = 0; i < 6; ++i)
        out[i] = byteOf(w, 40 - 8 * i);
    out[6] = out[7] = out[8] = 0;
    out[9] = crcByte;
}

void encodeRs485Record(std::uint64_t v, std::uint8_t* out)
{
    out[4] = byteOf(v, 48);
    out[5] = byteOf(v, 40);
    out[2] = byteOf(v, 32);
    out[3] = byteOf(v, 24);
    out[0] = byteOf(v, 16);
    out[1] = byteOf(v, 8);
    out[8] = byteOf(v, 0);
    // Not part of the value; zero keeps b8 b9 b6 b7 from reading as a sync record.
    out[6] = out[7] = out[9] = 0;
}

void encodeRs485AbRecord(std::uint64_t v, std::uint8_t* out)
{
    out[9] = byteOf(v, 48);
    out[6] = byteOf(v, 40);
    out[7] = byteOf(v, 32);
    out[3] = byteOf(v, 24);
    out[0] = byteOf(v, 16);
    out[1] = byteOf(v, 8);
    out[8] = byteOf(v, 0);
    // A/B counter bytes; this box does not report the incremental track.
    out[2] = out[4] = out[5] = 0;
}

void encodeRxOnlyRecord(std::uint32_t v, std::uint8_t* out)
{
    out[2] = byteOf(v, 24);
    out[3] = byteOf(v, 16);
    out[0] = byteOf(v, 8);
    out[1] = byteOf(v, 0);
}

void encodeSinCosRecord(const std::array<std::uint8_t, 6>& codes, std::uint32_t pos, std::uint8_t* out)
{
    for (int i = 0; i < 6; ++i)
        out[i] = codes[static_cast<std::size_t>(i)];
    out[6] = byteOf(pos, 8);
    out[7] = byteOf(pos, 0);
    out[8] = 0;
    out[9] = byteOf(pos, 16);
}

std::uint8_t crc6(std::uint64_t data, int bits)
{
    unsigned crc = 0;
    for (int i = bits - 1; i >= 0; --i) {
        const unsigned in = static_cast<unsigned>((data >> i) & 1U);
        const unsigned feedback = ((crc >> 5) & 1U) ^ in;
        crc = (crc << 1) & 0x3F;
        if (feedback)
            crc ^= 0x03;  // x^6 + x + 1 without the x^6 term
    }
    return static_cast<std::uint8_t>(crc);
}

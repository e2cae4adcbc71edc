#pragma once
// Byte layouts of the records the box streams, one function per record kind.
// Each encoder is the inverse of the workbench's record parser: the bytes it
// writes parse back to the value it was given.
#include <array>
#include <cstdint>

// The groups of protocols that share one record layout.
enum class RecordGroup {
    SyncSerial,   // BISS, SSI: 6 bytes
    Incremental,  // TTL, HTL: 6 bytes, 24-bit turn counter above a 24-bit position counter
    Spi,          // SPI, SPI_CRC: 10 bytes, 48-bit word and the box's CRC byte
    Rs485,        // RS485, Corvane_485: 10 bytes
    Rs485Ab,      // RS485+AB: 10 bytes, other byte order
    RxOnly,       // rx_485_only, Tarsk_RS485_422: 4 bytes
    SinCos,       // sin_cosine and the two ADC front ends: 10-byte analog samples
    None,         // unknown protocol code: the box streams nothing
};

// Protocol code of the "::" packet (byte 3) to its record group.
RecordGroup recordGroupOf(int protocolCode);
int recordLengthOf(RecordGroup group);
const char* recordGroupName(RecordGroup group);

inline constexpr int kStreamBlockSize = 1024;
inline constexpr std::array<std::uint8_t, 4> kBlockSync{0xAA, 0x55, 0x55, 0xAA};

// value = b4*2^40 + b5*2^32 + b2*2^24 + b3*2^16 + b0*2^8 + b1 (low 48 bits used).
void encodeSixByteRecord(std::uint64_t value, std::uint8_t* out);
// value = b0*2^40 + b1*2^32 + b2*2^24 + b3*2^16 + b4*2^8 + b5; b9 = crcByte.
void encodeSpiRecord(std::uint64_t word48, std::uint8_t crcByte, std::uint8_t* out);
// value = b4*2^48 + b5*2^40 + b2*2^32 + b3*2^24 + b0*2^16 + b1*2^8 + b8.
void encodeRs485Record(std::uint64_t value56, std::uint8_t* out);
// value = b9*2^48 + b6*2^40 + b7*2^32 + b3*2^24 + b0*2^16 + b1*2^8 + b8.
void encodeRs485AbRecord(std::uint64_t value56, std::uint8_t* out);
// value = b2*2^24 + b3*2^16 + b0*2^8 + b1.
void encodeRxOnlyRecord(std::uint32_t value, std::uint8_t* out);
// Six ADC codes (SIN+, SIN-, COS+, COS-, Z+, Z-), position bits 15..8 in b6,
// 7..0 in b7, 23..16 in b9; b8 is unused.
void encodeSinCosRecord(const std::array<std::uint8_t, 6>& codes, std::uint32_t position24,
                        std::uint8_t* out);

// 6-bit CRC of the low `bits` bits of `data`, most significant bit first,
// polynomial x^6 + x + 1 (0x43, as BiSS uses), start value 0.
std::uint8_t crc6(std::uint64_t data, int bits);

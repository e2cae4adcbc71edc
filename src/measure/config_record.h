#pragma once
// The 512-byte configuration record of a ".cfg" file: interface settings,
// the ten field labels and the description. Pure encode and decode; the
// main window reads and applies the values.
#include <QByteArray>
#include <QString>
#include <array>
#include <cstdint>
#include <optional>
#include <span>

constexpr std::size_t kConfigRecordSize = 512;
using ConfigRecordBytes = std::array<std::uint8_t, kConfigRecordSize>;

struct ConfigRecordValues {
    int protocolCode = 0;  // 0..12; SPI and SPI_CRC share 5
    std::array<int, 10> fieldWidth{15, 17, 2, 0, 0, 0, 0, 0, 0, 0};
    int fieldCount = 3;
    int clockCode = 18;  // 8, 18, 34 or 38: always even
    int turnMode = 0;    // 0 single turn, 1 multiturn; bit 0 of the clock byte
    int gaugeField = 0;
    std::array<QString, 10> fieldLabel;
    QString description;
    int codeMode = 0;  // 0 Binary, 128 Gray
};

struct ClockTurn {
    int clockCode = 0;
    int turnMode = 0;
};

// Byte 10 holds clock code plus turn mode.
ClockTurn decodeClockTurnByte(std::uint8_t byte);

// Builds the record; numbers are stored as their low 8 bits, texts as UTF-8
// bytes behind a length byte. A text that does not fit as UTF-8 (more than
// 255 bytes, or the texts together too long) is stored in GB18030 when that
// fits and reads back unchanged; texts that gain most are switched first.
// Refuses, returning an error text and leaving `out` untouched, when the
// texts do not fit either way.
std::optional<QString> encodeConfigRecord(const ConfigRecordValues& values, ConfigRecordBytes& out);

// Reads a record from file bytes. A file that is not exactly 512 bytes, or
// whose text lengths run past the record, is short or corrupt and loads
// nothing; *problem (when given) then says which, as the end of a sentence.
// Text bytes that are not valid UTF-8 come from Windows installations and
// are read as GB18030. A code byte other than 128 means Binary.
std::optional<ConfigRecordValues> decodeConfigRecord(std::span<const std::uint8_t> file,
                                                     QString* problem = nullptr);

// UTF-8 when valid, else GB18030.
QString decodeConfigText(std::span<const std::uint8_t> bytes);

struct ConfigRecordFile {
    std::optional<ConfigRecordValues> record;
    QString error;  // set when record is empty; starts with the quoted path
};

// Loads a user-named configuration file: regular files only, never blocking
// on a FIFO, reading at most 513 bytes. A longer file is refused, or with
// `firstRecordOfLonger` read as its first 512 bytes (files from elsewhere
// that carry trailing bytes). The error names the cause: missing, dangling
// link, directory, permission denied, not a regular file, wrong size, texts
// running past the record.
ConfigRecordFile readConfigRecordFile(const QString& path, bool firstRecordOfLonger = false);

// Encodes and writes a configuration file the safe way (written beside and
// renamed for a regular file or a new one; a device or FIFO is never
// replaced). Returns an error text, empty on success.
QString writeConfigRecordFile(const QString& path, const ConfigRecordValues& values);

struct InterfaceSettings;

// The configuration record of the settings, as a ".cfg" file holds it.
ConfigRecordValues configRecordValuesOf(const InterfaceSettings& s);
// Its 512 bytes; empty when the texts do not fit (the editor never lets that happen).
QByteArray configRecordBytesOf(const InterfaceSettings& s);

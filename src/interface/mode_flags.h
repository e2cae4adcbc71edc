#pragma once
// The one-byte mode flags derived from the chosen protocol. The stream
// parsers, the decoder, the report and the tests branch on them.
struct ModeFlags {
    bool syncSerialMode = true;  // BISS, SSI
    bool rs485Mode = false;      // RS485, Corvane_485
    bool rs485AbMode = false;    // RS485+AB
    bool spiMode = false;        // SPI, SPI_CRC
    bool spiCrcMode = false;     // SPI_CRC
    bool incrementalMode = false;  // TTL, HTL
    bool sinCosMode = false;     // sin_cosine
    bool rxOnlyMode = false;     // rx_485_only, Tarsk_RS485_422
    bool adcMode = false;        // ADC_121, ADC_7946
    bool htlMode = false;        // HTL
    bool bissSelected = false;   // BISS chosen since start-up (report header)
    bool ssiSelected = false;    // SSI chosen since start-up (report header)
};

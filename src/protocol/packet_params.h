#pragma once
// The numbers the box's header packets carry: the interface settings supply
// them, the packet builder writes them. Kept apart from the builder so that
// the settings need not know the link.

// Every value is sent as the low 8 bits of its sum, so the sums wrap.
struct PacketParams {
    int clockCode = 18;
    int turnMode = 0;
    int protocolCode = 0;
    int crcConfig = 0xA1;
    int codeMode = 0;
    int crcInvertBits = 64;
    int frameBits = 34;
    int eepromValue = 0;
    int calibParam = 4;
};

#include "interface/interface_settings.h"

#include "interface/frame_decoder.h"

PacketParams InterfaceSettings::packetParams(int eepromValue, int calibParam) const
{
    PacketParams p;
    p.clockCode = clockCode;
    p.turnMode = turnMode;
    p.protocolCode = protocolCode;
    p.crcConfig = crcConfig;
    p.codeMode = codeMode;
    p.crcInvertBits = crcInvertBits;
    p.frameBits = frameBits;
    p.eepromValue = eepromValue;
    p.calibParam = calibParam;
    return p;
}

void InterfaceSettings::computeFieldMasks()
{
    for (int k = 0; k < kFieldCount; ++k)
        fieldMask[k] = fieldMaskOf(fieldWidth[k]);
}

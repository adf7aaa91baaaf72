#pragma once

#include <QtGlobal>
#include <array>

// The addresses a sensor can have on the bus (the Modbus unicast range); 0 is
// the broadcast.
inline constexpr int MinBusAddress = 1;
inline constexpr int MaxBusAddress = 247;

// The input register that holds the serial number (two registers).
inline constexpr quint16 SerialNumberRegister = 0x0005;
// The input register whose read makes the sensor compute its flash checksum.
inline constexpr quint16 ChecksumRegister = 0x0007;

// The sensor's flash as its registers show it: 1024 words of 32 bits, word n at
// sensor register address 0x1000 + n.
inline constexpr int FlashWords = 1024;
inline constexpr quint16 FlashBaseAddress = 0x1000;

inline constexpr quint16 FlashWordAddress(int index)
{
    return quint16(FlashBaseAddress + index);
}

// Word indices with a meaning to the tool.
inline constexpr int WordAddress = 0x000;      // bus address, 1..247
inline constexpr int WordSerial = 0x001;       // serial number
inline constexpr int WordExposureX = 0x002;
inline constexpr int WordExposureY = 0x003;
inline constexpr int WordThresholdX = 0x004;   // comparator threshold ("level")
inline constexpr int WordThresholdY = 0x005;
inline constexpr int WordIllumination = 0x006; // 0 off, 1 X, 2 Y
inline constexpr int WordFirmware = 0x3FA;
inline constexpr int WordDimension = 0x3FB;    // 40 selects the fine grid
inline constexpr int WordCpu = 0x3FC;
inline constexpr int WordCrc = 0x3FD;
inline constexpr int WordRealCrc = 0x3FE;      // checksum the sensor computed
inline constexpr int WordRequiredCrc = 0x3FF;  // checksum the sensor expects

// Register addresses of the words the commands use by name.
inline constexpr quint16 AddressWordAddress = FlashWordAddress(WordAddress);
inline constexpr quint16 IlluminationAddress = FlashWordAddress(WordIllumination);
inline constexpr quint16 FirmwareVersionAddress = FlashWordAddress(WordFirmware);
inline constexpr quint16 DimensionAddress = FlashWordAddress(WordDimension);
inline constexpr quint16 CpuVersionAddress = FlashWordAddress(WordCpu);
inline constexpr quint16 RealCrcAddress = FlashWordAddress(WordRealCrc);
inline constexpr quint16 RequiredCrcAddress = FlashWordAddress(WordRequiredCrc);

// Grid step in millimetres from the low bytes of the firmware version and the
// device dimension words, in extended precision:
//   dimension 40: 2 for versions 11 and 15, else 2.05;
//   other dimensions: 5 for versions 11, 12, 13 and 15, else 5.05.
inline constexpr int FineGridDimension = 40;
long double GridStep(int version, int dimension);

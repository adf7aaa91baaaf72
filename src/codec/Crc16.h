#pragma once

#include <QtGlobal>

// CRC-16 of the Modbus serial line (reflected 0xA001, start 0xFFFF, no final XOR),
// computed with the two published 256-byte tables. Count <= 0 gives 0xFFFF.
quint16 Crc16(const quint8 *data, qint32 count);

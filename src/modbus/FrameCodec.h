#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

// Whether the first n received bytes hold a whole reply frame of a kind the tool
// recognises (functions 3, 4, 8, 16, 43/14 and their exception replies).
bool IsFrameComplete(const quint8 *rx, qint32 n);

// Bytes as upper-case hex pairs separated by single spaces ("01 04 00 05").
QString HexLine(const quint8 *data, qint32 count);

// Address byte, PDU, CRC low byte then high byte.
QByteArray BuildFrame(quint8 address, const quint8 *pdu, qint32 pduLen);

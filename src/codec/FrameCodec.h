#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

// Whether the first n received bytes hold a whole reply frame of a kind the tool
// recognises (functions 3, 4, 8, 16, 43/14 and their exception replies).
bool IsFrameComplete(const quint8 *rx, qint32 n);

// The exact length of the reply frame that the received bytes begin, as far
// as they tell it: the length by the same rules as IsFrameComplete, with a
// diagnostics echo (function 8, sub-function 0) as long as the request that
// it echoes (requestLen bytes, at least 6). 0 while the bytes do not tell it
// yet, or never will (an unknown function). The fast reply end uses it to
// stop at a whole frame; bytes beyond it trail the frame.
qint32 ReplyFrameLength(const quint8 *rx, qint32 n, qint32 requestLen);

// Bytes as upper-case hex pairs separated by single spaces ("01 04 00 05").
QString HexLine(const quint8 *data, qint32 count);

// Address byte, PDU, CRC low byte then high byte.
QByteArray BuildFrame(quint8 address, const quint8 *pdu, qint32 pduLen);

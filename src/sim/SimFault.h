#pragma once

#include <QByteArray>
#include <QtGlobal>

// One injected misbehaviour of the simulated sensor.
//
// A fault looks at every request that reaches the sensor intact (good CRC) and
// addressed to it (broadcasts are never answered, so they are not considered).
// A request "matches" when it passes the filters: function code and/or register
// address (the start address of functions 3, 4 and 16, the sub-function of
// function 8; function 43 has none and matches only an unfiltered address).
// Of the matching requests, every Nth one (N = everyNth, 1 = each) triggers the
// fault, as long as shots remain (count; Always = without end).
//
// Build one with a factory and refine it with the chained setters:
//     SimFault::delay(120).onFunction(3).every(2).times(5)
struct SimFault
{
    enum class Kind {
        NoReply,       // the request is not heard: nothing executed, nothing sent
        BadCrc,        // the reply goes out with a damaged CRC
        WrongAddress,  // the reply (CRC recomputed) carries another bus address
        Exception,     // the request is refused with an exception code, not executed
        SplitReply,    // the reply goes out in two bursts with a gap between them
        Delay,         // the reply goes out after a delay
        TrailingBytes, // extra bytes follow the reply's CRC
        IgnoreWrite,   // a flash write is acknowledged but not stored
        ShortData,     // a register read's reply keeps only its first data bytes
                       // (byte count and CRC made to agree)
    };

    static constexpr int Any = -1;
    static constexpr int Always = -1;

    Kind kind = Kind::NoReply;
    int functionCode = Any;    // filter: request function code, or Any
    int registerAddress = Any; // filter: start address / sub-function, or Any
    int everyNth = 1;          // trigger on every Nth matching request
    int count = 1;             // shots left; Always = unlimited
    int value = 0;             // exception code, other address, delay/gap ms, first burst size
    int gapMs = 0;             // SplitReply: silence between the two bursts
    QByteArray bytes;          // TrailingBytes: what is appended

    static SimFault noReply() { return make(Kind::NoReply); }
    static SimFault badCrc() { return make(Kind::BadCrc); }
    // address 0 means "the sensor's own address plus one" (never the own one).
    static SimFault wrongAddress(quint8 address = 0)
    {
        SimFault f = make(Kind::WrongAddress);
        f.value = address;
        return f;
    }
    static SimFault exception(quint8 code)
    {
        SimFault f = make(Kind::Exception);
        f.value = code;
        return f;
    }
    // firstBytes <= 0 splits the reply in the middle.
    static SimFault splitReply(int firstBytes, int gapMs)
    {
        SimFault f = make(Kind::SplitReply);
        f.value = firstBytes;
        f.gapMs = gapMs;
        return f;
    }
    static SimFault delay(int ms)
    {
        SimFault f = make(Kind::Delay);
        f.value = ms;
        return f;
    }
    static SimFault trailingBytes(const QByteArray &extra)
    {
        SimFault f = make(Kind::TrailingBytes);
        f.bytes = extra;
        return f;
    }
    // Writes to flash word n (register 0x1000 + n) are acknowledged, not stored.
    static SimFault ignoreWrite(int word)
    {
        SimFault f = make(Kind::IgnoreWrite);
        f.functionCode = 16;
        f.registerAddress = 0x1000 + word;
        return f;
    }

    // The data of a read of registers (functions 3, 4) cut to its first
    // `bytes` bytes: a sensor that answers with fewer registers than asked.
    static SimFault shortData(int bytes)
    {
        SimFault f = make(Kind::ShortData);
        f.value = bytes;
        return f;
    }

    SimFault &onFunction(int code) { functionCode = code; return *this; }
    SimFault &onAddress(int address) { registerAddress = address; return *this; }
    SimFault &every(int n) { everyNth = n < 1 ? 1 : n; return *this; }
    SimFault &times(int n) { count = n; return *this; }
    SimFault &always() { count = Always; return *this; }

private:
    static SimFault make(Kind k)
    {
        SimFault f;
        f.kind = k;
        return f;
    }
};

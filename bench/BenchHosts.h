#pragma once

// The hosts the benchmark programs run the engine and the long operations with:
// nothing shown, every question answered Yes, no pause.

#include "flash/FlashPasses.h"
#include "modbus/ModbusMaster.h"

#include <cstdio>

// Logs only the red lines (on stderr); the sensor at address 1.
class QuietBusHost : public IBusHost
{
public:
    void Log(const QString &text, quint8 kind) override
    {
        if (kind == LogError)
            std::fprintf(stderr, "log: %s\n", qPrintable(text));
    }
    int busAddress() const override { return 1; }
};

// No gauge, no events, no pause, Yes to every question; the block size and the
// recorder as set.
class YesOperationHost : public IOperationHost
{
public:
    void progress(int) override {}
    void processEvents() override {}
    void pause(int) override {}
    bool ask(const QString &) override { return true; }
    int blockWords() const override { return blocks; }
    IOperationRecorder *recorder() override { return record; }

    int blocks = 0;
    IOperationRecorder *record = nullptr;
};

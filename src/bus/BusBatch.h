#pragma once

#include "bus/BusInventory.h"

#include <QList>
#include <QString>
#include <functional>

class IOperationHost;
class ModbusMaster;

// The batch work over the sensors of an inventory, one after another: the dump
// of each ("Дамп всех") and the comparison of each with its latest dump
// ("Сравнить всех"). The rows that are no usable sensor (no serial number, a
// conflict) are left out and named in the log.

struct BatchOutcome
{
    int address = 0;
    quint32 serial = 0;
    bool ok = false;
    int differences = 0; // the comparison's differences that count
    QString text;        // a file, "Отличий нет", "Отличается слов: N" or the failure
};

struct BatchResult
{
    QList<BatchOutcome> outcomes; // the sensors reached, in table order
    int sensors = 0;              // the usable sensors of the table
    bool stopped = false;
    int succeeded() const;
    int failed() const;
};

// "Датчиков: N, успешно: M, с ошибкой: K", and ", не выполнено: L" after a stop.
QString BatchSummaryLine(const BatchResult &result);

struct BatchOptions
{
    QString dir;             // the data folder: the dumps are written and looked for there
    qint32 timeoutShortMs = 300;
    int pauseMs = 0;
};

// Before each sensor: setAddress to its address, its line in the log
// ("Датчик 0012AB7F, адрес 1"), sensorStarted(index in the outcomes, count)
// when given; the operation's own gauge runs 0..100 per sensor on opHost. A
// sensor that fails is kept failed and the next one follows; a stop ends the
// batch after the sensor in flight (its operation stops as it does alone). The
// host's address is restored at the end; the summary line ends the log. Each
// sensor's operation goes into the record as one of its own, with what the
// operation told (its serial number, firmware word and files).

// CreateDump of each sensor into options.dir (kind Dump).
BatchResult DumpAll(ModbusMaster &engine, IOperationHost &opHost, const QList<BusSensor> &sensors,
                    const BatchOptions &options, const std::function<void(int)> &setAddress,
                    const BusRecord &record = {},
                    const std::function<void(int, int)> &sensorStarted = {});

// CompareFlash of each sensor with options.dir/<serial>.dmp (kind Compare); a
// sensor without a dump there fails with "Нет дампа <path>" before anything is
// sent to it. One that differs counts as a success of the comparison with its
// differences in the text; ok is false only for a failure.
BatchResult CompareAll(ModbusMaster &engine, IOperationHost &opHost, const QList<BusSensor> &sensors,
                       const BatchOptions &options, const std::function<void(int)> &setAddress,
                       const BusRecord &record = {},
                       const std::function<void(int, int)> &sensorStarted = {});

// The path of a sensor's latest dump in dir: dir/%.8X.dmp.
QString LatestDumpPath(const QString &dir, quint32 serial);

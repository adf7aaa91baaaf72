#pragma once

#include "record/ServiceRecord.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

class IOperationHost;
class ModbusMaster;

// The whole bus: every sensor on one line, found by the search's echo probe
// and read with the sensor commands. The bus adds no exchange of its own.

// One address of the line that answered, or whose replies collided.
struct BusSensor
{
    enum class Mark : quint8 {
        Found,       // echo, serial number, version and identification read
        ReadFailed,  // it echoed, but a read after the probe failed (status: which and why)
        Conflict,    // the probe's replies keep arriving garbled: two sensors answer at once
        SameSerial,  // its serial number answers at another address as well
    };

    int address = 0;
    std::optional<quint32> serial;
    QString firmware; // the low byte of the firmware version word, in decimal
    QString vendor;
    QString product;
    QString revision;
    Mark mark = Mark::Found;
    QString status;

    bool conflict() const { return mark == Mark::Conflict || mark == Mark::SameSerial; }
    // A sensor the batch work may run on: its serial number known, alone at its address.
    bool usable() const { return serial.has_value() && mark == Mark::Found; }
};

// The status texts of the table.
inline constexpr char16_t FoundText[] = u"в порядке";
inline constexpr char16_t ConflictText[] = u"возможен конфликт адресов";
// "возможен конфликт адресов: серийный номер %1 и по адресу %2"
QString SameSerialText(quint32 serial, int otherAddress);
// "Ошибка чтения серийного номера: Таймаут" and the like.
QString ReadFailedText(const QString &what, const QString &failure);

// How an address that gives garbled replies is told from one on a noisy line:
// it is probed this many times in all, and is a conflict only when every one
// of them came back garbled (a bad CRC, a wrong length, an incomplete frame).
// A sensor alone on a noisy line gets a good reply through at least once in
// three in all but the worst noise; two sensors answering at once never do.
inline constexpr int ConflictProbes = 3;

struct InventoryOptions
{
    int from = 1;
    int to = 247;
    qint32 probeTimeoutMs = 70; // the search's
    qint32 readTimeoutMs = 300; // the serial number, version and identification reads
};

// Where the inventory and the batch work tell what they did: the service
// record (none: nothing is kept), who runs the tool, and the port's name.
struct BusRecord
{
    ServiceRecord *record = nullptr;
    RecordContext context;
    QString port;
};

struct InventoryResult
{
    QList<BusSensor> sensors; // address ascending
    bool stopped = false;     // the user stopped it; sensors holds what was found until then
    bool portFailed = false;  // the port cannot be opened or its device has gone (logged)
    int conflicts() const;
};

// Probes every address from options.from to options.to (1..247) with the
// search's quiet echo probe. Each address that echoes is read without traffic
// lines: the serial number, the firmware version word and the device
// identification; a failed read is logged by the engine in red, kept in the row
// (ReadFailed) and the reads after it are skipped. An address whose probes are
// garbled ConflictProbes times is a Conflict; two rows of one serial number are
// both SameSerial. setAddress moves the host's bus address; it is restored at
// the end. The host gives the gauge (the share of the addresses probed), the
// pending events and the stop, asked after every address: a stopped inventory
// keeps the rows found, logs "Остановлено пользователем" and tells nothing
// about the addresses not reached. Logs "Опрос шины: адреса %1-%2..." first and
// "Найдено датчиков: N" last, with "Возможен конфликт адресов: 1, 5" in red
// when there are conflicts. Each sensor whose serial number was read goes into
// the record as one operation of its own (kind Inventory, its serial number and
// firmware word), failed with its status when a read failed or it conflicts.
InventoryResult RunInventory(ModbusMaster &engine, IOperationHost &opHost, const InventoryOptions &options,
                             const std::function<void(int)> &setAddress, const BusRecord &record = {});

// Marks the rows that share a serial number (SameSerial).
void MarkSameSerials(QList<BusSensor> &sensors);

// The table's columns: "Адрес", "Серийный номер", "Прошивка", "Производитель",
// "Изделие", "Версия", "Состояние".
QStringList InventoryHeader();
// One row of the table, in the header's order.
QStringList InventoryRow(const BusSensor &sensor);
// The table as CSV (RFC 4180: comma-separated, a field with a comma, a quote or
// a line break quoted, CRLF line ends; UTF-8 without a byte order mark), the
// header first.
QByteArray InventoryCsv(const QList<BusSensor> &sensors);

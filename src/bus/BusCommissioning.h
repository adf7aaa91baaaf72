#pragma once

#include "bus/BusInventory.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <functional>

class IOperationHost;
class ModbusMaster;

// Commissioning: new bus addresses given to sensors by their serial numbers,
// with the broadcast address assignment, each checked at its new address.
//
// Two sensors at one address cannot be read: their replies collide, so the
// inventory learns neither serial number. The user types them (they are
// printed on the sensors). A serial number that the inventory did not read is
// therefore taken as one behind a collision, as long as the inventory found
// one; without a collision it is not on the line and is refused. Moving one
// sensor of a collision away leaves the other alone at the address.

struct Assignment
{
    enum class State : quint8 { Pending, Done, Failed };

    quint32 serial = 0;
    int newAddress = 0; // 0: none given; PlanAssignments proposes the lowest free one
    State state = State::Pending;
    QString status;     // the outcome, or why it was not sent
};

inline constexpr char16_t NotTakenText[] = u"датчик не принял адрес";

// The lowest addresses in 1..247 that no sensor of the inventory answers at
// (a collision's address included) and no assignment of the plan takes, given
// to the assignments without one, in their order. Fails with ZartError when the
// line has no address left.
void ProposeFreeAddresses(const QList<BusSensor> &sensors, QList<Assignment> &plan);

// Why the plan cannot be sent, one text each; empty when it can. Refused: an
// address outside 1..247 (or none), a serial number twice in the plan, one
// address for two serial numbers, a serial number that is not on the line
// (read by the inventory, or behind one of its collisions), a serial number
// that answers at two addresses (one broadcast would move both), an address
// used by a sensor that stays where it is (or by a collision), and moves that
// go round in a circle (each sensor would wait for the other's address).
QStringList PlanRefusals(const QList<BusSensor> &sensors, const QList<Assignment> &plan);

// The order in which the plan is sent: a sensor moves to an address only after
// the sensor there has left it. Indices into plan; the plan has no refusals.
QList<int> AssignmentOrder(const QList<BusSensor> &sensors, const QList<Assignment> &plan);

// Refuses the plan before anything is sent (each refusal logged in red, the
// result false, every assignment left Pending). Otherwise, for each assignment
// in AssignmentOrder: the broadcast address write, the turnaround and the
// serial number read at the new address (AssignAddressChecked). Done when the
// sensor answers there with its own serial number; else Failed with
// NotTakenText (the log says what answered), or with the failure that stopped
// the broadcast. No other assignment is touched by one that fails. A port that
// is gone fails the assignments still pending. The stop is asked before each
// broadcast; the gauge moves after each. setAddress moves the host's bus
// address, which is restored at the end. Each assignment sent goes into the
// record (kind SetAddress) with its outcome. Logs "Назначено адресов: M из N".
bool RunAssignments(ModbusMaster &engine, IOperationHost &opHost, const QList<BusSensor> &sensors,
                    QList<Assignment> &plan, qint32 timeoutMs,
                    const std::function<void(int)> &setAddress, const BusRecord &record = {});

// The inventory after the assignments: each moved sensor's row at its new
// address with the outcome as its status (a serial number typed for a
// collision gets a row of its own), a failed one's row with its failure, the
// rows sorted by address. A collision stays marked until the next inventory.
void ApplyAssignments(QList<BusSensor> &sensors, const QList<Assignment> &plan);

// "0012AB7F=5" and "0012AB7F" (the lowest free address): an assignment typed on
// the command line. Nothing for a text that is neither.
std::optional<Assignment> ParseAssignment(const QString &text);

#include "bus/BusBatch.h"
#include "bus/BusCommissioning.h"
#include "bus/BusInventory.h"

#include "flash/FlashTestUtil.h"

#include <QTemporaryDir>
#include <QTest>

using namespace flashtest;

namespace {

// The line: 0012AB7F at 1, 00ABCDEF at 3 and again at 8, two sensors colliding
// at 5, and at 7 one whose serial number read is refused.
struct Member
{
    int address;
    quint32 serial;
};
constexpr Member Line[] = {{3, 0x00ABCDEF}, {5, 0x01020304}, {5, 0x0A0B0C0D}, {7, 0x00777777}, {8, 0x00ABCDEF}};

QStringList rowTexts(const QList<BusSensor> &sensors)
{
    QStringList out;
    for (const BusSensor &s : sensors)
        out << InventoryRow(s).join(QLatin1Char('|'));
    return out;
}

// A stop asked for once the host has moved past an address.
class StopAfter : public RecordingOpHost
{
public:
    StopAfter(const RecordingHost &host, int address) : m_host(host), m_address(address) {}
    bool stopRequested() override { return m_host.address >= m_address; }

private:
    const RecordingHost &m_host;
    int m_address;
};

// 0012AB7F at 1, 00ABCDEF at 3 and 00777777 at 7, as an inventory lists them.
QList<BusSensor> usableSensors()
{
    QList<BusSensor> sensors;
    for (const auto &[address, serial] : {std::pair{1, 0x0012AB7Fu}, {3, 0x00ABCDEFu}, {7, 0x00777777u}})
        sensors.append(BusSensor{address, serial, {}, {}, {}, {}, BusSensor::Mark::Found, {}});
    return sensors;
}

} // namespace

class tst_bus : public QObject
{
    Q_OBJECT

private:
    testsim::SensorOnPty rig;
    QList<SimSensor *> members; // in the order of Line
    QTemporaryDir dir;
    const std::function<void(int)> setAddress = [this](int a) { rig.host.address = a; };

    InventoryResult inventory(IOperationHost &op, ServiceRecord *record = nullptr)
    {
        return RunInventory(*rig.engine, op, {1, 9, 70, 300}, setAddress, {record, {}, QStringLiteral("pty")});
    }
    QList<int> addresses() const
    {
        QList<int> out{rig.sensor.address()};
        for (const SimSensor *s : members)
            out << s->address();
        return out;
    }

private Q_SLOTS:
    void initTestCase()
    {
        for (const Member &m : Line)
            members << &rig.bus.addSensor(quint8(m.address), m.serial);
        members[3]->addFault(SimFault::exception(4).onFunction(4).onAddress(5).always());
        QVERIFY2(rig.startWithEngine(), qPrintable(rig.errorString()));
    }
    void init()
    {
        rig.reset();
        for (int i = 0; i < members.size(); ++i)
            members[i]->setAddress(quint8(Line[i].address));
        members[4]->setSerial(Line[4].serial);
        rig.host.address = 42;
    }

    void inventoryListsMarksAndRecords()
    {
        const QString dbPath = dir.filePath(QStringLiteral("inventory.sqlite"));
        ServiceRecord record(dbPath);
        RecordingOpHost op;
        const InventoryResult result = inventory(op, &record);
        const QString id = QStringLiteral("|14|ZART|OCS-1|2.1|");
        QCOMPARE(rowTexts(result.sensors),
                 QStringList({QStringLiteral("1|0012AB7F") + id + QString::fromUtf16(FoundText),
                              QStringLiteral("3|00ABCDEF") + id + SameSerialText(0x00ABCDEF, 8),
                              QStringLiteral("5||||||") + QString::fromUtf16(ConflictText),
                              QStringLiteral("7||||||Ошибка чтения серийного номера: Ошибка - Ошибка "
                                             "устройства [код ошибки 4]"),
                              QStringLiteral("8|00ABCDEF") + id + SameSerialText(0x00ABCDEF, 3)}));
        QCOMPARE(result.conflicts(), 3);
        QCOMPARE(rig.host.address, 42);
        QCOMPARE(op.values(HostEvent::Progress).last(), 100);
        // The probes are as quiet as the search's: no traffic lines at all.
        QCOMPARE(rig.host.countOfKind(LogSent), 0);
        const QList<OperationEntry> kept = record.history({});
        QCOMPARE(kept.size(), 3);
        QCOMPARE(kept[0].serial, std::optional<quint32>(0x0012AB7F));
        QCOMPARE(kept[0].result, RecordedResult::Success);
        QCOMPARE(kept[0].firmware, std::optional<quint32>(14));
        QCOMPARE(kept[1].result, RecordedResult::Failed);
    }

    void inventoryStoppedKeepsWhatItFound()
    {
        ServiceRecord record(dir.filePath(QStringLiteral("stopped.sqlite")));
        StopAfter op(rig.host, 4);
        const InventoryResult result = inventory(op, &record);
        QVERIFY(result.stopped);
        QCOMPARE(rowTexts(result.sensors).size(), 2);
        QCOMPARE(result.sensors[1].address, 3);
        QCOMPARE(rig.host.address, 42);
        QCOMPARE(record.history({}).size(), 2);
        QVERIFY(rig.host.lines.contains(LogLine{QString::fromUtf16(StoppedText), LogError}));
    }

    void inventoryCsv()
    {
        BusSensor s;
        s.address = 5;
        s.serial = 0x0012AB7F;
        s.vendor = QStringLiteral("A, \"B\"");
        QCOMPARE(InventoryCsv({s}),
                 QByteArray("Адрес,Серийный номер,Прошивка,Производитель,Изделие,Версия,Состояние\r\n"
                            "5,0012AB7F,,\"A, \"\"B\"\"\",,,\r\n"));
    }

    void commissioning_data()
    {
        QTest::addColumn<QStringList>("plan");
        QTest::addColumn<bool>("withCollision");
        QTest::addColumn<QStringList>("outcome"); // per row: done, failed or the refusal
        QTest::addColumn<QList<int>>("after");    // the addresses of 1 and of Line's sensors

        QTest::newRow("good") << QStringList{"00ABCDEF=9"} << false << QStringList{"done"}
                              << QList<int>{1, 9, 5, 5, 7, 8};
        QTest::newRow("proposed") << QStringList{"0012AB7F"} << false << QStringList{"done"}
                                  << QList<int>{2, 3, 5, 5, 7, 8};
        QTest::newRow("not on line") << QStringList{"0C0C0C0C=9"} << false
                                     << QStringList{"Датчик 0C0C0C0C не найден на линии"}
                                     << QList<int>{1, 3, 5, 5, 7, 8};
        QTest::newRow("address twice")
            << QStringList{"0012AB7F=9", "00777777=9"} << false
            << QStringList{"Адрес 9 назначен двум датчикам: 0012AB7F и 00777777"} << QList<int>{1, 3, 5, 5, 7, 8};
        QTest::newRow("address used") << QStringList{"0012AB7F=7"} << false
                                      << QStringList{"Датчик 0012AB7F: адрес 7 занят датчиком 00777777"}
                                      << QList<int>{1, 3, 5, 5, 7, 8};
        QTest::newRow("out of range") << QStringList{"0012AB7F=248"} << false
                                      << QStringList{"Датчик 0012AB7F: адрес 248 вне диапазона 1-247"}
                                      << QList<int>{1, 3, 5, 5, 7, 8};
        QTest::newRow("circle") << QStringList{"0012AB7F=7", "00777777=1"} << false
                                << QStringList{"Датчики меняются адресами по кругу: сначала дайте одному "
                                               "из них свободный адрес"}
                                << QList<int>{1, 3, 5, 5, 7, 8};
        QTest::newRow("into a vacated address") << QStringList{"00ABCDEF=1", "0012AB7F=10"} << false
                                                << QStringList{"done", "done"} << QList<int>{10, 1, 5, 5, 7, 8};
        // Nobody holds 0B0B0B0B: the broadcast is lost, the next row goes on.
        QTest::newRow("lost broadcast") << QStringList{"0B0B0B0B=11", "00ABCDEF=12"} << true
                                        << QStringList{"failed", "done"} << QList<int>{1, 12, 5, 5, 7, 8};
        QTest::newRow("collision separated") << QStringList{"0A0B0C0D=6"} << true << QStringList{"done"}
                                             << QList<int>{1, 3, 5, 6, 7, 8};
    }
    void commissioning()
    {
        QFETCH(QStringList, plan);
        QFETCH(bool, withCollision);
        QFETCH(QStringList, outcome);
        QFETCH(QList<int>, after);
        // What an inventory of the line found, the duplicate at 8 left out.
        QList<BusSensor> sensors = usableSensors();
        if (withCollision)
            sensors.append(BusSensor{5, {}, {}, {}, {}, {}, BusSensor::Mark::Conflict, {}});
        QList<Assignment> assignments;
        for (const QString &text : plan) // ParseAssignment refuses 248 already
            assignments << Assignment{text.left(8).toUInt(nullptr, 16), text.mid(9).toInt(), {}, {}};
        members[4]->setSerial(0x00888888); // no duplicate of the sensor at 3 here
        ProposeFreeAddresses(sensors, assignments);
        const int requestsBefore = rig.sensor.requestCount();
        RecordingOpHost op;
        const bool ok = RunAssignments(*rig.engine, op, sensors, assignments, 300, setAddress);
        QCOMPARE(ok, !outcome.contains(QStringLiteral("failed")) && outcome.first().size() <= 6);
        if (outcome.first().size() > 6) { // refused: nothing sent, the refusals in red
            QCOMPARE(rig.sensor.requestCount(), requestsBefore);
            QCOMPARE(texts(rig.host, LogError), outcome);
        } else {
            for (int i = 0; i < assignments.size(); ++i)
                QCOMPARE(assignments[i].state, outcome[i] == QLatin1String("done") ? Assignment::State::Done
                                                                                  : Assignment::State::Failed);
            if (outcome.contains(QStringLiteral("failed")))
                QCOMPARE(assignments.first().status, QString::fromUtf16(NotTakenText));
        }
        QCOMPARE(addresses(), after);
        QCOMPARE(rig.host.address, 42);
        if (QTest::currentDataTag() == QLatin1String("collision separated")) {
            rig.host.address = 5; // the other sensor now answers alone
            QCOMPARE(ReadSerialNumber(*rig.engine, 300), 0x01020304u);
        }
    }

    void dumpAllSkipsTheFailingSensor()
    {
        const QList<BusSensor> sensors = usableSensors();
        const int fault = members[0]->addFault(SimFault::exception(4).onFunction(3).always());
        const QString data = dir.filePath(QStringLiteral("batch"));
        QDir().mkpath(data);
        ServiceRecord record(dir.filePath(QStringLiteral("batch.sqlite")));
        RecordingOpHost op;
        QList<int> started;
        const BatchResult dumped = DumpAll(*rig.engine, op, sensors, {data, 300, 0}, setAddress,
                                           {&record, {}, QStringLiteral("pty")},
                                           [&](int index, int) { started << index; });
        members[0]->removeFault(fault);
        QCOMPARE(started, QList<int>({0, 1, 2}));
        QCOMPARE(BatchSummaryLine(dumped), QStringLiteral("Датчиков: 3, успешно: 2, с ошибкой: 1"));
        QVERIFY(!dumped.outcomes[1].ok);
        QVERIFY(QFileInfo::exists(LatestDumpPath(data, 0x0012AB7F)));
        QVERIFY(!QFileInfo::exists(LatestDumpPath(data, 0x00ABCDEF)));
        QVERIFY(QFileInfo::exists(LatestDumpPath(data, 0x00777777)));
        QCOMPARE(rig.host.address, 42);
        QList<RecordedResult> results;
        for (const OperationEntry &e : record.history({}))
            results << e.result;
        QCOMPARE(results, QList<RecordedResult>({RecordedResult::Success, RecordedResult::Failed,
                                                  RecordedResult::Success}));

        // The comparison finds the dumps just made, and none for the sensor that failed.
        members[3]->setWord(SimSensor::WordExposureX, 99);
        const BatchResult compared = CompareAll(*rig.engine, op, sensors, {data, 300, 0}, setAddress);
        QStringList outcomes;
        for (const BatchOutcome &o : compared.outcomes)
            outcomes << o.text;
        QCOMPARE(outcomes, QStringList({QStringLiteral("Отличий нет"),
                                        QStringLiteral("Нет дампа %1").arg(LatestDumpPath(data, 0x00ABCDEF)),
                                        QStringLiteral("Отличается слов: 1")}));
    }
};

QTEST_GUILESS_MAIN(tst_bus)
#include "tst_bus.moc"

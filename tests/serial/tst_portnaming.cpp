// Device names <-> COM numbers, and the port list built from the devices present.

#include "serial/PortNaming.h"
#include "serial/UEnumComPorts.h"

#include <QtTest>

Q_DECLARE_METATYPE(QList<DeviceInfo>)

namespace {

DeviceInfo dev(const QString &name, const QString &description = QString())
{
    return DeviceInfo {name, description, !description.isNull()};
}

QStringList texts(const QList<PortEntry> &list)
{
    QStringList out;
    for (const PortEntry &e : list)
        out << e.text;
    return out;
}

QList<qint32> numbers(const QList<PortEntry> &list)
{
    QList<qint32> out;
    for (const PortEntry &e : list)
        out << e.number;
    return out;
}

} // namespace

class TestPortNaming : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void cleanup() { setPortInfoProvider({}); }

    void bothWays_data();
    void bothWays();
    void devicesWithoutNumber_data();
    void devicesWithoutNumber();
    void numbersWithoutDevice_data();
    void numbersWithoutDevice();
    void comNames_data();
    void comNames();

    void listing_data();
    void listing();
    void namesOnly();
    void providerReplacesSystemList();
};

void TestPortNaming::bothWays_data()
{
    QTest::addColumn<QString>("device");
    QTest::addColumn<int>("number");

    QTest::newRow("first ttyS") << "/dev/ttyS0" << 1;
    QTest::newRow("ttyS9") << "/dev/ttyS9" << 10;
    QTest::newRow("last ttyS") << "/dev/ttyS99" << 100;
    QTest::newRow("first ttyUSB") << "/dev/ttyUSB0" << 101;
    QTest::newRow("ttyUSB12") << "/dev/ttyUSB12" << 113;
    QTest::newRow("last ttyUSB") << "/dev/ttyUSB99" << 200;
    QTest::newRow("first ttyACM") << "/dev/ttyACM0" << 201;
    QTest::newRow("last ttyACM") << "/dev/ttyACM99" << 300;
    QTest::newRow("first ttyAMA") << "/dev/ttyAMA0" << 301;
    QTest::newRow("last ttyAMA") << "/dev/ttyAMA99" << 400;
}

void TestPortNaming::bothWays()
{
    QFETCH(QString, device);
    QFETCH(int, number);

    QCOMPARE(PortNaming::comNumberForDevice(device), number);
    QCOMPARE(PortNaming::comNumberForDevice(device.mid(5)), number); // without /dev/
    QCOMPARE(PortNaming::devicePathForComNumber(number), device);
    QCOMPARE(PortNaming::devicePathForPortName(PortNaming::comName(number)), device);
    QCOMPARE(PortNaming::devicePathForPortName(PortNaming::comName(number).toLower()), device);
}

void TestPortNaming::devicesWithoutNumber_data()
{
    QTest::addColumn<QString>("device");

    QTest::newRow("index 100") << "ttyS100";
    QTest::newRow("leading zero") << "ttyUSB01";
    QTest::newRow("no index") << "ttyUSB";
    QTest::newRow("sign") << "ttyS+1";
    QTest::newRow("other family") << "ttyXRUSB0";
    QTest::newRow("pty") << "/dev/pts/3";
    QTest::newRow("parallel port") << "lp0";
    QTest::newRow("other folder") << "/tmp/ttyS0";
    QTest::newRow("letter case") << "ttyusb0";
    QTest::newRow("empty") << "";
}

void TestPortNaming::devicesWithoutNumber()
{
    QFETCH(QString, device);
    QCOMPARE(PortNaming::comNumberForDevice(device), 0);
}

void TestPortNaming::numbersWithoutDevice_data()
{
    QTest::addColumn<int>("number");
    QTest::newRow("0") << 0;
    QTest::newRow("negative") << -1;
    QTest::newRow("past the table") << 401;
}

void TestPortNaming::numbersWithoutDevice()
{
    QFETCH(int, number);
    QCOMPARE(PortNaming::devicePathForComNumber(number), QString());
}

void TestPortNaming::comNames_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("number");
    QTest::addColumn<QString>("path");

    QTest::newRow("COM10") << "COM10" << 10 << "/dev/ttyS9";
    QTest::newRow("lower case") << "com3" << 3 << "/dev/ttyS2";
    QTest::newRow("COMX") << "COMX" << 0 << "/dev/COMX";
    QTest::newRow("COM alone") << "COM" << 0 << "/dev/COM";
    QTest::newRow("COM0") << "COM0" << 0 << "/dev/COM0";
    QTest::newRow("COM with sign") << "COM+3" << 0 << "/dev/COM+3";
    QTest::newRow("COM past the table") << "COM401" << 401 << "";
    QTest::newRow("device path") << "/dev/pts/2" << 0 << "/dev/pts/2";
    QTest::newRow("device name") << "ttyACM0" << 0 << "/dev/ttyACM0";
    QTest::newRow("empty") << "" << 0 << "";
}

void TestPortNaming::comNames()
{
    QFETCH(QString, name);
    QFETCH(int, number);
    QFETCH(QString, path);

    QCOMPARE(PortNaming::comNumberOfName(name), number);
    QCOMPARE(PortNaming::devicePathForPortName(name), path);
}

void TestPortNaming::listing_data()
{
    QTest::addColumn<QList<DeviceInfo>>("devices");
    QTest::addColumn<QStringList>("texts");
    QTest::addColumn<QList<qint32>>("numbers");

    QTest::newRow("ordered by number, not by text")
        << QList<DeviceInfo>{dev("ttyS9", "Port 10"), dev("ttyS1", "Port 2"), dev("ttyS0", "Port 1")}
        << QStringList{"COM1 - Port 1", "COM2 - Port 2", "COM10 - Port 10"}
        << QList<qint32>{1, 2, 10};
    QTest::newRow("families interleave by number")
        << QList<DeviceInfo>{dev("ttyACM0", "Modem"), dev("ttyUSB1", "Adapter B"), dev("ttyS3", "Board"),
                             dev("ttyUSB0", "Adapter A")}
        << QStringList{"COM4 - Board", "COM101 - Adapter A", "COM102 - Adapter B", "COM201 - Modem"}
        << QList<qint32>{4, 101, 102, 201};
    QTest::newRow("devices without a number are skipped")
        << QList<DeviceInfo>{dev("lp0", "Printer"), dev("ttyUSB2", "Adapter"), dev("pts/3", "Pty"),
                             dev("rfcomm0", "Bluetooth")}
        << QStringList{"COM103 - Adapter"} << QList<qint32>{103};
    QTest::newRow("missing description gives the name alone")
        << QList<DeviceInfo>{dev("ttyS4"), dev("ttyS2", "Board")}
        << QStringList{"COM3 - Board", "COM5"} << QList<qint32>{3, 5};
    QTest::newRow("empty description is still a description")
        << QList<DeviceInfo>{DeviceInfo{"ttyS0", "", true}} << QStringList{"COM1 - "} << QList<qint32>{1};
    QTest::newRow("same port twice is not merged")
        << QList<DeviceInfo>{dev("/dev/ttyS0", "A"), dev("ttyS0", "B")}
        << QStringList{"COM1 - A", "COM1 - B"} << QList<qint32>{1, 1};
    QTest::newRow("nothing present") << QList<DeviceInfo>{} << QStringList{} << QList<qint32>{};
}

void TestPortNaming::listing()
{
    QFETCH(QList<DeviceInfo>, devices);
    QFETCH(QStringList, texts);
    QFETCH(QList<qint32>, numbers);

    QList<PortEntry> list {PortEntry {QStringLiteral("stale"), 7}};
    QVERIFY(ListComPorts(list, false, true, devices));
    QCOMPARE(::texts(list), texts);
    QCOMPARE(::numbers(list), numbers);

    // Unsorted: the same entries, in the devices' order.
    QVERIFY(ListComPorts(list, false, false, devices));
    QStringList unsorted = ::texts(list);
    QStringList expected = texts;
    unsorted.sort();
    expected.sort();
    QCOMPARE(unsorted, expected);
}

void TestPortNaming::namesOnly()
{
    QList<PortEntry> list;
    QVERIFY(ListComPorts(list, true, true, {dev("ttyUSB0", "Adapter"), dev("ttyS0", "Board")}));
    QCOMPARE(texts(list), QStringList({"COM1", "COM101"}));
}

void TestPortNaming::providerReplacesSystemList()
{
    setPortInfoProvider([] { return QList<DeviceInfo>{dev("ttyS2", "Simulated")}; });
    QList<PortEntry> list;
    QVERIFY(ListComPorts(list, false, true));
    QCOMPARE(texts(list), QStringList({"COM3 - Simulated"}));
    QCOMPARE(numbers(list), QList<qint32>({3}));

    setPortInfoProvider([] { return QList<DeviceInfo>{}; });
    QVERIFY(ListComPorts(list, false, true));
    QVERIFY(list.isEmpty());

    // Restored: whatever the machine has, every entry is a COM port in order.
    setPortInfoProvider({});
    QVERIFY(ListComPorts(list, false, true));
    for (qsizetype i = 0; i < list.size(); ++i) {
        QVERIFY(list[i].number > 0);
        QVERIFY(list[i].text.startsWith(PortNaming::comName(list[i].number)));
        if (i > 0)
            QVERIFY(list[i - 1].number <= list[i].number);
    }
}

QTEST_GUILESS_MAIN(TestPortNaming)
#include "tst_portnaming.moc"

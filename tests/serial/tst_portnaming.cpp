// Device names <-> COM numbers, and the port list built from the devices present.

#include "serial/PortNaming.h"
#include "serial/PortEnumeration.h"

#include <QtTest>
#include <QTemporaryDir>

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

    void devices_data();
    void devices();
    void comNames_data();
    void comNames();

    void listing_data();
    void listing();
    void namesOnly();
    void providerReplacesSystemList();
    void stableLinks_data();
    void stableLinks();
};

void TestPortNaming::devices_data()
{
    QTest::addColumn<QString>("device");
    QTest::addColumn<int>("number"); // 0: no COM number

    QTest::newRow("first ttyS") << "/dev/ttyS0" << 1;
    QTest::newRow("last ttyS") << "/dev/ttyS99" << 100;
    QTest::newRow("first ttyUSB") << "/dev/ttyUSB0" << 101;
    QTest::newRow("last ttyUSB") << "/dev/ttyUSB99" << 200;
    QTest::newRow("first ttyACM") << "/dev/ttyACM0" << 201;
    QTest::newRow("last ttyACM") << "/dev/ttyACM99" << 300;
    QTest::newRow("first ttyAMA") << "/dev/ttyAMA0" << 301;
    QTest::newRow("last ttyAMA") << "/dev/ttyAMA99" << 400;
    QTest::newRow("index 100") << "/dev/ttyS100" << 0;
    QTest::newRow("leading zero") << "/dev/ttyUSB01" << 0;
    QTest::newRow("no index") << "/dev/ttyUSB" << 0;
    QTest::newRow("sign") << "/dev/ttyS+1" << 0;
    QTest::newRow("other family") << "/dev/ttyXRUSB0" << 0;
    QTest::newRow("letter case") << "/dev/ttyusb0" << 0;
}

// Device names <-> COM numbers, both ways, with and without "/dev/".
void TestPortNaming::devices()
{
    QFETCH(QString, device);
    QFETCH(int, number);

    QCOMPARE(PortNaming::comNumberForDevice(device), number);
    QCOMPARE(PortNaming::comNumberForDevice(device.mid(5)), number);
    QCOMPARE(PortNaming::comNumberForDevice(QStringLiteral("/tmp/") + device.mid(5)), 0); // other folder
    if (number == 0)
        return;
    QCOMPARE(PortNaming::devicePathForComNumber(number), device);
    QCOMPARE(PortNaming::devicePathForPortName(PortNaming::comName(number)), device);
    QCOMPARE(PortNaming::devicePathForPortName(PortNaming::comName(number).toLower()), device);
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
    if (name.startsWith(QStringLiteral("COM"), Qt::CaseInsensitive)) // numbers without a device: none
        QCOMPARE(PortNaming::devicePathForComNumber(number), number >= 1 && number <= 400 ? path : QString());
}

void TestPortNaming::listing_data()
{
    QTest::addColumn<QList<DeviceInfo>>("devices");
    QTest::addColumn<QStringList>("texts");
    QTest::addColumn<QList<qint32>>("numbers");

    QTest::newRow("ordered by number, not by text")
        << QList<DeviceInfo>{dev("ttyACM0", "Modem"), dev("ttyS9", "Port 10"), dev("ttyUSB0", "Adapter"),
                             dev("ttyS1", "Port 2")}
        << QStringList{"COM2 - Port 2", "COM10 - Port 10", "COM101 - Adapter", "COM201 - Modem"}
        << QList<qint32>{2, 10, 101, 201};
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
}

// The stable link of a device: a folder like /dev/serial/by-id with links to
// files standing in for the devices a and b, a dangling link and a plain file.
void TestPortNaming::stableLinks_data()
{
    QTest::addColumn<QString>("query"); // relative to the test folder
    QTest::addColumn<QString>("dir");   // the links' folder, relative to it
    QTest::addColumn<QString>("link");  // expected, relative to it; empty: none

    QTest::newRow("device a") << "dev/a" << "by-id" << "by-id/usb-A-if00-port0";
    QTest::newRow("device b") << "dev/b" << "by-id" << "by-id/usb-B-if00-port0";
    QTest::newRow("through another link") << "alias-of-a" << "by-id" << "by-id/usb-A-if00-port0";
    QTest::newRow("the stable link itself") << "by-id/usb-B-if00-port0" << "by-id" << "by-id/usb-B-if00-port0";
    QTest::newRow("no link") << "dev/c" << "by-id" << "";
    QTest::newRow("no device") << "dev/gone" << "by-id" << "";
    QTest::newRow("no folder") << "dev/a" << "missing" << "";
}

void TestPortNaming::stableLinks()
{
    QFETCH(QString, query);
    QFETCH(QString, dir);
    QFETCH(QString, link);
    QTemporaryDir root;
    QVERIFY(root.isValid());
    const QDir d(root.path());
    QVERIFY(d.mkpath("dev") && d.mkpath("by-id"));
    for (const char *name : {"dev/a", "dev/b", "dev/c", "by-id/plain"}) {
        QFile f(d.filePath(name));
        QVERIFY(f.open(QIODevice::WriteOnly));
    }
    QVERIFY(QFile::link(d.filePath("dev/b"), d.filePath("by-id/usb-B-if00-port0")));
    QVERIFY(QFile::link(d.filePath("dev/gone"), d.filePath("by-id/usb-0-dangling")));
    QVERIFY(QFile::link(d.filePath("dev/a"), d.filePath("by-id/usb-A-if00-port0")));
    QVERIFY(QFile::link(d.filePath("dev/a"), d.filePath("alias-of-a")));

    QCOMPARE(PortNaming::stableLinkFor(d.filePath(query), d.filePath(dir)),
             link.isEmpty() ? QString() : d.filePath(link));
}

QTEST_GUILESS_MAIN(TestPortNaming)
#include "tst_portnaming.moc"

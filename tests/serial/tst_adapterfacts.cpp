// The adapter behind a port as a made-up sysfs tree in a temporary folder tells it.

#include "serial/AdapterFacts.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

namespace {

// Builds a tree under root from entries "path=content" (a file), "path/" (a
// folder) and "path->target" (a symbolic link to root/target). False when an
// entry cannot be made.
bool buildTree(const QString &root, const QStringList &entries)
{
    const QDir dir(root);
    for (const QString &entry : entries) {
        if (const qsizetype arrow = entry.indexOf(QStringLiteral("->")); arrow > 0) {
            const QString link = dir.filePath(entry.left(arrow));
            if (!dir.mkpath(QFileInfo(link).path()) || !QFile::link(dir.filePath(entry.mid(arrow + 2)), link))
                return false;
        } else if (const qsizetype eq = entry.indexOf(QLatin1Char('=')); eq > 0) {
            const QString path = dir.filePath(entry.left(eq));
            QFile file(path);
            if (!dir.mkpath(QFileInfo(path).path()) || !file.open(QIODevice::WriteOnly)
                || file.write(entry.mid(eq + 1).toUtf8() + '\n') < 0)
                return false;
        } else if (!dir.mkpath(entry)) {
            return false;
        }
    }
    return true;
}

// The facts as one line: "vendor:product|manufacturer|product|driver|timer", or "none".
QString factsLine(const std::optional<AdapterFacts> &f)
{
    if (!f)
        return QStringLiteral("none");
    return QStringLiteral("%1 %2:%3|%4|%5|%6|%7")
        .arg(f->tty, f->vendorId, f->productId, f->manufacturer, f->product, f->driver)
        .arg(f->latencyTimerMs);
}

const QString UsbDevice = QStringLiteral("devices/pci0000:00/usb1/1-2");

// An FTDI adapter as ftdi_sio shows it: the port two levels below the USB
// device, the latency timer on the port.
QStringList ftdi(const QString &timer)
{
    const QString port = UsbDevice + QStringLiteral("/1-2:1.0/ttyUSB0");
    return {UsbDevice + QStringLiteral("/idVendor=0403"), UsbDevice + QStringLiteral("/idProduct=6001"),
            UsbDevice + QStringLiteral("/manufacturer=FTDI"),
            UsbDevice + QStringLiteral("/product=FT232R USB UART"), port + QStringLiteral("/latency_timer=") + timer,
            QStringLiteral("bus/usb-serial/drivers/ftdi_sio/"),
            port + QStringLiteral("/driver->bus/usb-serial/drivers/ftdi_sio"),
            QStringLiteral("class/tty/ttyUSB0/device->") + port};
}

} // namespace

class TestAdapterFacts : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void read_data();
    void read();
};

void TestAdapterFacts::read_data()
{
    QTest::addColumn<QStringList>("tree");
    QTest::addColumn<QString>("device"); // "dev/..." lies in the tree, else as given
    QTest::addColumn<QString>("facts");

    const QString ftdi16 = QStringLiteral("ttyUSB0 0403:6001|FTDI|FT232R USB UART|ftdi_sio|16");
    QTest::newRow("FTDI, 16 ms") << ftdi(QStringLiteral("16")) << "/dev/ttyUSB0" << ftdi16;
    QTest::newRow("FTDI, 1 ms") << ftdi(QStringLiteral("1")) << "/dev/ttyUSB0"
                                << "ttyUSB0 0403:6001|FTDI|FT232R USB UART|ftdi_sio|1";
    QTest::newRow("by a stable link")
        << ftdi(QStringLiteral("16")) + QStringList{"dev/ttyUSB0=", "dev/serial/by-id/usb-FTDI-if00->dev/ttyUSB0"}
        << "dev/serial/by-id/usb-FTDI-if00" << ftdi16;

    // The timer one level up, on the interface.
    QStringList beside = ftdi(QStringLiteral("16"));
    beside.removeAt(4);
    beside << UsbDevice + QStringLiteral("/1-2:1.0/latency_timer=16");
    QTest::newRow("timer beside the port") << beside << "/dev/ttyUSB0" << ftdi16;

    // A CDC ACM adapter: the interface is the port, no timer, no names.
    const QString iface = UsbDevice + QStringLiteral("/1-2:1.0");
    QTest::newRow("CDC ACM, nameless")
        << QStringList{UsbDevice + QStringLiteral("/idVendor=2341"), UsbDevice + QStringLiteral("/idProduct=0043"),
                       QStringLiteral("bus/usb/drivers/cdc_acm/"), iface + QStringLiteral("/driver->bus/usb/drivers/cdc_acm"),
                       QStringLiteral("class/tty/ttyACM0/device->") + iface}
        << "/dev/ttyACM0" << "ttyACM0 2341:0043|||cdc_acm|-1";

    QTest::newRow("built-in port")
        << QStringList{"devices/platform/serial8250/tty/ttyS0/", "class/tty/ttyS0/device->devices/platform/serial8250"}
        << "/dev/ttyS0" << "none";
    QTest::newRow("no entry (a pseudo-terminal)") << ftdi(QStringLiteral("16")) << "/dev/pts/3" << "none";
    QTest::newRow("device link leads nowhere")
        << QStringList{"class/tty/ttyUSB0/device->devices/gone"} << "/dev/ttyUSB0" << "none";
    QStringList unreadable = ftdi(QStringLiteral("16"));
    unreadable[0] = UsbDevice + QStringLiteral("/idVendor/");
    QTest::newRow("vendor unreadable") << unreadable << "/dev/ttyUSB0" << "none";
    QStringList badTimer = ftdi(QStringLiteral("fast"));
    QTest::newRow("timer not a number") << badTimer << "/dev/ttyUSB0"
                                        << "ttyUSB0 0403:6001|FTDI|FT232R USB UART|ftdi_sio|-1";
}

void TestAdapterFacts::read()
{
    QFETCH(QStringList, tree);
    QFETCH(QString, device);
    QFETCH(QString, facts);

    QTemporaryDir root;
    QVERIFY(root.isValid());
    QVERIFY(buildTree(root.path(), tree));
    const QString path = device.startsWith(QLatin1Char('/')) ? device : root.filePath(device);
    const std::optional<AdapterFacts> read = ReadAdapterFacts(path, root.path());
    QCOMPARE(factsLine(read), facts);
    if (read)
        QCOMPARE(read->lowLatency, ISerialDevice::LowLatency::Unknown); // the link's to tell
}

QTEST_GUILESS_MAIN(TestAdapterFacts)
#include "tst_adapterfacts.moc"

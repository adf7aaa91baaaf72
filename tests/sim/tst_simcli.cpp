// zart-sensor-sim as a process: options, the link, the flash image written on
// exit by signal, and refusal of bad options.

#include "SimTestUtil.h"
#include "common/DefaultStopSignals.h"

#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>

using namespace simtest;

namespace {

quint32 wordAt(const QByteArray &dump, int n)
{
    const auto *p = reinterpret_cast<const quint8 *>(dump.constData()) + 4 * n;
    return quint32(p[0]) | quint32(p[1]) << 8 | quint32(p[2]) << 16 | quint32(p[3]) << 24;
}

} // namespace

class TestSimCli : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { defaultStopSignals(); }
    void runsUntilSignalled_data();
    void runsUntilSignalled();
    void severalSensorsOnAPacedLine();
    void refusesBadOptions_data();
    void refusesBadOptions();
};

void TestSimCli::runsUntilSignalled_data()
{
    QTest::addColumn<int>("signal");
    QTest::newRow("SIGTERM") << int(SIGTERM);
    QTest::newRow("SIGINT") << int(SIGINT);
}

void TestSimCli::runsUntilSignalled()
{
    QFETCH(int, signal);
    QTemporaryDir dir;
    const QString link = dir.filePath("ttySIM0");
    const QString in = dir.filePath("in.dmp");
    const QString out = dir.filePath("out.dmp");
    QByteArray image(4096, '\0');
    for (int i = 0; i < image.size(); ++i)
        image[i] = char(i % 251);
    image[0] = 9; // word 0: address 9, overridden below
    image[1] = image[2] = image[3] = 0;
    QFile f(in);
    QVERIFY(f.open(QIODevice::WriteOnly) && f.write(image) == 4096);
    f.close();

    QProcess sim;
    sim.start(QStringLiteral(ZART_SENSOR_SIM_EXE),
              {"--link", link, "--address", "5", "--serial", "00ABCDEF", "--flash-in", in, "--flash-out", out});
    QVERIFY(sim.waitForStarted(5000));
    QVERIFY(sim.waitForReadyRead(5000));
    const QString device = QString::fromLocal8Bit(sim.readLine()).trimmed();
    QVERIFY2(device.startsWith("/dev/"), qPrintable(device));
    QCOMPARE(QFileInfo(link).symLinkTarget(), device);

    const int fd = openRaw(link);
    QVERIFY(fd >= 0);
    QCOMPARE(exchange(fd, frame("050400050002"), 9).toHex(),
             frame("050404 00ABCDEF").toHex());
    QCOMPARE(exchange(fd, frame("0510102000030612345678A55A"), 8).toHex(),
             frame("051010200003").toHex());
    ::close(fd);

    QCOMPARE(::kill(pid_t(sim.processId()), signal), 0);
    QVERIFY(sim.waitForFinished(5000));
    // Cleaned up (below), then ended by the signal itself.
    QCOMPARE(sim.exitStatus(), QProcess::CrashExit);
    QCOMPARE(sim.exitCode(), signal);
    QVERIFY(!QFileInfo(link).isSymLink());

    QFile o(out);
    QVERIFY(o.open(QIODevice::ReadOnly));
    const QByteArray saved = o.readAll();
    QCOMPARE(saved.size(), 4096);
    QCOMPARE(wordAt(saved, 0), 5u);
    QCOMPARE(wordAt(saved, 1), 0x00ABCDEFu);
    QCOMPARE(wordAt(saved, 0x20), 0x12345678u);
    QCOMPARE(saved.mid(0x100 * 4, 64), image.mid(0x100 * 4, 64)); // the rest comes from --flash-in
}

void TestSimCli::severalSensorsOnAPacedLine()
{
    QTemporaryDir dir;
    const QString link = dir.filePath("ttySIM0");
    QProcess sim;
    sim.start(QStringLiteral(ZART_SENSOR_SIM_EXE),
              {"--link", link, "--sensors", "1:0012AB7F,5:00ABCDEF", "--wire", "9600", "--no-block"});
    QVERIFY(sim.waitForStarted(5000));
    QByteArray out;
    while (out.count('\n') < 4 && sim.waitForReadyRead(5000))
        out += sim.readAll();
    QVERIFY(out.endsWith("\naddress 1, serial 0012AB7F\naddress 5, serial 00ABCDEF\n"));

    const int fd = openRaw(link);
    QVERIFY(fd >= 0);
    QElapsedTimer t;
    t.start();
    QCOMPARE(exchange(fd, frame("050400050002"), 9).toHex(), frame("050404 00ABCDEF").toHex());
    // 17 bytes and 3.5 characters of silence at 9600 bit/s: the reply cannot come sooner.
    QVERIFY2(t.nsecsElapsed() >= 23490000, qPrintable(QString::number(t.nsecsElapsed())));
    QCOMPARE(exchange(fd, frame("010310200002"), 9).toHex(), frame("010304 FFFFFFFF").toHex());
    QCOMPARE(exchange(fd, frame("010310200004"), 5).toHex(), frame("018302").toHex());
    ::close(fd);
    sim.terminate();
    QVERIFY(sim.waitForFinished(5000));
}

void TestSimCli::refusesBadOptions_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::newRow("address 0") << QStringList{"--address", "0"};
    QTest::newRow("address 248") << QStringList{"--address", "248"};
    QTest::newRow("address text") << QStringList{"--address", "x"};
    QTest::newRow("serial not hex") << QStringList{"--serial", "12G4"};
    QTest::newRow("missing dump") << QStringList{"--flash-in", "/nonexistent/x.dmp"};
    QTest::newRow("lose every 0") << QStringList{"--lose-every", "0"};
    QTest::newRow("sensors: address 0") << QStringList{"--sensors", "1:0012AB7F,0:00ABCDEF"};
    QTest::newRow("sensors with serial") << QStringList{"--sensors", "1:0012AB7F", "--serial", "1"};
    QTest::newRow("wire 0") << QStringList{"--wire", "0"};
}

void TestSimCli::refusesBadOptions()
{
    QFETCH(QStringList, args);
    QTemporaryDir dir;
    const QString link = dir.filePath("ttySIM0");
    QProcess sim;
    sim.start(QStringLiteral(ZART_SENSOR_SIM_EXE), QStringList{"--link", link} + args);
    QVERIFY(sim.waitForFinished(5000));
    QCOMPARE(sim.exitStatus(), QProcess::NormalExit);
    QVERIFY(sim.exitCode() != 0);
    QVERIFY(!sim.readAllStandardError().isEmpty());
    QVERIFY(!QFileInfo(link).exists() && !QFileInfo(link).isSymLink());
}

QTEST_GUILESS_MAIN(TestSimCli)
#include "tst_simcli.moc"

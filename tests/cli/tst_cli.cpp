// zart-cli in-process: every verb against the simulated sensor on a pseudo-terminal,
// stdout, log lines, exit statuses, --verbose traffic, colour and progress only on a
// terminal; the supply switch on a recording fake.

#include "CliTestUtil.h"

#include "common/FakeSerialDevice.h"
#include "common/GoldenFile.h"
#include "common/PtyPair.h"
#include "common/ScriptedPeer.h"
#include "record/ServiceRecord.h"
#include "serial/PortAccess.h"
#include "serial/SerialLink.h"

#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>


using namespace clitest;

namespace {

const QString UsageHead = QStringLiteral("Usage: zart-cli");
// Every usage error ends with this line on stderr, and nothing goes to stdout.
const QString TryHelp = QStringLiteral("Try 'zart-cli --help'.");

} // namespace

Q_DECLARE_METATYPE(SimFault)

class TestCli : public QObject, public SensorOnPty
{
    Q_OBJECT

private:
    // The same run with --verbose: the same stdout, and the lines of each exchange on stderr.
    void verifyVerbose(const QStringList &args, const QString &quietOut)
    {
        sensor.clearRequestLog();
        const CliRun verbose = runCli(onSensor(QStringList{"--verbose"} + args));
        QCOMPARE(verbose.rc, 0);
        QCOMPARE(verbose.out, quietOut);
        QStringList traffic;
        for (const SimRequestRecord &r : sensor.requestLog())
            traffic << QStringLiteral("Послано: ") + hexLine(r.request)
                    << QStringLiteral("Принято: ") + hexLine(r.reply);
        QVERIFY(!traffic.isEmpty());
        QCOMPARE(lines(verbose.err), traffic);
    }


    // Three operations of two sensors, at noon local time on 2024-01-10,
    // 2024-02-20 and 2024-03-05.
    static void writeHistory(const QString &path)
    {
        QList<OperationEntry> entries;
        const auto add = [&](quint32 serial, QDate day, RecordedKind kind) {
            OperationEntry e;
            e.started = QDateTime(day, QTime(12, 0)).toUTC();
            e.ended = e.started.addSecs(30);
            e.port = QStringLiteral("/dev/ttyUSB0");
            e.busAddress = 1;
            e.serial = serial;
            e.kind = kind;
            entries << e;
        };
        add(0x0012AB7F, QDate(2024, 1, 10), RecordedKind::Dump);
        add(0x00ABCDEF, QDate(2024, 2, 20), RecordedKind::Restore);
        add(0x0012AB7F, QDate(2024, 3, 5), RecordedKind::WriteWord);
        ServiceRecord(path).add(entries);
    }

private Q_SLOTS:
    void initTestCase() { QVERIFY2(start(), qPrintable(errorString())); }

    void init()
    {
        sensor.clearFaults();
        sensor.setFlash(SimSensor::defaultFlash());
        sensor.setAddress(1);
        sensor.setSerial(0x0000000A);
        sensor.setCoordinates(10.0f, -3.2f);
        sensor.setStatus(1, 0);
        sensor.setPixels(1.0625f, 7.0f);
        sensor.setDeviceId("Vendor", "P7", "2.1");
        sensor.setWord(SimSensor::WordFirmware, 14);
        sensor.setWord(SimSensor::WordDimension, 40);
        sensor.setWord(SimSensor::WordCpu, 2);
        sensor.setWord(5, 0xCAFE0042);
        sensor.clearRequestLog();
    }

    void cleanupTestCase() { stop(); }

    void readVerbs_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QStringList>("stdoutLines");
        QTest::addColumn<int>("requests");

        QTest::newRow("serial") << QStringList{"serial"} << QStringList{"0000000A"} << 1;
        QTest::newRow("devid") << QStringList{"devid"}
                               << QStringList{"VendorName: Vendor", "ProductCode: P7",
                                              "MajorMinorRevision: 2.1"}
                               << 1;
        QTest::newRow("coords") << QStringList{"coords"} << QStringList{"10\t-3.2\tok\t?"} << 1;
        QTest::newRow("pixels, integer") << QStringList{"pixels"} << QStringList{"1\t7\tok\t?"} << 1;
        QTest::newRow("pixels, real") << QStringList{"--float-pix", "pixels"}
                                      << QStringList{"1.063\t7\tok\t?"} << 1;
        QTest::newRow("option after the verb") << QStringList{"pixels", "--float-pix"}
                                               << QStringList{"1.063\t7\tok\t?"} << 1;
        QTest::newRow("read-word") << QStringList{"read-word", "13FA"} << QStringList{"0000000E"} << 1;
        QTest::newRow("read-word, low 16 bits of the field")
            << QStringList{"read-word", "11005"} << QStringList{"CAFE0042"} << 1;
        QTest::newRow("read-word, 0x prefix") << QStringList{"read-word", "0x1005"}
                                              << QStringList{"CAFE0042"} << 1;
        QTest::newRow("version") << QStringList{"version"}
                                 << QStringList{"Версия прошивки: 0x0E (шаг сетки 2.05 мм, 5.05 мм)",
                                                "Размерность прибора: 40",
                                                "Версия CPU: 0x02 (ADuC841)"}
                                 << 3;
    }
    void readVerbs()
    {
        QFETCH(QStringList, args);
        QFETCH(QStringList, stdoutLines);
        QFETCH(int, requests);

        const CliRun run = runCli(onSensor(args));
        QCOMPARE(run.rc, 0);
        QCOMPARE(lines(run.out), stdoutLines);
        QCOMPARE(run.err, QString()); // a quiet success: no traffic lines without --verbose
        QCOMPARE(sensor.requestCount(), requests);
        verifyVerbose(args, run.out);
    }

    void writeVerbs_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("word");
        QTest::addColumn<quint32>("before");
        QTest::addColumn<quint32>("after"); // the word's value once the verb has run
        QTest::addColumn<QByteArray>("pdu"); // the write request, key included
        QTest::addColumn<QString>("confirmation");

        QTest::newRow("light Y") << QStringList{"light", "Y"} << 6 << 0u << 2u
                                 << QByteArray::fromHex("10100600030600000002A55A") << "Освещение Y включено";
        QTest::newRow("light x") << QStringList{"light", "x"} << 6 << 0u << 1u
                                 << QByteArray::fromHex("10100600030600000001A55A") << "Освещение X включено";
        QTest::newRow("light off") << QStringList{"light", "off"} << 6 << 2u << 0u
                                   << QByteArray::fromHex("10100600030600000000A55A") << "Освещение выключено";
        QTest::newRow("write-word") << QStringList{"write-word", "1005", "12345678"} << 5 << 0u
                                    << 0x12345678u << QByteArray::fromHex("10100500030612345678A55A")
                                    << "Записано: 1005 = 12345678";
        QTest::newRow("write-word, short value")
            << QStringList{"write-word", "1003", "7f"} << 3 << 0u << 0x7Fu
            << QByteArray::fromHex("1010030003060000007FA55A") << "Записано: 1003 = 0000007F";
        QTest::newRow("write-word, address word not zero")
            << QStringList{"--addr", "1", "write-word", "1000", "00000001"} << 0 << 1u << 1u
            << QByteArray::fromHex("10100000030600000001A55A") << "Записано: 1000 = 00000001";
    }
    void writeVerbs()
    {
        QFETCH(QStringList, args);
        QFETCH(int, word);
        QFETCH(quint32, before);
        QFETCH(quint32, after);
        QFETCH(QByteArray, pdu);
        QFETCH(QString, confirmation);

        sensor.setWord(word, before);
        const CliRun run = runCli(onSensor(args));
        QCOMPARE(run.rc, 0);
        QCOMPARE(lines(run.out), QStringList{confirmation});
        QCOMPARE(run.err, QString());
        QCOMPARE(sensor.word(word), after);
        QCOMPARE(sensor.requestCount(), 1);
        QCOMPARE(sensor.requestLog().first().request, withCrc(QByteArray(1, '\x01') + pdu));
        verifyVerbose(args, run.out);
    }

    void setAddressBroadcast_data()
    {
        QTest::addColumn<QString>("serial");
        QTest::addColumn<int>("addressAfter");
        QTest::addColumn<int>("rc");

        // Confirmed by the serial number read at the new address: a line on stdout.
        QTest::newRow("own serial: takes 17") << QStringLiteral("0000000A") << 17 << 0;
        QTest::newRow("own serial, short form") << QStringLiteral("a") << 17 << 0;
        // A mistyped serial number: nothing answers at 17, a red line and exit 1.
        QTest::newRow("another serial: keeps 1") << QStringLiteral("0000000B") << 1 << 1;
    }
    void setAddressBroadcast()
    {
        QFETCH(QString, serial);
        QFETCH(int, addressAfter);
        QFETCH(int, rc);

        const CliRun run = runCli(onSensor({"--verbose", "--timeout-short", "200", "set-address", serial, "17"}));
        QCOMPARE(run.rc, rc);
        QCOMPARE(lines(run.out).size(), rc == 0 ? 1 : 0);
        // A broadcast to address 0, then one serial number read at the new address.
        const QByteArray frame = withCrc(QByteArray::fromHex("001000000003060011") + QByteArray::fromHex("0000000A"));
        const QStringList err = lines(run.err);
        if (addressAfter == 17)
            QCOMPARE(err.first(), QStringLiteral("Послано: ") + hexLine(frame));
        QVERIFY(sensor.waitForRequests(2, 2000));
        QCOMPARE(sensor.requestLog().at(1).request.left(2), QByteArray::fromHex("1104"));
        QCOMPARE(int(sensor.address()), addressAfter);
        if (rc != 0)
            QVERIFY2(err.last().contains(QStringLiteral("0000000B")), qPrintable(run.err));

        // The sensor answers at its address, whichever it is now.
        const CliRun check = runCli(onSensor({"--addr", QString::number(addressAfter), "serial"}));
        QCOMPARE(check.rc, 0);
        QCOMPARE(lines(check.out), QStringList{"0000000A"});
    }

    void echoResults_data()
    {
        QTest::addColumn<QString>("verb");
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QByteArray>("reply"); // PDU the far end answers with
        QTest::addColumn<QString>("result");

        const QByteArray ping = QByteArray::fromHex("080000AA55");
        const QByteArray reset = QByteArray::fromHex("080001FF00");
        QTest::newRow("ping echoed") << "ping" << ping << ping << "Ok";
        QTest::newRow("ping AA 54") << "ping" << ping << QByteArray::fromHex("080000AA54") << "Ошибка";
        QTest::newRow("reset FF 00") << "reset" << reset << reset << "Ok";
        QTest::newRow("reset 00 00") << "reset" << reset << QByteArray::fromHex("0800010000") << "Ok";
        QTest::newRow("reset 01 00") << "reset" << reset << QByteArray::fromHex("0800010100") << "Ошибка";
    }
    void echoResults()
    {
        QFETCH(QString, verb);
        QFETCH(QByteArray, request);
        QFETCH(QByteArray, reply);
        QFETCH(QString, result);

        // A device that answers with what the test gives it.
        PtyPair pty;
        QVERIFY2(pty.isValid(), qPrintable(pty.errorString()));
        ScriptedPeer peer(pty);
        peer.expectBytes(withCrc(QByteArray(1, '\x01') + request)).write(withCrc(QByteArray(1, '\x01') + reply));
        peer.start();

        const CliRun run = runCli({"--port", pty.slavePath(), verb});
        QVERIFY(peer.wait(5000));
        QVERIFY2(peer.ok(), qPrintable(peer.failure()));
        QCOMPARE(lines(run.out), QStringList{result});
        QCOMPARE(run.err, QString()); // an answer, not a failed exchange: nothing to log
        // "Ошибка" fails the command, so that a script can stop on it.
        QCOMPARE(run.rc, result == QLatin1String("Ok") ? 0 : 1);
    }

    void checksum()
    {
        // The sensor computes its checksum when asked; crc shows it, crc-correct
        // copies it into the expected word.
        sensor.setWord(SimSensor::WordCrcRequired, 0);
        const QString expected = QStringLiteral("%1").arg(SimSensor::flashChecksum(sensor.flash()), 4, 16,
                                                          QLatin1Char('0')).toUpper();
        const CliRun crc = runCli(onSensor({"crc"}));
        QCOMPARE(crc.rc, 0);
        QCOMPARE(lines(crc.out), QStringList{expected});
        QCOMPARE(crc.err, QString());

        const CliRun correct = runCli(onSensor({"crc-correct"}));
        QCOMPARE(correct.rc, 0);
        QCOMPARE(lines(correct.out), QStringList{"CRC скорректирована"});
        QCOMPARE(correct.err, QString());
        QCOMPARE(sensor.word(SimSensor::WordCrcRequired), sensor.word(SimSensor::WordCrcActual));
        QCOMPARE(QStringLiteral("%1").arg(sensor.word(SimSensor::WordCrcRequired), 4, 16, QLatin1Char('0')).toUpper(),
                 expected);
        QCOMPARE(sensor.requestCount(), 4); // one read, then read, read, write
    }

    void searchFindsNothing()
    {
        // A line on which nothing answers; the shortest probe timeout keeps the
        // 247 probes short.
        PtyPair silent;
        QVERIFY2(silent.isValid(), qPrintable(silent.errorString()));
        const CliRun run = runCli({"--port", silent.slavePath(), "search", "--find-timeout", "10"});
        QCOMPARE(run.rc, 1);
        QCOMPARE(run.out, QString());
        QCOMPARE(lines(run.err), (QStringList{"Идёт поиск датчика...", "Ничего не найдено!"}));
        // The addresses were probed in ascending order with the echo request, the
        // last one 247. (A probe that nobody reads on a pty may go in the purge
        // before the next request, as the search tests of the core say.)
        const QByteArray sent = silent.peerReadAvailable();
        QVERIFY(!sent.isEmpty() && sent.size() % 8 == 0);
        int previous = 0;
        for (qsizetype at = 0; at < sent.size(); at += 8) {
            const int a = quint8(sent.at(at));
            QVERIFY(a > previous);
            QCOMPARE(sent.mid(at, 8), withCrc(QByteArray(1, char(a)) + QByteArray::fromHex("080000AA55")));
            previous = a;
        }
        QCOMPARE(previous, 247);
    }

    void usageErrors_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("reason");

        QTest::newRow("nothing") << QStringList{} << "no command given";
        QTest::newRow("unknown verb") << QStringList{"blink"} << "unknown command \"blink\"";
        QTest::newRow("unknown option") << QStringList{"--quick", "serial"} << "unknown option \"--quick\"";
        QTest::newRow("missing second argument") << QStringList{"write-word", "1000"}
                                                 << "write-word: missing argument";
        QTest::newRow("extra argument") << QStringList{"serial", "1"} << "serial: unexpected argument \"1\"";
        QTest::newRow("option without value") << QStringList{"serial", "--addr"} << "--addr needs a value";
        QTest::newRow("flag with value") << QStringList{"--yes=1", "serial"} << "--yes takes no value";
        QTest::newRow("address 0") << QStringList{"--addr", "0", "serial"} << "--addr wants a number from 1 to 247";
        QTest::newRow("address 248") << QStringList{"--addr=248", "serial"} << "--addr wants a number from 1 to 247";
        QTest::newRow("address not a number") << QStringList{"--addr", "1a", "serial"} << "--addr wants";
        QTest::newRow("assign address 248") << QStringList{"assign", "12AB7F=248"} << "assign wants SERIAL=ADDR";
        QTest::newRow("scan from above to") << QStringList{"scan", "--from", "9", "--to", "3"}
                                            << "--from 9 is above --to 3";
        QTest::newRow("timeout 0") << QStringList{"--timeout-short", "0", "serial"} << "--timeout-short wants";
        QTest::newRow("pause too long") << QStringList{"--pause", "60001", "serial"} << "--pause wants";
        QTest::newRow("too many retries") << QStringList{"--retries", "11", "dump"} << "--retries wants";
        QTest::newRow("block of 63 words") << QStringList{"--block", "63", "dump"} << "--block wants";
        QTest::newRow("speed 4800") << QStringList{"--speed", "4800", "serial"} << "--speed wants 9600, 57600 or 115200";
        QTest::newRow("hex address with a bad digit") << QStringList{"read-word", "10G0"} << "read-word: ADDR wants";
        QTest::newRow("empty hex") << QStringList{"read-word", "0x"} << "read-word: ADDR wants";
        QTest::newRow("nine significant digits") << QStringList{"write-word", "1005", "123456789"}
                                                 << "write-word: VALUE wants";
        QTest::newRow("serial not hex") << QStringList{"set-address", "XYZ", "5"} << "set-address: SERIAL wants";
        QTest::newRow("new address 0") << QStringList{"set-address", "0012AB7F", "0"}
                                       << "set-address: NEWADDR wants a number from 1 to 247";
        QTest::newRow("light z") << QStringList{"light", "z"} << "light wants x, y or off";
        QTest::newRow("find timeout too short") << QStringList{"search", "--find-timeout", "5"}
                                                << "--find-timeout wants a number from 10 to 10000";
        QTest::newRow("find timeout on another verb") << QStringList{"serial", "--find-timeout", "70"}
                                                      << "--find-timeout belongs to the search, scan and assign commands";
        QTest::newRow("differences on another verb") << QStringList{"verify", "--differences", "a.dmp"}
                                                     << "--differences belongs to the restore command";
        QTest::newRow("power without its port") << QStringList{"power", "on"} << "power needs --power-port";
        QTest::newRow("power with an empty port") << QStringList{"power", "on", "--power-port="}
                                                  << "power needs --power-port NAME|PATH";
        QTest::newRow("empty optional argument") << QStringList{"dump", ""} << "dump: DIR is empty";
        QTest::newRow("beyond the optional argument") << QStringList{"dump", "a", "b"}
                                                      << "dump: unexpected argument \"b\"";
        QTest::newRow("compare's picture format") << QStringList{"compare", "a.dmp", "b.dmp", "c.jpg"}
                                                  << "compare: OUT must end in .png or .svg, not \"c.jpg\"";
        QTest::newRow("beyond compare's picture") << QStringList{"compare", "a", "b", "c.png", "d"}
                                                  << "compare: unexpected argument \"d\"";
        QTest::newRow("report's format") << QStringList{"report", "12AB7F", "r.txt"}
                                         << "report: OUT must end in .pdf, not \"r.txt\"";
        QTest::newRow("since no date") << QStringList{"report", "--since", "2026-02-30", "1", "r.pdf"}
                                       << "--since wants YYYY-MM-DD or an ISO date and time";
        QTest::newRow("power neither on nor off") << QStringList{"power", "up", "--power-port", "COM2"}
                                                  << "power wants on or off";
        QTest::newRow("port and demo") << QStringList{"--demo", "--port", "COM2", "serial"}
                                       << "--port and --demo exclude each other";
        QTest::newRow("demo sensors without demo") << QStringList{"--demo-sensors", "3", "serial"}
                                                   << "--demo-sensors and --demo-collide go with --demo";
        QTest::newRow("collide with one sensor") << QStringList{"--demo", "--demo-collide", "serial"}
                                                 << "--demo-collide needs --demo-sensors 2 or more";
        QTest::newRow("since not a date") << QStringList{"--record", "r.sqlite", "history", "--since", "2024-13-01"}
                                          << "--since wants YYYY-MM-DD or an ISO date and time";
        QTest::newRow("since a time without a date") << QStringList{"--record", "r.sqlite", "history", "--since", "12:00"}
                                                     << "--since wants";
        QTest::newRow("record and no record") << QStringList{"--record", "r.sqlite", "--no-record", "serial"}
                                              << "--record and --no-record exclude each other";
        QTest::newRow("history without a record") << QStringList{"--no-record", "history"}
                                                  << "history reads the service record";
        QTest::newRow("csv on another verb") << QStringList{"--no-record", "serial", "--csv"}
                                             << "--csv belongs to the history and scan commands";
    }
    void usageErrors()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, reason);

        // The port named is the sensor's: a usage error must not reach it.
        const CliRun run = runCli(onSensor(args));
        QCOMPARE(run.rc, 2);
        QCOMPARE(run.out, QString());
        QVERIFY2(run.err.startsWith(QStringLiteral("zart-cli: ") + reason), qPrintable(run.err));
        QCOMPARE(lines(run.err).size(), 2);
        QCOMPARE(lines(run.err).last(), TryHelp);
        QCOMPARE(sensor.requestCount(), 0);
    }

    void noDataPort_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::newRow("serial") << QStringList{"serial"};
        QTest::newRow("search") << QStringList{"search"};
        QTest::newRow("dump") << QStringList{"--yes", "dump", "/tmp"};
    }
    void noDataPort()
    {
        QFETCH(QStringList, args);
        int devicesMade = 0;
        CliEnvironment env;
        env.makeSerialDevice = [&]() -> std::unique_ptr<ISerialDevice> {
            ++devicesMade;
            return std::make_unique<FakeSerialDevice>(std::make_shared<FakeSerialDevice::State>());
        };
        const CliRun run = runCli(args, env);
        QCOMPARE(run.rc, 2);
        QCOMPARE(run.out, QString());
        QCOMPARE(lines(run.err),
                 (QStringList{"zart-cli: no data port: give --port NAME|PATH or --demo", TryHelp}));
        QCOMPARE(devicesMade, 0);
    }

    // A port that cannot be opened is named with the reason; one the user may
    // not open (data or supply) adds the advice, once.
    void openFailureNamesPortAndReason_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("error");
        QTest::addColumn<QString>("errLine");
        QTest::addColumn<bool>("advised");
        QTest::newRow("data port, permission") << QStringList{"--port", "/dev/ttyUSB0", "serial"} << EACCES
            << "Unable to open com port (Error: 13): /dev/ttyUSB0: permission denied" << true;
        QTest::newRow("data port by number, busy") << QStringList{"--port", "COM101", "ping"} << EBUSY
            << "Unable to open com port (Error: 16): /dev/ttyUSB0: device or resource busy" << false;
        QTest::newRow("power port") << QStringList{"power", "on", "--power-port", "ttyS3"} << EACCES
            << "Unable to open com port (Error: 13): /dev/ttyS3: permission denied" << true;
        QTest::newRow("number without a device") << QStringList{"--port", "COM999", "serial"} << 0
            << "Unable to open com port (Error: 2): COM999: no such file or directory" << false;
    }
    void openFailureNamesPortAndReason()
    {
        QFETCH(QStringList, args);
        QFETCH(int, error);
        QFETCH(QString, errLine);
        QFETCH(bool, advised);
        auto device = std::make_shared<FakeSerialDevice::State>();
        device->openResult = ISerialDevice::OpenResult::OpenFailed;
        device->failError = error;
        CliEnvironment env;
        env.makeSerialDevice = [&]() -> std::unique_ptr<ISerialDevice> {
            return std::make_unique<FakeSerialDevice>(device);
        };
        const CliRun run = runCli(args, env);
        QCOMPARE(run.rc, 1);
        QCOMPARE(run.out, QString());
        QStringList expected{errLine};
        // The advice, once, where the device calls for it (the core's rule on this system's device).
        const QString devicePath = errLine.section(QStringLiteral(": "), 1, 1);
        const QString hint =
            PortAccessHint(SerialLinkError(TComExceptions::CE_OpenFailed, error, QString(), QString(), devicePath));
        if (advised && !hint.isEmpty())
            expected << hint;
        QCOMPARE(lines(run.err), expected);
        QVERIFY(!device->calls.contains(QStringLiteral("purge"))); // nothing was sent
    }

    void help()
    {
        const CliRun run = runCli({"serial", "--help"});
        QCOMPARE(run.rc, 0);
        QVERIFY(run.out.startsWith(UsageHead));
        QCOMPARE(run.err, QString());
        // The whole text, as the man page and the bash completion read it.
        ZART_COMPARE_GOLDEN(QStringLiteral(ZART_CLI_GOLDEN_DIR "/help.txt"), run.out);
        // The passport settings are looked up beside the passport: the help says so.
        const QString text = run.out.simplified();
        QVERIFY(text.contains(QStringLiteral("passport.ini beside FILE")));
        // The commands run without a data port are those the parser lets run without one.
        QVERIFY(text.contains(
            QStringLiteral("every command but power, view, compare, plot, report and history needs --port or --demo")));
    }

    // history: the record's table without a port, one sensor or from a date
    // on; the column of the sensors tells which rows were chosen.
    void history_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QStringList>("sensors");
        const QString a = QStringLiteral("0012AB7F");
        const QString b = QStringLiteral("00ABCDEF");
        QTest::newRow("all") << QStringList{} << QStringList{a, b, a};
        QTest::newRow("one sensor") << QStringList{"12ab7f"} << QStringList{a, a};
        QTest::newRow("from a day") << QStringList{"--since", "2024-02-20"} << QStringList{b, a};
        QTest::newRow("from a time") << QStringList{"--since", "2024-02-20T12:00:01"} << QStringList{a};
        QTest::newRow("one sensor from a day") << QStringList{a, "--since=2024-02-01"} << QStringList{a};
        QTest::newRow("after the last") << QStringList{"--since", "2024-03-06"} << QStringList{};
    }
    void history()
    {
        QFETCH(QStringList, args);
        QFETCH(QStringList, sensors);
        QTemporaryDir dir;
        const QString record = dir.filePath(QStringLiteral("r.sqlite"));
        writeHistory(record);

        const CliRun run = runCli(QStringList{"--record", record, "history"} + args);
        QCOMPARE(run.rc, 0);
        QCOMPARE(run.err, QString());
        QStringList out = lines(run.out);
        QCOMPARE(out.takeFirst(), QStringLiteral("Время\tДатчик\tОперация\tРезультат\tПользователь"));
        QStringList shown;
        for (const QString &line : out) {
            QCOMPARE(line.split(u'\t').size(), 5);
            shown << line.split(u'\t').at(1);
        }
        QCOMPARE(shown, sensors);
        QCOMPARE(sensor.requestCount(), 0);
    }

    // --csv: the CSV of every operation, one CRLF line each after the heading;
    // a record that does not exist yet is an empty table, and is not made.
    void historyCsvAndMissing()
    {
        QTemporaryDir dir;
        const QString record = dir.filePath(QStringLiteral("r.sqlite"));
        const CliRun missing = runCli({"--record", record, "history"});
        QCOMPARE(missing.rc, 0);
        QCOMPARE(lines(missing.out).size(), 1);
        QCOMPARE(lines(missing.err), QStringList{QStringLiteral("Журнал обслуживания %1 ещё не создан").arg(record)});
        QVERIFY(!QFileInfo::exists(record));

        writeHistory(record);
        const CliRun csv = runCli({"--record", record, "history", "--csv"});
        QCOMPARE(csv.rc, 0);
        QVERIFY(csv.out.startsWith(QStringLiteral("Время,Окончание,Датчик,")));
        QCOMPARE(csv.out.count(QStringLiteral("\r\n")), 4);
    }

    void failures_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<bool>("injectFault");
        QTest::addColumn<SimFault>("fault");
        QTest::addColumn<QStringList>("errLines");

        const QString exception2 = QStringLiteral("Ошибка - Недопустимый адрес [код ошибки 2]");

        QTest::newRow("timeout: nobody at the address")
            << QStringList{"--addr", "2", "--timeout-short", "100", "serial"} << false << SimFault()
            << QStringList{"Таймаут"};
        QTest::newRow("timeout: reply swallowed")
            << QStringList{"--timeout", "100", "coords"} << true << SimFault::noReply()
            << QStringList{"Таймаут"};
        QTest::newRow("exception reply, logged twice")
            << QStringList{"read-word", "1005"} << true << SimFault::exception(2)
            << QStringList{exception2, exception2};
        QTest::newRow("bad CRC")
            << QStringList{"crc"} << true << SimFault::badCrc() << QStringList{"Ошибка CRC", "Ошибка CRC"};
        QTest::newRow("version stops at the second read")
            << QStringList{"--timeout-short", "100", "version"} << true
            << SimFault::noReply().onAddress(0x13FB) << QStringList{"Таймаут"};
        QTest::newRow("data port cannot be opened")
            << QStringList{"--port", "/nonexistent/ttyX", "serial"} << false << SimFault()
            << QStringList{"Unable to open com port (Error: 2): /nonexistent/ttyX: no such file or directory"};
        const QStringList zeroAddress{
            "Данная ячейка отвечает за адрес прибора. Адрес не может быть нулевым."};
        QTest::newRow("zero to the address word refused")
            << QStringList{"write-word", "1000", "00000000"} << false << SimFault() << zeroAddress;
        QTest::newRow("zero to the address word, low 16 bits")
            << QStringList{"write-word", "11000", "0"} << false << SimFault() << zeroAddress;
        QTest::newRow("crc-correct stops before the write")
            << QStringList{"--timeout-short", "100", "crc-correct"} << true
            << SimFault::noReply().onFunction(3) << QStringList{"Таймаут"};
    }
    void failures()
    {
        QFETCH(QStringList, args);
        QFETCH(bool, injectFault);
        QFETCH(SimFault, fault);
        QFETCH(QStringList, errLines);

        sensor.setWord(SimSensor::WordCrcRequired, 0);
        if (injectFault)
            sensor.addFault(fault);
        const CliRun run = runCli(onSensor(args));
        QCOMPARE(run.rc, 1);
        QCOMPARE(run.out, QString());
        QCOMPARE(lines(run.err), errLines);
        // Nothing was written after the failed request.
        for (const SimRequestRecord &r : sensor.requestLog())
            QVERIFY(quint8(r.request.at(1)) != 0x10);
        QCOMPARE(sensor.word(SimSensor::WordCrcRequired), 0u);
        QCOMPARE(int(sensor.address()), 1);
        if (args.contains(QStringLiteral("write-word"))) // refused before anything is sent
            QCOMPARE(sensor.requestCount(), 0);
    }

    // --line-stats: stdout as without it, the statistics at the very end of
    // stderr (after a failure too), counting what was sent, with the histogram.
    void lineStats_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<bool>("injectFault");
        QTest::addColumn<int>("rc");
        QTest::addColumn<QStringList>("outLines");
        QTest::addColumn<QStringList>("errBefore"); // what stderr shows before the statistics

        QTest::newRow("serial") << QStringList{"serial"} << false << 0 << QStringList{"0000000A"} << QStringList();
        QTest::newRow("version fails at its second read")
            << QStringList{"--timeout-short", "100", "version"} << true << 1 << QStringList()
            << QStringList{"Таймаут"};
    }
    void lineStats()
    {
        QFETCH(QStringList, args);
        QFETCH(bool, injectFault);
        QFETCH(int, rc);
        QFETCH(QStringList, outLines);
        QFETCH(QStringList, errBefore);

        if (injectFault)
            sensor.addFault(SimFault::noReply().onAddress(0x13FB));
        const CliRun run = runCli(onSensor(QStringList{"--line-stats"} + args));
        QCOMPARE(run.rc, rc);
        QCOMPARE(lines(run.out), outLines);
        const QStringList err = lines(run.err);
        QCOMPARE(err.mid(0, errBefore.size()), errBefore);
        QCOMPARE(err.value(errBefore.size()), QStringLiteral("Обменов: %1").arg(sensor.requestCount()));
        QVERIFY(err.contains(QStringLiteral("Распределение задержки ответа:")));
    }

    void colourAndProgressOnlyOnTerminal_data()
    {
        QTest::addColumn<bool>("terminal");

        QTest::newRow("pipe") << false;
        QTest::newRow("terminal") << true;
    }
    void colourAndProgressOnlyOnTerminal()
    {
        QFETCH(bool, terminal);

        CliEnvironment env;
        env.stderrIsTerminal = terminal;

        // A failure: red on a terminal, plain text otherwise.
        const CliRun failed = runCli(onSensor({"--addr", "3", "--timeout-short", "100", "ping"}), env);
        QCOMPARE(failed.rc, 1);
        const QString red = terminal ? QStringLiteral("\x1b[31mТаймаут\x1b[0m\n") : QStringLiteral("Таймаут\n");
        QCOMPARE(failed.err, red);

        // The search counts the addresses on a terminal; the found line replaces the count.
        sensor.setAddress(2);
        const CliRun search = runCli(onSensor({"search"}), env);
        QCOMPARE(search.rc, 0);
        QCOMPARE(lines(search.out), QStringList{"2"});
        QCOMPARE(search.err.contains(QLatin1Char('\x1b')), terminal);
        QCOMPARE(search.err.contains(QStringLiteral("Адрес 2")), terminal);
        if (terminal) {
            QVERIFY(search.err.endsWith(QStringLiteral("\r\x1b[KНайден по адресу 2 (0x02)\n")));
        } else {
            QCOMPARE(lines(search.err), (QStringList{"Идёт поиск датчика...", "Найден по адресу 2 (0x02)"}));
        }
    }

    void demoSensor()
    {
        // --demo runs its own simulated sensor with the factory image.
        SimSensor factory;
        const QString serial = hex8(factory.serial());
        const CliRun run = runCli({"--demo", "serial"});
        QCOMPARE(run.rc, 0);
        QCOMPARE(lines(run.out), QStringList{serial});
        QCOMPARE(sensor.requestCount(), 0);

        const CliRun coords = runCli({"--demo", "--verbose", "coords"});
        QCOMPARE(coords.rc, 0);
        QCOMPARE(lines(coords.err).size(), 2);

        // A line of three: the third sensor at address 3, with its own serial number.
        const CliRun third = runCli({"--demo", "--demo-sensors", "3", "--addr", "3", "serial"});
        QCOMPARE(third.rc, 0);
        QCOMPARE(lines(third.out), QStringList{hex8(factory.serial() + 2)});
        // Five with two at address 1: both answer there, garbled; address 5 is free.
        const CliRun shared = runCli({"--demo", "--demo-sensors", "5", "--demo-collide", "serial"});
        QCOMPARE(shared.rc, 1);
        QCOMPARE(shared.out, QString());
        const CliRun moved = runCli({"--demo", "--demo-sensors", "5", "--demo-collide", "--addr", "5", "serial"});
        QCOMPARE(moved.rc, 1);
        QCOMPARE(lines(moved.err), QStringList{QStringLiteral("Таймаут")});
        // The inventory of that line as CSV: the header, the collision at 1, the others.
        const CliRun scan = runCli({"--demo", "--demo-sensors", "5", "--demo-collide", "scan", "--to", "6", "--csv"});
        QCOMPARE(scan.rc, 1); // a conflict
        const QStringList rows = scan.out.split(QStringLiteral("\r\n"));
        QCOMPARE(rows.size(), 6); // and nothing after the last line end
        QCOMPARE(rows[0].count(QLatin1Char(',')), 6);
        QVERIFY(rows[1].startsWith(QStringLiteral("1,,")));
        QCOMPARE(rows[2], QStringLiteral("2,%1,14,ZART,OCS-1,2.1,в порядке").arg(hex8(factory.serial() + 1)));
    }

    void power_data()
    {
        QTest::addColumn<QString>("state");
        QTest::addColumn<QStringList>("calls");
        QTest::addColumn<bool>("dtr");
        QTest::addColumn<bool>("rts");

        // On: opened, DTR de-asserted, RTS asserted; the port closes as the run ends.
        QTest::newRow("on") << QStringLiteral("on")
                            << QStringList{"open /dev/ttyS2 9600", "dtr 0", "rts 1", "close"} << false << true;
        // Off from a fresh process: opened without raising RTS, DTR asserted, RTS
        // de-asserted, closed.
        QTest::newRow("off") << QStringLiteral("OFF")
                             << QStringList{"open /dev/ttyS2 9600", "dtr 1", "rts 0", "close"} << true << false;
    }
    void power()
    {
        QFETCH(QString, state);
        QFETCH(QStringList, calls);
        QFETCH(bool, dtr);
        QFETCH(bool, rts);

        auto device = std::make_shared<FakeSerialDevice::State>();
        int devicesMade = 0;
        CliEnvironment env;
        env.makeSerialDevice = [&]() -> std::unique_ptr<ISerialDevice> {
            ++devicesMade;
            return std::make_unique<FakeSerialDevice>(device);
        };
        const CliRun run = runCli({"power", state, "--power-port", "COM3"}, env);
        QCOMPARE(run.rc, 0);
        // Confirmed on stdout, as the illumination is.
        QCOMPARE(lines(run.out), QStringList{rts ? QStringLiteral("Питание включено")
                                                 : QStringLiteral("Питание выключено")});
        QCOMPARE(run.err, QString());
        QCOMPARE(devicesMade, 1); // the power link only: no data port is made
        QCOMPARE(device->calls, calls);
        QCOMPARE(device->dtr, dtr);
        QCOMPARE(device->rts, rts);
    }

    void powerFailure()
    {
        auto device = std::make_shared<FakeSerialDevice::State>();
        device->failRts = true;
        CliEnvironment env;
        env.makeSerialDevice = [&]() -> std::unique_ptr<ISerialDevice> {
            return std::make_unique<FakeSerialDevice>(device);
        };
        const CliRun run = runCli({"power", "on", "--power-port", "COM3"}, env);
        QCOMPARE(run.rc, 1);
        QCOMPARE(lines(run.err), QStringList{"EscapeCommFunction function failed (Error: 5)"});

        // A port that cannot be opened.
        const CliRun missing = runCli({"power", "off", "--power-port", "/nonexistent/ttyX"});
        QCOMPARE(missing.rc, 1);
        QVERIFY2(missing.err.startsWith(QStringLiteral("Unable to open com port")), qPrintable(missing.err));
    }
};

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"

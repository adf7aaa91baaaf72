// A reply that passes the engine's rules but carries fewer data bytes than the
// command decodes must fail like any other bad reply: a red line, ReplyLen 0,
// and the command throws instead of reading stale buffer bytes.

#include "common/PtyPair.h"
#include "common/RecordingBusHost.h"
#include "common/ScriptedPeer.h"

#include "modbus/ModbusMaster.h"
#include "codec/Crc16.h"
#include "sensor/SensorCommands.h"
#include "serial/SerialLink.h"

#include <QTest>
#include <functional>

namespace {


QByteArray frame(const QByteArray &body)
{
    QByteArray f = body;
    const quint16 crc = Crc16(reinterpret_cast<const quint8 *>(f.constData()), f.size());
    f.append(char(crc & 0xFF));
    f.append(char(crc >> 8));
    return f;
}

using Command = std::function<void(ModbusMaster &)>;

} // namespace

Q_DECLARE_METATYPE(Command)

class TestCommandDecode : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void shortReplyFails_data()
    {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<Command>("command");

        QTest::newRow("serial with two data bytes")
            << frame(QByteArray::fromHex("010400050002")) << frame(QByteArray::fromHex("0104020012"))
            << Command([](ModbusMaster &e) { ReadSerialNumber(e, 300); });
        QTest::newRow("coordinates with four data bytes")
            << frame(QByteArray::fromHex("010400000005"))
            << frame(QByteArray::fromHex("01040441200000"))
            << Command([](ModbusMaster &e) { ReadCoordinates(e, 300); });
        QTest::newRow("integer pixels with two data bytes")
            << frame(QByteArray::fromHex("010420000003")) << frame(QByteArray::fromHex("010402012C"))
            << Command([](ModbusMaster &e) { ReadPixels(e, false, 300); });
        QTest::newRow("checksum with no data byte pair")
            << frame(QByteArray::fromHex("010400070001")) << frame(QByteArray::fromHex("01040112"))
            << Command([](ModbusMaster &e) { ReadChecksum(e, 300); });
    }

    void shortReplyFails()
    {
        QFETCH(QByteArray, request);
        QFETCH(QByteArray, reply);
        QFETCH(Command, command);

        PtyPair pty;
        QVERIFY2(pty.isValid(), qPrintable(pty.errorString()));
        ScriptedPeer peer(pty);
        peer.expectBytes(request).write(reply);
        peer.start();

        SerialLink port;
        port.SetPortName(pty.slavePath());
        testhost::RecordingHost host;
        ModbusMaster engine(port, host);

        bool threw = false;
        try {
            command(engine);
        } catch (const ZartError &error) {
            threw = true;
            QCOMPARE(error.text(), QStringLiteral("Неверная длина данных"));
        }
        QVERIFY(peer.wait(2000));
        QVERIFY2(peer.ok(), qPrintable(peer.failure()));
        QVERIFY(threw);
        QCOMPARE(engine.ReplyLen, 0);
        QVERIFY(!host.lines.isEmpty());
        QCOMPARE(host.lines.last().text, QStringLiteral("Неверная длина данных"));
        QCOMPARE(host.lines.last().mark, int(LogError));
        // Logged once: the engine itself accepted the reply.
        QCOMPARE(host.countOfKind(LogError), 1);
    }
};

QTEST_GUILESS_MAIN(TestCommandDecode)
#include "tst_commanddecode.moc"

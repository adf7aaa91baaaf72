#include "ModbusTestUtil.h"

#include "modbus/Transact.h"

#include <QTest>

using namespace modbustest;

namespace {

const QString kAccepted;
const QString kTooSmall = QStringLiteral("Слишком маленький пакет");
const QString kBadCrc = QStringLiteral("Ошибка CRC");
const QString kBadAddress = QStringLiteral("Неверный адрес устройства");
const QString kBadLength = QStringLiteral("Неверная длина пакета");
const QString kBadDataLength = QStringLiteral("Неверная длина данных");
const QString kBadQuantity = QStringLiteral("Неверно запрашиваемое количество регистров");
const QString kBadSubFunction = QStringLiteral("Неверный код подфункции");
const QString kBadFunction = QStringLiteral("Недопустимый код функции");

QString exceptionFailure(const char *text, int code)
{
    return QStringLiteral("Ошибка - ") + QString::fromUtf8(text) + QStringLiteral(" [код ошибки ")
        + QString::number(code) + QStringLiteral("]");
}

const QByteArray kSerialRequest = hex("04 00 05 00 02");

} // namespace

class TestCheckReply : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void rules_data();
    void rules();
    void exceptionText_data();
    void exceptionText();
};

void TestCheckReply::rules_data()
{
    QTest::addColumn<QByteArray>("rx");
    QTest::addColumn<int>("busAddress");
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QString>("failure"); // empty: the reply is accepted

    // Size, CRC and address, in this order.
    QTest::newRow("no bytes") << QByteArray() << 1 << kSerialRequest << kTooSmall;
    QTest::newRow("one byte") << hex("01") << 1 << kSerialRequest << kTooSmall;
    QTest::newRow("three bytes with good CRC") << withCrc("01") << 1 << kSerialRequest << kTooSmall;
    QTest::newRow("four bytes, good CRC") << withCrc("01 43") << 1 << kSerialRequest << kBadFunction;
    QTest::newRow("four bytes, bad CRC") << hex("01 04 00 00") << 1 << kSerialRequest << kBadCrc;
    QByteArray damaged = withCrc("01 04 04 00 00 12 34");
    damaged[4] = char(damaged[4] ^ 0x01);
    QTest::newRow("data bit flipped") << damaged << 1 << kSerialRequest << kBadCrc;
    QByteArray swapped = withCrc("01 04 04 00 00 12 34");
    std::swap(swapped[7], swapped[8]);
    QTest::newRow("CRC bytes high first") << swapped << 1 << kSerialRequest << kBadCrc;
    QByteArray wrongAddressAndCrc = withCrc("02 04 04 00 00 12 34");
    wrongAddressAndCrc[8] = char(wrongAddressAndCrc[8] ^ 0xFF);
    QTest::newRow("CRC is tested before the address") << wrongAddressAndCrc << 1 << kSerialRequest << kBadCrc;
    QTest::newRow("reply from address 2 to 1") << withCrc("02 04 04 00 00 12 34") << 1 << kSerialRequest << kBadAddress;
    QTest::newRow("broadcast address in reply") << withCrc("00 04 04 00 00 12 34") << 1 << kSerialRequest << kBadAddress;
    QTest::newRow("address before function") << withCrc("02 06 00 00") << 1 << kSerialRequest << kBadAddress;
    QTest::newRow("address 247") << withCrc("F7 04 04 00 00 12 34") << 247 << kSerialRequest << kAccepted;

    // Function 3: two registers, byte count 4, 9 bytes.
    const QByteArray holding = hex("03 00 00 00 02");
    QTest::newRow("fn3 good") << withCrc("01 03 04 11 22 33 44") << 1 << holding << kAccepted;
    QTest::newRow("fn3 count 8, 13 bytes") << withCrc("01 03 08 00 00 00 00 00 00 00 00") << 1 << holding
                                           << kBadDataLength;
    QTest::newRow("fn3 count 4, 10 bytes") << withCrc("01 03 04 00 00 00 00 00") << 1 << holding << kBadLength;
    QTest::newRow("fn3 count 4, 8 bytes") << withCrc("01 03 04 00 00 00") << 1 << holding << kBadLength;
    QTest::newRow("fn3 count 2, 7 bytes") << withCrc("01 03 02 00 00") << 1 << holding << kBadDataLength;
    QTest::newRow("fn3 count 0, 5 bytes") << withCrc("01 03 00") << 1 << holding << kBadDataLength;

    // Function 4: length, then the request against the input-register blocks.
    QTest::newRow("fn4 serial number") << withCrc("01 04 04 00 12 34 56") << 1 << kSerialRequest << kAccepted;
    QTest::newRow("fn4 length before quantity") << withCrc("01 04 04 00 12 34") << 1 << hex("04 00 00 00 03")
                                                << kBadLength;
    QTest::newRow("fn4 surplus byte") << withCrc("01 04 04 00 12 34 56 78") << 1 << kSerialRequest << kBadLength;
    struct Block {
        const char *name;
        const char *request;
        bool ok;
    };
    const Block blocks[] = {
        {"start 0 quantity 5", "04 00 00 00 05", true},
        {"start 0 quantity 3", "04 00 00 00 03", false},
        {"start 0 quantity 0x105", "04 00 00 01 05", false},
        {"start 5 quantity 2", "04 00 05 00 02", true},
        {"start 5 quantity 1", "04 00 05 00 01", false},
        {"start 7 quantity 1", "04 00 07 00 01", true},
        {"start 7 quantity 2", "04 00 07 00 02", false},
        {"start 0x2000 quantity 3", "04 20 00 00 03", true},
        {"start 0x2000 quantity 5", "04 20 00 00 05", true},
        {"start 0x2000 quantity 4", "04 20 00 00 04", false},
        {"start 0x2001 quantity 5 untested", "04 20 01 00 05", true},
        {"start 1 quantity 7 untested", "04 00 01 00 07", true},
    };
    for (const Block &b : blocks) {
        // A reply consistent with itself: what matters is the request.
        const int quantity = hex(b.request).at(4);
        QByteArray reply = hex("01 04");
        reply.append(char(quantity * 2));
        reply.append(QByteArray(quantity * 2, '\x5A'));
        QTest::addRow("fn4 %s", b.name) << withCrc(reply) << 1 << hex(b.request)
                                        << (b.ok ? kAccepted : kBadQuantity);
    }

    // Function 8: sub-functions 0 and 1 only.
    QTest::newRow("fn8 echo") << withCrc("01 08 00 00 AA 55") << 1 << hex("08 00 00 AA 55") << kAccepted;
    QTest::newRow("fn8 sub 1") << withCrc("01 08 00 01 00 00") << 1 << hex("08 00 01 00 00") << kAccepted;
    QTest::newRow("fn8 sub 2") << withCrc("01 08 00 02 00 00") << 1 << hex("08 00 00 AA 55") << kBadSubFunction;
    QTest::newRow("fn8 sub 0x100") << withCrc("01 08 01 00 AA 55") << 1 << hex("08 00 00 AA 55")
                                   << kBadSubFunction;

    // Function 16: 8 bytes, quantity 3.
    const QByteArray write = hex("10 00 10 00 03 06 00 01 00 02 00 03");
    QTest::newRow("fn16 good") << withCrc("01 10 00 10 00 03") << 1 << write << kAccepted;
    QTest::newRow("fn16 quantity 2") << withCrc("01 10 00 10 00 02") << 1 << write << kBadDataLength;
    QTest::newRow("fn16 quantity 0x103") << withCrc("01 10 00 10 01 03") << 1 << write << kBadDataLength;
    QTest::newRow("fn16 9 bytes") << withCrc("01 10 00 10 00 03 00") << 1 << write << kBadLength;
    QTest::newRow("fn16 7 bytes") << withCrc("01 10 00 10 00") << 1 << write << kBadLength;

    // Function 43: no rules of its own.
    QTest::newRow("fn43 anything") << withCrc("01 2B 0E 01 01 00 00 01 00 03 41 42 43") << 1
                                   << hex("2B 0E 01 00") << kAccepted;
    QTest::newRow("fn43 bare") << withCrc("01 2B") << 1 << hex("2B 0E 01 00") << kAccepted;

    // Exception replies: 5 bytes, then the code's text.
    for (const char *fn : {"83", "84", "88", "90", "AB"}) {
        QTest::addRow("exception %s code 2", fn)
            << withCrc(QByteArray::fromHex(QByteArray("01 ") + fn + " 02")) << 1 << kSerialRequest
            << exceptionFailure("Недопустимый адрес", 2);
        QTest::addRow("exception %s, 6 bytes", fn)
            << withCrc(QByteArray::fromHex(QByteArray("01 ") + fn + " 02 00")) << 1 << kSerialRequest
            << kBadLength;
        QTest::addRow("exception %s, 4 bytes", fn)
            << withCrc(QByteArray::fromHex(QByteArray("01 ") + fn)) << 1 << kSerialRequest << kBadLength;
    }
    QTest::newRow("exception code 1") << withCrc("01 84 01") << 1 << kSerialRequest
                                      << exceptionFailure("Неподдерживаемая функция", 1);
    QTest::newRow("exception code 7") << withCrc("01 84 07") << 1 << kSerialRequest
                                      << exceptionFailure("Неизвестная ошибка", 7);
    QTest::newRow("exception code 0") << withCrc("01 83 00") << 1 << kSerialRequest
                                      << exceptionFailure("Неизвестная ошибка", 0);
    QTest::newRow("exception code 255") << withCrc("01 90 FF") << 1 << kSerialRequest
                                        << exceptionFailure("Неизвестная ошибка", 255);
    QTest::newRow("exception from another address") << withCrc("02 84 02") << 1 << kSerialRequest << kBadAddress;

    // Function codes the tool never asks for.
    QTest::newRow("fn6") << withCrc("01 06 00 10 00 03") << 1 << kSerialRequest << kBadFunction;
    QTest::newRow("fn1") << withCrc("01 01 01 FF") << 1 << kSerialRequest << kBadFunction;
    QTest::newRow("exception of fn6") << withCrc("01 86 02") << 1 << kSerialRequest << kBadFunction;
    QTest::newRow("exception of fn1") << withCrc("01 81 02") << 1 << kSerialRequest << kBadFunction;

    // A reply PDU larger than the 1024-byte reply buffer.
    const QByteArray echoHead = hex("01 08 00 00");
    QTest::newRow("fn8 PDU of 1024 bytes fits") << withCrc(echoHead + QByteArray(1021, '\x33')) << 1
                                                << hex("08 00 00 AA 55") << kAccepted;
    QTest::newRow("fn8 PDU of 1025 bytes") << withCrc(echoHead + QByteArray(1022, '\x33')) << 1
                                           << hex("08 00 00 AA 55") << kBadLength;
    QTest::newRow("fn43 PDU of 9997 bytes") << withCrc(hex("01 2B") + QByteArray(9996, '\x44')) << 1
                                            << hex("2B 0E 01 00") << kBadLength;
    QByteArray longDamaged = withCrc(echoHead + QByteArray(2000, '\x33'));
    longDamaged[10] = char(longDamaged[10] ^ 0x01);
    QTest::newRow("long reply with bad CRC") << longDamaged << 1 << hex("08 00 00 AA 55") << kBadCrc;
}

void TestCheckReply::rules()
{
    QFETCH(QByteArray, rx);
    QFETCH(int, busAddress);
    QFETCH(QByteArray, request);
    QFETCH(QString, failure);

    // The request buffer is as large as the engine's, as CheckReply reads it.
    QByteArray requestBuf(TModbusEngine::BufSize, '\0');
    requestBuf.replace(0, request.size(), request);

    const std::optional<QString> result = CheckReplyRules(u8(rx), qint32(rx.size()), busAddress, u8(requestBuf));
    if (failure.isEmpty()) {
        QVERIFY2(!result.has_value(), qPrintable(result.value_or(QString())));
    } else {
        QVERIFY(result.has_value());
        QCOMPARE(*result, failure);
    }
}

void TestCheckReply::exceptionText_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("text");

    QTest::newRow("0") << 0 << QStringLiteral("Неизвестная ошибка");
    QTest::newRow("1") << 1 << QStringLiteral("Неподдерживаемая функция");
    QTest::newRow("2") << 2 << QStringLiteral("Недопустимый адрес");
    QTest::newRow("3") << 3 << QStringLiteral("Недопустимое значение");
    QTest::newRow("4") << 4 << QStringLiteral("Ошибка устройства");
    QTest::newRow("5") << 5 << QStringLiteral("Запрос принят, но требует много времени обработки");
    QTest::newRow("6") << 6 << QStringLiteral("Устройство занято");
    QTest::newRow("7") << 7 << QStringLiteral("Неизвестная ошибка");
    QTest::newRow("8") << 8 << QStringLiteral("Ошибка паритета памяти");
    QTest::newRow("9") << 9 << QStringLiteral("Неизвестная ошибка");
    QTest::newRow("10") << 10 << QStringLiteral("Неизвестная ошибка");
    QTest::newRow("128") << 128 << QStringLiteral("Неизвестная ошибка");
    QTest::newRow("255") << 255 << QStringLiteral("Неизвестная ошибка");
}

void TestCheckReply::exceptionText()
{
    QFETCH(int, code);
    QFETCH(QString, text);
    QCOMPARE(ExceptionText(quint8(code)), text);
    // The same text reaches the failure of an exception reply.
    const QByteArray reply = withCrc(QByteArray("\x01\x84", 2) + char(code));
    QByteArray requestBuf(TModbusEngine::BufSize, '\0');
    QCOMPARE(CheckReplyRules(u8(reply), qint32(reply.size()), 1, u8(requestBuf)).value_or(QString()),
             QStringLiteral("Ошибка - %1 [код ошибки %2]").arg(text).arg(code));
}

QTEST_APPLESS_MAIN(TestCheckReply)
#include "tst_checkreply.moc"

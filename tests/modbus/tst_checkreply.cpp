#include "common/ModbusFrames.h"

#include "modbus/ModbusMaster.h"

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
    QTest::newRow("three bytes with good CRC") << withCrc("01") << 1 << kSerialRequest << kTooSmall;
    QTest::newRow("four bytes, good CRC") << withCrc("01 43") << 1 << kSerialRequest << kBadFunction;
    QByteArray swapped = withCrc("01 04 04 00 00 12 34");
    std::swap(swapped[7], swapped[8]);
    QTest::newRow("CRC bytes high first") << swapped << 1 << kSerialRequest << kBadCrc;
    QByteArray wrongAddressAndCrc = withCrc("02 04 04 00 00 12 34");
    wrongAddressAndCrc[8] = char(wrongAddressAndCrc[8] ^ 0xFF);
    QTest::newRow("CRC is tested before the address") << wrongAddressAndCrc << 1 << kSerialRequest << kBadCrc;
    QTest::newRow("reply from address 2 to 1") << withCrc("02 04 04 00 00 12 34") << 1 << kSerialRequest << kBadAddress;
    QTest::newRow("address before function") << withCrc("02 06 00 00") << 1 << kSerialRequest << kBadAddress;
    QTest::newRow("address 247") << withCrc("F7 04 04 00 00 12 34") << 247 << kSerialRequest << kAccepted;

    // Function 3: two registers, byte count 4, 9 bytes.
    const QByteArray holding = hex("03 00 00 00 02");
    QTest::newRow("fn3 good") << withCrc("01 03 04 11 22 33 44") << 1 << holding << kAccepted;
    QTest::newRow("fn3 count 8, 13 bytes") << withCrc("01 03 08 00 00 00 00 00 00 00 00") << 1 << holding
                                           << kBadDataLength;
    QTest::newRow("fn3 count 4, 10 bytes") << withCrc("01 03 04 00 00 00 00 00") << 1 << holding << kBadLength;
    // A block of words: the byte count is twice the quantity asked for.
    const QByteArray block = hex("03 10 07 00 06");
    QTest::newRow("fn3 block of 3") << withCrc(hex("01 03 0C") + QByteArray(12, '\x5A')) << 1 << block << kAccepted;
    QTest::newRow("fn3 one word to a block") << withCrc("01 03 04 11 22 33 44") << 1 << block << kBadDataLength;
    QTest::newRow("fn3 block to one word") << withCrc(hex("01 03 0C") + QByteArray(12, '\x5A')) << 1 << holding
                                           << kBadDataLength;

    // Function 4: length, then the request against the input-register blocks.
    QTest::newRow("fn4 serial number") << withCrc("01 04 04 00 12 34 56") << 1 << kSerialRequest << kAccepted;
    QTest::newRow("fn4 length before quantity") << withCrc("01 04 04 00 12 34") << 1 << hex("04 00 00 00 03")
                                                << kBadLength;
    // Input-register blocks: a reply consistent with itself, judged by the request.
    for (const auto &[request, ok] : std::initializer_list<std::pair<const char *, bool>>{
             {"04 00 00 00 05", true}, {"04 00 00 00 03", false}, {"04 00 00 01 05", false},
             {"04 00 05 00 02", true}, {"04 00 05 00 01", false}, {"04 00 07 00 01", true},
             {"04 00 07 00 02", false}, {"04 20 00 00 03", true}, {"04 20 00 00 05", true},
             {"04 20 00 00 04", false}, {"04 20 01 00 05", true} /* other starts are not checked */}) {
        const int quantity = hex(request).at(4);
        const QByteArray reply = hex("01 04") + char(quantity * 2) + QByteArray(quantity * 2, '\x5A');
        QTest::addRow("fn4 request %s", request) << withCrc(reply) << 1 << hex(request)
                                                 << (ok ? kAccepted : kBadQuantity);
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

    // Function 43: no rules of its own.
    QTest::newRow("fn43 bare") << withCrc("01 2B") << 1 << hex("2B 0E 01 00") << kAccepted;

    // Exception replies: 5 bytes, then the code's text (every code: exceptionText).
    for (const char *fn : {"83", "84", "88", "90", "AB"}) {
        QTest::addRow("exception %s code 2", fn)
            << withCrc(QByteArray::fromHex(QByteArray("01 ") + fn + " 02")) << 1 << kSerialRequest
            << QStringLiteral("Ошибка - Недопустимый адрес [код ошибки 2]");
        QTest::addRow("exception %s, 6 bytes", fn)
            << withCrc(QByteArray::fromHex(QByteArray("01 ") + fn + " 02 00")) << 1 << kSerialRequest
            << kBadLength;
    }
    QTest::newRow("exception from another address") << withCrc("02 84 02") << 1 << kSerialRequest << kBadAddress;

    // Function codes the tool never asks for.
    QTest::newRow("fn6") << withCrc("01 06 00 10 00 03") << 1 << kSerialRequest << kBadFunction;
    QTest::newRow("exception of fn6") << withCrc("01 86 02") << 1 << kSerialRequest << kBadFunction;

    // A reply PDU larger than the 1024-byte reply buffer.
    const QByteArray echoHead = hex("01 08 00 00");
    QTest::newRow("fn8 PDU of 1024 bytes fits") << withCrc(echoHead + QByteArray(1021, '\x33')) << 1
                                                << hex("08 00 00 AA 55") << kAccepted;
    QTest::newRow("fn8 PDU of 1025 bytes") << withCrc(echoHead + QByteArray(1022, '\x33')) << 1
                                           << hex("08 00 00 AA 55") << kBadLength;
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
    QByteArray requestBuf(ModbusMaster::BufSize, '\0');
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
    QTest::newRow("255") << 255 << QStringLiteral("Неизвестная ошибка");
}

void TestCheckReply::exceptionText()
{
    QFETCH(int, code);
    QFETCH(QString, text);
    QCOMPARE(ExceptionText(quint8(code)), text);
    // The same text reaches the failure of an exception reply.
    const QByteArray reply = withCrc(QByteArray("\x01\x84", 2) + char(code));
    QByteArray requestBuf(ModbusMaster::BufSize, '\0');
    QCOMPARE(CheckReplyRules(u8(reply), qint32(reply.size()), 1, u8(requestBuf)).value_or(QString()),
             QStringLiteral("Ошибка - %1 [код ошибки %2]").arg(text).arg(code));
}

QTEST_APPLESS_MAIN(TestCheckReply)
#include "tst_checkreply.moc"

#include "sensor/HexField.h"

#include <QTest>

namespace {
// "refused" in the key tables.
const QString Refused = QStringLiteral("<refused>");

QString keyResult(const std::optional<QChar> &c)
{
    return c ? QString(*c) : Refused;
}
} // namespace

class TestHexField : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void reading_data();
    void reading();
    void keyFilter_data();
    void keyFilter();
    void serialKeyFilter_data();
    void serialKeyFilter();
    void pad_data();
    void pad();
    void step_data();
    void step();
    void flashAddress_data();
    void flashAddress();
};

void TestHexField::reading_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<quint32>("value");
    QTest::addColumn<bool>("complete");

    QTest::newRow("empty") << "" << 0u << false;
    QTest::newRow("0") << "0" << 0u << true;
    QTest::newRow("lower case") << "abc" << 0xABCu << true;
    QTest::newRow("eight digits") << "FFFFFFFF" << 0xFFFFFFFFu << true;
    QTest::newRow("leading zeros do not count") << "00000000FFFFFFFF" << 0xFFFFFFFFu << true;
    QTest::newRow("nine digits: first eight") << "123456789" << 0x12345678u << false;
    QTest::newRow("stops at a non-digit") << "12G4" << 0x12u << false;
    QTest::newRow("leading blank") << " 12" << 0u << false;
}

void TestHexField::reading()
{
    QFETCH(QString, text);
    QFETCH(quint32, value);
    QFETCH(bool, complete);
    const HexFieldValue r = ReadHexField(text);
    QCOMPARE(r.value, value);
    QCOMPARE(r.complete, complete);
}

void TestHexField::keyFilter_data()
{
    QTest::addColumn<QChar>("key");
    QTest::addColumn<QString>("result");
    QTest::newRow("g refused") << QChar(u'g') << Refused;
    QTest::newRow("Cyrillic refused") << QChar(u'Я') << Refused;
    QTest::newRow("a becomes A") << QChar(u'a') << "A";
    QTest::newRow("F stays") << QChar(u'F') << "F";
    QTest::newRow("digit") << QChar(u'7') << "7";
    QTest::newRow("blank passes") << QChar(u' ') << " ";
    QTest::newRow("backspace passes") << QChar(0x08) << QString(QChar(0x08));
}

void TestHexField::keyFilter()
{
    QFETCH(QChar, key);
    QFETCH(QString, result);
    QCOMPARE(keyResult(HexKeyFilter(key)), result);
}

void TestHexField::serialKeyFilter_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("selection");
    QTest::addColumn<QChar>("key");
    QTest::addColumn<QString>("result");

    QTest::newRow("seven digits, the eighth allowed")
        << "0012AB7" << false << QChar(u'a') << "A";
    QTest::newRow("eight digits, ninth refused") << "0012AB7F" << false << QChar(u'1') << Refused;
    QTest::newRow("eight digits, backspace works")
        << "0012AB7F" << false << QChar(0x08) << QString(QChar(0x08));
    QTest::newRow("eight digits, blank refused") << "0012AB7F" << false << QChar(u' ') << Refused;
    QTest::newRow("eight digits, typing over a selection")
        << "0012AB7F" << true << QChar(u'b') << "B";
    QTest::newRow("selection does not admit g") << "0012AB7F" << true << QChar(u'g') << Refused;
    QTest::newRow("short text, g refused") << "12" << false << QChar(u'g') << Refused;
    QTest::newRow("nine characters") << "0012AB7F0" << false << QChar(u'1') << Refused;
}

void TestHexField::serialKeyFilter()
{
    QFETCH(QString, text);
    QFETCH(bool, selection);
    QFETCH(QChar, key);
    QFETCH(QString, result);
    QCOMPARE(keyResult(SerialKeyFilter(text, selection, key)), result);
}

void TestHexField::pad_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("padded");
    QTest::newRow("ABC") << "ABC" << "00000ABC";
    QTest::newRow("empty") << "" << "00000000";
    QTest::newRow("eight") << "12345678" << "12345678";
    QTest::newRow("nine stays") << "123456789" << "123456789";
}

void TestHexField::pad()
{
    QFETCH(QString, text);
    QFETCH(QString, padded);
    QCOMPARE(PadHexField(text), padded);
}

void TestHexField::step_data()
{
    QTest::addColumn<bool>("data"); // the data field (eight digits), else the address field
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("up");
    QTest::addColumn<QString>("down");

    QTest::newRow("address FFFF") << false << "FFFF" << "0000" << "FFFE";
    QTest::newRow("address 0000") << false << "0000" << "0001" << "FFFF";
    QTest::newRow("address ABC") << false << "ABC" << "0ABD" << "0ABB";
    QTest::newRow("address empty: no step") << false << "" << "0000" << "0000";
    QTest::newRow("address 12345") << false << "12345" << "0000" << "12344";
    QTest::newRow("address 1000") << false << "1000" << "1001" << "0FFF";
    QTest::newRow("address incomplete: no step") << false << "1G" << "0001" << "0001";
    // Taken as signed 32-bit: -1 goes up to 0 and down below 0 to FFFF; a negative
    // value shows as its eight-digit two's complement; the lowest wraps to the highest.
    QTest::newRow("address FFFFFFFF is -1") << false << "FFFFFFFF" << "0000" << "FFFF";
    QTest::newRow("address 80000000") << false << "80000000" << "80000001" << "7FFFFFFF";
    QTest::newRow("address 7FFFFFFF wraps negative") << false << "7FFFFFFF" << "80000000" << "7FFFFFFE";
    QTest::newRow("data FFFFFFFF") << true << "FFFFFFFF" << "00000000" << "FFFFFFFE";
    QTest::newRow("data 00000000") << true << "00000000" << "00000001" << "FFFFFFFF";
    QTest::newRow("data 7FFFFFFF") << true << "7FFFFFFF" << "80000000" << "7FFFFFFE";
    QTest::newRow("data 1F") << true << "1F" << "00000020" << "0000001E";
    QTest::newRow("data empty: no step") << true << "" << "00000000" << "00000000";
    QTest::newRow("data nine digits: no step") << true << "123456789" << "12345678" << "12345678";
}

void TestHexField::step()
{
    QFETCH(bool, data);
    QFETCH(QString, text);
    QFETCH(QString, up);
    QFETCH(QString, down);
    QCOMPARE(data ? StepDataUp(text) : StepAddressUp(text), up);
    QCOMPARE(data ? StepDataDown(text) : StepAddressDown(text), down);
}

void TestHexField::flashAddress_data()
{
    QTest::addColumn<QString>("addressText");
    QTest::addColumn<QString>("dataText");
    QTest::addColumn<int>("address");
    QTest::addColumn<bool>("refused");
    QTest::newRow("1000, 0") << "1000" << "00000000" << 0x1000 << true;
    QTest::newRow("11000 uses the low 16 bits") << "11000" << "00000000" << 0x1000 << true;
    QTest::newRow("1000, 1 is sent") << "1000" << "00000001" << 0x1000 << false;
    QTest::newRow("1000, 100000000 reads as 10000000") << "1000" << "100000000" << 0x1000 << false;
    QTest::newRow("1001, 0 is sent") << "1001" << "00000000" << 0x1001 << false;
    QTest::newRow("13FA") << "13FA" << "0" << 0x13FA << false;
    QTest::newRow("empty address") << "" << "0" << 0 << false;
}

void TestHexField::flashAddress()
{
    QFETCH(QString, addressText);
    QFETCH(QString, dataText);
    QFETCH(int, address);
    QFETCH(bool, refused);
    const quint16 a = FlashAddressOfField(addressText);
    QCOMPARE(int(a), address);
    QCOMPARE(IsZeroAddressWrite(a, ReadHexField(dataText).value), refused);
}

QTEST_GUILESS_MAIN(TestHexField)
#include "tst_HexField.moc"

// The simulated sensor: its register map answered frame by frame, the injected
// faults, the dump file and the pty transport. Expected frames are written out
// from the register map; only the CRC bytes are computed (with Crc16).

#include "sim/SimPtyServer.h"
#include "sim/SimSensor.h"
#include "SimTestUtil.h"

#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <algorithm>
#include <cstring>
#include <memory>
#include <sys/ioctl.h>

using namespace simtest;

Q_DECLARE_METATYPE(SimFault)

namespace {

// The checksum as the sensor defines it, from the words themselves.
quint16 checksumOf(const SimSensor::Flash &f)
{
    QByteArray bytes;
    for (int n = 0; n <= 0x3FC; ++n)
        for (int b = 0; b < 4; ++b)
            bytes.append(char((f[n] >> (8 * b)) & 0xFF));
    return Crc16(reinterpret_cast<const quint8 *>(bytes.constData()), qint32(bytes.size()));
}

float singleAt(quint32 word)
{
    float v;
    std::memcpy(&v, &word, 4);
    return v;
}

} // namespace

class TestSimSensor : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void registerMap_data();
    void registerMap();
    void checksum_data();
    void checksum();
    void addressAssignment_data();
    void addressAssignment();
    void illumination_data();
    void illumination();
    void blockReads_data();
    void blockReads();
    void factoryImage();
    void faultShape_data();
    void faultShape();
    void faultSchedule_data();
    void faultSchedule();
    void requestLogAcrossThreads();
    void dumpRoundTrip();
    void dumpSize_data();
    void dumpSize();
    void ptyRoundTrip_data();
    void ptyRoundTrip();
    void ptySurvivesReopenAndStopsPromptly();
    void ptyLink();

private:
    std::unique_ptr<SimSensor> m_sim;
};

void TestSimSensor::init()
{
    m_sim = std::make_unique<SimSensor>();
    m_sim->setAddress(1);
    m_sim->setSerial(0x0012AB7F);
    m_sim->setCoordinates(10.0f, -3.2f);
    m_sim->setStatus(1, 0);
    m_sim->setPixels(300.0f, 65535.0f);
    m_sim->setDeviceId("ZART", "OCS-1", "2.1");
    m_sim->setWord(0x020, 0x11111111);
    m_sim->setWord(0x3FF, 0x00001234);
}

void TestSimSensor::registerMap_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QByteArray>("reply"); // empty: none expected
    QTest::addColumn<int>("word");         // flash word to check afterwards, -1 none
    QTest::addColumn<quint32>("value");

    const QByteArray none;
    auto row = [](const char *name, const QByteArray &rq, const QByteArray &rp, int w = -1,
                  quint32 v = 0) { QTest::newRow(name) << rq << rp << w << v; };

    row("serial", QByteArray::fromHex("01040005000261CA"), frame("010404 0012AB7F"));
    row("coordinates", frame("010400000005"), frame("01040A 41200000 C04CCCCD 01 00"));
    row("pixels int", frame("010420000003"), frame("010406 012C FFFF 01 00"));
    row("pixels single", frame("010420010005"), frame("01040A 43960000 477FFF00 01 00"));
    row("fn4 qty 3 from 0", frame("010400000003"), frame("018402"));
    row("fn4 from 6", frame("010400060002"), frame("018402"));
    row("fn4 qty 0", frame("010400000000"), frame("018403"));
    row("fn4 qty 126", frame("01040000007E"), frame("018403"));
    row("fn3 word 0x20", frame("010310200002"), frame("010304 11111111"));
    row("fn3 last word", frame("010313FF0002"), frame("010304 00001234"));
    row("fn3 past flash", frame("010314000002"), frame("018302"));
    row("fn3 qty 1", frame("010310200001"), frame("018302"));
    row("fn3 qty 0", frame("010310200000"), frame("018303"));
    row("fn16 write", frame("0110102000030612345678A55A"), frame("011010200003"), 0x20, 0x12345678);
    row("fn16 last word", frame("011013FF000306CAFEBABEA55A"), frame("011013FF0003"), 0x3FF, 0xCAFEBABE);
    row("fn16 wrong key", frame("01101020000306123456785AA5"), frame("019003"), 0x20, 0x11111111);
    row("fn16 qty 2", frame("0110102000020412345678"), frame("019002"), 0x20, 0x11111111);
    row("fn16 byte count", frame("0110102000030412345678"), frame("019003"), 0x20, 0x11111111);
    row("fn16 past flash", frame("0110140000030612345678A55A"), frame("019002"));
    row("fn16 unicast to 0", frame("011000000003060011 0012AB7F"), frame("019002"), 0, 1);
    row("fn16 address 0", frame("01101000000306 00000000 A55A"), frame("019003"), 0, 1);
    row("fn16 address 248", frame("01101000000306 000000F8 A55A"), frame("019003"), 0, 1);
    row("fn16 address 0x105", frame("01101000000306 00000105 A55A"), frame("019003"), 0, 1);
    row("echo", QByteArray::fromHex("01080000AA555E94"), QByteArray::fromHex("01080000AA555E94"));
    row("restart FF00", frame("01080001FF00"), frame("01080001FF00"));
    row("restart bad data", frame("010800011234"), frame("018803"));
    row("diag sub 2", frame("010800020000"), frame("018801"));
    row("device id", frame("012B0E0100"),
        frame("012B0E01010000 03 0004 5A415254 0105 4F43532D31 0203 322E31"));
    row("device id from 2", frame("012B0E0102"), frame("012B0E01010000 01 0203 322E31"));
    row("device id MEI 13", frame("012B0D0100"), frame("01AB01"));
    row("function 6", frame("010600200001"), frame("018601"));
    row("other address", frame("020400050002"), none);
    row("broadcast read", frame("000400050002"), none);
    QByteArray bad = frame("010400050002");
    bad[7] = char(bad[7] ^ 0x01);
    row("bad crc", bad, none);
    row("three bytes", QByteArray::fromHex("0104FF"), none);
    row("empty", QByteArray(), none);
}

void TestSimSensor::registerMap()
{
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, reply);
    QFETCH(int, word);
    QFETCH(quint32, value);

    const std::optional<QByteArray> got = m_sim->handleFrame(request);
    if (reply.isEmpty())
        QVERIFY2(!got, got ? got->toHex(' ').constData() : "");
    else {
        QVERIFY(got);
        QCOMPARE(got->toHex(' '), reply.toHex(' '));
    }
    if (word >= 0)
        QCOMPARE(m_sim->word(word), value);
}

void TestSimSensor::checksum_data()
{
    QTest::addColumn<int>("word");
    QTest::addColumn<quint32>("value");
    QTest::newRow("as set up") << -1 << 0u;
    QTest::newRow("after a table write") << 300 << 0x40000000u;
    QTest::newRow("last covered word") << 0x3FC << 3u;
}

void TestSimSensor::checksum()
{
    QFETCH(int, word);
    QFETCH(quint32, value);
    if (word >= 0) {
        const QByteArray body = QByteArray::fromHex("0110") + char(0x10 + (word >> 8)) + char(word & 0xFF)
                                + QByteArray::fromHex("000306") + char(value >> 24) + char(value >> 16)
                                + char(value >> 8) + char(value) + QByteArray::fromHex("A55A");
        QVERIFY(m_sim->handleFrame(withCrc(body)));
    }
    const quint8 addr = m_sim->address();
    const SimSensor::Flash before = m_sim->flash();
    const quint16 expected = checksumOf(before);

    const auto got = m_sim->handleFrame(withCrc(QByteArray(1, char(addr)) + QByteArray::fromHex("040007 0001")));
    QVERIFY(got);
    QCOMPARE(got->toHex(), withCrc(QByteArray(1, char(addr)) + QByteArray::fromHex("0402")
                                   + char(expected >> 8) + char(expected & 0xFF)).toHex());
    QCOMPARE(m_sim->word(0x3FE), quint32(expected));
    QCOMPARE(m_sim->word(0x3FD), before[0x3FD]); // the other checksum words stay
    QCOMPARE(m_sim->word(0x3FF), before[0x3FF]);

    // The correction: read word 0x3FE, write it into 0x3FF.
    const auto rd = m_sim->handleFrame(withCrc(QByteArray(1, char(addr)) + QByteArray::fromHex("0313FE0002")));
    QVERIFY(rd && rd->size() == 9);
    const QByteArray wr = QByteArray(1, char(addr)) + QByteArray::fromHex("1013FF000306") + rd->mid(3, 4)
                          + QByteArray::fromHex("A55A");
    QVERIFY(m_sim->handleFrame(withCrc(wr)));
    QCOMPARE(m_sim->word(0x3FF), quint32(expected));
}

void TestSimSensor::addressAssignment_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<int>("after"); // address the sensor answers to afterwards

    QTest::newRow("broadcast, serial matches")
        << frame("001000000003060011 0012AB7F") << QByteArray() << 17;
    QTest::newRow("broadcast, other serial") << frame("001000000003060011 0012AB7E") << QByteArray() << 1;
    QTest::newRow("broadcast, address 0") << frame("001000000003060000 0012AB7F") << QByteArray() << 1;
    QTest::newRow("broadcast, address 248") << frame("0010000000030600F8 0012AB7F") << QByteArray() << 1;
    QTest::newRow("broadcast, to a flash word")
        << frame("00101000000306 00000011 A55A") << QByteArray() << 1;
    QTest::newRow("flash write of word 0") << frame("01101000000306 000000F7 A55A")
                                           << frame("011010000003") << 247;
}

void TestSimSensor::addressAssignment()
{
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, reply);
    QFETCH(int, after);

    const auto got = m_sim->handleFrame(request);
    if (reply.isEmpty())
        QVERIFY(!got);
    else {
        QVERIFY(got); // the reply still comes from the old address
        QCOMPARE(got->toHex(), reply.toHex());
    }
    QCOMPARE(int(m_sim->address()), after);

    const QByteArray echo = QByteArray::fromHex("080000AA55");
    const auto atNew = m_sim->handleFrame(withCrc(char(after) + echo));
    QVERIFY(atNew);
    QCOMPARE(atNew->toHex(), withCrc(char(after) + echo).toHex());
    if (after != 1)
        QVERIFY(!m_sim->handleFrame(withCrc(char(1) + echo)));
}

void TestSimSensor::illumination_data()
{
    QTest::addColumn<quint8>("code");
    QTest::addColumn<int>("state");
    QTest::newRow("off") << quint8(0) << int(SimSensor::Illumination::Off);
    QTest::newRow("X") << quint8(1) << int(SimSensor::Illumination::X);
    QTest::newRow("Y") << quint8(2) << int(SimSensor::Illumination::Y);
    QTest::newRow("unknown code") << quint8(3) << int(SimSensor::Illumination::Off);
}

void TestSimSensor::illumination()
{
    QFETCH(quint8, code);
    QFETCH(int, state);
    m_sim->setWord(6, 2); // start lit, so that "off" shows a change
    const auto got = m_sim->handleFrame(withCrc(QByteArray::fromHex("0110100600030600 0000") + char(code)
                                                + QByteArray::fromHex("A55A")));
    QVERIFY(got);
    QCOMPARE(got->toHex(), frame("011010060003").toHex());
    QCOMPARE(int(m_sim->illumination()), state);
}

void TestSimSensor::blockReads_data()
{
    // Function 3 from register `start` with quantity `qty`: the words in order,
    // each high register first, or the exception code.
    QTest::addColumn<int>("start");
    QTest::addColumn<int>("qty");
    QTest::addColumn<bool>("blocks"); // the sensor reads blocks
    QTest::addColumn<int>("exception");

    QTest::newRow("62 words from word 0") << 0x1000 << 124 << true << 0;
    QTest::newRow("62 words ending at 0x3FF") << 0x13C2 << 124 << true << 0;
    QTest::newRow("past word 0x3FF") << 0x13FF << 4 << true << 2;
    QTest::newRow("odd quantity") << 0x1020 << 3 << true << 2;
    QTest::newRow("quantity 126") << 0x1000 << 126 << true << 3;
    QTest::newRow("single words only: one") << 0x1020 << 2 << false << 0;
    QTest::newRow("single words only: two") << 0x1020 << 4 << false << 2;
}

void TestSimSensor::blockReads()
{
    QFETCH(int, start);
    QFETCH(int, qty);
    QFETCH(bool, blocks);
    QFETCH(int, exception);

    for (int n = 1; n < SimSensor::FlashWords; ++n)
        m_sim->setWord(n, 0xA0000000u | quint32(n) << 12 | quint32(n ^ 0x3FF));
    m_sim->setBlockReads(blocks);
    const auto got = m_sim->handleFrame(withCrc(QByteArray::fromHex("0103") + char(start >> 8) + char(start)
                                                + char(qty >> 8) + char(qty)));
    QByteArray expected = exception ? QByteArray::fromHex("0183") + char(exception) : QByteArray::fromHex("0103") + char(2 * qty);
    for (int n = start - 0x1000; !exception && n < start - 0x1000 + qty / 2; ++n)
        for (int shift = 24; shift >= 0; shift -= 8)
            expected += char(m_sim->word(n) >> shift);
    QVERIFY(got);
    QCOMPARE(got->toHex(' '), withCrc(expected).toHex(' '));
}

void TestSimSensor::factoryImage()
{
    const SimSensor::Flash f = SimSensor::defaultFlash();
    QCOMPARE(f[0], 1u);
    QCOMPARE(f[1], 0x0012AB7Fu);
    QCOMPARE(f[0x3FA], 14u);
    QCOMPARE(f[0x3FB], 40u);
    QCOMPARE(f[0x3FC], 2u);
    QCOMPARE(f[0x3FF], quint32(checksumOf(f))); // a fresh sensor needs no correction
    QCOMPARE(f[0x3FE], f[0x3FF]);
    // Version 14 with dimension 40: grid step 2.05 mm; row i gives X, column j gives Y.
    for (int point : {0, 20, 220, 420, 440}) {
        const int i = point / 21, j = point % 21;
        QVERIFY(qAbs(singleAt(f[128 + point]) - (i - 10) * 2.05) < 0.05);
        QVERIFY(qAbs(singleAt(f[570 + point]) - (j - 10) * 2.05) < 0.05);
    }
    // Another sensor: its own address, serial and calibration, consistent checksums.
    const SimSensor::Flash other = SimSensor::factoryFlash(9, 0x01020304);
    QVERIFY(other[0] == 9u && other[1] == 0x01020304u && other[0x3FF] == checksumOf(other));
    QVERIFY(qAbs(singleAt(other[128 + 440]) - 10 * 2.05) < 0.05);
    QVERIFY(!std::equal(f.begin() + 128, f.begin() + 1011, other.begin() + 128));
}

void TestSimSensor::faultShape_data()
{
    QTest::addColumn<SimFault>("fault");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<int>("delayMs");
    QTest::addColumn<int>("firstBurst");
    QTest::addColumn<int>("gapMs");
    QTest::addColumn<quint32>("word0x20"); // after the write of 0x12345678

    const QByteArray good = frame("011010200003");
    QByteArray damaged = good;
    damaged[6] = char(damaged[6] ^ 0xFF);
    damaged[7] = char(damaged[7] ^ 0xFF);

    QTest::newRow("none") << SimFault::delay(0).onFunction(3) << good << 0 << 0 << 0 << 0x12345678u;
    QTest::newRow("no reply") << SimFault::noReply() << QByteArray() << 0 << 0 << 0 << 0x11111111u;
    QTest::newRow("bad crc") << SimFault::badCrc() << damaged << 0 << 0 << 0 << 0x12345678u;
    QTest::newRow("other address") << SimFault::wrongAddress(9) << frame("091010200003") << 0 << 0 << 0
                                   << 0x12345678u;
    QTest::newRow("exception 4") << SimFault::exception(4) << frame("019004") << 0 << 0 << 0 << 0x11111111u;
    QTest::newRow("trailing") << SimFault::trailingBytes(QByteArray::fromHex("00FF")) << good + QByteArray::fromHex("00FF")
                              << 0 << 0 << 0 << 0x12345678u;
    QTest::newRow("delay") << SimFault::delay(250) << good << 250 << 0 << 0 << 0x12345678u;
    QTest::newRow("split") << SimFault::splitReply(3, 80) << good << 0 << 3 << 80 << 0x12345678u;
    QTest::newRow("split in the middle") << SimFault::splitReply(0, 10) << good << 0 << 4 << 10 << 0x12345678u;
    QTest::newRow("ignore write") << SimFault::ignoreWrite(0x20) << good << 0 << 0 << 0 << 0x11111111u;
}

void TestSimSensor::faultShape()
{
    QFETCH(SimFault, fault);
    QFETCH(QByteArray, reply);
    QFETCH(int, delayMs);
    QFETCH(int, firstBurst);
    QFETCH(int, gapMs);
    QFETCH(quint32, word0x20);

    m_sim->addFault(fault);
    const auto got = m_sim->process(frame("0110102000030612345678A55A"));
    if (reply.isEmpty())
        QVERIFY(!got);
    else {
        QVERIFY(got);
        QCOMPARE(got->frame.toHex(' '), reply.toHex(' '));
        QCOMPARE(got->delayMs, delayMs);
        QCOMPARE(got->firstBurst, firstBurst);
        QCOMPARE(got->gapMs, gapMs);
    }
    QCOMPARE(m_sim->word(0x20), word0x20);
    // One shot by default: the same request is served normally next time.
    const QByteArray read = frame("010310200002");
    const auto again = m_sim->process(read);
    QVERIFY(again);
    QCOMPARE(again->frame.toHex(), withCrc(QByteArray::fromHex("010304") + char(word0x20 >> 24)
                                           + char(word0x20 >> 16) + char(word0x20 >> 8) + char(word0x20))
                                       .toHex());
    QCOMPARE(again->delayMs, 0);
    QCOMPARE(again->firstBurst, 0);
}

void TestSimSensor::faultSchedule_data()
{
    // s: serial read (fn 4 from 5), c: coordinates (fn 4 from 0), p: echo (fn 8).
    // Pattern: x where the request goes unanswered.
    QTest::addColumn<SimFault>("fault");
    QTest::addColumn<QString>("requests");
    QTest::addColumn<QString>("pattern");

    QTest::newRow("next request only") << SimFault::noReply() << "sss" << "x..";
    QTest::newRow("always") << SimFault::noReply().always() << "scp" << "xxx";
    QTest::newRow("every 2nd, twice") << SimFault::noReply().every(2).times(2) << "ssssss" << ".x.x..";
    QTest::newRow("function 8") << SimFault::noReply().onFunction(8).always() << "spsp" << ".x.x";
    QTest::newRow("register 5") << SimFault::noReply().onFunction(4).onAddress(5).always() << "cscp" << ".x..";
    QTest::newRow("every 3rd of fn 4") << SimFault::noReply().onFunction(4).every(3).always() << "spcpsps"
                                       << "....x..";
}

void TestSimSensor::faultSchedule()
{
    QFETCH(SimFault, fault);
    QFETCH(QString, requests);
    QFETCH(QString, pattern);

    const int id = m_sim->addFault(fault);
    QString seen;
    for (QChar r : requests) {
        const QByteArray req = r == u's' ? frame("010400050002")
                               : r == u'c' ? frame("010400000005")
                                           : frame("01080000AA55");
        seen += m_sim->handleFrame(req) ? u'.' : u'x';
    }
    QCOMPARE(seen, pattern);
    QCOMPARE(m_sim->firedCount(id), int(pattern.count(u'x')));
    m_sim->removeFault(id);
    QVERIFY(m_sim->handleFrame(frame("010400050002")));
}

void TestSimSensor::requestLogAcrossThreads()
{
    const QList<QByteArray> sent = {frame("010400050002"), QByteArray::fromHex("0104"), frame("000400050002")};
    std::unique_ptr<QThread> t(QThread::create([&] {
        for (const QByteArray &f : sent)
            m_sim->handleFrame(f);
    }));
    t->start();
    QVERIFY(m_sim->waitForRequests(3, 5000));
    QVERIFY(t->wait(5000));
    QVERIFY(!m_sim->waitForRequests(4, 20)); // bounded: nothing more comes

    const QList<SimRequestRecord> log = m_sim->requestLog();
    QCOMPARE(log.size(), 3);
    for (int i = 0; i < 3; ++i)
        QCOMPARE(log[i].request, sent[i]);
    QCOMPARE(log[0].reply, frame("010404 0012AB7F"));
    QVERIFY(log[1].reply.isEmpty() && log[2].reply.isEmpty());
    QVERIFY(log[0].receivedAtUs <= log[1].receivedAtUs && log[1].receivedAtUs <= log[2].receivedAtUs);
    m_sim->clearRequestLog();
    QCOMPARE(m_sim->requestCount(), 0);
    QVERIFY(m_sim->requestLog().isEmpty());
}

void TestSimSensor::dumpRoundTrip()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("0012AB7F.dmp");
    for (int n = 0; n < SimSensor::FlashWords; ++n)
        m_sim->setWord(n, quint32(n) * 0x01010101u ^ 0xA5000000u);
    m_sim->setWord(1, 0x0012AB7F);
    QVERIFY(m_sim->saveDump(path));

    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QByteArray bytes = f.readAll();
    QCOMPARE(bytes.size(), 4096);
    QCOMPARE(bytes.mid(4, 4).toHex(), QByteArray("7fab1200")); // least significant byte first
    QCOMPARE(bytes.mid(8, 4).toHex(), QByteArray("020202a7"));

    SimSensor other;
    QVERIFY(other.loadDump(path));
    QVERIFY(other.flash() == m_sim->flash());
}

void TestSimSensor::dumpSize_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("empty") << 0 << false;
    QTest::newRow("4095") << 4095 << false;
    QTest::newRow("4096") << 4096 << true;
    QTest::newRow("4099") << 4099 << true;
    QTest::newRow("4100") << 4100 << false;
    QTest::newRow("missing") << -1 << false;
}

void TestSimSensor::dumpSize()
{
    QFETCH(int, size);
    QFETCH(bool, accepted);
    QTemporaryDir dir;
    const QString path = dir.filePath("x.dmp");
    if (size >= 0) {
        QByteArray bytes(size, '\0');
        for (int i = 0; i < size; ++i)
            bytes[i] = char(i * 7 + 3);
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }
    const SimSensor::Flash before = m_sim->flash();
    QString error;
    QCOMPARE(m_sim->loadDump(path, &error), accepted);
    if (accepted) {
        QCOMPARE(m_sim->word(0), 0x18110A03u); // bytes 03 0A 11 18
        QCOMPARE(m_sim->word(1023), quint32(quint8(4095 * 7 + 3)) << 24 | quint32(quint8(4094 * 7 + 3)) << 16
                                       | quint32(quint8(4093 * 7 + 3)) << 8 | quint8(4092 * 7 + 3));
    } else {
        QVERIFY(!error.isEmpty());
        QVERIFY(m_sim->flash() == before);
    }
}

void TestSimSensor::ptyRoundTrip_data()
{
    QTest::addColumn<QByteArray>("written");
    QTest::addColumn<int>("pauseAt"); // > 0: the line goes quiet after this many bytes
    QTest::addColumn<SimFault>("fault");
    QTest::addColumn<QByteArray>("reply");

    const QByteArray serial = QByteArray::fromHex("010400050002 61CA");
    const QByteArray reply = frame("010404 0012AB7F");
    const SimFault noFault = SimFault::delay(0);
    QTest::newRow("plain") << serial << 0 << noFault << reply;
    QTest::newRow("noise before the request") << QByteArray::fromHex("FF04") + serial << 0 << noFault << reply;
    QTest::newRow("write request") << frame("0110102000030612345678A55A") << 0 << noFault
                                   << frame("011010200003");
    QTest::newRow("request broken by silence") << serial << 3 << noFault << reply;
    QTest::newRow("split reply") << serial << 0 << SimFault::splitReply(3, 300) << reply;
}

void TestSimSensor::ptyRoundTrip()
{
    QFETCH(QByteArray, written);
    QFETCH(int, pauseAt);
    QFETCH(SimFault, fault);
    QFETCH(QByteArray, reply);

    m_sim->addFault(fault);
    SimPtyServer server(*m_sim);
    QVERIFY2(server.start(), qPrintable(server.errorString()));
    const int fd = openRaw(server.devicePath());
    QVERIFY(fd >= 0);
    auto send = [fd](const QByteArray &b) { return ::write(fd, b.constData(), size_t(b.size())) == b.size(); };

    if (pauseAt > 0) {
        // A request interrupted by silence is dropped as noise, unanswered;
        // the next whole request is served.
        QVERIFY(send(written.left(pauseAt)));
        QVERIFY(m_sim->waitForRequests(1, 3000));
        QVERIFY(m_sim->requestLog().constFirst().reply.isEmpty());
        QVERIFY(send(written.mid(pauseAt)));
    }
    QElapsedTimer t;
    t.start();
    QVERIFY(send(written));
    int reads = 0;
    const QByteArray got = readFromFd(fd, int(reply.size()), 3000, &reads);
    const qint64 elapsed = t.elapsed();
    QCOMPARE(got.toHex(' '), reply.toHex(' '));
    QCOMPARE(Crc16(reinterpret_cast<const quint8 *>(got.constData()), qint32(got.size())), quint16(0));
    if (fault.kind == SimFault::Kind::SplitReply) {
        QVERIFY2(reads >= 2, "the two bursts arrived as one");
        QVERIFY2(elapsed >= fault.gapMs, qPrintable(QStringLiteral("%1 ms, gap %2").arg(elapsed).arg(fault.gapMs)));
    }
    // Nothing extra follows the reply.
    pollfd p{fd, POLLIN, 0};
    QCOMPARE(::poll(&p, 1, 20), 0);
    ::close(fd);
    server.stop();
}

void TestSimSensor::ptySurvivesReopenAndStopsPromptly()
{
    SimPtyServer server(*m_sim);
    QVERIFY(server.start());
    const QByteArray echo = frame("01080000AA55");
    for (int round = 0; round < 3; ++round) {
        const int fd = openRaw(server.devicePath());
        QVERIFY(fd >= 0);
        QCOMPARE(::write(fd, echo.constData(), size_t(echo.size())), ssize_t(echo.size()));
        QCOMPARE(readFromFd(fd, int(echo.size()), 3000).toHex(), echo.toHex());
        ::close(fd); // the tool closes its port between commands
    }

    // A port user that died in exclusive mode does not lock the port for good.
    {
        const int fd = openRaw(server.devicePath());
        QVERIFY(fd >= 0);
        QCOMPARE(::ioctl(fd, TIOCEXCL), 0);
        ::close(fd);
        const int probe = openRaw(server.devicePath()); // allowed to root only while the flag is set
        if (probe < 0)
            QVERIFY(errno == EBUSY);
        else {
            int excl = 1;
            QTRY_VERIFY_WITH_TIMEOUT(::ioctl(probe, TIOCGEXCL, &excl) == 0 && excl == 0, 5000);
            ::close(probe);
        }
        int again = -1;
        QTRY_VERIFY_WITH_TIMEOUT((again = openRaw(server.devicePath())) >= 0, 5000);
        ::close(again);
    }

    // A reply held back for long does not hold up stop().
    m_sim->addFault(SimFault::delay(10000));
    const int fd = openRaw(server.devicePath());
    QCOMPARE(::write(fd, echo.constData(), size_t(echo.size())), ssize_t(echo.size()));
    QVERIFY(m_sim->waitForRequests(4, 3000));
    QElapsedTimer t;
    t.start();
    server.stop();
    QVERIFY2(t.elapsed() < 2000, qPrintable(QString::number(t.elapsed())));
    QVERIFY(!server.isRunning());
    ::close(fd);
}

void TestSimSensor::ptyLink()
{
    QTemporaryDir dir;
    const QString link = dir.filePath("ttySIM");
    {
        SimPtyServer server(*m_sim);
        QVERIFY(::symlink("/nonexistent", QFile::encodeName(link).constData()) == 0); // stale link
        QVERIFY2(server.start(link), qPrintable(server.errorString()));
        QCOMPARE(QFile::symLinkTarget(link), server.devicePath());
        const int fd = openRaw(link);
        QVERIFY(fd >= 0);
        const QByteArray rq = frame("010400050002");
        QCOMPARE(::write(fd, rq.constData(), size_t(rq.size())), ssize_t(rq.size()));
        QCOMPARE(readFromFd(fd, 9, 3000).toHex(), frame("010404 0012AB7F").toHex());
        ::close(fd);
    } // the destructor stops the server
    QVERIFY(!QFileInfo(link).isSymLink());

    // A real file at the link's place is never replaced.
    QFile file(link);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("keep");
    file.close();
    SimPtyServer server(*m_sim);
    QVERIFY(!server.start(link));
    QVERIFY(!server.errorString().isEmpty());
    QVERIFY(!server.isRunning());
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("keep"));
}

QTEST_GUILESS_MAIN(TestSimSensor)
#include "tst_simsensor.moc"

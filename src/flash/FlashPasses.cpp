#include "flash/FlashPasses.h"

#include "modbus/ModbusMaster.h"
#include "sensor/RegisterMap.h"
#include "serial/SerialLink.h"

#include <algorithm>

namespace {

int percent(int n, int last)
{
    return qRound(n * 100.0 / last);
}

// The flash word index of a register address; -1 outside the flash.
int flashIndex(quint16 address)
{
    const int n = int(address) - int(FlashWordAddress(0));
    return n >= 0 && n < FlashWords ? n : -1;
}

// A refusal of a block read, not a failure of the line: the sensor answers,
// but not with the block asked for.
bool refusesBlock(TransactFailure failure)
{
    return failure == TransactFailure::Exception || failure == TransactFailure::Length;
}

// The engine's red lines held back for the length of one exchange.
class HeldLines
{
public:
    HeldLines(ModbusMaster &engine, QStringList *lines) : m_engine(engine)
    {
        m_engine.HeldFailureLines = lines;
    }
    ~HeldLines() { m_engine.HeldFailureLines = nullptr; }
    HeldLines(const HeldLines &) = delete;
    HeldLines &operator=(const HeldLines &) = delete;

private:
    ModbusMaster &m_engine;
};

// The words of the last block read, ahead of the verify pass that compares them.
struct ReadAhead
{
    quint16 start = 0;
    QList<quint32> words;

    bool holds(quint16 address) const
    {
        return address >= start && address - start < words.size();
    }
};

} // namespace

QString FinishHint(WriteJob job, bool verifying)
{
    if (job == WriteJob::Calibration)
        return QStringLiteral("Калибровка записана не полностью. Закончить: «Перенести калибровку из "
                              "дампа…» ещё раз (zart-cli calibration-restore ФАЙЛ)");
    if (job == WriteJob::Passport)
        return QStringLiteral("Паспорт записан не полностью. Закончить: «Восстановить паспорт...» "
                              "ещё раз (zart-cli passport-restore ФАЙЛ)");
    if (!verifying)
        return QStringLiteral("Флеш записана не полностью. Закончить: «Сравнить с дампом…», затем "
                              "«Записать отличающиеся слова» (zart-cli restore --differences ФАЙЛ)");
    return QStringLiteral("Все слова записаны, проверка не закончена, CRC не скорректирована. "
                          "Закончить: «Сравнить с дампом…», затем «Записать отличающиеся слова» "
                          "(zart-cli restore --differences ФАЙЛ) и «Корректировать CRC» "
                          "(zart-cli crc-correct)");
}

FlashPasses::FlashPasses(ModbusMaster &engine, IOperationHost &opHost, int pauseMs,
                         const CommandTimeouts &timeouts)
    : m_engine(engine), m_opHost(opHost), m_pauseMs(pauseMs), m_timeouts(timeouts),
      m_blockWords(std::clamp(opHost.blockWords(), 0, MaxBlockWords))
{
}

IBusHost &FlashPasses::log()
{
    return m_engine.host();
}

void FlashPasses::stopIfRequested()
{
    if (!m_opHost.stopRequested())
        return;
    const QString text = QString::fromUtf16(StoppedText);
    log().Log(text, LogError);
    throw EOperationStopped(text);
}

bool FlashPasses::ask(const QString &question)
{
    if (m_opHost.ask(question))
        return true;
    stopIfRequested();
    return false;
}

void FlashPasses::pauseBefore(RequestKind next)
{
    if (m_pauseMs <= 0)
        return;
    if (RuleOf(next).stoppable)
        m_opHost.pauseUnlessStopped(m_pauseMs);
    else
        m_opHost.pause(m_pauseMs);
}

bool FlashPasses::request(RequestKind kind, const RequestPdu &pdu, quint16 address,
                          qint32 timeoutMs, bool logTraffic, QString *refusal)
{
    const RequestRule rule = RuleOf(kind);
    const int retries = rule.repeatable ? std::clamp(m_opHost.retries(), 0, MaxRetries) : 0;
    for (int attempt = 0;; ++attempt) {
        if (rule.stoppable)
            stopIfRequested();
        const qint32 len = pdu.copyTo(m_engine.RequestBuf.data());
        // The lines of a failure that may be a refusal wait until it is known.
        QStringList held;
        const auto logHeld = [&] {
            for (const QString &line : held)
                log().Log(line, LogError);
        };
        try {
            const HeldLines hold(m_engine, refusal ? &held : nullptr);
            m_engine.Transact(m_engine.RequestBuf.data(), len, timeoutMs, false, logTraffic);
            return true;
        } catch (const SerialLinkError &e) {
            logHeld();
            throw EOperationFailed(e.text()); // a port failure is never repeated
        } catch (const ZartError &e) {
            if (refusal && refusesBlock(m_engine.LastFailure)) {
                *refusal = e.text();
                return false;
            }
            logHeld();
            if (attempt >= retries || !IsRepeatableFailure(m_engine.LastFailure))
                throw EOperationFailed(e.text());
        }
        pauseBefore(kind);
        if (rule.stoppable)
            stopIfRequested();
        m_engine.noteRepeat();
        log().Log(QString::asprintf("Повтор %d из %d: адрес 0x%.4X", attempt + 1, retries,
                                    unsigned(address)),
                  LogInfo);
    }
}

quint32 FlashPasses::readWord(quint16 address, RequestKind kind, bool logTraffic)
{
    request(kind, RequestReadFlashWord(address), address, m_timeouts.shortMs, logTraffic);
    quint32 value = 0;
    try {
        value = DecodeWord(m_engine.ReplyBuf.data(), m_engine.ReplyLen);
    } catch (const ZartError &e) {
        log().Log(e.text(), LogError);
        throw EOperationFailed(e.text());
    }
    if (const int n = flashIndex(address); n >= 0)
        m_known[std::size_t(n)] = value;
    return value;
}

void FlashPasses::knowFlash(const FlashImage &image)
{
    for (int n = 0; n < FlashWords; ++n)
        m_known[std::size_t(n)] = image[std::size_t(n)];
}

void FlashPasses::wrote(quint16 address, quint32 value)
{
    const int n = flashIndex(address);
    if (n < 0)
        return;
    if (IOperationRecorder *told = recorder())
        told->wordWritten(address, value, m_known[std::size_t(n)]);
    m_known[std::size_t(n)] = value;
}

bool FlashPasses::readBlock(quint16 address, int count, quint32 *values)
{
    // The reply is longer than a word's by 4 (count - 1) bytes: the wait for
    // it grows by their time on the line (11-bit characters), some 280 ms for
    // 62 words at 9600 bit/s.
    const qint64 baud = std::max(1, m_engine.port().speed());
    const qint64 extraMs = (4LL * (count - 1) * 11 * 1000 + baud - 1) / baud;
    QString refusal;
    if (!request(RequestKind::Read, RequestReadFlashBlock(address, count), address,
                 m_timeouts.shortMs + qint32(extraMs), false, &refusal)) {
        m_blockWords = 0;
        log().Log(QStringLiteral("Датчик не читает блоками (%1), чтение по одному слову").arg(refusal),
                  LogInfo);
        pauseBefore(RequestKind::Read);
        return false;
    }
    try {
        DecodeWords(m_engine.ReplyBuf.data(), m_engine.ReplyLen, values, count);
    } catch (const ZartError &e) {
        log().Log(e.text(), LogError);
        throw EOperationFailed(e.text());
    }
    for (int i = 0; i < count; ++i)
        if (const int n = flashIndex(quint16(address + i)); n >= 0)
            m_known[std::size_t(n)] = values[i];
    return true;
}

FlashImage FlashPasses::readAll(const QString &title)
{
    m_opHost.progress(0);
    log().Log(title, LogInfo);
    FlashImage image{};
    constexpr int last = FlashWords - 1;
    for (int n = 0; n <= last;) {
        const int count = std::min(m_blockWords, FlashWords - n);
        if (count > 1 && readBlock(FlashWordAddress(n), count, &image[std::size_t(n)])) {
            n += count;
        } else {
            image[std::size_t(n)] = readWord(FlashWordAddress(n));
            ++n;
        }
        m_opHost.progress(percent(n - 1, last));
        m_opHost.processEvents();
        if (n <= last)
            pauseBefore(RequestKind::Read);
    }
    return image;
}

void FlashPasses::writeAndVerify(const QList<WritePass> &passes, WriteJob job)
{
    m_total = 0;
    for (const WritePass &pass : passes)
        for (const QList<PassWord> &position : pass.positions)
            m_total += int(position.size());
    m_written = 0;

    quint16 current = 0;
    bool verifying = false;
    // After each position, and between two words of one: the request that
    // follows the very last pause is the checksum correction's.
    // No pause where the next word to compare has come with a block already.
    const auto afterPosition = [&](const WritePass &pass, qsizetype n, bool lastOfAll,
                                   bool pause = true) {
        if (pass.gaugeLast > 0) {
            m_opHost.progress(percent(int(n) + pass.gaugeOffset, pass.gaugeLast));
            m_opHost.processEvents();
        }
        if (pause)
            pauseBefore(lastOfAll ? RequestKind::Checksum
                                  : (verifying ? RequestKind::Read : RequestKind::WordWrite));
    };
    try {
        for (qsizetype p = 0; p < passes.size(); ++p) {
            const WritePass &pass = passes[p];
            const bool lastPass = p + 1 == passes.size();
            verifying = false;
            log().Log(pass.writeTitle, LogInfo);
            for (qsizetype n = 0; n < pass.positions.size(); ++n) {
                const QList<PassWord> &words = pass.positions[n];
                for (qsizetype w = 0; w < words.size(); ++w) {
                    if (w > 0)
                        pauseBefore(RequestKind::WordWrite);
                    current = words[w].address;
                    request(RequestKind::WordWrite, RequestWriteFlashWord(current, words[w].value),
                            current, m_timeouts.shortMs);
                    wrote(current, words[w].value);
                    ++m_written;
                }
                afterPosition(pass, n, false);
            }
            verifying = true;
            log().Log(pass.verifyTitle, LogInfo);
            // The words in the order they are compared: a run of consecutive
            // addresses among them may be read as one block.
            QList<quint16> order;
            for (const QList<PassWord> &words : pass.positions)
                for (const PassWord &word : words)
                    order << word.address;
            qsizetype k = 0; // the word's place in order
            ReadAhead ahead;
            const auto readBack = [&](quint16 address) {
                if (ahead.holds(address))
                    return ahead.words[address - ahead.start];
                ahead.words.clear();
                int count = 1;
                while (count < m_blockWords && k + count < order.size()
                       && order[k + count] == address + count)
                    ++count;
                if (count > 1) {
                    QList<quint32> words(count);
                    if (readBlock(address, count, words.data())) {
                        ahead = {address, words};
                        return words.first();
                    }
                }
                return readWord(address);
            };
            for (qsizetype n = 0; n < pass.positions.size(); ++n) {
                const QList<PassWord> &words = pass.positions[n];
                for (qsizetype w = 0; w < words.size(); ++w, ++k) {
                    if (w > 0 && !ahead.holds(words[w].address))
                        pauseBefore(RequestKind::Read);
                    current = words[w].address;
                    if (readBack(current) != words[w].expected) {
                        const QString text =
                            QString::asprintf("Данные различаются по адресу 0x%.4X", unsigned(current));
                        log().Log(text, LogError);
                        throw EOperationFailed(text);
                    }
                }
                afterPosition(pass, n, lastPass && n + 1 == pass.positions.size(),
                              !ahead.holds(quint16(current + 1)));
            }
        }
    } catch (const EOperationFailed &) {
        endWritesEarly(current, job, verifying);
    }
}

void FlashPasses::endWritesEarly(quint16 address, WriteJob job, bool verifying)
{
    // The red line (the stop, the engine's failure, the difference) is in the
    // log already; what follows says where the sensor stands.
    if (address != 0)
        log().Log(QString::asprintf("Прервано на адресе 0x%.4X", unsigned(address)), LogInfo);
    log().Log(QStringLiteral("Записано слов: %1 из %2").arg(m_written).arg(m_total), LogInfo);
    log().Log(FinishHint(job, verifying), LogInfo);
    throw;
}

void FlashPasses::correctChecksum()
{
    log().Log(QStringLiteral("Коррекция CRC..."), LogInfo);
    try {
        // The read makes the sensor compute its checksum into word 0x3FE.
        request(RequestKind::Checksum, RequestReadCrc(), ChecksumRegister, m_timeouts.longMs, true);
        const quint32 computed = readWord(RealCrcAddress, RequestKind::Checksum, true);
        request(RequestKind::Checksum, RequestWriteFlashWord(RequiredCrcAddress, computed),
                RequiredCrcAddress, m_timeouts.shortMs, true);
        wrote(RequiredCrcAddress, computed);
    } catch (const EOperationFailed &) {
        log().Log(QStringLiteral("Все слова записаны и проверены, осталась коррекция CRC: "
                                 "«Корректировать CRC» (zart-cli crc-correct)"),
                  LogInfo);
        throw;
    }
}

bool FlashPasses::probeAddress(int address, const std::function<void(int)> &setAddress)
{
    if (setAddress)
        setAddress(address);
    const qint32 len = RequestPing().copyTo(m_engine.RequestBuf.data());
    if (m_engine.Probe(m_engine.RequestBuf.data(), len, m_timeouts.shortMs))
        return false; // the port itself has failed
    return m_engine.ReplyLen == m_engine.RequestLen
        && DecodePing(m_engine.ReplyBuf.data(), m_engine.ReplyLen);
}

void FlashPasses::writeAddress(quint32 addressWord, const std::function<void(int)> &setAddress)
{
    const int oldAddress = log().busAddress();
    if (quint32(oldAddress) == addressWord)
        return;
    const int newAddress = int(addressWord & 0xFF);
    if (newAddress < MinBusAddress || newAddress > MaxBusAddress) {
        log().Log(QString::asprintf("Адрес в файле ($%.2X) не является адресом прибора, адрес не изменён",
                                    unsigned(newAddress)),
                  LogError);
        return;
    }
    if (m_opHost.stopRequested()) {
        // The stop came while the checksum was being corrected: no question
        // after it, the sensor keeps the address it answers at.
        log().Log(QString::asprintf("Адрес $%.2X не записан, датчик остался по адресу $%.2X",
                                    unsigned(newAddress), unsigned(oldAddress)),
                  LogInfo);
        return;
    }
    if (!m_opHost.askNewAddress(QString::asprintf("Новый адрес - $%.2X. Записать?", unsigned(newAddress))))
        return;
    try {
        request(RequestKind::AddressWrite, RequestWriteFlashWord(AddressWordAddress, addressWord),
                AddressWordAddress, m_timeouts.shortMs, /*logTraffic=*/true);
    } catch (const EOperationFailed &e) {
        // A refusal came from the old address, a port failure reached no
        // sensor. Any other failure says nothing of the write itself: the
        // sensor takes the address as it executes the write, so both
        // addresses are asked.
        if (m_engine.LastFailure == TransactFailure::Port
            || m_engine.LastFailure == TransactFailure::Exception)
            throw;
        if (probeAddress(newAddress, setAddress)) {
            wrote(AddressWordAddress, addressWord); // the new address answers: it took the word
            log().Log(QString::asprintf("Датчик отвечает по новому адресу $%.2X", unsigned(newAddress)),
                      LogInfo);
            return;
        }
        if (probeAddress(oldAddress, setAddress)) {
            log().Log(QString::asprintf("Датчик отвечает по прежнему адресу $%.2X, адрес не изменён",
                                        unsigned(oldAddress)),
                      LogError);
            throw;
        }
        const QString text = QString::asprintf(
            "Датчик не отвечает ни по новому адресу $%.2X, ни по прежнему $%.2X; найдите его поиском",
            unsigned(newAddress), unsigned(oldAddress));
        log().Log(text, LogError);
        throw EOperationFailed(text);
    }
    wrote(AddressWordAddress, addressWord);
    if (setAddress)
        setAddress(newAddress);
}

void FlashPasses::reportDeferredStop()
{
    if (!m_opHost.stopRequested())
        return;
    const QString text = QString::fromUtf16(StoppedText);
    log().Log(text, LogError);
    log().Log(QStringLiteral("Записано слов: %1 из %2").arg(m_written).arg(m_total), LogInfo);
    throw EOperationStopped(text);
}

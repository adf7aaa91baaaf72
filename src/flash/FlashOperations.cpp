#include "flash/FlashOperations.h"

#include "flash/DumpFile.h"
#include "modbus/Transact.h"
#include "sensor/SensorRequests.h"

#include <QDir>
#include <algorithm>
#include <QFileInfo>
#include <exception>

namespace {

const QString CancelledText = QStringLiteral("Запись отменена пользователем");

// Turns whatever leaves an operation into an EOperationFailed that is in the
// log: an EOperationFailed is there already (a failed exchange, logged by the
// engine, or an inner step); anything else is logged here in red.
template <typename Body>
auto reported(IBusHost &log, Body &&body) -> decltype(body())
{
    try {
        return body();
    } catch (const EOperationFailed &) {
        throw;
    } catch (const ZartError &e) {
        log.Log(e.text(), LogError);
        throw EOperationFailed(e.text());
    } catch (const std::exception &e) {
        const QString text = QString::fromLocal8Bit(e.what());
        if (!text.isEmpty())
            log.Log(text, LogError);
        throw EOperationFailed(text);
    }
}

// One exchange on the engine. The engine logs its own failures, so they leave
// as EOperationFailed and are not logged again.
void exchange(TModbusEngine &engine, const RequestPdu &pdu, qint32 timeoutMs, bool logTraffic)
{
    const qint32 len = pdu.copyTo(engine.RequestBuf.data());
    try {
        engine.Transact(engine.RequestBuf.data(), len, timeoutMs, false, logTraffic);
    } catch (const ZartError &e) {
        throw EOperationFailed(e.text());
    }
}

quint32 readWord(TModbusEngine &engine, quint16 address, qint32 timeoutMs)
{
    exchange(engine, RequestReadFlashWord(address), timeoutMs, false);
    return DecodeWord(engine.ReplyBuf.data(), engine.ReplyLen);
}

void writeWord(TModbusEngine &engine, quint16 address, quint32 value, qint32 timeoutMs,
               bool logTraffic = false)
{
    exchange(engine, RequestWriteFlashWord(address, value), timeoutMs, logTraffic);
}

// Position n of a pass whose last position is last, as a whole percentage.
int percent(int n, int last)
{
    return qRound(n * 100.0 / last);
}

void pauseIfSet(IOperationHost &opHost, int pauseMs)
{
    if (pauseMs > 0)
        opHost.pause(pauseMs);
}

// Gauge, pending events and pause after one position of a pass.
void afterPosition(IOperationHost &opHost, int n, int last, int pauseMs)
{
    opHost.progress(percent(n, last));
    opHost.processEvents();
    pauseIfSet(opHost, pauseMs);
}

[[noreturn]] void differs(quint16 address)
{
    throw ZartError(QString::asprintf("Данные различаются по адресу 0x%.4X", unsigned(address)));
}

void checksumCorrection(TModbusEngine &engine, const CommandTimeouts &timeouts)
{
    engine.host().Log(QStringLiteral("Коррекция CRC..."), LogInfo);
    try {
        CorrectChecksum(engine, timeouts);
    } catch (const ZartError &) {
        // Logged by the engine; the correction's outcome does not decide the
        // operation's (the words themselves have been verified).
    }
}

QString fileNameOf(const QString &path)
{
    return QFileInfo(path).fileName();
}

} // namespace

// --- Dump creation -------------------------------------------------------------

FlashImage ReadFlashImage(TModbusEngine &engine, IOperationHost &opHost, qint32 timeoutShortMs,
                          int pauseMs)
{
    IBusHost &log = engine.host();
    return reported(log, [&] {
        opHost.progress(0);
        log.Log(QStringLiteral("Чтение флеш..."), LogInfo);
        FlashImage image{};
        constexpr int last = FlashWords - 1;
        for (int n = 0; n <= last; ++n) {
            image[std::size_t(n)] = readWord(engine, FlashWordAddress(n), timeoutShortMs);
            opHost.progress(percent(n, last));
            opHost.processEvents();
            if (n != last)
                pauseIfSet(opHost, pauseMs);
        }
        return image;
    });
}

DumpFiles SaveDumpFiles(IBusHost &log, const FlashImage &image, const QString &dir)
{
    return reported(log, [&] {
        const QDir target(dir);
        const quint32 serial = image[WordSerial];
        DumpFiles files;
        files.dump = target.filePath(DumpFileName(serial));
        files.passport = target.filePath(PassportFileName(serial));
        files.passportIni = target.filePath(QString::fromUtf16(PassportIniName));

        WriteDumpFile(files.dump, image);
        log.Log(QStringLiteral("Дамп сохранён в файле %1...").arg(fileNameOf(files.dump)), LogInfo);

        WritePassportFile(files.passport, image);
        log.Log(QStringLiteral("Паспорт сохранён в файле %1...").arg(fileNameOf(files.passport)),
                LogInfo);

        WriteExpLevel(files.passportIni, image);
        log.Log(QStringLiteral("Данные паспорта сохранены в файле %1...")
                    .arg(fileNameOf(files.passportIni)),
                LogInfo);
        return files;
    });
}

DumpFiles CreateDump(TModbusEngine &engine, IOperationHost &opHost, const QString &dir,
                     qint32 timeoutShortMs, int pauseMs)
{
    const FlashImage image = ReadFlashImage(engine, opHost, timeoutShortMs, pauseMs);
    return SaveDumpFiles(engine.host(), image, dir);
}

// --- Dump restore ----------------------------------------------------------------

void RestoreDump(TModbusEngine &engine, IOperationHost &opHost, const QString &path,
                 const CommandTimeouts &timeouts, int pauseMs,
                 const std::function<void(int)> &setAddress)
{
    IBusHost &log = engine.host();
    reported(log, [&] {
        const FlashImage image = ReadDumpFile(path);

        if (!opHost.ask(QString::asprintf("Серийный номер из файла - %.8X. Записать дамп во флеш?",
                                          unsigned(image[WordSerial]))))
            throw ZartError(CancelledText);

        constexpr int last = FlashWords - 1;
        log.Log(QStringLiteral("Запись дампа во флеш..."), LogInfo);
        for (int n = 0; n <= last; ++n) {
            if (!IsRestoreSkipped(n))
                writeWord(engine, FlashWordAddress(n), image[std::size_t(n)], timeouts.shortMs);
            afterPosition(opHost, n, last, pauseMs);
        }

        log.Log(QStringLiteral("Проверка записи..."), LogInfo);
        for (int n = 0; n <= last; ++n) {
            if (!IsRestoreSkipped(n)) {
                const quint16 address = FlashWordAddress(n);
                if (readWord(engine, address, timeouts.shortMs) != image[std::size_t(n)])
                    differs(address);
            }
            afterPosition(opHost, n, last, pauseMs);
        }

        checksumCorrection(engine, timeouts);
        RestoreAddress(engine, opHost, image[WordAddress], timeouts.shortMs, setAddress);
        log.Log(QStringLiteral("Восстановление успешно"), LogInfo);
    });
}

void RestoreAddress(TModbusEngine &engine, IOperationHost &opHost, quint32 addressWord,
                    qint32 timeoutShortMs, const std::function<void(int)> &setAddress)
{
    IBusHost &log = engine.host();
    reported(log, [&] {
        if (quint32(log.busAddress()) == addressWord)
            return;
        const int newAddress = int(addressWord & 0xFF);
        if (newAddress < 1 || newAddress > 247) {
            log.Log(QString::asprintf("Адрес в файле ($%.2X) не является адресом прибора, адрес не изменён",
                                      unsigned(newAddress)),
                    LogError);
            return;
        }
        if (!opHost.ask(QString::asprintf("Новый адрес - $%.2X. Записать?", unsigned(newAddress))))
            return;
        writeWord(engine, FlashWordAddress(WordAddress), addressWord, timeoutShortMs,
                  /*logTraffic=*/true);
        if (setAddress)
            setAddress(newAddress);
    });
}

// --- Passport restore --------------------------------------------------------------

void RestorePassport(TModbusEngine &engine, IOperationHost &opHost, const QString &passportPath,
                     const QString &passportIniPath, const CommandTimeouts &timeouts,
                     int pauseMs)
{
    IBusHost &log = engine.host();
    reported(log, [&] {
        TPsp psp;
        psp.Points = ReadPassportFile(passportPath);
        if (psp.Points.size() != GridPoints)
            throw ZartError(
                QStringLiteral("Неверное количество точек (%1)").arg(psp.Points.size()));

        const QString section = PassportSection(passportPath);
        ApplyExpLevel(psp, ReadExpLevel(passportIniPath, section));

        if (!opHost.ask(QStringLiteral("Серийный номер - %1. Записать паспорт во флеш?").arg(section)))
            throw ZartError(CancelledText);

        constexpr int last = GridPoints; // the gauge shows k / 441
        log.Log(QStringLiteral("Запись паспорта во флеш..."), LogInfo);
        for (int k = 0; k < GridPoints; ++k) {
            const PassportPoint &p = psp.Points[k];
            writeWord(engine, FlashWordAddress(XTableIndex + k), PassportWord(p.X), timeouts.shortMs);
            pauseIfSet(opHost, pauseMs);
            writeWord(engine, FlashWordAddress(YTableIndex + k), PassportWord(p.Y), timeouts.shortMs);
            afterPosition(opHost, k, last, pauseMs);
        }

        log.Log(QStringLiteral("Проверка записи..."), LogInfo);
        for (int k = 0; k < GridPoints; ++k) {
            const PassportPoint &p = psp.Points[k];
            const quint16 xAddress = FlashWordAddress(XTableIndex + k);
            if (readWord(engine, xAddress, timeouts.shortMs) != PassportWord(p.X))
                differs(xAddress);
            pauseIfSet(opHost, pauseMs);
            const quint16 yAddress = FlashWordAddress(YTableIndex + k);
            if (readWord(engine, yAddress, timeouts.shortMs) != PassportWord(p.Y))
                differs(yAddress);
            afterPosition(opHost, k, last, pauseMs);
        }

        WriteExpLevelWords(engine, opHost, psp, timeouts.shortMs, pauseMs);
        checksumCorrection(engine, timeouts);
        log.Log(QStringLiteral("Паспорт записан успешно"), LogInfo);
    });
}

void WriteExpLevelWords(TModbusEngine &engine, IOperationHost &opHost, const TPsp &psp,
                        qint32 timeoutShortMs, int pauseMs)
{
    IBusHost &log = engine.host();
    reported(log, [&] {
        const auto words = ExpLevelWords(psp);
        log.Log(QStringLiteral("Запись экспозиций и уровней..."), LogInfo);
        for (const ExpLevelWord &w : words) {
            writeWord(engine, w.address, ExpLevelWordValue(w.value), timeoutShortMs);
            pauseIfSet(opHost, pauseMs);
        }
        log.Log(QStringLiteral("Проверка экспозиций и уровней..."), LogInfo);
        for (const ExpLevelWord &w : words) {
            // The whole word against the whole value: a value that does not fit
            // the low byte cannot have been stored and is reported here.
            if (readWord(engine, w.address, timeoutShortMs) != quint32(w.value))
                differs(w.address);
            pauseIfSet(opHost, pauseMs);
        }
    });
}

// --- Comparison of the sensor with a dump ------------------------------------------

int FlashComparison::counted() const
{
    return int(std::count_if(differences.begin(), differences.end(),
                             [](const WordDifference &d) { return d.counts(); }));
}

FlashComparison CompareFlash(TModbusEngine &engine, IOperationHost &opHost, const FlashImage &image,
                             qint32 timeoutShortMs, int pauseMs)
{
    IBusHost &log = engine.host();
    return reported(log, [&] {
        opHost.progress(0);
        log.Log(QStringLiteral("Сравнение с дампом..."), LogInfo);
        FlashComparison result;
        constexpr int last = FlashWords - 1;
        for (int n = 0; n <= last; ++n) {
            const quint32 word = readWord(engine, FlashWordAddress(n), timeoutShortMs);
            if (word != image[std::size_t(n)])
                result.differences.append({n, image[std::size_t(n)], word});
            opHost.progress(percent(n, last));
            opHost.processEvents();
            if (n != last)
                pauseIfSet(opHost, pauseMs);
        }
        const int counted = result.counted();
        const int other = int(result.differences.size()) - counted;
        if (other > 0)
            log.Log(QStringLiteral("Отличаются невосстанавливаемые слова: %1").arg(other), LogInfo);
        if (counted == 0)
            log.Log(QStringLiteral("Отличий нет"), LogReceived);
        else
            log.Log(QStringLiteral("Отличается слов: %1").arg(counted), LogError);
        return result;
    });
}

QString DifferenceLine(const WordDifference &difference)
{
    QString name = FlashWordName(difference.index);
    if (!difference.counts())
        name = (name.isEmpty() ? QString() : name + u' ') + QStringLiteral("(не восстанавливается)");
    return QStringLiteral("0x%1\t%2\t%3\t%4")
        .arg(QString::number(FlashWordAddress(difference.index), 16).toUpper(),
             RawText(difference.fileValue), RawText(difference.sensorValue), name);
}

QString DifferenceHeaderLine()
{
    return QStringLiteral("Адрес\tФайл\tДатчик\tПоле");
}

QString FlashWordName(int index)
{
    for (const TFlashListRec &rec : FlashList) {
        if (rec.Index == index)
            return rec.Name.toString();
    }
    if (index >= XTableIndex && index < XTableIndex + GridPoints)
        return QStringLiteral("X%1").arg(index - XTableIndex + 1);
    if (index >= YTableIndex && index < YTableIndex + GridPoints)
        return QStringLiteral("Y%1").arg(index - YTableIndex + 1);
    return {};
}

// --- Dump viewer -------------------------------------------------------------------

QList<QStringList> DumpViewRows(const FlashImage &image)
{
    QList<QStringList> rows;
    rows.reserve(DumpViewRowCount);
    for (const TFlashListRec &rec : FlashList) {
        const quint32 w = image[std::size_t(rec.Index)];
        rows.append({rec.Name.toString(), FieldValueText(rec, w), RawText(w)});
    }
    for (int k = 0; k < GridPoints; ++k) {
        const quint32 w = image[std::size_t(XTableIndex + k)];
        rows.append({QStringLiteral("X%1").arg(k + 1), CalibrationValueText(w), RawText(w)});
    }
    for (int k = 0; k < GridPoints; ++k) {
        const quint32 w = image[std::size_t(YTableIndex + k)];
        rows.append({QStringLiteral("Y%1").arg(k + 1), CalibrationValueText(w), RawText(w)});
    }
    return rows;
}

#include "flash/FlashOperations.h"

#include "common/AtomicFile.h"
#include "flash/DumpFile.h"
#include "flash/DumpHistory.h"
#include "modbus/Transact.h"
#include "sensor/SensorRequests.h"
#include "serial/UComWin.h"

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

// One long operation under way: the engine, the caller's seam, the group
// pause, and for a restore how many of its words it has written so far.
struct Run
{
    TModbusEngine &engine;
    IOperationHost &opHost;
    int pauseMs = 0;
    int written = 0;
    int total = 0; // 0: the operation writes nothing to count

    IBusHost &log() { return engine.host(); }
};

void pauseIfSet(IOperationHost &opHost, int pauseMs)
{
    if (pauseMs > 0)
        opHost.pause(pauseMs);
}

// Leaves the operation when the user has asked to stop.
void stopIfRequested(Run &run)
{
    if (!run.opHost.stopRequested())
        return;
    const QString text = QString::fromUtf16(StoppedText);
    run.log().Log(text, LogError);
    if (run.total > 0)
        run.log().Log(QStringLiteral("Записано слов: %1 из %2").arg(run.written).arg(run.total),
                      LogInfo);
    throw EOperationStopped(text);
}

// A question of the operation; a No that comes with a stop request (a signal
// or the window's close while the box was up) stops the operation.
bool ask(Run &run, const QString &question)
{
    if (run.opHost.ask(question))
        return true;
    stopIfRequested(run);
    return false;
}

// One exchange on the engine, after a stop check. The engine logs its own
// failures, so they leave as EOperationFailed and are not logged again. A
// failure on the line is repeated as the host allows.
void exchange(Run &run, const RequestPdu &pdu, quint16 address, qint32 timeoutMs, bool logTraffic)
{
    TModbusEngine &engine = run.engine;
    const int retries = std::clamp(run.opHost.retries(), 0, 10);
    for (int attempt = 0;; ++attempt) {
        stopIfRequested(run);
        const qint32 len = pdu.copyTo(engine.RequestBuf.data());
        try {
            engine.Transact(engine.RequestBuf.data(), len, timeoutMs, false, logTraffic);
            return;
        } catch (const EComPort &e) {
            throw EOperationFailed(e.text()); // a port failure is never repeated
        } catch (const ZartError &e) {
            if (attempt >= retries || !IsRepeatableFailure(engine.LastFailure))
                throw EOperationFailed(e.text());
        }
        pauseIfSet(run.opHost, run.pauseMs);
        stopIfRequested(run);
        run.log().Log(QString::asprintf("Повтор %d из %d: адрес 0x%.4X", attempt + 1, retries,
                                        unsigned(address)),
                      LogInfo);
    }
}

quint32 readWord(Run &run, quint16 address, qint32 timeoutMs)
{
    exchange(run, RequestReadFlashWord(address), address, timeoutMs, false);
    return DecodeWord(run.engine.ReplyBuf.data(), run.engine.ReplyLen);
}

void writeWord(Run &run, quint16 address, quint32 value, qint32 timeoutMs, bool logTraffic = false)
{
    exchange(run, RequestWriteFlashWord(address, value), address, timeoutMs, logTraffic);
    ++run.written;
}

// Position n of a pass whose last position is last, as a whole percentage.
int percent(int n, int last)
{
    return qRound(n * 100.0 / last);
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

void checksumCorrection(Run &run, const CommandTimeouts &timeouts)
{
    stopIfRequested(run);
    run.log().Log(QStringLiteral("Коррекция CRC..."), LogInfo);
    try {
        CorrectChecksum(run.engine, timeouts);
    } catch (const ZartError &) {
        // Logged by the engine; the correction's outcome does not decide the
        // operation's (the words themselves have been verified).
    }
}

QString fileNameOf(const QString &path)
{
    return QFileInfo(path).fileName();
}

// The log lines of a file kept before it is replaced.
struct OldFileTexts
{
    const char16_t *kept;   // %1: "history/<name>"
    const char16_t *failed; // %1: the system's text
};
constexpr OldFileTexts OldDumpTexts{u"Прежний дамп сохранён в файле %1",
                                    u"Прежний дамп не удалось сохранить в папке history (%1), дамп не записан"};
constexpr OldFileTexts OldPassportTexts{
    u"Прежний паспорт сохранён в файле %1",
    u"Прежний паспорт не удалось сохранить в папке history (%1), паспорт не записан"};

// Keeps the file at path in history/ when newContent would replace different
// content. A failure stops the dump files there: the old file stays as it is.
void keepOldFile(IBusHost &log, const QString &path, const QByteArray &newContent,
                 const OldFileTexts &texts)
{
    QString kept;
    try {
        kept = KeepInHistory(path, newContent);
    } catch (const ZartError &e) {
        throw ZartError(QString::fromUtf16(texts.failed).arg(e.text()));
    }
    if (!kept.isEmpty())
        log.Log(QString::fromUtf16(texts.kept).arg(kept), LogInfo);
}

} // namespace

// --- Dump creation -------------------------------------------------------------

namespace {

FlashImage readFlashImage(Run &run, qint32 timeoutShortMs)
{
    IOperationHost &opHost = run.opHost;
    opHost.progress(0);
    run.log().Log(QStringLiteral("Чтение флеш..."), LogInfo);
    FlashImage image{};
    constexpr int last = FlashWords - 1;
    for (int n = 0; n <= last; ++n) {
        image[std::size_t(n)] = readWord(run, FlashWordAddress(n), timeoutShortMs);
        opHost.progress(percent(n, last));
        opHost.processEvents();
        if (n != last)
            pauseIfSet(opHost, run.pauseMs);
    }
    return image;
}

void restoreAddress(Run &run, quint32 addressWord, qint32 timeoutShortMs,
                    const std::function<void(int)> &setAddress)
{
    IBusHost &log = run.log();
    if (quint32(log.busAddress()) == addressWord)
        return;
    const int newAddress = int(addressWord & 0xFF);
    if (newAddress < 1 || newAddress > 247) {
        log.Log(QString::asprintf("Адрес в файле ($%.2X) не является адресом прибора, адрес не изменён",
                                  unsigned(newAddress)),
                LogError);
        return;
    }
    if (!ask(run, QString::asprintf("Новый адрес - $%.2X. Записать?", unsigned(newAddress))))
        return;
    writeWord(run, FlashWordAddress(WordAddress), addressWord, timeoutShortMs, /*logTraffic=*/true);
    if (setAddress)
        setAddress(newAddress);
}

void writeExpLevelWords(Run &run, const TPsp &psp, qint32 timeoutShortMs)
{
    IBusHost &log = run.log();
    const auto words = ExpLevelWords(psp);
    log.Log(QStringLiteral("Запись экспозиций и уровней..."), LogInfo);
    for (const ExpLevelWord &w : words) {
        writeWord(run, w.address, ExpLevelWordValue(w.value), timeoutShortMs);
        pauseIfSet(run.opHost, run.pauseMs);
    }
    log.Log(QStringLiteral("Проверка экспозиций и уровней..."), LogInfo);
    for (const ExpLevelWord &w : words) {
        // The whole word against the whole value: a value that does not fit
        // the low byte cannot have been stored and is reported here.
        if (readWord(run, w.address, timeoutShortMs) != quint32(w.value))
            differs(w.address);
        pauseIfSet(run.opHost, run.pauseMs);
    }
}

} // namespace

FlashImage ReadFlashImage(TModbusEngine &engine, IOperationHost &opHost, qint32 timeoutShortMs,
                          int pauseMs)
{
    Run run{engine, opHost, pauseMs};
    return reported(engine.host(), [&] { return readFlashImage(run, timeoutShortMs); });
}

DumpFiles SaveDumpFiles(IBusHost &log, const FlashImage &image, const QString &dir)
{
    return reported(log, [&] {
        const QDir target(dir);
        // The folder named for the dump is made when missing, as the window
        // makes its data folder.
        if (!QDir().mkpath(dir))
            throw ZartError(QStringLiteral("Не удалось создать папку %1").arg(QDir::toNativeSeparators(dir)));
        const quint32 serial = image[WordSerial];
        DumpFiles files;
        files.dump = target.filePath(DumpFileName(serial));
        files.passport = target.filePath(PassportFileName(serial));
        files.passportIni = target.filePath(QString::fromUtf16(PassportIniName));

        const QByteArray dumpBytes = DumpBytes(image);
        keepOldFile(log, files.dump, dumpBytes, OldDumpTexts);
        WriteFileAtomically(files.dump, dumpBytes);
        log.Log(QStringLiteral("Дамп сохранён в файле %1...").arg(fileNameOf(files.dump)), LogInfo);

        const QByteArray passportText = PassportText(image);
        keepOldFile(log, files.passport, passportText, OldPassportTexts);
        WriteFileAtomically(files.passport, passportText);
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
    Run run{engine, opHost, pauseMs};
    const FlashImage image = reported(engine.host(), [&] {
        FlashImage read = readFlashImage(run, timeoutShortMs);
        // A stop after the last word still writes nothing: the files are
        // written all together or not at all.
        stopIfRequested(run);
        return read;
    });
    return SaveDumpFiles(engine.host(), image, dir);
}

// --- Dump restore ----------------------------------------------------------------

void RestoreDump(TModbusEngine &engine, IOperationHost &opHost, const QString &path,
                 const CommandTimeouts &timeouts, int pauseMs,
                 const std::function<void(int)> &setAddress)
{
    IBusHost &log = engine.host();
    Run run{engine, opHost, pauseMs};
    reported(log, [&] {
        const FlashImage image = ReadDumpFile(path);

        if (!ask(run, QString::asprintf("Серийный номер из файла - %.8X. Записать дамп во флеш?",
                                        unsigned(image[WordSerial]))))
            throw ZartError(CancelledText);
        CheckSensorSerial(engine, opHost, image[WordSerial], timeouts.shortMs);

        run.total = DumpRestoreWords;
        constexpr int last = FlashWords - 1;
        log.Log(QStringLiteral("Запись дампа во флеш..."), LogInfo);
        for (int n = 0; n <= last; ++n) {
            if (!IsRestoreSkipped(n))
                writeWord(run, FlashWordAddress(n), image[std::size_t(n)], timeouts.shortMs);
            afterPosition(opHost, n, last, pauseMs);
        }

        log.Log(QStringLiteral("Проверка записи..."), LogInfo);
        for (int n = 0; n <= last; ++n) {
            if (!IsRestoreSkipped(n)) {
                const quint16 address = FlashWordAddress(n);
                if (readWord(run, address, timeouts.shortMs) != image[std::size_t(n)])
                    differs(address);
            }
            afterPosition(opHost, n, last, pauseMs);
        }

        checksumCorrection(run, timeouts);
        run.total = 0; // the address word is not one of the restore's words
        restoreAddress(run, image[WordAddress], timeouts.shortMs, setAddress);
        log.Log(QStringLiteral("Восстановление успешно"), LogInfo);
    });
}

void RestoreAddress(TModbusEngine &engine, IOperationHost &opHost, quint32 addressWord,
                    qint32 timeoutShortMs, const std::function<void(int)> &setAddress)
{
    Run run{engine, opHost};
    reported(engine.host(), [&] { restoreAddress(run, addressWord, timeoutShortMs, setAddress); });
}

// --- Passport restore --------------------------------------------------------------

void RestorePassport(TModbusEngine &engine, IOperationHost &opHost, const QString &passportPath,
                     const QString &passportIniPath, const CommandTimeouts &timeouts,
                     int pauseMs)
{
    IBusHost &log = engine.host();
    Run run{engine, opHost, pauseMs};
    reported(log, [&] {
        TPsp psp;
        psp.Points = ReadPassportFile(passportPath);
        if (psp.Points.size() != GridPoints)
            throw ZartError(
                QStringLiteral("Неверное количество точек (%1)").arg(psp.Points.size()));

        const QString section = PassportSection(passportPath);
        ApplyExpLevel(psp, ReadExpLevel(passportIniPath, section));

        if (!ask(run, QStringLiteral("Серийный номер - %1. Записать паспорт во флеш?").arg(section)))
            throw ZartError(CancelledText);
        CheckSensorSerial(engine, opHost, PassportSerial(section), section, timeouts.shortMs);

        run.total = PassportRestoreWords;
        constexpr int last = GridPoints; // the gauge shows k / 441
        log.Log(QStringLiteral("Запись паспорта во флеш..."), LogInfo);
        for (int k = 0; k < GridPoints; ++k) {
            const PassportPoint &p = psp.Points[k];
            writeWord(run, FlashWordAddress(XTableIndex + k), PassportWord(p.X), timeouts.shortMs);
            pauseIfSet(opHost, pauseMs);
            writeWord(run, FlashWordAddress(YTableIndex + k), PassportWord(p.Y), timeouts.shortMs);
            afterPosition(opHost, k, last, pauseMs);
        }

        log.Log(QStringLiteral("Проверка записи..."), LogInfo);
        for (int k = 0; k < GridPoints; ++k) {
            const PassportPoint &p = psp.Points[k];
            const quint16 xAddress = FlashWordAddress(XTableIndex + k);
            if (readWord(run, xAddress, timeouts.shortMs) != PassportWord(p.X))
                differs(xAddress);
            pauseIfSet(opHost, pauseMs);
            const quint16 yAddress = FlashWordAddress(YTableIndex + k);
            if (readWord(run, yAddress, timeouts.shortMs) != PassportWord(p.Y))
                differs(yAddress);
            afterPosition(opHost, k, last, pauseMs);
        }

        writeExpLevelWords(run, psp, timeouts.shortMs);
        checksumCorrection(run, timeouts);
        log.Log(QStringLiteral("Паспорт записан успешно"), LogInfo);
    });
}

void WriteExpLevelWords(TModbusEngine &engine, IOperationHost &opHost, const TPsp &psp,
                        qint32 timeoutShortMs, int pauseMs)
{
    Run run{engine, opHost, pauseMs};
    reported(engine.host(), [&] { writeExpLevelWords(run, psp, timeoutShortMs); });
}

// --- The sensor checked before a restore writes -------------------------------------

void CheckSensorSerial(TModbusEngine &engine, IOperationHost &opHost,
                       std::optional<quint32> fileSerial, const QString &fileText,
                       qint32 timeoutShortMs)
{
    quint32 sensorSerial = 0;
    try {
        sensorSerial = ReadSerialNumber(engine, timeoutShortMs);
    } catch (const ZartError &e) {
        throw EOperationFailed(e.text()); // logged by the engine (or the decoder)
    }
    if (fileSerial && *fileSerial == sensorSerial)
        return;
    const QString inFile =
        fileSerial ? QString::asprintf("%.8X", unsigned(*fileSerial)) : fileText;
    const QString question = QString::asprintf("Серийный номер датчика - %.8X, в файле - ",
                                               unsigned(sensorSerial))
        + inFile + QStringLiteral(". Всё равно записать?");
    if (!opHost.askOtherSerial(question)) {
        if (opHost.stopRequested()) { // the box closed by a stop, not by the user's No
            const QString stopped = QString::fromUtf16(StoppedText);
            engine.host().Log(stopped, LogError);
            throw EOperationStopped(stopped);
        }
        engine.host().Log(CancelledText, LogError);
        throw EOperationFailed(CancelledText);
    }
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
    Run run{engine, opHost, pauseMs};
    return reported(log, [&] {
        opHost.progress(0);
        log.Log(QStringLiteral("Сравнение с дампом..."), LogInfo);
        FlashComparison result;
        constexpr int last = FlashWords - 1;
        for (int n = 0; n <= last; ++n) {
            const quint32 word = readWord(run, FlashWordAddress(n), timeoutShortMs);
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

QList<int> WordsToWrite(const FlashComparison &comparison)
{
    QList<int> words;
    for (const WordDifference &d : comparison.differences)
        if (d.counts() && !IsRestoreSkipped(d.index))
            words << d.index;
    return words;
}

void WriteDifferences(TModbusEngine &engine, IOperationHost &opHost, const FlashImage &image,
                      const FlashComparison &comparison, const CommandTimeouts &timeouts,
                      int pauseMs, const std::function<void(int)> &setAddress)
{
    const int counted = comparison.counted();
    if (counted == 0)
        return;
    IBusHost &log = engine.host();
    Run run{engine, opHost, pauseMs};
    reported(log, [&] {
        if (!ask(run, QStringLiteral("Записать отличающиеся слова (%1) во флеш?").arg(counted)))
            throw ZartError(CancelledText);
        CheckSensorSerial(engine, opHost, image[WordSerial], timeouts.shortMs);

        const QList<int> words = WordsToWrite(comparison);
        run.total = int(words.size());
        const auto gauge = [&](qsizetype i) {
            opHost.progress(qRound((i + 1) * 100.0 / double(words.size())));
            opHost.processEvents();
            pauseIfSet(opHost, pauseMs);
        };
        opHost.progress(0);
        log.Log(QStringLiteral("Запись отличающихся слов во флеш..."), LogInfo);
        for (qsizetype i = 0; i < words.size(); ++i) {
            const int n = words[i];
            writeWord(run, FlashWordAddress(n), image[std::size_t(n)], timeouts.shortMs);
            gauge(i);
        }
        log.Log(QStringLiteral("Проверка записи..."), LogInfo);
        for (qsizetype i = 0; i < words.size(); ++i) {
            const int n = words[i];
            const quint16 address = FlashWordAddress(n);
            if (readWord(run, address, timeouts.shortMs) != image[std::size_t(n)])
                differs(address);
            gauge(i);
        }

        checksumCorrection(run, timeouts);
        run.total = 0; // the address word is not one of the words counted
        restoreAddress(run, image[WordAddress], timeouts.shortMs, setAddress);
        log.Log(QStringLiteral("Восстановление успешно"), LogInfo);
    });
}

void RestoreDifferences(TModbusEngine &engine, IOperationHost &opHost, const QString &path,
                        const CommandTimeouts &timeouts, int pauseMs,
                        const std::function<void(int)> &setAddress)
{
    const FlashImage image = reported(engine.host(), [&] { return ReadDumpFile(path); });
    const FlashComparison comparison =
        CompareFlash(engine, opHost, image, timeouts.shortMs, pauseMs);
    WriteDifferences(engine, opHost, image, comparison, timeouts, pauseMs, setAddress);
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

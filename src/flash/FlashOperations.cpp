#include "flash/FlashOperations.h"

#include "common/AtomicFile.h"
#include "common/IniFile.h"
#include "flash/DumpFile.h"
#include "flash/DumpHistory.h"
#include "flash/PassportLevels.h"
#include "sensor/RegisterMap.h"
#include "modbus/ModbusMaster.h"
#include "sensor/SensorRequests.h"
#include "serial/SerialLink.h"

#include <QDateTime>
#include <QDir>
#include <algorithm>
#include <bit>
#include <cmath>
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

[[noreturn]] void cancelled(IBusHost &log)
{
    log.Log(CancelledText, LogError);
    throw EOperationFailed(CancelledText);
}

// A file the operation has read or written, told by its absolute path.
void tellFile(IOperationRecorder *told, const QString &path, FileUse use)
{
    if (told)
        told->fileUsed(QFileInfo(path).absoluteFilePath(), use);
}

// The sensor's serial number and firmware version, from a whole image read.
void tellSensor(IOperationRecorder *told, const FlashImage &image)
{
    if (!told)
        return;
    told->sensorSerial(image[WordSerial]);
    told->firmwareVersion(image[WordFirmware]);
}

// The sensor's serial number, read under the serial check's rule.
quint32 readSensorSerial(FlashPasses &passes)
{
    passes.request(RequestKind::SerialCheck, RequestReadSerial(), SerialNumberRegister,
                   passes.timeouts().shortMs, /*logTraffic=*/true);
    quint32 serial = 0;
    try {
        serial = DecodeSerial(passes.engine().ReplyBuf.data(), passes.engine().ReplyLen);
    } catch (const ZartError &e) {
        passes.log().Log(e.text(), LogError);
        throw EOperationFailed(e.text());
    }
    if (IOperationRecorder *told = passes.recorder())
        told->sensorSerial(serial);
    return serial;
}

// With the host's as-found folder set, the last step before a restore writes:
// the whole flash read (or, when the operation has read it already, that
// image) kept in history/ as it was found. It then gives the previous value of
// every word written. A flash that cannot be kept stops the restore here.
void keepAsFound(FlashPasses &passes, const FlashImage *readBefore = nullptr)
{
    const QString dir = passes.host().asFoundDir();
    if (dir.isEmpty())
        return;
    FlashImage image{};
    if (readBefore) {
        image = *readBefore;
    } else {
        image = passes.readAll(QStringLiteral("Чтение исходного дампа..."));
        // The serial number is the serial check's, told already.
        if (IOperationRecorder *told = passes.recorder())
            told->firmwareVersion(image[WordFirmware]);
    }
    QString kept;
    try {
        kept = KeepAsFoundDump(dir, image, QDateTime::currentDateTimeUtc());
    } catch (const ZartError &e) {
        throw ZartError(QStringLiteral("Исходный дамп не удалось сохранить в папке history (%1), "
                                       "запись не начата")
                            .arg(e.text()));
    }
    passes.log().Log(QStringLiteral("Исходный дамп сохранён в файле %1").arg(kept), LogInfo);
    tellFile(passes.recorder(), QDir(dir).filePath(kept), FileUse::AsFound);
}

// The sensor's serial number against the file's (see CheckSensorSerial).
// serialWritten: the write gives the sensor the file's serial number, and the
// question says so.
void checkSensorSerial(FlashPasses &passes, std::optional<quint32> fileSerial, const QString &fileText,
                       bool serialWritten)
{
    const quint32 sensorSerial = readSensorSerial(passes);
    if (fileSerial && *fileSerial == sensorSerial)
        return;
    const QString inFile =
        fileSerial ? QString::asprintf("%.8X", unsigned(*fileSerial)) : fileText;
    const QString question = QString::asprintf("Серийный номер датчика - %.8X, в файле - ",
                                               unsigned(sensorSerial))
        + inFile
        + (serialWritten ? QStringLiteral(". Датчик получит серийный номер из файла. Всё равно записать?")
                         : QStringLiteral(". Всё равно записать?"));
    if (!passes.host().askOtherSerial(question)) {
        passes.stopIfRequested(); // the box closed by a stop, not by the user's No
        cancelled(passes.log());
    }
}

// The words of a whole-image write: one position per flash word, the words a
// restore does not bring back left empty (their gauge and pause stay).
QList<QList<PassWord>> imagePositions(const FlashImage &image)
{
    QList<QList<PassWord>> positions(FlashWords);
    for (int n = 0; n < FlashWords; ++n)
        if (!IsRestoreSkipped(n))
            positions[n] = {{FlashWordAddress(n), image[std::size_t(n)], image[std::size_t(n)]}};
    return positions;
}

// The exposure and threshold words: written as their low byte, each followed
// by the pause, then read back and compared as whole words with the passport's
// values (a value that does not fit the low byte cannot have been stored and is
// reported there).
WritePass expLevelPass(const PassportData &psp)
{
    WritePass pass{QStringLiteral("Запись экспозиций и уровней..."),
                   QStringLiteral("Проверка экспозиций и уровней..."), {}, 0, 0};
    for (const ExpLevelWord &w : ExpLevelWords(psp))
        pass.positions.append({{w.address, ExpLevelWordValue(w.value), quint32(w.value)}});
    return pass;
}

// The two calibration tables: point k is position k, its X word then its Y word.
WritePass tablesPass(const PassportData &psp)
{
    WritePass pass{QStringLiteral("Запись паспорта во флеш..."), QStringLiteral("Проверка записи..."),
                   {}, 0, GridPoints};
    for (int k = 0; k < GridPoints; ++k) {
        const PassportPoint &p = psp.Points[k];
        const quint32 x = PassportWord(p.X);
        const quint32 y = PassportWord(p.Y);
        pass.positions.append({{FlashWordAddress(XTableIndex + k), x, x},
                               {FlashWordAddress(YTableIndex + k), y, y}});
    }
    return pass;
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
// content; returns "history/<name>" of the copy, or nothing. A failure stops
// the dump files there: the old file stays as it is.
QString keepOldFile(IBusHost &log, const QString &path, const QByteArray &newContent,
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
    return kept;
}

// The levels of a sensor that a dump replaces with others are kept in
// history/passport.ini, in the section of the passport copy kept with them
// (a copy is made when the passport text itself has not changed), so that a
// passport from history/ restores with its own levels.
void keepOldLevels(IBusHost &log, const DumpFiles &files, const QString &oldLevels,
                   const QString &newLevels, QString keptPassport)
{
    if (oldLevels.isEmpty() || oldLevels == newLevels || !QFileInfo::exists(files.passport))
        return;
    if (keptPassport.isEmpty())
        keptPassport = keepOldFile(log, files.passport, QByteArray(), OldPassportTexts); // differs from any file
    const QString section = QFileInfo(keptPassport).completeBaseName();
    const QString historyIni = QFileInfo(files.passport).dir().filePath(
        QString::fromUtf16(HistoryDirName) + u'/' + QString::fromUtf16(PassportIniName));
    try {
        WriteExpLevelText(historyIni, section, oldLevels);
    } catch (const ZartError &e) {
        throw ZartError(QStringLiteral("Прежние уровни не удалось сохранить в папке history (%1), "
                                       "данные паспорта не записаны")
                            .arg(e.text()));
    }
    log.Log(QStringLiteral("Прежние уровни (%1) сохранены в файле %2/%3 [%4]")
                .arg(oldLevels, QString::fromUtf16(HistoryDirName), QString::fromUtf16(PassportIniName),
                     section),
            LogInfo);
}

} // namespace


// --- Dump creation -------------------------------------------------------------

FlashImage ReadFlashImage(ModbusMaster &engine, IOperationHost &opHost, qint32 timeoutShortMs,
                          int pauseMs)
{
    FlashPasses passes(engine, opHost, pauseMs, {CommandTimeouts{}.longMs, timeoutShortMs});
    return reported(engine.host(), [&] { return passes.readAll(QStringLiteral("Чтение флеш...")); });
}

DumpFiles SaveDumpFiles(IBusHost &log, const FlashImage &image, const QString &dir,
                        IOperationRecorder *recorder)
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
        tellFile(recorder, files.dump, FileUse::Written);
        log.Log(QStringLiteral("Дамп сохранён в файле %1...").arg(fileNameOf(files.dump)), LogInfo);

        const QByteArray passportText = PassportText(image);
        const QString oldLevels = IniFile(files.passportIni)
                                      .readString(SerialText(serial), QString::fromUtf16(ExpLevelKey))
                                      .trimmed();
        const QString newLevels = ExpLevelText(image);
        const QString keptPassport = keepOldFile(log, files.passport, passportText, OldPassportTexts);
        keepOldLevels(log, files, oldLevels, newLevels, keptPassport);
        WriteFileAtomically(files.passport, passportText);
        tellFile(recorder, files.passport, FileUse::Written);
        log.Log(QStringLiteral("Паспорт сохранён в файле %1...").arg(fileNameOf(files.passport)),
                LogInfo);

        WriteExpLevel(files.passportIni, image);
        tellFile(recorder, files.passportIni, FileUse::Written);
        log.Log(QStringLiteral("Данные паспорта сохранены в файле %1...")
                    .arg(fileNameOf(files.passportIni)),
                LogInfo);
        return files;
    });
}

DumpFiles CreateDump(ModbusMaster &engine, IOperationHost &opHost, const QString &dir,
                     qint32 timeoutShortMs, int pauseMs)
{
    FlashPasses passes(engine, opHost, pauseMs, {CommandTimeouts{}.longMs, timeoutShortMs});
    const FlashImage image = reported(engine.host(), [&] {
        FlashImage read = passes.readAll(QStringLiteral("Чтение флеш..."));
        tellSensor(passes.recorder(), read);
        // A stop after the last word still writes nothing: the files are
        // written all together or not at all.
        passes.stopIfRequested();
        if (const QStringList bad = NonFiniteCalibrationPoints(read); !bad.isEmpty())
            engine.host().Log(NonFiniteCalibrationLine(bad), LogError);
        return read;
    });
    return SaveDumpFiles(engine.host(), image, dir, opHost.recorder());
}

// --- Dump restore ----------------------------------------------------------------

void RestoreDump(ModbusMaster &engine, IOperationHost &opHost, const QString &path,
                 const CommandTimeouts &timeouts, int pauseMs,
                 const std::function<void(int)> &setAddress)
{
    IBusHost &log = engine.host();
    FlashPasses passes(engine, opHost, pauseMs, timeouts);
    reported(log, [&] {
        const FlashImage image = ReadDumpFile(path);
        tellFile(passes.recorder(), path, FileUse::Read);

        if (!passes.ask(QString::asprintf("Серийный номер из файла - %.8X. Записать дамп во флеш?",
                                          unsigned(image[WordSerial]))))
            cancelled(log);
        checkSensorSerial(passes, image[WordSerial], QString(), /*serialWritten=*/true);
        keepAsFound(passes);

        constexpr int last = FlashWords - 1;
        passes.writeAndVerify({WritePass{QStringLiteral("Запись дампа во флеш..."),
                                         QStringLiteral("Проверка записи..."), imagePositions(image), 0,
                                         last}},
                              WriteJob::Dump);
        passes.correctChecksum();
        passes.writeAddress(image[WordAddress], setAddress);
        passes.reportDeferredStop();
        log.Log(QStringLiteral("Восстановление успешно"), LogInfo);
    });
}

void RestoreAddress(ModbusMaster &engine, IOperationHost &opHost, quint32 addressWord,
                    qint32 timeoutShortMs, const std::function<void(int)> &setAddress)
{
    FlashPasses passes(engine, opHost, 0, {CommandTimeouts{}.longMs, timeoutShortMs});
    reported(engine.host(), [&] { passes.writeAddress(addressWord, setAddress); });
}

// --- Passport restore --------------------------------------------------------------

void RestorePassport(ModbusMaster &engine, IOperationHost &opHost, const QString &passportPath,
                     const QString &dataIniPath, const CommandTimeouts &timeouts, int pauseMs)
{
    IBusHost &log = engine.host();
    FlashPasses passes(engine, opHost, pauseMs, timeouts);
    reported(log, [&] {
        PassportData psp;
        psp.Points = ReadPassportFile(passportPath);
        if (psp.Points.size() != GridPoints)
            throw ZartError(
                QStringLiteral("Неверное количество точек (%1)").arg(psp.Points.size()));

        const QString section = PassportSection(passportPath);
        const PassportLevels levels = FindPassportLevels(log, passportPath, dataIniPath);
        ApplyExpLevel(psp, levels.values);
        tellFile(passes.recorder(), passportPath, FileUse::Read);
        tellFile(passes.recorder(), levels.iniPath, FileUse::Read);

        if (!passes.ask(QStringLiteral("Серийный номер - %1. Записать паспорт во флеш?").arg(section)))
            cancelled(log);
        checkSensorSerial(passes, PassportSerial(section), section, /*serialWritten=*/false);
        keepAsFound(passes);

        passes.writeAndVerify({tablesPass(psp), expLevelPass(psp)}, WriteJob::Passport);
        passes.correctChecksum();
        passes.reportDeferredStop();
        log.Log(QStringLiteral("Паспорт записан успешно"), LogInfo);
    });
}

void WriteExpLevelWords(ModbusMaster &engine, IOperationHost &opHost, const PassportData &psp,
                        qint32 timeoutShortMs, int pauseMs)
{
    FlashPasses passes(engine, opHost, pauseMs, {CommandTimeouts{}.longMs, timeoutShortMs});
    reported(engine.host(), [&] { passes.writeAndVerify({expLevelPass(psp)}, WriteJob::Passport); });
}

// --- The sensor checked before a restore writes -------------------------------------

void CheckSensorSerial(ModbusMaster &engine, IOperationHost &opHost,
                       std::optional<quint32> fileSerial, const QString &fileText,
                       qint32 timeoutShortMs)
{
    FlashPasses passes(engine, opHost, 0, {CommandTimeouts{}.longMs, timeoutShortMs});
    checkSensorSerial(passes, fileSerial, fileText, /*serialWritten=*/true);
}

// --- Comparison of the sensor with a dump ------------------------------------------

int FlashComparison::counted() const
{
    return int(std::count_if(differences.begin(), differences.end(),
                             [](const WordDifference &d) { return d.counts(); }));
}

FlashComparison CompareFlash(ModbusMaster &engine, IOperationHost &opHost, const FlashImage &image,
                             qint32 timeoutShortMs, int pauseMs)
{
    IBusHost &log = engine.host();
    FlashPasses passes(engine, opHost, pauseMs, {CommandTimeouts{}.longMs, timeoutShortMs});
    return reported(log, [&] {
        const FlashImage sensor = passes.readAll(QStringLiteral("Сравнение с дампом..."));
        tellSensor(passes.recorder(), sensor);
        FlashComparison result;
        for (int n = 0; n < FlashWords; ++n)
            if (sensor[std::size_t(n)] != image[std::size_t(n)])
                result.differences.append({n, image[std::size_t(n)], sensor[std::size_t(n)]});
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
void WriteDifferences(ModbusMaster &engine, IOperationHost &opHost, const FlashImage &image,
                      const FlashComparison &comparison, const CommandTimeouts &timeouts,
                      int pauseMs, const std::function<void(int)> &setAddress)
{
    const int counted = comparison.counted();
    if (counted == 0)
        return;
    IBusHost &log = engine.host();
    FlashPasses passes(engine, opHost, pauseMs, timeouts);
    reported(log, [&] {
        // The question counts the words it writes: the address word is
        // offered apart, at the end.
        const QList<int> words = WordsToWrite(comparison);
        if (!passes.ask(QStringLiteral("Записать отличающиеся слова (%1) во флеш?").arg(words.size())))
            cancelled(log);
        checkSensorSerial(passes, image[WordSerial], QString(),
                          /*serialWritten=*/words.contains(WordSerial));
        // The comparison has read every word: the sensor holds the dump's
        // value but where it found a difference.
        FlashImage found = image;
        for (const WordDifference &d : comparison.differences)
            found[std::size_t(d.index)] = d.sensorValue;
        passes.knowFlash(found);
        keepAsFound(passes, &found);

        WritePass pass{QStringLiteral("Запись отличающихся слов во флеш..."),
                       QStringLiteral("Проверка записи..."), {}, 1, int(words.size())};
        for (const int n : words)
            pass.positions.append({{FlashWordAddress(n), image[std::size_t(n)], image[std::size_t(n)]}});
        opHost.progress(0);
        passes.writeAndVerify({pass}, WriteJob::Differences);
        passes.correctChecksum();
        passes.writeAddress(image[WordAddress], setAddress);
        passes.reportDeferredStop();
        log.Log(QStringLiteral("Восстановление успешно"), LogInfo);
    });
}

void RestoreDifferences(ModbusMaster &engine, IOperationHost &opHost, const QString &path,
                        const CommandTimeouts &timeouts, int pauseMs,
                        const std::function<void(int)> &setAddress)
{
    const FlashImage image = reported(engine.host(), [&] { return ReadDumpFile(path); });
    tellFile(opHost.recorder(), path, FileUse::Read);
    const FlashComparison comparison =
        CompareFlash(engine, opHost, image, timeouts.shortMs, pauseMs);
    WriteDifferences(engine, opHost, image, comparison, timeouts, pauseMs, setAddress);
}


// --- Calibration moved from a dump ---------------------------------------------------

QStringList NonFiniteCalibrationPoints(const FlashImage &image)
{
    QStringList names;
    for (int k = 0; k < 2 * GridPoints; ++k) {
        const int index = (k < GridPoints ? XTableIndex : YTableIndex - GridPoints) + k;
        if (!std::isfinite(std::bit_cast<float>(image[std::size_t(index)])))
            names << FlashWordName(index);
    }
    return names;
}

QString NonFiniteCalibrationLine(const QStringList &names)
{
    constexpr qsizetype Shown = 20;
    QString line = QStringLiteral("В калибровке нечисловые значения (%1): ").arg(names.size())
        + names.mid(0, Shown).join(QStringLiteral(", "));
    if (names.size() > Shown)
        line += QStringLiteral(" и ещё %1").arg(names.size() - Shown);
    return line;
}

void RestoreCalibration(ModbusMaster &engine, IOperationHost &opHost, const QString &path,
                        const CommandTimeouts &timeouts, int pauseMs)
{
    IBusHost &log = engine.host();
    FlashPasses passes(engine, opHost, pauseMs, timeouts);
    reported(log, [&] {
        const FlashImage image = ReadDumpFile(path);
        tellFile(passes.recorder(), path, FileUse::Read);
        if (const QStringList bad = NonFiniteCalibrationPoints(image); !bad.isEmpty())
            log.Log(NonFiniteCalibrationLine(bad), LogError);
        const quint32 sensorSerial = readSensorSerial(passes);
        if (!passes.ask(QString::asprintf("Калибровка датчика %.8X будет записана в датчик %.8X. Записать?",
                                          unsigned(image[WordSerial]), unsigned(sensorSerial))))
            cancelled(log);
        keepAsFound(passes);

        // The passport restore's words, with the dump's own bits: the tables
        // point by point, then the four exposure and threshold words whole.
        WritePass tables{QStringLiteral("Запись калибровки во флеш..."), QStringLiteral("Проверка записи..."),
                         {}, 0, GridPoints};
        for (int k = 0; k < GridPoints; ++k) {
            const quint32 x = image[std::size_t(XTableIndex + k)];
            const quint32 y = image[std::size_t(YTableIndex + k)];
            tables.positions.append({{FlashWordAddress(XTableIndex + k), x, x},
                                     {FlashWordAddress(YTableIndex + k), y, y}});
        }
        WritePass levels{QStringLiteral("Запись экспозиций и уровней..."),
                         QStringLiteral("Проверка экспозиций и уровней..."), {}, 0, 0};
        for (const int n : {WordExposureX, WordExposureY, WordThresholdX, WordThresholdY})
            levels.positions.append({{FlashWordAddress(n), image[std::size_t(n)], image[std::size_t(n)]}});
        passes.writeAndVerify({tables, levels}, WriteJob::Calibration);
        passes.correctChecksum();
        passes.reportDeferredStop();
        log.Log(QStringLiteral("Калибровка записана успешно"), LogInfo);
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
    for (const FlashField &rec : FlashList) {
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
    for (const FlashField &rec : FlashList) {
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

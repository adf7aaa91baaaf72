#pragma once

#include "flash/FlashImage.h"
#include "flash/FlashPasses.h"
#include "flash/Passport.h"
#include "sensor/SensorCommands.h"
#include "common/ZartError.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

class IBusHost;
class ModbusMaster;

// The long operations on the whole flash image: dump creation with the passport
// export, the comparison, dump restore (whole or the differences) and passport
// restore. They run on the caller's thread, one request per flash word, on the
// passes of FlashPasses, and talk to the caller through two seams: the
// engine's IBusHost for the console log and the bus address, and
// IOperationHost for the progress gauge, the pending window events, the pause
// between requests, the questions, the stop and the retries.
//
// Failures. Every failure ends the operation and leaves it as an
// EOperationFailed, which has been written to the log already: a failed exchange
// by the transaction engine (red, in its own words), anything else (a file that
// cannot be read or written, a refused file, a read-back difference, a declined
// question) by the operation, in red. Callers catch it and stop without adding
// anything. Nothing is rolled back: words written before a failure stay written,
// and the log says where the sensor stands and how to finish the job.
//
// Stop. A stop asked for ends the operation before the next request that its
// kind lets a stop precede (RuleOf): it logs "Остановлено пользователем" in red
// and leaves as an EOperationStopped. Once every word of a write is written and
// verified, the checksum correction and the address word run to their end and
// the stop is reported after them. A question answered No while a stop is
// requested stops the same way.
//
// Retries. With IOperationHost::retries() above 0, a request that failed on the
// line (time-out, CRC, length, incomplete reply: IsRepeatableFailure) is sent
// again after the group pause, up to that many times, each repeat announced by
// "Повтор %d из %d: адрес 0x%.4X", unless its kind forbids it (the address word).
//
// What is told. With IOperationHost::recorder() the operations tell what they
// have done, from what they read anyway: the sensor's serial number (a whole
// image's word 1, the serial check) and firmware version (word 0x3FA of a whole
// image), every flash word whose write has taken effect with the value it
// replaced where the operation had read it (by a comparison, the as-found read
// or an earlier read-back), and each file read or written.
//
// As found. With IOperationHost::asFoundDir() set, a restore (whole, the
// differences, passport, calibration) reads the whole flash once its questions
// are answered and before it writes ("Чтение исходного дампа..."), and keeps it
// in history/ of that folder (KeepAsFoundDump), logged as "Исходный дамп
// сохранён в файле history/<name>". The differences restore keeps the flash its
// comparison read instead of reading it again. A flash that cannot be kept
// fails the restore before anything is written.

// The number of words a dump restore writes (every word but 0 and 6), and the
// number a passport restore writes (the two tables and the four exposure and
// threshold words).
inline constexpr int DumpRestoreWords = FlashWords - 2;
inline constexpr int PassportRestoreWords = 2 * GridPoints + 4;

// --- Dump creation -------------------------------------------------------------

// The three files a dump creation writes.
struct DumpFiles
{
    QString dump;        // <dir>/%.8X.dmp
    QString passport;    // <dir>/%.8X.ini
    QString passportIni; // <dir>/passport.ini
};

// Reads the sensor's 1024 flash words, one request each without traffic lines.
// After every word: gauge n / 1023 * 100 rounded, pending events, and the pause
// unless it was the last word. Sets the gauge to 0 and logs "Чтение флеш..."
// first.
FlashImage ReadFlashImage(ModbusMaster &engine, IOperationHost &opHost, qint32 timeoutShortMs,
                          int pauseMs);

// Writes, in this order and each with its log line, the dump file, the passport
// text file and the image's "ExpLevel" entry in "passport.ini" (other sections
// and keys kept), all in dir. Each file is written beside its target and renamed
// over it, so an existing file survives a failed write. A file failure is logged
// in red and stops the later steps; the files of the earlier steps remain.
// A dump or passport text that the new one would replace with other content is
// kept first in history/ beside it (KeepInHistory), logged as "Прежний дамп
// (паспорт) сохранён в файле history/<name>"; when it cannot be kept, nothing
// replaces it and the later steps are not taken.
// Each file written is told to recorder (FileUse::Written), when one is given.
DumpFiles SaveDumpFiles(IBusHost &log, const FlashImage &image, const QString &dir,
                        IOperationRecorder *recorder = nullptr);

// ReadFlashImage, then SaveDumpFiles. A failed read writes no file at all.
DumpFiles CreateDump(ModbusMaster &engine, IOperationHost &opHost, const QString &dir,
                     qint32 timeoutShortMs, int pauseMs);

// --- Dump restore ----------------------------------------------------------------

// Writes the dump file at path into the sensor: size check, the serial number
// question, CheckSensorSerial with word 1 of the file, the write pass and the verify pass over every word but 0 and 6 (gauge,
// events and pause at each of the 1024 positions of each pass, the last one
// included), the checksum correction (whose failure fails the restore), then
// RestoreAddress with word 0 of the file, and
// "Восстановление успешно".
void RestoreDump(ModbusMaster &engine, IOperationHost &opHost, const QString &path,
                 const CommandTimeouts &timeouts, int pauseMs,
                 const std::function<void(int)> &setAddress);

// The last step of a dump restore: when the bus address differs from the whole
// word addressWord, asks "Новый адрес - $%.2X. Записать?" with its low byte; on
// Yes writes the word to 0x1000 with traffic lines, then passes the low byte to
// setAddress. A low byte that is no bus address (0 or above 247) is never
// offered: writing it would leave the sensor unreachable; that is logged in red
// and the step ends without sending anything.
void RestoreAddress(ModbusMaster &engine, IOperationHost &opHost, quint32 addressWord,
                    qint32 timeoutShortMs, const std::function<void(int)> &setAddress);

// --- Passport restore --------------------------------------------------------------

// Reads the passport at passportPath (441 points) and its "ExpLevel" entry by
// FindPassportLevels (the passport.ini beside the passport when it holds the
// passport's section, else dataIniPath, the data folder's), asks
// "Серийный номер - %s. Записать паспорт во флеш?", CheckSensorSerial with the
// section name (PassportSerial), writes and verifies the two
// calibration tables, then WriteExpLevelWords, the checksum correction (whose
// failure fails the restore) and "Паспорт записан успешно".
void RestorePassport(ModbusMaster &engine, IOperationHost &opHost, const QString &passportPath,
                     const QString &dataIniPath, const CommandTimeouts &timeouts, int pauseMs);

// --- Calibration moved from a dump ---------------------------------------------------

// Moves the calibration of the dump at path into the sensor, keeping the
// sensor's identity: reads the sensor's serial number, asks "Калибровка
// датчика %.8X будет записана в датчик %.8X. Записать?" (the dump's, the
// sensor's), writes and verifies exactly the words a passport restore writes
// (the X and Y tables, then the exposure and threshold words 2..5 whole), with
// the dump's own bits, corrects the checksum and logs "Калибровка записана
// успешно". The serial number, the address and every other word stay as they
// are. A dump whose calibration holds non-finite values says so first
// (NonFiniteCalibrationLine, red).
void RestoreCalibration(ModbusMaster &engine, IOperationHost &opHost, const QString &path,
                        const CommandTimeouts &timeouts, int pauseMs);

// The names ("X4", "Y8") of the calibration words of an image that hold no
// finite single (NaN, infinities, an erased word).
QStringList NonFiniteCalibrationPoints(const FlashImage &image);
// "В калибровке нечисловые значения (N): X4, Y8", the first 20 names, then
// "и ещё M". A dump logs it in red after the last word is read.
QString NonFiniteCalibrationLine(const QStringList &names);

// Steps of the passport restore after the tables: the exposure and threshold
// words written as their low byte (each followed by the pause), then read back
// and compared as whole words with the passport's values.
void WriteExpLevelWords(ModbusMaster &engine, IOperationHost &opHost, const PassportData &psp,
                        qint32 timeoutShortMs, int pauseMs);

// --- The sensor checked before a restore writes -------------------------------------

// Reads the sensor's serial number (the serial number command, with its traffic
// lines) and compares it with the file's: fileSerial, shown as %.8X, or none for
// a file that names no serial number (fileText is then shown as it is). On a
// difference asks askOtherSerial("Серийный номер датчика - %.8X, в файле - %s.
// Всё равно записать?"); a No ends the operation with "Запись отменена
// пользователем" before anything is written. A failed read ends it as well.
void CheckSensorSerial(ModbusMaster &engine, IOperationHost &opHost,
                       std::optional<quint32> fileSerial, const QString &fileText,
                       qint32 timeoutShortMs);
inline void CheckSensorSerial(ModbusMaster &engine, IOperationHost &opHost, quint32 fileSerial,
                              qint32 timeoutShortMs)
{
    CheckSensorSerial(engine, opHost, fileSerial, QString(), timeoutShortMs);
}

// --- Comparison of the sensor with a dump ------------------------------------------

// A flash word whose value in the sensor differs from the dump's.
struct WordDifference
{
    int index; // word index, 0..1023
    quint32 fileValue;
    quint32 sensorValue;
    // Whether the difference counts: not for a word that a restore does not
    // bring back (IsNotRestored).
    bool counts() const { return !IsNotRestored(index); }
};

struct FlashComparison
{
    QList<WordDifference> differences; // index ascending
    int counted() const;
};

// Reads every one of the 1024 flash words (one request each, no traffic lines,
// nothing written) and compares it with the image. Logs "Сравнение с дампом..."
// first; after every word sets the gauge to n / 1023 * 100 rounded, lets pending
// events run and pauses, except after the last. Ends with "Отличий нет" (green)
// or "Отличается слов: N" (red) for the differences that count, preceded by an
// information line when words that are not restored differ. A failed exchange
// ends it as an EOperationFailed.
FlashComparison CompareFlash(ModbusMaster &engine, IOperationHost &opHost, const FlashImage &image,
                             qint32 timeoutShortMs, int pauseMs);

// The words a restore of the differences writes: those that differ and count,
// but for the address word (left to RestoreAddress); index ascending.
QList<int> WordsToWrite(const FlashComparison &comparison);

// Writes the differences a comparison with `image` found: asks "Записать
// отличающиеся слова (%d) во флеш?" with the count of WordsToWrite, then
// CheckSensorSerial with word 1 of the image, writes WordsToWrite (gauge, events
// and pause after each), reads each of them back ("Данные различаются по адресу
// 0x%.4X" on a difference), runs the checksum correction and RestoreAddress with word 0, and logs "Восстановление успешно".
// Without counted differences it does nothing and asks nothing.
void WriteDifferences(ModbusMaster &engine, IOperationHost &opHost, const FlashImage &image,
                      const FlashComparison &comparison, const CommandTimeouts &timeouts,
                      int pauseMs, const std::function<void(int)> &setAddress);

// The dump file at path against the sensor (CompareFlash), then WriteDifferences:
// a restore that writes only the words that differ.
void RestoreDifferences(ModbusMaster &engine, IOperationHost &opHost, const QString &path,
                        const CommandTimeouts &timeouts, int pauseMs,
                        const std::function<void(int)> &setAddress);

// "0x%.4X<TAB>file<TAB>sensor<TAB>name": the sensor address, the two words as eight
// hex digits, the viewer's name of the word, followed by " (не восстанавливается)"
// for a word that does not count.
QString DifferenceLine(const WordDifference &difference);

// The line that names the columns of DifferenceLine, TAB-separated as they are:
// "Адрес", "Файл", "Датчик", "Поле".
QString DifferenceHeaderLine();

// The name the dump viewer gives word `index`: a field's name, "X%d" or "Y%d" of
// a calibration point, empty for a word the viewer does not show.
QString FlashWordName(int index);

// --- Dump viewer -------------------------------------------------------------------

// The 894 rows of the dump viewer below its header, each (name, value, raw):
// the 12 named fields, then X1..X441 and Y1..Y441.
QList<QStringList> DumpViewRows(const FlashImage &image);
inline constexpr int DumpViewRowCount = int(FlashList.size()) + 2 * GridPoints; // 894

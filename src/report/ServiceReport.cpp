#include "report/ServiceReport.h"

#include "common/AtomicFile.h"
#include "flash/DumpFile.h"
#include "flash/DumpHistory.h"
#include "sensor/SensorRequests.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

QByteArray sha256Of(const QByteArray &bytes)
{
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex();
}

// The file's whole content, or nothing with the reason in *why.
std::optional<QByteArray> readWhole(const QString &path, QString *why)
{
    QFile file(path);
    if (!file.exists()) {
        *why = QStringLiteral("файл не найден");
        return std::nullopt;
    }
    if (!file.open(QIODevice::ReadOnly)) {
        *why = QStringLiteral("файл не прочитан: %1").arg(file.errorString());
        return std::nullopt;
    }
    // A dump is 4 KiB; anything far larger is not one, and is not read whole.
    if (file.size() > 64 * 1024) {
        *why = QStringLiteral("файл не является дампом (%1 байт, ожидается %2)")
                   .arg(file.size())
                   .arg(DumpFileSize);
        return std::nullopt;
    }
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        *why = QStringLiteral("файл не прочитан: %1").arg(file.errorString());
        return std::nullopt;
    }
    return bytes;
}

// A dump replaced by a later one was kept in history/ beside it first, named
// after it: the copy whose content has the recorded hash, if there is one.
QString keptCopy(const QString &path, const QByteArray &sha256)
{
    if (sha256.isEmpty())
        return {};
    const QFileInfo info(path);
    QDir history(info.dir().filePath(QString::fromUtf16(HistoryDirName)));
    const QString suffix = info.suffix().isEmpty() ? QString() : u'.' + info.suffix();
    const QStringList names =
        history.entryList({info.completeBaseName() + QStringLiteral("-*") + suffix}, QDir::Files, QDir::Name);
    for (const QString &name : names) {
        QString ignored;
        const auto bytes = readWhole(history.filePath(name), &ignored);
        if (bytes && sha256Of(*bytes) == sha256)
            return history.filePath(name);
    }
    return {};
}

// Reads a dump of the period: the file at its path when its content is the one
// recorded (or no hash was recorded), else its copy in history/; the image
// only when that content is a dump.
void readDump(ReportDump &dump)
{
    QString why;
    std::optional<QByteArray> bytes = readWhole(dump.path, &why);
    QString from = dump.path;
    const bool changed =
        bytes && !dump.recordedSha256.isEmpty() && sha256Of(*bytes) != dump.recordedSha256;
    if (!bytes || changed) {
        if (const QString copy = keptCopy(dump.path, dump.recordedSha256); !copy.isEmpty()) {
            QString ignored;
            bytes = readWhole(copy, &ignored);
            from = copy;
        } else if (changed) {
            dump.sha256 = sha256Of(*bytes);
            dump.problem = QStringLiteral("файл изменён после записи");
            return;
        } else {
            dump.problem = why;
            return;
        }
    }
    dump.readFrom = from;
    dump.sha256 = sha256Of(*bytes);
    if (!DumpSizeFailure(from, bytes->size()).isEmpty()) {
        dump.problem = QStringLiteral("файл не является дампом (%1 байт, ожидается %2)")
                           .arg(bytes->size())
                           .arg(DumpFileSize);
        return;
    }
    dump.image = ImageFromDump(*bytes);
}

// The dump file an operation of the period tells of: the one a successful
// dump wrote (its .dmp, the first written), or the flash a restore kept as found.
std::optional<ReportDump> dumpOf(const OperationEntry &e)
{
    const RecordedFile *chosen = nullptr;
    if (e.kind == RecordedKind::Dump && e.result == RecordedResult::Success) {
        for (const RecordedFile &f : e.files) {
            if (f.use != FileUse::Written)
                continue;
            if (f.path.endsWith(u".dmp", Qt::CaseInsensitive)) {
                chosen = &f;
                break;
            }
            if (!chosen)
                chosen = &f;
        }
    } else {
        for (const RecordedFile &f : e.files)
            if (f.use == FileUse::AsFound) {
                chosen = &f;
                break;
            }
    }
    if (!chosen)
        return std::nullopt;
    ReportDump d;
    d.operationId = e.id;
    d.time = e.started;
    d.kind = e.kind;
    d.use = chosen->use;
    d.path = chosen->path;
    d.recordedSha256 = chosen->sha256;
    return d;
}

QString localTime(const QDateTime &t)
{
    return t.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

QString dumpWords(const ReportDump &d)
{
    return d.use == FileUse::AsFound
               ? QStringLiteral("дамп до записи операции «%1» от %2")
                     .arg(KindTitle(d.kind), localTime(d.time))
               : QStringLiteral("дамп от %1").arg(localTime(d.time));
}

} // namespace

QString NoDumpsText()
{
    return QStringLiteral("В периоде нет дампов");
}

ServiceReport BuildServiceReport(const QList<OperationEntry> &operations, quint32 serial,
                                 const QDateTime &since, const QDateTime &until,
                                 const RecordContext &maker)
{
    ServiceReport r;
    r.made = until.toUTC();
    r.maker = maker;
    r.serial = serial;
    r.since = since.isValid() ? since.toUTC() : QDateTime();
    r.until = until.toUTC();
    for (const OperationEntry &e : operations)
        if (e.serial == serial && (!since.isValid() || e.started >= since) && e.started <= until)
            r.operations.append(e);

    for (const OperationEntry &e : std::as_const(r.operations)) {
        if (e.firmware)
            r.firmware = e.firmware;
        r.busAddress = e.busAddress;
        if (!e.port.isEmpty())
            r.port = e.port;
        r.lastContext = e.context;
    }

    // The first dump of the period is the flash as found, the last dump (not
    // a kept as-found one: a restore wrote after it) the flash as left.
    QList<ReportDump> found;
    qsizetype lastDumpAt = -1;
    for (qsizetype i = 0; i < r.operations.size(); ++i)
        if (std::optional<ReportDump> d = dumpOf(r.operations[i])) {
            if (d->use == FileUse::Written)
                lastDumpAt = i;
            found.append(*d);
        }
    if (found.isEmpty()) {
        r.dumpChoice = NoDumpsText();
        return r;
    }
    r.asFound = found.first();
    for (const ReportDump &d : std::as_const(found))
        if (d.use == FileUse::Written)
            r.asLeft = d;

    QStringList choice;
    if (r.asFound->use == FileUse::AsFound)
        choice << QStringLiteral("Как найдено: %1 — он раньше всех дампов периода.")
                      .arg(dumpWords(*r.asFound));
    else
        choice << QStringLiteral("Как найдено: первый дамп периода (%1).").arg(dumpWords(*r.asFound));
    if (!r.asLeft)
        choice << QStringLiteral("Как оставлено: дампа после работ в периоде нет.");
    else if (r.asLeft->operationId == r.asFound->operationId)
        choice << QStringLiteral("Как оставлено: тот же дамп — другого в периоде нет.");
    else
        choice << QStringLiteral("Как оставлено: последний дамп периода (%1).")
                      .arg(dumpWords(*r.asLeft));
    r.dumpChoice = choice.join(u' ');

    if (r.asLeft)
        for (qsizetype i = lastDumpAt + 1; i < r.operations.size(); ++i)
            if (r.operations[i].wordsWritten > 0)
                r.writesAfterAsLeft.append(r.operations[i]);

    readDump(*r.asFound);
    if (r.asLeft) {
        if (r.asLeft->operationId == r.asFound->operationId && r.asLeft->use == r.asFound->use)
            r.asLeft = r.asFound;
        else
            readDump(*r.asLeft);
    }
    if (r.asFound->image && r.asLeft && r.asLeft->image)
        r.comparison = CompareDumps(*r.asFound->image, *r.asLeft->image);
    if (r.asLeft && r.asLeft->image) {
        r.asLeftGrid = GridOfImage(*r.asLeft->image, QFileInfo(r.asLeft->path).fileName());
        r.check = CheckCalibration(*r.asLeftGrid);
        for (const int k : r.check->faultyPoints())
            r.markedPoints.append(
                {k, r.check->faults[std::size_t(k)], FaultyPointText(*r.asLeftGrid, *r.check, k)});
    }
    return r;
}

ServiceReport BuildServiceReport(const ServiceRecord &record, quint32 serial,
                                 const QDateTime &since, const QDateTime &until,
                                 const RecordContext &maker)
{
    HistoryFilter filter;
    filter.serial = serial;
    filter.since = since;
    filter.until = until;
    return BuildServiceReport(record.history(filter, /*details=*/true), serial, since, until, maker);
}

QString ReportJsonPath(const QString &pdfPath)
{
    const QFileInfo info(pdfPath);
    return info.dir().filePath(info.completeBaseName() + QStringLiteral(".json"));
}

ServiceReportFiles MakeServiceReport(ServiceRecord &record, quint32 serial, const QDateTime &since,
                                     const QString &pdfPath, const RecordContext &maker,
                                     const QDateTime &now)
{
    HistoryFilter ever;
    ever.serial = serial;
    if (record.history(ever).isEmpty())
        throw ZartError(QStringLiteral("В журнале обслуживания %1 нет операций датчика %2")
                            .arg(record.displayName(), SerialText(serial)));

    const QFileInfo target(pdfPath);
    if (!target.dir().exists())
        throw ZartError(QStringLiteral("Протокол не записан: нет папки %1")
                            .arg(QDir::toNativeSeparators(target.dir().path())));

    ServiceReport report = BuildServiceReport(record, serial, since, now, maker);
    ServiceReportFiles files;
    files.pdf = target.absoluteFilePath();
    files.json = ReportJsonPath(files.pdf);
    report.number = record.newReportNumber(serial, now);
    files.number = report.number;
    try {
        const QByteArray pdf = ServiceReportPdf(report);
        WriteFileAtomically(files.json, ServiceReportJson(report));
        try {
            WriteFileAtomically(files.pdf, pdf);
        } catch (...) {
            QFile::remove(files.json);
            throw;
        }
    } catch (const ZartError &e) {
        // Best effort: a record that cannot take it back keeps a number without files.
        try {
            record.withdrawReport(report.number);
        } catch (const ZartError &) {
        }
        throw ZartError(QStringLiteral("Протокол не записан: %1").arg(e.text()));
    }
    return files;
}

QDateTime DefaultReportSince(const std::optional<QDateTime> &lastReport, const QDateTime &now)
{
    const QDateTime today(now.toLocalTime().date(), QTime(0, 0), Qt::LocalTime);
    if (lastReport && lastReport->isValid() && *lastReport > today)
        return lastReport->toLocalTime();
    return today;
}

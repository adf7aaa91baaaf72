#pragma once

#include "flash/CalibrationGrid.h"
#include "flash/DumpComparison.h"
#include "flash/FlashImage.h"
#include "record/ServiceRecord.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

// The service report of one sensor over a period: what was done to it, the
// flash as found and as left, and the calibration as left. Its facts are
// gathered from the record and the dump files into ServiceReport; the PDF and
// the JSON file are both written from that one structure.

// A dump file of the period, as the report found it on disk.
struct ReportDump
{
    qint64 operationId = 0;
    QDateTime time;            // the start of the operation that told it, UTC
    RecordedKind kind = RecordedKind::Dump;
    FileUse use = FileUse::Written; // Written: a dump; AsFound: kept before a restore wrote
    QString path;              // as the record names it
    QByteArray recordedSha256; // as the record keeps it; empty: not read when recorded
    // The file the image was read from: the path, or the copy with the recorded
    // content that the dump kept in history/ beside it when it replaced the
    // file; empty when none could be read.
    QString readFrom;
    QByteArray sha256;         // of readFrom; empty when none could be read
    QString problem;           // why no image could be taken: "файл не найден", ...
    std::optional<FlashImage> image;
};

// A calibration point marked by the checks of the as-left dump.
struct ReportMarkedPoint
{
    int point = 0;   // k = row * 21 + column
    quint8 faults = 0; // PointFault bits
    QString text;    // FaultyPointText
};

struct ServiceReport
{
    QString number;            // set once the record has given one
    QDateTime made;            // UTC
    RecordContext maker;       // who made the report, with which tool
    quint32 serial = 0;
    QDateTime since;           // invalid: from the first operation
    QDateTime until;           // the end of the period (when the report was made)

    // Identity, from the latest operation of the period that told each.
    std::optional<quint32> firmware;
    std::optional<int> busAddress;
    QString port;
    RecordContext lastContext; // user, host and tool version of the latest operation

    QList<OperationEntry> operations; // with their files and words, oldest first

    std::optional<ReportDump> asFound;
    std::optional<ReportDump> asLeft;
    QString dumpChoice; // which dumps were taken as found and as left, and why
    // Operations after the as-left dump that wrote into the sensor: that dump
    // may not be the sensor as it was left.
    QList<OperationEntry> writesAfterAsLeft;

    // With both images read.
    std::optional<DumpComparison> comparison;
    // With the as-left image read.
    std::optional<CalibrationCheck> check;
    std::optional<CalibrationGrid> asLeftGrid;
    QList<ReportMarkedPoint> markedPoints;
};

// "В периоде нет дампов": said instead of the dumps' tables.
QString NoDumpsText();

// The report of the sensor's operations started in [since, until] (since
// invalid: from the first), oldest first: the identity, the dumps chosen as
// found and as left (the first and the last of the period; a dump kept before a
// restore counts as "as found" when it is the earliest), each read from disk
// and checked against its recorded SHA-256, their differences and the
// calibration check of the as-left one. Pure apart from reading the files.
ServiceReport BuildServiceReport(const QList<OperationEntry> &operations, quint32 serial,
                                 const QDateTime &since, const QDateTime &until,
                                 const RecordContext &maker);
// The same with the operations read from the record. Throws RecordError.
ServiceReport BuildServiceReport(const ServiceRecord &record, quint32 serial,
                                 const QDateTime &since, const QDateTime &until,
                                 const RecordContext &maker);

// The JSON file of the report: UTF-8, keys sorted, times as ISO 8601 in UTC
// with milliseconds, numbers as integers where they are; the same report gives
// the same bytes (only "made" and "number" tell two reports apart).
QByteArray ServiceReportJson(const ServiceReport &report);

// The PDF of the report: A4, its texts selectable, the number in every page's
// header and "Страница N из M" below. Needs a QGuiApplication (fonts).
QByteArray ServiceReportPdf(const ServiceReport &report);

struct ServiceReportFiles
{
    QString number;
    QString pdf;
    QString json; // beside the PDF: its name with .json
};

// The one call of the window's "Протокол…" and of zart-cli report: builds the
// report of the sensor since `since` (invalid: all), takes a new number from
// the record and writes pdfPath and the JSON beside it, each atomically. A
// sensor the record has never seen is refused before a number is taken; when
// a file cannot be written the number is withdrawn, so that the next report's
// default period still starts before this one. Throws ZartError (RecordError
// for the record).
ServiceReportFiles MakeServiceReport(ServiceRecord &record, quint32 serial,
                                     const QDateTime &since, const QString &pdfPath,
                                     const RecordContext &maker,
                                     const QDateTime &now = QDateTime::currentDateTimeUtc());

// The JSON file that goes with a PDF: the same name with ".json".
QString ReportJsonPath(const QString &pdfPath);

// The window's default start of the period: the start of today (local time), or
// the last report of the sensor when that was made later today.
QDateTime DefaultReportSince(const std::optional<QDateTime> &lastReport, const QDateTime &now);

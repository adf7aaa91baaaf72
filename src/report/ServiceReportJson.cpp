#include "report/ServiceReport.h"

#include "flash/FlashOperations.h"
#include "sensor/SensorRequests.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

// The report for other programs. QJsonObject keeps its keys sorted, arrays
// keep the report's order, and every value is taken from the report as it is:
// the same report gives the same bytes on any machine (times in UTC; the
// choice of the dumps told by their "use" and "time", not in local words).

namespace {

QJsonValue timeValue(const QDateTime &t)
{
    return t.isValid() ? QJsonValue(t.toUTC().toString(Qt::ISODateWithMs)) : QJsonValue();
}

QJsonValue optionalNumber(const std::optional<quint32> &v)
{
    return v ? QJsonValue(double(*v)) : QJsonValue();
}

QJsonObject contextObject(const RecordContext &c)
{
    return {{QStringLiteral("user"), c.user}, {QStringLiteral("host"), c.host}, {QStringLiteral("toolVersion"), c.toolVersion}};
}

QJsonObject operationObject(const OperationEntry &e)
{
    QJsonArray files;
    for (const RecordedFile &f : e.files)
        files.append(QJsonObject{{QStringLiteral("path"), f.path},
                                 {QStringLiteral("use"), FileUseKey(f.use)},
                                 {QStringLiteral("sha256"), QString::fromLatin1(f.sha256)}});
    QJsonArray words;
    for (const RecordedWord &w : e.words)
        words.append(QJsonObject{{QStringLiteral("address"), int(w.address)},
                                 {QStringLiteral("value"), double(w.value)},
                                 {QStringLiteral("previous"), optionalNumber(w.previous)}});
    return {{QStringLiteral("id"), double(e.id)},
            {QStringLiteral("started"), timeValue(e.started)},
            {QStringLiteral("ended"), timeValue(e.ended)},
            {QStringLiteral("kind"), KindKey(e.kind)},
            {QStringLiteral("title"), KindTitle(e.kind)},
            {QStringLiteral("result"), ResultKey(e.result)},
            {QStringLiteral("message"), e.message},
            {QStringLiteral("context"), contextObject(e.context)},
            {QStringLiteral("port"), e.port},
            {QStringLiteral("busAddress"), e.busAddress},
            {QStringLiteral("firmware"), optionalNumber(e.firmware)},
            {QStringLiteral("wordsWritten"), e.wordsWritten},
            {QStringLiteral("files"), files},
            {QStringLiteral("words"), words}};
}

QJsonValue dumpValue(const std::optional<ReportDump> &d)
{
    if (!d)
        return QJsonValue();
    return QJsonObject{{QStringLiteral("operationId"), double(d->operationId)},
                       {QStringLiteral("time"), timeValue(d->time)},
                       {QStringLiteral("kind"), KindKey(d->kind)},
                       {QStringLiteral("use"), FileUseKey(d->use)},
                       {QStringLiteral("path"), d->path},
                       {QStringLiteral("recordedSha256"), QString::fromLatin1(d->recordedSha256)},
                       {QStringLiteral("readFrom"), d->readFrom},
                       {QStringLiteral("sha256"), QString::fromLatin1(d->sha256)},
                       {QStringLiteral("read"), bool(d->image)},
                       {QStringLiteral("problem"), d->problem}};
}

QJsonObject shiftObject(const GridShift &s)
{
    return {{QStringLiteral("row"), GridRow(s.point)},
            {QStringLiteral("column"), GridColumn(s.point)},
            {QStringLiteral("dx"), s.dx},
            {QStringLiteral("dy"), s.dy},
            {QStringLiteral("length"), s.length}};
}

QJsonValue comparisonValue(const std::optional<DumpComparison> &c)
{
    if (!c)
        return QJsonValue();
    QJsonArray differences;
    for (const DumpWordDifference &d : c->differences)
        differences.append(QJsonObject{{QStringLiteral("address"), int(FlashWordAddress(d.index))},
                                       {QStringLiteral("asFound"), double(d.first)},
                                       {QStringLiteral("asLeft"), double(d.second)},
                                       {QStringLiteral("field"), FlashWordName(d.index)}});
    QJsonArray moved;
    for (const GridShift &s : c->mostMoved(5))
        moved.append(shiftObject(s));
    return QJsonObject{{QStringLiteral("differences"), differences},
                       {QStringLiteral("shift"), QJsonObject{{QStringLiteral("largest"), c->largestShift()},
                                                 {QStringLiteral("mean"), c->meanShift()},
                                                 {QStringLiteral("points"), int(c->shifts.size())},
                                                 {QStringLiteral("mostMoved"), moved}}}};
}

QString faultKeys(quint8 faults)
{
    QStringList keys;
    if (faults & FaultNonFinite)
        keys << QStringLiteral("non-finite");
    if (faults & FaultOrderX)
        keys << QStringLiteral("order-x");
    if (faults & FaultOrderY)
        keys << QStringLiteral("order-y");
    if (faults & FaultFold)
        keys << QStringLiteral("fold");
    return keys.join(u',');
}

QJsonValue calibrationValue(const ServiceReport &r)
{
    if (!r.check)
        return QJsonValue();
    QJsonArray points;
    for (const ReportMarkedPoint &p : r.markedPoints)
        points.append(QJsonObject{{QStringLiteral("row"), GridRow(p.point)},
                                  {QStringLiteral("column"), GridColumn(p.point)},
                                  {QStringLiteral("faults"), faultKeys(p.faults)},
                                  {QStringLiteral("text"), p.text}});
    return QJsonObject{{QStringLiteral("orientationKnown"), r.check->runsKnown()},
                       {QStringLiteral("markedPoints"), points}};
}

} // namespace

QByteArray ServiceReportJson(const ServiceReport &r)
{
    QJsonArray operations;
    for (const OperationEntry &e : r.operations)
        operations.append(operationObject(e));
    QJsonArray writesAfter;
    for (const OperationEntry &e : r.writesAfterAsLeft)
        writesAfter.append(double(e.id));
    const QJsonObject sensor{
        {QStringLiteral("serial"), SerialText(r.serial)},
        // The record does not keep the device identification.
        {QStringLiteral("deviceIdentification"), QJsonValue()},
        {QStringLiteral("firmware"), optionalNumber(r.firmware)},
        {QStringLiteral("busAddress"), r.busAddress ? QJsonValue(*r.busAddress) : QJsonValue()},
        {QStringLiteral("port"), r.port},
        {QStringLiteral("lastContext"), contextObject(r.lastContext)}};
    const QJsonObject root{
        {QStringLiteral("format"), QStringLiteral("zart-service-report")},
        {QStringLiteral("formatVersion"), 1},
        {QStringLiteral("number"), r.number},
        {QStringLiteral("made"), timeValue(r.made)},
        {QStringLiteral("maker"), contextObject(r.maker)},
        {QStringLiteral("sensor"), sensor},
        // The period ends when the report was made.
        {QStringLiteral("since"), timeValue(r.since)},
        {QStringLiteral("operations"), operations},
        {QStringLiteral("asFound"), dumpValue(r.asFound)},
        {QStringLiteral("asLeft"), dumpValue(r.asLeft)},
        {QStringLiteral("writesAfterAsLeft"), writesAfter},
        {QStringLiteral("comparison"), comparisonValue(r.comparison)},
        {QStringLiteral("calibration"), calibrationValue(r)}};
    return QJsonDocument(root).toJson(QJsonDocument::Indented);
}

#include "record/ServiceRecord.h"

#include "flash/FlashPasses.h"
#include "modbus/ModbusMaster.h"

#include <QFileInfo>

RecordedOperation::RecordedOperation(ServiceRecord *record, IBusHost &log,
                                     const RecordContext &context, RecordedKind kind,
                                     const QString &port, int busAddress)
    : m_record(record), m_log(log)
{
    m_entry.started = QDateTime::currentDateTimeUtc();
    m_entry.context = context;
    m_entry.kind = kind;
    m_entry.port = port;
    m_entry.busAddress = busAddress;
}

RecordedOperation::RecordedOperation(std::function<ServiceRecord *(OperationEntry &)> openRecord, IBusHost &log,
                                     const RecordContext &context, RecordedKind kind,
                                     const QString &port, int busAddress)
    : RecordedOperation(nullptr, log, context, kind, port, busAddress)
{
    m_openRecord = std::move(openRecord);
}

void RecordedOperation::sensorSerial(quint32 serial)
{
    m_entry.serial = serial;
}

void RecordedOperation::firmwareVersion(quint32 version)
{
    m_entry.firmware = version;
}

void RecordedOperation::wordWritten(quint16 address, quint32 value, std::optional<quint32> previous)
{
    m_entry.words.append({address, value, previous});
    ++m_entry.wordsWritten;
}

void RecordedOperation::fileUsed(const QString &path, FileUse use)
{
    // The hash of the file as it is now: a later change of the file shows.
    m_entry.files.append({QFileInfo(path).absoluteFilePath(), use, FileSha256(path)});
}

void RecordedOperation::finish(RecordedResult result, const QString &message)
{
    m_entry.ended = QDateTime::currentDateTimeUtc();
    m_entry.result = result;
    m_entry.message = message;
    // The operation's outcome stands whatever the record does: a failure to
    // store it is one red line, never an exception of the operation.
    try {
        ServiceRecord *record = m_openRecord ? m_openRecord(m_entry) : m_record;
        if (!record)
            return;
        record->add(m_entry);
    } catch (const ZartError &e) {
        m_log.Log(e.text(), LogError);
    } catch (const std::exception &e) {
        m_log.Log(QStringLiteral("Журнал обслуживания не записан: ") +
                      QString::fromLocal8Bit(e.what()),
                  LogError);
    }
}

void RecordedOperation::finishFailed(const ZartError &e)
{
    finish(dynamic_cast<const EOperationStopped *>(&e) ? RecordedResult::Stopped
                                                       : RecordedResult::Failed,
           e.text());
}

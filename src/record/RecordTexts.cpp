#include "record/ServiceRecord.h"

#include "common/LogText.h"
#include "sensor/SensorRequests.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QFile>
#include <QSysInfo>

#include <array>

#ifdef Q_OS_UNIX
#include <pwd.h>
#include <unistd.h>
#endif

namespace {

struct KindNames
{
    RecordedKind kind;
    const char16_t *key;
    const char16_t *title;
};

// The keys are what the database keeps: never change one. A kind added later
// is a new schema version, since an older tool could not show it.
constexpr std::array<KindNames, 11> Kinds{{
    {RecordedKind::Dump, u"dump", u"Дамп"},
    {RecordedKind::Restore, u"restore", u"Восстановление дампа"},
    {RecordedKind::RestoreDifferences, u"restore-differences", u"Восстановление отличий дампа"},
    {RecordedKind::PassportRestore, u"passport-restore", u"Восстановление паспорта"},
    {RecordedKind::CalibrationRestore, u"calibration-restore", u"Восстановление калибровки"},
    {RecordedKind::Compare, u"compare", u"Сравнение с дампом"},
    {RecordedKind::WriteWord, u"write-word", u"Запись слова"},
    {RecordedKind::CorrectChecksum, u"correct-checksum", u"Исправление контрольной суммы"},
    {RecordedKind::SetAddress, u"set-address", u"Смена адреса"},
    {RecordedKind::Search, u"search", u"Поиск датчиков"},
    {RecordedKind::Inventory, u"inventory", u"Опись шины"},
}};

const KindNames *namesOf(RecordedKind kind)
{
    for (const KindNames &k : Kinds)
        if (k.kind == kind)
            return &k;
    return nullptr;
}

QString serialColumn(const OperationEntry &e)
{
    return e.serial ? SerialText(*e.serial) : QString();
}

// One CSV field (RFC 4180): quoted when it holds a comma, a quote or a line
// break, its quotes doubled.
QString csvField(const QString &text)
{
    if (!text.contains(u',') && !text.contains(u'"') && !text.contains(u'\n') &&
        !text.contains(u'\r'))
        return text;
    QString quoted = text;
    quoted.replace(u'"', QStringLiteral("\"\""));
    return u'"' + quoted + u'"';
}

} // namespace

QString FileUseKey(FileUse use)
{
    switch (use) {
    case FileUse::Read:
        return QStringLiteral("read");
    case FileUse::Written:
        return QStringLiteral("written");
    case FileUse::AsFound:
        return QStringLiteral("as-found");
    }
    return {};
}

QString FileUseTitle(FileUse use)
{
    switch (use) {
    case FileUse::Read:
        return QStringLiteral("прочитан");
    case FileUse::Written:
        return QStringLiteral("записан");
    case FileUse::AsFound:
        return QStringLiteral("дамп до записи");
    }
    return {};
}

QString KindKey(RecordedKind kind)
{
    const KindNames *k = namesOf(kind);
    return k ? QString::fromUtf16(k->key) : QString();
}

std::optional<RecordedKind> KindFromKey(const QString &key)
{
    for (const KindNames &k : Kinds)
        if (key == QStringView(k.key))
            return k.kind;
    return std::nullopt;
}

QString KindTitle(RecordedKind kind)
{
    const KindNames *k = namesOf(kind);
    return k ? QString::fromUtf16(k->title) : QString();
}

QString ResultKey(RecordedResult result)
{
    switch (result) {
    case RecordedResult::Success:
        return QStringLiteral("success");
    case RecordedResult::Failed:
        return QStringLiteral("failed");
    case RecordedResult::Stopped:
        return QStringLiteral("stopped");
    }
    return {};
}

QString ResultTitle(RecordedResult result)
{
    switch (result) {
    case RecordedResult::Success:
        return QStringLiteral("успешно");
    case RecordedResult::Failed:
        return QStringLiteral("ошибка");
    case RecordedResult::Stopped:
        return QStringLiteral("остановлено");
    }
    return {};
}

RecordContext CurrentRecordContext()
{
    QString user = qEnvironmentVariable("USER");
    if (user.isEmpty())
        user = qEnvironmentVariable("USERNAME");
#ifdef Q_OS_UNIX
    // A service, cron or a container often starts the tool without USER: the
    // account it runs under still names who did the work.
    if (user.isEmpty()) {
        if (const passwd *account = getpwuid(geteuid()))
            user = QString::fromLocal8Bit(account->pw_name);
    }
#endif
    return {user, QSysInfo::machineHostName(), QCoreApplication::applicationVersion()};
}

QByteArray FileSha256(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!hash.addData(&file))
        return {};
    return hash.result().toHex();
}

QStringList HistoryLines(const QList<OperationEntry> &entries)
{
    QStringList lines{QStringLiteral("Время\tДатчик\tОперация\tРезультат\tПользователь")};
    for (const OperationEntry &e : entries)
        lines << QStringList{e.started.toLocalTime().toString(
                                 QStringLiteral("yyyy-MM-dd HH:mm:ss")),
                             serialColumn(e), KindTitle(e.kind), ResultTitle(e.result),
                             LogLineText(e.context.user)}
                     .join(u'\t');
    return lines;
}

QByteArray HistoryCsv(const QList<OperationEntry> &entries)
{
    QString out =
        QStringLiteral("Время,Окончание,Датчик,Операция,Результат,Пользователь,Компьютер,"
                       "Версия программы,Порт,Адрес,Прошивка,Записано слов,Сообщение,Файлы\r\n");
    for (const OperationEntry &e : entries) {
        QStringList files;
        for (const RecordedFile &f : e.files)
            files << QStringLiteral("%1: %2 SHA-256 %3")
                         .arg(FileUseTitle(f.use), f.path,
                              f.sha256.isEmpty() ? QStringLiteral("—")
                                                 : QString::fromLatin1(f.sha256));
        const QStringList fields{
            LogTimeText(e.started.toLocalTime()),
            LogTimeText(e.ended.toLocalTime()),
            serialColumn(e),
            KindTitle(e.kind),
            ResultTitle(e.result),
            e.context.user,
            e.context.host,
            e.context.toolVersion,
            e.port,
            QString::number(e.busAddress),
            e.firmware ? QStringLiteral("%1").arg(*e.firmware, 8, 16, QLatin1Char('0')).toUpper()
                       : QString(),
            QString::number(e.wordsWritten),
            e.message,
            files.join(u'\n'),
        };
        QStringList quoted;
        for (const QString &f : fields)
            quoted << csvField(f);
        out += quoted.join(u',') + QStringLiteral("\r\n");
    }
    return out.toUtf8();
}

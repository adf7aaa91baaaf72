#include "common/LogText.h"

#include <QRegularExpression>

#include <cstdlib>

QString LogTimeText(const QDateTime &time)
{
    const int offset = time.offsetFromUtc() / 60; // minutes
    const int magnitude = std::abs(offset);
    return time.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzz"))
        + QStringLiteral("%1%2:%3")
              .arg(QChar(offset < 0 ? u'-' : u'+'))
              .arg(magnitude / 60, 2, 10, QLatin1Char('0'))
              .arg(magnitude % 60, 2, 10, QLatin1Char('0'));
}

QString LogLineText(const QString &text)
{
    static const QRegularExpression breaks(QStringLiteral("\\r\\n|[\\r\\n\\x{2028}\\x{2029}]"));
    QString line = text;
    return line.replace(breaks, QStringLiteral(" "));
}

QString LogClipboardText(const QList<LogEntry> &lines)
{
    QString out;
    for (const LogEntry &line : lines)
        out += LogLineText(line.text) + u'\n';
    return out;
}

QByteArray LogFileContent(const QList<LogEntry> &lines)
{
    QString out;
    for (const LogEntry &line : lines)
        out += LogTimeText(line.time) + u'\t' + LogLineText(line.text) + u'\n';
    return out.toUtf8();
}

#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>

// The console log as text: what the clipboard gets and what "Сохранить
// журнал…" writes.

struct LogEntry
{
    QDateTime time; // when the line was logged
    QString text;
};

// A time as ISO 8601 with milliseconds and the offset of its zone:
// "2026-12-09T12:34:56.789+03:00" ("Z" is not used; UTC shows as "+00:00").
QString LogTimeText(const QDateTime &time);

// One log line as one text line: a line break inside the text shows as a
// blank, as the log draws it.
QString LogLineText(const QString &text);

// The copied lines: their texts, one per line, each ended by '\n'.
QString LogClipboardText(const QList<LogEntry> &lines);

// The saved log in UTF-8: per line its time (LogTimeText), a TAB and its text,
// each ended by '\n'.
QByteArray LogFileContent(const QList<LogEntry> &lines);

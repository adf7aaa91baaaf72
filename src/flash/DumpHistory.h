#pragma once

#include "flash/FlashImage.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>

// The older copies of the dump and passport files. Before a file is replaced by
// different content, the file there is kept in the folder "history" beside it,
// named after it and its modification time; a kept file is never overwritten.

inline constexpr char16_t HistoryDirName[] = u"history";

// "<stem>-YYYYMMDDTHHMMSSZ<.suffix>" of `modified` in UTC, with "-<n>" after
// the time for n above 1 (0012AB7F-20240305T070809Z-2.dmp). UTC, so that a
// change of the clock's zone or summer time cannot give two times one name.
// Names of the former form (local time, 0012AB7F-20240305-070809.dmp) stay
// in history/ as they are.
QString HistoryFileName(const QString &stem, const QString &suffix, const QDateTime &modified,
                        int n = 1);

// Keeps the file at path before it is replaced by newContent: when it exists
// and its content differs, a copy with its content and modification time goes
// to history/ beside it under HistoryFileName (the first free n; the copy is
// created exclusively, so no kept file is ever replaced). Returns
// "history/<name>", or an empty string when there was nothing to keep (no file,
// or the same content). A file that cannot be read or kept throws ZartError with
// the system's text; a partial copy is removed.
QString KeepInHistory(const QString &path, const QByteArray &newContent);

// Keeps a sensor's flash as it was found before a restore wrote it: a dump file
// in history/ under dir, named HistoryFileName("<serial %.8X>-asfound", "dmp",
// at) with the first n whose name is free. The file is written beside its name
// and renamed to it only once complete, and never onto a file that exists.
// Returns "history/<name>"; a failure throws ZartError with the system's text
// and leaves no partial file.
QString KeepAsFoundDump(const QString &dir, const FlashImage &image, const QDateTime &at);

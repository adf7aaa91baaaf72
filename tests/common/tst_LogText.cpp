// The console log as text: the time of a line, the copied lines and the saved file.

#include "common/LogText.h"

#include <QTest>
#include <QTimeZone>

class TestLogText : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void time_data()
    {
        QTest::addColumn<int>("offset"); // seconds east of UTC
        QTest::addColumn<QString>("text");
        QTest::newRow("east") << 3 * 3600 << "2026-12-09T12:34:56.789+03:00";
        QTest::newRow("UTC") << 0 << "2026-12-09T12:34:56.789+00:00";
        QTest::newRow("west, half hour") << -(9 * 3600 + 30 * 60) << "2026-12-09T12:34:56.789-09:30";
    }
    void time()
    {
        QFETCH(int, offset);
        QFETCH(QString, text);
        const QDateTime at(QDate(2026, 12, 9), QTime(12, 34, 56, 789), QTimeZone(offset));
        QCOMPARE(LogTimeText(at), text);
    }

    // Both texts, for the same lines: the clipboard's without the times, the
    // file's with them; a line stays one line; UTF-8.
    void texts_data()
    {
        QTest::addColumn<QStringList>("texts");
        QTest::addColumn<QString>("copied");
        QTest::addColumn<QByteArray>("saved");

        QTest::newRow("none") << QStringList{} << "" << QByteArray();
        QTest::newRow("two lines") << QStringList{"Установлен порт /dev/ttyUSB0", "> 01 03 10 00 00 02"}
                                   << "Установлен порт /dev/ttyUSB0\n> 01 03 10 00 00 02\n"
                                   << QByteArray("2026-12-09T12:00:00.000+03:00\t"
                                                 "\xD0\xA3\xD1\x81\xD1\x82\xD0\xB0\xD0\xBD\xD0\xBE\xD0\xB2\xD0\xBB\xD0\xB5\xD0\xBD"
                                                 " \xD0\xBF\xD0\xBE\xD1\x80\xD1\x82 /dev/ttyUSB0\n"
                                                 "2026-12-09T12:00:01.000+03:00\t> 01 03 10 00 00 02\n");
        QTest::newRow("breaks inside, tab kept") << QStringList{"a\r\nb\nc\rd", "e\tf", ""}
                                                 << "a b c d\ne\tf\n\n"
                                                 << QByteArray("2026-12-09T12:00:00.000+03:00\ta b c d\n"
                                                               "2026-12-09T12:00:01.000+03:00\te\tf\n"
                                                               "2026-12-09T12:00:02.000+03:00\t\n");
    }
    void texts()
    {
        QFETCH(QStringList, texts);
        QFETCH(QString, copied);
        QFETCH(QByteArray, saved);
        const QDateTime start(QDate(2026, 12, 9), QTime(12, 0), QTimeZone(3 * 3600));
        QList<LogEntry> lines;
        for (const QString &t : texts)
            lines.append({start.addSecs(lines.size()), t});
        QCOMPARE(LogClipboardText(lines), copied);
        QCOMPARE(LogFileContent(lines), saved);
    }
};

QTEST_MAIN(TestLogText)
#include "tst_LogText.moc"

// The service record under load: a record of 100,000 operations made through
// add(), then history() for one sensor and for all, with and without the
// files and words, and add() of an entry the size of a whole restore (1024
// words). Prints figures in milliseconds.
//
//   bench_record [operations] [location]
//
// location: an SQLite file or a postgresql:// URL to an empty database; by
// default a new SQLite file in a temporary folder.

#include "record/ServiceRecord.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>

namespace {

constexpr quint32 Sensors = 500;

OperationEntry operation(int i, const QDateTime &start)
{
    OperationEntry e;
    e.started = start.addSecs(i * 60);
    e.ended = e.started.addSecs(40);
    e.context = {QStringLiteral("техник"), QStringLiteral("стенд-1"), QStringLiteral("1.0.0.1")};
    e.port = QStringLiteral("/dev/ttyUSB0");
    e.busAddress = 1;
    e.serial = 0x10000 + quint32(i) % Sensors;
    e.firmware = 0x102;
    if (i % 10 == 9) {
        // Every tenth a restore of a few differing words.
        e.kind = RecordedKind::RestoreDifferences;
        for (int w = 0; w < 16; ++w)
            e.words.append({quint16(0x1100 + w), quint32(i), quint32(w)});
        e.wordsWritten = 16;
        e.files = {{QStringLiteral("/data/as-found.dmp"), FileUse::AsFound, QByteArray(64, 'a')},
                   {QStringLiteral("/data/old.dmp"), FileUse::Read, QByteArray(64, 'b')}};
    } else {
        e.files = {{QStringLiteral("/data/%1.dmp").arg(i), FileUse::Written, QByteArray(64, 'c')}};
    }
    return e;
}

// The best of `runs` timings of f, in milliseconds, and what it returned last.
template <class F> double bestMs(int runs, F &&f, qsizetype *count)
{
    double best = 1e300;
    for (int r = 0; r < runs; ++r) {
        QElapsedTimer t;
        t.start();
        *count = f();
        best = std::min(best, t.nsecsElapsed() / 1e6);
    }
    return best;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int n = args.size() > 1 ? args[1].toInt() : 100000;
    QTemporaryDir tmp;
    const QString location =
        args.size() > 2 ? args[2] : tmp.filePath(QStringLiteral("records.sqlite"));
    try {
        ServiceRecord record(location);
        std::printf("record: %s\n", qPrintable(record.displayName()));
        const QDateTime start = QDateTime::currentDateTimeUtc().addSecs(-qint64(n) * 60);

        // Filled a thousand at a time: one transaction each, so that the
        // disk's flushes do not dominate; single add()s are timed below.
        QElapsedTimer t;
        t.start();
        for (int i = 0; i < n;) {
            QList<OperationEntry> batch;
            for (; i < n && batch.size() < 1000; ++i)
                batch << operation(i, start);
            record.add(batch);
        }
        const double fillMs = t.nsecsElapsed() / 1e6;
        std::printf("add(1000 at once) for %d operations: %.0f ms\n", n, fillMs);

        qsizetype count = 0;
        HistoryFilter one;
        one.serial = 0x10000 + 7;
        double ms = bestMs(
            3, [&] { return record.history(one).size(); }, &count);
        std::printf("history(one sensor): %lld operations in %.1f ms\n", qlonglong(count), ms);
        ms = bestMs(
            3, [&] { return record.history(one, true).size(); }, &count);
        std::printf("history(one sensor, details): %lld operations in %.1f ms\n", qlonglong(count),
                    ms);
        ms = bestMs(
            3, [&] { return record.history({}).size(); }, &count);
        std::printf("history(all): %lld operations in %.1f ms\n", qlonglong(count), ms);
        ms = bestMs(
            3, [&] { return record.history({}, true).size(); }, &count);
        std::printf("history(all, details): %lld operations in %.1f ms\n", qlonglong(count), ms);
        HistoryFilter lastDay;
        lastDay.since = QDateTime::currentDateTimeUtc().addDays(-1);
        ms = bestMs(
            3, [&] { return record.history(lastDay).size(); }, &count);
        std::printf("history(last day): %lld operations in %.1f ms\n", qlonglong(count), ms);

        const auto medianAdd = [&record](OperationEntry entry, int runs) {
            QList<double> each;
            for (int r = 0; r < runs; ++r) {
                OperationEntry e = entry;
                QElapsedTimer one;
                one.start();
                record.add(e);
                each << one.nsecsElapsed() / 1e6;
            }
            std::sort(each.begin(), each.end());
            std::printf("median %.1f ms, worst %.1f ms\n", each[runs / 2], each.last());
        };
        std::printf("add(a dump) x 50: ");
        medianAdd(operation(0, QDateTime::currentDateTimeUtc()), 50);

        // A whole restore: every one of the 1024 words written, two files.
        OperationEntry restore = operation(0, QDateTime::currentDateTimeUtc());
        restore.kind = RecordedKind::Restore;
        restore.words.clear();
        for (int w = 0; w < 1024; ++w)
            restore.words.append({quint16(0x1000 + w), quint32(w * 7), quint32(w)});
        restore.wordsWritten = 1024;
        std::printf("add(a restore of 1024 words) x 20: ");
        medianAdd(restore, 20);
    } catch (const ZartError &e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    return 0;
}

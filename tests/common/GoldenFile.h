#pragma once

#include <QByteArray>
#include <QFile>
#include <QList>
#include <QString>
#include <QTest>
#include <QtGlobal>

// Long expected texts live in golden files (tests/<layer>/golden/). With
// ZART_UPDATE_GOLDEN=1 in the environment a comparison writes the text into its
// golden file instead of comparing; git diff then shows what changed.
namespace golden {

inline bool updating()
{
    return qEnvironmentVariableIntValue("ZART_UPDATE_GOLDEN") == 1;
}

// What a comparison found: the file written (update mode), or where the text
// first differs from it (empty: the same bytes).
struct Outcome
{
    bool written = false;
    QString difference;
};

inline Outcome check(const QString &path, const QString &text)
{
    const QByteArray actual = text.toUtf8();
    QFile file(path);
    if (updating()) {
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(actual) != actual.size())
            return {false, QStringLiteral("cannot write %1: %2").arg(path, file.errorString())};
        return {true, {}};
    }
    if (!file.open(QIODevice::ReadOnly))
        return {false, QStringLiteral("cannot read %1 (ZART_UPDATE_GOLDEN=1 writes it): %2")
                           .arg(path, file.errorString())};
    const QByteArray expected = file.readAll();
    if (expected == actual)
        return {};
    const QList<QByteArray> want = expected.split('\n');
    const QList<QByteArray> got = actual.split('\n');
    qsizetype line = 0;
    while (line < want.size() && line < got.size() && want.at(line) == got.at(line))
        ++line;
    const auto lineOf = [line](const QList<QByteArray> &lines) {
        return line < lines.size() ? QString::fromUtf8(lines.at(line)) : QStringLiteral("(end of text)");
    };
    return {false, QStringLiteral("%1:%2 differs (ZART_UPDATE_GOLDEN=1 rewrites the file)\n"
                                  "  expected: \"%3\"\n  actual:   \"%4\"")
                       .arg(path)
                       .arg(line + 1)
                       .arg(lineOf(want), lineOf(got))};
}

} // namespace golden

// Compares text with the golden file at path, byte for byte; in update mode
// writes it there and the test goes on.
#define ZART_COMPARE_GOLDEN(path, text)                                                            \
    do {                                                                                           \
        const golden::Outcome goldenOutcome_ = golden::check((path), (text));                      \
        if (goldenOutcome_.written)                                                                \
            qInfo("golden file written: %s", qPrintable(path));                                    \
        QVERIFY2(goldenOutcome_.difference.isEmpty(), qPrintable(goldenOutcome_.difference));      \
    } while (false)

#pragma once

#include <QString>
#include <QTest>

namespace testlog {

inline QString markText(int kind)
{
    return QString::number(kind);
}

// One log line as a test saw it: its text and its mark, the kind the core
// gave it (int) or the colour the window shows it in (QColor).
template <typename Mark> struct Line
{
    QString text;
    Mark mark;
    bool operator==(const Line &o) const { return text == o.text && mark == o.mark; }
};

// How QCOMPARE shows a line that differs.
template <typename Mark> char *toString(const Line<Mark> &line)
{
    return qstrdup(QStringLiteral("[%1] %2").arg(markText(line.mark), line.text).toUtf8().constData());
}

} // namespace testlog

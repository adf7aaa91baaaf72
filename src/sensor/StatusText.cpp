#include "StatusText.h"

#include <QStringList>

QString StatusText(quint8 code)
{
    switch (code) {
    case 0:
        return QStringLiteral("?");
    case 1:
        return QStringLiteral("ok");
    case 2:
        return QStringLiteral("%");
    case 3:
        return QStringLiteral("?%");
    default:
        return QString();
    }
}

QString StatusLegend()
{
    QStringList lines{QStringLiteral("Код ошибки измерения:")};
    QStringList blanks;
    int runStart = -1;
    // One step past the last code closes a run of codes without a text.
    for (int code = 0; code <= 0x100; ++code) {
        const bool blank = code <= 0xFF && StatusText(quint8(code)).isEmpty();
        if (blank && runStart < 0)
            runStart = code;
        if (blank)
            continue;
        if (runStart >= 0) {
            blanks << (runStart == code - 1 ? QString::number(runStart)
                                            : QStringLiteral("%1..%2").arg(runStart).arg(code - 1));
            runStart = -1;
        }
        if (code <= 0xFF)
            lines << QStringLiteral("%1 — %2").arg(StatusText(quint8(code)), QString::number(code));
    }
    if (!blanks.isEmpty())
        lines << QStringLiteral("пустое поле — ") + blanks.join(QStringLiteral(", "));
    return lines.join(u'\n');
}

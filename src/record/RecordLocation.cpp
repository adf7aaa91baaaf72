#include "record/RecordLocation.h"

#include "record/ServiceRecord.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QUrl>

namespace {

RecordError refused(const QString &why)
{
    return RecordError(QStringLiteral("Адрес журнала обслуживания не принят: ") + why);
}

QString decoded(const QString &part)
{
    return QUrl::fromPercentEncoding(part.toUtf8());
}

int portOf(const QString &text)
{
    bool ok = false;
    const int port = text.toInt(&ok);
    if (!ok || port < 1 || port > 65535 || text.startsWith(u'+'))
        throw refused(QStringLiteral("неверный порт «%1»").arg(text));
    return port;
}

const QString PasswordRefused =
    QStringLiteral("пароль в адресе не принимается, его берут из ~/.pgpass или PGPASSWORD");

RecordLocation serverLocation(const QString &location, qsizetype schemeEnd)
{
    RecordLocation loc;
    loc.server = true;
    loc.display = location;
    QString rest = location.mid(schemeEnd);
    QString query;
    if (const qsizetype q = rest.indexOf(u'?'); q >= 0) {
        query = rest.mid(q + 1);
        rest.truncate(q);
    }
    QString authority = rest;
    if (const qsizetype slash = rest.indexOf(u'/'); slash >= 0) {
        authority = rest.left(slash);
        loc.database = decoded(rest.mid(slash + 1));
    }
    if (const qsizetype at = authority.lastIndexOf(u'@'); at >= 0) {
        const QString userInfo = authority.left(at);
        if (userInfo.contains(u':'))
            throw refused(PasswordRefused);
        loc.user = decoded(userInfo);
        authority = authority.mid(at + 1);
    }
    QString hostPart = authority;
    if (authority.startsWith(u'[')) {
        const qsizetype close = authority.indexOf(u']');
        if (close < 0)
            throw refused(QStringLiteral("неверный адрес сервера «%1»").arg(authority));
        hostPart = authority.mid(1, close - 1);
        const QString after = authority.mid(close + 1);
        if (after.startsWith(u':'))
            loc.port = portOf(after.mid(1));
        else if (!after.isEmpty())
            throw refused(QStringLiteral("неверный адрес сервера «%1»").arg(authority));
    } else if (const qsizetype colon = authority.lastIndexOf(u':'); colon >= 0) {
        hostPart = authority.left(colon);
        loc.port = portOf(authority.mid(colon + 1));
    }
    loc.host = decoded(hostPart);

    bool timeoutGiven = false;
    static const QRegularExpression plainValue(QStringLiteral("^[A-Za-z0-9_-]+$"));
    for (const QString &pair : query.split(u'&', Qt::SkipEmptyParts)) {
        const qsizetype eq = pair.indexOf(u'=');
        const QString key = decoded(eq < 0 ? pair : pair.left(eq));
        const QString value = eq < 0 ? QString() : decoded(pair.mid(eq + 1));
        if (key == u"password" || key == u"passfile")
            throw refused(PasswordRefused);
        if (key == u"host")
            loc.host = value;
        else if (key == u"port")
            loc.port = portOf(value);
        else if (key == u"user")
            loc.user = value;
        else if (key == u"dbname")
            loc.database = value;
        else if (key == u"sslmode" || key == u"connect_timeout") {
            // Passed on as libpq keywords: only plain words, so that a value
            // can never add a keyword of its own.
            if (!plainValue.match(value).hasMatch())
                throw refused(QStringLiteral("неверное значение %1=%2").arg(key, value));
            loc.options.append(key + u'=' + value);
            timeoutGiven = timeoutGiven || key == u"connect_timeout";
        } else {
            throw refused(QStringLiteral("неизвестный параметр «%1»").arg(key));
        }
    }
    // A server that is down or out of reach answers within seconds, not with
    // the system's TCP timeout.
    if (!timeoutGiven)
        loc.options.append(QStringLiteral("connect_timeout=5"));
    return loc;
}

} // namespace

RecordLocation ParseRecordLocation(const QString &location)
{
    static const QRegularExpression scheme(QStringLiteral("^([A-Za-z][A-Za-z0-9+.-]*)://"));
    const QRegularExpressionMatch m = scheme.match(location);
    if (m.hasMatch()) {
        const QString name = m.captured(1).toLower();
        if (name == u"postgresql" || name == u"postgres")
            return serverLocation(location, m.capturedEnd());
        throw refused(QStringLiteral("неизвестная схема «%1», ожидается файл или postgresql://")
                          .arg(m.captured(1)));
    }
    if (location.isEmpty())
        throw refused(QStringLiteral("пустой путь"));
    RecordLocation loc;
    loc.path = QFileInfo(location).absoluteFilePath();
    loc.display = QDir::toNativeSeparators(loc.path);
    return loc;
}

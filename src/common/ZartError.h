#pragma once

#include <QByteArray>
#include <QString>
#include <exception>
#include <utility>

// A failure of any layer of the tool. It carries the text the user sees
// (Russian for the sensor side, the link's own English texts for the port).
class ZartError : public std::exception
{
public:
    explicit ZartError(QString text) : m_text(std::move(text)), m_utf8(m_text.toUtf8()) {}
    const QString &text() const noexcept { return m_text; }
    const char *what() const noexcept override { return m_utf8.constData(); }

private:
    QString m_text;
    QByteArray m_utf8;
};

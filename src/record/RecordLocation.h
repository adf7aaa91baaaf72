#pragma once

#include <QString>
#include <QStringList>

// Where a service record lives: an SQLite file, or a PostgreSQL server named
// by a libpq connection URI,
//
//   postgresql://[user@][host][:port][/dbname][?param=value&...]
//
// ("postgres://" too). The host may be a host name, an address ([::1] for
// IPv6) or, as libpq takes it, a socket directory: percent-encoded in the host
// part (postgresql://user@%2Fvar%2Frun%2Fpostgresql/db) or given as the
// parameter host=/var/run/postgresql. The parameters taken are host, port,
// user, dbname, sslmode and connect_timeout (5 s unless given). A password is
// never taken, neither in the user part nor as a parameter: libpq reads it
// from ~/.pgpass or PGPASSWORD.
struct RecordLocation
{
    bool server = false; // false: an SQLite file
    QString path;        // the SQLite file, absolute
    QString host;        // empty: libpq's default
    int port = -1;       // -1: libpq's default
    QString user;        // empty: libpq's default
    QString database;    // empty: libpq's default
    QStringList options; // further libpq keywords, "key=value"
    QString display;     // the file path, or the URL as given
};

// Reads a location; throws RecordError for a URL it refuses (a password, an
// unknown parameter, a malformed port, a scheme other than PostgreSQL's).
RecordLocation ParseRecordLocation(const QString &location);

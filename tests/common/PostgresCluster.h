#pragma once

#include <QDir>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QUrl>

#include <pwd.h>
#include <unistd.h>

// A throw-away PostgreSQL cluster: made by initdb in a temporary folder,
// listening on a Unix socket in that folder only (no TCP), trusting local
// users, and stopped (pg_ctl stop -m immediate) when the object goes, whether
// the test passed or not. initdb refuses to run as root: then the user
// postgres makes and runs the cluster (runuser), in a folder handed to it.
class PostgresCluster
{
public:
    static constexpr int Port = 5433;
    static constexpr const char *User = "zart";

    ~PostgresCluster()
    {
        if (m_running)
            run(QStringLiteral("pg_ctl"),
                {QStringLiteral("-D"), data(), QStringLiteral("-m"), QStringLiteral("immediate"),
                 QStringLiteral("-w"), QStringLiteral("stop")});
    }

    // Makes and starts the cluster; false, with why, when it cannot be had here.
    bool start(QString *why)
    {
        QString initdb = QStandardPaths::findExecutable(QStringLiteral("initdb"));
        const QDir versions(QStringLiteral("/usr/lib/postgresql"));
        for (const QString &v : versions.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name))
            if (initdb.isEmpty() &&
                QFileInfo(versions.filePath(v + QStringLiteral("/bin/initdb"))).isExecutable())
                initdb = versions.filePath(v + QStringLiteral("/bin/initdb"));
        if (initdb.isEmpty() || !m_dir.isValid())
            return fail(
                why,
                QStringLiteral(
                    "no PostgreSQL server here (initdb in PATH or /usr/lib/postgresql/*/bin)"));
        // initdb in PATH may be a link into the server's folder, beside pg_ctl and createdb.
        m_bin = QFileInfo(QFileInfo(initdb).canonicalFilePath()).absolutePath();
        if (::geteuid() == 0) {
            const passwd *pw = ::getpwnam("postgres");
            if (!pw || QStandardPaths::findExecutable(QStringLiteral("runuser")).isEmpty() ||
                ::chown(QFile::encodeName(m_dir.path()).constData(), pw->pw_uid, pw->pw_gid) != 0)
                return fail(why, QStringLiteral(
                                     "running as root, without a user postgres to run initdb as"));
            m_asPostgres = true;
        }
        const QString options =
            QStringLiteral("-k %1 -p %2 -F -c listen_addresses=''").arg(m_dir.path()).arg(Port);
        m_running =
            run(QStringLiteral("initdb"),
                {QStringLiteral("-D"), data(), QStringLiteral("-U"), QString::fromLatin1(User),
                 QStringLiteral("-A"), QStringLiteral("trust"), QStringLiteral("-E"),
                 QStringLiteral("UTF8"), QStringLiteral("--no-locale"), QStringLiteral("-N")},
                why) &&
            run(QStringLiteral("pg_ctl"),
                {QStringLiteral("-D"), data(), QStringLiteral("-l"),
                 m_dir.filePath(QStringLiteral("server.log")), QStringLiteral("-w"),
                 QStringLiteral("-o"), options, QStringLiteral("start")},
                why);
        return m_running;
    }

    bool createDatabase(const QString &name, QString *why) const
    {
        return run(QStringLiteral("createdb"),
                   {QStringLiteral("-h"), socketDir(), QStringLiteral("-p"), QString::number(Port),
                    QStringLiteral("-U"), QString::fromLatin1(User), name},
                   why);
    }

    // postgresql://zart@<socket folder, percent-encoded>:5433/<database>; one
    // arg() call, so that the folder's "%2F" is never taken for a marker.
    QString url(const QString &database) const
    {
        return QStringLiteral("postgresql://%1@%2:%3/%4")
            .arg(QString::fromLatin1(User),
                 QString::fromLatin1(QUrl::toPercentEncoding(socketDir())), QString::number(Port),
                 database);
    }
    QString socketDir() const { return m_dir.path(); }

private:
    static bool fail(QString *why, const QString &text)
    {
        *why = text;
        return false;
    }
    QString data() const { return m_dir.filePath(QStringLiteral("data")); }

    bool run(const QString &name, const QStringList &args, QString *why = nullptr) const
    {
        QProcess p;
        p.setWorkingDirectory(m_dir.path());
        p.setProcessChannelMode(QProcess::MergedChannels);
        const QString program = QDir(m_bin).filePath(name);
        if (m_asPostgres)
            p.start(QStringLiteral("runuser"),
                    QStringList{QStringLiteral("-u"), QStringLiteral("postgres"),
                                QStringLiteral("--"), program} +
                        args);
        else
            p.start(program, args);
        if (p.waitForFinished(60000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0)
            return true;
        p.kill();
        p.waitForFinished(1000);
        return why ? fail(why, name + QStringLiteral(" failed: ") +
                                   QString::fromLocal8Bit(p.readAll()).trimmed())
                   : false;
    }

    QTemporaryDir m_dir;
    QString m_bin;
    bool m_asPostgres = false;
    bool m_running = false;
};

#pragma once

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QUrl>

#include <grp.h>
#include <pwd.h>
#include <unistd.h>

// A throw-away PostgreSQL cluster for tests: made with initdb in a temporary
// folder, listening on a Unix socket in that folder only (no TCP), trusting
// every local user, and stopped (pg_ctl stop -m immediate) when the object
// goes, whether the test passed or not. As root, initdb refuses to run: then
// the cluster is made and run by the user postgres (runuser), and the folder
// is handed to that user.
class PostgresCluster
{
public:
    static constexpr int Port = 5433;
    static constexpr const char *User = "zart";

    PostgresCluster() = default;
    PostgresCluster(const PostgresCluster &) = delete;
    PostgresCluster &operator=(const PostgresCluster &) = delete;
    ~PostgresCluster() { stop(); }

    // Makes and starts the cluster; false with the reason in `why` when it
    // cannot be had here (no server installed, root without a postgres user).
    bool start(QString *why)
    {
        const QString initdb = tool(QStringLiteral("initdb"));
        if (initdb.isEmpty()) {
            *why = QStringLiteral("no PostgreSQL server here (initdb is neither in PATH nor in "
                                  "/usr/lib/postgresql/*/bin)");
            return false;
        }
        // initdb in PATH may be a link to the server's own folder, which holds
        // pg_ctl and createdb too.
        m_bin = QFileInfo(QFileInfo(initdb).canonicalFilePath()).absolutePath();
        if (!m_dir.isValid()) {
            *why = QStringLiteral("no temporary folder");
            return false;
        }
        if (::geteuid() == 0) {
            const passwd *pw = ::getpwnam("postgres");
            if (!pw || QStandardPaths::findExecutable(QStringLiteral("runuser")).isEmpty()) {
                *why = QStringLiteral("running as root, and there is no user postgres or no "
                                      "runuser to run initdb as");
                return false;
            }
            if (::chown(QFile::encodeName(m_dir.path()).constData(), pw->pw_uid, pw->pw_gid) != 0) {
                *why = QStringLiteral("cannot hand the cluster's folder to the user postgres");
                return false;
            }
            m_asPostgres = true;
        }
        if (!run(QStringLiteral("initdb"),
                 {QStringLiteral("-D"), dataDir(), QStringLiteral("-U"), QString::fromLatin1(User),
                  QStringLiteral("-A"), QStringLiteral("trust"), QStringLiteral("-E"),
                  QStringLiteral("UTF8"), QStringLiteral("--no-locale"), QStringLiteral("-N")},
                 why))
            return false;
        const QString options =
            QStringLiteral("-k %1 -p %2 -F -c listen_addresses=''").arg(socketDir()).arg(Port);
        if (!run(QStringLiteral("pg_ctl"),
                 {QStringLiteral("-D"), dataDir(), QStringLiteral("-l"),
                  m_dir.filePath(QStringLiteral("server.log")), QStringLiteral("-w"),
                  QStringLiteral("-o"), options, QStringLiteral("start")},
                 why))
            return false;
        m_running = true;
        return true;
    }

    // A new, empty database of the cluster.
    bool createDatabase(const QString &name, QString *why)
    {
        return run(QStringLiteral("createdb"),
                   {QStringLiteral("-h"), socketDir(), QStringLiteral("-p"), QString::number(Port),
                    QStringLiteral("-U"), QString::fromLatin1(User), name},
                   why);
    }

    // postgresql://zart@<socket folder, percent-encoded>:5433/<database>
    QString url(const QString &database) const
    {
        // One arg() call: the encoded folder's "%2F" must not be taken for a marker.
        return QStringLiteral("postgresql://%1@%2:%3/%4")
            .arg(QString::fromLatin1(User),
                 QString::fromLatin1(QUrl::toPercentEncoding(socketDir())), QString::number(Port),
                 database);
    }
    QString socketDir() const { return m_dir.path(); }

    void stop()
    {
        if (!m_running)
            return;
        m_running = false;
        QString ignored;
        run(QStringLiteral("pg_ctl"),
            {QStringLiteral("-D"), dataDir(), QStringLiteral("-m"), QStringLiteral("immediate"),
             QStringLiteral("-w"), QStringLiteral("stop")},
            &ignored);
    }

private:
    static QString tool(const QString &name)
    {
        const QString inPath = QStandardPaths::findExecutable(name);
        if (!inPath.isEmpty())
            return inPath;
        QDir versions(QStringLiteral("/usr/lib/postgresql"));
        const QStringList found =
            versions.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name | QDir::Reversed);
        for (const QString &v : found) {
            const QString candidate = versions.filePath(v + QStringLiteral("/bin/") + name);
            if (QFileInfo(candidate).isExecutable())
                return candidate;
        }
        return {};
    }
    QString dataDir() const { return m_dir.filePath(QStringLiteral("data")); }

    bool run(const QString &name, const QStringList &args, QString *why) const
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
        // pg_ctl start -w leaves the server running with the pipe's other end:
        // wait for the program, not for the end of its output.
        if (!p.waitForFinished(60000) || p.exitStatus() != QProcess::NormalExit ||
            p.exitCode() != 0) {
            *why = QStringLiteral("%1 failed: %2")
                       .arg(name, QString::fromLocal8Bit(p.readAll()).trimmed());
            if (p.state() != QProcess::NotRunning)
                p.kill();
            return false;
        }
        return true;
    }

    QTemporaryDir m_dir;
    QString m_bin;
    bool m_asPostgres = false;
    bool m_running = false;
};

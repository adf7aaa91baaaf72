// Why a serial port could not be opened: the process that holds it, found in
// lock files and in the open files of the processes (a made-up /proc and lock
// folders, then the real ones with a pty this process holds), and when joining
// dialout is the advice.

#include "common/FakeSerialDevice.h"
#include "common/PtyPair.h"
#include "serial/PortAccess.h"
#include "serial/SerialLink.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QLockFile>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <sys/stat.h>

namespace {

bool writeText(const QString &path, const QByteArray &text)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(text) == text.size();
}

// "pid:name" of a process in the made-up /proc (name empty: no comm file).
void addProcess(const QString &proc, const QString &pidAndName)
{
    const QString pid = pidAndName.section(u':', 0, 0);
    const QString name = pidAndName.section(u':', 1);
    QDir().mkpath(proc + u'/' + pid + QStringLiteral("/fd"));
    if (!name.isEmpty())
        writeText(proc + u'/' + pid + QStringLiteral("/comm"), name.toUtf8() + '\n');
}

QString ownName()
{
    QFile comm(QStringLiteral("/proc/self/comm"));
    return comm.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(comm.readAll()).trimmed() : QString();
}

} // namespace

class TestPortAccess : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void findHolder_data();
    void findHolder();
    void realHolder();
    void dialout_data();
    void dialout();
};

void TestPortAccess::findHolder_data()
{
    QTest::addColumn<QString>("device");
    QTest::addColumn<QStringList>("processes"); // "pid:name"
    QTest::addColumn<QStringList>("locks");     // "folder/file=content"
    QTest::addColumn<QStringList>("links");     // "pid/fd/N=target"
    QTest::addColumn<QString>("holder");        // "pid (name)", empty: none

    const QString usb = QStringLiteral("/dev/ttyUSB0");
    QTest::newRow("lock of QSerialPort") << usb << QStringList{"1234:minicom"}
                                         << QStringList{"var-lock/LCK..ttyUSB0=1234\nother-app\nhost\n"}
                                         << QStringList{} << "1234 (minicom)";
    QTest::newRow("padded lock of a terminal program, in the second folder")
        << usb << QStringList{"4321:picocom"} << QStringList{"run-lock/LCK..ttyUSB0=      4321 picocom root\n"}
        << QStringList{} << "4321 (picocom)";
    QTest::newRow("no comm: the lock's program") << usb << QStringList{"77:"}
                                                 << QStringList{"var-lock/LCK..ttyUSB0=77\nzart-configurator\n"}
                                                 << QStringList{} << "77 (zart-configurator)";
    QTest::newRow("a folder in the path") << QStringLiteral("/dev/pts/9") << QStringList{"55:screen"}
                                          << QStringList{"var-lock/LCK..pts_9=55\n"} << QStringList{}
                                          << "55 (screen)";
    QTest::newRow("stale lock") << usb << QStringList{"1:init"} << QStringList{"var-lock/LCK..ttyUSB0=999\n"}
                                << QStringList{} << "";
    QTest::newRow("garbage lock") << usb << QStringList{"1:init"} << QStringList{"var-lock/LCK..ttyUSB0=x1\n"}
                                  << QStringList{} << "";
    QTest::newRow("lock of another port") << usb << QStringList{"1234:minicom"}
                                          << QStringList{"var-lock/LCK..ttyUSB1=1234\n"} << QStringList{} << "";
    QTest::newRow("stale lock, an open file of another process")
        << usb << QStringList{"300:cat", "1000:sh"} << QStringList{"var-lock/LCK..ttyUSB0=999\n"}
        << QStringList{"1000/fd/0=/dev/pts/1", "300/fd/3=/dev/ttyUSB0"} << "300 (cat)";
    QTest::newRow("open files: the lowest pid") << usb << QStringList{"20:b", "100:a", "9:c"} << QStringList{}
                                                << QStringList{"100/fd/4=/dev/ttyUSB0", "20/fd/7=/dev/ttyUSB0",
                                                               "9/fd/1=/dev/ttyUSB00"}
                                                << "20 (b)";
    QTest::newRow("nobody") << usb << QStringList{"1:init", "2:x"} << QStringList{}
                            << QStringList{"2/fd/0=/dev/null"} << "";
}

void TestPortAccess::findHolder()
{
    QFETCH(QString, device);
    QFETCH(QStringList, processes);
    QFETCH(QStringList, locks);
    QFETCH(QStringList, links);
    QFETCH(QString, holder);

    QTemporaryDir dir;
    const QString proc = dir.filePath(QStringLiteral("proc"));
    QDir().mkpath(proc);
    for (const QString &p : processes)
        addProcess(proc, p);
    for (const QString &l : locks)
        QVERIFY(writeText(dir.filePath(l.section(u'=', 0, 0)), l.section(u'=', 1).toUtf8()));
    for (const QString &l : links)
        QVERIFY(QFile::link(l.section(u'=', 1), proc + u'/' + l.section(u'=', 0, 0)));

    const std::optional<PortHolder> found =
        FindPortHolder(device, proc, {dir.filePath(QStringLiteral("var-lock")), dir.filePath(QStringLiteral("run-lock"))});
    QCOMPARE(found ? QStringLiteral("%1 (%2)").arg(found->pid).arg(found->name) : QString(), holder);
    if (found)
        QCOMPARE(PortBusyText(device, *found), QStringLiteral("Порт %1 занят: его держит процесс %2").arg(device, holder));
}

// A pty this process holds open: named with this process's pid, by the finder
// on the real /proc and by the link whose opening fails; with the lock a
// QSerialPort in this process would take, the real link is refused and says so.
void TestPortAccess::realHolder()
{
    PtyPair pty;
    QVERIFY2(pty.isValid(), qPrintable(pty.errorString()));
    const PortHolder self{QCoreApplication::applicationPid(), ownName()};
    const QString busy = PortBusyText(pty.slavePath(), self);
    QVERIFY(busy.contains(QString::number(self.pid)));

    const std::optional<PortHolder> found = FindPortHolder(pty.slavePath(), QStringLiteral("/proc"), {});
    QVERIFY(found);
    QCOMPARE(found->pid, self.pid);
    QCOMPARE(found->name, self.name);

    // Whatever number the device's refusal left.
    for (const int error : {ENOENT, EAGAIN, EACCES}) {
        auto state = std::make_shared<FakeSerialDevice::State>();
        state->openResult = ISerialDevice::OpenResult::OpenFailed;
        state->failError = error;
        SerialLink link(std::make_unique<FakeSerialDevice>(state));
        link.SetPortName(pty.slavePath());
        try {
            link.open();
            QFAIL("opened");
        } catch (const SerialLinkError &e) {
            QCOMPARE(e.text(), busy);
            QCOMPARE(e.code(), TComExceptions::CE_OpenFailed);
            QCOMPARE(PortAccessHint(e), QString()); // no group helps
        }
    }

    // The real device: another holder's lock file makes QSerialPort refuse it.
    QString lockPath;
    for (const QString &dir : DefaultLockDirs()) {
        if (QFileInfo(dir).isWritable()) {
            lockPath = dir + QStringLiteral("/LCK..") + pty.slavePath().mid(5).replace(u'/', u'_');
            break;
        }
    }
    if (lockPath.isEmpty())
        QSKIP("no lock folder may be written here");
    QLockFile lock(lockPath);
    QVERIFY(lock.tryLock(0));
    SerialLink link;
    link.SetPortName(pty.slavePath());
    try {
        link.open();
        QFAIL("opened a port whose lock another holder has");
    } catch (const SerialLinkError &e) {
        QCOMPARE(e.text(), busy);
    }
    lock.unlock();
    link.open(); // free again: opened as usual
    QVERIFY(link.isOpen());
}

void TestPortAccess::dialout_data()
{
    QTest::addColumn<bool>("dialoutGroup"); // the device's group is dialout
    QTest::addColumn<uint>("uid");
    QTest::addColumn<bool>("member");
    QTest::addColumn<int>("mode");
    QTest::addColumn<bool>("advised");
    QTest::newRow("not a member") << true << 1000u << false << 0660 << true;
    QTest::newRow("a member") << true << 1000u << true << 0660 << false;
    QTest::newRow("root") << true << 0u << false << 0660 << false;
    QTest::newRow("another group") << false << 1000u << false << 0660 << false;
    QTest::newRow("open to all") << true << 1000u << false << 0666 << false;
    QTest::newRow("readable by all only") << true << 1000u << false << 0664 << true;
}

void TestPortAccess::dialout()
{
    QFETCH(bool, dialoutGroup);
    QFETCH(uint, uid);
    QFETCH(bool, member);
    QFETCH(int, mode);
    QFETCH(bool, advised);
    QTemporaryDir dir;
    const QString device = dir.filePath(QStringLiteral("ttyUSB0"));
    QVERIFY(writeText(device, ""));
    QVERIFY(::chmod(QFile::encodeName(device).constData(), mode_t(mode)) == 0);
    struct stat st {};
    QVERIFY(::stat(QFile::encodeName(device).constData(), &st) == 0);
    // The file's own group plays dialout, or does not.
    const uint dialoutGid = dialoutGroup ? uint(st.st_gid) : uint(st.st_gid) + 1;
    const QList<uint> groups = member ? QList<uint>{7u, dialoutGid} : QList<uint>{7u};
    QCOMPARE(DialoutAdvised(device, dialoutGid, uid, groups), advised);
    QVERIFY(!DialoutAdvised(dir.filePath(QStringLiteral("missing")), dialoutGid, 1000u, {}));
}

QTEST_GUILESS_MAIN(TestPortAccess)
#include "tst_portaccess.moc"

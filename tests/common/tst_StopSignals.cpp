// The stop signals caught in-process: the first one recorded, an ignored one
// left ignored, the earlier actions put back, and the end by the signal.

#include "common/StopSignals.h"

#include <QTest>

#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

namespace {

enum class Before { Default, Ignored, Handler };

volatile std::sig_atomic_t g_ownHandlerCalls = 0;
void ownHandler(int) { g_ownHandlerCalls = g_ownHandlerCalls + 1; }

void setAction(int signal, Before before)
{
    struct sigaction action = {};
    sigemptyset(&action.sa_mask);
    action.sa_handler = before == Before::Ignored ? SIG_IGN : before == Before::Handler ? ownHandler : SIG_DFL;
    ::sigaction(signal, &action, nullptr);
}

void (*currentHandler(int signal))(int)
{
    struct sigaction action = {};
    ::sigaction(signal, nullptr, &action);
    return action.sa_handler;
}

} // namespace

Q_DECLARE_METATYPE(Before)

class TestStopSignals : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void cleanup()
    {
        setAction(SIGHUP, Before::Default);
        setAction(SIGUSR1, Before::Default);
    }

    // SIGHUP as the program found it (nohup ignores it), then raised while
    // the object catches SIGHUP and SIGUSR1.
    void disposition_data()
    {
        QTest::addColumn<Before>("before");
        QTest::addColumn<bool>("caught");
        QTest::newRow("default: caught") << Before::Default << true;
        QTest::newRow("ignored: stays ignored") << Before::Ignored << false;
        QTest::newRow("a handler: caught instead") << Before::Handler << true;
    }
    void disposition()
    {
        QFETCH(Before, before);
        QFETCH(bool, caught);
        setAction(SIGHUP, before);
        g_ownHandlerCalls = 0;
        void (*const found)(int) = currentHandler(SIGHUP);
        {
            StopSignals stop({SIGHUP, SIGUSR1});
            QVERIFY(stop.isCatching());
            QCOMPARE(stop.catches(SIGHUP), caught);
            QVERIFY(stop.catches(SIGUSR1));
            QCOMPARE(::raise(SIGHUP), 0); // still alive
            QCOMPARE(stop.caught(), caught ? int(SIGHUP) : 0);
            if (!caught) {
                QVERIFY(currentHandler(SIGHUP) == SIG_IGN);
                // The next signal of the set is still the first one caught.
                QCOMPARE(::raise(SIGUSR1), 0);
                QCOMPARE(stop.caught(), int(SIGUSR1));
            }
        }
        QCOMPARE(g_ownHandlerCalls, 0);
        // The actions the program had before are back.
        QVERIFY(currentHandler(SIGHUP) == found);
        QVERIFY(currentHandler(SIGUSR1) == SIG_DFL);
    }

    // After its clean-up the program ends by the signal it caught, even one
    // that it had blocked meanwhile.
    void endBy()
    {
        const pid_t child = ::fork();
        QVERIFY(child >= 0);
        if (child == 0) {
            StopSignals stop({SIGTERM});
            ::raise(SIGTERM);
            const int signal = stop.caught();
            sigset_t set;
            sigemptyset(&set);
            sigaddset(&set, SIGTERM);
            ::sigprocmask(SIG_BLOCK, &set, nullptr);
            StopSignals::endBy(signal);
            ::_exit(signal == SIGTERM ? 3 : 4); // not reached when it works
        }
        int status = 0;
        QCOMPARE(::waitpid(child, &status, 0), child);
        QVERIFY2(WIFSIGNALED(status), qPrintable(QString::number(WEXITSTATUS(status))));
        QCOMPARE(WTERMSIG(status), SIGTERM);
    }
};

QTEST_GUILESS_MAIN(TestStopSignals)
#include "tst_StopSignals.moc"

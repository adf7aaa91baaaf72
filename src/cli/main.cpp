// zart-cli: the sensor's service commands from a shell or a script.

#include "cli/CliRunner.h"

#include <QCoreApplication>
#include <QTextStream>
#include <cstdio>
#include <unistd.h>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    QTextStream err(stderr);
    CliEnvironment env;
    env.stderrIsTerminal = ::isatty(STDERR_FILENO) == 1;
    return RunCli(app.arguments().mid(1), out, err, env);
}

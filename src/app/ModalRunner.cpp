#include "app/ModalRunner.h"

#include <QDialog>

namespace {
ModalRunner::Runner &currentRunner()
{
    static ModalRunner::Runner runner;
    return runner;
}
} // namespace

int ModalRunner::exec(QDialog &dialog)
{
    if (const Runner &runner = currentRunner())
        return runner(dialog);
    return dialog.exec();
}

void ModalRunner::setRunner(Runner runner)
{
    currentRunner() = std::move(runner);
}

#pragma once

#include <functional>

class QDialog;

// Every modal dialog of the tool (message boxes, the file dialog and the
// secondary windows) is run through here. The tests replace the runner so
// that they can look at a dialog and answer it without a nested event loop.
namespace ModalRunner {

using Runner = std::function<int(QDialog &dialog)>;

// Runs the dialog modally and returns its result.
int exec(QDialog &dialog);

// Replaces the way dialogs are run; an empty runner restores QDialog::exec.
void setRunner(Runner runner);

} // namespace ModalRunner

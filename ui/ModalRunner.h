#pragma once
// Every modal dialog of the program is shown through ExecModal, so that tests
// can set a dialog's controls and decide how it ends without a nested event
// loop.

#include <functional>

class QDialog;

namespace ui {

using DialogRunner = std::function<int(QDialog&)>;

// Shows the dialog modally and returns its result (QDialog::exec, or the
// runner installed by a test).
int ExecModal(QDialog& dialog);

// Installs a runner for tests; an empty function restores QDialog::exec.
void SetDialogRunner(DialogRunner runner);

}  // namespace ui

#include "ModalRunner.h"

#include <QDialog>

namespace ui {

namespace {
DialogRunner& Runner() {
  static DialogRunner runner;
  return runner;
}
}  // namespace

int ExecModal(QDialog& dialog) {
  if (Runner()) return Runner()(dialog);
  return dialog.exec();
}

void SetDialogRunner(DialogRunner runner) { Runner() = std::move(runner); }

}  // namespace ui

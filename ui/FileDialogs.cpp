#include "FileDialogs.h"

#include <QFileDialog>

namespace ui {

namespace {

FileDialogRunner& Runner() {
  static FileDialogRunner runner;
  return runner;
}

}  // namespace

std::string AskFileName(QWidget* parent, FileDialogKind kind, const std::string& caption) {
  if (Runner()) return Runner()(kind, caption);
  const QString filter = QStringLiteral("Файлы настроек (*.json);;Все файлы (*)");
  const QString title = QString::fromStdString(caption);
  QString path = kind == FileDialogKind::Save ? QFileDialog::getSaveFileName(parent, title, {}, filter)
                                              : QFileDialog::getOpenFileName(parent, title, {}, filter);
  if (kind == FileDialogKind::Save && !path.isEmpty() && !path.contains('.'))
    path += QStringLiteral(".json");
  return path.toStdString();
}

void SetFileDialogRunner(FileDialogRunner runner) { Runner() = std::move(runner); }

}  // namespace ui

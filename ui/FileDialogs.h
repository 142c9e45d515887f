#pragma once
// The file dialogs of the program are shown through AskFileName, so that
// tests choose the file without a nested event loop.

#include <functional>
#include <string>

class QWidget;

namespace ui {

enum class FileDialogKind { Open, Save };

using FileDialogRunner = std::function<std::string(FileDialogKind, const std::string& caption)>;

// The chosen file's path, empty when the operator cancelled.
std::string AskFileName(QWidget* parent, FileDialogKind kind, const std::string& caption);

// Installs a runner for tests; an empty function restores the Qt dialogs.
void SetFileDialogRunner(FileDialogRunner runner);

}  // namespace ui

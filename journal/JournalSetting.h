#pragma once
// Where the window and pmctl keep the change journal, so that one service
// visit is recorded in one file: the file chosen in the window ("Файл
// журнала изменений…", kept in ~/.config/pmservice/pmservice.conf), else
// $PMSERVICE_JOURNAL, else the user's default. pmctl's --journal overrides
// it for one command. Header only: both programs have QtCore, the journal's
// library does not.

#include <QSettings>
#include <string>

#include "Journal.h"

namespace pmjournal {

inline QSettings WindowSettings() { return QSettings(QStringLiteral("pmservice"), QStringLiteral("pmservice")); }

inline std::string ChosenPath() {
  return WindowSettings().value(QStringLiteral("journal/path")).toString().toStdString();
}

inline void RememberChosenPath(const std::string& path) {
  WindowSettings().setValue(QStringLiteral("journal/path"), QString::fromStdString(path));
}

inline std::string ConfiguredPath() { return ConfiguredPath(ChosenPath()); }

}  // namespace pmjournal

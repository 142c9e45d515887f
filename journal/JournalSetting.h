#pragma once
// Where the window and pmctl keep the change journal, so that one service
// visit is recorded in one file: the file chosen in the window ("Файл
// журнала изменений…", kept in ~/.config/pmservice/pmservice.conf), else
// $PMSERVICE_JOURNAL, else the user's default. pmctl's --journal overrides
// it for one command. The team server the entries are sent to is found the
// same way: the window's choice ("Сервер журнала изменений…"), else
// $PMSERVICE_JOURNAL_SERVER; pmctl's --journal-server overrides it. Header
// only: both programs have QtCore, the journal's library does not.

#include <QSettings>
#include <string>

#include "Journal.h"
#include "ServerAddress.h"

namespace pmjournal {

inline QSettings WindowSettings() { return QSettings(QStringLiteral("pmservice"), QStringLiteral("pmservice")); }

inline std::string ChosenPath() {
  return WindowSettings().value(QStringLiteral("journal/path")).toString().toStdString();
}

inline void RememberChosenPath(const std::string& path) {
  WindowSettings().setValue(QStringLiteral("journal/path"), QString::fromStdString(path));
}

inline std::string ConfiguredPath() { return ConfiguredPath(ChosenPath()); }

// The address as typed; a password never gets here (it is refused first).
inline std::string ChosenServer() {
  return WindowSettings().value(QStringLiteral("journal/server")).toString().toStdString();
}

inline void RememberChosenServer(const std::string& address) {
  if (address.empty()) WindowSettings().remove(QStringLiteral("journal/server"));
  else WindowSettings().setValue(QStringLiteral("journal/server"), QString::fromStdString(address));
}

inline std::string ConfiguredServer() { return ConfiguredServer(ChosenServer()); }

}  // namespace pmjournal

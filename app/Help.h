#pragma once
// The Help menu's places and texts: where the user's guide and the
// reference tables are looked for, how pages leave the help window for the
// desktop, and the text of the "about" box. The handlers themselves are
// TForm1's (app/Help.cpp); the guide is shown in app/HelpWindow.

#include <QString>
#include <QStringList>
#include <QUrl>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace pmhelp {

// The guide's file name inside a documentation folder.
inline constexpr const char* kGuideFile = "guide.ru.html";

struct Places {
  // Files that may hold the guide, in the order they are tried.
  QStringList guides;
  // Folders of the reference tables, as the range calculation searches them.
  std::vector<std::string> tableDirs;
  // Shows a local file in the desktop's browser or viewer; false when
  // nothing could be started.
  std::function<bool(const QString& path)> open;
  // Opens a link that leaves the guide (a web page, a mail address) with
  // the desktop's handler; false when nothing could be started.
  std::function<bool(const QUrl& link)> openLink;
};

// The guide beside a program in programDir: share/doc/pmservice of the same
// prefix (an install, or the build folder, which lays the guide out the same
// way), then the documentation folder the program was built for.
QStringList GuideCandidates(const QString& programDir, const QString& installedDocDir);

// The places of the running program, and QDesktopServices to open a file
// or a link.
Places DefaultPlaces();

// The first candidate that exists.
std::optional<QString> FindGuide(const QStringList& candidates);

// The "about" box's text; tableDir is the folder the tables are read from
// (empty when they are in none of the folders searched).
std::string AboutText(const std::optional<std::string>& tableDir, const std::vector<std::string>& searched);

}  // namespace pmhelp

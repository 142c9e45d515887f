#include "Help.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QUrl>
#include <QtGlobal>

#include "HelpWindow.h"
#include "Obr_pm.h"
#include "PmVersion.h"
#include "RangeCalc.h"

namespace pmhelp {

namespace {

// A folder as the operator should read it: "" is the working folder.
std::string Shown(const std::string& dir) {
  return dir.empty() ? QDir::currentPath().toStdString() : QDir::cleanPath(QString::fromStdString(dir)).toStdString();
}

}  // namespace

QStringList GuideCandidates(const QString& programDir, const QString& installedDocDir) {
  QStringList c{QDir::cleanPath(programDir + QStringLiteral("/../share/doc/pmservice/") + kGuideFile)};
  if (!installedDocDir.isEmpty()) {
    const QString installed = QDir::cleanPath(installedDocDir + QLatin1Char('/') + kGuideFile);
    if (!c.contains(installed)) c << installed;
  }
  return c;
}

Places DefaultPlaces() {
  return {GuideCandidates(QCoreApplication::applicationDirPath(), QStringLiteral(PM_DOC_DIR)),
          pmrange::DefaultTableDirs(),
          [](const QString& path) { return QDesktopServices::openUrl(QUrl::fromLocalFile(path)); },
          [](const QUrl& link) { return QDesktopServices::openUrl(link); }};
}

std::optional<QString> FindGuide(const QStringList& candidates) {
  for (const QString& c : candidates)
    if (QFileInfo(c).isFile()) return c;
  return std::nullopt;
}

std::string AboutText(const std::optional<std::string>& tableDir, const std::vector<std::string>& searched) {
  std::string tables;
  if (tableDir) {
    tables = Shown(*tableDir);
  } else {
    tables = "не найдены; искались в папках:";
    for (const auto& d : searched) {
      tables += '\n';
      tables += Shown(d);
    }
  }
  // Appended piece by piece: GCC 12 mistakes a chain of + on literals for an
  // out-of-bounds copy (-Warray-bounds) when it inlines it.
  std::string text = "pmservice — сервисная программа для приборов КАРД, ЗЕТ-ТС, ЗЕТ-ТП и ЛУНТ\n"
                     "Версия " PM_VERSION "\n"
                     "Qt ";
  text += qVersion();
  text += "\nЛицензия: " PM_LICENSE "\nТаблицы датчиков: ";
  text += tables;
  return text;
}

}  // namespace pmhelp

// ---------------------------------------------------------------------------
// Handlers of the Help menu

void TForm1::HelpGuideClick() {
  const auto guide = pmhelp::FindGuide(HelpPlaces.guides);
  if (!guide) {
    std::string text = "Руководство пользователя не найдено. Проверены пути:";
    for (const QString& c : HelpPlaces.guides) {
      text += '\n';  // not "\n" + ...: GCC 12 warns about that chain (-Wstringop-overflow)
      text += c.toStdString();
    }
    m_messages.Warning(text + "\nУстановите программу вместе с документацией (пакет pmservice).");
    return;
  }
  // Created with the guide on first use; later shown again as left.
  if (!m_helpWindow) {
    m_helpWindow = std::make_unique<HelpWindow>(HelpPlaces, m_messages, this);
    m_helpWindow->ShowPage(*guide);
  }
  m_helpWindow->show();
  m_helpWindow->raise();
  m_helpWindow->activateWindow();
}

void TForm1::HelpAboutClick() {
  m_messages.Information(pmhelp::AboutText(pmrange::TableDirInUse(HelpPlaces.tableDirs), HelpPlaces.tableDirs),
                         "О программе");
}

// Start-up: the application, the main window (which creates the dialogs),
// the event loop until the main window closes.

#include <QApplication>
#include <QIcon>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>
#include <csignal>
#include <cstdio>
#include <exception>

#include "Obr_pm.h"
#include "QtMessageService.h"
#include "NamedPort.h"

int main(int argc, char** argv) {
  // Under a file-size limit a save fails with its reason (the old file
  // kept) instead of the program being killed half-way through.
  std::signal(SIGXFSZ, SIG_IGN);
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("pmservice"));
  QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("pmservice")));  // the installed icon
  // Qt's own texts (file dialogs, edit fields' context menus) in Russian
  // like the rest of the window, when Qt's translations are installed.
  QTranslator qtTexts;
  if (qtTexts.load(QLocale(QLocale::Russian), QStringLiteral("qtbase"), QStringLiteral("_"),
                   QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
    QApplication::installTranslator(&qtTexts);
  ui::QtMessageService messages;
  try {
    pmlink::NamedPort port;  // outlives the window, whose link drives it
    TForm1 form(messages, port);
    form.show();
    return QApplication::exec();
  } catch (const std::exception& e) {
    // An error that escapes start-up or the event loop ends the program.
    messages.Show({e.what(), "", ui::Icon::Error, ui::Buttons::Ok, ui::Answer::Ok});
  } catch (...) {
    messages.Show({"Неизвестная ошибка", "", ui::Icon::Error, ui::Buttons::Ok, ui::Answer::Ok});
  }
  return 1;
}

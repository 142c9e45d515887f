// The Help menu of an installed program: both items run as the operator
// runs them, with the guide looked up beside PROGRAM_DIR as the installed
// program looks it up, and the tables in DATA_DIR. Prints the page the help
// window shows, what its "Открыть в браузере" hands to the desktop, and the
// text of the "about" box.
//
//   help_probe PROGRAM_DIR DATA_DIR

#include <QAction>
#include <QApplication>
#include <cstdio>

#include "HelpWindow.h"
#include "Obr_pm.h"
#include "ScriptedMessageService.h"
#include "TermiosPort.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s PROGRAM_DIR DATA_DIR\n", argv[0]);
    return 2;
  }
  ui::ScriptedMessageService messages;
  pmlink::TermiosPort port;
  TForm1 form(messages, port);
  form.HelpPlaces.guides = pmhelp::GuideCandidates(QString::fromLocal8Bit(argv[1]), QString());
  form.HelpPlaces.tableDirs = {"", argv[2]};
  form.HelpPlaces.open = [](const QString& path) {
    std::printf("browser: %s\n", qPrintable(path));
    return true;
  };

  form.ui.AHelpGuide->trigger();
  if (HelpWindow* help = form.Help(); help && help->isVisible()) {
    std::printf("guide: %s\n", qPrintable(help->PageShown()));
    help->ui.ButBrowser->click();
  }
  form.ui.AHelpAbout->trigger();
  for (const auto& m : messages.shown) std::printf("%s: %s\n", m.caption.c_str(), m.text.c_str());
  return 0;
}

// Loads a sensor's reference table the way the range dialog does (the
// working folder first, then the data folder compiled in), from whatever
// folder it is started in.  Built with the data folder of a staged install,
// so that it finds the tables only if the install put them there.
//
//   table_probe SENSOR    exit 0 and print the entry count when the table loads

#include <cstdio>

#include "RangeCalc.h"
#include "ScriptedMessageService.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s SENSOR\n", argv[0]);
    return 2;
  }
  ui::ScriptedMessageService messages;
  pmrange::RangeCalculator calc(messages);
  const pmrange::LoadStatus status = calc.LoadRefTable(argv[1]);
  if (status != pmrange::LoadStatus::Ok) {
    std::fprintf(stderr, "%s: table not loaded (status %d); searched:", argv[1], static_cast<int>(status));
    for (const auto& dir : calc.tableDirs) std::fprintf(stderr, " '%s'", dir.c_str());
    std::fprintf(stderr, "\n");
    return 1;
  }
  std::printf("%d\n", calc.Table().Count);
  return 0;
}

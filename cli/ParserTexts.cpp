#include "ParserTexts.h"

#include <cstring>

namespace pmcli {

QString ParserTexts::translate(const char* context, const char* sourceText, const char*, int) const {
  if (context == nullptr || sourceText == nullptr || std::strcmp(context, "QCommandLineParser") != 0) return {};
  static const struct {
    const char* english;
    const char* russian;
  } texts[] = {
      {"Usage: %1", "Использование: %1"},
      {"Options:", "Ключи:"},
      {"Arguments:", "Аргументы:"},
      {"[options]", "[ключи]"},
      {"Unknown option '%1'.", "Неизвестный ключ «%1»."},
      {"Unknown options: %1.", "Неизвестные ключи: %1."},
      {"Missing value after '%1'.", "Нет значения после «%1»."},
      {"Unexpected value after '%1'.", "Лишнее значение после «%1»."},
      {"Displays help on commandline options.", "Показать эту справку."},
      {"Displays help including Qt specific options.", "Показать справку, включая ключи Qt."},
      {"Displays version information.", "Показать версию программы."},
  };
  for (const auto& t : texts)
    if (std::strcmp(sourceText, t.english) == 0) return QString::fromUtf8(t.russian);
  return {};
}

}  // namespace pmcli

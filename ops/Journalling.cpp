#include "Journalling.h"

#include "Fields.h"
#include "Identification.h"
#include "SettingsFile.h"

namespace pmops {

pmjournal::Entry EntryBefore(const TProgPMClass& pm, const std::vector<std::uint8_t>& before,
                             const std::string& port, int address, const std::string& operation,
                             std::int64_t beforeReadMs) {
  pmjournal::Entry e;
  e.port = port;
  e.address = address;
  e.model = pm.DevType;
  e.version = pm.Version;
  e.access = static_cast<int>(pmset::AccessOf(pm));
  e.identification = pmdev::IdentificationText(pm.DevType, pm.Version).text;
  e.operation = operation;
  e.program = "pmservice " + pmset::ProgramVersion();
  e.before = before;
  e.beforeReadMs = beforeReadMs;
  return e;
}

std::string FileDetail(const pmset::Snapshot& file) {
  return "Файл: " + file.program + ", " + file.savedAt + ", " + file.port + ", устройство " +
         std::to_string(file.address);
}

WriteEnd EndOf(const WriteOutcome& w) {
  switch (w.stop) {
    case WriteStop::Written: return {};
    case WriteStop::NoData: return {pmjournal::Outcome::Refused, "нет прочитанных данных", 0};
    case WriteStop::OtherModel: return {pmjournal::Outcome::Refused, "другой тип прибора", 0};
    case WriteStop::OtherVersion: return {pmjournal::Outcome::Refused, "другая версия прибора", 0};
    case WriteStop::Identify: return {pmjournal::Outcome::Failed, "опознание прибора (функция 17)", w.result};
    case WriteStop::Block: return {pmjournal::Outcome::Failed, "передача блока (функция 69)", w.result};
    case WriteStop::Confirm: return {pmjournal::Outcome::Failed, "подтверждение (функция 14)", w.result};
  }
  return {pmjournal::Outcome::Failed, "?", w.result};
}

WriteEnd EndOfCommand(int result) {
  if (result == rc::Ok) return {};
  return {pmjournal::Outcome::Failed, "передача команды", result};
}

}  // namespace pmops

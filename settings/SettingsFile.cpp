#include "SettingsFile.h"

#include <algorithm>
#include <ctime>
#include <nlohmann/json.hpp>

#include "Fields.h"
#include "Identification.h"
#include "PmVersion.h"

namespace pmset {

namespace {

using nlohmann::ordered_json;

std::string ToHex(const std::vector<std::uint8_t>& bytes) {
  static const char* digits = "0123456789ABCDEF";
  std::string out;
  for (std::uint8_t b : bytes) {
    out += digits[b >> 4];
    out += digits[b & 0x0F];
  }
  return out;
}

std::optional<std::vector<std::uint8_t>> FromHex(const std::string& text) {
  std::string digits;
  for (char c : text)
    if (c != ' ') digits += c;
  if (digits.size() % 2 != 0) return std::nullopt;
  std::vector<std::uint8_t> out;
  for (std::size_t i = 0; i < digits.size(); i += 2) {
    int v = 0;
    for (char c : {digits[i], digits[i + 1]}) {
      int d;
      if (c >= '0' && c <= '9') d = c - '0';
      else if (c >= 'A' && c <= 'F') d = c - 'A' + 10;
      else if (c >= 'a' && c <= 'f') d = c - 'a' + 10;
      else return std::nullopt;
      v = v * 16 + d;
    }
    out.push_back(static_cast<std::uint8_t>(v));
  }
  return out;
}

ordered_json FieldsObject(const std::vector<Field>& fields) {
  ordered_json o = ordered_json::object();
  for (const Field& f : fields) o[f.key] = f.text;
  return o;
}

Parsed Refused(const std::string& why) { return {std::nullopt, why + kNothingLoaded}; }

}  // namespace

std::string ProgramVersion() { return PM_VERSION; }

std::vector<std::uint8_t> BlockOf(const TProgPMClass& pm) {
  const auto len = static_cast<std::ptrdiff_t>(std::min(pm.GetLen(), static_cast<int>(TProgPMClass::MaxBlockLen)));
  return {pm.Image.begin() + 1, pm.Image.begin() + 1 + len};
}

Snapshot TakeSnapshot(const TProgPMClass& pm, const std::string& port, int address) {
  Snapshot s;
  s.program = "pmservice " + ProgramVersion();
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char buf[32];
  std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%S", &local);
  s.savedAt = buf;
  s.port = port;
  s.address = address;
  s.model = pm.DevType;
  s.version = pm.Version;
  s.correction = pm.GetCurrent();
  s.block = BlockOf(pm);
  s.measurement.assign(pm.Image.begin() + TProgPMClass::MeasOffset, pm.Image.end());
  return s;
}

std::string Encode(const Snapshot& s) {
  ordered_json j;
  j["format"] = kFormatName;
  j["format_version"] = s.formatVersion;
  j["program"] = s.program;
  j["saved"] = s.savedAt;
  j["port"] = s.port;
  j["address"] = s.address;
  j["instrument"] = {{"model", s.model},
                     {"model_name", pmdev::ModelName(s.model)},
                     {"version", s.version},
                     {"current_correction", s.correction}};
  j["block"] = ToHex(s.block);
  j["decoded"] = FieldsObject(Describe(s.model, s.version, s.block));
  j["measurement"] = {{"hex", ToHex(s.measurement)},
                      {"decoded", FieldsObject(DescribeMeasurement(s.model, s.version, s.block, s.measurement))}};
  return j.dump(2) + "\n";
}

Parsed Decode(std::string_view text) {
  const ordered_json j = ordered_json::parse(text, nullptr, false);
  if (j.is_discarded()) return Refused("Файл не является файлом JSON:\nэто не файл настроек прибора.");
  try {
    if (!j.is_object() || !j.contains("format") || j["format"] != kFormatName)
      return Refused("Файл не является файлом настроек прибора.");
    Snapshot s;
    s.formatVersion = j.at("format_version").get<int>();
    if (s.formatVersion > kFormatVersion)
      return Refused("Файл записан более новой версией программы (формат " +
                     std::to_string(s.formatVersion) + ", эта программа знает формат " +
                     std::to_string(kFormatVersion) + ").");
    s.program = j.value("program", "");
    s.savedAt = j.value("saved", "");
    s.port = j.value("port", "");
    s.address = j.value("address", 0);
    const auto& id = j.at("instrument");
    s.model = id.at("model").get<int>();
    s.version = id.at("version").get<int>();
    s.correction = id.value("current_correction", 0);
    const auto block = FromHex(j.at("block").get<std::string>());
    if (!block) return Refused("Блок параметров в файле не записан шестнадцатеричными цифрами.");
    if (block->empty() || block->size() > TProgPMClass::MaxBlockLen)
      return Refused("Блок параметров в файле длиной " + std::to_string(block->size()) +
                     " байт, а должен быть от 1 до 40.");
    s.block = *block;
    if (j.contains("measurement") && j["measurement"].contains("hex")) {
      const auto meas = FromHex(j["measurement"]["hex"].get<std::string>());
      if (meas && meas->size() == TProgPMClass::MeasLen) s.measurement = *meas;
    }
    if (j.contains("decoded")) {
      const auto& decoded = j.at("decoded");
      for (const Field& f : Describe(s.model, s.version, s.block)) {
        if (!decoded.contains(f.key)) continue;
        if (!decoded[f.key].is_string() || decoded[f.key].get<std::string>() != f.text)
          return Refused("Расшифровка в файле не совпадает с блоком параметров\n(поле «" + f.label +
                         "»: в блоке " + f.text + "). Файл изменён вручную.");
      }
    }
    return {s, {}};
  } catch (const nlohmann::json::exception&) {
    return Refused("Файл не является файлом настроек прибора:\nнет нужных полей.");
  }
}

std::string RefusalFor(const Snapshot& s, int model, int version, int length) {
  auto name = [](int m) {
    const std::string n = pmdev::ModelName(m);
    return n.empty() ? "с кодом " + std::to_string(m) : n;
  };
  if (s.model != model)
    return "Не совпадает тип прибора:\nфайл снят с прибора " + name(s.model) + ", а прибор — " +
           name(model) + "." + kNothingLoaded;
  if (s.version != version)
    return "Не совпадает версия прибора:\nфайл снят с версии " + std::to_string(s.version) +
           ", а у прибора версия " + std::to_string(version) + "." + kNothingLoaded;
  if (static_cast<int>(s.block.size()) != length)
    return "Не совпадает длина блока параметров:\nв файле " + std::to_string(s.block.size()) +
           " байт, у прибора " + std::to_string(length) + "." + kNothingLoaded;
  return {};
}

}  // namespace pmset

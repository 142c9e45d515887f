#include "SettingsFile.h"

#include <algorithm>
#include <ctime>
#include <limits>
#include <variant>
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

ordered_json ToJson(const Number& n) {
  return std::visit([](const auto& v) { return ordered_json(v); }, n);
}

ordered_json ValuesObject(const std::vector<Field>& fields) {
  ordered_json o = ordered_json::object();
  for (const Field& f : fields)
    for (const Value& v : f.values) o[v.key] = ToJson(v.number);
  return o;
}

Parsed Refused(const std::string& why) { return {std::nullopt, why + kNothingLoaded}; }

// Deeper than any settings file (which nests three levels).
constexpr int kMaxDepth = 8;

// A refusal raised while the file is taken apart.
struct Broken {
  std::string why;
};

// An integer in lo..hi; anything else (a fraction, 1e300, a string, out of
// range) refuses the file.
int IntegerAt(const ordered_json& parent, const char* key, long long lo, long long hi) {
  const auto refuse = [&] {
    const std::string range = hi == std::numeric_limits<int>::max()
                                  ? "не меньше " + std::to_string(lo)
                                  : "от " + std::to_string(lo) + " до " + std::to_string(hi);
    return Broken{"Поле «" + std::string(key) + "» в файле должно быть целым числом " + range + "."};
  };
  if (!parent.contains(key)) throw Broken{"В файле нет поля «" + std::string(key) + "»."};
  const ordered_json& v = parent.at(key);
  if (v.is_number_unsigned()) {
    const auto u = v.get<std::uint64_t>();
    if (u > static_cast<std::uint64_t>(hi) || static_cast<long long>(u) < lo) throw refuse();
    return static_cast<int>(u);
  }
  if (!v.is_number_integer()) throw refuse();
  const auto i = v.get<std::int64_t>();
  if (i < lo || i > hi) throw refuse();
  return static_cast<int>(i);
}

std::string TextAt(const ordered_json& parent, const char* key) {
  if (!parent.contains(key)) return {};
  if (!parent.at(key).is_string()) throw Broken{"Поле «" + std::string(key) + "» в файле должно быть строкой."};
  return parent.at(key).get<std::string>();
}

const ordered_json& ObjectAt(const ordered_json& parent, const char* key) {
  if (!parent.contains(key) || !parent.at(key).is_object())
    throw Broken{"В файле нет раздела «" + std::string(key) + "»."};
  return parent.at(key);
}

std::vector<std::uint8_t> HexAt(const ordered_json& parent, const char* key, const char* what) {
  const auto bytes = parent.contains(key) && parent.at(key).is_string() ? FromHex(parent.at(key).get<std::string>())
                                                                        : std::nullopt;
  if (!bytes) throw Broken{std::string(what) + " в файле не записан шестнадцатеричными цифрами."};
  return *bytes;
}

// The decoded parts must name every field of the block and agree with it.
void CheckDecoded(const ordered_json& j, const Snapshot& s) {
  const ordered_json& decoded = ObjectAt(j, "decoded");
  const std::vector<Field> fields = Describe(s.View());
  const auto edited = [](const Field& f) {
    return Broken{"Расшифровка в файле не совпадает с блоком параметров\n(поле «" + f.label + "»: в блоке " + f.text +
                  "). Файл изменён вручную."};
  };
  for (const Field& f : fields) {
    if (!decoded.contains(f.key))
      throw Broken{"В расшифровке блока параметров в файле нет поля «" + f.label + "» (" + f.key + ")."};
    // The first format wrote an access mode read from a bit the read had
    // already overwritten; it is not compared.
    if (s.formatVersion == 1 && f.key == "access_mode") continue;
    if (!decoded.at(f.key).is_string() || decoded.at(f.key).get<std::string>() != f.text) throw edited(f);
  }
  if (s.formatVersion < 2) return;
  const ordered_json& values = ObjectAt(j, "values");
  for (const Field& f : fields)
    for (const Value& v : f.values)
      if (!values.contains(v.key) || values.at(v.key) != ToJson(v.number))
        throw Broken{"Числа в файле («values») не совпадают с блоком параметров\n(поле «" + f.label + "», «" + v.key +
                     "»). Файл изменён вручную."};
}

Snapshot Take(const ordered_json& j) {
  if (!j.is_object() || TextAt(j, "format") != kFormatName) throw Broken{"Файл не является файлом настроек прибора."};
  Snapshot s;
  s.formatVersion = IntegerAt(j, "format_version", 1, std::numeric_limits<int>::max());
  if (s.formatVersion > kFormatVersion)
    throw Broken{"Файл записан более новой версией программы (формат " + std::to_string(s.formatVersion) +
                 ", эта программа знает формат " + std::to_string(kFormatVersion) + ")."};
  s.program = TextAt(j, "program");
  s.savedAt = TextAt(j, "saved");
  s.port = TextAt(j, "port");
  s.address = IntegerAt(j, "address", 1, 32);
  const ordered_json& id = ObjectAt(j, "instrument");
  s.model = IntegerAt(id, "model", pmdev::kModelKard, pmdev::kModelLunt);
  s.version = IntegerAt(id, "version", 0, 255);
  s.correction = IntegerAt(id, "current_correction", 0, 15);
  if (s.formatVersion >= 2 && id.contains("privileged")) {
    if (!id.at("privileged").is_boolean()) throw Broken{"Поле «privileged» в файле должно быть true или false."};
    s.access = id.at("privileged").get<bool>() ? Access::Privileged : Access::NonPrivileged;
  }
  s.block = HexAt(j, "block", "Блок параметров");
  if (s.block.empty() || s.block.size() > TProgPMClass::MaxBlockLen)
    throw Broken{"Блок параметров в файле длиной " + std::to_string(s.block.size()) +
                 " байт, а должен быть от 1 до 40."};
  if (s.block.size() >= 5 && s.block[4] >> 4 != s.correction)
    throw Broken{"Коррекция тока в файле («current_correction») не совпадает с блоком параметров.\n"
                 "Файл изменён вручную."};
  if (j.contains("measurement")) {
    s.measurement = HexAt(ObjectAt(j, "measurement"), "hex", "Блок измерения");
    if (s.measurement.size() != TProgPMClass::MeasLen)
      throw Broken{"Блок измерения в файле длиной " + std::to_string(s.measurement.size()) + " байт, а должен быть 9."};
  }
  CheckDecoded(j, s);
  return s;
}

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
  char buf[40];
  std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%S%z", &local);
  s.savedAt = buf;
  if (s.savedAt.size() > 2) s.savedAt.insert(s.savedAt.size() - 2, ":");  // +0300 -> +03:00
  s.port = port;
  s.address = address;
  s.model = pm.DevType;
  s.version = pm.Version;
  s.correction = pm.GetCurrent();
  s.access = AccessOf(pm);
  s.block = BlockOf(pm);
  s.measurement.assign(pm.Image.begin() + TProgPMClass::MeasOffset, pm.Image.end());
  return s;
}

std::string Encode(const Snapshot& s) {
  ordered_json j;
  j["format"] = kFormatName;
  j["format_version"] = kFormatVersion;
  j["program"] = s.program;
  j["saved"] = s.savedAt;
  j["port"] = s.port;
  j["address"] = s.address;
  j["instrument"] = {{"model", s.model},
                     {"model_name", pmdev::ModelName(s.model)},
                     {"version", s.version},
                     {"current_correction", s.correction}};
  if (s.access != Access::Unknown) j["instrument"]["privileged"] = s.access == Access::Privileged;
  j["block"] = ToHex(s.block);
  const std::vector<Field> fields = Describe(s.View());
  j["decoded"] = FieldsObject(fields);
  j["values"] = ValuesObject(fields);
  if (!s.measurement.empty()) {
    const std::vector<Field> measured = DescribeMeasurement(s.View(), s.measurement);
    j["measurement"] = {{"hex", ToHex(s.measurement)}, {"decoded", FieldsObject(measured)}, {"values", ValuesObject(measured)}};
  }
  // A port name is whatever was typed; bytes that are not UTF-8 are replaced.
  return j.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}

Parsed Decode(std::string_view text) {
  try {
    bool tooDeep = false;
    const ordered_json j = ordered_json::parse(
        text,
        [&tooDeep](int depth, nlohmann::json::parse_event_t, ordered_json&) {
          if (depth > kMaxDepth) tooDeep = true;
          return depth <= kMaxDepth;
        },
        false);
    if (tooDeep) return Refused("Файл не является файлом настроек прибора:\nслишком глубокая вложенность.");
    if (j.is_discarded()) return Refused("Файл не является файлом JSON:\nэто не файл настроек прибора.");
    return {Take(j), {}};
  } catch (const Broken& b) {
    return Refused(b.why);
  } catch (const nlohmann::json::exception& e) {
    return Refused(std::string("Файл не является файлом настроек прибора:\n") + e.what());
  } catch (const std::exception& e) {
    return Refused(std::string("Файл не прочитан: ") + e.what());
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

#include "Commands.h"

#include <fstream>
#include <optional>
#include <iostream>
#include <sstream>

#include "Apply.h"
#include "DisplayFormat.h"
#include "Fields.h"
#include "PortEnumeration.h"
#include "Read.h"
#include "Scan.h"
#include "SettingsFile.h"
#include "Write.h"

namespace pmcli {

namespace {

struct Instrument {
  TProgPMClass pm;
  TServClass serv;
  std::optional<float> sensor;  // version 6: Rt (ЗЕТ-ТС) or Et (ЗЕТ-ТП)
};

// Reads the instrument; on failure prints why and gives the exit code.
int ReadInto(const Target& t, Instrument& in) {
  in.serv.DeviceIndex = in.serv.NewDeviceIndex = t.address - 1;
  const pmops::ReadOutcome r = pmops::Read(t.link, in.pm, in.serv);
  in.sensor = r.sensorValue;
  switch (r.stop) {
    case pmops::ReadStop::Complete:
      if (r.outputControlResult != rc::Ok) t.err << t.link.ErrorText(in.serv.DeviceIndex, r.outputControlResult) << '\n';
      if (r.sensorResult != rc::Ok) t.err << t.link.ErrorText(in.serv.DeviceIndex, r.sensorResult) << '\n';
      return kDone;
    case pmops::ReadStop::BlockTooLong:
      t.err << pmops::BlockTooLongText(t.address, r.blockCount) << '\n';
      return kInstrumentRefused;
    case pmops::ReadStop::Undetermined:
      t.err << pmdev::UndeterminedTypeWarning(t.address) << '\n';
      return kInstrumentRefused;
    case pmops::ReadStop::Foreign:
      t.err << pmdev::ForeignDeviceWarning(t.address) << '\n';
      return kInstrumentRefused;
    default:
      t.err << t.link.ErrorText(in.serv.DeviceIndex, r.result) << '\n';
      return kLinkFailure;
  }
}

int ReadFile(const Target& t, const std::string& path, pmset::Snapshot& out) {
  std::ifstream f(path, std::ios::binary);
  if (!f) {
    t.err << "Не удалось открыть файл " << path << '\n';
    return kFileRefused;
  }
  std::stringstream text;
  text << f.rdbuf();
  const pmset::Parsed parsed = pmset::Decode(text.str());
  if (!parsed.file) {
    t.err << parsed.refusal << '\n';
    return kFileRefused;
  }
  out = *parsed.file;
  return kDone;
}

void PrintFields(std::ostream& out, const std::vector<pmset::Field>& fields) {
  for (const pmset::Field& f : fields) out << f.label << ": " << f.text << '\n';
}

// The fields of two blocks that differ, as "caption: a -> b" lines.
std::vector<std::string> Differences(int model, int version, const std::vector<std::uint8_t>& a,
                                     const std::vector<std::uint8_t>& b) {
  const auto fa = pmset::Describe(model, version, a), fb = pmset::Describe(model, version, b);
  std::vector<std::string> out;
  for (std::size_t i = 0; i < fa.size() && i < fb.size(); ++i)
    if (fa[i].text != fb[i].text) out.push_back(fa[i].label + ": " + fa[i].text + " / " + fb[i].text);
  if (out.empty() && a != b) out.push_back("блок параметров");
  return out;
}

}  // namespace

int Ports(std::ostream& out) {
  for (const auto& p : pmlink::EnumeratePorts())
    out << p.name << (p.description.empty() ? "" : "\t" + p.description) << '\n';
  return kDone;
}

int Scan(TComPortClass& link, std::ostream& out, std::ostream& err, int count) {
  const pmops::ScanOutcome s = pmops::Scan(link, count, {}, [&out](const pmops::ScanHit& hit) {
    out << hit.address << '\t' << pmdev::ModelName(hit.identity.model) << '\n' << std::flush;
  });
  if (s.portResult != rc::Ok) {
    err << link.ErrorText(s.portIndex, s.portResult) << '\n';
    return kLinkFailure;
  }
  return kDone;
}

int Read(const Target& t, bool json) {
  Instrument in;
  if (const int code = ReadInto(t, in)) return code;
  if (json) {
    t.out << pmset::Encode(pmset::TakeSnapshot(in.pm, t.link.Port, t.address));
    return kDone;
  }
  t.out << pmdev::IdentificationText(in.pm.DevType, in.pm.Version).text << '\n';
  t.out << "Порт: " << t.link.Port << ", устройство " << t.address << '\n';
  const std::vector<std::uint8_t> block = pmset::BlockOf(in.pm);
  PrintFields(t.out, pmset::Describe(in.pm.DevType, in.pm.Version, block));
  const std::vector<std::uint8_t> meas(in.pm.Image.begin() + TProgPMClass::MeasOffset, in.pm.Image.end());
  PrintFields(t.out, pmset::DescribeMeasurement(in.pm.DevType, in.pm.Version, block, meas));
  if (in.sensor)
    t.out << (in.pm.DevType == pmdev::kModelZetTS ? "Rt, Ом: " : "Et, mV: ")
          << pmdev::Format(*in.sensor, pmdev::kFmtRtEt) << '\n';
  return kDone;
}

int Save(const Target& t, const std::string& file) {
  Instrument in;
  if (const int code = ReadInto(t, in)) return code;
  std::ofstream f(file, std::ios::binary | std::ios::trunc);
  f << pmset::Encode(pmset::TakeSnapshot(in.pm, t.link.Port, t.address));
  f.close();
  if (!f) {
    t.err << "Не удалось записать файл " << file << '\n';
    return kFileRefused;
  }
  return kDone;
}

int Load(const Target& t, const std::string& file, bool everything) {
  pmset::Snapshot s;
  if (const int code = ReadFile(t, file, s)) return code;
  Instrument in;
  if (const int code = ReadInto(t, in)) return code;
  const std::string refusal = pmset::RefusalFor(s, in.pm.DevType, in.pm.Version, in.pm.GetLen());
  if (!refusal.empty()) {
    t.err << refusal << '\n';
    return kFileRefused;
  }
  const pmset::Applied applied =
      pmset::Apply(s, in.pm, everything ? pmset::Scope::Everything : pmset::Scope::Settings);
  for (const std::string& label : applied.notLoaded)
    t.err << "Не загружено (непривилегированный режим): " << label << '\n';
  const std::vector<std::uint8_t> written = pmset::BlockOf(in.pm);

  in.pm.Changed = 1;
  const pmops::WriteOutcome w = pmops::Write(t.link, in.pm, in.serv);
  switch (w.stop) {
    case pmops::WriteStop::Written: break;
    case pmops::WriteStop::OtherModel:
    case pmops::WriteStop::OtherVersion:
      t.err << pmops::RefusalText(w.stop) << '\n';
      return kInstrumentRefused;
    default:
      t.err << t.link.ErrorText(in.serv.DeviceIndex, w.result) << '\n';
      return kLinkFailure;
  }

  // Verified: read back and compare every byte written.
  Instrument back;
  const Target again{t.link, t.out, t.err, in.serv.DeviceIndex + 1};
  if (const int code = ReadInto(again, back)) return code;
  const auto diff = Differences(in.pm.DevType, in.pm.Version, written, pmset::BlockOf(back.pm));
  if (!diff.empty()) {
    t.err << "устройство " << again.address << " - после записи прочитано не то, что записано (записано / прочитано):\n";
    for (const std::string& line : diff) t.err << line << '\n';
    return kDifference;
  }
  return kDone;
}

int Diff(const Target& t, const std::string& file) {
  pmset::Snapshot s;
  if (const int code = ReadFile(t, file, s)) return code;
  Instrument in;
  if (const int code = ReadInto(t, in)) return code;
  const std::string refusal = pmset::RefusalFor(s, in.pm.DevType, in.pm.Version, static_cast<int>(s.block.size()));
  if (!refusal.empty()) {
    t.err << refusal << '\n';
    return kFileRefused;
  }
  const auto mine = pmset::Describe(in.pm.DevType, in.pm.Version, pmset::BlockOf(in.pm));
  const auto theirs = pmset::Describe(s.model, s.version, s.block);
  bool differ = false;
  t.out << "  Параметр\tПрибор\tФайл\n";
  for (std::size_t i = 0; i < mine.size() && i < theirs.size(); ++i) {
    const bool d = mine[i].text != theirs[i].text;
    differ = differ || d;
    t.out << (d ? "* " : "  ") << mine[i].label << '\t' << mine[i].text << '\t' << theirs[i].text << '\n';
  }
  return differ ? kDifference : kDone;
}

}  // namespace pmcli

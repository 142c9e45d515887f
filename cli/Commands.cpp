#include "Commands.h"

#include <optional>
#include <ostream>

#include "Apply.h"
#include "DisplayFormat.h"
#include "FileAccess.h"
#include "Identification.h"
#include "Journalling.h"
#include "PortEnumeration.h"
#include "Read.h"
#include "Report.h"
#include "Scan.h"
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
      if (r.outputControlResult != rc::Ok) Report(t.err, t.link.ErrorText(in.serv.DeviceIndex, r.outputControlResult));
      if (r.sensorResult != rc::Ok) Report(t.err, t.link.ErrorText(in.serv.DeviceIndex, r.sensorResult));
      return kDone;
    case pmops::ReadStop::BlockTooLong:
      Report(t.err, pmops::BlockTooLongText(t.address, r.blockCount));
      return kInstrumentRefused;
    case pmops::ReadStop::Undetermined:
      Report(t.err, pmdev::UndeterminedTypeWarning(t.address));
      return kInstrumentRefused;
    case pmops::ReadStop::Foreign:
      Report(t.err, pmdev::ForeignDeviceWarning(t.address));
      return kInstrumentRefused;
    default:
      Report(t.err, t.link.ErrorText(in.serv.DeviceIndex, r.result));
      return kLinkFailure;
  }
}

pmset::BlockView ViewOf(const TProgPMClass& pm, const std::vector<std::uint8_t>& block) {
  return {pm.DevType, pm.Version, block, pmset::AccessOf(pm)};
}

void PrintFields(std::ostream& out, const std::vector<pmset::Field>& fields) {
  for (const pmset::Field& f : fields) out << f.label << ": " << f.text << '\n';
}

}  // namespace

int Ports(std::ostream& out) {
  for (const auto& p : pmlink::EnumeratePorts())
    out << p.name << (p.description.empty() ? "" : "\t" + p.description) << '\n';
  return kDone;
}

int Scan(TComPortClass& link, std::ostream& out, std::ostream& err, int count, int attempts) {
  const auto hit = [&out](const pmops::ScanHit& h) {
    const std::string name = pmdev::ModelName(h.identity.model);
    out << h.address << '\t'
        << (name.empty() ? "тип не обслуживается (код " + std::to_string(h.identity.model) + ")" : name) << '\n'
        << std::flush;
  };
  const pmops::ScanOutcome s = pmops::Scan(link, count, {}, hit, attempts);
  if (s.portResult != rc::Ok) {
    Report(err, link.ErrorText(s.portIndex, s.portResult));
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
  PrintFields(t.out, pmset::Describe(ViewOf(in.pm, block)));
  const std::vector<std::uint8_t> meas(in.pm.Image.begin() + TProgPMClass::MeasOffset, in.pm.Image.end());
  PrintFields(t.out, pmset::DescribeMeasurement(ViewOf(in.pm, block), meas));
  if (in.sensor)
    t.out << (in.pm.DevType == pmdev::kModelZetTS ? "Rt, Ом: " : "Et, mV: ")
          << pmdev::Format(*in.sensor, pmdev::kFmtRtEt) << '\n';
  return kDone;
}

int Save(const Target& t, const std::string& file) {
  Instrument in;
  if (const int code = ReadInto(t, in)) return code;
  const std::string failure =
      pmset::WriteFileAtomically(file, pmset::Encode(pmset::TakeSnapshot(in.pm, t.link.Port, t.address)));
  if (!failure.empty()) {
    Report(t.err, "Не удалось записать файл настроек: " + failure);
    return kFileRefused;
  }
  return kDone;
}

int ReadFile(std::ostream& err, const std::string& path, pmset::Snapshot& out) {
  const pmset::FileText text = pmset::ReadSettingsFile(path);
  if (!text.ok) {
    Report(err, text.why + pmset::kNothingLoaded);
    return kFileRefused;
  }
  const pmset::Parsed parsed = pmset::Decode(text.text);
  if (!parsed.file) {
    Report(err, parsed.refusal);
    return kFileRefused;
  }
  out = *parsed.file;
  return kDone;
}

int Load(const Target& t, const pmset::Snapshot& file, bool everything) {
  Instrument in;
  if (const int code = ReadInto(t, in)) return code;
  const std::string refusal = pmset::RefusalFor(file, in.pm.DevType, in.pm.Version, in.pm.GetLen());
  if (!refusal.empty()) {
    Report(t.err, refusal);
    return kFileRefused;
  }
  const std::vector<std::uint8_t> before = pmset::BlockOf(in.pm);
  const pmset::Applied applied =
      pmset::Apply(file, in.pm, everything ? pmset::Scope::Everything : pmset::Scope::Settings);
  const auto notApplied = [&]() {
    for (const std::string& label : applied.notApplied)
      Report(t.err, std::string(everything ? "Не восстановлено" : "Не загружено") +
                        " (непривилегированный режим): " + label);
    return applied.notApplied.empty() ? kDone : kInstrumentRefused;
  };
  if (!applied.changed) return notApplied();  // the instrument holds it all already
  const std::vector<std::uint8_t> written = pmset::BlockOf(in.pm);

  // The block as read goes on record before anything is written.
  std::int64_t entry = 0;
  if (t.journal) {
    pmjournal::Entry e = pmops::EntryBefore(
        in.pm, before, t.link.Port, t.address,
        everything ? pmops::operation::kRestoreAll : pmops::operation::kLoadSettings);
    e.program = "pmctl " + pmset::ProgramVersion();
    e.detail = pmops::FileDetail(file);
    try {
      entry = t.journal->Begin(e);
    } catch (const pmjournal::JournalError& failure) {
      Report(t.err, std::string(failure.what()) +
                        "\nВ прибор ничего не записано. Записать без журнала: ключ --no-journal.");
      return kJournalRefused;
    }
    if (const std::string notice = t.journal->TakeNotice(); !notice.empty()) Report(t.err, notice);
  }
  // An entry the journal could not finish is reported with what the
  // instrument got; it decides the exit code unless the write failed.
  bool unfinished = false;
  const auto finish = [&](const std::vector<std::uint8_t>& sent, const std::vector<std::uint8_t>& after,
                          const pmops::WriteEnd& end) {
    if (!t.journal) return;
    try {
      t.journal->Finish(entry, sent, after, end.outcome, end.step, end.result);
      if (const std::string notice = t.journal->TakeNotice(); !notice.empty()) Report(t.err, notice);
    } catch (const pmjournal::JournalError& failure) {
      unfinished = true;
      Report(t.err, std::string(failure.what()) + "\n" +
                        (sent.empty() ? "В прибор ничего не передано; в журнале запись осталась незавершённой."
                                      : "Запись в прибор выполнена; в журнале она осталась незавершённой."));
    }
  };

  in.pm.Changed = 1;
  const pmops::WriteOutcome w = pmops::Write(t.link, in.pm, in.serv);
  if (!w.Written()) finish(w.sent, {}, pmops::EndOf(w));
  switch (w.stop) {
    case pmops::WriteStop::Written: break;
    case pmops::WriteStop::OtherModel:
    case pmops::WriteStop::OtherVersion:
      Report(t.err, pmops::RefusalText(w.stop));
      return kInstrumentRefused;
    default:
      Report(t.err, t.link.ErrorText(in.serv.DeviceIndex, w.result));
      return kLinkFailure;
  }

  // Verified: read back and compare every byte written.
  Instrument back;
  const Target again{t.link, t.out, t.err, in.serv.DeviceIndex + 1};
  if (const int code = ReadInto(again, back)) {
    finish(w.sent, {}, {pmjournal::Outcome::Done, "обратное чтение не выполнено", 0});
    return code;
  }
  const std::vector<std::uint8_t> read = pmset::BlockOf(back.pm);
  finish(w.sent, read, {});
  bool differ = false;
  for (const pmset::Row& r : pmset::ReadBackDifferences(ViewOf(in.pm, written), ViewOf(back.pm, read), applied.wrote)) {
    if (!differ)
      Report(t.err, "устройство " + std::to_string(again.address) +
                        " - после записи прочитано не то, что записано (записано / прочитано):");
    differ = true;
    Report(t.err, r.label + ": " + r.mine + " / " + r.theirs);
  }
  const int parts = notApplied();
  if (differ) return kDifference;
  return unfinished ? kJournalUnfinished : parts;
}

int Diff(const Target& t, const pmset::Snapshot& file, pmset::Part part) {
  Instrument in;
  if (const int code = ReadInto(t, in)) return code;
  const std::string refusal = pmset::RefusalFor(file, in.pm.DevType, in.pm.Version, in.pm.GetLen());
  if (!refusal.empty()) {
    Report(t.err, refusal);
    return kFileRefused;
  }
  const std::vector<std::uint8_t> block = pmset::BlockOf(in.pm);
  bool differ = false;
  t.out << "  Параметр\tПрибор\tФайл\n";
  for (const pmset::Row& r : pmset::Compare(ViewOf(in.pm, block), file.View(), part)) {
    differ = differ || r.differs;
    t.out << (r.differs ? "* " : "  ") << r.label << '\t' << r.mine << '\t' << r.theirs << '\n';
  }
  return differ ? kDifference : kDone;
}

}  // namespace pmcli

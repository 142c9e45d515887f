#include "Verify.h"

#include <QDate>
#include <algorithm>
#include <istream>
#include <ostream>

#include "CheckReport.h"
#include "CheckRun.h"
#include "ConsoleMessages.h"
#include "DisplayFormat.h"
#include "FileAccess.h"
#include "NumericEntry.h"
#include "ProtocolPdf.h"
#include "Report.h"
#include "SettingsFile.h"

namespace pmcli {

namespace {

using namespace pmverify;

// Lines taken for one point at most (the first and the repeats).
constexpr int kMaxTries = 10;
constexpr std::size_t kMaxLine = 1024;

std::string Signed(double v, int decimals) {
  const std::string t = pmdev::FormatFixed(v, 15, decimals);
  return v > 0 && t.find_first_not_of("0,") != std::string::npos ? "+" + t : t;
}

std::string Trim(std::string s) {
  while (!s.empty() && (s.back() == ' ' || s.back() == '\r' || s.back() == '\t')) s.pop_back();
  const std::size_t start = s.find_first_not_of(" \t");
  return start == std::string::npos ? std::string() : s.substr(start);
}

struct Answer {
  std::optional<double> current;
  std::string applied;
};

// A point's line: "", "12,004", "12,004; 10,25 мВ" or "; 10,25 мВ".
std::optional<Answer> Parse(const std::string& line, std::string& why) {
  Answer a;
  const std::size_t semicolon = line.find(';');
  std::string current = Trim(line.substr(0, semicolon));
  if (semicolon != std::string::npos) a.applied = Trim(line.substr(semicolon + 1));
  if (!current.empty()) {
    std::replace(current.begin(), current.end(), '.', ',');
    a.current = pmdev::ParseTypedNumber(current);
    if (!a.current || *a.current < 0 || *a.current > 25) {
      why = "Выходной ток - число миллиампер от 0 до 25: " + current;
      return std::nullopt;
    }
  }
  return a;
}

}  // namespace

int Verify(const Target& t, pmjournal::Journal& journal, const std::function<Setup(int model)>& remembered,
           const VerifyOptions& o,
           std::istream& in) {
  ConsoleMessages messages(t.err);
  const InstrumentRead instrument = ReadInstrument(t.link, messages, t.address - 1);
  if (!instrument.ok) return kNotChecked;
  Setup setup = remembered(instrument.scale.model);
  setup.points = DefaultPoints(instrument.scale.lo, instrument.scale.hi);
  if (o.points) {
    const auto points = ParsePoints(*o.points, instrument.scale);
    if (const auto* why = std::get_if<std::string>(&points)) {
      Report(t.err, "--points: " + *why);
      return kUsage;
    }
    setup.points = std::get<std::vector<double>>(points);
  }
  if (o.tolerance) setup.tolerance = *ParseTolerance(*o.tolerance);
  if (o.readings) setup.readings = *o.readings;
  if (o.intervalMs) setup.intervalMs = *o.intervalMs;
  setup.coldJunction = o.copper ? ColdJunction::Copper : ColdJunction::Compensated;
  auto use = [](std::string& field, const std::optional<std::string>& given) {
    if (given) field = *given;
  };
  use(setup.equipment.name, o.equipment);
  use(setup.equipment.serial, o.serial);
  use(setup.equipment.certificate, o.certificate);
  use(setup.equipment.validUntil, o.validUntil);
  use(setup.conditions.ambient, o.ambient);
  use(setup.conditions.humidity, o.humidity);
  if (setup.equipment.name.empty() || setup.equipment.serial.empty()) {
    Report(t.err, "Укажите эталон: ключи --equipment и --serial.");
    return kUsage;
  }

  std::optional<CheckRecord> found;
  if (o.after) {
    try {
      found = GetCheck(journal, *o.after);
    } catch (const pmjournal::JournalError& e) {
      Report(t.err, e.what());
      return kNotChecked;
    }
    if (!found || found->stage != Stage::AsFound || found->port != t.link.Port || found->address != t.address) {
      Report(t.err, "--after: в журнале нет проверки «как найдено» №" + std::to_string(*o.after) +
                        " этого прибора (" + t.link.Port + ", устройство " + std::to_string(t.address) + ").");
      return kNotChecked;
    }
  }

  CheckRun run(instrument, t.link.Port, t.address, setup, found ? Stage::AsLeft : Stage::AsFound,
               found ? found->id : 0, o.tableDirs);
  t.out << instrument.identification << ", устройство " << t.address << ": "
        << (instrument.scale.sensor.empty() ? "" : instrument.scale.sensor + ", ") << Short(instrument.scale.lo, 2)
        << "…" << Short(instrument.scale.hi, 2) << " " << instrument.scale.Unit() << "; допуск "
        << ToleranceText(setup.tolerance, instrument.scale) << '\n';
  if (!run.Computes()) Report(t.err, NoCharacteristicText(instrument.scale.sensor));
  const int decimals = instrument.scale.input == InputKind::Current ? 3 : 2;
  while (!run.Done()) {
    bool taken = false;
    for (int attempt = 0; attempt < kMaxTries && !taken; ++attempt) {
      t.out << Instruction(run.CurrentSignal()) << " и нажмите Enter" << std::endl;
      std::string line;
      if (!std::getline(in, line) || line.size() > kMaxLine) {
        Report(t.err, "Ввод закончился до конца проверки: проверка не выполнена.");
        return kNotChecked;
      }
      std::string why;
      const std::optional<Answer> answer = Parse(line, why);
      if (!answer) {
        Report(t.err, why);
        continue;
      }
      if (!run.Computes() && answer->applied.empty()) {
        Report(t.err, "Введите после \";\" поданное значение: для этого датчика программа сигнал не рассчитывает.");
        continue;
      }
      const Taken readings = TakeReadings(t.link, messages, t.address - 1, setup.readings, setup.intervalMs);
      if (!readings.ok) return kNotChecked;
      taken = run.Take(readings, answer->current, answer->applied);
      if (!taken) Report(t.err, std::string(kNotSettled) + ": подайте сигнал снова.");
    }
    if (!taken) return kNotChecked;
    const PointRecord& p = run.Record().points.back();
    t.out << "Точка " << run.Record().points.size() << " (" << PointText(run.GetScale(), p.result.reference)
          << "): среднее " << pmdev::FormatFixed(p.result.mean, 15, decimals) << ", погрешность "
          << Signed(p.result.error, decimals) << " " << run.GetScale().Unit() << " ("
          << Signed(p.result.reduced, 3) << " %)";
    if (p.result.currentReduced) t.out << ", ток " << Signed(*p.result.currentReduced, 3) << " %";
    t.out << ": " << VerdictText(p.result.pass) << std::endl;
  }
  CheckRecord record = run.Record();
  record.program = "pmctl " + pmset::ProgramVersion();
  record.atMs = pmjournal::NowMs();
  try {
    if (found) record.adjustments = EntriesBetween(journal, record.port, record.address, found->atMs, record.atMs);
    StoreCheck(journal, record);
  } catch (const pmjournal::JournalError& e) {
    Report(t.err, std::string(e.what()) + "\nПроверка не сохранена в журнале.");
    return kNotChecked;
  }
  t.out << "Проверка №" << record.id << " " << StageText(record.stage) << ": " << VerdictText(record.verdict.pass)
        << ", наибольшая погрешность " << Signed(record.verdict.maxError, decimals) << " " << run.GetScale().Unit()
        << " (" << Signed(record.verdict.maxReduced, 3) << " %)" << std::endl;
  return record.verdict.pass ? kDone : kCheckFailed;
}

int VerifyList(std::ostream& out, std::ostream& err, const pmjournal::Journal& journal, const CheckFilter& filter,
               const std::string& csv) {
  std::vector<CheckRecord> checks;
  try {
    checks = ListChecks(journal, filter);
  } catch (const pmjournal::JournalError& e) {
    Report(err, e.what());
    return kJournalRefused;
  }
  if (!csv.empty()) {
    const std::string failure = pmset::WriteFileAtomically(csv, CheckCsvText(checks));
    if (failure.empty()) return kDone;
    Report(err, failure);
    return kFileRefused;
  }
  for (const CheckRecord& c : checks) out << CheckLine(c) << '\n';
  return kDone;
}

int VerifyPdf(std::ostream& err, const pmjournal::Journal& journal, std::int64_t id, const std::string& file) {
  Visit visit;
  try {
    visit = VisitOf(journal, id);
  } catch (const pmjournal::JournalError& e) {
    Report(err, e.what());
    return kJournalRefused;
  }
  if (!visit.asFound && !visit.asLeft) {
    Report(err, "В журнале нет проверки №" + std::to_string(id) + ".");
    return kFileRefused;
  }
  const std::string program = "pmctl " + pmset::ProgramVersion();
  const std::string failure = WriteProtocolPdf(
      file, ProtocolHtml(visit, {QDate::currentDate().toString("yyyy-MM-dd").toStdString(), program}), program,
      kProtocolTitle);
  if (failure.empty()) return kDone;
  Report(err, failure);
  return kFileRefused;
}

}  // namespace pmcli

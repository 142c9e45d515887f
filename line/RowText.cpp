#include "RowText.h"

#include "CsvRecorder.h"
#include "Fields.h"
#include "Identification.h"

namespace pmline {

namespace {

std::string Trimmed(std::string s) {
  const auto first = s.find_first_not_of(' ');
  return first == std::string::npos ? std::string() : s.substr(first);
}

std::string FieldText(const std::vector<pmset::Field>& fields, const std::string& key) {
  for (const pmset::Field& f : fields)
    if (f.key == key) return f.text;
  return {};
}

std::string ModelText(int model) {
  const std::string name = pmdev::ModelName(model);
  return name.empty() ? "тип " + std::to_string(model) : name;
}

}  // namespace

RowText Describe(const Instrument& in) {
  RowText row;
  row.address = std::to_string(in.address);
  row.failures = std::to_string(in.failures);
  if (in.lastGood) row.lastGood = pmtrend::CsvTime(in.lastGood).substr(11, 8);
  const int model = in.pm.DevType;
  if (in.polled && model != 0) row.model = ModelText(model);

  if (in.reading) {
    const pmtrend::Reading& r = *in.reading;
    const int len = in.pm.GetLen();
    const pmset::BlockView view{model, in.pm.Version,
                                std::span<const std::uint8_t>(in.pm.Image.data() + 1, static_cast<std::size_t>(len))};
    const auto fields = pmset::Describe(view);
    row.sensor = FieldText(fields, "sensor");
    row.range = model == pmdev::kModelKard || model == pmdev::kModelLunt ? "4 .. 20 мА" : FieldText(fields, "range");
    row.result = r.valueText + " " + r.unit;
    row.percent = r.percentText;
    const pmdev::StatusDisplay state = pmdev::MeasurementState(r.status);
    row.state = Trimmed(state.text);
    row.stateColour = state.colour;
    if (r.setpoint1) {
      row.setpoint2 = FieldText(fields, "setpoint1");
      row.setpoint1 = FieldText(fields, "setpoint2");
      const pmdev::StatusDisplay alarm = pmdev::AlarmState(r.status);
      row.alarm = Trimmed(alarm.text);
      row.alarmColour = alarm.colour;
    }
  }
  // What the last poll says overrides the last good reading's state.
  if (in.silent) {
    row.state = in.result == rc::NoReply ? kNoAnswer : in.failureText;
    row.stateColour = pmdev::kRed;
  } else if (in.stop == pmops::ReadStop::Undetermined || in.stop == pmops::ReadStop::Foreign) {
    row.state = in.stop == pmops::ReadStop::Undetermined ? "не определен тип прибора" : "не ЗЕТ, не КАРД и не ЛУНТ";
    row.stateColour = pmdev::kRed;
  }
  row.old = in.reading && in.stop != pmops::ReadStop::Complete;
  if (row.old) row.alarmColour = kOldColour;
  return row;
}

std::string WatchLine(const Instrument& in, const pmtrend::ReadOutcome& outcome) {
  const RowText row = Describe(in);
  std::string line = pmtrend::CsvTime(outcome.time) + '\t' + row.address + '\t' + row.model;
  if (!outcome.ok) return line + '\t' + row.state;
  line += '\t' + row.result + '\t' + row.percent + " %\t" + row.state;
  if (!row.alarm.empty()) line += '\t' + row.alarm;
  return line;
}

}  // namespace pmline

#pragma once
// What the check applies at each point: the instrument's input and scale as
// its settings say, and the signal a calibrator must give there, computed
// from the published characteristic of the sensor type (the reference
// tables the non-standard range uses). Plain C++.

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pmrange {
struct RefTable;
}

namespace pmverify {

// What the instrument's input takes.
enum class InputKind {
  Resistance,    // ЗЕТ-ТС: a resistance thermometer, Ω
  Thermocouple,  // ЗЕТ-ТП: a thermocouple, mV
  Current,       // КАРД, ЛУНТ: the unified signal 4..20 mA
};

// The instrument as a check sees it.
struct Scale {
  int model = 0;
  int version = 0;
  std::string sensor;  // the sensor selector's text ("XA(K)", "Pt100", "корневой"); "" for the ЛУНТ
  InputKind input = InputKind::Current;
  bool root = false;     // КАРД "корневой": the scale is the square root of the input
  double lo = 0, hi = 0;  // the scale: °C for the ЗЕТ models, % for КАРД and ЛУНТ
  double Span() const { return hi - lo; }
  // "°C" or "%"
  std::string Unit() const;
};

// The scale of an instrument read: the ЗЕТ models over TMin..TMax in °C,
// КАРД and ЛУНТ over 0..100 %.
Scale ScaleOf(int model, int version, int tipD, double tmin, double tmax);

// The published characteristic of a sensor type: signal against temperature,
// interpolated (four points, third degree) in its reference table.
class Characteristic {
 public:
  // Nothing when the sensor type has no table or its file cannot be read.
  static std::optional<Characteristic> Load(const std::vector<std::string>& tableDirs, std::string_view sensor);
  // Ω or mV at t °C; nothing outside the table.
  std::optional<double> At(double t) const;

 private:
  std::shared_ptr<const pmrange::RefTable> m_table;
  double m_factor = 1;  // 0.5 for the 50 Ω thermometers, whose tables are those of 100 Ω
};

// How a thermocouple's calibrator is connected.
enum class ColdJunction {
  Compensated = 0,  // it compensates the cold junction itself (compensating wires): E(t)
  Copper = 1,       // copper wires: E(t) − E(tхс) with the instrument's own tхс
};

// The signal for one point.
struct Signal {
  std::optional<double> value;  // Ω, mV or mA; none when it cannot be computed
  std::string unit;             // "Ом", "мВ", "мА"
  std::optional<double> coldJunction;  // the tхс it was computed with (copper wires)
  std::string text;             // "10,153 мВ (250 °C)"
};

// The signal at `point` (in the scale's unit). `characteristic` is the
// sensor's, or null when it has none; `tcj` is the cold-junction
// temperature the instrument reports (needed with copper wires).
Signal SignalFor(const Scale& scale, const Characteristic* characteristic, double point, ColdJunction mode,
                 std::optional<double> tcj);

// "Подайте 10,153 мВ (250 °C)"
std::string Instruction(const Signal& s);
// What the operator is told for a sensor type without a characteristic.
std::string NoCharacteristicText(const std::string& sensor);

// A number with a decimal comma and at most `decimals` decimals, trailing
// zeros dropped ("250", "62,5"); FormatFixed for fixed decimals.
std::string Short(double value, int decimals = 3);
// "250 °C", "50 %"
std::string PointText(const Scale& scale, double point);

}  // namespace pmverify

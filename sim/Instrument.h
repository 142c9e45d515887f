#pragma once
// One simulated instrument on the line: its identity, its parameter block
// (the bytes function 68 returns and function 69 replaces), a measurement
// that moves slowly, the calibration and output-control modes, and the
// faults a test can switch on.
//
// Every public method is thread-safe: a test may change an instrument while
// a PtyServer thread answers requests for it.

#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>
#include <random>
#include <span>
#include <vector>

#include "Frame.h"

namespace sim {

// Model codes the instruments report in their identification.
namespace model {
constexpr int Kard = 100;
constexpr int ZetTs = 101;
constexpr int ZetTp = 102;
constexpr int Lunt = 103;
constexpr int Undetermined = 255;
}  // namespace model

struct InstrumentSetup {
  int address = 1;        // 1..32, stored in the block as Nu = address - 1
  int model = model::Kard;
  int version = 5;        // 1..6
  bool privileged = true;
};

// What an instrument puts on the line for one request.
struct Reply {
  Bytes bytes;                                   // empty: silence
  std::chrono::milliseconds delay{0};            // before the first byte
  std::chrono::milliseconds byteGap{0};          // between two bytes
  // Time request and reply take on a modelled wire; added to delay.
  std::chrono::microseconds wire{0};
};

enum class FaultKind {
  Silence,          // the request is not heard at all (a 69 is not stored)
  SecondTry,        // each new request is ignored, its exact repetition answered
  Truncated,        // only the first keepBytes bytes of the reply are sent
  BadCrc,           // the CRC high byte is wrong
  ForeignFunction,  // the reply carries foreign function code 0x2B
  Exception,        // exception reply with exceptionCode instead of the reply
  Slow,             // delay before the reply, byteGap between its bytes
  Stray,            // stray bytes go out before the reply
};

struct Fault {
  static constexpr int kPersistent = -1;

  FaultKind kind = FaultKind::Silence;
  // How many requests it affects; kPersistent until cleared. Silence and
  // SecondTry count every request addressed to the instrument, the others
  // only requests that have a reply to damage.
  int times = 1;
  int keepBytes = -1;                 // Truncated: -1 means half of the reply
  std::uint8_t exceptionCode = 4;     // Exception
  std::chrono::milliseconds delay{0};    // Slow
  std::chrono::milliseconds byteGap{0};  // Slow
  Bytes stray{0x00, 0xFF};            // Stray

  static Fault Once(FaultKind kind) { return Fault{.kind = kind}; }
  static Fault Persistent(FaultKind kind) { return Fault{.kind = kind, .times = kPersistent}; }
};

// The 9-byte measurement block, big-endian fields.
struct Measurement {
  std::int16_t rez = 0;
  std::uint8_t status = 0;
  std::int16_t kodAcp = 0;
  std::int16_t txc = 0;
  std::int16_t kodTxc = 0;

  Bytes Encode() const;
  static Measurement Decode(std::span<const std::uint8_t> nine);
};

class Instrument {
 public:
  explicit Instrument(const InstrumentSetup& setup, Clock::time_point origin = Clock::now());
  Instrument(const Instrument&) = delete;
  Instrument& operator=(const Instrument&) = delete;

  // Handles one request frame with a correct CRC addressed to Address().
  // The reply is empty when the instrument stays silent.
  Reply Handle(std::span<const std::uint8_t> frame, Clock::time_point now);

  // Bus address: the block's Nu + 1.
  int Address() const;
  int Model() const;
  int Version() const;
  bool Privileged() const;
  // The stored block, as function 68 sends it (bit 7 of byte 4 = the
  // non-privileged mode).
  Bytes Block() const;
  // The measurement block the instrument would send at that moment.
  Measurement MeasurementAt(Clock::time_point now) const;
  // The status byte it sends with a result code: the alarm bits its
  // setpoints and alarm type give, the under- and overflow bits.
  std::uint8_t StatusOf(std::int16_t rez) const;
  bool CalibrationMode() const;
  bool OutputControlMode() const;
  // The last output code received with function 6 (ЛУНТ).
  std::optional<std::int16_t> OutputCode() const;
  // Functions 68/69 block length.
  std::size_t BlockLength() const;

  void SetModel(int modelCode);
  void SetVersion(int version);
  void SetPrivileged(bool privileged);
  // Replaces the whole block (1..40 bytes); bit 7 of byte 4 is kept as given
  // in the stored copy but the access mode stays the one of SetPrivileged.
  void SetBlock(std::span<const std::uint8_t> block);
  void SetAddress(int address);
  // A fixed measurement instead of the moving one, until ResumeMeasurement.
  void SetMeasurement(const Measurement& m);
  void ResumeMeasurement();
  // Stops (or restarts) the slow wave at its current point.
  void Freeze(bool frozen = true);
  // ADC codes of the reference signal applied during calibration mode.
  void SetCalibrationReference(std::int16_t kodAcp, std::int16_t kodTxc);
  // Value of the version-6 register read (Ω or mV); by default derived from
  // the measurement.
  void SetSensorValue(std::optional<float> value);
  // How long the instrument answers exception 6 after a block write.
  void SetWriteTime(std::chrono::milliseconds t);

  // The bench: a reference signal applied to the input (Ω for the ЗЕТ-ТС,
  // mV for the ЗЕТ-ТП, mA for КАРД and ЛУНТ). While one is applied the
  // instrument measures it as a real one would: its ADC converts the signal
  // (AdcOf), the ЗЕТ-ТП adds the e.m.f. of its terminals' temperature, and
  // the result follows from the stored calibration codes and the sensor's
  // characteristic over the range. Nothing: the slow wave again.
  void SetInput(std::optional<double> signal);
  std::optional<double> Input() const;
  // The temperature of the input terminals (the ЗЕТ-ТП's cold junction),
  // °C, instead of its slow wave; 23 °C while an input is applied unset.
  void SetTerminalTemperature(double degC);
  // Reading noise on the input's ADC code: up to `codes` either way.
  void SetNoise(int codes, unsigned seed = 1);
  // The ADC code of an input signal.
  double AdcOf(double signal) const;
  // Stores the calibration codes that match the sensor and range, the scale
  // end's code off by `errorPercent` of the span (an instrument out of
  // calibration); false when the simulator does not model the sensor.
  bool Tune(double errorPercent = 0);

  void InjectFault(const Fault& fault);
  void ClearFault();
  // Requests that the current fault has still to affect (kPersistent, or 0
  // when none is active).
  int FaultRemaining() const;

  // Default parameter block of a model and version.
  static Bytes DefaultBlock(int modelCode, int version, int address);

 private:
  Reply Answer(std::span<const std::uint8_t> frame, Clock::time_point now);
  Reply Exception(std::uint8_t function, std::uint8_t code) const;
  Measurement MeasureLocked(Clock::time_point now) const;
  std::uint8_t StatusLocked(std::int16_t rez) const;
  // The bench's measurement of the applied input.
  void MeasureInputLocked(Measurement& m) const;
  double AdcOfLocked(double signal) const;
  float SensorValueLocked(const Measurement& m) const;
  bool IsZet() const;
  std::int16_t Field16(std::size_t at) const;
  void ApplyFault(std::uint8_t function, Reply& reply);

  mutable std::mutex m_mutex;
  int m_model;
  int m_version;
  bool m_privileged;
  Bytes m_block;
  Clock::time_point m_origin;
  std::optional<Clock::time_point> m_frozenAt;
  std::optional<Measurement> m_fixed;
  bool m_calibration = false;
  bool m_outputControl = false;
  std::optional<std::int16_t> m_outputCode;
  std::optional<std::int16_t> m_refAcp;
  std::optional<std::int16_t> m_refTxc;
  std::optional<float> m_sensorValue;
  std::chrono::milliseconds m_writeTime{300};
  Clock::time_point m_busyUntil{};
  std::optional<Fault> m_fault;
  Bytes m_ignoredRequest;  // SecondTry: the request last left unanswered
  std::optional<double> m_input;
  std::optional<double> m_terminals;  // none: the slow wave of the cold junction
  int m_noise = 0;
  mutable std::mt19937 m_random;
};

}  // namespace sim

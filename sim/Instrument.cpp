#include "Instrument.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <numbers>
#include <stdexcept>

#include "Sensor.h"
#include "SensorLists.h"

namespace sim {

namespace {

// Block offsets (counted from the first data byte of the function 68 reply).
constexpr std::size_t kKBegSk = 0;
constexpr std::size_t kKEndSk = 2;
constexpr std::size_t kFlags = 4;
constexpr std::size_t kUst1 = 5;
constexpr std::size_t kUst2 = 7;
constexpr std::size_t kTipD = 9;
constexpr std::size_t kRangeNo = 10;
constexpr std::size_t kNu = 11;
constexpr std::size_t kByte12 = 12;  // Connect / CurrentEndKA / BegSkTxc low
constexpr std::size_t kBegSkTxc = 12;
constexpr std::size_t kEndSkTxc = 14;
constexpr std::size_t kKTxc = 16;
constexpr std::size_t kRangeMin = 18;
constexpr std::size_t kRangeMax = 20;
constexpr std::size_t kNodes = 22;
constexpr std::size_t kCurrentEndZ = 38;

constexpr std::size_t kMinBlock = kNu + 1;  // the address must be inside
constexpr std::size_t kMaxBlock = 40;

// Function codes the instruments answer.
constexpr std::uint8_t kFnRegisters = 4;
constexpr std::uint8_t kFnSwitch = 5;
constexpr std::uint8_t kFnOutput = 6;
constexpr std::uint8_t kFnEcho = 14;
constexpr std::uint8_t kFnIdent = 17;
constexpr std::uint8_t kFnReadBlock = 68;
constexpr std::uint8_t kFnWriteBlock = 69;
constexpr std::uint8_t kFnMeasure = 71;
constexpr std::uint8_t kForeignFunction = 0x2B;

// Exception codes.
constexpr std::uint8_t kExIllegalFunction = 1;
constexpr std::uint8_t kExIllegalData = 2;
constexpr std::uint8_t kExNotNow = 4;
constexpr std::uint8_t kExBusy = 6;

void Put16(Bytes& b, std::size_t at, int v) {
  b[at] = static_cast<std::uint8_t>(v & 0xFF);
  b[at + 1] = static_cast<std::uint8_t>((v >> 8) & 0xFF);
}

void PutBe16(Bytes& b, std::int16_t v) {
  const auto u = static_cast<std::uint16_t>(v);
  b.push_back(static_cast<std::uint8_t>(u >> 8));
  b.push_back(static_cast<std::uint8_t>(u & 0xFF));
}

std::int16_t GetBe16(std::span<const std::uint8_t> b, std::size_t at) {
  return static_cast<std::int16_t>(static_cast<std::uint16_t>((b[at] << 8) | b[at + 1]));
}

void PutBeFloat(Bytes& b, float v) {
  const auto u = std::bit_cast<std::uint32_t>(v);
  for (int shift = 24; shift >= 0; shift -= 8) b.push_back(static_cast<std::uint8_t>(u >> shift));
}

std::int16_t Clamp16(double v) {
  return static_cast<std::int16_t>(std::clamp(std::lround(v), -32768L, 32767L));
}

bool Equal(std::span<const std::uint8_t> a, std::initializer_list<std::uint8_t> b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end());
}

// What the bench's instrument measures over: the sensor and the range its
// block selects (°C), or the unified current input of КАРД and ЛУНТ.
struct BenchScale {
  Sensor sensor = Sensor::None;
  double tmin = 0, tmax = 0;
  bool root = false;  // КАРД "корневой"
  bool current = false;
};

std::int16_t Get16(const Bytes& b, std::size_t at) {
  if (at + 1 >= b.size()) return 0;
  return static_cast<std::int16_t>(static_cast<std::uint16_t>(b[at] | (b[at + 1] << 8)));
}

BenchScale ScaleOfBlock(int modelCode, int version, const Bytes& b) {
  BenchScale s;
  if (modelCode != model::ZetTs && modelCode != model::ZetTp) {
    s.current = true;
    s.root = modelCode == model::Kard && b.size() > kTipD && b[kTipD] == 0;
    return s;
  }
  const int tipD = b.size() > kTipD ? b[kTipD] : 0;
  s.sensor = SensorOf(modelCode, tipD);
  const auto table = pmdev::RangeTableFor(modelCode, version, tipD);
  const std::size_t row = b.size() > kRangeNo ? b[kRangeNo] : 0;
  if (row < table.size()) {
    s.tmin = table[row].start;
    s.tmax = table[row].end;
  } else {
    s.tmin = Get16(b, kRangeMin);
    s.tmax = Get16(b, kRangeMax);
  }
  return s;
}

// The ADC: the input's signal to a code, per kind of input.
double Adc(int modelCode, double signal) {
  if (modelCode == model::ZetTp) return 1000 + 250 * signal;  // mV
  if (modelCode == model::ZetTs) return 50 * signal;          // Ω
  return 820 + (signal - 4) * 14740 / 16;                     // mA
}

}  // namespace

Bytes Measurement::Encode() const {
  Bytes b;
  b.reserve(9);
  PutBe16(b, rez);
  b.push_back(status);
  PutBe16(b, kodAcp);
  PutBe16(b, txc);
  PutBe16(b, kodTxc);
  return b;
}

Measurement Measurement::Decode(std::span<const std::uint8_t> nine) {
  if (nine.size() < 9) throw std::invalid_argument("measurement block needs 9 bytes");
  return Measurement{GetBe16(nine, 0), nine[2], GetBe16(nine, 3), GetBe16(nine, 5),
                     GetBe16(nine, 7)};
}

Bytes Instrument::DefaultBlock(int modelCode, int version, int address) {
  const bool zet = modelCode == model::ZetTs || modelCode == model::ZetTp;
  // The ЗЕТ models carry the non-standard range, its nodes and the scale-end
  // correction from version 3 on; older ones end after the cold-junction
  // fields.
  const std::size_t length = zet ? (version >= 3 ? 40 : 20) : 16;
  Bytes b(length, 0);
  const int correctionStart = version >= 2 ? 2 : 0;  // +8 µA
  b[kFlags] = static_cast<std::uint8_t>(correctionStart << 4);
  b[kNu] = static_cast<std::uint8_t>(address - 1);
  if (zet) {
    Put16(b, kKBegSk, 1200);
    Put16(b, kKEndSk, 14800);
    Put16(b, kUst1, 1500);
    Put16(b, kUst2, 7000);
    if (modelCode == model::ZetTs) {
      b[kTipD] = 1;
      b[kRangeNo] = 2;
      b[kByte12] = version >= 3 ? 1 : 0;  // 4-wire
    } else {
      b[kTipD] = 2;
      b[kRangeNo] = 1;
      Put16(b, kBegSkTxc, 2100);
      Put16(b, kEndSkTxc, 9800);
      Put16(b, kKTxc, 4100);
    }
    if (length == 40) {
      Put16(b, kRangeMin, 0);
      Put16(b, kRangeMax, 150);
      for (int m = 0; m < 8; ++m) Put16(b, kNodes + 2 * static_cast<std::size_t>(m), m * 1170);
      b[kCurrentEndZ] = version >= 4 ? 3 : 0;  // +12 µA
    }
  } else {
    Put16(b, kKBegSk, 820);
    Put16(b, kKEndSk, 15560);
    if (modelCode != model::Lunt) {
      Put16(b, kUst1, 3000);
      Put16(b, kUst2, 13000);
      b[kTipD] = 1;  // linear characteristic
    }
    b[kByte12] = version >= 4 ? 1 : 0;  // +4 µA at the scale end
  }
  return b;
}

Instrument::Instrument(const InstrumentSetup& setup, Clock::time_point origin)
    : m_model(setup.model),
      m_version(setup.version),
      m_privileged(setup.privileged),
      m_block(DefaultBlock(setup.model, setup.version, setup.address)),
      m_origin(origin) {
  if (setup.address < 1 || setup.address > 256)
    throw std::invalid_argument("instrument address out of range");
}

int Instrument::Address() const {
  std::lock_guard lock(m_mutex);
  return m_block[kNu] + 1;
}
int Instrument::Model() const {
  std::lock_guard lock(m_mutex);
  return m_model;
}
int Instrument::Version() const {
  std::lock_guard lock(m_mutex);
  return m_version;
}
bool Instrument::Privileged() const {
  std::lock_guard lock(m_mutex);
  return m_privileged;
}
Bytes Instrument::Block() const {
  std::lock_guard lock(m_mutex);
  Bytes b = m_block;
  b[kFlags] = static_cast<std::uint8_t>((b[kFlags] & 0x7F) | (m_privileged ? 0 : 0x80));
  return b;
}
std::size_t Instrument::BlockLength() const {
  std::lock_guard lock(m_mutex);
  return m_block.size();
}
Measurement Instrument::MeasurementAt(Clock::time_point now) const {
  std::lock_guard lock(m_mutex);
  return MeasureLocked(now);
}
bool Instrument::CalibrationMode() const {
  std::lock_guard lock(m_mutex);
  return m_calibration;
}
bool Instrument::OutputControlMode() const {
  std::lock_guard lock(m_mutex);
  return m_outputControl;
}
std::optional<std::int16_t> Instrument::OutputCode() const {
  std::lock_guard lock(m_mutex);
  return m_outputCode;
}

void Instrument::SetModel(int modelCode) {
  std::lock_guard lock(m_mutex);
  m_model = modelCode;
}
void Instrument::SetVersion(int version) {
  std::lock_guard lock(m_mutex);
  m_version = version;
}
void Instrument::SetPrivileged(bool privileged) {
  std::lock_guard lock(m_mutex);
  m_privileged = privileged;
}
void Instrument::SetBlock(std::span<const std::uint8_t> block) {
  if (block.size() < kMinBlock || block.size() > kMaxBlock)
    throw std::invalid_argument("parameter block must hold 12..40 bytes");
  std::lock_guard lock(m_mutex);
  m_block.assign(block.begin(), block.end());
}
void Instrument::SetAddress(int address) {
  std::lock_guard lock(m_mutex);
  m_block[kNu] = static_cast<std::uint8_t>(address - 1);
}
void Instrument::SetMeasurement(const Measurement& m) {
  std::lock_guard lock(m_mutex);
  m_fixed = m;
}
void Instrument::ResumeMeasurement() {
  std::lock_guard lock(m_mutex);
  m_fixed.reset();
}
void Instrument::Freeze(bool frozen) {
  std::lock_guard lock(m_mutex);
  if (frozen && !m_frozenAt) m_frozenAt = Clock::now();
  if (!frozen && m_frozenAt) {
    // Continue the wave from where it stood.
    m_origin += Clock::now() - *m_frozenAt;
    m_frozenAt.reset();
  }
}
void Instrument::SetCalibrationReference(std::int16_t kodAcp, std::int16_t kodTxc) {
  std::lock_guard lock(m_mutex);
  m_refAcp = kodAcp;
  m_refTxc = kodTxc;
}
void Instrument::SetSensorValue(std::optional<float> value) {
  std::lock_guard lock(m_mutex);
  m_sensorValue = value;
}
void Instrument::SetWriteTime(std::chrono::milliseconds t) {
  std::lock_guard lock(m_mutex);
  m_writeTime = t;
}
void Instrument::SetInput(std::optional<double> signal) {
  std::lock_guard lock(m_mutex);
  m_input = signal;
}
std::optional<double> Instrument::Input() const {
  std::lock_guard lock(m_mutex);
  return m_input;
}
void Instrument::SetTerminalTemperature(double degC) {
  std::lock_guard lock(m_mutex);
  m_terminals = degC;
}
void Instrument::SetNoise(int codes, unsigned seed) {
  std::lock_guard lock(m_mutex);
  m_noise = std::max(0, codes);
  m_random.seed(seed);
}
double Instrument::AdcOf(double signal) const {
  std::lock_guard lock(m_mutex);
  return AdcOfLocked(signal);
}
double Instrument::AdcOfLocked(double signal) const { return Adc(m_model, signal); }

bool Instrument::Tune(double errorPercent) {
  std::lock_guard lock(m_mutex);
  const BenchScale scale = ScaleOfBlock(m_model, m_version, m_block);
  if (!scale.current && (scale.sensor == Sensor::None || scale.tmax <= scale.tmin)) return false;
  const double lo = AdcOfLocked(scale.current ? 4 : SignalOf(scale.sensor, scale.tmin));
  const double hi = AdcOfLocked(scale.current ? 20 : SignalOf(scale.sensor, scale.tmax));
  Put16(m_block, kKBegSk, static_cast<int>(std::lround(lo)));
  Put16(m_block, kKEndSk, static_cast<int>(std::lround(hi + (hi - lo) * errorPercent / 100)));
  return true;
}

void Instrument::MeasureInputLocked(Measurement& m) const {
  const BenchScale scale = ScaleOfBlock(m_model, m_version, m_block);
  double noise = 0;
  if (m_noise > 0) noise = std::uniform_int_distribution<int>(-m_noise, m_noise)(m_random);
  const double raw = AdcOfLocked(*m_input) + noise;
  m.kodAcp = Clamp16(raw);
  // The ЗЕТ-ТП measures its terminals and adds their e.m.f. to the input's.
  double code = raw;
  if (m_model == model::ZetTp) {
    const double terminals = m_terminals.value_or(23.0);
    code += AdcOfLocked(SignalOf(scale.sensor, terminals)) - AdcOfLocked(0);
    m.txc = Clamp16(terminals / 100.0 * 8191);
    m.kodTxc = Clamp16(Field16(kBegSkTxc) + terminals / 100.0 * (Field16(kEndSkTxc) - Field16(kBegSkTxc)));
  }
  const int begSk = Field16(kKBegSk);
  const int span = Field16(kKEndSk) - begSk;
  const double x = span ? (code - begSk) / span : 0;
  if (scale.current) {
    m.rez = Clamp16((scale.root ? std::sqrt(std::max(x, 0.0)) : x) * 16383);
    return;
  }
  if (scale.sensor == Sensor::None || scale.tmax <= scale.tmin) {
    m.rez = Clamp16(x * 8191);
    return;
  }
  // The signal the codes stand for, and its temperature by the characteristic.
  const double lo = SignalOf(scale.sensor, scale.tmin), hi = SignalOf(scale.sensor, scale.tmax);
  const double width = scale.tmax - scale.tmin;
  const double t = TemperatureOf(scale.sensor, lo + x * (hi - lo), scale.tmin - width / 2, scale.tmax + width / 2);
  m.rez = Clamp16((t - scale.tmin) / width * 8191);
}

void Instrument::InjectFault(const Fault& fault) {
  std::lock_guard lock(m_mutex);
  m_fault = fault;
  m_ignoredRequest.clear();
}
void Instrument::ClearFault() {
  std::lock_guard lock(m_mutex);
  m_fault.reset();
  m_ignoredRequest.clear();
}
int Instrument::FaultRemaining() const {
  std::lock_guard lock(m_mutex);
  return m_fault ? m_fault->times : 0;
}

bool Instrument::IsZet() const { return m_model == model::ZetTs || m_model == model::ZetTp; }

std::int16_t Instrument::Field16(std::size_t at) const {
  if (at + 1 >= m_block.size()) return 0;
  return static_cast<std::int16_t>(static_cast<std::uint16_t>(m_block[at] | (m_block[at + 1] << 8)));
}

Measurement Instrument::MeasureLocked(Clock::time_point now) const {
  const int scale = IsZet() ? 8191 : 16383;
  const int begSk = Field16(kKBegSk);
  const int endSk = Field16(kKEndSk);
  const int span = endSk - begSk;
  const double t = std::chrono::duration<double>(m_frozenAt.value_or(now) - m_origin).count();
  Measurement m;
  if (m_fixed) {
    m = *m_fixed;
  } else {
    // A slow wave over the middle of the scale: 40 s period for the input,
    // 90 s for the cold junction.
    double x = 0.5 + 0.35 * std::sin(2 * std::numbers::pi * t / 40.0);
    if (m_model == model::Lunt && m_outputControl && m_outputCode) x = *m_outputCode / 16383.0;
    m.rez = Clamp16(x * scale);
    m.kodAcp = Clamp16(begSk + x * span);
    if (m_model == model::ZetTp) {
      const double degrees = m_terminals.value_or(22.0 + 1.5 * std::sin(2 * std::numbers::pi * t / 90.0));
      m.txc = Clamp16(degrees / 100.0 * 8191);
      m.kodTxc = Clamp16(Field16(kBegSkTxc) + degrees / 100.0 * (Field16(kEndSkTxc) - Field16(kBegSkTxc)));
    }
  }
  if (!m_fixed && m_input) MeasureInputLocked(m);
  if (m_calibration) {
    // The input carries the reference signal: the ADC codes are its codes and
    // the results follow from them through the stored scale.
    if (m_input) m.kodAcp = Clamp16(AdcOfLocked(*m_input));
    else m.kodAcp = m_refAcp.value_or(static_cast<std::int16_t>(begSk));
    m.rez = span ? Clamp16(double(m.kodAcp - begSk) * scale / span) : 0;
    if (m_model == model::ZetTp) {
      const int begTxc = Field16(kBegSkTxc);
      const int spanTxc = Field16(kEndSkTxc) - begTxc;
      m.kodTxc = m_refTxc.value_or(static_cast<std::int16_t>(begTxc));
      m.txc = spanTxc ? Clamp16(double(m.kodTxc - begTxc) * 8191 / spanTxc) : 0;
    }
  }
  if (!m_fixed) m.status = StatusLocked(m.rez);
  return m;
}

std::uint8_t Instrument::StatusOf(std::int16_t rez) const {
  std::lock_guard lock(m_mutex);
  return StatusLocked(rez);
}

std::uint8_t Instrument::StatusLocked(std::int16_t rez) const {
  std::uint8_t status = 0;
  if (m_model != model::Lunt) {
    // The alarm type's first letter is the block's first setpoint word and
    // bit 1 (the window's left column and digit), its second letter the
    // second word and bit 0; L trips below the setpoint, H above it.
    const auto trips = [rez](bool low, int setpoint) { return low ? rez < setpoint : rez > setpoint; };
    const int type = m_block[kFlags] & 0x03;  // 0 LH, 1 LL, otherwise HH
    status |= trips(type <= 1, Field16(kUst1)) ? 0x02 : 0;
    status |= trips(type == 1, Field16(kUst2)) ? 0x01 : 0;
  }
  if (rez < 0) status |= 0x20;
  if (rez > (IsZet() ? 8191 : 16383)) status |= 0x80;
  return status;
}

float Instrument::SensorValueLocked(const Measurement& m) const {
  if (m_sensorValue) return *m_sensorValue;
  if (m_input) return static_cast<float>(*m_input);
  // The temperature on the scale RangeMin..RangeMax, then a linear Pt100
  // resistance or a type K e.m.f. for it.
  const double lo = Field16(kRangeMin);
  double hi = Field16(kRangeMax);
  if (hi <= lo) hi = lo + 100;
  const double degrees = lo + (hi - lo) * m.rez / 8191.0;
  if (m_model == model::ZetTs) return static_cast<float>(100.0 * (1.0 + 0.00385 * degrees));
  return static_cast<float>(0.041 * degrees);
}

Reply Instrument::Exception(std::uint8_t function, std::uint8_t code) const {
  const std::uint8_t data[] = {code};
  return Reply{MakeFrame(static_cast<std::uint8_t>(m_block[kNu] + 1),
                         static_cast<std::uint8_t>(function | 0x80), data)};
}

Reply Instrument::Handle(std::span<const std::uint8_t> frame, Clock::time_point now) {
  std::lock_guard lock(m_mutex);
  if (frame.size() < 4) return {};
  if (m_fault && (m_fault->kind == FaultKind::Silence || m_fault->kind == FaultKind::SecondTry)) {
    if (m_fault->kind == FaultKind::Silence) {
      if (m_fault->times > 0) --m_fault->times;
      if (m_fault->times == 0) m_fault.reset();
      return {};
    }
    if (!std::equal(frame.begin(), frame.end(), m_ignoredRequest.begin(), m_ignoredRequest.end())) {
      m_ignoredRequest.assign(frame.begin(), frame.end());
      return {};
    }
    m_ignoredRequest.clear();
    if (m_fault->times > 0) --m_fault->times;
    if (m_fault->times == 0) m_fault.reset();
  }
  Reply reply = Answer(frame, now);
  if (!reply.bytes.empty()) ApplyFault(frame[1], reply);
  return reply;
}

Reply Instrument::Answer(std::span<const std::uint8_t> frame, Clock::time_point now) {
  const std::uint8_t function = frame[1];
  const auto data = frame.subspan(2, frame.size() - 4);
  const auto address = static_cast<std::uint8_t>(m_block[kNu] + 1);

  if (now < m_busyUntil) {
    // Still writing the last block: nothing else is served meanwhile, and a
    // block write (which expects no reply) is dropped.
    if (function == kFnWriteBlock) return {};
    return Exception(function, kExBusy);
  }

  switch (function) {
    case kFnIdent: {
      const std::uint8_t d[] = {3, static_cast<std::uint8_t>(m_version),
                                static_cast<std::uint8_t>(m_block[kFlags] & 0xF0),
                                static_cast<std::uint8_t>(m_model)};
      return Reply{MakeFrame(address, function, d)};
    }
    case kFnReadBlock: {
      Bytes d;
      d.push_back(static_cast<std::uint8_t>(m_block.size()));
      d.insert(d.end(), m_block.begin(), m_block.end());
      d[1 + kFlags] = static_cast<std::uint8_t>((d[1 + kFlags] & 0x7F) | (m_privileged ? 0 : 0x80));
      return Reply{MakeFrame(address, function, d)};
    }
    case kFnWriteBlock:
      if (data.size() >= kMinBlock && data.size() <= kMaxBlock) {
        m_block.assign(data.begin(), data.end());
        m_busyUntil = now + m_writeTime;
        // The block written ends a calibration: the codes are stored.
        m_calibration = false;
      }
      return {};
    case kFnEcho:
      return Reply{Bytes(frame.begin(), frame.end())};
    case kFnMeasure: {
      if (!Equal(data, {0x00, 0x01})) return Exception(function, kExIllegalData);
      Bytes d{9};
      const Bytes m = MeasureLocked(now).Encode();
      d.insert(d.end(), m.begin(), m.end());
      return Reply{MakeFrame(address, function, d)};
    }
    case kFnRegisters: {
      if (!IsZet() || m_version != 6) return Exception(function, kExIllegalFunction);
      if (!Equal(data, {0x00, 0x00, 0x00, 0x04})) return Exception(function, kExIllegalData);
      const Measurement m = MeasureLocked(now);
      const double lo = Field16(kRangeMin);
      double hi = Field16(kRangeMax);
      if (hi <= lo) hi = lo + 100;
      Bytes d{8};
      PutBeFloat(d, static_cast<float>(lo + (hi - lo) * m.rez / 8191.0));  // °C
      PutBeFloat(d, SensorValueLocked(m));
      return Reply{MakeFrame(address, function, d)};
    }
    case kFnSwitch: {
      const bool on = Equal(data.subspan(std::min<std::size_t>(2, data.size())), {0xFF, 0x00});
      const bool off = Equal(data.subspan(std::min<std::size_t>(2, data.size())), {0x00, 0x00});
      if (data.size() != 4 || data[0] != 0x10 || !(on || off)) return Exception(function, kExIllegalData);
      if (data[1] == 0x01) {
        m_calibration = on;
      } else if (data[1] == 0x02) {
        if (m_model != model::Lunt) return Exception(function, kExIllegalData);
        m_outputControl = on;
      } else {
        return Exception(function, kExIllegalData);
      }
      return Reply{Bytes(frame.begin(), frame.end())};
    }
    case kFnOutput: {
      if (m_model != model::Lunt) return Exception(function, kExIllegalFunction);
      if (data.size() != 4 || data[0] != 0x00 || data[1] != 0x01) return Exception(function, kExIllegalData);
      if (!m_outputControl) return Exception(function, kExNotNow);
      m_outputCode = GetBe16(data, 2);
      Bytes d{4};
      d.insert(d.end(), data.begin(), data.end());
      return Reply{MakeFrame(address, function, d)};
    }
    default:
      return Exception(function, kExIllegalFunction);
  }
}

void Instrument::ApplyFault(std::uint8_t function, Reply& reply) {
  if (!m_fault) return;
  Fault& f = *m_fault;
  Bytes& b = reply.bytes;
  switch (f.kind) {
    case FaultKind::Truncated: {
      const std::size_t keep = f.keepBytes < 0 ? b.size() / 2 : std::min<std::size_t>(f.keepBytes, b.size());
      b.resize(keep);
      break;
    }
    case FaultKind::BadCrc:
      b.back() ^= 0x5A;
      break;
    case FaultKind::ForeignFunction:
      b.resize(b.size() - 2);
      b[1] = kForeignFunction;
      AppendCrc(b);
      break;
    case FaultKind::Exception:
      reply.bytes = Exception(function, f.exceptionCode).bytes;
      break;
    case FaultKind::Slow:
      reply.delay = f.delay;
      reply.byteGap = f.byteGap;
      break;
    case FaultKind::Stray:
      b.insert(b.begin(), f.stray.begin(), f.stray.end());
      break;
    case FaultKind::Silence:
    case FaultKind::SecondTry:
      return;  // handled before the request is served
  }
  if (f.times > 0) --f.times;
  if (f.times == 0) m_fault.reset();
}

}  // namespace sim

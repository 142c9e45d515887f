#pragma once
// The simulated instruments' sensors: the standard characteristics as the
// standards define them (thermocouples L, E, K, J by their polynomials,
// resistance thermometers by their equations), computed here on their own
// rather than from the program's tables, so that a check against the
// simulator compares two independent sources. Plain C++.

namespace sim {

enum class Sensor { None, L, E, K, J, Pt100, P100, P50, M100, M50, Ni100 };

// The sensor a ЗЕТ-ТП or ЗЕТ-ТС selects with its TipD; None for the
// others and for sensor types the simulator does not model.
Sensor SensorOf(int model, int tipD);

// mV (reference junction at 0 °C) or Ω at t °C.
double SignalOf(Sensor s, double t);
// The temperature whose signal is `signal`, searched in lo..hi (the
// characteristic increases there); clamped to lo..hi.
double TemperatureOf(Sensor s, double signal, double lo, double hi);

}  // namespace sim

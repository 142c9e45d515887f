#include "Sensor.h"

#include <cmath>
#include <initializer_list>

#include "Instrument.h"

namespace sim {

namespace {

double Poly(std::initializer_list<double> c, double t) {
  double sum = 0, power = 1;
  for (double ci : c) {
    sum += ci * power;
    power *= t;
  }
  return sum;
}

double Thermocouple(Sensor s, double t) {
  switch (s) {
    case Sensor::L:
      if (t < 0)
        return Poly({-5.8952244E-05, 6.3391502E-02, 6.7592964E-05, 2.0672566E-07, 5.5720884E-09, 5.7133860E-11,
                     3.2995593E-13, 9.9232420E-16, 1.2079584E-18},
                    t);
      return Poly({-1.8656953E-05, 6.3310975E-02, 6.0153091E-05, -8.0073134E-08, 9.6946071E-11, -3.6047289E-14,
                   -2.4694775E-16, 4.2880341E-19, -2.0725297E-22},
                  t);
    case Sensor::E:
      if (t < 0)
        return Poly({0, 0.586655087080E-01, 0.454109771240E-04, -0.779980486860E-06, -0.258001608430E-07,
                     -0.594525830570E-09, -0.932140586670E-11, -0.102876055340E-12, -0.803701236210E-15,
                     -0.439794973910E-17, -0.164147763550E-19, -0.396736195160E-22, -0.558273287210E-25,
                     -0.346578420130E-28},
                    t);
      return Poly({0, 0.586655087100E-01, 0.450322755820E-04, 0.289084072120E-07, -0.330568966520E-09,
                   0.650244032700E-12, -0.191974955040E-15, -0.125366004970E-17, 0.214892175690E-20,
                   -0.143880417820E-23, 0.359608994810E-27},
                  t);
    case Sensor::J:
      if (t < 760)
        return Poly({0, 0.503811878150E-01, 0.304758369300E-04, -0.856810657200E-07, 0.132281952950E-09,
                     -0.170529583370E-12, 0.209480906970E-15, -0.125383953360E-18, 0.156317256970E-22},
                    t);
      return Poly({0.296456256810E+03, -0.149761277860E+01, 0.317871039240E-02, -0.318476867010E-05,
                   0.157208190040E-08, -0.306913690560E-12},
                  t);
    case Sensor::K:
      if (t < 0)
        return Poly({0, 0.394501280250E-01, 0.236223735980E-04, -0.328589067840E-06, -0.499048287770E-08,
                     -0.675090591730E-10, -0.574103274280E-12, -0.310888728940E-14, -0.104516093650E-16,
                     -0.198892668780E-19, -0.163226974860E-22},
                    t);
      return Poly({-0.176004136860E-01, 0.389212049750E-01, 0.185587700320E-04, -0.994575928740E-07,
                   0.318409457190E-09, -0.560728448890E-12, 0.560750590590E-15, -0.320207200030E-18,
                   0.971511471520E-22, -0.121047212750E-25},
                  t) +
             0.1185976 * std::exp(-1.183432E-04 * (t - 126.9686) * (t - 126.9686));
    default: return 0;
  }
}

// Platinum: W = 1 + A t + B t² (+ C (t − 100) t³ below 0 °C).
double Platinum(double a, double b, double c, double t) {
  return 1 + a * t + b * t * t + (t < 0 ? c * (t - 100) * t * t * t : 0);
}

}  // namespace

Sensor SensorOf(int modelCode, int tipD) {
  if (modelCode == model::ZetTp) {
    switch (tipD) {
      case 0: return Sensor::L;
      case 1: return Sensor::E;
      case 2: return Sensor::K;
      case 3: return Sensor::J;
      default: return Sensor::None;
    }
  }
  if (modelCode == model::ZetTs) {
    switch (tipD) {
      case 0: return Sensor::P100;
      case 1: return Sensor::P50;
      case 2: return Sensor::Pt100;
      case 3: return Sensor::Ni100;
      case 4: return Sensor::M100;
      case 5: return Sensor::M50;
      default: return Sensor::None;
    }
  }
  return Sensor::None;
}

double SignalOf(Sensor s, double t) {
  switch (s) {
    case Sensor::L:
    case Sensor::E:
    case Sensor::K:
    case Sensor::J: return Thermocouple(s, t);
    case Sensor::Pt100: return 100 * Platinum(3.9083E-03, -5.775E-07, -4.183E-12, t);
    case Sensor::P100: return 100 * Platinum(3.9690E-03, -5.841E-07, -4.330E-12, t);
    case Sensor::P50: return 50 * Platinum(3.9690E-03, -5.841E-07, -4.330E-12, t);
    case Sensor::M100:
    case Sensor::M50: {
      const double w = t < 0 ? 1 + 4.28E-03 * t - 6.2032E-07 * t * (t + 6.7) + 8.5154E-10 * t * t * t
                             : 1 + 4.28E-03 * t;
      return (s == Sensor::M100 ? 100 : 50) * w;
    }
    case Sensor::Ni100: {
      double w = 1 + 5.4963E-03 * t + 6.7556E-06 * t * t;
      if (t >= 100) w += 9.2004E-09 * (t - 100) * t * t;
      return 100 * w;
    }
    case Sensor::None: break;
  }
  return 0;
}

double TemperatureOf(Sensor s, double signal, double lo, double hi) {
  if (signal <= SignalOf(s, lo)) return lo;
  if (signal >= SignalOf(s, hi)) return hi;
  for (int i = 0; i < 100 && hi - lo > 1e-9; ++i) {
    const double mid = (lo + hi) / 2;
    (SignalOf(s, mid) < signal ? lo : hi) = mid;
  }
  return (lo + hi) / 2;
}

}  // namespace sim

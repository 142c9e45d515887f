#pragma once
// What a check remembers for the next one, in the window's settings file
// (~/.config/pmservice/pmservice.conf) so that the window and pmctl share
// it: the permissible error per model, the readings and their interval,
// the reference equipment and the conditions. Header only: both programs
// have QtCore, the check's library does not.

#include <QSettings>
#include <string>

#include "CheckRecord.h"
#include "JournalSetting.h"

namespace pmverify {

inline Setup RememberedSetup(int model) {
  QSettings s = pmjournal::WindowSettings();
  Setup setup;
  const QString key = QStringLiteral("verify/tolerance/%1").arg(model);
  setup.tolerance.kind =
      s.value(key + QStringLiteral("/kind")).toInt() == 1 ? ToleranceKind::Absolute : ToleranceKind::Reduced;
  bool ok = false;
  const double value = s.value(key + QStringLiteral("/value")).toDouble(&ok);
  if (ok && value > 0 && value <= 1000) setup.tolerance.value = value;
  const int readings = s.value(QStringLiteral("verify/readings"), 5).toInt();
  if (readings >= 1 && readings <= kMaxReadings) setup.readings = readings;
  const int interval = s.value(QStringLiteral("verify/interval_ms"), 1000).toInt();
  if (interval >= 0 && interval <= kMaxIntervalMs) setup.intervalMs = interval;
  setup.coldJunction =
      s.value(QStringLiteral("verify/copper")).toBool() ? ColdJunction::Copper : ColdJunction::Compensated;
  auto text = [&s](const char* name) { return s.value(QString::fromUtf8(name)).toString().toStdString(); };
  setup.equipment = {text("verify/equipment"), text("verify/equipment_serial"), text("verify/equipment_certificate"),
                     text("verify/equipment_valid")};
  setup.conditions = {text("verify/ambient"), text("verify/humidity")};
  return setup;
}

inline void Remember(const Setup& setup, int model) {
  QSettings s = pmjournal::WindowSettings();
  const QString key = QStringLiteral("verify/tolerance/%1").arg(model);
  s.setValue(key + QStringLiteral("/kind"), static_cast<int>(setup.tolerance.kind));
  s.setValue(key + QStringLiteral("/value"), setup.tolerance.value);
  s.setValue(QStringLiteral("verify/readings"), setup.readings);
  s.setValue(QStringLiteral("verify/interval_ms"), setup.intervalMs);
  s.setValue(QStringLiteral("verify/copper"), setup.coldJunction == ColdJunction::Copper);
  auto put = [&s](const char* name, const std::string& v) {
    s.setValue(QString::fromUtf8(name), QString::fromStdString(v));
  };
  put("verify/equipment", setup.equipment.name);
  put("verify/equipment_serial", setup.equipment.serial);
  put("verify/equipment_certificate", setup.equipment.certificate);
  put("verify/equipment_valid", setup.equipment.validUntil);
  put("verify/ambient", setup.conditions.ambient);
  put("verify/humidity", setup.conditions.humidity);
}

}  // namespace pmverify

#include "CheckReport.h"

#include <algorithm>
#include <cmath>
#include <map>

#include "DisplayFormat.h"
#include "EntryText.h"
#include "Identification.h"
#include "Protocol.h"

namespace pmverify {

namespace {

const std::string kEol = "\r\n";

std::string Fixed(double v, int decimals) { return pmdev::FormatFixed(v, 15, decimals); }

std::string Signed(double v, int decimals) {
  std::string t = Fixed(v, decimals);
  return v > 0 && t.find_first_not_of("0,") != std::string::npos ? "+" + t : t;
}

int Decimals(const Scale& s) { return s.input == InputKind::Current ? 3 : 2; }

std::string RangeText(const Scale& s) { return Short(s.lo, 2) + "…" + Short(s.hi, 2) + " " + s.Unit(); }

std::string InstrumentText(const CheckRecord& c) {
  std::string model = pmdev::ModelName(c.scale.model);
  std::string text = (model.empty() ? "тип " + std::to_string(c.scale.model) : model) + "-v" +
                     std::to_string(c.scale.version);
  if (!c.scale.sensor.empty()) text += ", " + c.scale.sensor;
  return text + ", " + RangeText(c.scale);
}

std::string MeasuredText(const CheckRecord& c, const PointRecord& p) {
  std::string text = ValueText(c.scale, p.result.mean);
  if (p.result.current) text += "; " + Fixed(*p.result.current, 3) + " мА";
  return text;
}

std::string ErrorText(const CheckRecord& c, const PointRecord& p) {
  std::string text = Signed(p.result.error, Decimals(c.scale)) + " " + c.scale.Unit() + " (" +
                     Signed(p.result.reduced, 3) + " %)";
  if (p.result.currentReduced) text += "; ток " + Signed(*p.result.currentReduced, 3) + " %";
  return text;
}

const PointRecord* At(const std::optional<CheckRecord>& c, double reference) {
  if (!c) return nullptr;
  for (const PointRecord& p : c->points)
    if (std::fabs(p.result.reference - reference) < 1e-9) return &p;
  return nullptr;
}

std::string SignalCell(const PointRecord& p) {
  std::string text = p.signal.text;
  if (!p.applied.empty()) text += "; подано " + p.applied;
  return text;
}

}  // namespace

std::string ValueText(const Scale& scale, double value) {
  return Fixed(value, Decimals(scale)) + " " + scale.Unit();
}

std::string ProtocolHtml(const Visit& visit, const ProtocolFooter& footer) {
  const auto esc = pmjournal::EscapeHtml;
  const CheckRecord& main = visit.asLeft ? *visit.asLeft : *visit.asFound;
  const CheckRecord& first = visit.asFound ? *visit.asFound : main;
  const Setup& s = main.setup;
  std::string html =
      "<html><head><meta charset=\"utf-8\"></head><body style=\"font-family: 'DejaVu Sans', sans-serif; "
      "font-size: 9pt\"><h2 align=\"center\">" +
      std::string(kProtocolTitle) + "</h2>";
  html += "<p><b>Прибор:</b> " + esc(main.identification) + "<br><b>Порт:</b> " + esc(main.port) +
          ", <b>устройство</b> " + std::to_string(main.address) + "<br><b>Датчик и диапазон:</b> " +
          esc(InstrumentText(main));
  if (main.scale.input == InputKind::Thermocouple)
    html += "<br><b>Холодный спай:</b> " +
            std::string(s.coldJunction == ColdJunction::Copper
                            ? "калибратор подключён медными проводами, сигнал E(t) − E(tхс)"
                            : "калибратор компенсирует холодный спай сам");
  html += "</p><p><b>Эталон:</b> " + esc(s.equipment.name) + ", зав. № " + esc(s.equipment.serial) +
          ", свидетельство (запись) " + esc(s.equipment.certificate) + ", действительно до " +
          esc(s.equipment.validUntil) + "<br><b>Условия:</b> температура окружающего воздуха " +
          esc(s.conditions.ambient) + " °C, относительная влажность " + esc(s.conditions.humidity) + " %" +
          "<br><b>Допускаемая погрешность:</b> " + esc(ToleranceText(s.tolerance, main.scale)) + " (" +
          Short(Permissible(s.tolerance, main.scale.Span()), 3) + " " + main.scale.Unit() + ")" +
          "<br><b>Отсчётов в точке:</b> " + std::to_string(s.readings) + " через " +
          Short(s.intervalMs / 1000.0, 3) + " с</p>";

  std::vector<double> references;
  for (const auto* c : {&visit.asFound, &visit.asLeft})
    if (*c)
      for (const PointRecord& p : (*c)->points)
        if (std::none_of(references.begin(), references.end(),
                         [&](double r) { return std::fabs(r - p.result.reference) < 1e-9; }))
          references.push_back(p.result.reference);
  std::sort(references.begin(), references.end());

  html += "<table border=\"1\" cellspacing=\"0\" cellpadding=\"2\" width=\"100%\" style=\"font-size: 8pt\">"
          "<tr><th>Точка</th><th>Подаваемый сигнал</th><th>Как найдено: показание, погрешность</th>"
          "<th>Как оставлено: показание, погрешность</th><th>Допуск</th><th>Вывод</th></tr>";
  const double permissible = Permissible(s.tolerance, main.scale.Span());
  auto cell = [&](const CheckRecord& c, const PointRecord* p) {
    if (!p) return std::string("-");
    return esc(MeasuredText(c, *p)) + "<br>" + esc(ErrorText(c, *p)) + "<br>" + esc(VerdictText(p->result.pass));
  };
  for (double r : references) {
    const PointRecord* found = At(visit.asFound, r);
    const PointRecord* left = At(visit.asLeft, r);
    const PointRecord* last = left ? left : found;
    html += "<tr><td>" + esc(PointText(main.scale, r)) + "</td><td>" + esc(SignalCell(*last)) + "</td><td>" +
            cell(first, found) + "</td><td>" + (visit.asLeft ? cell(main, left) : std::string("-")) + "</td><td>±" +
            esc(Short(permissible, 3)) + " " + esc(main.scale.Unit()) + "</td><td>" +
            esc(VerdictText(last->result.pass)) + "</td></tr>";
  }
  html += "</table>";
  auto summary = [&](const CheckRecord& c) {
    return StageText(c.stage) + ", " + c.at + ": " + VerdictText(c.verdict.pass) + ", наибольшая погрешность " +
           Signed(c.verdict.maxError, Decimals(c.scale)) + " " + c.scale.Unit() + " (" +
           Signed(c.verdict.maxReduced, 3) + " %)";
  };
  html += "<p>";
  if (visit.asFound) html += esc(summary(*visit.asFound)) + "<br>";
  if (visit.asLeft) {
    html += esc(summary(*visit.asLeft)) + "<br>";
    std::string ids;
    for (std::int64_t id : visit.asLeft->adjustments) ids += (ids.empty() ? "№ " : ", № ") + std::to_string(id);
    html += "Регулировка между проверками: " +
            esc(ids.empty() ? std::string("в журнале изменений нет записей") : "записи журнала изменений " + ids) +
            "<br>";
  }
  html += "</p><p><b>Заключение: " + esc(VerdictText(main.verdict.pass)) + "</b></p>";
  html += "<p>Протокол составлен по результатам сервисной калибровки и не является свидетельством о поверке.</p>";
  html += "<p><br>Дата: " + esc(footer.date) + "<br>Исполнитель: " + esc(main.fullName) +
          " ____________________ (подпись)<br>Программа: " + esc(footer.program) + "</p></body></html>";
  return html;
}

std::string CheckLine(const CheckRecord& c) {
  return std::to_string(c.id) + "  " + c.at + "  " + c.port + "  " + std::to_string(c.address) + "  " +
         InstrumentText(c) + "  " + StageText(c.stage) + "  " + VerdictText(c.verdict.pass) + "  " +
         Signed(c.verdict.maxError, Decimals(c.scale)) + " " + c.scale.Unit();
}

std::string CheckCsvText(const std::vector<CheckRecord>& checks) {
  const char* header[] = {"Проверка", "Визит", "Этап", "Время", "Порт", "Адрес", "Прибор", "Датчик", "Диапазон",
                          "Допуск", "Точка", "Сигнал", "Подано", "Показания", "Среднее", "Погрешность",
                          "Приведённая погрешность, %", "Ток, мА", "Ток по диапазону, мА", "Вывод по точке",
                          "Вывод по проверке", "Исполнитель", "Эталон", "Зав. номер эталона", "Свидетельство",
                          "Действительно до", "Температура, °C", "Влажность, %"};
  std::string text = "\xEF\xBB\xBF";
  for (std::size_t i = 0; i < std::size(header); ++i) text += (i ? ";" : "") + std::string(header[i]);
  text += kEol;
  for (const CheckRecord& c : checks) {
    const int d = Decimals(c.scale);
    for (const PointRecord& p : c.points) {
      std::string readings;
      for (double v : p.result.readings) readings += (readings.empty() ? "" : " ") + Fixed(v, d);
      const std::vector<std::string> fields = {
          std::to_string(c.id), std::to_string(c.visit ? c.visit : c.id), StageText(c.stage), c.at, c.port,
          std::to_string(c.address), c.identification, c.scale.sensor, RangeText(c.scale),
          ToleranceText(c.setup.tolerance, c.scale), PointText(c.scale, p.result.reference), p.signal.text,
          p.applied, readings, Fixed(p.result.mean, d), Fixed(p.result.error, d), Fixed(p.result.reduced, 3),
          p.result.current ? Fixed(*p.result.current, 3) : "", Fixed(p.result.currentExpected, 3),
          VerdictText(p.result.pass), VerdictText(c.verdict.pass), c.fullName, c.setup.equipment.name,
          c.setup.equipment.serial, c.setup.equipment.certificate, c.setup.equipment.validUntil,
          c.setup.conditions.ambient, c.setup.conditions.humidity};
      std::string line;
      for (std::size_t i = 0; i < fields.size(); ++i) line += (i ? ";" : "") + pmjournal::CsvQuoted(fields[i]);
      text += line + kEol;
    }
  }
  return text;
}

}  // namespace pmverify

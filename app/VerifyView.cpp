#include "VerifyView.h"

#include <QDate>
#include <QDateTime>
#include <QProgressBar>
#include <QTableWidget>
#include <algorithm>

#include "CheckReport.h"
#include "CheckStore.h"
#include "DisplayFormat.h"
#include "FileAccess.h"
#include "FileDialogs.h"
#include "Identification.h"
#include "NumericEntry.h"
#include "Obr_pm.h"
#include "ProtocolPdf.h"
#include "RangeCalc.h"
#include "RememberedSetup.h"
#include "SettingsFile.h"

namespace {

using namespace pmverify;

// How often a point whose signal has not settled is taken again at most.
constexpr int kMaxRepeats = 10;

std::string Text(const QLineEdit* edit) { return edit->text().trimmed().toStdString(); }

// A number typed with a decimal comma (a point is taken too).
std::optional<double> Typed(const QLineEdit* edit) {
  QString text = edit->text().trimmed();
  text.replace('.', ',');
  return pmdev::ParseTypedNumber(text.toStdString());
}

std::string ProgramName() { return "pmservice " + pmset::ProgramVersion(); }

std::string Signed(double v, int decimals) {
  const std::string t = pmdev::FormatFixed(v, 15, decimals);
  return v > 0 && t.find_first_not_of("0,") != std::string::npos ? "+" + t : t;
}

int Decimals(const Scale& s) { return s.input == InputKind::Current ? 3 : 2; }

std::string Summary(const CheckRecord& c) {
  return "Проверка " + StageText(c.stage) + ": " + VerdictText(c.verdict.pass) + ", наибольшая погрешность " +
         Signed(c.verdict.maxError, Decimals(c.scale)) + " " + c.scale.Unit() + " (" +
         Signed(c.verdict.maxReduced, 3) + " %)";
}

void Put(QTableWidget* grid, int row, int column, const std::string& text) {
  grid->setItem(row, column, new QTableWidgetItem(QString::fromStdString(text)));
}

}  // namespace

VerifyView::VerifyView(TForm1& form, QWidget* parent)
    : QDialog(parent), TableDirs(pmrange::DefaultTableDirs()), m_form(form) {
  ui.setupUi(this);
  ui.GridPoints->horizontalHeader()->setStretchLastSection(true);
  ui.GridChecks->horizontalHeader()->setStretchLastSection(true);
  auto wire = [this](QPushButton* button, void (VerifyView::*handler)()) {
    connect(button, &QPushButton::clicked, this, [this, handler] { m_form.Guarded([this, handler] { (this->*handler)(); }); });
  };
  wire(ui.ButStart, &VerifyView::ButStartClick);
  wire(ui.ButAsLeft, &VerifyView::ButAsLeftClick);
  wire(ui.ButTake, &VerifyView::ButTakeClick);
  wire(ui.ButProtocol, &VerifyView::ButProtocolClick);
  wire(ui.ButCFilter, &VerifyView::ButCFilterClick);
  wire(ui.ButCProtocol, &VerifyView::ButCProtocolClick);
  wire(ui.ButCExport, &VerifyView::ButCExportClick);
}

VerifyView::~VerifyView() = default;

void VerifyView::Prepare() {
  if (m_run && !m_run->Done()) return;
  const TProgPMClass& pm = m_form.Pm;
  if (pm.DataRead != 1) {
    ui.StInstrument->setText(QStringLiteral("Прибор не считан: считайте его (F9) и начните проверку."));
    return;
  }
  const Scale scale = ScaleOf(pm.DevType, pm.Version, pm.GetTipD(), pm.TMin, pm.TMax);
  ui.StInstrument->setText(QString::fromStdString(
      "устройство " + std::to_string(m_form.Serv.DeviceIndex + 1) + ", " + m_form.Link.Port + ": " +
      pmdev::ModelName(scale.model) + (scale.sensor.empty() ? "" : ", " + scale.sensor) + ", " +
      Short(scale.lo, 2) + "…" + Short(scale.hi, 2) + " " + scale.Unit()));
  ui.EdPoints->setText(QString::fromStdString(PointsText(DefaultPoints(scale.lo, scale.hi))));
  ui.StPointsUnit->setText(QString::fromStdString(scale.Unit()));
  const Setup s = RememberedSetup(scale.model);
  ui.EdTolerance->setText(QString::fromStdString(Short(s.tolerance.value, 3)));
  ui.CBoxTolKind->setCurrentIndex(static_cast<int>(s.tolerance.kind));
  ui.SpinReadings->setValue(s.readings);
  ui.EdInterval->setText(QString::fromStdString(Short(s.intervalMs / 1000.0, 3)));
  ui.CBoxColdJunction->setCurrentIndex(static_cast<int>(s.coldJunction));
  ui.CBoxColdJunction->setEnabled(scale.input == InputKind::Thermocouple);
  ui.EdEquipment->setText(QString::fromStdString(s.equipment.name));
  ui.EdSerial->setText(QString::fromStdString(s.equipment.serial));
  ui.EdCertificate->setText(QString::fromStdString(s.equipment.certificate));
  ui.EdValidUntil->setText(QString::fromStdString(s.equipment.validUntil));
  ui.EdAmbient->setText(QString::fromStdString(s.conditions.ambient));
  ui.EdHumidity->setText(QString::fromStdString(s.conditions.humidity));
}

std::optional<Setup> VerifyView::SetupOf(const Scale& scale) {
  Setup s;
  // Nothing typed: the five points of the instrument's own scale.
  if (Text(ui.EdPoints).empty())
    ui.EdPoints->setText(QString::fromStdString(PointsText(DefaultPoints(scale.lo, scale.hi))));
  const auto points = ParsePoints(Text(ui.EdPoints), scale);
  if (const auto* why = std::get_if<std::string>(&points)) {
    m_form.Messages().Warning(*why);
    return std::nullopt;
  }
  s.points = std::get<std::vector<double>>(points);
  const std::optional<double> tolerance = Typed(ui.EdTolerance);
  if (!tolerance || !(*tolerance > 0) || *tolerance > 1000) {
    m_form.Messages().Warning("Допускаемая погрешность - положительное число, например 0,5.");
    return std::nullopt;
  }
  s.tolerance = {ui.CBoxTolKind->currentIndex() == 1 ? ToleranceKind::Absolute : ToleranceKind::Reduced, *tolerance};
  s.readings = ui.SpinReadings->value();
  const std::optional<double> interval = Typed(ui.EdInterval);
  if (!interval || *interval < 0 || *interval * 1000 > kMaxIntervalMs) {
    m_form.Messages().Warning("Интервал между отсчётами - число секунд от 0 до 60.");
    return std::nullopt;
  }
  s.intervalMs = static_cast<int>(*interval * 1000 + 0.5);
  s.coldJunction = ui.CBoxColdJunction->currentIndex() == 1 ? ColdJunction::Copper : ColdJunction::Compensated;
  s.equipment = {Text(ui.EdEquipment), Text(ui.EdSerial), Text(ui.EdCertificate), Text(ui.EdValidUntil)};
  s.conditions = {Text(ui.EdAmbient), Text(ui.EdHumidity)};
  if (s.equipment.name.empty() || s.equipment.serial.empty()) {
    m_form.Messages().Warning("Укажите эталон: наименование и заводской номер.");
    return std::nullopt;
  }
  return s;
}

void VerifyView::Begin(Stage stage) {
  const int index = m_form.Serv.DeviceIndex;
  const InstrumentRead instrument = ReadInstrument(m_form.Link, m_form.Messages(), index);
  if (!instrument.ok) return;
  if (stage == Stage::AsLeft && m_asFound &&
      (m_asFound->port != m_form.Link.Port || m_asFound->address != index + 1 ||
       m_asFound->scale.model != instrument.scale.model)) {
    m_form.Messages().Warning("Проверка после регулировки - для того же прибора, что и проверка «как найдено».");
    return;
  }
  const std::optional<Setup> setup = SetupOf(instrument.scale);
  if (!setup) return;
  Remember(*setup, instrument.scale.model);
  m_run = std::make_unique<CheckRun>(instrument, m_form.Link.Port, index + 1, *setup, stage,
                                     m_asFound ? m_asFound->id : 0, TableDirs);
  ui.GridPoints->setRowCount(static_cast<int>(setup->points.size()));
  for (int row = 0; row < ui.GridPoints->rowCount(); ++row) {
    for (int column = 0; column < ui.GridPoints->columnCount(); ++column) Put(ui.GridPoints, row, column, "");
    Put(ui.GridPoints, row, 0, PointText(instrument.scale, setup->points[static_cast<std::size_t>(row)]));
  }
  ui.StVerdict->clear();
  ui.ButTake->setEnabled(true);
  ui.ButProtocol->setEnabled(false);
  ui.ButAsLeft->setEnabled(false);
  if (!m_run->Computes()) m_form.Messages().Warning(NoCharacteristicText(instrument.scale.sensor));
  ShowPrompt();
}

void VerifyView::ButStartClick() {
  m_asFound.reset();
  m_asLeft.reset();
  Begin(Stage::AsFound);
}

void VerifyView::ButAsLeftClick() {
  if (!m_asFound) return;
  Begin(Stage::AsLeft);
}

void VerifyView::ShowPrompt() {
  const std::size_t n = m_run->Current();
  ui.StPrompt->setText(QString::fromStdString("Точка " + std::to_string(n + 1) + " из " +
                                              std::to_string(m_run->Record().setup.points.size()) + ": " +
                                              Instruction(m_run->CurrentSignal())));
  ui.EdApplied->setEnabled(!m_run->Computes());
  ui.ProgressTake->setValue(0);
}

void VerifyView::ButTakeClick() {
  if (!m_run || m_run->Done()) return;
  const std::string applied = Text(ui.EdApplied);
  if (!m_run->Computes() && applied.empty()) {
    m_form.Messages().Warning("Введите поданное значение: для этого датчика программа сигнал не рассчитывает.");
    return;
  }
  std::optional<double> current;
  if (!ui.EdCurrent->text().trimmed().isEmpty()) {
    current = Typed(ui.EdCurrent);
    if (!current || *current < 0 || *current > 25) {
      m_form.Messages().Warning("Выходной ток - число миллиампер от 0 до 25, например 12,004.");
      return;
    }
  }
  const Setup& s = m_run->Record().setup;
  ui.ProgressTake->setMaximum(s.readings);
  for (int attempt = 1;; ++attempt) {
    const Taken taken = TakeReadings(m_form.Link, m_form.Messages(), m_run->Record().address - 1, s.readings,
                                     s.intervalMs, [this](int done) {
                                       ui.ProgressTake->setValue(done);
                                       ui.ProgressTake->repaint();
                                     });
    if (!taken.ok) return;
    if (m_run->Take(taken, current, applied)) break;
    const ui::Answer again = m_form.Messages().Show(
        {std::string(kNotSettled) + ": показания разошлись больше чем на четверть допускаемой погрешности.\n"
                                    "Повторить измерение в этой точке?",
         "Проверка погрешности", ui::Icon::Question, ui::Buttons::YesNo, ui::Answer::Yes});
    if (again != ui::Answer::Yes || attempt >= kMaxRepeats) return;
  }
  ShowPoint(m_run->Record().points.back());
  ui.EdApplied->clear();
  ui.EdCurrent->clear();
  if (m_run->Done()) Finish();
  else ShowPrompt();
}

void VerifyView::ShowPoint(const PointRecord& p) {
  const Scale& scale = m_run->GetScale();
  const int row = static_cast<int>(m_run->Record().points.size()) - 1;
  const int d = Decimals(scale);
  std::string readings;
  for (double v : p.result.readings) readings += (readings.empty() ? "" : "; ") + pmdev::FormatFixed(v, 15, d);
  Put(ui.GridPoints, row, 1, p.applied.empty() ? p.signal.text : p.signal.text + "; подано " + p.applied);
  Put(ui.GridPoints, row, 2, readings);
  Put(ui.GridPoints, row, 3, pmdev::FormatFixed(p.result.mean, 15, d));
  Put(ui.GridPoints, row, 4, Signed(p.result.error, d));
  Put(ui.GridPoints, row, 5, Signed(p.result.reduced, 3));
  Put(ui.GridPoints, row, 6, p.result.current ? pmdev::FormatFixed(*p.result.current, 15, 3) : "");
  Put(ui.GridPoints, row, 7, VerdictText(p.result.pass));
}

void VerifyView::Finish() {
  CheckRecord record = m_run->Record();
  record.program = ProgramName();
  record.atMs = pmjournal::NowMs();
  try {
    pmjournal::Journal& journal = m_form.OpenJournal();
    if (record.stage == Stage::AsLeft && m_asFound)
      record.adjustments = EntriesBetween(journal, record.port, record.address, m_asFound->atMs, record.atMs);
    StoreCheck(journal, record);
  } catch (const pmjournal::JournalError& e) {
    m_form.Messages().Warning(std::string(e.what()) +
                              "\nПроверка не сохранена в журнале; протокол калибровки можно сохранить в PDF.");
  }
  (record.stage == Stage::AsFound ? m_asFound : m_asLeft) = record;
  m_run.reset();
  std::string verdict;
  for (const auto* c : {&m_asFound, &m_asLeft}) {
    if (!*c) continue;
    if (!verdict.empty()) verdict += '\n';
    verdict += Summary(**c);
  }
  ui.StVerdict->setText(QString::fromStdString(verdict));
  ui.StPrompt->setText(QString::fromStdString("Проверка завершена: " + VerdictText(record.verdict.pass)));
  ui.ButTake->setEnabled(false);
  ui.ButAsLeft->setEnabled(true);
  ui.ButProtocol->setEnabled(true);
}

void VerifyView::WritePdf(const Visit& visit) {
  const std::string path = ui::AskFileName(this, ui::FileDialogKind::Save, "Протокол калибровки (PDF)");
  if (path.empty()) return;
  const std::string html =
      ProtocolHtml(visit, {QDate::currentDate().toString("yyyy-MM-dd").toStdString(), ProgramName()});
  const std::string failure = WriteProtocolPdf(path, html, ProgramName(), kProtocolTitle);
  if (!failure.empty()) m_form.Messages().Warning("Не удалось записать файл\n" + failure);
}

void VerifyView::ButProtocolClick() {
  if (!m_asFound && !m_asLeft) return;
  WritePdf({m_asFound, m_asLeft});
}

void VerifyView::ButCFilterClick() {
  CheckFilter filter;
  if (ui.ChBoxThis->isChecked()) {
    filter.port = m_form.Link.Port;
    filter.address = m_form.Serv.DeviceIndex + 1;
  }
  for (auto [edit, bound, nextDay] : {std::tuple{ui.EdSince, &filter.sinceMs, 0}, {ui.EdUntil, &filter.untilMs, 1}}) {
    const QString text = edit->text().trimmed();
    if (text.isEmpty()) continue;
    const QDate day = QDate::fromString(text, QStringLiteral("yyyy-MM-dd"));
    if (!day.isValid()) {
      m_form.Messages().Warning("Дата в виде ГГГГ-ММ-ДД: " + text.toStdString());
      return;
    }
    *bound = QDateTime(day.addDays(nextDay), QTime(0, 0)).toMSecsSinceEpoch();
  }
  try {
    m_listed = ListChecks(m_form.OpenJournal(), filter);
  } catch (const pmjournal::JournalError& e) {
    m_form.Messages().Warning(e.what());
    return;
  }
  ui.GridChecks->setRowCount(static_cast<int>(m_listed.size()));
  int row = 0;
  for (const CheckRecord& c : m_listed) {
    const std::string model = pmdev::ModelName(c.scale.model);
    Put(ui.GridChecks, row, 0, std::to_string(c.id));
    Put(ui.GridChecks, row, 1, c.at);
    Put(ui.GridChecks, row, 2, c.port);
    Put(ui.GridChecks, row, 3, std::to_string(c.address));
    Put(ui.GridChecks, row, 4, model + (c.scale.sensor.empty() ? "" : ", " + c.scale.sensor));
    Put(ui.GridChecks, row, 5, StageText(c.stage));
    Put(ui.GridChecks, row, 6, VerdictText(c.verdict.pass));
    Put(ui.GridChecks, row, 7, Signed(c.verdict.maxError, Decimals(c.scale)) + " " + c.scale.Unit());
    ++row;
  }
}

void VerifyView::ButCProtocolClick() {
  const int row = ui.GridChecks->currentRow();
  if (row < 0 || row >= static_cast<int>(m_listed.size())) {
    m_form.Messages().Warning("Выберите проверку в списке.");
    return;
  }
  Visit visit;
  try {
    visit = VisitOf(m_form.OpenJournal(), m_listed[static_cast<std::size_t>(row)].id);
  } catch (const pmjournal::JournalError& e) {
    m_form.Messages().Warning(e.what());
    return;
  }
  if (visit.asFound || visit.asLeft) WritePdf(visit);
}

void VerifyView::ButCExportClick() {
  if (m_listed.empty()) {
    m_form.Messages().Warning("Нет проверок для экспорта: выберите их кнопкой «Показать».");
    return;
  }
  const std::string path = ui::AskFileName(this, ui::FileDialogKind::Save, "Экспорт проверок в CSV");
  if (path.empty()) return;
  const std::string failure = pmset::WriteFileAtomically(path, CheckCsvText(m_listed));
  if (!failure.empty()) m_form.Messages().Warning("Не удалось записать файл\n" + failure + "\nЭкспорт отменён");
}

// ---------------------------------------------------------------------------
// The main window's side

void TForm1::VerifyClick() {
  m_verifyView->Prepare();
  m_verifyView->show();
  m_verifyView->raise();
  m_verifyView->activateWindow();
}

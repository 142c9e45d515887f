#include "RecordShot.h"

#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <cstdio>

#include "CheckReport.h"
#include "CheckStore.h"
#include "Line.h"
#include "Obr_pm.h"
#include "ProtocolPdf.h"
#include "VerifyView.h"

namespace {

constexpr int kAddress = 3;

// The calibrator: the value the prompt asks for, applied to the input.
bool Apply(const VerifyView& view, sim::Instrument& in) {
  static const QRegularExpression kAsked(QStringLiteral("Подайте (-?[0-9]+,[0-9]+) мВ"));
  const QRegularExpressionMatch m = kAsked.match(view.ui.StPrompt->text());
  if (!m.hasMatch()) return false;
  in.SetInput(m.captured(1).replace(QLatin1Char(','), QLatin1Char('.')).toDouble());
  return true;
}

}  // namespace

int RecordShot(TForm1& form, sim::Line& line, const QString& outDir) {
  // The ЗЕТ-ТП on XA(K) 0…300 °C, its scale end 0,2 % of the span high, on
  // the bench with its terminals at 23 °C; the calibrator on copper wires.
  sim::Instrument& in = *line.Find(kAddress);
  sim::Bytes block = in.Block();
  block[9] = 2;
  block[10] = 2;
  in.SetBlock(block);
  in.Tune(0.2);
  in.ResumeMeasurement();
  in.SetSensorValue(std::nullopt);
  in.SetTerminalTemperature(23.0);
  in.SetNoise(1);
  form.ui.CBoxUstr->setCurrentIndex(kAddress - 1);
  form.CBoxUstrClick();
  form.InPortClick();

  form.VerifyClick();
  VerifyView& v = form.Verify();
  v.TableDirs = {PM_SOURCE_DATA};
  v.ui.EdTolerance->setText(QStringLiteral("0,5"));
  v.ui.CBoxTolKind->setCurrentIndex(0);
  v.ui.SpinReadings->setValue(3);
  v.ui.EdInterval->setText(QStringLiteral("1"));
  v.ui.CBoxColdJunction->setCurrentIndex(1);  // copper wires
  v.ui.EdEquipment->setText(QStringLiteral("Калибратор многофункциональный"));
  v.ui.EdSerial->setText(QStringLiteral("1234"));
  v.ui.EdCertificate->setText(QStringLiteral("С-ВЯ/01-02-2026/100"));
  v.ui.EdValidUntil->setText(QStringLiteral("2027-02-01"));
  v.ui.EdAmbient->setText(QStringLiteral("22"));
  v.ui.EdHumidity->setText(QStringLiteral("45"));
  v.ButStartClick();
  for (int n = 0; n < 10 && v.ui.ButTake->isEnabled(); ++n) {
    if (!Apply(v, in)) break;
    v.ButTakeClick();
  }
  v.close();
  in.SetInput(std::nullopt);
  in.SetNoise(0);

  const std::vector<pmverify::CheckRecord> checks = pmverify::ListChecks(form.OpenJournal(), {});
  if (checks.empty() || v.ui.ButTake->isEnabled()) {
    std::fprintf(stderr, "record: the check did not finish: %s\n", qPrintable(v.ui.StPrompt->text()));
    return 1;
  }
  pmverify::Visit visit = pmverify::VisitOf(form.OpenJournal(), checks.front().id);
  if (!visit.asFound) {
    std::fprintf(stderr, "record: no check as found\n");
    return 1;
  }
  // Who, where and when as on a service bench, not as on the machine that
  // takes the pictures.
  pmverify::CheckRecord& c = *visit.asFound;
  c.at = "2026-12-08T14:40:00+03:00";
  c.port = "/dev/ttyUSB0";
  c.user = "ivanov";
  c.fullName = "Иванов И. И.";
  c.host = "stend-1";
  const std::string html = pmverify::ProtocolHtml(visit, {"2026-12-08", c.program});

  QTemporaryDir scratch;
  const QString pdf = scratch.filePath(QStringLiteral("protokol.pdf"));
  const std::string failure = WriteProtocolPdf(pdf.toStdString(), html, c.program, pmverify::kProtocolTitle);
  if (!failure.empty()) {
    std::fprintf(stderr, "record: %s\n", failure.c_str());
    return 1;
  }
  const QString png = QDir(outDir).filePath(QStringLiteral("guide-record"));
  const int rc = QProcess::execute(QStringLiteral("pdftoppm"),
                                   {QStringLiteral("-f"), QStringLiteral("1"), QStringLiteral("-l"),
                                    QStringLiteral("1"), QStringLiteral("-scale-to"), QStringLiteral("1100"),
                                    QStringLiteral("-png"), QStringLiteral("-singlefile"), pdf, png});
  if (rc != 0) {
    std::fprintf(stderr, "record: pdftoppm failed (%d)\n", rc);
    return 1;
  }
  std::printf("%s.png\n", qPrintable(png));
  return 0;
}

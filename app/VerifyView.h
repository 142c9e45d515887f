#pragma once
// "Проверка погрешности…": the accuracy check of the instrument shown. The
// operator sets the points, the permissible error, the readings, the
// reference equipment and the conditions; the window tells what to apply at
// each point, takes the readings, shows every point's error and verdict,
// stores the check in the change journal's file, and after an adjustment
// with the window's calibration commands checks again as left. The second
// page lists the stored checks and prints «Протокол калибровки».
//
// Not modal: the calibration commands of the main window stay at hand
// between the two checks. The handlers are public so that tests run what
// the buttons run; the steps themselves are the plain CheckRun's.

#include <QDialog>
#include <memory>
#include <optional>
#include <vector>

#include "CheckRun.h"
#include "CheckStore.h"
#include "ui_VerifyView.h"

class TForm1;

class VerifyView : public QDialog {
  Q_OBJECT

 public:
  VerifyView(TForm1& form, QWidget* parent = nullptr);
  ~VerifyView() override;

  Ui::TFormVerify ui;

  // Fills the settings for the instrument shown (its scale's points, the
  // permissible error remembered for its model) unless a check is under way.
  void Prepare();

  void ButStartClick();      // the check as found
  void ButAsLeftClick();     // the check as left, same visit
  void ButTakeClick();       // the readings of the current point
  void ButProtocolClick();   // «Протокол калибровки» of this visit
  void ButCFilterClick();    // the stored checks the filter chooses
  void ButCProtocolClick();  // the record of the selected check's visit
  void ButCExportClick();    // the checks listed, as CSV

  // Where the reference tables are looked for.
  std::vector<std::string> TableDirs;
  // The checks of this visit, once finished.
  const std::optional<pmverify::CheckRecord>& AsFound() const { return m_asFound; }
  const std::optional<pmverify::CheckRecord>& AsLeft() const { return m_asLeft; }
  const std::vector<pmverify::CheckRecord>& Listed() const { return m_listed; }

 private:
  // The settings as typed; a warning and nothing when one is refused.
  std::optional<pmverify::Setup> SetupOf(const pmverify::Scale& scale);
  void Begin(pmverify::Stage stage);
  void ShowPrompt();
  void ShowPoint(const pmverify::PointRecord& p);
  void Finish();
  void WritePdf(const pmverify::Visit& visit);

  TForm1& m_form;
  std::unique_ptr<pmverify::CheckRun> m_run;
  std::optional<pmverify::CheckRecord> m_asFound, m_asLeft;
  std::vector<pmverify::CheckRecord> m_listed;
};

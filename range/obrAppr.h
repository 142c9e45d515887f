#pragma once
// TFormNewRange: the dialog in which the operator picks the start and end of
// a non-standard range, runs the calculation ("Расчет") and sees the ten node
// values.  The main window fills it (StTipD, EditTN/EditTK with RangeStart/
// RangeEnd, Edit2..Edit9 with NodeCodes, StdRanges), shows it with
// ui::ExecModal and reads the result: 2 = a fresh calculation stands and is
// to be programmed, 6 = nothing to program.

#include <QDialog>
#include <array>
#include <span>
#include <string>

#include "MessageService.h"
#include "RangeCalc.h"
#include "RangeRow.h"
#include "ui_obrAppr.h"

class QLineEdit;

class TFormNewRange : public QDialog, public Ui_TFormNewRange {
  Q_OBJECT

 public:
  static constexpr int kResultProgram = 2;
  static constexpr int kResultNothing = 6;

  explicit TFormNewRange(ui::MessageService& messages, QWidget* parent = nullptr);

  // The ten result edits in node order, Edit1 .. Edit10.
  std::array<QLineEdit*, 10> ResultEdits{};
  // Last accepted contents of EditTN and EditTK; the calculation uses these.
  double RangeStart = 0;
  double RangeEnd = 0;
  // The eight interior node codes, shown in Edit2 .. Edit9.
  std::array<double, 8> NodeCodes{};
  // Standard ranges of the sensor type (read only; the caller keeps the table).
  std::span<const pmdev::RangeRow> StdRanges;
  int StdRangeCount = 0;
  // 1 while no calculation stands that matches the current range.
  int NeedRecalc = 1;

  // Caller helpers: each sets the texts and their numeric mirrors together.
  void SetSensorText(const QString& text);
  void SetRange(double start, double end);
  void SetNodeCodes(const std::array<double, 8>& codes);
  void SetStdRanges(std::span<const pmdev::RangeRow> rows);

  // Handlers.
  void FormCreate();
  void FormShow();
  void EditTNChange();
  void EditTNExit(QLineEdit* edit);
  // Key filter for one key; true when the key may reach the edit.
  bool EditTNKeyDown(QLineEdit* edit, int virtualKey, bool shift);
  void Button1Click();
  // Runs the closing steps and returns the modal result (2 or 6); used by
  // every way of closing the window.
  int CloseResult();

  // Names the table file the results were computed from under them;
  // nothing (empty path) while no calculation stands.
  void ShowTableFile(const std::string& path = {});

  // The calculation behind "Расчет" (its table search folders can be set).
  pmrange::RangeCalculator& Calculator() { return calc_; }

 public slots:
  void reject() override;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  void InputError(QLineEdit* edit);
  void MoveFocusToFirst();
  void SetColour(QLineEdit* edit, const QColor& colour);
  // The deviation of the characteristic with the codes as written, under the
  // results.
  void ShowDeviation();

  ui::MessageService& msg_;
  pmrange::RangeCalculator calc_;
  bool suppressExit_ = false;
};

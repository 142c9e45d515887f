#pragma once
// "График": a non-modal window plotting every read of the instrument shown.
//
// The view hears the main window's reads only while it is shown, so a
// closed view costs a read nothing; the points it has collected stay for
// the next showing. A change of instrument starts a new series; the box
// "Прибор" picks which of the kept series is drawn (the newest is followed
// until another is picked). While "Пауза" is on, points go on arriving but
// the picture stands still.
//
// The line overview can send the instruments the operator chose there: they
// are drawn together, each in its colour, under the last item of "Прибор".

#include <QDialog>
#include <QString>
#include <functional>
#include <optional>
#include <vector>

#include "Reading.h"
#include "TrendModel.h"
#include "ui_TrendView.h"

class TrendView : public QDialog {
  Q_OBJECT

 public:
  // Time windows of CBoxWindow, in its order (0: all).
  static constexpr pmtrend::Millis kWindows[] = {60'000, 600'000, 3'600'000, 0};

  explicit TrendView(QWidget* parent = nullptr);
  ~TrendView() override;

  Ui::TrendView ui;

  pmtrend::TrendModel& Model() { return m_model; }
  // True while reads reach the view.
  bool Listening() const { return m_listening; }

  // A read has ended (connected while the view is shown).
  void Take(const pmtrend::ReadOutcome& outcome);
  // The series drawn, or null.
  const pmtrend::Series* Shown() const;

  // The instruments chosen in the line overview, drawn together from now on
  // (their earlier points are let go); an empty choice ends it.
  void ShowTogether(const std::vector<pmtrend::Source>& chosen);
  // A poll of a chosen instrument.
  void TakeTogether(const pmtrend::ReadOutcome& outcome);
  bool TogetherShown() const { return m_togetherPicked; }
  pmtrend::TrendModel& Together() { return m_together; }
  static constexpr std::size_t kMaxTogether = 32;
  // Redraws for the time `now` (the present unless paused).
  void Refresh();

  // "Сохранить PNG…": asks for a file name, then SavePng.
  void SavePngClick();
  bool SavePng(const QString& path);
  std::function<QString()> AskSavePath;

  // Clock of the view; tests and the screenshots set their own.
  std::function<pmtrend::Millis()> Now = pmtrend::NowMillis;
  // The recording's state, shown in the status line.
  void SetRecordText(const QString& text);
  // Set by the main window: connects or disconnects the reads.
  std::function<void(bool)> Listen;
  // Runs a handler of the window's controls (the main window's guard).
  std::function<void(const std::function<void()>&)> Guard;
  // Error reports (the main window's message service).
  std::function<void(const std::string&)> ReportError;

 protected:
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  void FillSeriesBox();
  void FixedToggled(bool on);
  void PauseToggled(bool on);

  pmtrend::TrendModel m_model;
  pmtrend::TrendModel m_together{pmtrend::TrendModel::kMaxSamples, kMaxTogether};
  bool m_togetherOn = false;      // the overview sent a choice
  bool m_togetherPicked = false;  // its item is the one drawn
  bool m_listening = false;
  // The series picked in CBoxSeries counted from the newest (0 = newest).
  int m_pickedFromNewest = 0;
  std::optional<pmtrend::Millis> m_pausedAt;
  QString m_recordText;
};

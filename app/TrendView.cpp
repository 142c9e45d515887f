#include "TrendView.h"

#include <QFileDialog>
#include <algorithm>
#include <QHideEvent>
#include <QPixmap>
#include <QShowEvent>

TrendView::TrendView(QWidget* parent) : QDialog(parent) {
  ui.setupUi(this);
  setModal(false);
  // Scale limits are typed as the other numbers of the program: decimal comma.
  for (QDoubleSpinBox* spin : {ui.SpinMin, ui.SpinMax}) spin->setLocale(QLocale(QLocale::Russian, QLocale::Russia));

  AskSavePath = [this] {
    return QFileDialog::getSaveFileName(this, QStringLiteral("Сохранить график"), QStringLiteral("grafik.png"),
                                        QStringLiteral("Изображения PNG (*.png)"));
  };

  // Every handler runs through the window's guard, which shows an escaping
  // error instead of letting it cross Qt.
  auto run = [this](std::function<void()> handler) {
    return [this, handler] {
      if (Guard) Guard(handler);
      else handler();
    };
  };
  connect(ui.CBoxWindow, &QComboBox::currentIndexChanged, this, run([this] { Refresh(); }));
  connect(ui.CBoxSeries, &QComboBox::activated, this, [this, run](int index) {
    run([this, index] {
      const int series = static_cast<int>(m_model.AllSeries().size());
      m_togetherPicked = m_togetherOn && index == series;
      if (!m_togetherPicked) m_pickedFromNewest = series - 1 - index;
      Refresh();
    })();
  });
  connect(ui.ChBoxFixed, &QCheckBox::toggled, this, [this, run](bool on) { run([this, on] { FixedToggled(on); })(); });
  connect(ui.SpinMin, &QDoubleSpinBox::valueChanged, this, run([this] { Refresh(); }));
  connect(ui.SpinMax, &QDoubleSpinBox::valueChanged, this, run([this] { Refresh(); }));
  connect(ui.ChBoxPause, &QCheckBox::toggled, this, [this, run](bool on) { run([this, on] { PauseToggled(on); })(); });
  connect(ui.ButSavePng, &QPushButton::clicked, this, run([this] { SavePngClick(); }));
  connect(ui.ButClose, &QPushButton::clicked, this, &QDialog::close);
  Refresh();
}

// The hide that destruction brings must not reach back into a main window
// that is going away.
TrendView::~TrendView() {
  Listen = nullptr;
  Guard = nullptr;
}

void TrendView::showEvent(QShowEvent* event) {
  if (!m_listening && Listen) Listen(true);
  m_listening = true;
  Refresh();
  QDialog::showEvent(event);
}

void TrendView::hideEvent(QHideEvent* event) {
  // Minimised by the window system: still open, still listening.
  if (!event->spontaneous() && m_listening) {
    if (Listen) Listen(false);
    m_listening = false;
  }
  QDialog::hideEvent(event);
}

void TrendView::Take(const pmtrend::ReadOutcome& o) {
  const std::size_t before = m_model.AllSeries().size();
  const pmtrend::Series* last = before ? &m_model.AllSeries().back() : nullptr;
  const bool sameSource = last && last->source == o.source;
  if (o.ok) m_model.AddReading(o.reading);
  else m_model.AddFailure(o.source, o.time);
  // A new series: the picked one keeps its place counted from the oldest
  // unless the newest was followed.
  if (o.ok && !sameSource && m_pickedFromNewest > 0) ++m_pickedFromNewest;
  FillSeriesBox();
  // Paused, the time stands still, so the picture does too.
  Refresh();
}

const pmtrend::Series* TrendView::Shown() const {
  const auto& all = m_model.AllSeries();
  if (all.empty()) return nullptr;
  const int index = static_cast<int>(all.size()) - 1 - m_pickedFromNewest;
  return index >= 0 ? &all[static_cast<std::size_t>(index)] : &all.front();
}

void TrendView::FillSeriesBox() {
  const auto& all = m_model.AllSeries();
  m_pickedFromNewest = std::min<int>(m_pickedFromNewest, std::max<int>(0, static_cast<int>(all.size()) - 1));
  QSignalBlocker block(ui.CBoxSeries);
  ui.CBoxSeries->clear();
  for (const pmtrend::Series& s : all) ui.CBoxSeries->addItem(QString::fromStdString(s.legend));
  if (m_togetherOn) ui.CBoxSeries->addItem(QStringLiteral("Обзор линии: выбранные приборы вместе"));
  ui.CBoxSeries->setCurrentIndex(m_togetherPicked ? ui.CBoxSeries->count() - 1
                                                  : static_cast<int>(all.size()) - 1 - m_pickedFromNewest);
}

void TrendView::ShowTogether(const std::vector<pmtrend::Source>& chosen) {
  m_together.Clear();
  m_togetherOn = m_togetherPicked = !chosen.empty();
  FillSeriesBox();
  Refresh();
}

void TrendView::TakeTogether(const pmtrend::ReadOutcome& o) {
  if (!m_togetherOn) return;
  if (o.ok) m_together.AddReadingOf(o.reading);
  else m_together.AddFailureOf(o.source, o.time);
  if (m_togetherPicked && isVisible()) Refresh();
}

void TrendView::Refresh() {
  const pmtrend::Millis now = m_pausedAt.value_or(Now());
  const int windowIndex = std::clamp(ui.CBoxWindow->currentIndex(), 0, 3);
  std::optional<ui::Span> fixed;
  if (ui.ChBoxFixed->isChecked()) fixed = ui::Span{ui.SpinMin->value(), ui.SpinMax->value()};
  std::vector<const pmtrend::Series*> drawn;
  if (m_togetherPicked) {
    for (const pmtrend::Series& t : m_together.AllSeries()) drawn.push_back(&t);
  } else if (const pmtrend::Series* s = Shown()) {
    drawn.push_back(s);
  }
  const pmtrend::ViewBox box = pmtrend::ComputeView(drawn, now, kWindows[windowIndex], fixed);
  ui.Plot->Show(drawn, box);

  QString status;
  long points = 0;
  for (const pmtrend::Series* s : drawn)
    points += std::count_if(s->samples.begin(), s->samples.end(), [](const pmtrend::Sample& x) { return !x.Gap(); });
  if (!drawn.empty()) status = QStringLiteral("Точек: %1").arg(points);
  if (m_pausedAt) status += QStringLiteral("  (пауза)");
  if (!m_recordText.isEmpty()) status += QStringLiteral("    ") + m_recordText;
  ui.StStatus->setText(status);
}

void TrendView::FixedToggled(bool on) {
  if (on) {
    // Start from the scale shown.
    const ui::Span v = ui.Plot->Box().value;
    QSignalBlocker a(ui.SpinMin), b(ui.SpinMax);
    ui.SpinMin->setValue(v.lo);
    ui.SpinMax->setValue(v.hi);
  }
  ui.SpinMin->setEnabled(on);
  ui.SpinMax->setEnabled(on);
  Refresh();
}

void TrendView::PauseToggled(bool on) {
  if (on) m_pausedAt = Now();
  else m_pausedAt.reset();
  Refresh();
}

void TrendView::SavePngClick() {
  const QString path = AskSavePath ? AskSavePath() : QString();
  if (!path.isEmpty()) SavePng(path);
}

bool TrendView::SavePng(const QString& path) {
  if (ui.Plot->grab().save(path, "PNG")) return true;
  if (ReportError) ReportError("Не удалось сохранить файл " + path.toStdString());
  return false;
}

void TrendView::SetRecordText(const QString& text) {
  m_recordText = text;
  Refresh();
}

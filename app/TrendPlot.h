#pragma once
// The plot of one trend series: the result against time of day, a line
// broken at every failed read, each point marked, alarm and overflow points
// in their own marks, the two setpoints as dashed horizontal lines, and the
// series' legend (address, model, port) with its unit.

#include <QWidget>

#include "TrendModel.h"

class TrendPlot : public QWidget {
  Q_OBJECT

 public:
  explicit TrendPlot(QWidget* parent = nullptr);

  // What to draw; the series must outlive the next paint (the view hands it
  // again after every change). Null draws an empty frame.
  void Show(const pmtrend::Series* series, const pmtrend::ViewBox& box);
  const pmtrend::ViewBox& Box() const { return m_box; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  const pmtrend::Series* m_series = nullptr;
  pmtrend::ViewBox m_box;
};

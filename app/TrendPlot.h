#pragma once
// The plot of trend series: the result against time of day, a line broken
// at every failed read, each point marked, alarm and overflow points in
// their own marks, and each series' legend (address, model, port) with its
// unit. One series alone also shows its two setpoints as dashed horizontal
// lines; several (the instruments chosen in the line overview) each have
// their own colour.

#include <QWidget>
#include <vector>

#include "TrendModel.h"

namespace ui {
class PlotFrame;
}

class TrendPlot : public QWidget {
  Q_OBJECT

 public:
  explicit TrendPlot(QWidget* parent = nullptr);

  // What to draw; the series must outlive the next paint (the view hands it
  // again after every change). Null draws an empty frame.
  void Show(const pmtrend::Series* series, const pmtrend::ViewBox& box);
  void Show(std::vector<const pmtrend::Series*> series, const pmtrend::ViewBox& box);
  std::size_t SeriesShown() const { return m_series.size(); }
  const pmtrend::ViewBox& Box() const { return m_box; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  void PaintSeries(QPainter& p, const ui::PlotFrame& frame, const pmtrend::Series& s, const QColor& colour);

  std::vector<const pmtrend::Series*> m_series;
  pmtrend::ViewBox m_box;
};

#pragma once
// The frame of a small plot drawn with QPainter: the data area inside the
// widget's rectangle, the mapping of values to pixels, and the grid with its
// tick labels. The plots of the program draw their curves into it.

#include <QPointF>
#include <QRectF>
#include <QString>
#include <functional>
#include <vector>

#include "PlotScale.h"

class QPainter;

namespace ui {

class PlotFrame {
 public:
  using Label = std::function<QString(double)>;

  // `outer` is the whole drawing rectangle; room for the labels is kept at
  // the left and at the bottom.
  PlotFrame(const QRectF& outer, Span x, Span y, int leftRoom = 56, int bottomRoom = 22);

  const QRectF& Area() const { return m_area; }
  Span X() const { return m_x; }
  Span Y() const { return m_y; }
  QPointF Map(double x, double y) const;
  double MapY(double y) const;

  // White data area, grey grid at the ticks, the labels beside the axes and
  // a frame around the area.
  void DrawGrid(QPainter& p, const std::vector<double>& xTicks, const std::vector<double>& yTicks,
                const Label& xLabel, const Label& yLabel) const;

 private:
  static constexpr int kRightRoom = 10;
  QRectF m_area;
  double m_rightRoom;
  Span m_x;
  Span m_y;
};

// A tick label with the decimals the step needs and the decimal comma.
QString TickText(double value, double step);

}  // namespace ui

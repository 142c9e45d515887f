#include "PlotFrame.h"

#include <QPainter>
#include <algorithm>

namespace ui {

PlotFrame::PlotFrame(const QRectF& outer, Span x, Span y, int leftRoom, int bottomRoom)
    : m_area(outer.adjusted(leftRoom, 8, -kRightRoom, -bottomRoom)), m_rightRoom(kRightRoom), m_x(x), m_y(y) {
  if (m_x.hi <= m_x.lo) m_x.hi = m_x.lo + 1;
  if (m_y.hi <= m_y.lo) m_y.hi = m_y.lo + 1;
}

QPointF PlotFrame::Map(double x, double y) const {
  const double px = m_area.left() + (x - m_x.lo) / (m_x.hi - m_x.lo) * m_area.width();
  return {px, MapY(y)};
}

double PlotFrame::MapY(double y) const {
  return m_area.bottom() - (y - m_y.lo) / (m_y.hi - m_y.lo) * m_area.height();
}

void PlotFrame::DrawGrid(QPainter& p, const std::vector<double>& xTicks, const std::vector<double>& yTicks,
                         const Label& xLabel, const Label& yLabel) const {
  p.save();
  p.fillRect(m_area, Qt::white);
  const QPen grid(QColor(220, 220, 220), 0);
  const QFontMetrics fm = p.fontMetrics();

  for (double v : yTicks) {
    const double py = MapY(v);
    p.setPen(grid);
    p.drawLine(QPointF(m_area.left(), py), QPointF(m_area.right(), py));
    p.setPen(Qt::black);
    const QRectF box(0, py - fm.height() / 2.0, m_area.left() - 4, fm.height());
    p.drawText(box, Qt::AlignRight | Qt::AlignVCenter, yLabel(v));
  }
  for (double v : xTicks) {
    const double px = Map(v, m_y.lo).x();
    p.setPen(grid);
    p.drawLine(QPointF(px, m_area.top()), QPointF(px, m_area.bottom()));
    p.setPen(Qt::black);
    const QString text = xLabel(v);
    const double w = fm.horizontalAdvance(text);
    // Centred under its tick, but never past the right edge of the widget.
    const double left = std::min(px - w / 2, m_area.right() + m_rightRoom - w - 1);
    p.drawText(QPointF(left, m_area.bottom() + fm.ascent() + 3), text);
  }
  p.setPen(QPen(Qt::darkGray, 0));
  p.setBrush(Qt::NoBrush);
  p.drawRect(m_area);
  p.restore();
}

QString TickText(double value, double step) {
  return QString::number(value, 'f', StepDecimals(step)).replace(QLatin1Char('.'), QLatin1Char(','));
}

}  // namespace ui

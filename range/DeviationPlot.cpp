#include "DeviationPlot.h"

#include <QPainter>
#include <QPainterPath>
#include <algorithm>
#include <cmath>

#include "PlotFrame.h"

DeviationPlot::DeviationPlot(QWidget* parent) : QWidget(parent) {
  setFocusPolicy(Qt::NoFocus);
  setAttribute(Qt::WA_OpaquePaintEvent);
}

void DeviationPlot::SetCurve(const pmrange::DeviationCurve& curve) {
  m_curve = curve;
  update();
}

void DeviationPlot::Clear() { SetCurve({}); }

void DeviationPlot::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), palette().window());
  const auto& pts = m_curve.points;

  ui::Span x{0, 1}, y{-0.1, 0.1};
  if (!pts.empty()) {
    x = {pts.front().temp, pts.back().temp};
    const auto [lo, hi] = std::minmax_element(pts.begin(), pts.end(), [](const auto& a, const auto& b) {
      return a.deviation < b.deviation;
    });
    // Symmetric about zero, so the zero line sits in the middle.
    const double reach = std::max({std::fabs(lo->deviation), std::fabs(hi->deviation), 1e-3});
    y = ui::PaddedSpan(-reach, reach, 0.08);
  }
  const ui::PlotFrame frame(QRectF(rect()), x, y, 50, 20);
  const double xStep = ui::NiceStep(x.lo, x.hi, 7), yStep = ui::NiceStep(y.lo, y.hi, 5);
  frame.DrawGrid(
      p, ui::NiceTicks(x.lo, x.hi, 7), ui::NiceTicks(y.lo, y.hi, 5), [xStep](double v) { return ui::TickText(v, xStep); },
      [yStep](double v) { return ui::TickText(v, yStep); });
  p.setPen(Qt::darkGray);
  p.drawText(QRectF(0, 0, 48, 14), Qt::AlignRight | Qt::AlignTop, QStringLiteral("°C"));
  if (pts.empty()) {
    p.drawText(frame.Area(), Qt::AlignCenter, QStringLiteral("Нет расчета"));
    return;
  }

  p.setRenderHint(QPainter::Antialiasing);
  p.setClipRect(frame.Area().adjusted(-3, -3, 3, 3));
  p.setPen(QPen(Qt::gray, 1, Qt::DashLine));
  p.drawLine(frame.Map(x.lo, 0), frame.Map(x.hi, 0));
  QPainterPath path(frame.Map(pts.front().temp, pts.front().deviation));
  for (const auto& pt : pts) path.lineTo(frame.Map(pt.temp, pt.deviation));
  p.setPen(QPen(QColor(0, 0, 160), 1.5));
  p.drawPath(path);
  p.setPen(QPen(Qt::red, 2));
  p.setBrush(Qt::NoBrush);
  p.drawEllipse(frame.Map(m_curve.largestAt, m_curve.largest), 4, 4);
}

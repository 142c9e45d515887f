#include "TrendPlot.h"

#include <QDateTime>
#include <QPainter>
#include <QPainterPath>
#include <climits>

#include "PlotFrame.h"

namespace {

const QColor kLine(0, 0, 160);
const QColor kAlarm(230, 120, 0);
const QColor kOverflow(220, 0, 0);
const QColor kSetpoint(0, 140, 0);

// Colours of several series shown together.
QColor SeriesColour(std::size_t i) {
  static const QColor colours[] = {QColor(0, 0, 160),  QColor(0, 130, 0),  QColor(150, 0, 150), QColor(0, 130, 150),
                                   QColor(120, 80, 0), QColor(90, 90, 90), QColor(200, 0, 90),  QColor(60, 60, 220)};
  return colours[i % std::size(colours)];
}

QString TimeLabel(double ms) {
  return QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(ms)).toString(QStringLiteral("HH:mm:ss"));
}

}  // namespace

TrendPlot::TrendPlot(QWidget* parent) : QWidget(parent) {
  setFocusPolicy(Qt::NoFocus);
  setAttribute(Qt::WA_OpaquePaintEvent);
}

void TrendPlot::Show(const pmtrend::Series* series, const pmtrend::ViewBox& box) {
  Show(series ? std::vector<const pmtrend::Series*>{series} : std::vector<const pmtrend::Series*>{}, box);
}

void TrendPlot::Show(std::vector<const pmtrend::Series*> series, const pmtrend::ViewBox& box) {
  m_series = std::move(series);
  m_box = box;
  update();
}

void TrendPlot::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), palette().window());
  const ui::PlotFrame frame(QRectF(rect()), m_box.time, m_box.value, 64, 22);
  const ui::Span t = frame.X(), v = frame.Y();
  const double vStep = ui::NiceStep(v.lo, v.hi, 7);
  const int maxTimeTicks = std::max(2, static_cast<int>(frame.Area().width() / 80));
  frame.DrawGrid(p, ui::TicksAt(t.lo, t.hi, ui::TimeStep(t.hi - t.lo, maxTimeTicks)),
                 ui::NiceTicks(v.lo, v.hi, 7), TimeLabel, [vStep](double x) { return ui::TickText(x, vStep); });
  if (m_series.empty()) {
    p.drawText(frame.Area(), Qt::AlignCenter, QStringLiteral("Нет данных"));
    return;
  }
  // Units of all the series shown, once each.
  QString units;
  for (const pmtrend::Series* s : m_series)
    if (!units.contains(QString::fromStdString(s->unit)))
      units += (units.isEmpty() ? "" : ", ") + QString::fromStdString(s->unit);
  p.setPen(Qt::black);
  p.drawText(QRectF(0, 0, 60, 16), Qt::AlignRight | Qt::AlignTop, units);

  const QFontMetrics fm = p.fontMetrics();
  for (std::size_t i = 0; i < m_series.size(); ++i) {
    const QColor colour = m_series.size() == 1 ? kLine : SeriesColour(i);
    PaintSeries(p, frame, *m_series[i], colour);
    // Legends one under the other in the top right corner.
    const QString legend = QString::fromStdString(m_series[i]->legend);
    const double top = frame.Area().top() + 4 + static_cast<double>(i) * (fm.height() + 4);
    QRectF box(frame.Area().right() - fm.horizontalAdvance(legend) - 30, top, fm.horizontalAdvance(legend) + 26,
               fm.height() + 4);
    p.fillRect(box, QColor(255, 255, 255, 220));
    p.setPen(QPen(colour, 2));
    p.drawLine(QPointF(box.left() + 4, box.center().y()), QPointF(box.left() + 18, box.center().y()));
    p.setPen(Qt::black);
    p.drawText(box.adjusted(22, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter, legend);
  }
}

void TrendPlot::PaintSeries(QPainter& p, const ui::PlotFrame& frame, const pmtrend::Series& s, const QColor& colour) {
  const ui::Span t = frame.X();
  p.save();
  p.setClipRect(frame.Area().adjusted(-4, -4, 4, 4));
  p.setRenderHint(QPainter::Antialiasing);

  // Setpoints across the whole width, captioned as in the main window, where
  // the first setpoint stands under "Уставка 2" and the second under
  // "Уставка 1". Several series together show their lines only.
  const std::pair<const std::optional<double>&, QString> setpoints[] = {
      {s.setpoint1, QStringLiteral("Уставка 2")}, {s.setpoint2, QStringLiteral("Уставка 1")}};
  for (const auto& [sp, caption] : setpoints) {
    if (!sp || m_series.size() > 1) continue;
    p.setPen(QPen(kSetpoint, 1, Qt::DashLine));
    const double y = frame.MapY(*sp);
    p.drawLine(QPointF(frame.Area().left(), y), QPointF(frame.Area().right(), y));
    p.drawText(QPointF(frame.Area().left() + 4, y - 3), caption);
  }

  // The line, broken at gaps; only the samples inside the time span. Points
  // that fall into one pixel column are drawn as their first, lowest,
  // highest and last value, so a long history costs what the width does.
  QPainterPath path;
  bool open = false;
  int column = INT_MIN;
  QPointF first, low, high, last;
  auto flush = [&] {
    if (column == INT_MIN) return;
    if (open) path.lineTo(first);
    else path.moveTo(first);
    for (const QPointF& q : {low, high, last}) path.lineTo(q);
    open = true;
    column = INT_MIN;
  };
  std::size_t shown = 0;
  for (const pmtrend::Sample& sm : s.samples) {
    if (sm.time < t.lo || sm.time > t.hi) continue;
    if (sm.Gap()) {
      flush();
      open = false;
      continue;
    }
    ++shown;
    const QPointF pt = frame.Map(static_cast<double>(sm.time), sm.value);
    const int x = static_cast<int>(pt.x());
    if (x != column) {
      flush();
      column = x;
      first = low = high = pt;
    }
    if (pt.y() > low.y()) low = pt;
    if (pt.y() < high.y()) high = pt;
    last = pt;
  }
  flush();
  p.setPen(QPen(colour, 1.5));
  p.setBrush(Qt::NoBrush);
  p.drawPath(path);

  // Every point marked while they stand apart; alarm and overflow always.
  const bool dots = shown * 4 < static_cast<std::size_t>(frame.Area().width());
  for (const pmtrend::Sample& sm : s.samples) {
    if (sm.Gap() || sm.time < t.lo || sm.time > t.hi) continue;
    if (!dots && !sm.overflow && !sm.alarm) continue;
    const QPointF pt = frame.Map(static_cast<double>(sm.time), sm.value);
    if (sm.overflow) {
      p.setPen(QPen(kOverflow, 2));
      p.drawLine(pt + QPointF(-4, -4), pt + QPointF(4, 4));
      p.drawLine(pt + QPointF(-4, 4), pt + QPointF(4, -4));
    } else if (sm.alarm) {
      p.setPen(QPen(kAlarm, 1));
      p.setBrush(kAlarm);
      p.drawEllipse(pt, 4, 4);
    } else {
      p.setPen(QPen(colour, 1));
      p.setBrush(colour);
      p.drawEllipse(pt, 2, 2);
    }
  }
  p.restore();
}

#pragma once
// The deviation of a computed range's characteristic from the reference
// table, drawn over the range: temperature across, deviation in °C up, one
// point per table entry joined by a line, the largest deviation marked.

#include <QWidget>

#include "RangeDeviation.h"

class DeviationPlot : public QWidget {
  Q_OBJECT

 public:
  explicit DeviationPlot(QWidget* parent = nullptr);

  void SetCurve(const pmrange::DeviationCurve& curve);
  void Clear();
  const pmrange::DeviationCurve& Curve() const { return m_curve; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  pmrange::DeviationCurve m_curve;
};

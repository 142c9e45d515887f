#include "Wiring.h"

#include <QPainter>
#include <QPainterPath>
#include <initializer_list>

namespace {

constexpr int kWidth = 900;
const QColor kInk(0x20, 0x20, 0x20);
const QColor kBoxFill(0xF2, 0xF5, 0xFA);
const QColor kWireA(0x1F, 0x4E, 0xA8);
const QColor kWireB(0xC0, 0x39, 0x2B);
const QColor kScreen(0x70, 0x70, 0x70);

// A white canvas with the painter's pen, font and antialiasing set.
class Canvas {
 public:
  explicit Canvas(int height) : image(kWidth, height, QImage::Format_RGB32) {
    image.fill(Qt::white);
    p.begin(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    Font(10);
    Pen(kInk);
  }
  ~Canvas() { p.end(); }

  QImage image;
  QPainter p;

  void Font(int points, bool bold = false) {
    QFont f = p.font();
    f.setPointSize(points);
    f.setBold(bold);
    p.setFont(f);
  }
  void Pen(const QColor& c, qreal width = 1.6, Qt::PenStyle style = Qt::SolidLine) {
    p.setPen(QPen(c, width, style, Qt::RoundCap, Qt::RoundJoin));
  }

  // A device: a rounded box, its name in bold, lines of detail under it.
  void Box(const QRect& r, const QString& name, std::initializer_list<QString> details = {}) {
    Pen(kInk, 1.6);
    p.setBrush(kBoxFill);
    p.drawRoundedRect(r, 6, 6);
    p.setBrush(Qt::NoBrush);
    Font(11, true);
    const int nameHeight = p.fontMetrics().height() * (name.count(QLatin1Char('\n')) + 1);
    const int detailHeight = static_cast<int>(details.size()) * QFontMetrics(Small()).height();
    int y = r.top() + (r.height() - nameHeight - detailHeight) / 2;
    p.drawText(QRect(r.left(), y, r.width(), nameHeight), Qt::AlignCenter, name);
    y += nameHeight;
    p.setFont(Small());
    for (const QString& d : details) {
      p.drawText(QRect(r.left(), y, r.width(), p.fontMetrics().height()), Qt::AlignCenter, d);
      y += p.fontMetrics().height();
    }
    Font(10);
  }

  QFont Small() const {
    QFont f = p.font();
    f.setPointSize(10);
    f.setBold(false);
    return f;
  }

  // A terminal: a small ring with its name beside it (`left` puts the name
  // to the left), inside the box whose edge it stands on.
  void Terminal(QPointF at, const QString& name, bool left = false) {
    Pen(kInk, 1.4);
    p.setBrush(Qt::white);
    p.drawEllipse(at, 4, 4);
    p.setBrush(Qt::NoBrush);
    Font(10, true);
    const int w = p.fontMetrics().horizontalAdvance(name);
    const QPointF text = left ? at + QPointF(-8 - w, 5) : at + QPointF(8, 5);
    p.drawText(text, name);
    Font(10);
  }

  void Dot(QPointF at, const QColor& c) {
    p.setPen(Qt::NoPen);
    p.setBrush(c);
    p.drawEllipse(at, 3.5, 3.5);
    p.setBrush(Qt::NoBrush);
  }

  void Wire(std::initializer_list<QPointF> points, const QColor& c = kInk, qreal width = 2.0,
            Qt::PenStyle style = Qt::SolidLine) {
    Pen(c, width, style);
    QPainterPath path;
    bool first = true;
    for (const QPointF& pt : points) {
      if (first) path.moveTo(pt);
      else path.lineTo(pt);
      first = false;
    }
    p.drawPath(path);
  }

  // A resistor across a vertical wire from `top` to `bottom`.
  void Resistor(QPointF top, QPointF bottom, const QColor& c = kInk) {
    const qreal mid = (top.y() + bottom.y()) / 2;
    Wire({top, QPointF(top.x(), mid - 13)}, c);
    Wire({QPointF(top.x(), mid + 13), bottom}, c);
    Pen(c, 1.8);
    p.setBrush(Qt::white);
    p.drawRect(QRectF(top.x() - 6, mid - 13, 12, 26));
    p.setBrush(Qt::NoBrush);
  }

  // The earth symbol under `at`.
  void Ground(QPointF at) {
    Pen(kInk, 1.8);
    for (int i = 0; i < 3; ++i) {
      const qreal half = 12 - 4 * i;
      p.drawLine(QPointF(at.x() - half, at.y() + 4 * i), QPointF(at.x() + half, at.y() + 4 * i));
    }
  }

  void Text(QPointF at, const QString& text, int points = 10, bool bold = false, const QColor& c = kInk) {
    Font(points, bold);
    p.setPen(c);
    p.drawText(at, text);
    Font(10);
  }
  // Text centred on x.
  void Centred(qreal x, qreal baseline, const QString& text, int points = 10, bool bold = false,
               const QColor& c = kInk) {
    Font(points, bold);
    const int w = p.fontMetrics().horizontalAdvance(text);
    p.setPen(c);
    p.drawText(QPointF(x - w / 2.0, baseline), text);
    Font(10);
  }
  // Text that ends at x.
  void RightAligned(qreal x, qreal baseline, const QString& text, int points = 10, const QColor& c = kInk) {
    Font(points);
    const int w = p.fontMetrics().horizontalAdvance(text);
    p.setPen(c);
    p.drawText(QPointF(x - w, baseline), text);
  }
  void Heading(qreal baseline, const QString& text) { Text(QPointF(16, baseline), text, 11, true); }
};

}  // namespace

QImage LineWiring() {
  Canvas c(400);
  constexpr qreal yA = 150, yB = 190;
  constexpr qreal busStart = 336, busEnd = 868;

  c.Heading(26, QStringLiteral("Линия RS-485: компьютер, преобразователь и приборы на одной витой паре"));

  // The computer and the converter.
  c.Box(QRect(16, 130, 100, 80), QStringLiteral("Компьютер"), {QStringLiteral("pmservice")});
  c.Wire({{116, 170}, {156, 170}}, kInk, 3);
  c.Centred(136, 162, QStringLiteral("USB"));
  c.Box(QRect(156, 120, 180, 100), QStringLiteral("Преобразователь"), {QStringLiteral("USB–RS-485")});

  // The pair, straight through every instrument.
  c.Wire({{busStart, yA}, {busEnd, yA}}, kWireA, 2.4);
  c.Wire({{busStart, yB}, {busEnd, yB}}, kWireB, 2.4);
  c.Terminal({busStart, yA}, {});
  c.Terminal({busStart, yB}, {});
  for (const qreal x : {busStart + 6, busEnd - 4}) {
    c.Text({x, yA - 6}, QStringLiteral("A"), 10, true, kWireA);
    c.Text({x, yB + 16}, QStringLiteral("B"), 10, true, kWireB);
  }

  // The screen around the pair, earthed at the converter's end only.
  constexpr qreal screenStart = 384;
  c.Wire({{screenStart, yA - 14}, {busEnd - 18, yA - 14}}, kScreen, 1.4, Qt::DashLine);
  c.Wire({{screenStart, yB + 14}, {busEnd - 18, yB + 14}}, kScreen, 1.4, Qt::DashLine);
  c.Wire({{screenStart, yA - 14}, {screenStart, yB + 14}}, kScreen, 1.4, Qt::DashLine);
  c.Wire({{screenStart, yB + 14}, {screenStart, 330}}, kScreen, 1.8);
  c.Ground({screenStart, 330});
  c.Text({screenStart + 18, 342}, QStringLiteral("Экран заземлён в одной точке"));
  c.Text({screenStart + 18, 358}, QStringLiteral("(обычно у компьютера); у приборов экран не заземляют"), 10,
         false, kScreen);
  c.Text({640, yA - 22}, QStringLiteral("витая пара в экране"), 10, false, kScreen);

  // The terminators at both ends of the line.
  for (const qreal x : {362.0, 850.0}) {
    c.Dot({x, yA}, kWireA);
    c.Dot({x, yB}, kWireB);
    c.Resistor({x, yA}, {x, yB});
  }
  c.Centred(362, 96, QStringLiteral("Терминатор 120 Ом"));
  c.Centred(362, 112, QStringLiteral("(у преобразователя)"), 10, false, kScreen);
  c.RightAligned(892, 96, QStringLiteral("Терминатор 120 Ом"));
  c.RightAligned(892, 112, QStringLiteral("(у последнего прибора)"), 10, kScreen);

  // The instruments, each on the pair by short leads.
  struct Instrument {
    qreal x;
    QString name;
    QString number;
  };
  const Instrument instruments[] = {{420, QStringLiteral("Прибор 1"), QStringLiteral("№ 1")},
                                    {570, QStringLiteral("Прибор 2"), QStringLiteral("№ 2")},
                                    {730, QStringLiteral("Прибор N"), QStringLiteral("(до 32)")}};
  for (const Instrument& in : instruments) {
    const qreal a = in.x + 30, b = in.x + 80;
    c.Wire({{a, yA}, {a, 250}}, kWireA);
    c.Wire({{b, yB}, {b, 250}}, kWireB);
    c.Dot({a, yA}, kWireA);
    c.Dot({b, yB}, kWireB);
    c.Box(QRect(static_cast<int>(in.x), 250, 110, 60), in.name, {in.number});
    c.Text({a - 14, 244}, QStringLiteral("A"), 9, true, kWireA);
    c.Text({b + 4, 244}, QStringLiteral("B"), 9, true, kWireB);
  }
  c.Centred(705, 286, QStringLiteral("…"), 14, true);

  c.Text({16, 384},
         QStringLiteral("Приборы соединяют шлейфом, от одного к другому, без ответвлений; у каждого свой номер 1…32"),
         10, false, kScreen);
  return c.image;
}

QImage CalibratorWiring() {
  Canvas c(660);

  // The thermocouple input.
  c.Heading(26, QStringLiteral("Вход термопары (ЗЕТ-ТП)"));
  c.Box(QRect(16, 48, 220, 110), QStringLiteral("Калибратор"),
        {QStringLiteral("эталонный источник мВ"), QStringLiteral("(имитация термопары)")});
  c.Terminal({236, 80}, QStringLiteral("+"), true);
  c.Terminal({236, 126}, QStringLiteral("−"), true);
  c.Wire({{240, 80}, {616, 80}}, kWireB, 2.4);
  c.Wire({{240, 126}, {616, 126}}, kWireA, 2.4);
  c.Centred(428, 72, QStringLiteral("компенсационные провода той же НСХ: подают E(t)"));
  c.Centred(428, 118, QStringLiteral("или медные провода: подают E(t) − E(tхс)"));
  c.Box(QRect(620, 48, 264, 110), QStringLiteral("ЗЕТ-ТП"),
        {QStringLiteral("холодный спай — клеммы входа;"), QStringLiteral("их температуру прибор"),
         QStringLiteral("измеряет сам («Тхс, °С»)")});
  c.Terminal({620, 80}, QStringLiteral("+"));
  c.Terminal({620, 126}, QStringLiteral("−"));
  c.Text({16, 180},
         QStringLiteral("С компенсационными проводами компенсация холодного спая калибратора включена, "
                        "с медными — выключена."),
         10, false, kScreen);

  // The resistance input, four wires.
  c.Heading(212, QStringLiteral("Вход термометра сопротивления (ЗЕТ-ТС), 4-проводная схема"));
  c.Box(QRect(16, 226, 220, 150), QStringLiteral("Магазин\nсопротивлений"),
        {QStringLiteral("или калибратор"), QStringLiteral("(имитация сопротивления)")});
  c.Box(QRect(620, 226, 264, 150), QStringLiteral("ЗЕТ-ТС"),
        {QStringLiteral("клеммы по схеме прибора")});
  c.Terminal({236, 262}, QStringLiteral("R"), true);
  c.Terminal({236, 340}, QStringLiteral("R"), true);
  struct Lead {
    qreal from, to;
    QString name;
    QColor colour;
  };
  const Lead leads[] = {{262, 240, QStringLiteral("I+"), kWireB},
                        {262, 272, QStringLiteral("U+"), kWireB},
                        {340, 330, QStringLiteral("U−"), kWireA},
                        {340, 362, QStringLiteral("I−"), kWireA}};
  for (const Lead& l : leads) {
    c.Wire({{262, l.from}, {330, l.from}, {360, l.to}, {620, l.to}}, l.colour, 2.2);
    c.Terminal({620, l.to}, l.name);
  }
  c.Dot({262, 262}, kWireB);
  c.Dot({262, 340}, kWireA);
  c.Wire({{240, 262}, {262, 262}}, kWireB, 2.2);
  c.Wire({{240, 340}, {262, 340}}, kWireA, 2.2);
  c.Centred(490, 232, QStringLiteral("токовые провода I+ и I−"));
  c.Centred(490, 300, QStringLiteral("потенциальные провода U+ и U−"));
  c.Text({16, 400},
         QStringLiteral("3-проводная схема: три провода одинаковой длины и сечения, два из них — на одном зажиме магазина."),
         10, false, kScreen);

  // The output loop.
  c.Heading(446, QStringLiteral("Выход 4–20 мА (все модели)"));
  c.Box(QRect(16, 468, 220, 110), QStringLiteral("Прибор"), {QStringLiteral("выход 4–20 мА")});
  c.Terminal({236, 500}, QStringLiteral("−"), true);
  c.Terminal({236, 548}, QStringLiteral("+"), true);
  c.Box(QRect(620, 468, 264, 110), QStringLiteral("Эталонный\nмиллиамперметр"),
        {QStringLiteral("или вход мА калибратора")});
  c.Terminal({620, 500}, QStringLiteral("+"));
  c.Terminal({620, 548}, QStringLiteral("−"));
  c.Box(QRect(340, 590, 180, 56), QStringLiteral("Источник питания"), {QStringLiteral("токовой петли")});
  c.Terminal({340, 618}, QStringLiteral("+"));
  c.Terminal({520, 618}, QStringLiteral("−"), true);
  // The supply's + to the output's +; the output's − through the meter back
  // to the supply's −.
  c.Wire({{240, 500}, {616, 500}}, kWireA, 2.2);
  c.Wire({{240, 548}, {290, 548}, {290, 618}, {336, 618}}, kWireB, 2.2);
  c.Wire({{616, 548}, {570, 548}, {570, 618}, {524, 618}}, kWireA, 2.2);
  c.Centred(430, 492, QStringLiteral("ток петли 4–20 мА"));
  return c.image;
}

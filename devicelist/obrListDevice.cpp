#include "obrListDevice.h"

#include <QComboBox>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <QTableWidget>
#include <QToolTip>
#include <algorithm>

#include "Comportclass.h"
#include "HandlerGuard.h"
#include "MessageService.h"
#include "Scan.h"
#include "ui_obrListDevice.h"

namespace {

constexpr int kRows = 32;            // data rows 1 .. 32, one per address
constexpr int kProgressStep = 10;

// Hides the progress bar again however the scan ends (an exception from the
// port included).
class BarShown {
 public:
  explicit BarShown(QProgressBar& bar) : m_bar(bar) { m_bar.show(); }
  ~BarShown() { m_bar.hide(); }
  BarShown(const BarShown&) = delete;
  BarShown& operator=(const BarShown&) = delete;

 private:
  QProgressBar& m_bar;
};

}  // namespace

TFormDevice::TFormDevice(TComPortClass& link, ui::MessageService& msg, QWidget* parent)
    : QDialog(parent), m_ui(std::make_unique<Ui::TFormDevice>()), m_link(link), m_msg(msg) {
  m_ui->setupUi(this);
  LabelNu = m_ui->LabelNu;
  CBoxUstr = m_ui->CBoxUstr;
  Button1 = m_ui->Button1;
  StringGrid1 = m_ui->StringGrid1;
  ProgressBar1 = m_ui->ProgressBar1;

  CBoxUstr->setCurrentIndex(-1);

  // Grid look: bold navy text on the tool-tip background, silver header row,
  // fixed column widths and row heights.
  const QColor tipBase = QToolTip::palette().color(QPalette::ToolTipBase);
  StringGrid1->setStyleSheet(QStringLiteral("QTableWidget { background-color: %1; color: navy; }"
                                            "QHeaderView::section { background-color: silver; color: navy;"
                                            " border: 1px solid gray; padding-left: 2px; }")
                                 .arg(tipBase.name()));
  QHeaderView* header = StringGrid1->horizontalHeader();
  header->setSectionResizeMode(QHeaderView::Fixed);
  header->setFixedHeight(20);
  header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  StringGrid1->setColumnWidth(0, 87);
  StringGrid1->setColumnWidth(1, 100);
  StringGrid1->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  for (int r = 0; r < kRows; ++r) {
    StringGrid1->setRowHeight(r, 20);
    for (int c = 0; c < 2; ++c) StringGrid1->setItem(r, c, new QTableWidgetItem);
  }

  ui::ConnectGuarded(Button1, &QPushButton::clicked, this, m_msg, [this] { Button1Click(); });
  FormCreate();
}

TFormDevice::~TFormDevice() = default;

void TFormDevice::FormCreate() {
  StringGrid1->setHorizontalHeaderItem(0, new QTableWidgetItem(QStringLiteral(" № устройства")));
  StringGrid1->setHorizontalHeaderItem(1, new QTableWidgetItem(QStringLiteral("Тип устройства")));
  // A column is widened where the header font needs more than its design
  // width (87 and 100 pixels) to show the header in full.
  QHeaderView* header = StringGrid1->horizontalHeader();
  StringGrid1->setColumnWidth(0, std::max(87, header->sectionSizeHint(0)));
  StringGrid1->setColumnWidth(1, std::max(100, header->sectionSizeHint(1)));
}

QString TFormDevice::Cell(int col, int row) const {
  if (row == 0) {
    const QTableWidgetItem* h = StringGrid1->horizontalHeaderItem(col);
    return h ? h->text() : QString();
  }
  const QTableWidgetItem* item = StringGrid1->item(row - 1, col);
  return item ? item->text() : QString();
}

void TFormDevice::SetCell(int col, int row, const QString& text) {
  StringGrid1->item(row - 1, col)->setText(text);
}

QString TFormDevice::ModelName(int modelCode) {
  switch (modelCode) {
    case 100: return QStringLiteral("КАРД");
    case 101: return QStringLiteral("ЗЕТ-ТС");
    case 102: return QStringLiteral("ЗЕТ-ТП");
    case 103: return QStringLiteral("ЛУНТ");
    default: return {};
  }
}

// One step of the bar; past the maximum it starts again from the minimum
// with the overshoot, so with step 10 it goes round every ten addresses.
void TFormDevice::StepProgress() {
  int pos = ProgressBar1->value() + kProgressStep;
  if (pos > ProgressBar1->maximum()) pos = ProgressBar1->minimum() + (pos - ProgressBar1->maximum());
  ProgressBar1->setValue(pos);
  // The GUI thread is blocked by the exchange: paint now, without letting
  // input events through.
  ProgressBar1->repaint();
}

void TFormDevice::Button1Click() {
  if (CBoxUstr->currentText().isEmpty()) return;

  for (int r = 1; r <= kRows; ++r) {
    SetCell(0, r, {});
    SetCell(1, r, {});
  }

  ProgressBar1->setMaximum(100);
  ProgressBar1->setValue(0);
  const BarShown shown(*ProgressBar1);

  // The scan itself (two attempts per address, the link's count put back
  // afterwards) is the operation's; here each address steps the bar and
  // each instrument found takes the next row.
  int row = 0;
  const pmops::ScanOutcome scan = pmops::Scan(
      m_link, CBoxUstr->currentText().toInt(), [this](int) { StepProgress(); },
      [this, &row](const pmops::ScanHit& hit) {
        ++row;
        SetCell(0, row, QString::number(hit.address));
        SetCell(1, row, ModelName(hit.identity.model));
      });
  if (scan.portResult != rc::Ok) m_link.ReportError(scan.portIndex, scan.portResult);
}

void TFormDevice::showEvent(QShowEvent* event) {
  if (!event->spontaneous()) {
    if (const QScreen* screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen()) {
      QRect frame = frameGeometry();
      frame.moveCenter(screen->availableGeometry().center());
      move(frame.topLeft());
    }
  }
  QDialog::showEvent(event);
}

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
#include <cstdint>

#include "Comportclass.h"
#include "MessageService.h"
#include "ui_obrListDevice.h"

namespace {

constexpr int kRows = 32;            // data rows 1 .. 32, one per address
constexpr int kIdentify = 17;        // identification request
constexpr int kModelByte = 5;        // model code in the identification reply
constexpr int kScanRetries1 = 2;     // stage-1 attempts per address during a scan
constexpr int kProgressStep = 10;

// Lowers the stage-1 attempt count of the link for the scan and puts the
// previous count back however the scan ends (an exception from the port
// included), and hides the progress bar again.
class ScanGuard {
 public:
  ScanGuard(TComPortClass& link, QProgressBar& bar) : m_link(link), m_bar(bar), m_saved(link.GetRetries1()) {
    m_link.SetRetries1(kScanRetries1);
  }
  ~ScanGuard() {
    m_link.SetRetries1(m_saved);
    m_bar.hide();
  }
  ScanGuard(const ScanGuard&) = delete;
  ScanGuard& operator=(const ScanGuard&) = delete;

 private:
  TComPortClass& m_link;
  QProgressBar& m_bar;
  int m_saved;
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

  connect(Button1, &QPushButton::clicked, this, &TFormDevice::Button1Click);
  FormCreate();
}

TFormDevice::~TFormDevice() = default;

void TFormDevice::FormCreate() {
  StringGrid1->setHorizontalHeaderItem(0, new QTableWidgetItem(QStringLiteral(" № устройства")));
  StringGrid1->setHorizontalHeaderItem(1, new QTableWidgetItem(QStringLiteral("Тип устройства")));
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

  std::uint8_t request[40] = {};
  std::uint8_t reply[100] = {};

  ProgressBar1->setMaximum(100);
  ProgressBar1->setValue(0);
  ProgressBar1->show();

  ScanGuard guard(m_link, *ProgressBar1);

  const int n = CBoxUstr->currentText().toInt();
  int row = 0;
  for (int i = 0; i < n; ++i) {
    StepProgress();
    const int result = m_link.Request(i, kIdentify, 0, request, reply, sizeof reply);
    if (result == rc::Ok) {
      ++row;
      SetCell(0, row, QString::number(i + 1));
      SetCell(1, row, ModelName(reply[kModelByte]));
    } else if (result >= rc::CannotOpen && result <= rc::SettingError) {
      m_link.ReportError(i, result);
      break;
    }
    // Any other result: nothing answers usefully at this address.
  }
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

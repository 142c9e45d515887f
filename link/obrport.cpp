#include "obrport.h"

#include <algorithm>

#include <QAbstractItemView>
#include <QLayout>
#include <QPushButton>
#include <QStyle>

#include "Comportclass.h"
#include "HandlerGuard.h"
#include "ModalRunner.h"
#include "NetworkName.h"
#include "PortEnumeration.h"
#include "obrNastr.h"

TFormPort::TFormPort(TComPortClass& link, TFormNastr& nastr, ui::MessageService& messages,
                     QWidget* parent)
    : QDialog(parent), m_link(link), m_nastr(nastr), m_messages(messages) {
  ui.setupUi(this);
  m_baseHeight = height();
  ui.Image1->setPixmap(style()->standardIcon(QStyle::SP_ComputerIcon).pixmap(20, 20));
  ui::ConnectGuarded(ui.OK, &QPushButton::clicked, this, m_messages, [this] { OKClick(); });
  ui::ConnectGuarded(ui.Button1, &QPushButton::clicked, this, m_messages, [this] { Button1Click(); });
  ui::ConnectGuarded(ui.CBoxPort, &QComboBox::currentTextChanged, this, m_messages,
                     [this] { ShowNetworkNote(); });
  FormCreate();
}

void TFormPort::FormCreate() {
  m_keptSpeed = 0;
  m_keptParity = 0;
  m_keptStopBits = 1;
}

void TFormPort::FormShow() {
  ui.CBoxPort->clear();
  ui.Skor->setCurrentIndex(m_keptSpeed);
  ui.Parit->setCurrentIndex(m_keptParity);
  ui.StBit->setCurrentIndex(m_keptStopBits);
  // The port stays closed while the dialog is up, so that the operator can
  // pick the same device again and it opens with the new settings.
  m_wasOpen = m_link.IsOpen();
  m_link.ClosePort();
  FillPortList();
}

void TFormPort::FillPortList() {
  for (const auto& port : pmlink::EnumeratePorts()) {
    ui.CBoxPort->addItem(QString::fromStdString(port.name));
    const int row = ui.CBoxPort->count() - 1;
    if (!port.description.empty())
      ui.CBoxPort->setItemData(row, QString::fromStdString(port.description), Qt::ToolTipRole);
  }
  // Network lines are not found by enumeration: those used in this run are
  // offered again.
  for (const QString& name : m_recentNetwork) ui.CBoxPort->addItem(name);
  // The drop-down shows the longest name in full (/dev/serial/by-id names
  // run to 60 characters and more); the box itself keeps the dialog's width.
  int widest = 0;
  for (int i = 0; i < ui.CBoxPort->count(); ++i)
    widest = std::max(widest, ui.CBoxPort->fontMetrics().horizontalAdvance(ui.CBoxPort->itemText(i)));
  ui.CBoxPort->view()->setMinimumWidth(widest + 2 * style()->pixelMetric(QStyle::PM_ScrollBarExtent));
  // The previously used port is not preselected: the first entry is.
  if (ui.CBoxPort->count() > 0) ui.CBoxPort->setCurrentIndex(0);
  ShowNetworkNote();
}

void TFormPort::ShowNetworkNote() {
  const bool show = pmlink::KindOfPortName(ChosenPort().toStdString()) == pmlink::PortKind::Tcp;
  if (ui.NetNote->isHidden() != show) return;
  ui.NetNote->setVisible(show);
  // The dialog grows by the note's lines, so nothing below it is cut off,
  // and takes its own height again without it.
  layout()->invalidate();
  layout()->activate();
  const int needed = layout()->hasHeightForWidth() ? layout()->totalHeightForWidth(width())
                                                   : layout()->totalMinimumSize().height();
  resize(width(), show ? std::max(m_baseHeight, needed) : m_baseHeight);
}

void TFormPort::OKClick() {
  if (ui.Parit->currentIndex() == 2 && ui.StBit->currentIndex() == 1) {
    done(Refused);
    return;
  }
  m_keptSpeed = ui.Skor->currentIndex();
  m_keptParity = ui.Parit->currentIndex();
  m_keptStopBits = ui.StBit->currentIndex();
  const QString port = ChosenPort();
  if (pmlink::KindOfPortName(port.toStdString()) != pmlink::PortKind::Device) {
    std::erase(m_recentNetwork, port);
    m_recentNetwork.insert(m_recentNetwork.begin(), port);
    if (m_recentNetwork.size() > 8) m_recentNetwork.pop_back();
  }
  done(QDialog::Accepted);
}

void TFormPort::FormClose(int result) {
  if (m_wasOpen && result == QDialog::Rejected) m_link.Configure();
}

void TFormPort::Button1Click() {
  if (m_nastr.Execute() == QDialog::Accepted) m_nastr.ApplyTo(m_link);
}

int TFormPort::Execute() {
  FormShow();
  const int result = ui::ExecModal(*this);
  FormClose(result);
  return result;
}

QString TFormPort::ChosenPort() const { return ui.CBoxPort->currentText(); }

QString TFormPort::ChosenBaud() const { return ui.Skor->currentText(); }

QString TFormPort::ChosenParity() const {
  switch (ui.Parit->currentIndex()) {
    case 1:
      return QStringLiteral("O");
    case 2:
      return QStringLiteral("E");
    default:
      return QStringLiteral("N");
  }
}

QString TFormPort::ChosenStopBits() const {
  return ui.StBit->currentIndex() == 0 ? QStringLiteral("1") : QStringLiteral("2");
}

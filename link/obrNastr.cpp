#include "obrNastr.h"

#include <QLineEdit>
#include <QPushButton>

#include "Comportclass.h"
#include "HandlerGuard.h"
#include "ModalRunner.h"

TFormNastr::TFormNastr(const TComPortClass& link, ui::MessageService& messages, QWidget* parent)
    : QDialog(parent), m_link(link), m_messages(messages) {
  ui.setupUi(this);
  // The arrows are the only way to change a delay: the number itself is
  // read-only, as the original up/down pair was.
  Edit1 = ui.UpDown1->findChild<QLineEdit*>();
  Edit2 = ui.UpDown2->findChild<QLineEdit*>();
  Edit1->setObjectName(QStringLiteral("Edit1"));
  Edit2->setObjectName(QStringLiteral("Edit2"));
  Edit1->setReadOnly(true);
  Edit2->setReadOnly(true);
  ui::ConnectGuarded(ui.OK, &QPushButton::clicked, this, m_messages, [this] { OKClick(); });
  FormCreate();
}

void TFormNastr::FormCreate() {
  m_keptPovt1 = 1;
  m_keptPovt2 = 1;
  m_keptUpDown1 = m_link.GetTxDelay();
  m_keptUpDown2 = m_link.GetRxDelay();
  PutKept();
}

void TFormNastr::PutKept() {
  ui.CBoxPovt1->setCurrentIndex(m_keptPovt1);
  ui.CBoxPovt2->setCurrentIndex(m_keptPovt2);
  ui.UpDown1->setValue(m_keptUpDown1);
  ui.UpDown2->setValue(m_keptUpDown2);
}

void TFormNastr::OKClick() {
  m_keptPovt1 = ui.CBoxPovt1->currentIndex();
  m_keptPovt2 = ui.CBoxPovt2->currentIndex();
  m_keptUpDown1 = ui.UpDown1->value();
  m_keptUpDown2 = ui.UpDown2->value();
  done(QDialog::Accepted);
}

void TFormNastr::FormClose(int result) {
  if (result != QDialog::Accepted) PutKept();
}

int TFormNastr::Execute() {
  const int result = ui::ExecModal(*this);
  FormClose(result);
  return result;
}

void TFormNastr::ApplyTo(TComPortClass& link) const {
  link.SetRetries1(ui.CBoxPovt1->currentText().toInt());
  link.SetRetries2(ui.CBoxPovt2->currentText().toInt());
  link.SetTxDelay(Edit1->text().toInt());
  link.SetRxDelay(Edit2->text().toInt());
}

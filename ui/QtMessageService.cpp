#include "QtMessageService.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <utility>

namespace ui {

namespace {

QMessageBox::StandardButton ToStandard(Answer a) {
  switch (a) {
    case Answer::Ok: return QMessageBox::Ok;
    case Answer::Yes: return QMessageBox::Yes;
    case Answer::No: return QMessageBox::No;
    case Answer::Cancel: return QMessageBox::Cancel;
    case Answer::Retry: return QMessageBox::Retry;
  }
  return QMessageBox::Ok;
}

Answer FromStandard(int b) {
  switch (b) {
    case QMessageBox::Yes: return Answer::Yes;
    case QMessageBox::No: return Answer::No;
    case QMessageBox::Cancel: return Answer::Cancel;
    case QMessageBox::Retry: return Answer::Retry;
    default: return Answer::Ok;
  }
}

}  // namespace

std::unique_ptr<QWidget> QtMessageService::Build(const Message& m, QWidget* parent) {
  auto box = std::make_unique<QMessageBox>(parent);
  Prepare(*box, m);
  return box;
}

void QtMessageService::Prepare(QMessageBox& box, const Message& m) {
  box.setText(QString::fromStdString(m.text));
  box.setWindowTitle(m.caption.empty() ? QApplication::applicationDisplayName()
                                       : QString::fromStdString(m.caption));
  switch (m.icon) {
    case Icon::None: box.setIcon(QMessageBox::NoIcon); break;
    case Icon::Information: box.setIcon(QMessageBox::Information); break;
    case Icon::Warning: box.setIcon(QMessageBox::Warning); break;
    case Icon::Error: box.setIcon(QMessageBox::Critical); break;
    case Icon::Question: box.setIcon(QMessageBox::Question); break;
  }
  QMessageBox::StandardButtons buttons = QMessageBox::Ok;
  switch (m.buttons) {
    case Buttons::Ok: buttons = QMessageBox::Ok; break;
    case Buttons::YesNo: buttons = QMessageBox::Yes | QMessageBox::No; break;
    case Buttons::YesNoCancel: buttons = QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel; break;
    case Buttons::RetryCancel: buttons = QMessageBox::Retry | QMessageBox::Cancel; break;
  }
  box.setStandardButtons(buttons);
  box.setDefaultButton(ToStandard(m.defaultAnswer));
  // The operator reads Russian; Qt's own button texts are English.
  for (const auto& [button, text] : {std::pair{QMessageBox::Yes, "Да"}, std::pair{QMessageBox::No, "Нет"},
                                     std::pair{QMessageBox::Cancel, "Отмена"}, std::pair{QMessageBox::Retry, "Повтор"}})
    if (QAbstractButton* b = box.button(button)) b->setText(QString::fromUtf8(text));
}

Answer QtMessageService::Show(const Message& m) {
  QMessageBox box(QApplication::activeWindow());
  box.setWindowModality(Qt::ApplicationModal);
  Prepare(box, m);
  int r = box.exec();
  // The close box of a question counts as its escape button.
  if (r == QMessageBox::NoButton || r < 0) return m.buttons == Buttons::Ok ? Answer::Ok : Answer::Cancel;
  return FromStandard(r);
}

void QtMessageService::Beep() { QApplication::beep(); }

}  // namespace ui

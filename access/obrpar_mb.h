#pragma once
// Password entry window. It is created at start-up with the other windows;
// no command shows it, because the access level that would allow changing
// the password is never granted.

#include <QDialog>

#include "ui_obrpar_mb.h"

namespace ui {
class MessageService;
}

class TFPSW : public QDialog {
  Q_OBJECT

 public:
  explicit TFPSW(ui::MessageService& messages, QWidget* parent = nullptr);

  Ui::TFPSW ui;

  void FormCreate();

 private:
  ui::MessageService& m_messages;
};

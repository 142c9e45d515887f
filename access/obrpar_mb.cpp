#include "obrpar_mb.h"

#include <QPushButton>

#include "HandlerGuard.h"

TFPSW::TFPSW(ui::MessageService& messages, QWidget* parent) : QDialog(parent), m_messages(messages) {
  ui.setupUi(this);
  ui::ConnectGuarded(ui.OK, &QPushButton::clicked, this, m_messages, [this] { accept(); });
  FormCreate();
}

void TFPSW::FormCreate() { ui.EditPsw->clear(); }

#pragma once
#include "MessageService.h"

namespace ui {

// Application-modal QMessageBox; a box without icon is a plain message.
class QtMessageService : public MessageService {
 public:
  Answer Show(const Message& m) override;
  void Beep() override;
};

}  // namespace ui

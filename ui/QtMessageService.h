#pragma once
#include "MessageService.h"

class QMessageBox;

namespace ui {

// Application-modal QMessageBox; a box without icon is a plain message.
class QtMessageService : public MessageService {
 public:
  Answer Show(const Message& m) override;
  void Beep() override;
  // Text, caption, icon and buttons (with Russian texts) of the box for m.
  static void Prepare(QMessageBox& box, const Message& m);
};

}  // namespace ui

#pragma once
#include <memory>

#include "MessageService.h"

class QMessageBox;
class QWidget;

namespace ui {

// Application-modal QMessageBox; a box without icon is a plain message.
class QtMessageService : public MessageService {
 public:
  Answer Show(const Message& m) override;
  void Beep() override;
  // Text, caption, icon and buttons (with Russian texts) of the box for m.
  static void Prepare(QMessageBox& box, const Message& m);
  // The box for m as Show draws it, not yet shown (for pictures of it).
  static std::unique_ptr<QWidget> Build(const Message& m, QWidget* parent);
};

}  // namespace ui

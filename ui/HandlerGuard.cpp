#include "HandlerGuard.h"

namespace ui {

std::string ErrorBoxText(const std::exception& e) { return e.what(); }

void ShowApplicationError(MessageService& messages, const std::string& text) {
  messages.Show({text, "", Icon::Error, Buttons::Ok, Answer::Ok});
}

void RunGuarded(MessageService& messages, const std::function<void()>& handler) {
  try {
    handler();
  } catch (const std::exception& e) {
    ShowApplicationError(messages, ErrorBoxText(e));
  } catch (...) {
    ShowApplicationError(messages, "Неизвестная ошибка");
  }
}

}  // namespace ui

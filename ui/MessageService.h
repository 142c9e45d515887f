#pragma once
// The one way the program talks to the operator through message boxes.
// Plain C++ so that the link, the device model and the range calculation can
// report without Qt; the window layer supplies the Qt implementation and the
// tests a scripted one that records every box and answers from a queue.

#include <string>

namespace ui {

enum class Icon { None, Information, Warning, Error, Question };
enum class Buttons { Ok, YesNo, YesNoCancel, RetryCancel };
enum class Answer { Ok, Yes, No, Cancel, Retry };

struct Message {
  std::string text;     // UTF-8, shown exactly as given
  std::string caption;  // empty: the application's title (a plain box)
  Icon icon = Icon::None;
  Buttons buttons = Buttons::Ok;
  Answer defaultAnswer = Answer::Ok;
};

class MessageService {
 public:
  virtual ~MessageService() = default;
  // Shows the box modally and returns the operator's answer.
  virtual Answer Show(const Message& m) = 0;
  virtual void Beep() = 0;

  // Shorthands for the box kinds the program uses.
  Answer Warning(const std::string& text, const std::string& caption = "Предупреждение") {
    return Show({text, caption, Icon::Warning, Buttons::Ok, Answer::Ok});
  }
  Answer Error(const std::string& text, const std::string& caption = "Ошибка") {
    return Show({text, caption, Icon::Error, Buttons::Ok, Answer::Ok});
  }
  Answer Information(const std::string& text, const std::string& caption) {
    return Show({text, caption, Icon::Information, Buttons::Ok, Answer::Ok});
  }
  // A plain box: no icon, one OK button, the application's title.
  Answer Plain(const std::string& text) { return Show({text, "", Icon::None, Buttons::Ok, Answer::Ok}); }
};

}  // namespace ui

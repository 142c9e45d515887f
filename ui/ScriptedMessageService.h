#pragma once
// Message service for tests: records every box and answers from a queue.
// An empty queue answers with the box's default answer, so an unexpected
// question never blocks a test.

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "MessageService.h"

namespace ui {

class ScriptedMessageService : public MessageService {
 public:
  Answer Show(const Message& m) override {
    shown.push_back(m);
    if (onShow) onShow(m);
    if (answers.empty()) return m.defaultAnswer;
    Answer a = answers.front();
    answers.pop_front();
    return a;
  }
  void Beep() override { ++beeps; }

  std::vector<std::string> Texts() const {
    std::vector<std::string> t;
    for (const auto& m : shown) t.push_back(m.text);
    return t;
  }
  const Message& Last() const { return shown.back(); }
  void Clear() {
    shown.clear();
    answers.clear();
    beeps = 0;
  }

  std::vector<Message> shown;
  std::deque<Answer> answers;
  int beeps = 0;
  std::function<void(const Message&)> onShow;  // runs while the "box" is up
};

}  // namespace ui

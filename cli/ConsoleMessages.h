#pragma once
// The message service of a program without windows: every box is a line on
// standard error, and nothing is ever asked (a question gets No).

#include <iostream>

#include "MessageService.h"

namespace pmcli {

class ConsoleMessages : public ui::MessageService {
 public:
  explicit ConsoleMessages(std::ostream& err = std::cerr) : m_err(err) {}
  ui::Answer Show(const ui::Message& m) override {
    m_err << m.text << '\n';
    switch (m.buttons) {
      case ui::Buttons::Ok: return ui::Answer::Ok;
      case ui::Buttons::RetryCancel: return ui::Answer::Cancel;
      default: return ui::Answer::No;
    }
  }
  void Beep() override {}

 private:
  std::ostream& m_err;
};

}  // namespace pmcli

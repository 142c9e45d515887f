#pragma once
// The message service of a program without windows: every box is a message
// on standard error, and nothing is ever asked (a question gets No). Advice
// meant for the window (to restart it) is left out: pmctl ends by itself.

#include <iostream>
#include <string>

#include "MessageService.h"
#include "Report.h"

namespace pmcli {

class ConsoleMessages : public ui::MessageService {
 public:
  explicit ConsoleMessages(std::ostream& err = std::cerr) : m_err(err) {}
  ui::Answer Show(const ui::Message& m) override {
    std::string text = m.text;
    static const std::string restart = ", перезапустите программу";
    if (const auto at = text.find(restart); at != std::string::npos) text.erase(at, restart.size());
    Report(m_err, text);
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

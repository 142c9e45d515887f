#include "Protocol.h"

#include <algorithm>

#include "EntryText.h"

namespace pmjournal {

std::string EscapeHtml(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\n': out += "<br>"; break;
      default: out += c;
    }
  }
  return out;
}

std::string ProtocolHtml(const ProtocolHeader& h, const std::vector<Entry>& entries) {
  std::vector<const Entry*> mine;
  for (const Entry& e : entries)
    if (e.port == h.port && e.address == h.address) mine.push_back(&e);
  std::sort(mine.begin(), mine.end(), [](const Entry* a, const Entry* b) {
    return a->atMs != b->atMs ? a->atMs < b->atMs : a->id < b->id;
  });

  const auto esc = EscapeHtml;
  std::string html =
      "<html><head><meta charset=\"utf-8\"></head><body style=\"font-family: 'DejaVu Sans', sans-serif; "
      "font-size: 9pt\">"
      "<h2 align=\"center\">Протокол изменений</h2>";
  std::string identity = mine.empty() ? std::string("нет записей") : mine.back()->identification;
  html += "<p><b>Прибор:</b> " + esc(identity) + "<br><b>Порт:</b> " + esc(h.port) + ", <b>устройство</b> " +
          std::to_string(h.address);
  if (!h.period.empty()) html += "<br><b>Период:</b> " + esc(h.period);
  html += "</p>";

  int number = 0;
  for (const Entry* e : mine) {
    html += "<h4>" + std::to_string(++number) + ". " + esc(e->at) + " - " + esc(e->operation) + " (" +
            esc(OutcomeLine(*e)) + ")</h4>";
    html += "<p>Выполнил: " + esc(e->user) + "@" + esc(e->host) + ", " + esc(e->program);
    if (!e->detail.empty()) html += "<br>" + esc(e->detail);
    if (const std::string read = BeforeReadText(*e); !read.empty()) html += "<br>Значения «до»: " + esc(read);
    html += "</p>";
    if (e->outcome == Outcome::Event || !HasBlocks(*e)) continue;
    html += "<table border=\"1\" cellspacing=\"0\" cellpadding=\"2\" width=\"100%\">"
            "<tr><th align=\"left\">Параметр</th><th align=\"left\">До</th><th align=\"left\">" +
            esc(SecondColumn(*e)) + "</th></tr>";
    // What changed, and the instrument's own data (calibration codes and
    // current corrections) whether it changed or not.
    for (const pmset::Row& r : Compare(*e)) {
      if (!r.differs && r.kind != pmset::Kind::Own) continue;
      const std::string after = e->after.empty() && e->sent.empty() ? "не прочитано" : r.theirs;
      const std::string mark = r.differs ? "<b>" : "";
      const std::string unmark = r.differs ? "</b>" : "";
      html += "<tr><td>" + mark + esc(r.label) + unmark + "</td><td>" + esc(r.mine) + "</td><td>" + mark +
              esc(after) + unmark + "</td></tr>";
    }
    html += "</table>";
  }
  html += "<p><br>Дата: " + esc(h.date) + "<br>Инженер: " + esc(h.engineer) +
          " ____________________<br>Программа: " + esc(h.program) + "</p></body></html>";
  return html;
}

}  // namespace pmjournal

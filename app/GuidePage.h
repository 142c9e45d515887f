#pragma once
// What the help window reads from a page of the guide once Qt has laid it
// out as a QTextDocument: its headings for the contents, the text the find
// field asks for, and where a link of the page leads.

#include <QString>
#include <QTextCursor>
#include <vector>

class QTextDocument;
class QUrl;

namespace pmhelp {

struct Heading {
  int level = 0;     // 2 for a chapter, 3 for a section
  QString text;
  QString anchor;    // the heading's own anchor; "" when it has none
  int position = 0;  // where its block starts in the document
};

// The chapters and sections of a page, in order.
std::vector<Heading> Headings(const QTextDocument& page);

// The next occurrence of text after the selection of `from` (before it when
// backward), letter case ignored; when there is none that way the search
// starts over from the other end of the page. A null cursor when the text
// is nowhere on the page.
QTextCursor FindWrapping(const QTextDocument& page, const QString& text, const QTextCursor& from, bool backward);

// Whether a link (resolved against the page it is on) is another page to
// show in the help window: a local HTML file. Everything else (web pages,
// mail, other files) is for the desktop to open.
bool ShownInWindow(const QUrl& target);

}  // namespace pmhelp

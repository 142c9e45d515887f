#include "GuidePage.h"

#include <QFileInfo>
#include <QTextBlock>
#include <QTextDocument>
#include <QUrl>

namespace pmhelp {

std::vector<Heading> Headings(const QTextDocument& page) {
  std::vector<Heading> found;
  for (QTextBlock block = page.begin(); block.isValid(); block = block.next()) {
    const int level = block.blockFormat().headingLevel();
    if (level != 2 && level != 3) continue;
    Heading h{level, block.text().simplified(), QString(), block.position()};
    for (auto it = block.begin(); !it.atEnd() && h.anchor.isEmpty(); ++it) {
      const QStringList names = it.fragment().charFormat().anchorNames();
      if (!names.isEmpty()) h.anchor = names.first();
    }
    found.push_back(std::move(h));
  }
  return found;
}

QTextCursor FindWrapping(const QTextDocument& page, const QString& text, const QTextCursor& from, bool backward) {
  if (text.isEmpty()) return {};
  const QTextDocument::FindFlags flags = backward ? QTextDocument::FindBackward : QTextDocument::FindFlags();
  const QTextCursor next = page.find(text, from, flags);
  if (!next.isNull()) return next;
  return page.find(text, backward ? page.characterCount() - 1 : 0, flags);
}

bool ShownInWindow(const QUrl& target) {
  if (!target.isLocalFile()) return false;
  const QString suffix = QFileInfo(target.toLocalFile()).suffix().toLower();
  return suffix == QLatin1String("html") || suffix == QLatin1String("htm");
}

}  // namespace pmhelp

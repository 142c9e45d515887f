// Turns the user's guide from Markdown (GitHub's dialect: tables) into one
// HTML page for the desktop's browser. Headings get the anchors GitHub gives
// them, so the guide's links to its own sections work in both forms.
//
//   pm_md2html IN.md OUT.html     (the page title is the first heading)

#include <md4c-html.h>

#include <QFile>
#include <QRegularExpression>
#include <QString>
#include <QUrl>
#include <cstdio>

namespace {

void Append(const MD_CHAR* text, MD_SIZE size, void* out) {
  static_cast<QByteArray*>(out)->append(text, static_cast<qsizetype>(size));
}

// GitHub's anchor of a heading: lower case, letters, digits, '-' and '_'
// kept, spaces turned into '-', everything else dropped.
QString Anchor(QString heading) {
  heading.remove(QRegularExpression(QStringLiteral("<[^>]*>")));
  heading.replace(QStringLiteral("&amp;"), QStringLiteral("&"));
  QString a;
  for (QChar c : heading.toLower()) {
    if (c.isLetterOrNumber() || c == QLatin1Char('-') || c == QLatin1Char('_'))
      a += c;
    else if (c == QLatin1Char(' '))
      a += QLatin1Char('-');
  }
  return a;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s IN.md OUT.html\n", argv[0]);
    return 2;
  }
  QFile in(QString::fromLocal8Bit(argv[1]));
  if (!in.open(QIODevice::ReadOnly)) {
    std::fprintf(stderr, "cannot read %s\n", argv[1]);
    return 1;
  }
  const QByteArray md = in.readAll();
  QByteArray body;
  if (md_html(md.constData(), static_cast<MD_SIZE>(md.size()), Append, &body, MD_DIALECT_GITHUB, 0) != 0) {
    std::fprintf(stderr, "%s: not Markdown md4c can read\n", argv[1]);
    return 1;
  }

  QString html = QString::fromUtf8(body);
  static const QRegularExpression heading(QStringLiteral("<h([1-6])>(.*?)</h\\1>"));
  QString out, title;
  qsizetype at = 0;
  for (auto it = heading.globalMatch(html); it.hasNext();) {
    const auto m = it.next();
    out += html.mid(at, m.capturedStart() - at);
    if (title.isEmpty()) title = QString(m.captured(2)).remove(QRegularExpression(QStringLiteral("<[^>]*>")));
    out += QStringLiteral("<h%1 id=\"%2\">%3</h%1>").arg(m.captured(1), Anchor(m.captured(2)), m.captured(2));
    at = m.capturedEnd();
  }
  out += html.mid(at);
  // Links to the page's own sections in plain letters, as the anchors are.
  static const QRegularExpression local(QStringLiteral("href=\"#([^\"]*)\""));
  for (auto it = local.globalMatch(QString(out)); it.hasNext();) {
    const auto m = it.next();
    out.replace(m.captured(0), QStringLiteral("href=\"#%1\"").arg(QUrl::fromPercentEncoding(m.captured(1).toUtf8())));
  }

  QFile file(QString::fromLocal8Bit(argv[2]));
  if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
    std::fprintf(stderr, "cannot write %s\n", argv[2]);
    return 1;
  }
  const QString page =
      QStringLiteral(
          "<!DOCTYPE html>\n<html lang=\"ru\">\n<head>\n<meta charset=\"utf-8\">\n<title>%1</title>\n<style>\n"
          "body { font-family: sans-serif; max-width: 60em; margin: 1em auto; padding: 0 1em; line-height: 1.45; }\n"
          "img { max-width: 100%; border: 1px solid #ccc; }\n"
          "table { border-collapse: collapse; } td, th { border: 1px solid #ccc; padding: .2em .5em; vertical-align: top; }\n"
          "code { background: #f3f3f3; padding: 0 .2em; }\n"
          "blockquote { border-left: 4px solid #ccc; margin-left: 0; padding-left: 1em; }\n"
          "</style>\n</head>\n<body>\n")
          .arg(title) +
      out + QStringLiteral("</body>\n</html>\n");
  if (file.write(page.toUtf8()) < 0 || !file.flush()) {
    std::fprintf(stderr, "cannot write %s\n", argv[2]);
    return 1;
  }
  return 0;
}

#pragma once
// Qt's command-line parser writes its own words ("Usage:", "Unknown option")
// in English; pmctl speaks Russian throughout, installed or not, so they are
// translated here rather than by Qt's translation files.

#include <QTranslator>

namespace pmcli {

class ParserTexts : public QTranslator {
 public:
  using QTranslator::QTranslator;
  bool isEmpty() const override { return false; }
  QString translate(const char* context, const char* sourceText, const char* disambiguation = nullptr,
                    int n = -1) const override;
};

}  // namespace pmcli

// A validator that keeps an edit within a number of bytes of code-page-936
// text, as the old edits' maximum length counted it.
#pragma once

#include <QValidator>

namespace qz::admin {

class GbkLengthValidator : public QValidator {
  Q_OBJECT
 public:
  GbkLengthValidator(size_t maxBytes, QObject* parent) : QValidator(parent), maxBytes_(maxBytes) {}
  // Text longer than maxBytes is cut to the longest whole-character prefix
  // that fits (typing past the limit does nothing; a paste is shortened).
  State validate(QString& input, int& pos) const override;
  void fixup(QString& input) const override;

 private:
  size_t maxBytes_;
};

}  // namespace qz::admin

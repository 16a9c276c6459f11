// The GBK byte-length validator.
#include "admin/dialogs/gbk_validator.h"

#include <algorithm>

#include "admin/gbk_text.h"

namespace qz::admin {

QValidator::State GbkLengthValidator::validate(QString& input, int& pos) const {
  if (GbkByteLength(input.toStdString()) <= maxBytes_) return Acceptable;
  // Too long (typed past the end, or pasted): cut at the limit, as an edit
  // with a maximum length does.
  fixup(input);
  pos = std::min<int>(pos, static_cast<int>(input.size()));
  return Acceptable;
}

void GbkLengthValidator::fixup(QString& input) const {
  input = QString::fromStdString(TruncateToGbkBytes(input.toStdString(), maxBytes_));
}

}  // namespace qz::admin

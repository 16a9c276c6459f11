// The GBK byte-length validator.
#include "admin/dialogs/gbk_validator.h"

#include "admin/gbk_text.h"

namespace qz::admin {

QValidator::State GbkLengthValidator::validate(QString& input, int&) const {
  return GbkByteLength(input.toStdString()) <= maxBytes_ ? Acceptable : Invalid;
}

void GbkLengthValidator::fixup(QString& input) const {
  input = QString::fromStdString(TruncateToGbkBytes(input.toStdString(), maxBytes_));
}

}  // namespace qz::admin

// Choosing the CJK font.
#include "server/window/window_font.h"

#include <QFontDatabase>
#include <QStringList>

namespace qz::server {

QFont CjkFont(int pixelSize) {
  QFont f;
  const QStringList families = QFontDatabase::families();
  QString chosen;
  for (const QString& name : {QStringLiteral("SimSun"), QStringLiteral("宋体")})
    if (families.contains(name)) chosen = name;
  if (chosen.isEmpty()) {
    const QStringList cjk = QFontDatabase::families(QFontDatabase::SimplifiedChinese);
    if (!cjk.isEmpty()) chosen = cjk.front();
  }
  if (!chosen.isEmpty()) f.setFamily(chosen);
  f.setPixelSize(pixelSize);
  return f;
}

}  // namespace qz::server

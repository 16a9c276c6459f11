// The window's font: the CJK font at a given pixel size -- SimSun where it
// is installed, otherwise the first installed font that covers Simplified
// Chinese, otherwise the default font.
#pragma once

#include <QFont>

namespace qz::server {

// REQUIRES: a QGuiApplication exists.
QFont CjkFont(int pixelSize);

}  // namespace qz::server

// The window's nine tool images, drawn by the program itself so they look
// the same on every desktop: 0 sign-in, 1 settings, 2 restore, 3 backup,
// 4 export, 5 import, 6 clean-up, 7 hide and show the window, 8 close.
#pragma once

#include <QIcon>

namespace qz::server {

inline constexpr int kToolImageCount = 9;

// The image at index as a 32 x 32 icon. REQUIRES: 0 <= index < 9.
// REQUIRES: a QGuiApplication exists.
QIcon ToolImage(int index);

// The icon of the window and the tray.
QIcon WindowIcon();

}  // namespace qz::server

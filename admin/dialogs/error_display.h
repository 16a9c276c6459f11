// The standard error display and the plain message box of the window
// thread, and RunGuarded, which every user-interface handler goes through
// so that an error it does not catch ends the handler, is shown, and the
// window keeps running (exceptions must never cross Qt's event loop).
//
// Thread-safety: window thread only.
#pragma once

#include <QString>
#include <functional>
#include <string>

class QWidget;

namespace qz::admin {

// A message box captioned with the application title, an error icon, an OK
// button and message with the full-stop rule applied. Modal; returns when
// closed.
void ShowStandardError(QWidget* parent, const std::string& message);

// A message box captioned with the application title, no icon, OK.
void ShowMessage(QWidget* parent, const QString& text);

// Runs fn; SilentAbort ends it quietly, any other exception is shown by
// ShowStandardError. Returns true when fn ran to its end.
bool RunGuarded(QWidget* parent, const std::function<void()>& fn);

}  // namespace qz::admin

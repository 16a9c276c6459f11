// The application title: the caption of message boxes and the standard
// error display. It starts as the system's product name and the sign-in
// dialog replaces it by the configured system name. Kept apart from Qt's
// display name, which the platform would append to every window caption.
//
// Thread-safety: window thread only (process-wide by design).
#pragma once

#include <QString>

namespace qz::admin {

QString ApplicationTitle();
void SetApplicationTitle(const QString& title);

}  // namespace qz::admin

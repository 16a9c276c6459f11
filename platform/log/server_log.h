// The server log: what the server does, one line per event on standard
// error, where a terminal, a redirect or the service manager's journal picks
// it up. Separate from the activity lines (client logins on standard
// output), which stay as they are.
//
// A line is "YYYY-MM-DDTHH:MM:SS.mmmZ LEVEL message". When standard error is
// connected to the journal (JOURNAL_STREAM names it), the line is instead
// "<N>message" with the syslog priority N, which the journal reads as the
// line's priority and stamps itself.
//
// Levels, most severe first: error, warning, info, debug. Lines below the
// level set are dropped before they are composed (check enabled() around
// costly messages).
//
// Thread-safety: every function may be called from any thread; each line is
// written whole.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace qz::log {

enum class Level { kError = 0, kWarning = 1, kInfo = 2, kDebug = 3 };

// The level below which lines are dropped; info unless set.
void setLevel(Level level);
Level level();
inline bool enabled(Level l) { return static_cast<int>(l) <= static_cast<int>(level()); }

// "error", "warning" (or "warn"), "info", "debug", without regard to case;
// std::nullopt for anything else.
std::optional<Level> parseLevel(std::string_view text);
// "error", "warning", "info", "debug".
const char* levelName(Level level);

// Writes one line at level l when that level is enabled.
void write(Level l, std::string_view message);
inline void error(std::string_view m) { write(Level::kError, m); }
inline void warning(std::string_view m) { write(Level::kWarning, m); }
inline void info(std::string_view m) { write(Level::kInfo, m); }
inline void debug(std::string_view m) { write(Level::kDebug, m); }

// Where lines go instead of standard error, for tests; an empty function
// restores standard error. The sink gets the level and the message alone.
using Sink = std::function<void(Level, std::string_view message)>;
void setSink(Sink sink);

}  // namespace qz::log

// The server log: level filter, line format and the one lock that keeps
// lines whole.
#include "platform/log/server_log.h"

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <mutex>

namespace qz::log {

namespace {

std::atomic<int> gLevel{static_cast<int>(Level::kInfo)};
std::mutex gMu;
Sink gSink;  // under gMu

// The journal sets JOURNAL_STREAM to "device:inode" of the stream it reads;
// it applies only when standard error is that very stream.
bool stderrIsJournal() {
  const char* js = std::getenv("JOURNAL_STREAM");
  if (!js || !*js) return false;
  unsigned long long dev = 0, ino = 0;
  if (std::sscanf(js, "%llu:%llu", &dev, &ino) != 2) return false;
  struct stat st {};
  if (fstat(STDERR_FILENO, &st) != 0) return false;
  return static_cast<unsigned long long>(st.st_dev) == dev &&
         static_cast<unsigned long long>(st.st_ino) == ino;
}

int syslogPriority(Level l) {
  switch (l) {
    case Level::kError:
      return 3;
    case Level::kWarning:
      return 4;
    case Level::kInfo:
      return 6;
    case Level::kDebug:
      return 7;
  }
  return 6;
}

const char* upperName(Level l) {
  switch (l) {
    case Level::kError:
      return "ERROR";
    case Level::kWarning:
      return "WARN ";
    case Level::kInfo:
      return "INFO ";
    case Level::kDebug:
      return "DEBUG";
  }
  return "INFO ";
}

}  // namespace

void setLevel(Level l) { gLevel.store(static_cast<int>(l)); }
Level level() { return static_cast<Level>(gLevel.load(std::memory_order_relaxed)); }

std::optional<Level> parseLevel(std::string_view text) {
  std::string lower;
  for (char c : text) lower += static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  if (lower == "error") return Level::kError;
  if (lower == "warning" || lower == "warn") return Level::kWarning;
  if (lower == "info") return Level::kInfo;
  if (lower == "debug") return Level::kDebug;
  return std::nullopt;
}

const char* levelName(Level l) {
  switch (l) {
    case Level::kError:
      return "error";
    case Level::kWarning:
      return "warning";
    case Level::kInfo:
      return "info";
    case Level::kDebug:
      return "debug";
  }
  return "info";
}

void setSink(Sink sink) {
  std::lock_guard<std::mutex> lock(gMu);
  gSink = std::move(sink);
}

void write(Level l, std::string_view message) {
  if (!enabled(l)) return;
  static const bool journal = stderrIsJournal();
  std::string line;
  line.reserve(message.size() + 32);
  if (journal) {
    line += '<';
    line += static_cast<char>('0' + syslogPriority(l));
    line += '>';
  } else {
    auto now = std::chrono::system_clock::now();
    std::time_t t = std::chrono::system_clock::to_time_t(now);
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()) % 1000;
    std::tm tm{};
    gmtime_r(&t, &tm);
    char stamp[40];
    std::snprintf(stamp, sizeof stamp, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ ", tm.tm_year + 1900,
                  tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec,
                  static_cast<int>(ms.count()));
    line += stamp;
    line += upperName(l);
    line += ' ';
  }
  // One event, one line: line breaks inside the message would split it.
  for (char c : message) line += (c == '\n' || c == '\r') ? ' ' : c;
  line += '\n';
  std::lock_guard<std::mutex> lock(gMu);
  if (gSink) {
    gSink(l, message);
    return;
  }
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fflush(stderr);
}

}  // namespace qz::log

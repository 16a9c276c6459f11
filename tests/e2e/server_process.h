// The real qzserver binary, started for one test: a temporary AppDir, an
// optional application database on either engine, a free port, standard
// output captured, SIGTERM at the end.
#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "tests/server/temp_dir.h"

namespace qz::testing {

enum class TestEngine { Embedded, PostgreSQL };
const char* engineName(TestEngine e);
inline void PrintTo(TestEngine e, std::ostream* os) { *os << engineName(e); }

// Runs qzserver with args to the end; returns the exit status and fills
// output with standard output and standard error.
int runServer(const std::vector<std::string>& args, std::string* output);

class ServerProcess {
 public:
  // A fresh AppDir. No database yet.
  ServerProcess();
  ~ServerProcess();  // stops the server if it runs
  ServerProcess(const ServerProcess&) = delete;
  ServerProcess& operator=(const ServerProcess&) = delete;

  const std::string& appDir() const { return dir_.path(); }
  TempDir& dir() { return dir_; }

  // Writes system.ini for engine and creates the application database with
  // demo data. Returns false (with *why) when the engine is not available
  // here (PostgreSQL without a test server); fails the test on other errors.
  bool createDatabase(TestEngine engine, std::string* why, bool demo = true);

  // Starts "qzserver --headless --app-dir <dir> --listen 127.0.0.1:<port>
  // extra..." (port 0: a free one) and waits for its start line. Returns the
  // port, or 0 on failure. Output of an earlier run is dropped.
  int start(const std::vector<std::string>& extra = {}, int port = 0);
  // SIGTERM (or sig), then waits. Returns the exit status (128+n if killed).
  int stop(int sig = 15);
  bool running() const { return pid_ > 0; }
  int port() const { return port_; }
  // The port of the first --listen-web address; 0 when none was given.
  int webPort() const { return webPort_; }
  int pid() const { return pid_; }
  // Everything the server printed so far (stdout and stderr).
  std::string output();
  // Waits up to ms for text to appear in the output.
  bool waitForOutput(const std::string& text, int ms);

 private:
  void drain(int timeoutMs);
  TempDir dir_;
  int pid_ = -1;
  int outFd_ = -1;
  int port_ = 0;
  int webPort_ = 0;
  std::string out_;
  std::string pgDatabase_;
};

}  // namespace qz::testing

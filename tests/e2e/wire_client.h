// A bare line client for protocol transcripts: connects to the server,
// sends lines exactly as written and reads answers line by line.
#pragma once

#include <string>

#include "client/line_socket.h"

namespace qz::testing {

class WireClient {
 public:
  // Connects to 127.0.0.1:port; fails the test when it cannot.
  explicit WireClient(int port);
  WireClient(const WireClient&) = delete;
  WireClient& operator=(const WireClient&) = delete;

  bool connected() const { return socket_.isOpen(); }
  // Sends text followed by a line feed (unless raw: then exactly text,
  // however malformed).
  bool send(const std::string& text, bool raw = false);
  // The next line without its line feed; "" with *closed set when the
  // server closed the connection; "" after timeoutMs without one.
  std::string readLine(int timeoutMs = 20000, bool* closed = nullptr);
  // send() then readLine().
  std::string call(const std::string& line) {
    send(line);
    return readLine();
  }
  void close();

 private:
  client::LineSocket socket_;
};

}  // namespace qz::testing

// A blocking WebSocket client of the server's /rpc for end-to-end tests,
// plain (ws://) or over TLS (wss://) with an optional client certificate,
// optionally from a chosen local address.
#pragma once

#include <memory>
#include <string>

#include "tests/e2e/test_certificates.h"

namespace qz::testing {

class WebSocketClient {
 public:
  struct Options {
    const CertFiles* trust = nullptr;  // non-null: wss://, trusting this authority
    const CertFiles* who = nullptr;    // the client certificate shown over TLS
    std::string from;                  // local address to connect from; empty: any
  };
  // Connects to 127.0.0.1:port and opens /rpc. Throws
  // boost::system::system_error when the connection, TLS or the upgrade
  // fails.
  WebSocketClient(int port, const Options& options);
  ~WebSocketClient();
  WebSocketClient(const WebSocketClient&) = delete;
  WebSocketClient& operator=(const WebSocketClient&) = delete;

  void send(const std::string& text);
  // The next message whole. Throws boost::system::system_error when the
  // connection ends first.
  std::string read();
  std::string call(const std::string& text) {
    send(text);
    return read();
  }

  class Impl;  // internal; public so that the stream classes can derive from it

 private:
  std::unique_ptr<Impl> impl_;
};

}  // namespace qz::testing

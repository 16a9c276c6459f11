// ClientSession: a connection to the application server that can be made
// again. It remembers the server, the module class and the login texts, and
// sends apply-updates requests so that a lost connection loses nothing and
// posts nothing twice: each request carries a request key (a fresh one
// unless the caller gives one); when the connection breaks before the
// answer, the session connects again, creates its module again, logs in
// again with the same texts and sends the same request with the same key,
// up to `tries` times in all. The server answers a request it posted before
// with the recorded answer (ApplyResult::replayed).
//
// Only a lost or timed-out connection (TransportError) is tried again; an
// answer that refuses the request (CallError) ends it at once.
//
// Not thread-safe: one thread uses a session at a time.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "client/connection.h"

namespace qz::client {

struct SessionOptions {
  std::string server = "127.0.0.1:5211";  // HOST:PORT
  std::string cls = "top_dm2";            // class name, ProgID or class id
  std::vector<std::string> login;         // OP STATION WORK, or empty: no login
  ClientTlsOptions tls;                   // TLS when tls.enabled
  std::chrono::milliseconds connectTimeout = std::chrono::seconds(10);
  std::chrono::milliseconds callTimeout = std::chrono::minutes(5);
  int tries = 5;  // sends of one request in all (at least 1)
  std::chrono::milliseconds retryDelay = std::chrono::milliseconds(500);  // between tries
};

// A fresh request key: a random UUID (version 4) in its usual text form.
std::string newRequestKey();

class ClientSession {
 public:
  explicit ClientSession(SessionOptions options);
  ClientSession(const ClientSession&) = delete;
  ClientSession& operator=(const ClientSession&) = delete;

  // The connection with its module created and logged in, made now when
  // there is none. Throws TransportError or CallError.
  Connection& connection();

  // Sends the request as described at the top; requestKey "" = a fresh key.
  // prepare, when given, runs before the first try and on each new connection
  // (e.g. the read that sets the provider's statement). Returns the answer
  // with the key used and the number of tries. Throws CallError at once,
  // TransportError when the last try lost its connection too.
  ApplyResult apply(std::string_view provider, const Delta& delta, int maxErrors = -1,
                    const Variant& ownerData = Variant(), std::string requestKey = {},
                    const std::function<void(Connection&)>& prepare = {});

  // Releases the module and closes the connection.
  void close();

 private:
  SessionOptions options_;
  std::unique_ptr<Connection> conn_;
};

}  // namespace qz::client

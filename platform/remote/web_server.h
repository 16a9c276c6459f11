// WebServer: the listener of the web transport. Serves the static files of
// the page over HTTP and upgrades requests for "/rpc" to WebSocket
// connections, which it hands to the host as WebLinks; the host serves
// each one as a client connection.
//
// Runs its own I/O thread (the HTTP and WebSocket library brings its own
// event loop). A WebSocket upgrade whose Origin header is not among the
// allowed origins is refused with 403; a request without Origin (a program,
// not a page) is let in. With TLS, every connection speaks HTTPS and wss://
// with the host's TLS context.
//
// Thread-safety: start() and stop() from one controlling thread; ports()
// from any thread after start().
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/remote/web_link.h"

typedef struct ssl_ctx_st SSL_CTX;

namespace qz::remote {

struct WebServerOptions {
  std::vector<int> listenFds;        // listening TCP sockets; the server owns them
  std::vector<std::string> origins;  // "http://host:port"; empty: any
  std::string root;                  // folder of the static files; empty: none
  SSL_CTX* tls = nullptr;            // not owned; must outlive the server; null: plain
  // Whether a connection from this address (text form) is admitted; called
  // on accepting it. Empty: every address.
  std::function<bool(const std::string& address)> admits;
  // Takes a WebSocket connection just opened; address and port of the peer,
  // and the subject of the certificate it presented over TLS (else empty).
  std::function<void(std::shared_ptr<WebLink> link, const std::string& address, uint16_t port,
                     const std::string& subject)>
      take;
};

class WebServer {
 public:
  explicit WebServer(WebServerOptions options);
  // Calls stop().
  ~WebServer();

  WebServer(const WebServer&) = delete;
  WebServer& operator=(const WebServer&) = delete;

  // Starts accepting on the I/O thread. Throws std::runtime_error when a
  // listening socket cannot be used.
  void start();
  // Closes the listeners and every connection and joins the I/O thread.
  // Idempotent.
  void stop();
  std::vector<uint16_t> ports() const;

  class Impl;  // internal; public so that the connection classes can name it

 private:
  std::unique_ptr<Impl> impl_;
};

}  // namespace qz::remote

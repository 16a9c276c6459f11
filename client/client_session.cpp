// The reconnecting session and its retried, keyed apply-updates requests.
#include "client/client_session.h"

#include <cstdio>
#include <random>
#include <thread>

namespace qz::client {

std::string newRequestKey() {
  std::random_device rd;
  unsigned char b[16];
  for (int i = 0; i < 16; i += 4) {
    const uint32_t r = rd();
    for (int k = 0; k < 4; ++k) b[i + k] = static_cast<unsigned char>(r >> (8 * k));
  }
  b[6] = static_cast<unsigned char>((b[6] & 0x0F) | 0x40);  // version 4
  b[8] = static_cast<unsigned char>((b[8] & 0x3F) | 0x80);  // RFC 4122 variant
  char text[37];
  std::snprintf(text, sizeof text,
                "%02x%02x%02x%02x-%02x%02x-%02x%02x-%02x%02x-%02x%02x%02x%02x%02x%02x", b[0], b[1],
                b[2], b[3], b[4], b[5], b[6], b[7], b[8], b[9], b[10], b[11], b[12], b[13], b[14],
                b[15]);
  return text;
}

ClientSession::ClientSession(SessionOptions options) : options_(std::move(options)) {
  if (options_.tries < 1) options_.tries = 1;
}

Connection& ClientSession::connection() {
  if (conn_) return *conn_;
  std::unique_ptr<Connection> c =
      Connection::open(options_.server, options_.connectTimeout, options_.tls);
  c->setCallTimeout(options_.callTimeout);
  c->create(options_.cls);
  if (options_.login.size() == 3) c->login(options_.login[0], options_.login[1], options_.login[2]);
  conn_ = std::move(c);
  return *conn_;
}

ApplyResult ClientSession::apply(std::string_view provider, const Delta& delta, int maxErrors,
                                 const Variant& ownerData, std::string requestKey,
                                 const std::function<void(Connection&)>& prepare) {
  if (requestKey.empty()) requestKey = newRequestKey();
  for (int attempt = 1;; ++attempt) {
    try {
      const bool fresh = !conn_;
      Connection& c = connection();
      if ((fresh || attempt == 1) && prepare) prepare(c);
      ApplyResult r = c.applyUpdates(provider, delta, maxErrors, ownerData, requestKey);
      r.tries = attempt;
      return r;
    } catch (const TransportError&) {
      // The request may or may not have been posted: only the server knows,
      // and the key lets it answer without posting a second time.
      conn_.reset();
      if (attempt >= options_.tries) throw;
      std::this_thread::sleep_for(options_.retryDelay);
    }
  }
}

void ClientSession::close() {
  if (!conn_) return;
  try {
    conn_->release();
  } catch (const ClientError&) {
  }
  conn_.reset();
}

}  // namespace qz::client

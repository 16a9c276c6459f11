// SessionStream: the byte stream of one connection, plain TCP or TLS over
// TCP, with the few operations a Session uses under the socket's own names,
// so the Session reads and writes the same way on either. Models Asio's
// AsyncReadStream and AsyncWriteStream for handler callbacks.
//
// Thread-safety: as the socket it holds; use it on the connection's strand.
#pragma once

#include <asio.hpp>
#include <asio/ssl.hpp>

#include <memory>
#include <optional>
#include <utility>

namespace qz::remote::detail {

class SessionStream {
 public:
  using TlsStream = asio::ssl::stream<asio::ip::tcp::socket>;
  using executor_type = asio::ip::tcp::socket::executor_type;

  // Plain TCP.
  explicit SessionStream(asio::ip::tcp::socket socket) : plain_(std::move(socket)) {}
  // TLS over socket; the handshake is still to come. ctx must outlive the
  // stream.
  SessionStream(asio::ip::tcp::socket socket, asio::ssl::context& ctx)
      : tls_(std::make_unique<TlsStream>(std::move(socket), ctx)) {}

  // Null for plain TCP.
  TlsStream* tls() { return tls_.get(); }
  asio::ip::tcp::socket& socket() { return tls_ ? tls_->next_layer() : *plain_; }
  executor_type get_executor() { return socket().get_executor(); }

  template <typename Option>
  void set_option(const Option& o, asio::error_code& ec) {
    socket().set_option(o, ec);
  }
  void shutdown(asio::ip::tcp::socket::shutdown_type what, asio::error_code& ec) {
    socket().shutdown(what, ec);
  }
  void close(asio::error_code& ec) { socket().close(ec); }

  template <typename Buffers, typename Handler>
  void async_read_some(const Buffers& buffers, Handler&& handler) {
    if (tls_) tls_->async_read_some(buffers, std::forward<Handler>(handler));
    else plain_->async_read_some(buffers, std::forward<Handler>(handler));
  }
  template <typename Buffers, typename Handler>
  void async_write_some(const Buffers& buffers, Handler&& handler) {
    if (tls_) tls_->async_write_some(buffers, std::forward<Handler>(handler));
    else plain_->async_write_some(buffers, std::forward<Handler>(handler));
  }

 private:
  std::optional<asio::ip::tcp::socket> plain_;
  std::unique_ptr<TlsStream> tls_;
};

}  // namespace qz::remote::detail

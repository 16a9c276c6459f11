// SessionStream: the byte stream of one connection, plain TCP, TLS over
// TCP, or a WebSocket connection (a WebLink, whose messages read and write
// as lines), with the few operations a Session uses under the socket's own
// names, so the Session reads and writes the same way on each. Models
// Asio's AsyncReadStream and AsyncWriteStream for handler callbacks.
//
// Thread-safety: as the socket it holds; use it on the connection's strand.
// A WebLink completes on its own thread; its results are posted back to the
// strand given with it.
#pragma once

#include <asio.hpp>
#include <asio/ssl.hpp>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "platform/remote/web_link.h"

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

  // A WebSocket connection; strand runs the completions.
  SessionStream(std::shared_ptr<WebLink> web, executor_type strand)
      : web_(std::move(web)), webExecutor_(std::move(strand)) {}

  // Null for plain TCP and WebSocket.
  TlsStream* tls() { return tls_.get(); }
  bool isWeb() const { return web_ != nullptr; }
  // REQUIRES: !isWeb().
  asio::ip::tcp::socket& socket() { return tls_ ? tls_->next_layer() : *plain_; }
  executor_type get_executor() { return web_ ? webExecutor_ : socket().get_executor(); }

  template <typename Option>
  void set_option(const Option& o, asio::error_code& ec) {
    if (!web_) socket().set_option(o, ec);
  }
  // On a WebSocket, shutting down the sending side starts the closing
  // handshake.
  void shutdown(asio::ip::tcp::socket::shutdown_type what, asio::error_code& ec) {
    if (!web_)
      socket().shutdown(what, ec);
    else if (what == asio::ip::tcp::socket::shutdown_send)
      web_->closeGracefully();
    else
      web_->closeNow();
  }
  void close(asio::error_code& ec) {
    if (web_)
      web_->closeNow();
    else
      socket().close(ec);
  }

  template <typename Buffers, typename Handler>
  void async_read_some(const Buffers& buffers, Handler&& handler) {
    if (web_) {
      asio::mutable_buffer b = *asio::buffer_sequence_begin(buffers);
      web_->readSome(static_cast<char*>(b.data()), b.size(),
                     WebDone(std::forward<Handler>(handler)));
    } else if (tls_) {
      tls_->async_read_some(buffers, std::forward<Handler>(handler));
    } else {
      plain_->async_read_some(buffers, std::forward<Handler>(handler));
    }
  }
  template <typename Buffers, typename Handler>
  void async_write_some(const Buffers& buffers, Handler&& handler) {
    if (web_) {
      std::vector<WebLink::Piece> pieces;
      for (auto it = asio::buffer_sequence_begin(buffers); it != asio::buffer_sequence_end(buffers);
           ++it) {
        asio::const_buffer b = *it;
        if (b.size() > 0) pieces.emplace_back(static_cast<const char*>(b.data()), b.size());
      }
      web_->writeSome(std::move(pieces), WebDone(std::forward<Handler>(handler)));
    } else if (tls_) {
      tls_->async_write_some(buffers, std::forward<Handler>(handler));
    } else {
      plain_->async_write_some(buffers, std::forward<Handler>(handler));
    }
  }

 private:
  // Turns a WebLink result into the handler's call on its executor (the
  // strand), with the error codes a socket would give.
  template <typename Handler>
  WebLink::Done WebDone(Handler&& handler) {
    auto h = std::make_shared<std::decay_t<Handler>>(std::forward<Handler>(handler));
    auto ex = asio::get_associated_executor(*h, webExecutor_);
    return [h, ex](WebLink::Status status, size_t n) {
      asio::error_code ec;
      if (status == WebLink::Status::kEnded)
        ec = asio::error::eof;
      else if (status == WebLink::Status::kFailed)
        ec = asio::error::connection_reset;
      asio::post(ex, [h, ec, n]() mutable { (*h)(ec, n); });
    };
  }

  std::optional<asio::ip::tcp::socket> plain_;
  std::unique_ptr<TlsStream> tls_;
  std::shared_ptr<WebLink> web_;
  executor_type webExecutor_;
};

}  // namespace qz::remote::detail

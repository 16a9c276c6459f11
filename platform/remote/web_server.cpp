// WebServer: HTTP for the page's files and the WebSocket upgrade at /rpc,
// with Boost.Beast on its own I/O thread; BeastLink adapts a WebSocket
// stream to the WebLink a Session uses.
#include "platform/remote/web_server.h"

#include <openssl/ssl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <boost/asio/ssl.hpp>
#include <boost/asio/strand.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/ssl.hpp>
#include <boost/beast/websocket.hpp>
#include <boost/beast/websocket/ssl.hpp>
#include <cstring>
#include <fstream>
#include <mutex>
#include <optional>
#include <sstream>
#include <thread>

#include "platform/core/ascii.h"
#include "platform/log/server_log.h"
#include "platform/remote/linger.h"
#include "platform/remote/peer_certificate.h"
#include "platform/remote/web_files.h"

namespace qz::remote {

namespace {

namespace net = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
namespace websocket = beast::websocket;
using tcp = net::ip::tcp;

constexpr const char* kRpcPath = "/rpc";
// Requests for files are small; a larger header or body is refused.
constexpr size_t kHttpLimit = 16 * 1024;
constexpr auto kHttpTimeout = std::chrono::seconds(30);

using PlainStream = beast::tcp_stream;
using TlsStream = beast::ssl_stream<beast::tcp_stream>;

void CloseLowest(PlainStream& s) {
  beast::error_code ec;
  s.socket().shutdown(tcp::socket::shutdown_both, ec);
  s.close();
}
void CloseLowest(TlsStream& s) { CloseLowest(s.next_layer()); }

// What the server keeps of each WebSocket connection: at its stop, the
// stream is destroyed while the server's event loop still exists, since a
// session (kept by the host's own loop) may outlive the server.
class LinkStream {
 public:
  virtual ~LinkStream() = default;
  // REQUIRES: the server's I/O thread has ended.
  virtual void drop() = 0;
};

// One WebSocket connection as a WebLink. Every operation runs on the
// stream's strand.
template <class Next>
class BeastLink : public WebLink,
                  public LinkStream,
                  public std::enable_shared_from_this<BeastLink<Next>> {
 public:
  explicit BeastLink(websocket::stream<Next> ws) : ws_(std::move(ws)) {
    ws_->text(true);
    ws_->auto_fragment(false);
    ws_->read_message_max(0);  // the session's framer enforces the limit
  }

  void drop() override { ws_.reset(); }

  void readSome(char* buf, size_t cap, Done done) override {
    net::post(ws_->get_executor(), [self = this->shared_from_this(), buf, cap,
                                    done = std::move(done)]() mutable {
      self->ws_->async_read_some(net::buffer(buf, cap - 1), [self, buf, done = std::move(done)](
                                                                beast::error_code ec, size_t n) {
        if (ec) {
          done(ec == websocket::error::closed ? Status::kEnded : Status::kFailed, 0);
          return;
        }
        std::replace_if(
            buf, buf + n, [](char c) { return c == '\n' || c == '\r'; }, ' ');
        if (self->ws_->is_message_done()) buf[n++] = '\n';
        done(Status::kOk, n);
      });
    });
  }

  void writeSome(std::vector<Piece> pieces, Done done) override {
    net::post(ws_->get_executor(), [self = this->shared_from_this(), pieces = std::move(pieces),
                                    done = std::move(done)]() mutable {
      std::vector<net::const_buffer> bufs;
      size_t total = 0;
      bool fin = false;
      for (const Piece& p : pieces) {
        const char* nl = static_cast<const char*>(std::memchr(p.first, '\n', p.second));
        size_t take = nl ? size_t(nl - p.first) : p.second;
        if (take > 0) bufs.emplace_back(p.first, take);
        total += take;
        if (nl) {
          fin = true;
          break;
        }
      }
      self->ws_->async_write_some(
          fin, bufs, [total, fin, done = std::move(done)](beast::error_code ec, size_t n) {
            if (ec)
              done(Status::kFailed, 0);
            else
              done(Status::kOk, fin && n == total ? n + 1 : n);
          });
    });
  }

  void closeGracefully() override {
    net::post(ws_->get_executor(), [self = this->shared_from_this()] {
      if (self->closing_) return;
      self->closing_ = true;
      self->ws_->async_close(websocket::close_code::normal, [self](beast::error_code) {});
    });
  }

  void closeNow() override {
    net::post(ws_->get_executor(),
              [self = this->shared_from_this()] { CloseLowest(self->ws_->next_layer()); });
  }

 private:
  std::optional<websocket::stream<Next>> ws_;
  bool closing_ = false;
};

}  // namespace

class WebServer::Impl {
 public:
  explicit Impl(WebServerOptions options) : options_(std::move(options)) {
    for (std::string& o : options_.origins) {
      o = AsciiLower(o);
      while (!o.empty() && o.back() == '/') o.pop_back();
    }
  }

  void start() {
    for (int fd : options_.listenFds) {
      auto a = std::make_unique<tcp::acceptor>(net::make_strand(ioc_));
      sockaddr_storage addr{};
      socklen_t len = sizeof addr;
      beast::error_code ec;
      if (getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        throw std::runtime_error("web listener " + std::to_string(fd) + " is not a socket");
      }
      a->assign(addr.ss_family == AF_INET6 ? tcp::v6() : tcp::v4(), fd, ec);
      if (ec) throw std::runtime_error("cannot use the web listener: " + ec.message());
      ports_.push_back(a->local_endpoint().port());
      acceptors_.push_back(std::move(a));
    }
    options_.listenFds.clear();
    for (auto& a : acceptors_) accept(*a);
    thread_ = std::thread([this] { runLingering(ioc_); });
  }

  void stop() {
    if (!thread_.joinable()) return;
    net::post(ioc_, [this] {
      for (auto& a : acceptors_) {
        beast::error_code ec;
        a->close(ec);
      }
    });
    work_.reset();
    ioc_.stop();
    thread_.join();
    std::lock_guard<std::mutex> lock(linksMu_);
    for (auto& w : links_) {
      if (auto l = w.lock()) l->drop();
    }
    links_.clear();
  }

  void keep(std::shared_ptr<LinkStream> link) {
    std::lock_guard<std::mutex> lock(linksMu_);
    std::erase_if(links_, [](const std::weak_ptr<LinkStream>& w) { return w.expired(); });
    links_.push_back(link);
  }

  ~Impl() {
    stop();
    for (int fd : options_.listenFds) ::close(fd);
  }

  std::vector<uint16_t> ports() const { return ports_; }

  const WebServerOptions& options() const { return options_; }
  SSL_CTX* tls() const { return options_.tls; }
  net::ssl::context* boostTls() { return boostTls_ ? &*boostTls_ : nullptr; }

  bool originAllowed(std::string_view origin) const {
    if (origin.empty() || options_.origins.empty()) return true;
    std::string o = AsciiLower(std::string(origin));
    return std::find(options_.origins.begin(), options_.origins.end(), o) != options_.origins.end();
  }

  void initTls() {
    if (!options_.tls) return;
    // The same context (certificates, client check) as the socket transport.
    SSL_CTX_up_ref(options_.tls);
    boostTls_.emplace(options_.tls);
  }

 private:
  void accept(tcp::acceptor& a);

  WebServerOptions options_;
  net::io_context ioc_{1};
  std::optional<net::executor_work_guard<net::io_context::executor_type>> work_{
      ioc_.get_executor()};
  std::optional<net::ssl::context> boostTls_;
  std::vector<std::unique_ptr<tcp::acceptor>> acceptors_;
  std::vector<uint16_t> ports_;
  std::thread thread_;
  std::mutex linksMu_;
  std::vector<std::weak_ptr<LinkStream>> links_;
};

namespace {

// One HTTP connection: serves files until it asks for the WebSocket.
template <class Stream>
class HttpConn : public std::enable_shared_from_this<HttpConn<Stream>> {
 public:
  HttpConn(WebServer::Impl& server, Stream stream, std::string address, uint16_t port)
      : server_(server), stream_(std::move(stream)), address_(std::move(address)), port_(port) {}

  void start() {
    if constexpr (std::is_same_v<Stream, TlsStream>) {
      beast::get_lowest_layer(stream_).expires_after(kHttpTimeout);
      stream_.async_handshake(
          net::ssl::stream_base::server, [self = this->shared_from_this()](beast::error_code ec) {
            if (ec) {
              log::warning("TLS handshake with web client " + self->address_ +
                           " failed: " + ec.message());
              return;
            }
            self->subject_ = PeerCertificateSubject(self->stream_.native_handle());
            self->readRequest();
          });
    } else {
      readRequest();
    }
  }

 private:
  void readRequest() {
    parser_.emplace();
    parser_->header_limit(kHttpLimit);
    parser_->body_limit(kHttpLimit);
    beast::get_lowest_layer(stream_).expires_after(kHttpTimeout);
    http::async_read(stream_, buffer_, *parser_,
                     [self = this->shared_from_this()](beast::error_code ec, size_t) {
                       if (ec) return;  // closed, timed out or not HTTP
                       self->onRequest();
                     });
  }

  void onRequest() {
    http::request<http::string_body> req = parser_->release();
    const std::string target(req.target());
    if (websocket::is_upgrade(req)) {
      if (target != kRpcPath) return respond(req, http::status::not_found, "Not found\n");
      const std::string origin(req[http::field::origin]);
      if (!server_.originAllowed(origin)) {
        log::warning("refused WebSocket from " + address_ + ": origin " + origin + " not allowed");
        return respond(req, http::status::forbidden, "Origin not allowed\n");
      }
      beast::get_lowest_layer(stream_).expires_never();
      auto ws = std::make_shared<websocket::stream<Stream>>(std::move(stream_));
      ws->set_option(websocket::stream_base::timeout::suggested(beast::role_type::server));
      ws->set_option(websocket::stream_base::decorator(
          [](websocket::response_type& res) { res.set(http::field::server, "qzserver"); }));
      auto& srv = server_;
      ws->async_accept(req, [ws, &srv, address = address_, port = port_,
                             subject = subject_](beast::error_code ec) {
        if (ec) return;
        auto link = std::make_shared<BeastLink<Stream>>(std::move(*ws));
        srv.keep(link);
        srv.options().take(std::move(link), address, port, subject);
      });
      return;
    }
    if (req.method() != http::verb::get && req.method() != http::verb::head)
      return respond(req, http::status::method_not_allowed, "Method not allowed\n");
    auto path = WebFilePath(server_.options().root, target);
    if (!path) return respond(req, http::status::not_found, "Not found\n");
    std::ifstream in(*path, std::ios::binary);
    std::ostringstream body;
    body << in.rdbuf();
    if (!in) return respond(req, http::status::not_found, "Not found\n");
    respond(req, http::status::ok, body.str(), WebContentType(*path));
  }

  void respond(const http::request<http::string_body>& req, http::status status, std::string body,
               std::string type = "text/plain; charset=utf-8") {
    auto res = std::make_shared<http::response<http::string_body>>(status, req.version());
    res->set(http::field::server, "qzserver");
    res->set(http::field::content_type, type);
    res->set(http::field::cache_control, "no-cache");
    res->set("X-Content-Type-Options", "nosniff");
    res->keep_alive(req.keep_alive() && status == http::status::ok);
    const bool head = req.method() == http::verb::head;
    const size_t length = body.size();
    if (!head) res->body() = std::move(body);
    res->content_length(length);
    http::async_write(stream_, *res,
                      [self = this->shared_from_this(), res](beast::error_code ec, size_t) {
                        if (ec || !res->keep_alive()) {
                          CloseLowest(self->stream_);
                          return;
                        }
                        self->readRequest();
                      });
  }

  WebServer::Impl& server_;
  Stream stream_;
  std::string address_;
  uint16_t port_;
  std::string subject_;  // of the client's certificate, over TLS
  beast::flat_buffer buffer_;
  std::optional<http::request_parser<http::string_body>> parser_;
};

}  // namespace

void WebServer::Impl::accept(tcp::acceptor& a) {
  a.async_accept(net::make_strand(ioc_), [this, &a](beast::error_code ec, tcp::socket socket) {
    if (ec == net::error::operation_aborted || !a.is_open()) return;
    if (!ec) {
      beast::error_code ignored;
      auto remote = socket.remote_endpoint(ignored);
      net::ip::address addr = remote.address();
      if (addr.is_v6() && addr.to_v6().is_v4_mapped())
        addr = net::ip::make_address_v4(net::ip::v4_mapped, addr.to_v6());
      const std::string address = addr.to_string();
      if (!ignored && (!options_.admits || options_.admits(address))) {
        socket.set_option(tcp::no_delay(true), ignored);
        if (boostTls_) {
          std::make_shared<HttpConn<TlsStream>>(
              *this, TlsStream(beast::tcp_stream(std::move(socket)), *boostTls_), address,
              remote.port())
              ->start();
        } else {
          std::make_shared<HttpConn<PlainStream>>(*this, PlainStream(std::move(socket)), address,
                                                  remote.port())
              ->start();
        }
      }
      accept(a);
      return;
    }
    // Transient (out of descriptors): try again after a pause.
    auto timer = std::make_shared<net::steady_timer>(ioc_, std::chrono::milliseconds(100));
    timer->async_wait([this, &a, timer](beast::error_code e) {
      if (!e) accept(a);
    });
  });
}

WebServer::WebServer(WebServerOptions options) : impl_(std::make_unique<Impl>(std::move(options))) {
  impl_->initTls();
}
WebServer::~WebServer() { impl_->stop(); }
void WebServer::start() { impl_->start(); }
void WebServer::stop() { impl_->stop(); }
std::vector<uint16_t> WebServer::ports() const { return impl_->ports(); }

}  // namespace qz::remote

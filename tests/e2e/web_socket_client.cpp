// WebSocketClient with Boost.Beast's synchronous calls; one class template
// for the plain and the TLS stream behind one interface.
#include "tests/e2e/web_socket_client.h"

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/ssl.hpp>
#include <boost/beast/websocket.hpp>
#include <boost/beast/websocket/ssl.hpp>

namespace qz::testing {

namespace net = boost::asio;
namespace beast = boost::beast;
namespace websocket = beast::websocket;
using tcp = net::ip::tcp;

// The event loop and TLS settings, which the stream of a derived class
// uses and which therefore are constructed before it.
class WebSocketClient::Impl {
 public:
  virtual ~Impl() = default;
  virtual void send(const std::string& text) = 0;
  virtual std::string read() = 0;

 protected:
  net::io_context ioc_;
  net::ssl::context tls_{net::ssl::context::tls_client};
};

namespace {

void Connect(tcp::socket& s, int port, const std::string& from) {
  s.open(tcp::v4());
  if (!from.empty()) s.bind(tcp::endpoint(net::ip::make_address(from), 0));
  s.connect(tcp::endpoint(net::ip::make_address("127.0.0.1"), static_cast<uint16_t>(port)));
}

class Plain : public WebSocketClient::Impl {
 public:
  Plain(int port, const WebSocketClient::Options& o) : ws_(ioc_) {
    Connect(ws_.next_layer(), port, o.from);
    ws_.handshake("127.0.0.1:" + std::to_string(port), "/rpc");
    ws_.text(true);
  }
  void send(const std::string& text) override { ws_.write(net::buffer(text)); }
  std::string read() override {
    beast::flat_buffer buf;
    ws_.read(buf);
    return beast::buffers_to_string(buf.data());
  }

 private:
  websocket::stream<tcp::socket> ws_;
};

class Secure : public WebSocketClient::Impl {
 public:
  Secure(int port, const WebSocketClient::Options& o) : ws_(ioc_, Setup(tls_, o)) {
    Connect(ws_.next_layer().next_layer(), port, o.from);
    ws_.next_layer().handshake(net::ssl::stream_base::client);
    ws_.handshake("127.0.0.1:" + std::to_string(port), "/rpc");
    ws_.text(true);
  }
  void send(const std::string& text) override { ws_.write(net::buffer(text)); }
  std::string read() override {
    beast::flat_buffer buf;
    ws_.read(buf);
    return beast::buffers_to_string(buf.data());
  }

 private:
  static net::ssl::context& Setup(net::ssl::context& tls, const WebSocketClient::Options& o) {
    tls.load_verify_file(o.trust->cert);
    tls.set_verify_mode(net::ssl::verify_peer);
    tls.set_verify_callback(net::ssl::host_name_verification("127.0.0.1"));
    if (o.who) {
      tls.use_certificate_chain_file(o.who->cert);
      tls.use_private_key_file(o.who->key, net::ssl::context::pem);
    }
    return tls;
  }
  websocket::stream<net::ssl::stream<tcp::socket>> ws_;
};

}  // namespace

WebSocketClient::WebSocketClient(int port, const Options& options) {
  if (options.trust)
    impl_ = std::make_unique<Secure>(port, options);
  else
    impl_ = std::make_unique<Plain>(port, options);
}

WebSocketClient::~WebSocketClient() = default;
void WebSocketClient::send(const std::string& text) { impl_->send(text); }
std::string WebSocketClient::read() { return impl_->read(); }

}  // namespace qz::testing

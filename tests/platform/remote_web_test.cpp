// The web transport over real sockets: a WebSocket client (Boost.Beast,
// blocking) against a Host listening on a free port.
#include <gtest/gtest.h>

#include <boost/asio/connect.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/websocket.hpp>
#include <filesystem>
#include <fstream>

#include "platform/remote/host.h"
#include "platform/remote/json_rpc.h"
#include "tests/platform/remote_test_support.h"

namespace qz::remote::testing {
namespace {

namespace net = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
namespace websocket = beast::websocket;

// One WebSocket connection to /rpc.
class WebClient {
 public:
  explicit WebClient(uint16_t port, const std::string& origin = "") : ws_(ioc_) {
    net::ip::tcp::endpoint ep(net::ip::make_address("127.0.0.1"), port);
    ws_.next_layer().connect(ep);
    ws_.set_option(websocket::stream_base::decorator([origin](websocket::request_type& req) {
      if (!origin.empty()) req.set(http::field::origin, origin);
    }));
    ws_.handshake("127.0.0.1:" + std::to_string(port), "/rpc");
    ws_.text(true);
  }
  void send(const std::string& text) { ws_.write(net::buffer(text)); }
  // The next message whole; *frames: how many reads it took.
  rapidjson::Document read(int* frames = nullptr) {
    beast::flat_buffer buf;
    int n = 0;
    do {
      ws_.read_some(buf, 64 * 1024);
      ++n;
    } while (!ws_.is_message_done());
    if (frames) *frames = n;
    rapidjson::Document d;
    std::string text = beast::buffers_to_string(buf.data());
    d.Parse(text.c_str());
    if (d.HasParseError()) throw std::runtime_error("not JSON: " + text.substr(0, 200));
    return d;
  }
  void close() { ws_.close(websocket::close_code::normal); }
  void drop() { ws_.next_layer().close(); }
  websocket::stream<net::ip::tcp::socket>& ws() { return ws_; }

 private:
  net::io_context ioc_;
  websocket::stream<net::ip::tcp::socket> ws_;
};

std::string Req(int id, std::string_view method, std::string_view params = "") {
  return LineClient::request(id, method, params);
}

class WebHost {
 public:
  explicit WebHost(Probe& probe, std::function<void(HostOptions&)> adjust = {}) {
    HostOptions o;
    o.classes.push_back(testClass(probe));
    o.listen = {"127.0.0.1:0"};
    o.listenWeb = {"127.0.0.1:0"};
    if (adjust) adjust(o);
    host = std::make_unique<Host>(std::move(o), loop.loop);
    host->start();
    port = host->webPorts().at(0);
  }
  LoopThread loop;
  std::unique_ptr<Host> host;
  uint16_t port = 0;
};

TEST(WebTransportTest, AnswersComeInTheOrderOfTheRequests) {
  Probe probe;
  WebHost h(probe);
  WebClient c(h.port);
  c.send(Req(1, "create", R"({"class":"echo_dm"})"));
  // Pipelined: the slow call's answer must still come before the fast ones.
  c.send(Req(2, "sleep", R"({"ms":150})"));
  for (int id = 3; id <= 6; ++id) c.send(Req(id, "count"));
  for (int id = 1; id <= 6; ++id) {
    rapidjson::Document d = c.read();
    ASSERT_TRUE(d.HasMember("result")) << id;
    EXPECT_EQ(d["id"].GetInt(), id);
    if (id >= 3) {
      EXPECT_EQ(d["result"].GetInt(), id - 2);
    }
  }
}

TEST(WebTransportTest, ClosingReleasesTheInstanceAndRollsBack) {
  for (bool orderly : {true, false}) {
    SCOPED_TRACE(orderly ? "close handshake" : "connection dropped");
    Probe probe;
    WebHost h(probe);
    WebClient c(h.port);
    c.send(Req(1, "create", R"({"class":"echo_dm"})"));
    c.send(Req(2, "begin"));
    c.read();
    c.read();
    EXPECT_EQ(h.host->instanceCount(), 1u);
    if (orderly)
      c.close();
    else
      c.drop();
    EXPECT_TRUE(waitFor([&] { return probe.released == 1 && h.host->instanceCount() == 0; }));
    EXPECT_EQ(probe.rolledBack, 1);
  }
}

TEST(WebTransportTest, CreateAsksTheWebValueNotTheSocketsOne) {
  struct Case {
    bool sockets, web, created;
  };
  for (Case k : {Case{true, false, false}, Case{false, true, true}}) {
    Probe probe;
    WebHost h(probe, [&](HostOptions& o) {
      o.classes[0].socketsEnabled = [k] { return k.sockets; };
      o.classes[0].webEnabled = [k] { return k.web; };
    });
    WebClient c(h.port);
    c.send(Req(1, "create", R"({"class":"echo_dm"})"));
    rapidjson::Document d = c.read();
    EXPECT_EQ(d.HasMember("result"), k.created) << k.sockets << k.web;
    if (!k.created) {
      EXPECT_STREQ(d["error"]["message"].GetString(), "Class not registered");
      EXPECT_STREQ(d["error"]["data"]["hresult"].GetString(), "0x80040154");
    }
  }
}

TEST(WebTransportTest, AnOversizedMessageIsRefusedAndEndsTheConnection) {
  Probe probe;
  WebHost h(probe, [](HostOptions& o) { o.maxMessage = 4096; });
  WebClient c(h.port);
  c.send(Req(1, "create", R"({"class":"echo_dm"})"));
  c.send(Req(2, "echo", R"({"s":")" + std::string(8000, 'y') + "\"}"));
  EXPECT_TRUE(c.read().HasMember("result"));
  rapidjson::Document d = c.read();
  ASSERT_TRUE(d.HasMember("error"));
  EXPECT_EQ(d["error"]["code"].GetInt(), kInvalidRequest);
  EXPECT_NE(std::string(d["error"]["message"].GetString()).find("Message too large"),
            std::string::npos);
  EXPECT_THROW(c.read(), boost::system::system_error);
  EXPECT_TRUE(waitFor([&] { return h.host->instanceCount() == 0; }));
}

TEST(WebTransportTest, ALargeAnswerLeavesInFragmentsAndArrivesWhole) {
  Probe probe;
  WebHost h(probe);
  WebClient c(h.port);
  c.send(Req(1, "create", R"({"class":"echo_dm"})"));
  c.read();
  const int n = 30000;  // several megabytes
  c.send(Req(2, "rows", "{\"n\":" + std::to_string(n) + "}"));
  c.send(Req(3, "count"));
  int frames = 0;
  rapidjson::Document d = c.read(&frames);
  ASSERT_TRUE(d.HasMember("result"));
  ASSERT_EQ(d["result"].Size(), static_cast<rapidjson::SizeType>(n));
  EXPECT_EQ(d["result"][n - 1][1].GetString(), rowText(n - 1));
  EXPECT_GT(frames, 10);
  EXPECT_EQ(c.read()["id"].GetInt(), 3);
}

TEST(WebTransportTest, PageOriginsOutsideTheListAreRefused) {
  Probe probe;
  WebHost h(probe, [](HostOptions& o) { o.webOrigins = {"http://desk.example:8080"}; });
  struct Case {
    std::string origin;
    bool admitted;
  };
  for (const Case& k : {Case{"", true}, Case{"http://DESK.example:8080", true},
                        Case{"http://evil.example", false}}) {
    if (k.admitted) {
      EXPECT_NO_THROW(WebClient(h.port, k.origin)) << k.origin;
    } else {
      EXPECT_THROW(WebClient(h.port, k.origin), boost::system::system_error) << k.origin;
    }
  }
}

TEST(WebTransportTest, ServesThePageFilesAndNothingOutsideTheirFolder) {
  const auto root = std::filesystem::temp_directory_path() / ("qz-web-" + std::to_string(getpid()));
  std::filesystem::create_directories(root / "sub");
  std::ofstream(root / "index.html") << "<p>page</p>";
  std::ofstream(root / "sub" / "app.js") << "let x = 1;";
  Probe probe;
  WebHost h(probe, [&](HostOptions& o) { o.webRoot = (root / "sub").string(); });
  struct Case {
    std::string target;
    unsigned status;
    std::string type;
  };
  for (const Case& k :
       {Case{"/app.js?v=2", 200, "text/javascript; charset=utf-8"}, Case{"/../index.html", 404, ""},
        Case{"/%2e%2e/index.html", 404, ""}, Case{"/missing.css", 404, ""}}) {
    net::io_context ioc;
    beast::tcp_stream s(ioc);
    s.connect(net::ip::tcp::endpoint(net::ip::make_address("127.0.0.1"), h.port));
    http::request<http::empty_body> req(http::verb::get, k.target, 11);
    req.set(http::field::host, "127.0.0.1");
    http::write(s, req);
    beast::flat_buffer buf;
    http::response<http::string_body> res;
    http::read(s, buf, res);
    EXPECT_EQ(res.result_int(), k.status) << k.target;
    if (k.status == 200) {
      EXPECT_EQ(res[http::field::content_type], k.type);
      EXPECT_EQ(res.body(), "let x = 1;");
    }
  }
  std::filesystem::remove_all(root);
}

}  // namespace
}  // namespace qz::remote::testing

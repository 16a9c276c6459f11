// The client decoding a packet while its answer arrives, against a scripted
// server that sends each answer in small pieces: the packet comes out
// whole, a malformed packet is refused without putting the connection out
// of step, and an answer cut off by a closing server is an error.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <rapidjson/document.h>
#include <sys/socket.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "client/connection.h"
#include "platform/packet/json_packet.h"

namespace qz::client {
namespace {

// Answers each request line read with the next scripted reply (a function
// of the request's id), written piece by piece with pauses so that the
// client receives it in many reads. An empty reply closes the connection
// after sending what the next reply's prefix holds. One client.
class PieceServer {
 public:
  using Reply = std::function<std::string(int64_t id)>;

  PieceServer(std::vector<Reply> replies, size_t pieceSize)
      : replies_(std::move(replies)), pieceSize_(pieceSize) {
    listenFd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    ::listen(listenFd_, 1);
    socklen_t len = sizeof addr;
    ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(addr.sin_port);
    thread_ = std::thread([this] { serve(); });
  }
  ~PieceServer() {
    ::shutdown(listenFd_, SHUT_RDWR);
    ::close(listenFd_);
    thread_.join();
  }

  std::string address() const { return "127.0.0.1:" + std::to_string(port_); }

 private:
  void serve() {
    int fd = ::accept(listenFd_, nullptr, nullptr);
    if (fd < 0) return;
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    std::string in;
    for (const Reply& reply : replies_) {
      size_t nl;
      while ((nl = in.find('\n')) == std::string::npos) {
        char buf[4096];
        ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0) {
          ::close(fd);
          return;
        }
        in.append(buf, static_cast<size_t>(n));
      }
      rapidjson::Document req;
      req.Parse(in.data(), nl);
      in.erase(0, nl + 1);
      const std::string out = reply(req.HasParseError() ? 0 : req["id"].GetInt64());
      for (size_t pos = 0; pos < out.size(); pos += pieceSize_) {
        std::string_view piece = std::string_view(out).substr(pos, pieceSize_);
        if (::send(fd, piece.data(), piece.size(), MSG_NOSIGNAL) < 0) break;
        std::this_thread::sleep_for(std::chrono::microseconds(100));
      }
    }
    ::close(fd);
  }

  std::vector<Reply> replies_;
  size_t pieceSize_;
  int listenFd_ = -1;
  uint16_t port_ = 0;
  std::thread thread_;
};

provider::DataPacket guestsPacket() {
  provider::DataPacket p;
  auto field = [&](const char* name, db::FieldType t) {
    db::FieldDef f;
    f.name = name;
    f.type = t;
    p.fields.push_back(f);
  };
  field("id", db::FieldType::Int32);
  field("name", db::FieldType::String);
  field("arrived", db::FieldType::DateTime);
  for (int i = 0; i < 20; ++i) {
    provider::DataRow r;
    r.values = {Variant(int32_t(i)),
                Variant("游客 \"" + std::to_string(i) + "\" caf\xC3\xA9 \\ \xF0\x9F\x98\x80"),
                Variant(DateTime::fromParts(2024, 3, 1 + i % 28, 14, 5))};
    p.rows.push_back(std::move(r));
  }
  return p;
}

std::string createReply(int64_t id) {
  return R"({"jsonrpc":"2.0","id":)" + std::to_string(id) +
         R"(,"result":{"class":"g","progid":"p","clsid":"c","interface":"i","iid":"d"}})"
         "\n";
}

std::string recordsReply(int64_t id, const std::string& packetJson) {
  return R"({"jsonrpc":"2.0","id":)" + std::to_string(id) + R"(,"result":{"data":)" + packetJson +
         R"(,"recsOut":20,"params":[],"ownerData":"caf\u00e9"}})"
         "\r\n";
}

std::string countReply(int64_t id) {
  return R"({"jsonrpc":"2.0","id":)" + std::to_string(id) +
         R"(,"result":{"ok":true}})"
         "\n";
}

void expectGuests(const RecordsResult& r) {
  const provider::DataPacket want = guestsPacket();
  ASSERT_EQ(want.rows.size(), r.data.rows.size());
  for (size_t i = 0; i < want.rows.size(); ++i)
    EXPECT_TRUE(want.rows[i].values == r.data.rows[i].values) << "row " << i;
  EXPECT_EQ(20, r.recsOut);
  EXPECT_EQ("caf\xC3\xA9", r.ownerData.asString());
}

TEST(ClientStreamingTest, PacketArrivingInOddPiecesIsDecodedWhole) {
  // Pieces of 1, 3 and 7 bytes split every character, escape and number.
  const std::string packet = provider::encodePacket(guestsPacket());
  for (size_t piece : {1u, 3u, 7u}) {
    SCOPED_TRACE("pieces of " + std::to_string(piece));
    PieceServer server({createReply, [&](int64_t id) { return recordsReply(id, packet); },
                        [&](int64_t id) { return recordsReply(id, packet); }},
                       piece);
    auto c = Connection::open(server.address());
    c->create("g");
    expectGuests(c->getRecords("guestQ"));
    expectGuests(c->getRecords("guestQ"));  // the next answer starts in step
  }
}

TEST(ClientStreamingTest, AnswerReceivedTogetherWithThePreviousLineIsDecoded) {
  // The records answer arrives in the same read as the create answer: it
  // is decoded from what the socket had already buffered.
  const std::string packet = provider::encodePacket(guestsPacket());
  PieceServer server({[&](int64_t id) { return createReply(id) + recordsReply(id + 1, packet); },
                      [](int64_t) { return std::string(); },
                      [&](int64_t id) { return recordsReply(id, packet) + countReply(id + 1); },
                      [](int64_t) { return std::string(); }},
                     1 << 20);
  auto c = Connection::open(server.address());
  c->create("g");
  expectGuests(c->getRecords("guestQ"));
  expectGuests(c->getRecords("guestQ"));
  EXPECT_TRUE(c->call("count")["ok"].GetBool());
}

TEST(ClientStreamingTest, MalformedPacketIsRefusedAndTheNextAnswerIsReadInStep) {
  std::string bad = provider::encodePacket(guestsPacket());
  bad.replace(bad.find("2024-03-05"), 10, "2024-13-99");
  PieceServer server({createReply, [&](int64_t id) { return recordsReply(id, bad); },
                      [&](int64_t id) { return countReply(id); }},
                     5);
  auto c = Connection::open(server.address());
  c->create("g");
  try {
    c->getRecords("guestQ");
    FAIL() << "a malformed packet was accepted";
  } catch (const TransportError& e) {
    EXPECT_NE(std::string::npos, std::string(e.what()).find("malformed packet")) << e.what();
  }
  // The rest of the bad answer was read past: the next call gets its own.
  EXPECT_TRUE(c->call("count")["ok"].GetBool());
}

TEST(ClientStreamingTest, AnswerCutOffByTheServerIsATransportError) {
  const std::string packet = provider::encodePacket(guestsPacket());
  PieceServer server({createReply,
                      [&](int64_t id) {
                        std::string whole = recordsReply(id, packet);
                        return whole.substr(0, whole.size() / 2);
                      }},
                     64);
  auto c = Connection::open(server.address());
  c->create("g");
  try {
    c->getRecords("guestQ");
    FAIL() << "a cut-off answer was accepted";
  } catch (const TransportError& e) {
    EXPECT_NE(std::string::npos, std::string(e.what()).find("closed the connection")) << e.what();
  }
  EXPECT_THROW(c->call("count"), TransportError) << "the connection is closed after it";
}

TEST(ClientStreamingTest, ErrorAnswerToARecordsRequestIsACallError) {
  PieceServer server({createReply,
                      [](int64_t id) {
                        return R"({"jsonrpc":"2.0","id":)" + std::to_string(id) +
                               R"(,"error":{"code":2,"message":"Provider not exported: guestQ"}})"
                               "\n";
                      },
                      [](int64_t id) { return countReply(id); }},
                     2);
  auto c = Connection::open(server.address());
  c->create("g");
  try {
    c->getRecords("guestQ");
    FAIL() << "no error";
  } catch (const CallError& e) {
    EXPECT_STREQ("Provider not exported: guestQ", e.what());
  }
  EXPECT_TRUE(c->call("count")["ok"].GetBool());
}

}  // namespace
}  // namespace qz::client

// Pieces shared by the object-hosting tests: a small test object, a probe
// recording what instances did, and a blocking line client on a real TCP
// socket.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>

#include "client/line_socket.h"
#include "platform/packet/partial_output.h"
#include "platform/remote/event_loop_dispatcher.h"
#include "platform/remote/host.h"

namespace qz::remote::testing {

inline size_t threadKey() { return std::hash<std::thread::id>()(std::this_thread::get_id()); }

// What the instances of one test did; shared by all of them.
struct Probe {
  std::atomic<int> created{0};
  std::atomic<int> released{0};
  std::atomic<int> rolledBack{0};
  std::atomic<int> destroyed{0};
  std::atomic<size_t> factoryThread{0};
  std::atomic<bool> failCreate{false};
  std::atomic<int> sleepsFinished{0};
  std::atomic<int> sleepsFinishedAtRelease{-1};
  std::atomic<int> rowsWritten{0};
};

// The text of row i of the "rows" method: long enough that a few thousand
// rows make an answer that leaves in parts, with characters that need
// escaping and some of more than one byte.
inline std::string rowText(int i) {
  return "row " + std::to_string(i) + " \"quoted\" back\\slash caf\u00e9 \u6e38\u5ba2 " +
         std::string(40, static_cast<char>('a' + i % 26));
}

// Methods: echo (result = params), count (1, 2, ... per instance), thread
// (the module thread's key), sleep {ms}, begin (opens a pretend
// transaction), commit, fail (RemoteError with an hresult), throw
// (std::runtime_error), silent (writes nothing), big {n} (a string of n
// 'x'), rows {n, failAt} (n rows [i, text] offered to the connection as
// they are written, like a provider's; std::runtime_error before row
// failAt). Anything else: -32601.
class TestObject : public RemoteObject {
 public:
  explicit TestObject(Probe& probe) : probe_(probe) { ++probe_.created; }
  ~TestObject() override { ++probe_.destroyed; }

  void call(std::string_view method, const rapidjson::Value& params, JsonWriter& w) override {
    if (method == "echo") {
      params.Accept(w);
    } else if (method == "count") {
      w.Int(++count_);
    } else if (method == "thread") {
      w.Uint64(threadKey());
    } else if (method == "sleep") {
      int ms = params.HasMember("ms") && params["ms"].IsInt() ? params["ms"].GetInt() : 0;
      std::this_thread::sleep_for(std::chrono::milliseconds(ms));
      ++probe_.sleepsFinished;
      w.StartObject();
      w.Key("thread");
      w.Uint64(threadKey());
      w.EndObject();
    } else if (method == "begin") {
      inTransaction_ = true;
      w.StartObject();
      w.EndObject();
    } else if (method == "commit") {
      inTransaction_ = false;
      w.StartObject();
      w.EndObject();
    } else if (method == "fail") {
      w.StartObject();  // half-written results must not leak into the answer
      w.Key("partial");
      throw RemoteError("Provider not exported: nosuchP", 0x80004005);
    } else if (method == "throw") {
      throw std::runtime_error("disk on fire");
    } else if (method == "silent") {
    } else if (method == "big") {
      std::string s(static_cast<size_t>(params["n"].GetInt()), 'x');
      w.String(s.c_str(), static_cast<rapidjson::SizeType>(s.size()));
    } else if (method == "rows") {
      const int n = params["n"].GetInt();
      const int failAt = params.HasMember("failAt") ? params["failAt"].GetInt() : -1;
      w.StartArray();
      for (int i = 0; i < n; ++i) {
        if (i == failAt) throw std::runtime_error("the cursor broke");
        w.StartArray();
        w.Int(i);
        w.String(rowText(i).c_str());
        w.EndArray();
        ++probe_.rowsWritten;
        provider::offerPartialOutput(w);
      }
      w.EndArray();
    } else {
      throw RemoteError("Method not found: " + std::string(method), 0, {}, {}, -32601);
    }
  }

  void release() noexcept override {
    if (inTransaction_) ++probe_.rolledBack;
    inTransaction_ = false;
    probe_.sleepsFinishedAtRelease = probe_.sleepsFinished.load();
    ++probe_.released;
  }

 private:
  Probe& probe_;
  int count_ = 0;
  bool inTransaction_ = false;
};

inline HostedClass testClass(Probe& probe, std::function<bool()> sockets = {}) {
  HostedClass c;
  c.name = "echo_dm";
  c.progId = "TestServer.echo_dm";
  c.clsid = "{11111111-2222-3333-4444-555555555555}";
  c.interfaceName = "Iecho_dm";
  c.iid = "{AAAAAAAA-BBBB-CCCC-DDDD-EEEEEEEEEEEE}";
  c.factory = [&probe]() -> std::unique_ptr<RemoteObject> {
    probe.factoryThread = threadKey();
    if (probe.failCreate) throw std::runtime_error("cannot open the database");
    return std::make_unique<TestObject>(probe);
  };
  c.socketsEnabled = std::move(sockets);
  return c;
}

// A window thread of its own: an EventLoopDispatcher running on a thread.
class LoopThread {
 public:
  LoopThread() : thread_([this] { loop.run(); }) {
    while (!loop.running()) std::this_thread::yield();
  }
  ~LoopThread() {
    loop.quit();
    thread_.join();
  }
  EventLoopDispatcher loop;

 private:
  std::thread thread_;
};

// A blocking client speaking lines over a real TCP connection, through the
// client library's LineSocket; send() takes any bytes, malformed ones too.
class LineClient {
 public:
  explicit LineClient(uint16_t port) {
    socket_.connect("127.0.0.1:" + std::to_string(port), std::chrono::seconds(5));
  }

  void send(std::string_view bytes) { socket_.send(bytes); }

  // The next line without its '\n'; nullopt on end of stream or timeout
  // (timedOut() tells which).
  std::optional<std::string> readLine(int timeoutMs = 5000) {
    timedOut_ = false;
    std::string line;
    try {
      if (socket_.readLineInto(&line, std::chrono::milliseconds(timeoutMs))) return line;
    } catch (const qz::client::ReadTimeout&) {
      timedOut_ = true;
    } catch (const std::exception&) {
      // A reset connection ends like a closed one.
    }
    return std::nullopt;
  }
  bool timedOut() const { return timedOut_; }

  // Reads one answer as a document; fails the test's expectations loudly
  // by throwing when none arrives.
  rapidjson::Document readAnswer(int timeoutMs = 5000) {
    auto line = readLine(timeoutMs);
    if (!line) throw std::runtime_error(timedOut_ ? "no answer (timeout)" : "connection closed");
    rapidjson::Document d;
    d.Parse(line->c_str());
    if (d.HasParseError()) throw std::runtime_error("answer is not JSON: " + *line);
    return d;
  }

  static std::string request(int id, std::string_view method, std::string_view params = "") {
    std::string s = "{\"jsonrpc\":\"2.0\",\"id\":" + std::to_string(id) + ",\"method\":\"" +
                    std::string(method) + "\"";
    if (!params.empty()) s += ",\"params\":" + std::string(params);
    return s + "}\n";
  }

  rapidjson::Document call(std::string_view method, std::string_view params = "") {
    send(request(++lastId_, method, params));
    return readAnswer();
  }

  void shutdownWrite() { socket_.shutdownWrite(); }
  void close() { socket_.close(); }

 private:
  qz::client::LineSocket socket_;
  int lastId_ = 0;
  bool timedOut_ = false;
};

inline std::string errorMessage(const rapidjson::Value& answer) {
  if (!answer.HasMember("error")) return "";
  return answer["error"]["message"].GetString();
}
inline int errorCode(const rapidjson::Value& answer) {
  if (!answer.HasMember("error")) return 0;
  return answer["error"]["code"].GetInt();
}

template <typename Pred>
bool waitFor(Pred pred, int timeoutMs = 5000) {
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (std::chrono::steady_clock::now() < end) {
    if (pred()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return pred();
}

}  // namespace qz::remote::testing

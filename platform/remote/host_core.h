// HostCore: the shared state of a running Host that its connections use.
// Internal to this folder; clients include host.h.
//
// Invariants: every module thread that was started is either owned by a
// Session (its live instance), running the creation handshake on the
// creation worker, or parked in retired_ until joined. liveInstances_
// counts instances whose factory succeeded and whose module thread has not
// yet handed itself to retired_.
#pragma once

#include <asio.hpp>
#include <asio/ssl/context.hpp>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "platform/remote/answer_budget.h"
#include "platform/remote/host.h"
#include "platform/remote/small_thread.h"
#include "platform/remote/web_server.h"

namespace qz::remote {
// "127.0.0.1:5211", "[::1]:5211"; an IPv4 client on an IPv6 socket shows as
// the IPv4 address.
std::string EndpointText(const asio::ip::tcp::endpoint& e);
}  // namespace qz::remote

namespace qz::remote::detail {

class Session;
struct Call;

// One hosted instance: its class, its object and its module thread.
struct Instance {
  explicit Instance(const HostedClass& c) : cls(c) {}
  const HostedClass& cls;
  std::unique_ptr<RemoteObject> object;  // touched only by the module thread
  SmallThread thread;
  // Creation handshake between the module thread and the creation worker.
  std::mutex mu;
  std::condition_variable cv;
  bool createDone = false;
  std::exception_ptr createError;
};

// Thread-safe unless a member says otherwise.
class HostCore {
 public:
  HostCore(HostOptions options, UiDispatcher& dispatcher);
  ~HostCore();

  HostCore(const HostCore&) = delete;
  HostCore& operator=(const HostCore&) = delete;

  void start();
  void stop();
  size_t instanceCount() const;
  std::vector<uint16_t> ports() const;
  std::vector<uint16_t> webPorts() const;

  const HostOptions& options() const { return options_; }
  AnswerBudget& answerBudget() { return answerBudget_; }
  size_t answerBytesHeld() const { return answerBudget_.held(); }

  // Queues a "create" for the creation worker. The session gets the outcome
  // through Session::createFinished().
  void submitCreate(std::shared_ptr<Session> session, std::unique_ptr<Call> call);

  // A module thread hands over its instance when it ends (the object is
  // already released); the thread is joined later. Ends the instance's
  // count; returns true when no instance is left.
  bool retire(std::unique_ptr<Instance> instance);

  // Calls onLastInstanceReleased if no instance exists, none is being
  // created and the host is not stopping.
  void signalIfIdle();

  // A counted connection's socket has closed.
  void connectionClosed() { --openConnections_; }

 private:
  // A listening socket on "HOST:PORT"; throws std::runtime_error naming it.
  std::unique_ptr<asio::ip::tcp::acceptor> openAcceptor(const std::string& text);
  void acceptOn(asio::ip::tcp::acceptor& acceptor);
  // Opens the web listeners and starts the web server.
  void startWeb();
  // A socket just accepted: closed when its address is not admitted, else
  // handed to a new session (a busy one beyond the connection limit).
  void admit(asio::ip::tcp::socket socket);
  // A WebSocket connection just opened by the web server: served like a
  // socket connection (the address was checked when it was accepted);
  // subject: of the client's certificate over TLS, else empty.
  void admitWeb(std::shared_ptr<WebLink> link, const std::string& address, uint16_t port,
                const std::string& subject);
  // Whether the allow-list admits address (logging a refusal).
  bool admits(const asio::ip::address& address, const std::string& peer) const;
  // Counts a new connection; false (busy, logged) beyond the limit.
  bool countConnection(const std::string& peer);
  void addSession(std::shared_ptr<Session> session);
  void workerMain();
  void runCreate(const std::shared_ptr<Session>& session, std::unique_ptr<Call> call);
  // Answers the "create"; returns true when an instance went live.
  bool createInstance(const std::shared_ptr<Session>& session, std::unique_ptr<Call> call);
  // Ends one creation (counting the instance when there is one) and hands
  // the outcome to the session.
  void finishCreate(const std::shared_ptr<Session>& session, std::unique_ptr<Call> call,
                    std::unique_ptr<Instance> instance, std::string errorLine);
  void joinRetired();

  const HostOptions options_;
  UiDispatcher& dispatcher_;
  AnswerBudget answerBudget_;

  mutable std::mutex mu_;
  std::condition_variable cv_;
  bool started_ = false;
  bool stopping_ = false;
  bool stopped_ = false;
  size_t liveInstances_ = 0;
  size_t creating_ = 0;  // "create" requests queued or in hand
  std::vector<std::unique_ptr<Instance>> retired_;
  std::vector<std::weak_ptr<Session>> sessions_;
  std::deque<std::function<void()>> jobs_;  // for the creation worker
  std::vector<uint16_t> ports_;
  // Connections accepted and not yet closed, busy refusals not counted.
  std::atomic<size_t> openConnections_{0};
  std::unique_ptr<asio::ssl::context> tls_;  // null: plain TCP

  std::thread worker_;
  std::vector<std::thread> ioThreads_;
  // The io_context comes before the acceptors: members die in reverse
  // order and it must outlive every socket.
  asio::io_context io_;
  std::optional<asio::executor_work_guard<asio::io_context::executor_type>> work_;
  // Acceptors and their handlers live on this strand.
  asio::strand<asio::io_context::executor_type> acceptStrand_;
  std::vector<std::unique_ptr<asio::ip::tcp::acceptor>> acceptors_;
  // After io_: its connections' sessions use io_ until they end.
  std::unique_ptr<WebServer> web_;
};

}  // namespace qz::remote::detail

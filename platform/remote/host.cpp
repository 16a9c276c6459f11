// Host and HostCore: listening sockets, the Asio I/O threads, the creation
// worker (which takes each "create" in on the window thread) and the
// bookkeeping of instances and module threads.
#include "platform/remote/host.h"

#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <stdexcept>

#include "platform/core/ascii.h"
#include "platform/log/server_log.h"
#include "platform/packet/error_kinds.h"
#include "platform/remote/host_core.h"
#include "platform/remote/linger.h"
#include "platform/remote/session.h"
#include "platform/remote/tls_context.h"

namespace qz::remote {

namespace {

std::string_view stripBraces(std::string_view s) {
  if (s.size() >= 2 && s.front() == '{' && s.back() == '}') return s.substr(1, s.size() - 2);
  return s;
}

// "HOST:PORT" or "[V6]:PORT" -> endpoint. Throws std::runtime_error.
asio::ip::tcp::endpoint parseEndpoint(const std::string& text) {
  auto colon = text.rfind(':');
  if (colon == std::string::npos || colon + 1 == text.size()) {
    throw std::runtime_error("not a HOST:PORT address: " + text);
  }
  std::string host = text.substr(0, colon);
  std::string portText = text.substr(colon + 1);
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
    host = host.substr(1, host.size() - 2);
  }
  unsigned long port = 0;
  try {
    size_t used = 0;
    port = std::stoul(portText, &used);
    if (used != portText.size() || port > 65535) throw std::out_of_range("port");
  } catch (const std::exception&) {
    throw std::runtime_error("not a port number in address: " + text);
  }
  if (host.empty() || host == "*") host = "0.0.0.0";
  if (host == "localhost") host = "127.0.0.1";
  asio::error_code ec;
  auto address = asio::ip::make_address(host, ec);
  if (ec) {
    // A host name: resolve it once.
    asio::io_context ctx;
    asio::ip::tcp::resolver resolver(ctx);
    auto results = resolver.resolve(host, portText, ec);
    if (ec || results.empty()) {
      throw std::runtime_error("cannot resolve " + host + ": " + ec.message());
    }
    return results.begin()->endpoint();
  }
  return {address, static_cast<uint16_t>(port)};
}

}  // namespace

std::string EndpointText(const asio::ip::tcp::endpoint& e) {
  asio::ip::address a = e.address();
  if (a.is_v6() && a.to_v6().is_v4_mapped())
    a = asio::ip::make_address_v4(asio::ip::v4_mapped, a.to_v6());
  const std::string host = a.to_string();
  return (a.is_v6() ? "[" + host + "]" : host) + ":" + std::to_string(e.port());
}

const HostedClass* findHostedClass(const std::vector<HostedClass>& classes,
                                   std::string_view clsOrName) {
  for (const HostedClass& c : classes) {
    if (EqualsNoCase(c.name, clsOrName) || EqualsNoCase(c.progId, clsOrName) ||
        (!c.clsid.empty() && EqualsNoCase(stripBraces(c.clsid), stripBraces(clsOrName)))) {
      return &c;
    }
  }
  return nullptr;
}

namespace detail {

HostCore::HostCore(HostOptions options, UiDispatcher& dispatcher)
    : options_(std::move(options)),
      dispatcher_(dispatcher),
      answerBudget_(options_.answerBytesPerConnection, options_.answerBytesTotal),
      acceptStrand_(asio::make_strand(io_)) {}

HostCore::~HostCore() { stop(); }

std::unique_ptr<asio::ip::tcp::acceptor> HostCore::openAcceptor(const std::string& text) {
  asio::ip::tcp::endpoint endpoint = parseEndpoint(text);
  auto acceptor = std::make_unique<asio::ip::tcp::acceptor>(acceptStrand_);
  asio::error_code ec;
  acceptor->open(endpoint.protocol(), ec);
  if (!ec) acceptor->set_option(asio::ip::tcp::acceptor::reuse_address(true), ec);
  if (!ec) acceptor->bind(endpoint, ec);
  if (!ec) acceptor->listen(asio::socket_base::max_listen_connections, ec);
  if (ec) throw std::runtime_error("cannot listen on " + text + ": " + ec.message());
  return acceptor;
}

void HostCore::start() {
  {
    std::lock_guard<std::mutex> lock(mu_);
    if (started_) throw std::logic_error("Host::start called twice");
    started_ = true;
  }
  std::vector<std::unique_ptr<asio::ip::tcp::acceptor>> acceptors;
  for (const std::string& text : options_.listen) {
    acceptors.push_back(openAcceptor(text));
  }
  for (size_t i = 0; i < options_.listenFds.size(); ++i) {
    int fd = options_.listenFds[i];
    sockaddr_storage addr{};
    socklen_t len = sizeof addr;
    int listening = 0;
    int type = 0;
    socklen_t optLen = sizeof listening;
    socklen_t typeLen = sizeof type;
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0 ||
        (addr.ss_family != AF_INET && addr.ss_family != AF_INET6) ||
        getsockopt(fd, SOL_SOCKET, SO_ACCEPTCONN, &listening, &optLen) != 0 || !listening ||
        getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &typeLen) != 0 || type != SOCK_STREAM) {
      throw std::runtime_error("inherited descriptor " + std::to_string(fd) +
                               " is not a TCP listening socket");
    }
    auto acceptor = std::make_unique<asio::ip::tcp::acceptor>(acceptStrand_);
    asio::error_code ec;
    acceptor->assign(addr.ss_family == AF_INET ? asio::ip::tcp::v4() : asio::ip::tcp::v6(), fd, ec);
    if (ec) {
      throw std::runtime_error("cannot use inherited descriptor " + std::to_string(fd) + ": " +
                               ec.message());
    }
    acceptors.push_back(std::move(acceptor));
  }
  const TransportSettings& transport = options_.transport;
  if (transport.tls.enabled()) tls_ = MakeServerTlsContext(transport.tls);
  if (!options_.listenWeb.empty()) startWeb();
  std::vector<uint16_t> ports;
  for (auto& a : acceptors) {
    const asio::ip::tcp::endpoint local = a->local_endpoint();
    ports.push_back(local.port());
    std::string how = !tls_ ? "plain TCP"
                      : transport.tls.clientCaFile.empty()
                          ? "TLS"
                          : "TLS, client certificates from " + transport.tls.clientCaFile;
    log::info("listening on " + EndpointText(local) + " (" + how + ")");
  }
  if (!transport.allow.empty()) log::info("admitting only " + transport.allow.text());
  {
    std::lock_guard<std::mutex> lock(mu_);
    ports_ = std::move(ports);
    acceptors_ = std::move(acceptors);
  }
  work_.emplace(io_.get_executor());
  for (auto& a : acceptors_) acceptOn(*a);
  worker_ = std::thread([this] { workerMain(); });
  int n = std::max(1, options_.ioThreads);
  for (int i = 0; i < n; ++i) ioThreads_.emplace_back([this] { runLingering(io_); });
}

void HostCore::acceptOn(asio::ip::tcp::acceptor& acceptor) {
  acceptor.async_accept(asio::make_strand(io_), [this, &acceptor](const asio::error_code& ec,
                                                                  asio::ip::tcp::socket socket) {
    if (ec == asio::error::operation_aborted) return;
    {
      std::lock_guard<std::mutex> lock(mu_);
      if (stopping_) return;
    }
    if (!ec) {
      admit(std::move(socket));
      acceptOn(acceptor);
      return;
    }
    // Errors such as running out of descriptors are transient: keep
    // accepting, after a pause so that the loop does not spin.
    auto timer =
        std::make_shared<asio::steady_timer>(acceptStrand_, std::chrono::milliseconds(100));
    timer->async_wait([this, &acceptor, timer](const asio::error_code& ec) {
      if (!ec) acceptOn(acceptor);
    });
  });
}

bool HostCore::admits(const asio::ip::address& address, const std::string& peer) const {
  if (options_.transport.allow.admits(address)) return true;
  log::warning("refused connection from " + peer + ": address not allowed");
  return false;
}

bool HostCore::countConnection(const std::string& peer) {
  const TransportSettings& transport = options_.transport;
  const bool busy =
      transport.maxConnections > 0 && openConnections_.load() >= transport.maxConnections;
  if (busy) {
    log::warning("refused connection from " + peer + ": " +
                 std::to_string(transport.maxConnections) + " connections already open");
    return false;
  }
  ++openConnections_;
  return true;
}

void HostCore::addSession(std::shared_ptr<Session> session) {
  {
    std::lock_guard<std::mutex> lock(mu_);
    std::erase_if(sessions_, [](const std::weak_ptr<Session>& w) { return w.expired(); });
    sessions_.push_back(session);
  }
  session->start();
}

void HostCore::admit(asio::ip::tcp::socket socket) {
  asio::error_code ec;
  const asio::ip::tcp::endpoint remote = socket.remote_endpoint(ec);
  if (ec) return;  // already gone: the socket closes with this scope
  const std::string peer = EndpointText(remote);
  if (!admits(remote.address(), peer)) {
    socket.close(ec);
    return;
  }
  const bool busy = !countConnection(peer);
  addSession(
      tls_ ? std::make_shared<Session>(*this, SessionStream(std::move(socket), *tls_), peer, busy)
           : std::make_shared<Session>(*this, SessionStream(std::move(socket)), peer, busy));
}

void HostCore::startWeb() {
  std::vector<std::unique_ptr<asio::ip::tcp::acceptor>> listeners;
  for (const std::string& text : options_.listenWeb) listeners.push_back(openAcceptor(text));
  WebServerOptions web;
  for (auto& l : listeners) web.listenFds.push_back(l->release());
  web.origins = options_.webOrigins;
  web.root = options_.webRoot;
  web.tls = tls_ ? tls_->native_handle() : nullptr;
  web.admits = [this](const std::string& address) {
    asio::error_code ec;
    const asio::ip::address a = asio::ip::make_address(address, ec);
    return !ec && admits(a, address);
  };
  web.take = [this](std::shared_ptr<WebLink> link, const std::string& address, uint16_t port,
                    const std::string& subject) {
    admitWeb(std::move(link), address, port, subject);
  };
  web_ = std::make_unique<WebServer>(std::move(web));
  web_->start();
  for (size_t i = 0; i < options_.listenWeb.size(); ++i) {
    log::info("web page and WebSocket at " + options_.listenWeb[i] + " (port " +
              std::to_string(web_->ports()[i]) + (tls_ ? ", TLS" : "") + ")");
  }
}

void HostCore::admitWeb(std::shared_ptr<WebLink> link, const std::string& address, uint16_t port,
                        const std::string& subject) {
  {
    std::lock_guard<std::mutex> lock(mu_);
    if (stopping_) {
      link->closeNow();
      return;
    }
  }
  asio::error_code ec;
  std::string peer = EndpointText({asio::ip::make_address(address, ec), port});
  if (!subject.empty()) peer += " (" + subject + ")";
  const bool busy = !countConnection(peer);
  asio::any_io_executor strand = asio::make_strand(io_);
  addSession(std::make_shared<Session>(*this, SessionStream(std::move(link), strand), peer, busy));
}

void HostCore::stop() {
  std::vector<std::weak_ptr<Session>> sessions;
  {
    std::lock_guard<std::mutex> lock(mu_);
    if (!started_ || stopped_) return;
    stopped_ = true;
    stopping_ = true;
    sessions = sessions_;
    cv_.notify_all();
  }
  // Stop accepting.
  asio::post(acceptStrand_, [this] {
    for (auto& a : acceptors_) {
      asio::error_code ignored;
      a->close(ignored);
    }
  });
  for (auto& w : sessions) {
    if (auto s = w.lock()) s->shutdown();
  }
  // The worker finishes the creation in hand (its session is dead, so the
  // new instance is released at once) and fails the ones still queued.
  if (worker_.joinable()) worker_.join();
  {
    std::unique_lock<std::mutex> lock(mu_);
    cv_.wait(lock, [&] { return liveInstances_ == 0; });
  }
  joinRetired();
  work_.reset();
  io_.stop();
  for (auto& t : ioThreads_) t.join();
  ioThreads_.clear();
  // Handlers still queued will never run now; close what they would have.
  for (auto& w : sessions) {
    if (auto s = w.lock()) s->closeAfterStop();
  }
  acceptors_.clear();
  if (web_) web_->stop();
}

size_t HostCore::instanceCount() const {
  std::lock_guard<std::mutex> lock(mu_);
  return liveInstances_;
}

std::vector<uint16_t> HostCore::webPorts() const {
  return web_ ? web_->ports() : std::vector<uint16_t>();
}

std::vector<uint16_t> HostCore::ports() const {
  std::lock_guard<std::mutex> lock(mu_);
  return ports_;
}

void HostCore::submitCreate(std::shared_ptr<Session> session, std::unique_ptr<Call> call) {
  std::lock_guard<std::mutex> lock(mu_);
  ++creating_;
  // std::function needs a copyable callable.
  auto shared = std::make_shared<std::unique_ptr<Call>>(std::move(call));
  jobs_.push_back(
      [this, session = std::move(session), shared] { runCreate(session, std::move(*shared)); });
  cv_.notify_all();
}

void HostCore::workerMain() {
  for (;;) {
    std::function<void()> job;
    {
      std::unique_lock<std::mutex> lock(mu_);
      cv_.wait(lock, [&] { return stopping_ || !jobs_.empty(); });
      if (jobs_.empty()) return;
      job = std::move(jobs_.front());
      jobs_.pop_front();
    }
    job();
  }
}

void HostCore::runCreate(const std::shared_ptr<Session>& session, std::unique_ptr<Call> call) {
  bool live = createInstance(session, std::move(call));
  // A failed creation that leaves nothing behind counts as the last
  // instance going, so an activated server does not wait forever.
  if (!live) signalIfIdle();
}

bool HostCore::createInstance(const std::shared_ptr<Session>& session, std::unique_ptr<Call> call) {
  joinRetired();
  const std::string& id = call->head.idJson;
  const rapidjson::Value* params = call->head.params;
  std::string name;
  if (params) {
    auto it = params->FindMember("class");
    if (it != params->MemberEnd()) {
      if (!it->value.IsString()) {
        finishCreate(session, std::move(call), nullptr,
                     errorResponse(id, kInvalidParams, "Invalid params: class must be a string"));
        return false;
      }
      name.assign(it->value.GetString(), it->value.GetStringLength());
    }
  }
  const HostedClass* cls = findHostedClass(options_.classes, name);
  bool registered = false;
  if (cls) {
    try {
      const auto& enabled = session->isWeb() ? cls->webEnabled : cls->socketsEnabled;
      registered = !enabled || enabled();
    } catch (const std::exception&) {
      registered = false;
    }
  }
  if (!registered) {
    log::warning(session->peer() + ": refused to create \"" + name + "\": class not registered");
    finishCreate(session, std::move(call), nullptr,
                 errorResponse(id, errorCode(ErrorKind::UnknownName), "Class not registered",
                               kClassNotRegistered));
    return false;
  }
  bool stopping;
  {
    std::lock_guard<std::mutex> lock(mu_);
    stopping = stopping_;
  }
  if (stopping) {
    finishCreate(
        session, std::move(call), nullptr,
        errorResponse(id, kCallFailed, "The server is stopping", 0, cls->progId, cls->iid));
    return false;
  }
  auto instance = std::make_unique<Instance>(*cls);
  Instance* raw = instance.get();
  bool started = false;
  std::string failure;
  try {
    // Taken in on the window thread: it starts the module thread and waits
    // until the instance exists or its creation failed.
    dispatcher_.invoke([&] {
      raw->thread.start(options_.moduleStackSize, [session, raw] { session->moduleMain(raw); });
      started = true;
      std::unique_lock<std::mutex> lock(raw->mu);
      raw->cv.wait(lock, [&] { return raw->createDone; });
    });
  } catch (const std::exception& e) {
    failure = e.what();
  }
  if (started) {
    // If invoke failed after the thread started, the creation still ends.
    std::unique_lock<std::mutex> lock(raw->mu);
    raw->cv.wait(lock, [&] { return raw->createDone; });
  }
  std::exception_ptr error = raw->createError;
  if (!started || error) {
    raw->thread.join();
    uint32_t hresult = kUnexpectedFailure;
    std::string source = cls->progId;
    std::string iid = cls->iid;
    if (error) {
      try {
        std::rethrow_exception(error);
      } catch (const RemoteError& e) {
        failure = e.what();
        if (e.hresult) hresult = e.hresult;
        if (!e.source.empty()) source = e.source;
        if (!e.iid.empty()) iid = e.iid;
      } catch (const std::exception& e) {
        failure = e.what();
      } catch (...) {
        failure = "Unexpected failure";
      }
    }
    log::warning(session->peer() + ": creating " + cls->name + " failed: " + failure);
    finishCreate(session, std::move(call), nullptr,
                 errorResponse(id, kCallFailed, failure, hresult, source, iid));
    return false;
  }
  log::info(session->peer() + ": created " + cls->name);
  finishCreate(session, std::move(call), std::move(instance), std::string());
  return true;
}

void HostCore::finishCreate(const std::shared_ptr<Session>& session, std::unique_ptr<Call> call,
                            std::unique_ptr<Instance> instance, std::string errorLine) {
  {
    // Counted before the client hears of it, and in one step with the end
    // of the creation, so that no moment shows neither.
    std::lock_guard<std::mutex> lock(mu_);
    if (instance) ++liveInstances_;
    --creating_;
  }
  session->createFinished(std::move(call), std::move(instance), std::move(errorLine));
}

bool HostCore::retire(std::unique_ptr<Instance> instance) {
  std::lock_guard<std::mutex> lock(mu_);
  if (instance) retired_.push_back(std::move(instance));
  if (liveInstances_ > 0) --liveInstances_;
  cv_.notify_all();
  return liveInstances_ == 0;
}

void HostCore::signalIfIdle() {
  std::function<void()> callback;
  {
    std::lock_guard<std::mutex> lock(mu_);
    if (liveInstances_ == 0 && creating_ == 0 && !stopping_) {
      callback = options_.onLastInstanceReleased;
    }
  }
  if (callback) callback();
}

void HostCore::joinRetired() {
  std::vector<std::unique_ptr<Instance>> done;
  {
    std::lock_guard<std::mutex> lock(mu_);
    done.swap(retired_);
  }
  for (auto& instance : done) instance->thread.join();
}

}  // namespace detail

class Host::Impl : public detail::HostCore {
 public:
  using HostCore::HostCore;
};

Host::Host(HostOptions options, UiDispatcher& dispatcher)
    : impl_(std::make_unique<Impl>(std::move(options), dispatcher)) {}

Host::~Host() { impl_->stop(); }

void Host::start() { impl_->start(); }
void Host::stop() { impl_->stop(); }
size_t Host::instanceCount() const { return impl_->instanceCount(); }
std::vector<uint16_t> Host::ports() const { return impl_->ports(); }
std::vector<uint16_t> Host::webPorts() const { return impl_->webPorts(); }
size_t Host::answerBytesHeld() const { return impl_->answerBytesHeld(); }

}  // namespace qz::remote

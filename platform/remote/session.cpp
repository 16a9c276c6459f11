// Session: reading and framing on the strand, ordered answers, the request
// queue shared with the module thread, and the module thread's loop.
#include "platform/remote/session.h"

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>
#include <sys/socket.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <functional>

#include "platform/log/server_log.h"
#include "platform/packet/partial_output.h"
#include "platform/remote/linger.h"
#include "platform/remote/tls_context.h"

namespace qz::remote::detail {

namespace {

constexpr size_t kReadChunk = 16 * 1024;
// Messages read but not yet answered before reading pauses.
constexpr uint64_t kMaxInFlight = 256;
// How often a module thread held back by the total answer budget looks
// again (other connections free their bytes without waking it).
constexpr auto kBudgetRecheck = std::chrono::milliseconds(20);
// A method's answer leaves in parts of this size while it is being
// written; a shorter answer leaves whole, when complete.
constexpr size_t kAnswerPart = 256 * 1024;

// How long a connection ending in good order waits for the client to close.
constexpr std::chrono::seconds kLinger{1};

constexpr const char* kNoInstance = "No instance: call create first";
constexpr const char* kAlreadyCreated = "Instance already created";

void appendRaw(rapidjson::StringBuffer& buf, std::string_view text) {
  char* dst = buf.Push(text.size());
  std::memcpy(dst, text.data(), text.size());
}

std::string resultLine(std::string_view idJson, std::string_view resultJson) {
  std::string line;
  line.reserve(idJson.size() + resultJson.size() + 40);
  line.append("{\"jsonrpc\":\"2.0\",\"id\":").append(idJson);
  line.append(",\"result\":").append(resultJson).append("}\n");
  return line;
}

// Hands the parts of one call's answer to its session.
class PartSender : public provider::PartialOutput {
 public:
  using Send = std::function<bool(std::unique_ptr<rapidjson::StringBuffer>)>;
  explicit PartSender(Send send) : send_(std::move(send)) {}
  bool take(std::unique_ptr<rapidjson::StringBuffer> part) override {
    sentAny_ = true;
    return send_(std::move(part));
  }
  bool sentAny() const { return sentAny_; }

 private:
  Send send_;
  bool sentAny_ = false;
};

// Logs a failed call with the code, hresult and message of its error
// answer.
void logFailure(const std::string& peer, std::string_view cls, std::string_view method,
                const std::string& errorLine) {
  if (!log::enabled(log::Level::kWarning)) return;
  rapidjson::Document d;
  d.Parse(errorLine.data(), errorLine.size());
  std::string what;
  if (d.IsObject() && d.HasMember("error") && d["error"].IsObject()) {
    const rapidjson::Value& e = d["error"];
    if (e.HasMember("code") && e["code"].IsInt())
      what = "code " + std::to_string(e["code"].GetInt());
    if (e.HasMember("data") && e["data"].IsObject() && e["data"].HasMember("hresult") &&
        e["data"]["hresult"].IsString())
      what += std::string(", hresult ") + e["data"]["hresult"].GetString();
    if (e.HasMember("message") && e["message"].IsString())
      what += std::string(": ") + e["message"].GetString();
  }
  log::warning(peer + ": " + std::string(cls) + "." + std::string(method) + " failed (" + what +
               ")");
}

}  // namespace

Session::Session(HostCore& host, SessionStream stream, std::string peer, bool busy)
    : host_(host),
      socket_(std::move(stream)),
      peer_(std::move(peer)),
      busy_(busy),
      counted_(!busy),
      timer_(socket_.get_executor()),
      framer_(host.options().maxMessage),
      readBuf_(new char[kReadChunk]) {}

Session::~Session() {
  // Bytes of answers that never left (the connection ended) leave the
  // host's count with the session.
  host_.answerBudget().remove(held_);
}

void Session::start() {
  asio::error_code ignored;
  socket_.set_option(asio::ip::tcp::no_delay(true), ignored);
  asio::post(socket_.get_executor(), [self = shared_from_this()] {
    const auto limit = self->host_.options().transport.handshakeTimeout;
    if (limit.count() > 0 && !self->busy_) {
      self->timer_.expires_after(limit);
      self->timer_.async_wait([weak = self->weak_from_this()](const asio::error_code& ec) {
        if (ec) return;
        if (auto s = weak.lock()) s->onHandshakeTimeout();
      });
    }
    if (auto* tls = self->socket_.tls()) {
      tls->async_handshake(asio::ssl::stream_base::server,
                           [self](const asio::error_code& ec) { self->onHandshake(ec); });
    } else {
      self->beginServing();
    }
  });
}

void Session::onHandshake(const asio::error_code& ec) {
  if (socketClosed_) return;  // closed by the time limit or by stop
  if (ec) {
    log::warning("TLS handshake with " + peer_ +
                 " failed: " + HandshakeFailureText(ec, socket_.tls()->native_handle()));
    abandon();
    return;
  }
  std::string subject = PeerCertificateSubject(socket_.tls()->native_handle());
  if (!subject.empty()) peer_ += " (" + subject + ")";
  beginServing();
}

void Session::beginServing() {
  log::info("connection from " + peer_ +
            (socket_.isWeb() ? " over WebSocket"
             : socket_.tls() ? " over TLS"
                             : ""));
  if (busy_) {
    std::lock_guard<std::mutex> lock(mu_);
    completeLocked(nextSeq_++, errorResponse("null", kServerBusy,
                                             "Server busy: too many connections, try again later"));
    inputClosed_ = true;
    return;
  }
  if (!socket_.tls() && !socket_.isWeb()) {
    std::lock_guard<std::mutex> lock(mu_);
    directFd_ = socket_.socket().native_handle();
  }
  readMore();
}

void Session::onHandshakeTimeout() {
  {
    std::lock_guard<std::mutex> lock(mu_);
    if (everLive_ || state_ != State::kNoInstance || socketClosed_) return;
  }
  log::info(peer_ + ": no instance created within " +
            std::to_string(host_.options().transport.handshakeTimeout.count()) +
            " s; closing the connection");
  abandon();
}

void Session::abandon() {
  std::lock_guard<std::mutex> lock(mu_);
  inputClosed_ = true;
  markDeadLocked();
  postFlushLocked();
}

void Session::readMore() {
  if (socketClosed_) return;
  socket_.async_read_some(
      asio::buffer(readBuf_.get(), kReadChunk),
      [self = shared_from_this()](const asio::error_code& ec, size_t n) { self->onRead(ec, n); });
}

void Session::onRead(const asio::error_code& ec, size_t n) {
  if (ec) {
    // End of stream: the client may have only shut down its sending side,
    // so requests already read still run and are answered. Anything else
    // (reset, our own close) means nobody is listening.
    closeInput(ec != asio::error::eof);
    return;
  }
  std::vector<std::string> lines;
  bool ok = framer_.feed(std::string_view(readBuf_.get(), n), lines);
  for (std::string& line : lines) takeMessage(std::move(line));
  if (!ok) {
    std::lock_guard<std::mutex> lock(mu_);
    completeLocked(nextSeq_++, errorResponse("null", kInvalidRequest,
                                             "Message too large: the limit is " +
                                                 std::to_string(framer_.limit()) + " bytes"));
  }
  if (!ok) {
    closeInput(false);
    return;
  }
  {
    // A client that sends without reading its answers is not read from
    // until it has caught up, so it cannot make the server hold an
    // unbounded backlog.
    std::lock_guard<std::mutex> lock(mu_);
    if (nextSeq_ - nextWrite_ >= kMaxInFlight || host_.answerBudget().overConnectionLimit(held_)) {
      readPaused_ = true;
      return;
    }
  }
  readMore();
}

void Session::takeMessage(std::string&& text) {
  auto call = std::make_unique<Call>();
  call->doc = std::make_unique<rapidjson::Document>();
  std::string errorLine;
  bool ok = parseMessage(text, call->doc.get(), &errorLine) &&
            checkRequest(*call->doc, &call->head, &errorLine);
  {
    std::lock_guard<std::mutex> lock(mu_);
    call->seq = nextSeq_++;
    if (!ok) {
      completeLocked(call->seq, std::move(errorLine));
      return;
    }
    if (dead_) {
      completeLocked(call->seq, std::string());
      return;
    }
    queue_.push_back(std::move(call));
    if (state_ != State::kLive) {
      pumpLocked();
      return;
    }
  }
  // The module thread takes it from here. Woken after the unlock, it does
  // not wake only to wait for the mutex this thread still holds.
  wakeModule();
}

void Session::closeInput(bool dead) {
  std::lock_guard<std::mutex> lock(mu_);
  inputClosed_ = true;
  if (dead) markDeadLocked();
  wakeModule();
  postFlushLocked();
}

void Session::shutdown() {
  std::lock_guard<std::mutex> lock(mu_);
  inputClosed_ = true;
  markDeadLocked();
  postFlushLocked();
}

void Session::closeAfterStop() {
  closeSocket(false);
  finalClose();  // also a connection still lingering after an orderly end
}

void Session::markDeadLocked() {
  dead_ = true;
  for (auto& call : queue_) answers_[call->seq] = PendingAnswer();
  queue_.clear();
  wakeModule();
}

void Session::pumpLocked() {
  while (state_ == State::kNoInstance && !queue_.empty()) {
    std::unique_ptr<Call> call = std::move(queue_.front());
    queue_.pop_front();
    if (call->head.method == "create") {
      state_ = State::kCreating;
      host_.submitCreate(shared_from_this(), std::move(call));
      return;
    }
    completeLocked(call->seq, errorResponse(call->head.idJson, kCallFailed, kNoInstance));
  }
  if (state_ == State::kLive) {
    // The module thread takes it from here; its answer posts the flush.
    // (No flush now: on every request it cost the I/O thread a wake-up.)
    wakeModule();
    return;
  }
  postFlushLocked();
}

void Session::holdLocked(size_t n) {
  held_ += n;
  host_.answerBudget().add(n);
}

void Session::releaseHeldLocked(size_t n) {
  held_ -= n;
  host_.answerBudget().remove(n);
}

bool Session::mayComposeLocked() const { return host_.answerBudget().mayCompose(held_); }

void Session::waitToComposeLocked(std::unique_lock<std::mutex>& lock) {
  // onWritten wakes us when this connection's own bytes leave; the total
  // falls through other connections, so look again now and then.
  ++budgetWaiters_;
  while (!dead_ && !mayComposeLocked()) cv_.wait_for(lock, kBudgetRecheck);
  --budgetWaiters_;
}

void Session::completeLocked(uint64_t seq, AnswerLine line) {
  PendingAnswer& a = answers_[seq];
  holdLocked(line.size());
  if (!line.empty()) a.parts.push_back(std::move(line));
  a.open = false;
  postFlushLocked();
}

void Session::finishCallLocked(uint64_t seq, AnswerLine line) {
  if (directFd_ < 0 || socketClosed_ || dead_ || writeBusy_ || line.empty() || seq != nextWrite_ ||
      !answers_.empty()) {
    completeLocked(seq, std::move(line));
    return;
  }
  size_t sent = 0;
  while (sent < line.size()) {
    ssize_t n =
        ::send(directFd_, line.data() + sent, line.size() - sent, MSG_DONTWAIT | MSG_NOSIGNAL);
    if (n > 0) {
      sent += static_cast<size_t>(n);
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      break;
    } else {
      // As a failed write on the strand: nobody is listening.
      inputClosed_ = true;
      markDeadLocked();
      postFlushLocked();
      return;
    }
  }
  if (sent < line.size()) {
    // The client is slow to read: the strand writes the rest when it can.
    completeLocked(seq, std::string(line.data() + sent, line.size() - sent));
    return;
  }
  ++nextWrite_;
  // Reading may wait for this answer, or the connection may end with it.
  if (readPaused_ || inputClosed_) postFlushLocked();
}

bool Session::takePart(uint64_t seq, std::unique_ptr<rapidjson::StringBuffer> part) {
  std::unique_lock<std::mutex> lock(mu_);
  if (dead_) return false;
  PendingAnswer& a = answers_[seq];
  holdLocked(part->GetSize());
  a.parts.emplace_back(std::move(part));
  a.open = true;
  postFlushLocked();
  // The method writes its next part only once the client takes enough.
  waitToComposeLocked(lock);
  return !dead_;
}

void Session::postFlushLocked() {
  if (flushPosted_) return;
  flushPosted_ = true;
  asio::post(socket_.get_executor(), [self = shared_from_this()] { self->flush(); });
}

void Session::flush() {
  std::unique_lock<std::mutex> lock(mu_);
  flushPosted_ = false;
  auto dropAnswers = [this] {
    for (const auto& [seq, a] : answers_)
      for (const AnswerLine& part : a.parts) releaseHeldLocked(part.size());
    answers_.clear();
  };
  if (socketClosed_) {
    dropAnswers();
    return;
  }
  if (writeBusy_) return;
  if (dead_) {
    dropAnswers();
    lock.unlock();
    closeSocket();
    return;
  }
  writing_.clear();
  writingBytes_ = 0;
  while (!answers_.empty() && answers_.begin()->first == nextWrite_) {
    PendingAnswer& a = answers_.begin()->second;
    for (AnswerLine& part : a.parts) {
      writingBytes_ += part.size();
      writing_.push_back(std::move(part));
    }
    a.parts.clear();
    if (a.open) break;  // the rest is still being written; later answers wait
    answers_.erase(answers_.begin());
    ++nextWrite_;
  }
  bool resume = readPaused_ && !inputClosed_ && nextSeq_ - nextWrite_ < kMaxInFlight / 2 &&
                host_.answerBudget().mayResumeReading(held_);
  if (resume) readPaused_ = false;
  if (!writing_.empty()) {
    writeBusy_ = true;
    lock.unlock();
    if (resume) readMore();
    std::vector<asio::const_buffer> buffers;
    buffers.reserve(writing_.size());
    for (const AnswerLine& a : writing_) buffers.push_back(asio::buffer(a.data(), a.size()));
    asio::async_write(
        socket_, buffers,
        [self = shared_from_this()](const asio::error_code& ec, size_t) { self->onWritten(ec); });
    return;
  }
  bool done =
      inputClosed_ && state_ == State::kNoInstance && queue_.empty() && nextWrite_ == nextSeq_;
  lock.unlock();
  if (done) {
    closeSocket();
  } else if (resume) {
    readMore();
  }
}

void Session::onWritten(const asio::error_code& ec) {
  writing_.clear();
  writing_.shrink_to_fit();
  std::lock_guard<std::mutex> lock(mu_);
  releaseHeldLocked(writingBytes_);
  writingBytes_ = 0;
  // Only a module thread waiting for the budget wants to hear of it; an
  // idle one woken here would just go back to sleep.
  if (budgetWaiters_ > 0) wakeModule();
  writeBusy_ = false;
  if (ec) {
    inputClosed_ = true;
    markDeadLocked();
  }
  postFlushLocked();
}

void Session::closeSocket(bool linger) {
  {
    std::lock_guard<std::mutex> lock(mu_);
    if (socketClosed_) return;
    socketClosed_ = true;  // the module thread writes no more from here on
    if (dead_) linger = false;
  }
  if (counted_) {
    counted_ = false;
    host_.connectionClosed();
  }
  log::info("connection from " + peer_ + " closed");
  if (!linger) {
    finalClose();
    return;
  }
  timer_.expires_after(kLinger);
  timer_.async_wait([self = shared_from_this()](const asio::error_code& ec) {
    if (!ec) self->finalClose();
  });
  if (auto* tls = socket_.tls()) {
    tls->async_shutdown(
        [self = shared_from_this()](const asio::error_code&) { self->finalClose(); });
  } else {
    asio::error_code ignored;
    socket_.shutdown(asio::ip::tcp::socket::shutdown_send, ignored);
    drainUntilClosed();
  }
}

void Session::drainUntilClosed() {
  socket_.async_read_some(asio::buffer(readBuf_.get(), kReadChunk),
                          [self = shared_from_this()](const asio::error_code& ec, size_t) {
                            if (ec)
                              self->finalClose();
                            else
                              self->drainUntilClosed();
                          });
}

void Session::finalClose() {
  if (finalClosed_) return;
  finalClosed_ = true;
  timer_.cancel();
  asio::error_code ignored;
  socket_.shutdown(asio::ip::tcp::socket::shutdown_both, ignored);
  socket_.close(ignored);
}

void Session::createFinished(std::unique_ptr<Call> call, std::unique_ptr<Instance> instance,
                             std::string errorLine) {
  std::lock_guard<std::mutex> lock(mu_);
  if (!instance) {
    state_ = State::kNoInstance;
    completeLocked(call->seq, std::move(errorLine));
    pumpLocked();
    return;
  }
  const HostedClass& c = instance->cls;
  rapidjson::StringBuffer buf;
  rapidjson::Writer<rapidjson::StringBuffer> w(buf);
  w.StartObject();
  w.Key("class");
  w.String(c.name.c_str());
  w.Key("progid");
  w.String(c.progId.c_str());
  w.Key("clsid");
  w.String(c.clsid.c_str());
  w.Key("interface");
  w.String(c.interfaceName.c_str());
  w.Key("iid");
  w.String(c.iid.c_str());
  w.EndObject();
  completeLocked(call->seq, resultLine(call->head.idJson, {buf.GetString(), buf.GetSize()}));
  instance_ = std::move(instance);
  state_ = State::kLive;
  everLive_ = true;
  wakeModule();
}

AnswerLine Session::runCall(Instance& instance, Call& call, bool* broken) {
  const HostedClass& c = instance.cls;
  const std::string& id = call.head.idJson;
  auto built = std::make_unique<rapidjson::StringBuffer>();
  rapidjson::StringBuffer& buf = *built;
  appendRaw(buf, "{\"jsonrpc\":\"2.0\",\"id\":");
  appendRaw(buf, id);
  appendRaw(buf, ",\"result\":");
  rapidjson::Value emptyParams(rapidjson::kObjectType);
  const uint64_t seq = call.seq;
  PartSender parts([this, seq](std::unique_ptr<rapidjson::StringBuffer> part) {
    return takePart(seq, std::move(part));
  });
  std::string error;  // the error answer when the call failed
  try {
    JsonWriter w(buf);
    provider::PartialOutputScope scope(w, buf, parts, kAnswerPart);
    instance.object->call(call.head.method, call.head.params ? *call.head.params : emptyParams, w);
    if (!w.IsComplete()) throw std::logic_error("the method wrote no result");
  } catch (const RemoteError& e) {
    // JSON-RPC faults (negative codes) carry no data; a failed call names its class.
    if (e.code < 0)
      error = errorResponse(id, e.code, e.what(), e.hresult);
    else
      error = errorResponse(id, e.code, e.what(), e.hresult,
                            e.source.empty() ? std::string_view(c.progId) : e.source,
                            e.iid.empty() ? std::string_view(c.iid) : e.iid, e.engineCode);
  } catch (const std::exception& e) {
    error = errorResponse(id, kCallFailed, e.what(), kUnexpectedFailure, c.progId, c.iid);
  } catch (...) {
    error =
        errorResponse(id, kCallFailed, "Unexpected failure", kUnexpectedFailure, c.progId, c.iid);
  }
  if (!error.empty()) {
    logFailure(peer_, c.name, call.head.method, error);
    if (!parts.sentAny()) return error;
    *broken = true;  // the line has begun: no error answer can take its place
    return AnswerLine();
  }
  appendRaw(buf, "}\n");
  return AnswerLine(std::move(built));
}

void Session::wakeModule() {
  wakeups_.fetch_add(1, std::memory_order_release);
  cv_.notify_all();
}

// See linger.h: the next request usually comes before sleeping would pay.
void Session::lingerForWork(std::unique_lock<std::mutex>& lock) {
  if (!lingerPays()) return;
  const uint64_t seen = wakeups_.load(std::memory_order_acquire);
  lock.unlock();
  lingerUntil(kModuleLinger, [&] { return wakeups_.load(std::memory_order_acquire) != seen; });
  lock.lock();
}

void Session::moduleMain(Instance* instance) noexcept {
  // Creation, on this thread, while the creation worker (inside the window
  // thread's invoke) waits for the outcome.
  std::exception_ptr error;
  try {
    instance->object = instance->cls.factory();
    if (!instance->object) throw std::runtime_error("the class factory made no object");
  } catch (...) {
    error = std::current_exception();
    instance->object.reset();
  }
  {
    std::lock_guard<std::mutex> lock(instance->mu);
    instance->createError = error;
    instance->createDone = true;
    instance->cv.notify_all();
  }
  if (error) return;  // the worker joins this thread

  // Wait until the worker has answered "create" and handed the instance to
  // this session, then serve calls in order.
  uint64_t releaseSeq = 0;
  std::string releaseId;
  bool releasedByClient = false;
  for (;;) {
    std::unique_ptr<Call> call;
    {
      std::unique_lock<std::mutex> lock(mu_);
      auto ready = [&] {
        return state_ == State::kLive && (!queue_.empty() || inputClosed_ || dead_);
      };
      if (!ready()) lingerForWork(lock);
      cv_.wait(lock, ready);
      // The next call waits while the answers held for the client are over
      // the budget.
      if (!queue_.empty()) waitToComposeLocked(lock);
      if (queue_.empty()) break;  // input ended (or the connection died): release
      call = std::move(queue_.front());
      queue_.pop_front();
      if (call->head.method == "release") {
        releaseSeq = call->seq;
        releaseId = call->head.idJson;
        releasedByClient = true;
        break;
      }
      if (call->head.method == "create") {
        completeLocked(call->seq, errorResponse(call->head.idJson, kCallFailed, kAlreadyCreated, 0,
                                                instance->cls.progId, instance->cls.iid));
        continue;
      }
    }
    uint64_t seq = call->seq;
    bool broken = false;
    const auto started = std::chrono::steady_clock::now();
    AnswerLine answer = runCall(*instance, *call, &broken);
    const auto slow = host_.options().slowRequest;
    if (slow.count() > 0 || log::enabled(log::Level::kDebug)) {
      auto took = std::chrono::duration_cast<std::chrono::milliseconds>(
          std::chrono::steady_clock::now() - started);
      if (slow.count() > 0 && took >= slow)
        log::warning(peer_ + ": slow request " + instance->cls.name + "." + call->head.method +
                     " took " + std::to_string(took.count()) + " ms");
      else
        log::debug(peer_ + ": " + instance->cls.name + "." + call->head.method + " took " +
                   std::to_string(took.count()) + " ms");
    }
    call.reset();  // free the request before the answer waits to be written
    std::lock_guard<std::mutex> lock(mu_);
    finishCallLocked(seq, std::move(answer));
    if (broken) {
      // Part of a failed answer has left: the client must not take it for
      // a whole one, so the connection ends (the instance is released).
      inputClosed_ = true;
      markDeadLocked();
    }
  }

  instance->object->release();
  instance->object.reset();
  log::info(peer_ + ": released " + instance->cls.name);

  // The instance is gone before its "release" is answered, so a client that
  // got the answer never sees it counted. After retire() the host may join
  // this thread at any time; the join waits for what follows, which keeps
  // the host alive until then, and the session lives on through the
  // reference this thread holds.
  std::unique_ptr<Instance> mine;
  {
    std::lock_guard<std::mutex> lock(mu_);
    mine = std::move(instance_);
  }
  bool wasLast = host_.retire(std::move(mine));
  {
    std::lock_guard<std::mutex> lock(mu_);
    state_ = State::kNoInstance;
    if (releasedByClient) {
      completeLocked(releaseSeq, resultLine(releaseId, "{}"));
    }
    pumpLocked();  // a "create" queued behind the release starts now
  }
  if (wasLast) host_.signalIfIdle();
}

}  // namespace qz::remote::detail

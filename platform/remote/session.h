// Session: one client connection of the Host, with at most one instance.
// Internal to this folder.
//
// Every message read gets a sequence number; its answer is written only
// after the answers of all earlier messages, so pipelined requests are
// answered in arrival order whatever thread produced each answer. Requests
// wait in queue_ until they can run: with no instance, "create" goes to the
// creation worker and anything else is refused at once; with a live
// instance, the module thread takes them one by one.
//
// States: kNoInstance -> kCreating -> kLive -> (release or end of input)
// -> kNoInstance. inputClosed_: no more requests will be read (end of
// stream, oversized message, stop); queued requests still run and the live
// instance is released once the queue is empty. dead_: nobody is listening
// any more (write failed, connection reset, host stopping); queued requests
// are dropped. The socket is closed when input is closed, no instance
// exists or is being created, and every answer has been written (or at
// once when dead_). Reading pauses while too many messages wait for their
// answers, or while the answers held for the client exceed its byte limit
// (AnswerBudget), and resumes once the client has read enough of them. The
// module thread does not start the next call, nor add the next part of a
// long answer, while the budget says no: a client that never reads holds
// the server to a bounded amount of memory.
//
// A long answer leaves in parts while the method is still writing it (see
// packet/partial_output.h): its parts are written as they come when it is
// the next answer in order, and the answers after it wait until it is
// complete. A method that fails after part of its answer has left cannot
// answer with an error any more: the connection is then closed, so the
// client sees the answer broken off, never a partial result.
//
// On plain TCP the module thread writes a finished answer itself when it is
// the next in order and nothing else is being written: the common request
// then costs no wake-up of an I/O thread. What the socket does not take at
// once is left to the strand as usual. The descriptor is written only under
// mu_ and while !socketClosed_, which the strand sets under mu_ before it
// shuts the socket down, so a write never reaches a closed (or reused)
// descriptor.
//
// Before the first read: a TLS connection completes its handshake (one that
// fails is closed); a connection accepted beyond the connection limit
// ("busy") gets its one error answer and ends. A connection that has not
// created an instance within the handshake time limit is closed. A
// connection that ends in good order tells the client at once (TLS
// close_notify, or TCP end of stream) and reads what the client still sends
// for a moment before closing, so that the answers the client has not read
// yet are not lost to a reset.
#pragma once

#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>

#include <asio.hpp>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/remote/host_core.h"
#include "platform/remote/json_rpc.h"
#include "platform/remote/line_framer.h"
#include "platform/remote/session_stream.h"

namespace qz::remote::detail {

// One answer line waiting to be written: its text, or the buffer the
// answer was written into, so that a large answer is sent from where it was
// built instead of being copied first. Empty: no answer to write.
class AnswerLine {
 public:
  AnswerLine() = default;
  AnswerLine(std::string text) : text_(std::move(text)) {}
  explicit AnswerLine(std::unique_ptr<rapidjson::StringBuffer> built) : built_(std::move(built)) {}

  bool empty() const { return size() == 0; }
  size_t size() const { return built_ ? built_->GetSize() : text_.size(); }
  // REQUIRES: not empty.
  const char* data() const { return built_ ? built_->GetString() : text_.data(); }

 private:
  std::string text_;
  std::unique_ptr<rapidjson::StringBuffer> built_;
};

// An answer in the order of writing: its parts so far, and whether more
// are coming (the method is still writing it; answers after it wait).
struct PendingAnswer {
  std::vector<AnswerLine> parts;
  bool open = false;
};

// One request waiting to run.
struct Call {
  uint64_t seq = 0;
  std::unique_ptr<rapidjson::Document> doc;  // owns what head.params points to
  RequestHead head;
};

// Thread-safety: socket and framer only on the session's strand; the
// request queue, the answers and the state under mu_.
class Session : public std::enable_shared_from_this<Session> {
 public:
  // stream's socket must use a strand executor. peer: the client's
  // address for the log. busy: refuse the connection with kServerBusy.
  Session(HostCore& host, SessionStream stream, std::string peer, bool busy);
  ~Session();

  // The client's address, and the subject of its certificate once the TLS
  // handshake is done. Stable once the first request has been read.
  const std::string& peer() const { return peer_; }
  // Whether the connection is a WebSocket one (of the web transport).
  bool isWeb() const { return socket_.isWeb(); }

  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // Starts reading. Called once, by the acceptor.
  void start();

  // Host stopping: drop queued requests, release the instance after its
  // current call, close the connection.
  void shutdown();

  // After the I/O threads have ended: closes the socket if still open.
  // REQUIRES: no I/O thread runs.
  void closeAfterStop();

  // From the creation worker: the outcome of the "create" it was given.
  // instance is null when the creation failed; errorLine then holds the
  // answer. On success the answer is composed here and the instance goes
  // live.
  void createFinished(std::unique_ptr<Call> call, std::unique_ptr<Instance> instance,
                      std::string errorLine);

  // Body of the module thread of instance (owned by this session once
  // live). Runs the factory, reports to the creation worker, then serves
  // calls until release or end of input.
  void moduleMain(Instance* instance) noexcept;

 private:
  void readMore();
  void onRead(const asio::error_code& ec, size_t n);
  void takeMessage(std::string&& text);
  void closeInput(bool dead);

  // With mu_ held.
  void pumpLocked();
  void completeLocked(uint64_t seq, AnswerLine line);
  // From the module thread: completes answer seq, writing it straight to
  // the socket when it may (see above).
  void finishCallLocked(uint64_t seq, AnswerLine line);
  // From the module thread: the next part of answer seq, more to come.
  // Returns false when nobody is listening any more.
  bool takePart(uint64_t seq, std::unique_ptr<rapidjson::StringBuffer> part);
  void markDeadLocked();
  void postFlushLocked();
  // Answer bytes this connection holds, counted in the host's budget too.
  void holdLocked(size_t n);
  void releaseHeldLocked(size_t n);
  bool mayComposeLocked() const;
  // Waits until the budget lets this connection compose more or it is dead.
  void waitToComposeLocked(std::unique_lock<std::mutex>& lock);
  // Wakes the module thread (and any thread waiting for the budget).
  void wakeModule();
  // From the module thread, with lock held and nothing to do yet: gives the
  // next request a moment to arrive before the thread sleeps. Returns with
  // lock held again.
  void lingerForWork(std::unique_lock<std::mutex>& lock);

  // On the strand.
  void onHandshake(const asio::error_code& ec);
  void beginServing();
  void onHandshakeTimeout();
  void abandon();
  void flush();
  void onWritten(const asio::error_code& ec);
  // Ends the connection: in good order (telling the client, then reading
  // until it closes or a moment has passed) unless the session is dead or
  // linger is false.
  void closeSocket(bool linger = true);
  void drainUntilClosed();
  void finalClose();

  // The call's answer. *broken: the call failed after part of its answer
  // had left (the returned line is then empty).
  AnswerLine runCall(Instance& instance, Call& call, bool* broken);

  HostCore& host_;
  SessionStream socket_;
  std::string peer_;
  const bool busy_;
  bool counted_;              // holds a place among the open connections
  asio::steady_timer timer_;  // the handshake time limit, then the close's linger
  bool finalClosed_ = false;
  LineFramer framer_;
  std::unique_ptr<char[]> readBuf_;
  std::vector<AnswerLine> writing_;  // answers being written now
  size_t writingBytes_ = 0;          // their size, still held until written
  bool writeBusy_ = false;
  bool socketClosed_ = false;  // set under mu_ too: the module thread reads it there
  bool readPaused_ = false;    // too many answers outstanding; flush() resumes

  std::mutex mu_;
  std::condition_variable cv_;  // the module thread waits here for work
  // Counts wakeModule() calls: a lingering module thread watches it without
  // the mutex, so a wake-up finds it awake and costs no system call.
  std::atomic<uint64_t> wakeups_{0};
  enum class State { kNoInstance, kCreating, kLive } state_ = State::kNoInstance;
  std::unique_ptr<Instance> instance_;
  std::deque<std::unique_ptr<Call>> queue_;
  uint64_t nextSeq_ = 0;                       // sequence number of the next message read
  uint64_t nextWrite_ = 0;                     // sequence number of the next answer to write
  std::map<uint64_t, PendingAnswer> answers_;  // not yet written; no parts = none
  size_t held_ = 0;                            // bytes of answers composed and not yet written
  bool flushPosted_ = false;
  int budgetWaiters_ = 0;  // threads in waitToComposeLocked(); only they need a wake per write
  bool inputClosed_ = false;
  bool dead_ = false;
  bool everLive_ = false;  // an instance was created on this connection
  int directFd_ = -1;      // plain TCP: the descriptor the module thread may write
};

}  // namespace qz::remote::detail

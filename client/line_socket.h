// LineSocket: a blocking TCP connection that sends bytes and reads
// newline-terminated lines, whole or in pieces as they arrive, with a
// timeout on connecting and on each read. The one line connection of the
// client library and of the tests; send() takes any bytes, so a test can
// also send what no client should.
#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "client/read_timeout.h"
#include "client/tls_channel.h"

namespace qz::client {

// Not thread-safe: one owner at a time.
class LineSocket {
 public:
  LineSocket() = default;
  ~LineSocket();
  LineSocket(const LineSocket&) = delete;
  LineSocket& operator=(const LineSocket&) = delete;

  // Connects to "HOST:PORT" ("[v6]:PORT" for IPv6 literals), trying every
  // address the name resolves to, then runs the TLS handshake when tls is
  // enabled. Throws std::runtime_error naming the address on failure or
  // after timeout (which also bounds the handshake).
  void connect(std::string_view hostPort, std::chrono::milliseconds timeout,
               const ClientTlsOptions& tls = {});

  // Sends all of bytes. Throws std::runtime_error when the connection fails.
  void send(std::string_view bytes);
  // Ends the sending direction on plain TCP (the peer reads end of stream);
  // reading goes on.
  void shutdownWrite();

  // The next line without its line feed (and without a trailing carriage
  // return). Returns std::nullopt when the server closed the connection.
  // Throws ReadTimeout on timeout (timeout 0 = wait forever), and
  // std::runtime_error on socket errors.
  std::optional<std::string> readLine(std::chrono::milliseconds timeout);
  // The same into *line, whose memory is kept for the socket's next reads
  // (a caller reading large answers one after another reuses it). Returns
  // false when the server closed the connection. Throws as readLine().
  bool readLineInto(std::string* line, std::chrono::milliseconds timeout);

  // The next line in pieces, as its bytes arrive, for a reader that
  // decodes while receiving: sets [*begin, *end) to the next piece of the
  // line (not empty; valid until the next call on this socket) and returns
  // true, or returns false once the line has ended (its line feed is then
  // consumed; a trailing carriage return is handed over like any byte).
  // Throws std::runtime_error as readLine(), and also when the connection
  // closes before the line has ended.
  bool nextLinePiece(const char** begin, const char** end, std::chrono::milliseconds timeout);

  void close();
  bool isOpen() const { return fd_ >= 0; }

 private:
  // Receives into chunk_; returns the bytes received, 0 when the server
  // closed the connection. Throws std::runtime_error on timeout or socket
  // errors.
  size_t receiveChunk(std::chrono::milliseconds timeout);
  // Receives more bytes at the end of buffer_ (dropping those before
  // start_ first). Returns false when the server closed the connection.
  // Throws as receiveChunk().
  bool receive(std::chrono::milliseconds timeout);

  static constexpr size_t kChunk = 64 * 1024;

  int fd_ = -1;
  std::unique_ptr<TlsChannel> tls_;  // null: plain TCP
  std::unique_ptr<char[]> chunk_;    // receiving area, kChunk bytes once used
  std::string buffer_;               // bytes received; those before start_ are used
  size_t start_ = 0;                 // first byte of buffer_ not yet handed out
  size_t scanned_ = 0;               // bytes from start_ known to hold no line feed
  bool pieceEndedLine_ = false;      // the last piece handed out ended its line
  bool inLine_ = false;              // part of the current line has been handed out
};

}  // namespace qz::client

// WebLink: one accepted WebSocket connection seen as the line stream a
// Session reads and writes. Each message read arrives as one line (a line
// feed is added at its end, and line feeds inside it read as spaces, which
// JSON allows only as white space); each line written leaves as one text
// message, and the part of a line written before its line feed leaves as a
// non-final fragment, so a long answer is sent while it is being written.
//
// The web server implements it on its own I/O thread; the callbacks run on
// that thread and must not block. Thread-safety: every member may be called
// from any thread; at most one read and one write are outstanding at once.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace qz::remote {

class WebLink {
 public:
  enum class Status { kOk, kEnded, kFailed };  // kEnded: the client closed in good order
  using Done = std::function<void(Status status, size_t bytes)>;
  using Piece = std::pair<const char*, size_t>;

  virtual ~WebLink() = default;

  // Reads part of the next message into buf (cap >= 2 bytes).
  virtual void readSome(char* buf, size_t cap, Done done) = 0;
  // Writes from the start of pieces up to and including the first line
  // feed (the end of a message), or all of them (a fragment) when there is
  // none. bytes counts the line feed. The pieces must stay valid until
  // done is called.
  virtual void writeSome(std::vector<Piece> pieces, Done done) = 0;
  // Starts the closing handshake (normal closure); reads then end with
  // kEnded once the client has answered it.
  virtual void closeGracefully() = 0;
  // Closes the connection at once.
  virtual void closeNow() = 0;
};

}  // namespace qz::remote

// Line I/O for protocol transcripts over the client library's LineSocket.
#include "tests/e2e/wire_client.h"

#include <gtest/gtest.h>

#include <chrono>

namespace qz::testing {

WireClient::WireClient(int port) {
  try {
    socket_.connect("127.0.0.1:" + std::to_string(port), std::chrono::seconds(20));
  } catch (const std::exception& e) {
    ADD_FAILURE() << "cannot connect to port " << port << ": " << e.what();
  }
}

void WireClient::close() { socket_.close(); }

bool WireClient::send(const std::string& text, bool raw) {
  try {
    socket_.send(raw ? text : text + "\n");
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

std::string WireClient::readLine(int timeoutMs, bool* closed) {
  if (closed) *closed = false;
  // A timeout of 0 asks for no wait at all, which the socket cannot express.
  if (!socket_.isOpen() || timeoutMs <= 0) return "";
  std::string line;
  try {
    if (socket_.readLineInto(&line, std::chrono::milliseconds(timeoutMs))) return line;
  } catch (const client::ReadTimeout&) {
    return "";
  } catch (const std::exception&) {
    // A reset connection ends like a closed one.
  }
  if (closed) *closed = true;
  return "";
}

}  // namespace qz::testing

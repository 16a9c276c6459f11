// Connection: a client of the application server's socket transport.
//
// One Connection is one TCP connection and holds at most one instance of a
// remote data module: create() it, then call login and the IAppServer
// operations, then release() it (or just destroy the Connection; closing
// releases the instance and rolls back anything left open). Calls are
// synchronous: each sends one JSON-RPC request and waits for its answer.
//
// Packets, deltas, parameters and variants are the platform's types and
// travel in the JSON forms of docs/protocol.md.
#pragma once

#include <rapidjson/document.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "client/line_socket.h"
#include "platform/core/types.h"
#include "platform/packet/delta.h"
#include "platform/packet/error_packet.h"
#include "platform/packet/packet.h"

namespace qz::client {

using provider::DataPacket;
using provider::Delta;
using provider::ErrorPacket;

// Base of every failure a Connection reports.
class ClientError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The connection could not be made, broke, timed out, or the server sent
// something that is not a well-formed answer.
class TransportError : public ClientError {
 public:
  using ClientError::ClientError;
};

// The server answered with an error object. what() is its message, word for
// word (e.g. "Provider not exported: billQ").
class CallError : public ClientError {
 public:
  CallError(int code, const std::string& message, uint32_t hresult, std::string source,
            std::string iid)
      : ClientError(message),
        code(code),
        hresult(hresult),
        source(std::move(source)),
        iid(std::move(iid)) {}
  int code;          // the error kind's code (docs/protocol.md, "Error codes")
  uint32_t hresult;  // 0 when the server sent none
  std::string source;
  std::string iid;
};

struct ClassInfo {
  std::string name;
  std::string progId;
  std::string clsid;
  std::string interfaceName;
  std::string iid;
};

struct RecordsResult {
  DataPacket data;
  int recsOut = 0;
  db::ParamList params;
  Variant ownerData;  // Unassigned when the server sent none
};

struct ApplyResult {
  int errorCount = 0;
  ErrorPacket errors;
  Variant ownerData;
  bool replayed = false;   // the answer recorded when the same request was posted before
  std::string requestKey;  // the key the request carried ("" = none)
  int tries = 1;           // how many times it was sent
};

struct ParamsResult {
  db::ParamList params;
  Variant ownerData;
};

struct RowResult {
  DataPacket data;
  Variant ownerData;
};

// Not thread-safe: one thread uses a Connection at a time.
class Connection {
 public:
  // Connects to "HOST:PORT", with TLS when tls.enabled (the timeout bounds
  // the handshake too). Throws TransportError saying why: no connection, a
  // server certificate that does not check, a handshake the server refused.
  static std::unique_ptr<Connection> open(
      std::string_view hostPort, std::chrono::milliseconds timeout = std::chrono::seconds(10),
      const ClientTlsOptions& tls = {});
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  // How long a call waits for its answer; 0 waits forever. Default 5 min.
  void setCallTimeout(std::chrono::milliseconds t) { callTimeout_ = t; }

  // Creates the instance by class name, ProgID or class id. Throws
  // CallError ("Class not registered", "Instance already created", or the
  // failure of the module's creation).
  ClassInfo create(std::string_view cls);
  // Announces the client. Throws CallError on failure.
  void login(std::string_view op, std::string_view station, std::string_view work);

  std::vector<std::string> getProviderNames();
  // count: -1 all rows, 0 metadata only, n the first n rows. commandText
  // empty = the provider's own statement.
  RecordsResult getRecords(std::string_view provider, int count = -1,
                           std::string_view commandText = {}, const db::ParamList& params = {},
                           const Variant& ownerData = Variant(), int options = 0);
  // maxErrors -1 = no limit. requestKey (at most 64 characters; "" = none)
  // makes the request safe to send again: the server posts a keyed request
  // once and answers a repeat with the recorded answer (replayed).
  ApplyResult applyUpdates(std::string_view provider, const Delta& delta, int maxErrors = -1,
                           const Variant& ownerData = Variant(), std::string_view requestKey = {});
  ParamsResult execute(std::string_view provider, std::string_view commandText,
                       const db::ParamList& params = {}, const Variant& ownerData = Variant());
  ParamsResult getParams(std::string_view provider, const Variant& ownerData = Variant());
  RowResult rowRequest(std::string_view provider, const DataPacket& row, int requestType,
                       const Variant& ownerData = Variant());
  Variant dataRequest(std::string_view provider, const Variant& data);
  // Ends the instance; the connection stays open for another create().
  void release();

  // Sends one request (paramsJson: the JSON text of an object, or empty)
  // and returns the answer's "result" as its own document. Throws CallError
  // for an error answer, TransportError otherwise.
  rapidjson::Document call(std::string_view method, std::string_view paramsJson = {});
  // The same, for an answer whose result carries a packet in member
  // packetKey: the packet is decoded as it is read into *packet (never a
  // JSON tree); the returned result holds null in its place. Returns whether
  // the packet was there. Throws as call(), and provider::CodecError for a
  // malformed packet.
  rapidjson::Document callForPacket(std::string_view method, std::string_view paramsJson,
                                    const char* packetKey, bool* found, DataPacket* packet);

  // Closes the connection (the server releases the instance).
  void close() { socket_.close(); }

 private:
  Connection() = default;
  // Sends the request; *id: its id. Throws TransportError.
  void sendRequest(std::string_view method, std::string_view paramsJson, int64_t* id);
  // Sends the request and returns the answer's line (held in answer_ until
  // the next call) and the request's id. Throws TransportError.
  const std::string& exchange(std::string_view method, std::string_view paramsJson, int64_t* id);
  // Checks a parsed answer to request id and returns its result alone.
  // Throws CallError or TransportError.
  rapidjson::Document resultOf(rapidjson::Document answer, int64_t id);

  LineSocket socket_;
  int64_t nextId_ = 1;
  std::chrono::milliseconds callTimeout_ = std::chrono::minutes(5);
  std::string answer_;  // the last answer's line; its memory serves the next
};

}  // namespace qz::client

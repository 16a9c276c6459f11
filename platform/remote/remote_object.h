// The seam between object hosting (this folder) and the objects it hosts.
//
// The host owns sockets, framing, JSON-RPC, instance lifetime and threads;
// a RemoteObject answers the methods of one instance ("login",
// "AS_GetRecords", ...). Every call of an instance runs on that instance's
// module thread, one after the other, so a RemoteObject needs no locking of
// its own.
#pragma once

#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>

#include "platform/packet/json_writer.h"

namespace qz::remote {

using JsonWriter = provider::JsonWriter;

// A failed call, as the wire reports it: {"code":1,"message":...,"data":
// {"hresult":"0x8000FFFF","source":...,"interface":...}}. code is one of
// error_kinds.h. hresult 0 means the kind's default (json_rpc.h).
class RemoteError : public std::runtime_error {
 public:
  explicit RemoteError(const std::string& message, uint32_t hresult = 0, std::string source = {},
                       std::string iid = {}, int code = 1)
      : std::runtime_error(message),
        hresult(hresult),
        source(std::move(source)),
        iid(std::move(iid)),
        code(code) {}
  uint32_t hresult;
  std::string source;
  std::string iid;
  int code;                // error_kinds.h
  std::string engineCode;  // a database error's own code (data.engineCode), or ""
};

class RemoteObject {
 public:
  virtual ~RemoteObject() = default;
  // Answers one method: writes the JSON-RPC "result" value with w (exactly
  // one value). Throws RemoteError (or any std::exception, reported as an
  // unexpected failure, code 1, with its what()) on failure; then nothing
  // written counts.
  // An unknown method throws RemoteError with code -32601.
  virtual void call(std::string_view method, const rapidjson::Value& params, JsonWriter& w) = 0;
  // Called on the module thread when the instance is released (client
  // "release" or disconnect): roll back an open transaction, close the
  // connection. Never throws.
  virtual void release() noexcept {}
};

// Creates one instance; runs on the new instance's module thread.
using ObjectFactory = std::function<std::unique_ptr<RemoteObject>()>;

// Runs work on the window thread and waits for it (a blocking invoke). The
// host asks it to run every instance creation; login uses it to append to
// the activity log. Exceptions thrown by fn reach the caller.
class UiDispatcher {
 public:
  virtual ~UiDispatcher() = default;
  virtual void invoke(const std::function<void()>& fn) = 0;
};

}  // namespace qz::remote

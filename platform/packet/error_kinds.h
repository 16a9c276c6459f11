// The kinds of failure a client can be told about, each with its stable
// code. The code is the "code" of a JSON-RPC error answer and of each row of
// an error packet; clients decide by it, the message stays the system's
// text. Codes never change meaning: a new kind takes a new code.
//
//   kind                         code     examples
//   bad request                  -32602   "Invalid delta: ...", "Parameter 'x' not found"
//                                         (the envelope faults -32700, -32600 and -32601
//                                         are bad requests too, answered by the host)
//   unexpected failure           1        a fault of the server itself
//   unknown provider or class    2        "Provider not exported: x", "Class not registered"
//   statement refused            3        "CommandText changes are not allowed"
//   record changed               4        "Record not found or changed by another user"
//   posting refused              5        a module's posting rule refused the request
//   database error               6        the engine's text; data.engineCode its own code
//   server busy                  -32000   "Server busy: too many connections, ..."
//
// Thread-safety: constants and pure functions only.
#pragma once

#include <cstdint>

namespace qz {

// The wire codes the kinds share with the JSON-RPC envelope (json_rpc.h
// re-exports them): an invalid parameter, a failed call, a refused
// connection, and the result codes of data.hresult.
inline constexpr int kInvalidParams = -32602;
inline constexpr int kCallFailed = 1;
// The connection was refused because the server serves as many as it may.
inline constexpr int kServerBusy = -32000;

inline constexpr uint32_t kClassNotRegistered = 0x80040154;  // REGDB_E_CLASSNOTREG
inline constexpr uint32_t kUnexpectedFailure = 0x8000FFFF;   // E_UNEXPECTED
inline constexpr uint32_t kRefusedFailure = 0x80004005;      // E_FAIL

enum class ErrorKind : uint8_t {
  BadRequest,
  UnexpectedFailure,
  UnknownName,
  StatementRefused,
  RecordChanged,
  PostingRefused,
  DatabaseError,
  ServerBusy,
};

// The wire code of a kind (see the table above).
constexpr int errorCode(ErrorKind kind) {
  switch (kind) {
    case ErrorKind::BadRequest:
      return kInvalidParams;
    case ErrorKind::UnexpectedFailure:
      return kCallFailed;
    case ErrorKind::UnknownName:
      return 2;
    case ErrorKind::StatementRefused:
      return 3;
    case ErrorKind::RecordChanged:
      return 4;
    case ErrorKind::PostingRefused:
      return 5;
    case ErrorKind::DatabaseError:
      return 6;
    case ErrorKind::ServerBusy:
      return kServerBusy;
  }
  return kCallFailed;
}

// The result code a failed call of the kind carries in data.hresult:
// E_UNEXPECTED only for a failure of the server itself, E_FAIL for a refusal.
// "Class not registered" carries kClassNotRegistered instead.
constexpr uint32_t errorHresult(ErrorKind kind) {
  return kind == ErrorKind::UnexpectedFailure ? kUnexpectedFailure : kRefusedFailure;
}

}  // namespace qz

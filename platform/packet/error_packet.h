// Error packets: the records that failed during one apply-updates request,
// each with the path to its row, its update kind, the error's message and
// its code (platform/packet/error_kinds.h).
//
// Invariant: a path starts with the master row ({"", i}); each further step
// names a detail dataset and the row's index in that master's detail list.
#pragma once

#include <string>
#include <vector>

#include "platform/packet/delta.h"

namespace qz::provider {

struct RowStep {
  std::string detail;  // empty for the master step
  int index = 0;
};

struct UpdateError {
  std::vector<RowStep> path;
  UpdateKind kind = UpdateKind::Modify;
  std::string message;
  int code = 0;            // of its error kind; 0 in packets recorded before the kinds
  std::string engineCode;  // a database error's own code, or ""
};

struct ErrorPacket {
  std::vector<UpdateError> errors;
};

}  // namespace qz::provider

// The one error kind of the Jet file library: a code for callers that react
// to a kind of failure, and the message shown to operators and logs.
#pragma once

#include <stdexcept>
#include <string>

namespace qz::jet {

enum class JetErrorCode {
  Io,            // the file cannot be read or written
  NotJet4,       // the file is no Jet 4 database
  BadPassword,   // the database password does not match
  Corrupt,       // a structure inside the file is inconsistent
  NoSuchTable,   // a table name that the catalog does not hold
  NoSuchColumn,  // a column name that the table does not hold
  TableExists,   // CREATE of a name already in the catalog
  BadValue,      // a value that does not fit its column
  RowTooLarge,   // a row that does not fit on one data page
  Unsupported,   // a structure the library does not write or maintain
};

class JetError : public std::runtime_error {
 public:
  JetError(JetErrorCode code, const std::string& message)
      : std::runtime_error(message), code_(code) {}
  JetErrorCode code() const { return code_; }

 private:
  JetErrorCode code_;
};

// The text the Jet provider gives for a missing or wrong database password.
inline constexpr const char* kNotAValidPassword = "Not a valid password.";

}  // namespace qz::jet

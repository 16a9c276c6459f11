// Providers: a published name over one dataset (with its detail datasets),
// reading data packets with nested details, running statements, and taking
// back a client's delta through the event handlers and the default
// resolution.
//
// Calling order of applyUpdates; the provider declares how the request
// holds its transaction (applyTransaction):
//   1. beforeApplyUpdates(ownerData).
//   2. The provider begins its transaction.
//   3. Master rows in delta order; an inserted master before its detail
//      rows, a modified or deleted master after them (recursively). Per row:
//      beforeUpdateRecord -> unless applied, the default resolution ->
//      afterUpdateRecord, inside a savepoint so that a failed record is
//      undone alone. An error calls onUpdateError with the response preset
//      to Skip while fewer errors than maxErrors occurred before (any
//      negative maxErrors: no limit), else Abort; the error is counted and
//      logged for the error packet; Abort resolves no further rows, nor does
//      the first error when stopOnFirstError is set. The detail rows of a
//      master insert that failed are not resolved (they would have no
//      master).
//   4. The transaction is committed when the error count does not exceed
//      maxErrors (or maxErrors is -1), else rolled back.
//   5. afterApplyUpdates(ownerData).
// When the provider itself fails (bad delta, handler exception other than
// from a record), the call fails as a whole, afterApplyUpdates is not
// called, and a transaction begun during the call is rolled back.
//
// ApplyTransaction::AtomicRequest, for a posting rule that treats each
// request as one unit: the provider begins the transaction before step 1,
// records run without savepoints, the first failed record rolls it all back
// and ends the request (whatever onUpdateError answered), afterApplyUpdates
// runs while the transaction is still open, and the provider commits after
// it. Handlers never begin, commit or roll back the transaction themselves.
// When the caller opened a transaction before the call, the request runs
// inside it and the provider neither begins nor commits one.
//
// Request keys: applyUpdates with a client's request key posts and records
// the answer (error count, error packet, OwnerData) in the same transaction,
// just before the provider commits it. A key this provider recorded before
// refuses that row at the commit: the posting is rolled back and the answer
// is the recorded one (the same key with a different request is refused).
// A request that records nothing (rolled back, failed) also looks for its
// key, since a repeat of a posted request may fail where the first did not.
// A request that is rolled back records nothing. With MaxErrors the
// recorded OwnerData is the one at the commit (step 4). Only a transaction
// the provider began records keys: a request inside the caller's
// transaction takes the key and records nothing.
//
// Thread-safety: belongs to one module instance; one thread at a time.
#pragma once

#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "platform/db/connection.h"
#include "platform/packet/delta.h"
#include "platform/packet/error_kinds.h"
#include "platform/packet/error_packet.h"
#include "platform/packet/json_values.h"
#include "platform/packet/packet.h"
#include "platform/provider/dataset.h"

namespace qz::provider {

enum class ResolverResponse : uint8_t { Skip, Abort };

// How an apply-updates request holds its transaction (see the top).
enum class ApplyTransaction : uint8_t {
  // The provider's own transaction: each record in a savepoint, failures
  // counted against MaxErrors, committed when within it.
  WithMaxErrors,
  // The whole request is one unit for the module's posting rule: undone at
  // its first failure, committed after afterApplyUpdates.
  AtomicRequest,
};

// A request refused by the provider or a module's rule; what() is the
// system's text, kind what the client is told (error_kinds.h).
class ProviderError : public std::runtime_error {
 public:
  ProviderError(ErrorKind kind, const std::string& message)
      : std::runtime_error(message), kind_(kind) {}
  ErrorKind kind() const { return kind_; }

 private:
  ErrorKind kind_;
};

constexpr const char* kCommandTextNotAllowed = "CommandText changes are not allowed";
constexpr const char* kRecordChanged = "Record not found or changed by another user";
constexpr const char* kRequestKeyReused =
    "Request key already used for a different request: ";  // + the key

// AS_RowRequest's requestType: a set of these flags.
constexpr int kFetchRecord = 1;   // the row itself, read afresh
constexpr int kFetchBlobs = 2;    // its blob fields
constexpr int kFetchDetails = 4;  // its nested details

// What a client asks for when reading.
struct ReadRequest {
  int count = -1;  // -1 all rows, 0 metadata only, n the first n
  int options = 0;
  std::string commandText;  // "" = the dataset's own statement
  db::ParamList params;     // matched by name; others keep their values
};

class Provider {
 public:
  // Borrows conn, which must outlive the provider.
  Provider(std::string name, db::Connection& conn, std::unique_ptr<Dataset> dataset);
  Provider(const Provider&) = delete;
  Provider& operator=(const Provider&) = delete;

  const std::string& name() const { return name_; }
  Dataset& dataset() { return *dataset_; }
  const Dataset& dataset() const { return *dataset_; }
  db::Connection& connection() { return conn_; }

  // Options.
  bool allowCommandText = true;
  bool stopOnFirstError = false;
  ApplyTransaction applyTransaction = ApplyTransaction::WithMaxErrors;

  // Events (empty = none).
  std::function<void(Provider&, Variant& ownerData)> beforeApplyUpdates;
  std::function<void(Provider&, const Dataset& source, DeltaRecord&, UpdateKind, bool& applied)>
      beforeUpdateRecord;
  std::function<void(Provider&, DeltaRecord&, const std::exception&, UpdateKind, ResolverResponse&)>
      onUpdateError;
  std::function<void(Provider&, const Dataset& source, DeltaRecord&, UpdateKind)> afterUpdateRecord;
  std::function<void(Provider&, Variant& ownerData)> afterApplyUpdates;
  std::function<Variant(Provider&, const Variant& data)> onDataRequest;

  // Reads through the dataset and writes the packet (with nested details)
  // into w as one JSON value, streaming rows from the database. Afterwards
  // lastParams() holds the parameters used (output parameters of a
  // procedure included). Returns the number of master rows written. Throws
  // ProviderError (kCommandTextNotAllowed), CodecError (unknown parameter)
  // or db::DbError; then w holds a partial value and must be discarded.
  int64_t getRecords(JsonWriter& w, const ReadRequest& req);
  // The same into memory (for small results and tests).
  DataPacket getRecordsPacket(const ReadRequest& req, int64_t* recsOut = nullptr);

  // Runs the dataset's statement (or the client's commandText where
  // allowed) without rows; input-output parameters come back in
  // lastParams().
  // Returns rows affected (0 for procedures).
  int64_t execute(const std::string& commandText, const db::ParamList& params);

  // The rows given, answered as requestType asks: kFetchRecord reads each
  // row afresh from the target table (found by the values sent, as an
  // update finds its row), kFetchDetails reads its details for its link
  // values, kFetchBlobs adds nothing (rows always carry their blobs). A
  // request with neither kFetchRecord nor kFetchDetails (0, as earlier
  // clients send) reads the details. Throws ProviderError
  // (kRecordChanged) when a row to refresh is no longer there, and what
  // the database throws.
  DataPacket rowRequest(const DataPacket& row, int requestType);

  // Applies a delta as described at the top. Returns the error count;
  // errors receives the failed records.
  int applyUpdates(Delta& delta, int maxErrors, Variant& ownerData, ErrorPacket* errors);
  // The same with the client's request key (empty: none; at most
  // db::kMaxRequestKeyLength characters). *replayed tells whether the answer
  // is a recorded one. Throws ProviderError(kRequestKeyReused + key) when the
  // key was recorded for a request with another delta, maxErrors or
  // OwnerData, and what the table of keys throws (db::DbError).
  int applyUpdates(Delta& delta, int maxErrors, Variant& ownerData, ErrorPacket* errors,
                   std::string_view requestKey, bool* replayed);

  // Called right after the commit of a keyed request, before its answer
  // goes back (nullptr: nothing). The crash tests stop the process here to
  // lose an answer whose request was posted.
  static inline void (*afterKeyedCommit)() = nullptr;

  // The statement the last read used: the client's when it sent one.
  // Default resolution takes the target table from it.
  const std::string& currentCommandText() const { return commandText_; }
  // The parameters of the last read or execute, with their values.
  const db::ParamList& lastParams() const { return lastParams_; }

 private:
  struct ApplyState;
  struct KeyedRequest;
  int applyDelta(Delta& delta, int maxErrors, Variant& ownerData, ErrorPacket* errors,
                 KeyedRequest* keyed);
  // Records the answer of a keyed request in the open transaction.
  void recordKey(KeyedRequest& keyed, int errorCount, const ErrorPacket& errors,
                 const Variant& ownerData);
  void checkCommandText(const std::string& commandText) const;
  // The parameter list for a run: the dataset's own (client values
  // assigned, kept), or for a client statement its markers' parameters.
  db::ParamList& prepareParams(const std::string& commandText, const db::ParamList& client);
  void resolveRows(const Dataset& ds, const std::vector<FieldDef>& fields,
                   std::vector<DeltaRow>& rows, std::vector<RowStep>& path, ApplyState& st);
  bool resolveOne(const Dataset& ds, const std::vector<FieldDef>& fields, DeltaRow& row,
                  const std::vector<RowStep>& path, ApplyState& st);
  void resolveDetails(const Dataset& ds, const std::vector<FieldDef>& fields, DeltaRow& row,
                      std::vector<RowStep>& path, ApplyState& st);
  std::string targetTable(const Dataset& ds) const;

  std::string name_;
  db::Connection& conn_;
  std::unique_ptr<Dataset> dataset_;
  std::string commandText_;
  db::ParamList lastParams_;
};

}  // namespace qz::provider

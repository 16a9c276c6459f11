// Applying a client's delta: the calling order of the events, error
// counting against MaxErrors, the provider's own transaction (where the
// answer of a keyed request is recorded, just before the commit), and the
// target table of the default resolution.
#include <stdexcept>

#include "platform/provider/error_kind_of.h"
#include "platform/provider/provider.h"
#include "platform/provider/resolver.h"
#include "platform/provider/sql_names.h"

namespace qz::provider {

struct Provider::ApplyState {
  int maxErrors;
  bool atomic;  // ApplyTransaction::AtomicRequest
  int errorCount = 0;
  bool abort = false;
  // The transaction of the request is open (set on begin, cleared by the
  // roll-back of an atomic request).
  bool transactionOpen = false;
  ErrorPacket* errors;
  TableColumns* columns;  // of the tables this request writes
};

std::string Provider::targetTable(const Dataset& ds) const {
  std::string table;
  bool master = &ds == dataset_.get();
  switch (ds.kind()) {
    case DatasetKind::Table:
      table = master && !commandText_.empty() ? commandText_ : ds.tableName();
      break;
    case DatasetKind::Query:
      table = tableAfterFrom(master && !commandText_.empty() ? commandText_ : ds.sqlText());
      break;
    case DatasetKind::StoredProc:
      break;
  }
  if (table.empty() || !isTableName(table))
    throw ProviderError(ErrorKind::StatementRefused, "Unable to resolve records of dataset '" +
                                                         ds.name() + "': no table name found");
  return table;
}

namespace {

// Checks that every detail list of the delta belongs to a detail dataset.
void checkShape(const Dataset& ds, const std::vector<FieldDef>& fields) {
  for (const FieldDef& f : fields) {
    if (f.type != FieldType::Dataset) continue;
    const Dataset* d = ds.findDetail(f.name);
    if (!d)
      throw ProviderError(ErrorKind::BadRequest,
                          "Dataset '" + ds.name() + "' has no detail '" + f.name + "'");
    checkShape(*d, f.children);
  }
}

}  // namespace

bool Provider::resolveOne(const Dataset& ds, const std::vector<FieldDef>& fields, DeltaRow& row,
                          const std::vector<RowStep>& path, ApplyState& st) {
  UpdateKind kind = row.kind;
  DeltaRecord rec(ds.name(), &fields, &row);
  // With MaxErrors each record runs inside a savepoint: a failed record
  // leaves nothing of its own behind, and the transaction stays usable for
  // the records after it (an engine that aborts a transaction on a failed
  // statement would otherwise lose every row of the request at commit). An
  // atomic request is undone whole at its first failure and needs none,
  // which saves two statements (round trips) per record.
  const bool savepoint = !st.atomic;
  try {
    if (savepoint) conn_.execute("SAVEPOINT qz_record");
    if (beforeUpdateRecord) beforeUpdateRecord(*this, ds, rec, kind, rec.applied);
    if (!rec.applied) resolveRecord(conn_, *st.columns, targetTable(ds), fields, row);
    if (afterUpdateRecord) afterUpdateRecord(*this, ds, rec, kind);
    if (savepoint) conn_.execute("RELEASE SAVEPOINT qz_record");
    return true;
  } catch (const std::exception& e) {
    if (savepoint) {
      try {
        conn_.execute("ROLLBACK TO SAVEPOINT qz_record");
        conn_.execute("RELEASE SAVEPOINT qz_record");
      } catch (...) {
      }
    }
    ResolverResponse response = (st.maxErrors == -1 || st.errorCount < st.maxErrors)
                                    ? ResolverResponse::Skip
                                    : ResolverResponse::Abort;
    if (onUpdateError) onUpdateError(*this, rec, e, kind, response);
    ++st.errorCount;
    if (st.errors)
      st.errors->errors.push_back(
          UpdateError{path, kind, e.what(), errorCode(errorKindOf(e)), engineCodeOf(e)});
    if (response == ResolverResponse::Abort || stopOnFirstError) st.abort = true;
    if (st.atomic) {
      // The request is one unit: its first failure undoes it all and ends it.
      if (st.transactionOpen) {
        st.transactionOpen = false;
        conn_.rollbackTrans();
      }
      st.abort = true;
    }
    return false;
  }
}

void Provider::resolveDetails(const Dataset& ds, const std::vector<FieldDef>& fields, DeltaRow& row,
                              std::vector<RowStep>& path, ApplyState& st) {
  size_t k = 0;
  for (const FieldDef& f : fields) {
    if (f.type != FieldType::Dataset) continue;
    std::vector<DeltaRow>& rows = row.details[k++];
    if (rows.empty()) continue;
    const Dataset* d = ds.findDetail(f.name);
    path.push_back(RowStep{d->name(), 0});
    resolveRows(*d, f.children, rows, path, st);
    path.pop_back();
    if (st.abort) return;
  }
}

void Provider::resolveRows(const Dataset& ds, const std::vector<FieldDef>& fields,
                           std::vector<DeltaRow>& rows, std::vector<RowStep>& path,
                           ApplyState& st) {
  for (size_t i = 0; i < rows.size() && !st.abort; ++i) {
    path.back().index = static_cast<int>(i);
    DeltaRow& row = rows[i];
    switch (row.kind) {
      case UpdateKind::Insert:
        if (resolveOne(ds, fields, row, path, st) && !st.abort)
          resolveDetails(ds, fields, row, path, st);
        break;
      case UpdateKind::Unmodified:
        resolveDetails(ds, fields, row, path, st);
        break;
      default:
        resolveDetails(ds, fields, row, path, st);
        if (!st.abort) resolveOne(ds, fields, row, path, st);
        break;
    }
  }
}

int Provider::applyUpdates(Delta& delta, int maxErrors, Variant& ownerData, ErrorPacket* errors) {
  return applyDelta(delta, maxErrors, ownerData, errors, nullptr);
}

int Provider::applyDelta(Delta& delta, int maxErrors, Variant& ownerData, ErrorPacket* errors,
                         KeyedRequest* keyed) {
  if (maxErrors < 0) maxErrors = -1;  // every negative limit means none
  checkShape(*dataset_, delta.fields);
  conn_.ensureOpen();
  const bool atomic = applyTransaction == ApplyTransaction::AtomicRequest;
  ErrorPacket keyedErrors;  // a keyed request records its errors even when the caller wants none
  if (keyed && !errors) errors = &keyedErrors;
  // A transaction the caller opened stays the caller's: the request runs
  // inside it and neither commits nor records a key.
  const bool own = !conn_.inTransaction();
  ApplyState st{maxErrors, atomic, 0, false, !own, errors, nullptr};
  auto begin = [&] {
    if (!own) return;
    conn_.beginTrans();
    st.transactionOpen = true;
  };
  try {
    if (atomic) begin();
    if (beforeApplyUpdates) beforeApplyUpdates(*this, ownerData);
    if (!atomic) begin();
    TableColumns columns(conn_);
    st.columns = &columns;
    std::vector<RowStep> path{RowStep{"", 0}};
    resolveRows(*dataset_, delta.fields, delta.rows, path, st);
    const bool withinLimit = maxErrors == -1 || st.errorCount <= maxErrors;
    auto finish = [&] {
      if (!own || !st.transactionOpen) return;
      st.transactionOpen = false;
      if (!withinLimit) {
        conn_.rollbackTrans();
        return;
      }
      if (keyed) recordKey(*keyed, st.errorCount, *errors, ownerData);
      conn_.commitTrans();
      if (keyed && afterKeyedCommit) afterKeyedCommit();
    };
    // An atomic request's rule sets its answer inside the transaction.
    if (atomic && afterApplyUpdates) afterApplyUpdates(*this, ownerData);
    finish();
    if (!atomic && afterApplyUpdates) afterApplyUpdates(*this, ownerData);
    return st.errorCount;
  } catch (...) {
    // Whatever this call began is undone; a failed commit may have ended it.
    if (own && conn_.inTransaction()) {
      try {
        conn_.rollbackTrans();
      } catch (...) {
      }
    }
    throw;
  }
}

}  // namespace qz::provider

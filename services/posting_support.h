// Steps shared by the posting rules of top_dm1 and top_dm2: telling the
// source datasets apart, calling an insert procedure with the delta's new
// values, finding a record's client, and stamping the client's most recent
// business date.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/db/connection.h"
#include "platform/packet/delta.h"
#include "platform/provider/dataset.h"

namespace qz::services {

// True when the dataset's component name, in ASCII upper case, equals
// upperName ("BILLS", "BILLITEMS", ...).
bool isSource(const provider::Dataset& ds, std::string_view upperName);

// Sets parameters 1.. of proc to the new values of the delta fields of the
// same names (without '@'), exactly as the delta carries them (null stays
// null; a value the record lacks is bound as null), runs the procedure and
// returns @RETURN_VALUE as a 32-bit integer.
// Throws FieldNotFound for a field missing from the delta, DbError from the
// procedure, VariantError when the return value does not convert.
int32_t insertThroughProcedure(db::StoredProc& proc, provider::DeltaRecord& rec);

// v as a 32-bit integer or as text; a conversion failure is thrown again
// as a VariantError naming the field first ("Field 'cltid': Could not
// convert variant of type (Null) into type (Int64)"), the form in which
// the packet reader names the fields it cannot read.
int32_t fieldInt32(std::string_view field, const Variant& v);
std::string fieldText(std::string_view field, const Variant& v);

// The client of a master record: the new cltid when assigned, else the old
// cltid when not null, else -1. Throws VariantError naming cltid when the
// chosen value does not convert to a 32-bit integer (a null new value among
// them).
int32_t clientIdOf(provider::DeltaRecord& rec);

// UpdateClientNearDate: sets CLIENT.neardate of client id to today through
// serverQuery ("update CLIENT set neardate=:neardate where id=:id" with today as
// YYYY-MM-DD and the id bound).
// Throws DbError when the database refuses it.
void UpdateClientNearDate(db::Query& serverQuery, int32_t id);

// The number a new detail row takes from its master: refuses a row whose
// master this request did not insert (the number would belong to an
// earlier request's document).
// Throws std::runtime_error naming the field and the dataset.
int32_t numberForNewDetail(bool masterInsertedThisRequest, int32_t number, std::string_view field,
                           std::string_view dataset);

}  // namespace qz::services

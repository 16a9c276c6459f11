// The Jet engine session: an Access file opened through a connection text
// with "Provider=Microsoft.Jet.OLEDB.4.0", "Data Source" (the file) and
// "Jet OLEDB:Database Password". Statements are the forms of
// jet_statement.h; parameters are bound by position in order of their
// first appearance and converted to the column's type. There are no
// transactions: each statement takes effect on the file on its own. The
// session reports EngineKind::Embedded (a file engine without a server).
//
// Thread-safety: one thread at a time, like every session.
#pragma once

#include <memory>

#include "platform/db/connection_string.h"
#include "platform/db/engine.h"

namespace qz::db {

// Whether a connection text's provider is the Jet OLE DB provider.
bool IsJetProvider(const ConnectionString& cs);

// Whether a session is an Access file's (its statements bypass the dialect).
bool IsJetSession(const EngineSession& session);

// Opens the file. Throws DbError with the provider's texts: "Could not
// find file '...'.", "Not a valid password.", "Unrecognized database
// format '...'.".
std::unique_ptr<EngineSession> openJet(const ConnectionString& cs);

}  // namespace qz::db

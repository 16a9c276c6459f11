// The Jet engine session: an Access file opened through a connection text
// with "Provider=Microsoft.Jet.OLEDB.4.0", "Data Source" (the file) and
// "Jet OLEDB:Database Password". Statements are the forms of
// jet_statement.h; parameters are bound by position in order of their
// first appearance and converted to the column's type. There are no
// transactions: each statement takes effect at once for this session; the
// file library writes the changed pages out shortly after (see
// platform/jet/database.h), at flush() and when the session ends. A
// statement with parameters is parsed once and kept for its next run. The
// session reports EngineKind::Embedded (a file engine without a server).
//
// Thread-safety: one thread at a time, like every session.
#pragma once

#include <memory>
#include <string_view>

#include "platform/db/connection_string.h"
#include "platform/db/engine.h"

namespace qz::db {

// Whether a connection text's provider is the Jet OLE DB provider.
bool IsJetProvider(const ConnectionString& cs);

// Whether a session is an Access file's (its statements bypass the dialect).
bool IsJetSession(const EngineSession& session);

// Runs sql on an Access file's session with the parameters taken by name
// (the way Connection passes them). Throws DbError with the provider's
// texts. REQUIRES: IsJetSession(session).
int64_t JetExecute(EngineSession& session, std::string_view sql, const ParamList& params);
std::unique_ptr<Cursor> JetQuery(EngineSession& session, std::string_view sql,
                                 const ParamList& params);

// Opens the file. Throws DbError with the provider's texts: "Could not
// find file '...'.", "Not a valid password.", "Unrecognized database
// format '...'.".
std::unique_ptr<EngineSession> openJet(const ConnectionString& cs);

}  // namespace qz::db

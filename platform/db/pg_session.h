// The PostgreSQL engine: an EngineSession over one libpq connection.
//
// Statements arrive already in PostgreSQL's dialect with $N markers. Without
// parameters they go through the simple protocol (so a batch of several
// statements separated by ';' runs as one); with parameters through the
// extended protocol, every value sent as text of unknown type so that the
// server infers the type from the context (bytes go as binary bytea).
//
// Procedures are PL/pgSQL functions: callProcedure("Bills_insert", params)
// runs SELECT * FROM Bills_insert($1, ...) with the Input and InputOutput
// values in order (params[0], the @RETURN_VALUE, is not an argument). When
// every result column names an output of the call ("return_value" for the
// @RETURN_VALUE, otherwise the parameter name without '@', any case) the
// first row is written back into those parameters and there are no rows;
// otherwise the result is the procedure's row set and the @RETURN_VALUE is 0,
// as for a T-SQL procedure that ends without RETURN.
//
// A query (a single statement) hands out its rows while the server still
// sends them (libpq's single-row mode): the caller encodes the first rows
// while the rest arrive, and a large result is never held whole. Until its
// last row is read the connection is busy; any other use of the session
// first reads the remaining rows into the cursor, so detail queries can
// run while a master's cursor is open. A failure part-way comes after the
// rows before it.
//
// A text run with parameters a second time is prepared (PgStatementCache),
// so the system's repeated statements are parsed and planned once per
// session. Field metadata (NOT NULL, primary key, generated) comes from the
// catalogue, read once per table, and table names are looked up once; both
// are kept until this session changes the schema or a statement fails.
//
// A connection that the server or the network dropped is opened again before
// the next statement, with the current command timeout; if it dropped inside
// a transaction, every statement fails until the caller ends the transaction
// (commit raises, rollback does not), so nothing runs outside it unnoticed.
// The command timeout is SET statement_timeout; a SET that a rollback undid
// is sent again.
//
// Thread-safety: none; one session is used by one thread at a time.
#pragma once

#include <memory>

#include "platform/db/engine.h"

namespace qz::db {

// Opens a session. Throws DbError with libpq's text when the server cannot
// be reached or refuses the login. Implemented in pg_session.cpp and
// declared in engine.h as openPostgres.
std::unique_ptr<EngineSession> openPostgres(const ConnectionString& cs, int connectTimeout,
                                            int commandTimeout);

}  // namespace qz::db

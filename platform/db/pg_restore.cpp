// RESTORE DATABASE on PostgreSQL; see pg_restore.h.
#include "platform/db/pg_restore.h"

#include "platform/db/connection_string.h"
#include "platform/db/sql_quote.h"

namespace qz::db {
namespace {

std::string shellQuote(const std::string& s) {
  std::string out = "'";
  for (char c : s) {
    if (c == '\'')
      out += "'\\''";
    else
      out += c;
  }
  return out + "'";
}

std::string firstText(EngineSession& s, const std::string& sql) {
  auto c = s.query(sql, {});
  if (!c->next() || c->row().empty() || c->row()[0].isEmpty()) return std::string();
  return c->row()[0].toText();
}

bool databaseExists(EngineSession& s, const std::string& name) {
  return !firstText(s, "SELECT 1 FROM pg_database WHERE datname = " + QuoteSqlText(name)).empty();
}

// Runs a shell script on the server; returns whether it succeeded and its
// output (on failure, the first two lines: the reason the program gave).
// The program always ends by printing its exit status: a failing program
// would make COPY fail with the whole script as its message and lose what
// the program printed.
bool runOnServer(EngineSession& s, const std::string& script, std::string* output) {
  s.execute("CREATE TEMP TABLE IF NOT EXISTS qz_program_output(n serial, line text)", {});
  s.execute("TRUNCATE qz_program_output", {});
  s.execute("COPY qz_program_output(line) FROM PROGRAM " +
                QuoteSqlText("( " + script + "\n) 2>&1; echo qz-exit-$?") +
                " WITH (FORMAT csv, DELIMITER E'\\x02', QUOTE E'\\x01')",
            {});
  *output = firstText(s, "SELECT string_agg(line, E'\\n' ORDER BY n) FROM qz_program_output");
  const size_t mark = output->rfind("qz-exit-");
  const bool done =
      mark != std::string::npos && output->compare(mark, std::string::npos, "qz-exit-0") == 0;
  if (mark != std::string::npos) output->resize(mark);
  if (!done) {
    // One or two lines say why; the rest repeats it ("exiting now").
    output->erase(0, output->find_first_not_of("\n "));
    size_t cut = output->find('\n');
    if (cut != std::string::npos) cut = output->find('\n', cut + 1);
    if (cut != std::string::npos) output->resize(cut);
  }
  while (!output->empty() && (output->back() == '\n' || output->back() == ' ')) output->pop_back();
  return done;
}

}  // namespace

std::unique_ptr<Cursor> restorePostgresDatabase(EngineSession& s, const std::string& database,
                                                const std::string& disk) {
  if (database.empty()) throw DbError("RESTORE DATABASE: the database name is missing.");
  if (disk.empty()) throw DbError("RESTORE DATABASE: the backup file name is missing.");
  if (s.inTransaction())
    throw DbError(
        "The RESTORE DATABASE statement is not allowed within a multi-statement "
        "transaction.");
  if (EqualsNoCase(database, "master") || database == "postgres" || database == "template0" ||
      database == "template1")
    throw DbError("The database '" + database + "' cannot be restored from a backup set.");
  if (firstText(s, "SELECT current_database()") == database)
    throw DbError(
        "Exclusive access could not be obtained because the database is in use. "
        "RESTORE DATABASE is terminating abnormally.");

  const std::string fresh = database + "__restoring";
  const std::string old = database + "__replaced";
  const std::string sock =
      firstText(s,
                "SELECT coalesce(nullif(trim(split_part(current_setting('unix_socket_directories', "
                "true), ',', 1)), ''), host(inet_server_addr()), '127.0.0.1')");
  const std::string port = firstText(s, "SELECT current_setting('port')");
  const std::string user = firstText(s, "SELECT current_user");

  s.execute("DROP DATABASE IF EXISTS " + QuoteSqlName(fresh), {});
  s.execute("CREATE DATABASE " + QuoteSqlName(fresh) + " TEMPLATE template0", {});
  auto dropFresh = [&] {
    try {
      s.execute("DROP DATABASE IF EXISTS " + QuoteSqlName(fresh), {});
    } catch (const DbError&) {
    }
  };
  std::string output;
  bool ok = false;
  try {
    const std::string script =
        "bin=$(dirname \"$(readlink /proc/$PPID/exe)\")\n"
        "[ -x \"$bin/pg_restore\" ] || bin=$(dirname \"$(command -v pg_restore)\")\n"
        "set -e\n"
        "f=" +
        shellQuote(disk) +
        "\n"
        "[ -f \"$f\" ] || { echo \"Cannot open backup device '$f'. The file does not exist.\"; "
        "exit 1; }\n"
        "m=$(tar -tf \"$f\" | grep '[.]dump$' | tail -n 1)\n"
        "[ -n \"$m\" ] || { echo \"The backup media '$f' holds no backup set.\"; exit 1; }\n"
        "d=$(mktemp -d)\n"
        "trap 'rm -rf \"$d\"' EXIT\n"
        "tar -xf \"$f\" -C \"$d\" \"$m\" \"$m.sha256\"\n"
        "(cd \"$d\" && sha256sum -c --quiet \"$m.sha256\" >/dev/null 2>&1) || "
        "{ echo \"The backup media '$f' is damaged (backup set $m fails its checksum).\"; exit 1; "
        "}\n"
        "tmp=\"$d/$m\"\n"
        "\"$bin/pg_restore\" --exit-on-error --no-owner -h " +
        shellQuote(sock) + " -p " + shellQuote(port) + " -U " + shellQuote(user) + " -d " +
        shellQuote(fresh) + " \"$tmp\"";
    ok = runOnServer(s, script, &output);
  } catch (...) {
    dropFresh();
    throw;
  }
  if (!ok) {
    dropFresh();
    throw DbError("RESTORE DATABASE is terminating abnormally; the database '" + database +
                  "' is unchanged. The backup media '" + disk + "' could not be read: " +
                  (output.empty() ? std::string("the server program failed") : output));
  }

  // Swap the restored database in.
  const bool exists = databaseExists(s, database);
  if (exists) {
    try {
      s.execute("ALTER DATABASE " + QuoteSqlName(database) + " RENAME TO " + QuoteSqlName(old), {});
    } catch (const DbError&) {
      dropFresh();
      throw;  // e.g. "database ... is being accessed by other users"
    }
  }
  try {
    s.execute("ALTER DATABASE " + QuoteSqlName(fresh) + " RENAME TO " + QuoteSqlName(database), {});
  } catch (...) {
    if (exists)
      s.execute("ALTER DATABASE " + QuoteSqlName(old) + " RENAME TO " + QuoteSqlName(database), {});
    dropFresh();
    throw;
  }
  if (exists) {
    try {
      s.execute("DROP DATABASE " + QuoteSqlName(old), {});
    } catch (const DbError&) {
      // The old content stays under its temporary name; nothing is lost.
    }
  }
  return nullptr;
}

}  // namespace qz::db

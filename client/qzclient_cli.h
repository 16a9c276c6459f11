// The qzclient command line: parses the arguments, talks to the server
// through a Connection and prints the outcome. Kept apart from main() so
// the tests can run it in-process.
//
// qzclient [--server HOST:PORT] [--class NAME] [--timeout SECONDS]
//          [--tls] [--tls-ca FILE] [--tls-cert FILE --tls-key FILE]
//          [--tls-server-name NAME] [--tls-insecure]
//          [--login OP STATION WORK] COMMAND ...
//   providers
//   read PROVIDER [--sql TEXT] [--param NAME=VALUE]... [--format table|csv|json]
//        [--count N]
//   exec PROVIDER --sql TEXT [--param NAME=VALUE]...
//   apply PROVIDER FILE.json [--sql TEXT] [--owner-data JSON] [--max-errors N]
//         [--request-key KEY] [--tries N]
//     sends a request key (a fresh one unless given) and, when the
//     connection is lost, connects again and resends up to N times in all
//     (default 5); a lost answer's error names the key to send again with.
//   login OP STATION WORK
//
// Exit status: 0 success, 1 the server refused or some rows failed,
// 2 usage errors, 3 the connection failed.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "platform/packet/packet.h"

namespace qz::client {

// Runs one qzclient invocation; args excludes the program name.
int runQzClient(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// The text of one cell of a packet as the table and CSV formats show it:
// empty for null, "[n rows]" for a detail table, "(n bytes)" for bytes.
std::string cellText(const provider::DataRow& row, const std::vector<provider::FieldDef>& fields,
                     size_t field);

}  // namespace qz::client

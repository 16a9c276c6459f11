// qzclient: argument parsing, the five commands and the three output
// formats of "read".
#include "client/qzclient_cli.h"

#include <cstdio>
#include <fstream>
#include <functional>
#include <sstream>
#include <stdexcept>

#include "client/client_session.h"
#include "client/connection.h"
#include "client/text_table.h"
#include "platform/core/request_key.h"
#include "platform/packet/json_delta.h"
#include "platform/packet/json_packet.h"
#include "platform/packet/json_values.h"

namespace qz::client {

namespace {

constexpr int kOk = 0;
constexpr int kRefused = 1;
constexpr int kUsage = 2;
constexpr int kNoConnection = 3;

class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

const char* kUsageText =
    "usage: qzclient [--server HOST:PORT] [--class NAME] [--timeout SECONDS]\n"
    "                [--tls] [--tls-ca FILE] [--tls-cert FILE --tls-key FILE]\n"
    "                [--tls-server-name NAME] [--tls-insecure]\n"
    "                [--login OP STATION WORK] COMMAND ...\n"
    "  providers\n"
    "  read PROVIDER [--sql TEXT] [--param NAME=VALUE]... [--format table|csv|json] [--count N]\n"
    "  exec PROVIDER --sql TEXT [--param NAME=VALUE]...\n"
    "  apply PROVIDER FILE.json [--sql TEXT] [--owner-data JSON] [--max-errors N]\n"
    "        [--request-key KEY] [--tries N]\n"
    "  login OP STATION WORK\n";

struct Options {
  std::string server = "127.0.0.1:5211";
  ClientTlsOptions tls;  // any --tls* option turns it on
  std::string cls = "top_dm2";
  int timeoutSeconds = 300;
  std::vector<std::string> login;  // OP STATION WORK, or empty
  std::string command;
  std::vector<std::string> positional;
  std::string sql;
  bool sqlGiven = false;
  db::ParamList params;
  std::string format = "table";
  int count = -1;
  std::string ownerData;
  int maxErrors = -1;
  bool help = false;       // --help: the usage on standard output, status 0
  std::string requestKey;  // "" = a fresh one
  int tries = 5;
};

int parseInt(const std::string& option, const std::string& text) {
  try {
    size_t used = 0;
    int v = std::stoi(text, &used);
    if (used == text.size()) return v;
  } catch (const std::exception&) {
  }
  throw UsageError(option + ": not a number: " + text);
}

Options parse(const std::vector<std::string>& args) {
  Options o;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&]() -> const std::string& {
      if (i + 1 >= args.size()) throw UsageError(a + " needs a value");
      return args[++i];
    };
    if (a == "--server") {
      o.server = value();
    } else if (a == "--tls") {
      o.tls.enabled = true;
    } else if (a == "--tls-ca") {
      o.tls.caFile = value();
      o.tls.enabled = true;
    } else if (a == "--tls-cert") {
      o.tls.certFile = value();
      o.tls.enabled = true;
    } else if (a == "--tls-key") {
      o.tls.keyFile = value();
      o.tls.enabled = true;
    } else if (a == "--tls-server-name") {
      o.tls.serverName = value();
      o.tls.enabled = true;
    } else if (a == "--tls-insecure") {
      o.tls.insecure = true;
      o.tls.enabled = true;
    } else if (a == "--class") {
      o.cls = value();
    } else if (a == "--timeout") {
      o.timeoutSeconds = parseInt(a, value());
    } else if (a == "--login") {
      if (i + 3 >= args.size()) throw UsageError("--login needs OP STATION WORK");
      o.login.assign(args.begin() + static_cast<long>(i) + 1,
                     args.begin() + static_cast<long>(i) + 4);
      i += 3;
    } else if (a == "--sql") {
      o.sql = value();
      o.sqlGiven = true;
    } else if (a == "--param") {
      const std::string& nv = value();
      auto eq = nv.find('=');
      if (eq == std::string::npos || eq == 0) throw UsageError("--param wants NAME=VALUE: " + nv);
      db::Parameter p;
      p.name = nv.substr(0, eq);
      p.value = Variant(nv.substr(eq + 1));
      o.params.push_back(std::move(p));
    } else if (a == "--format") {
      o.format = value();
      if (o.format != "table" && o.format != "csv" && o.format != "json") {
        throw UsageError("--format must be table, csv or json");
      }
    } else if (a == "--count") {
      o.count = parseInt(a, value());
    } else if (a == "--owner-data") {
      o.ownerData = value();
    } else if (a == "--max-errors") {
      o.maxErrors = parseInt(a, value());
    } else if (a == "--request-key") {
      o.requestKey = value();
      if (!db::requestKeyFits(o.requestKey))
        throw UsageError("--request-key wants 1 to 64 characters");
    } else if (a == "--tries") {
      o.tries = parseInt(a, value());
      if (o.tries < 1) throw UsageError("--tries must be at least 1");
    } else if (a == "--help" || a == "-h") {
      o.help = true;
      return o;
    } else if (a.size() > 1 && a[0] == '-' && a[1] == '-') {
      throw UsageError("unknown option " + a);
    } else if (o.command.empty()) {
      o.command = a;
    } else {
      o.positional.push_back(a);
    }
  }
  auto want = [&](size_t n, const char* what) {
    if (o.positional.size() != n) throw UsageError(o.command + " needs " + what);
  };
  if (o.command == "providers") {
    want(0, "no arguments");
  } else if (o.command == "read") {
    want(1, "PROVIDER");
  } else if (o.command == "exec") {
    want(1, "PROVIDER");
    if (!o.sqlGiven) throw UsageError("exec needs --sql TEXT");
  } else if (o.command == "apply") {
    want(2, "PROVIDER FILE.json");
  } else if (o.command == "login") {
    want(3, "OP STATION WORK");
  } else if (o.command.empty()) {
    throw UsageError("no command given");
  } else {
    throw UsageError("unknown command " + o.command);
  }
  return o;
}

std::string variantJson(const Variant& v) {
  rapidjson::StringBuffer buf;
  provider::JsonWriter w(buf);
  provider::writeTagged(w, v);
  return {buf.GetString(), buf.GetSize()};
}

Variant parseOwnerData(const std::string& text) {
  rapidjson::Document d;
  provider::parseJson(text, &d);
  return provider::readTaggedValue(d);
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw UsageError("cannot read " + path);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

bool isNumeric(provider::FieldType t) {
  using provider::FieldType;
  return t == FieldType::Int16 || t == FieldType::Int32 || t == FieldType::Int64 ||
         t == FieldType::Float || t == FieldType::Currency || t == FieldType::Decimal;
}

void printPacket(const DataPacket& p, const std::string& format, std::ostream& out) {
  if (format == "json") {
    out << provider::encodePacket(p) << "\n";
    return;
  }
  if (p.fields.empty()) {
    if (format == "table") out << "(no columns)\n";
    return;
  }
  std::vector<std::string> header;
  std::vector<bool> right;
  for (const auto& f : p.fields) {
    header.push_back(f.name);
    right.push_back(isNumeric(f.type));
  }
  std::vector<std::vector<std::string>> rows;
  rows.reserve(p.rows.size());
  for (const auto& r : p.rows) {
    std::vector<std::string> cells;
    for (size_t i = 0; i < p.fields.size(); ++i) cells.push_back(cellText(r, p.fields, i));
    rows.push_back(std::move(cells));
  }
  if (format == "csv") {
    out << csvLine(header);
    for (const auto& r : rows) out << csvLine(r);
    return;
  }
  out << formatTable(header, rows, right);
  out << "(" << p.rows.size() << (p.rows.size() == 1 ? " row)" : " rows)") << "\n";
}

void printParams(const db::ParamList& params, std::ostream& out) {
  for (const auto& p : params) {
    if (p.direction == db::ParamDirection::Input) continue;
    const Variant& v = p.value;
    std::string text = v.isEmpty() ? std::string("null")
                       : (v.type() == VarType::Array || v.type() == VarType::Bytes) ? variantJson(v)
                                                                                    : v.toText();
    out << p.name << " = " << text << "\n";
  }
}

std::string pathText(const std::vector<provider::RowStep>& path) {
  std::string s = "[";
  for (size_t i = 0; i < path.size(); ++i) {
    if (i) s += ", ";
    if (!path[i].detail.empty()) s += "\"" + path[i].detail + "\", ";
    s += std::to_string(path[i].index);
  }
  return s + "]";
}

// A request that was maybe posted: the text tells how to send it again.
class UnansweredApply : public TransportError {
 public:
  using TransportError::TransportError;
};

int run(const Options& o, std::ostream& out) {
  SessionOptions so;
  so.server = o.server;
  so.cls = o.cls;
  so.login = o.login;
  so.connectTimeout = std::chrono::seconds(std::min(o.timeoutSeconds, 30));
  so.callTimeout = std::chrono::seconds(o.timeoutSeconds);
  so.tries = o.tries;
  so.tls = o.tls;
  ClientSession session(so);
  Connection* conn = &session.connection();
  int status = kOk;
  if (o.command == "providers") {
    for (const auto& n : conn->getProviderNames()) out << n << "\n";
  } else if (o.command == "read") {
    RecordsResult r = conn->getRecords(o.positional[0], o.count, o.sql, o.params);
    printPacket(r.data, o.format, out);
    // Procedure providers answer in their output parameters too; the
    // machine-readable formats keep to the packet alone.
    if (o.format == "table") printParams(r.params, out);
  } else if (o.command == "exec") {
    ParamsResult r = conn->execute(o.positional[0], o.sql, o.params);
    printParams(r.params, out);
  } else if (o.command == "apply") {
    Delta delta;
    try {
      delta = provider::decodeDelta(readFile(o.positional[1]));
    } catch (const provider::CodecError& e) {
      throw UsageError(o.positional[1] + ": " + e.what());
    }
    Variant owner;
    if (!o.ownerData.empty()) {
      try {
        owner = parseOwnerData(o.ownerData);
      } catch (const provider::CodecError& e) {
        throw UsageError(std::string("--owner-data: ") + e.what());
      }
    }
    // The provider resolves changes against the statement it last ran; a
    // client that read with its own statement opens it again first (on
    // every new connection of a retry too).
    std::function<void(Connection&)> prepare;
    if (o.sqlGiven)
      prepare = [&](Connection& c) { c.getRecords(o.positional[0], 0, o.sql, o.params); };
    const std::string key = o.requestKey.empty() ? newRequestKey() : o.requestKey;
    ApplyResult r;
    try {
      r = session.apply(o.positional[0], delta, o.maxErrors, owner, key, prepare);
    } catch (const TransportError& e) {
      throw UnansweredApply(std::string(e.what()) + "; the request may have been posted: send it " +
                            "again with --request-key " + key);
    }
    out << "errorCount: " << r.errorCount << "\n";
    for (const auto& e : r.errors.errors) {
      out << "  row " << pathText(e.path) << " " << provider::updateKindName(e.kind) << ": "
          << e.message << "\n";
    }
    if (!r.ownerData.isUnassigned()) out << "ownerData: " << variantJson(r.ownerData) << "\n";
    if (r.replayed) out << "replayed: the request was posted before; this is its recorded answer\n";
    if (r.errorCount > 0) status = kRefused;
  } else if (o.command == "login") {
    conn->login(o.positional[0], o.positional[1], o.positional[2]);
    out << "login: ok\n";
  }
  session.close();
  return status;
}

}  // namespace

std::string cellText(const provider::DataRow& row, const std::vector<provider::FieldDef>& fields,
                     size_t field) {
  const provider::FieldDef& f = fields[field];
  if (f.type == provider::FieldType::Dataset) {
    std::vector<size_t> ds = provider::datasetFieldIndexes(fields);
    for (size_t k = 0; k < ds.size(); ++k) {
      if (ds[k] == field && k < row.details.size()) {
        size_t n = row.details[k].size();
        return "[" + std::to_string(n) + (n == 1 ? " row]" : " rows]");
      }
    }
    return "[0 rows]";
  }
  if (field >= row.values.size()) return {};
  const Variant& v = row.values[field];
  if (v.isEmpty()) return {};
  if (v.type() == VarType::Bytes) return "(" + std::to_string(v.asString().size()) + " bytes)";
  if (v.type() == VarType::Array) return variantJson(v);
  return v.toText();
}

int runQzClient(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  Options o;
  try {
    o = parse(args);
    if (o.help) {
      out << kUsageText;
      return 0;
    }
    return run(o, out);
  } catch (const UsageError& e) {
    if (*e.what()) err << "qzclient: " << e.what() << "\n";
    err << kUsageText;
    return kUsage;
  } catch (const CallError& e) {
    err << "qzclient: " << e.what();
    if (e.hresult) {
      char h[16];
      std::snprintf(h, sizeof h, "0x%08X", e.hresult);
      err << " (" << h << ")";
    }
    err << "\n";
    return kRefused;
  } catch (const TransportError& e) {
    err << "qzclient: " << e.what() << "\n";
    return kNoConnection;
  } catch (const std::exception& e) {
    err << "qzclient: " << e.what() << "\n";
    return kRefused;
  }
}

}  // namespace qz::client

// Jet test helpers: sample folder, external readers, value rendering.
#include "tests/platform/jet_test_support.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>

namespace qz::testing {
namespace {

bool IsDir(const std::string& p) {
  struct stat st {};
  return ::stat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

std::string JetSamplesDir() {
  if (const char* env = std::getenv("QZ_JET_SAMPLES"); env && IsDir(env)) return env;
  const std::string beside = std::string(QZ_SOURCE_DIR) + "/../shared/jet-samples";
  if (IsDir(beside)) return beside;
  if (IsDir("/work/shared/jet-samples")) return "/work/shared/jet-samples";
  return "";
}

bool HaveMdbTools() {
  return RunCommand("command -v mdb-json mdb-count mdb-schema mdb-ver >/dev/null 2>&1").status == 0;
}

bool HaveMdbReader() {
  return RunCommand("command -v node >/dev/null 2>&1").status == 0 &&
         IsDir(std::string(QZ_SOURCE_DIR) + "/tests/jet_readers/node_modules/mdb-reader");
}

std::string ShellQuote(const std::string& s) {
  std::string out = "'";
  for (char c : s) {
    if (c == '\'')
      out += "'\\''";
    else
      out.push_back(c);
  }
  return out + "'";
}

CommandResult RunCommand(const std::string& command) {
  CommandResult r;
  FILE* p = ::popen(command.c_str(), "r");
  if (!p) return r;
  char buf[65536];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
  const int st = ::pclose(p);
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  return r;
}

std::string RenderNumber(double d) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.9g", d);
  return buf;
}

std::vector<JsonRow> MdbJsonRows(const std::string& file, const std::string& table) {
  const CommandResult r = RunCommand("mdb-json -D '%Y-%m-%d %H:%M:%S' -T '%Y-%m-%d %H:%M:%S' " +
                                     ShellQuote(file) + " " + ShellQuote(table));
  if (r.status != 0) throw std::runtime_error("mdb-json failed on " + file);
  std::vector<JsonRow> rows;
  size_t start = 0;
  while (start < r.out.size()) {
    size_t end = r.out.find('\n', start);
    if (end == std::string::npos) end = r.out.size();
    const std::string line = r.out.substr(start, end - start);
    start = end + 1;
    if (line.empty()) continue;
    rapidjson::Document d;
    d.Parse(line.c_str(), line.size());
    if (d.HasParseError() || !d.IsObject())
      throw std::runtime_error("mdb-json printed no object: " + line);
    JsonRow row;
    for (auto& m : d.GetObject()) {
      const std::string key(m.name.GetString(), m.name.GetStringLength());
      if (m.value.IsString())
        row[key] = std::string(m.value.GetString(), m.value.GetStringLength());
      else if (m.value.IsNumber())
        row[key] = RenderNumber(m.value.GetDouble());
      else if (m.value.IsBool())
        row[key] = m.value.GetBool() ? "1" : "0";
    }
    rows.push_back(std::move(row));
  }
  return rows;
}

std::optional<std::string> RenderLikeMdbJson(const Variant& v) {
  switch (v.type()) {
    case VarType::Null:
    case VarType::Unassigned:
      return std::nullopt;
    case VarType::Boolean:
      return std::string(v.asBool() ? "1" : "0");
    case VarType::DateTime: {
      std::string s = v.asDateTime().toSql();
      return s.substr(0, 19);
    }
    // mdbtools prints a zero-length text like a null one.
    case VarType::String:
      if (v.asString().empty()) return std::nullopt;
      return v.asString();
    case VarType::Currency:
      return RenderNumber(v.asCurrency().toDouble());
    case VarType::Bytes:
      return v.asString();
    default:
      return RenderNumber(v.toDouble());
  }
}

rapidjson::Document MdbReaderRead(const std::string& file, const std::string& password) {
  const CommandResult r =
      RunCommand("node " + ShellQuote(std::string(QZ_SOURCE_DIR) + "/tests/jet_readers/read.mjs") +
                 " " + ShellQuote(file) + " " + ShellQuote(password));
  rapidjson::Document d;
  d.Parse(r.out.c_str(), r.out.size());
  if (r.status != 0 || d.HasParseError()) throw std::runtime_error("mdb-reader failed on " + file);
  return d;
}

std::string MakeTempDir() {
  char tmpl[] = "/tmp/qz-jet-XXXXXX";
  if (!::mkdtemp(tmpl)) throw std::runtime_error("mkdtemp failed");
  return tmpl;
}

void RemoveTree(const std::string& dir) {
  std::error_code ec;
  std::filesystem::remove_all(dir, ec);
}

}  // namespace qz::testing

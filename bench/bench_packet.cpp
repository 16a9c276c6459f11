// Packet benchmark of the providers: the rows of the demo hotel's bills read
// through a provider and written as a JSON data packet, against the same
// rows stepped through the engine's own C API (sqlite3) and written with the
// same JSON writer by their native column types, in one run. Then the same
// with each bill's items nested (the provider runs the detail query per
// bill; the C API side re-binds one prepared statement), and the packet read
// back by the streaming reader against a JSON tree parse.
//
// Usage: bench_packet [bills]   (default 100000)
#include <rapidjson/document.h>
#include <sqlite3.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>

#include "bench/bench_rounds.h"
#include "database/create_database.h"
#include "platform/db/connection.h"
#include "platform/packet/json_packet.h"
#include "platform/provider/provider.h"

namespace {

using Clock = std::chrono::steady_clock;
using qz::provider::JsonWriter;

// Median milliseconds of fn over QZ_BENCH_ROUNDS rounds (default 5).
double medianMs(const std::function<size_t()>& fn, size_t* bytes) {
  std::vector<double> times;
  for (int i = 0; i < qz::bench::benchRounds(); ++i) {
    auto t0 = Clock::now();
    *bytes = fn();
    times.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
  }
  return qz::bench::median(times);
}

// Median milliseconds of ours and raw, run alternately so both see the
// same machine load.
qz::bench::Medians pairMs(const std::function<size_t()>& ours, const std::function<size_t()>& raw,
                          size_t* oursBytes, size_t* rawBytes) {
  auto timed = [](const std::function<size_t()>& fn, size_t* bytes) {
    auto t0 = Clock::now();
    *bytes = fn();
    return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
  };
  return qz::bench::alternate([&] { return timed(ours, oursBytes); },
                              [&] { return timed(raw, rawBytes); });
}

void writeColumn(JsonWriter& w, sqlite3_stmt* st, int i) {
  switch (sqlite3_column_type(st, i)) {
    case SQLITE_INTEGER:
      w.Int64(sqlite3_column_int64(st, i));
      break;
    case SQLITE_FLOAT:
      w.Double(sqlite3_column_double(st, i));
      break;
    case SQLITE_NULL:
      w.Null();
      break;
    default:
      w.String(reinterpret_cast<const char*>(sqlite3_column_text(st, i)),
               static_cast<rapidjson::SizeType>(sqlite3_column_bytes(st, i)));
  }
}

// The C API side: fields by name and declared type, rows by native type.
size_t rawPacket(sqlite3* db, int64_t limit, bool items) {
  sqlite3_stmt* st = nullptr;
  sqlite3_prepare_v2(db, "select * from bills", -1, &st, nullptr);
  sqlite3_stmt* det = nullptr;
  sqlite3_prepare_v2(db, "select * from billitems where bnum = ?1 order by inum", -1, &det,
                     nullptr);
  rapidjson::StringBuffer sb;
  JsonWriter w(sb);
  w.StartObject();
  w.Key("fields");
  w.StartArray();
  const int n = sqlite3_column_count(st);
  for (int i = 0; i < n; ++i) {
    w.StartObject();
    w.Key("name");
    w.String(sqlite3_column_name(st, i));
    w.Key("type");
    const char* t = sqlite3_column_decltype(st, i);
    w.String(t ? t : "");
    w.EndObject();
  }
  w.EndArray();
  w.Key("rows");
  w.StartArray();
  int num = -1;
  for (int i = 0; i < n; ++i)
    if (std::string(sqlite3_column_name(st, i)) == "num") num = i;
  int64_t rows = 0;
  while ((limit < 0 || rows < limit) && sqlite3_step(st) == SQLITE_ROW) {
    w.StartArray();
    for (int i = 0; i < n; ++i) writeColumn(w, st, i);
    if (items) {
      sqlite3_reset(det);
      sqlite3_bind_int64(det, 1, sqlite3_column_int64(st, num));
      w.StartArray();
      const int m = sqlite3_column_count(det);
      while (sqlite3_step(det) == SQLITE_ROW) {
        w.StartArray();
        for (int i = 0; i < m; ++i) writeColumn(w, det, i);
        w.EndArray();
      }
      w.EndArray();
    }
    w.EndArray();
    ++rows;
  }
  w.EndArray();
  w.EndObject();
  sqlite3_finalize(det);
  sqlite3_finalize(st);
  return sb.GetSize();
}

size_t providerPacket(qz::provider::Provider& p, int64_t limit, std::string* out = nullptr) {
  rapidjson::StringBuffer sb;
  JsonWriter w(sb);
  qz::provider::ReadRequest req;
  req.count = static_cast<int>(limit);
  p.getRecords(w, req);
  if (out) out->assign(sb.GetString(), sb.GetSize());
  return sb.GetSize();
}

void report(const char* what, double ours, double raw, size_t oursBytes, size_t rawBytes) {
  std::printf("%-28s provider %8.1f ms (%zu bytes)  C API %8.1f ms (%zu bytes)  ratio %.2f\n", what,
              ours, oursBytes, raw, rawBytes, ours / raw);
}

}  // namespace

int main(int argc, char** argv) {
  const int bills = argc > 1 ? std::atoi(argv[1]) : 100000;
  if (bills <= 0) {
    std::fprintf(stderr, "usage: bench_packet [bills]\n");
    return 2;
  }
  const std::string dir =
      (std::filesystem::temp_directory_path() / ("qz-bench-packet-" + std::to_string(getpid())))
          .string();
  try {
    std::filesystem::create_directories(dir);
    qz::db::setEmbeddedDataDir(dir);
    const std::string text = "Provider=SQLOLEDB.1;Initial Catalog=qzbench;Data Source=";
    qz::database::CreateOptions opt;
    opt.demoRows = bills;
    opt.force = true;
    qz::database::createDatabase(text, opt);

    qz::db::Connection conn;
    conn.setConnectionString(text);
    conn.open();
    sqlite3* raw = nullptr;
    sqlite3_open_v2((dir + "/qzbench.db").c_str(), &raw, SQLITE_OPEN_READONLY, nullptr);

    qz::provider::Provider flat("billP", conn,
                                qz::provider::Dataset::makeQuery("bills", {"select * from bills"}));
    size_t ob = 0, rb = 0;
    auto m = pairMs([&] { return providerPacket(flat, -1); },
                    [&] { return rawPacket(raw, -1, false); }, &ob, &rb);
    report("bills", m.ours, m.capi, ob, rb);
    qz::bench::printRatio("packet.embedded", m.ratio(), 0);

    auto master = qz::provider::Dataset::makeQuery("bills", {"select * from bills"});
    qz::db::Parameter num;
    num.name = "num";
    num.type = qz::db::FieldType::Int32;
    master->addDetail(qz::provider::Dataset::makeQuery(
        "billitems", {"SELECT * ", "FROM billitems ", "where bnum=:num order by inum"}, {num}));
    qz::provider::Provider nested("billP", conn, std::move(master));
    const int64_t nestedBills = std::min(bills, 20000);
    m = pairMs([&] { return providerPacket(nested, nestedBills); },
               [&] { return rawPacket(raw, nestedBills, true); }, &ob, &rb);
    char label[64];
    std::snprintf(label, sizeof label, "%lld bills with items",
                  static_cast<long long>(nestedBills));
    report(label, m.ours, m.capi, ob, rb);
    qz::bench::printRatio("packet.nested.embedded", m.ratio(), 0);

    std::string json;
    providerPacket(flat, -1, &json);
    size_t rows = 0;
    double sax = medianMs(
        [&] {
          struct Count : qz::provider::PacketSink {
            void onFields(const std::vector<qz::db::FieldDef>&) override {}
            void onRow(qz::provider::DataRow&&) override { ++n; }
            size_t n = 0;
          } c;
          qz::provider::decodePacket(json, c);
          return c.n;
        },
        &rows);
    size_t members = 0;
    double tree = medianMs(
        [&] {
          rapidjson::Document d;
          d.Parse(json.data(), json.size());
          return static_cast<size_t>(d["rows"].Size());
        },
        &members);
    std::printf(
        "%-28s streaming reader %8.1f ms (%zu rows, typed)  JSON tree parse %8.1f ms  ratio %.2f\n",
        "read back", sax, rows, tree, sax / tree);
    sqlite3_close(raw);
    conn.close();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "bench_packet: %s\n", e.what());
    std::filesystem::remove_all(dir);
    return 1;
  }
  std::filesystem::remove_all(dir);
  return 0;
}

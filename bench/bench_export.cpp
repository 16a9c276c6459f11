// Export benchmark: a demo database with 100,000 account items exported to
// an Access file through the export flow (the window's and the command
// line's code), against the SQLite C API copying the same rows of the same
// five source queries into a fresh SQLite file, in the same run. The two
// alternate over QZ_BENCH_ROUNDS rounds (default 5) and the medians are
// compared. Prints both times and the ratio (target: at most 2.0).
//
// Usage: bench_export [items]   (default 100000)
#include <sqlite3.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "admin/access_export.h"
#include "bench/bench_rounds.h"
#include "database/create_database.h"
#include "database/export_template.h"
#include "platform/db/connection.h"

namespace {

using Clock = std::chrono::steady_clock;

double Ms(Clock::time_point since) {
  return std::chrono::duration<double, std::milli>(Clock::now() - since).count();
}

// Processor time of this (single-threaded) process in ms: printed beside the
// wall times because on a shared machine waiting for a core inflates the
// longer run's wall time more.
double CpuMs() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return double(ts.tv_sec) * 1e3 + double(ts.tv_nsec) / 1e6;
}

class QuietUi : public qz::admin::MaintenanceUi {
 public:
  explicit QuietUi(std::string file) : file_(std::move(file)) {}
  bool askBackup(qz::admin::BackupChoices&) override { return false; }
  bool askRestore(std::string&) override { return false; }
  bool selectDateRange(qz::admin::Day&, qz::admin::Day&) override { return false; }
  bool confirm(const std::string&, const std::string&) override { return false; }
  void message(const std::string&, const std::string& text) override {
    std::printf("message: %s\n", text.c_str());
  }
  void showWait(const std::string&) override {}
  void closeWait() override {}
  bool askExport(qz::admin::ExportChoices& c) override {
    c.file = file_;
    c.all = true;
    return true;
  }

 private:
  std::string file_;
};

void Exec(sqlite3* db, const char* sql) {
  char* err = nullptr;
  if (sqlite3_exec(db, sql, nullptr, nullptr, &err) != SQLITE_OK) {
    std::fprintf(stderr, "sqlite: %s\n", err ? err : "?");
    std::exit(1);
  }
}

// Adds account items until the table holds `items` rows.
void AddItems(const std::string& file, int items) {
  sqlite3* db = nullptr;
  sqlite3_open(file.c_str(), &db);
  sqlite3_stmt* count = nullptr;
  sqlite3_prepare_v2(db, "select count(*) from MAccItems", -1, &count, nullptr);
  sqlite3_step(count);
  const int have = sqlite3_column_int(count, 0);
  sqlite3_finalize(count);
  Exec(db, "BEGIN");
  sqlite3_stmt* ins = nullptr;
  sqlite3_prepare_v2(
      db,
      "insert into MAccItems (bnum, oprt, summary, MID, plan_price, plan_amount, pye, pye_amount, "
      "jf_PRICE, jf_amount, df_PRICE, xs_Price, df_amount, ye, ye_amount, marck, inum, MName, "
      "MSize, dw, dw1, exchange) values (?1, '采购', '购进物资', 'A001', 12.5, 3, 1.25, 2, 12.5, "
      "3, "
      "0, 0, 0, 37.5, 3, 0, ?2, '标准间用品', '大号', '个', '箱', 12)",
      -1, &ins, nullptr);
  for (int i = have; i < items; ++i) {
    sqlite3_bind_int(ins, 1, 1 + i / 10);
    sqlite3_bind_int(ins, 2, i % 10);
    sqlite3_step(ins);
    sqlite3_reset(ins);
  }
  sqlite3_finalize(ins);
  Exec(db, "COMMIT");
  sqlite3_close(db);
}

// The same rows copied with the C API into a fresh SQLite file.
int64_t CopyWithSqlite(const std::string& source, const std::string& target) {
  sqlite3 *src = nullptr, *dst = nullptr;
  sqlite3_open_v2(source.c_str(), &src, SQLITE_OPEN_READONLY, nullptr);
  std::filesystem::remove(target);
  sqlite3_open(target.c_str(), &dst);
  const struct {
    const char* name;
    const char* select;
  } steps[] = {{"material", "select * from material"},
               {"client", "select * from client"},
               {"MAccount", "select * from maccount"},
               {"maccitems", "select * from maccitems"},
               {"Mgathering", "select * from mgathering"}};
  const int widths[] = {20, 13, 14, 23, 8};
  int64_t rows = 0;
  Exec(dst, "BEGIN");
  for (int s = 0; s < 5; ++s) {
    std::string create = std::string("create table ") + steps[s].name + " (";
    std::string insert = std::string("insert into ") + steps[s].name + " values (";
    for (int c = 0; c < widths[s]; ++c) {
      create += (c ? ", c" : "c") + std::to_string(c);
      insert += (c ? ", ?" : "?");
    }
    Exec(dst, (create + ")").c_str());
    sqlite3_stmt *sel = nullptr, *ins = nullptr;
    sqlite3_prepare_v2(src, steps[s].select, -1, &sel, nullptr);
    sqlite3_prepare_v2(dst, (insert + ")").c_str(), -1, &ins, nullptr);
    while (sqlite3_step(sel) == SQLITE_ROW) {
      for (int c = 0; c < widths[s]; ++c)
        sqlite3_bind_value(ins, c + 1, sqlite3_column_value(sel, c));
      sqlite3_step(ins);
      sqlite3_reset(ins);
      ++rows;
    }
    sqlite3_finalize(sel);
    sqlite3_finalize(ins);
  }
  Exec(dst, "COMMIT");
  sqlite3_close(dst);
  sqlite3_close(src);
  return rows;
}

}  // namespace

int main(int argc, char** argv) {
  const int items = argc > 1 ? std::atoi(argv[1]) : 100000;
  const std::string dir =
      (std::filesystem::temp_directory_path() / ("qz-bench-export-" + std::to_string(getpid())))
          .string() +
      "/";
  std::filesystem::create_directories(dir);
  qz::db::setEmbeddedDataDir(dir);
  const std::string text = "Provider=SQLOLEDB.1;Initial Catalog=qzbench;Data Source=";
  qz::database::CreateOptions opt;
  opt.demo = true;
  opt.force = true;
  qz::database::createDatabase(text, opt);
  AddItems(dir + "qzbench.db", items);
  qz::database::writeExportTemplate(dir + qz::database::kExportTemplateName);

  int64_t rows = 0;
  std::vector<double> oursCpu, capiCpu;
  auto ours = [&] {
    qz::db::Connection ADOC1, ADOC2;
    ADOC1.setConnectionString(text);
    qz::db::Query ADOQuery1(&ADOC1);
    QuietUi ui(dir + "export.mdb");
    qz::admin::AccessExport e(ADOC1, ADOQuery1, ADOC2, dir, ui);
    const auto t0 = Clock::now();
    const double c0 = CpuMs();
    e.ExportToAccess();
    ADOC2.close();
    oursCpu.push_back(CpuMs() - c0);
    return Ms(t0);
  };
  auto capi = [&] {
    const auto t1 = Clock::now();
    const double c1 = CpuMs();
    rows = CopyWithSqlite(dir + "qzbench.db", dir + "copy.db");
    capiCpu.push_back(CpuMs() - c1);
    return Ms(t1);
  };
  const qz::bench::Medians m = qz::bench::alternate(ours, capi);
  std::printf(
      "export     %lld rows (%d account items)  export %8.1f ms  SQLite C API copy %8.1f ms  ratio "
      "%.2f%s"
      "  (medians of %d rounds)\n",
      static_cast<long long>(rows), items, m.ours, m.capi, m.ratio(),
      m.ratio() <= 2.0 ? "" : "  (above the 2.0 target)", qz::bench::benchRounds());
  const double oc = qz::bench::median(oursCpu), cc = qz::bench::median(capiCpu);
  std::printf("processor time: export %8.1f ms  SQLite C API copy %8.1f ms  ratio %.2f\n", oc, cc,
              oc / cc);
  qz::bench::printRatio("export.embedded", m.ratio(), 2.0);
  std::printf("export file %.1f MB\n",
              double(std::filesystem::file_size(dir + "export.mdb")) / 1e6);
  std::filesystem::remove_all(dir);
  return 0;
}

// The maintenance subcommands; see maintenance_cli.h.
#include "server/maintenance_cli.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <stdexcept>

#include "admin/access_export.h"
#include "admin/maintenance_functions.h"
#include "settings/config.h"
#include "settings/sysinfo_ini.h"

namespace qz::server {
namespace {

using admin::BackupChoices;
using admin::Day;

// The operator's answers, taken from the options; messages go to standard
// output, the wait text to standard error when that is a terminal.
class OptionsUi : public admin::MaintenanceUi {
 public:
  OptionsUi(const CommandLine& cl, const Day* from, const Day* to, std::string defaultFile)
      : cl_(cl), from_(from), to_(to), defaultFile_(std::move(defaultFile)) {}

  bool askBackup(BackupChoices& c) override {
    if (!cl_.deviceName.empty()) c.deviceName = cl_.deviceName;
    if (!cl_.file.empty()) c.path = cl_.file;
    c.password = cl_.password;
    c.kind = cl_.differential ? 1 : 0;
    c.media = cl_.overwrite ? 1 : 0;
    return true;
  }
  bool askRestore(std::string& file) override {
    // Without a disk device the window proposes nothing; the command line
    // takes the file its backup writes by default.
    if (!cl_.file.empty()) file = cl_.file;
    if (file.empty()) file = defaultFile_;
    return true;
  }
  bool selectDateRange(Day& from, Day& to) override {
    if (from_) from = *from_;
    if (to_) to = *to_;
    return true;
  }
  bool confirm(const std::string&, const std::string&) override { return true; }
  void message(const std::string&, const std::string& text) override {
    std::printf("%s\n", text.c_str());
    std::fflush(stdout);
  }
  void showWait(const std::string& text) override {
    // A progress line is for a person watching; cron mails whatever a job
    // prints, and should do so only on a failure.
    if (::isatty(STDERR_FILENO)) std::fprintf(stderr, "%s\n", text.c_str());
  }
  void closeWait() override {}

  bool askExport(admin::ExportChoices& c) override {
    c.file = cl_.file;
    c.all = cl_.all;
    if (from_) c.from = *from_;
    if (to_) c.to = *to_;
    return true;
  }
  // The band's texts as progress lines on standard error; on a terminal
  // one line per step with a bar redrawn in place.
  void progress(const std::string& text, int position, int maximum) override {
    if (maximum >= 0) maximum_ = maximum;
    const bool tty = ::isatty(STDERR_FILENO);
    if (text != text_) {
      if (tty && !text_.empty()) std::fputc('\n', stderr);
      text_ = text;
      if (!tty) std::fprintf(stderr, "%s\n", text.c_str());
    }
    if (tty) {
      const int width = 30;
      const int filled = maximum_ > 0 ? std::min(width, position * width / maximum_) : 0;
      std::fprintf(stderr, "\r%s [%s%s] %d/%d", text.c_str(),
                   std::string(size_t(filled), '#').c_str(),
                   std::string(size_t(width - filled), ' ').c_str(), position, maximum_);
    }
    std::fflush(stderr);
  }
  void hideProgress() override {
    if (::isatty(STDERR_FILENO) && !text_.empty()) std::fputc('\n', stderr);
    text_.clear();
  }

 private:
  std::string text_;
  int maximum_ = 100;
  const CommandLine& cl_;
  const Day* from_;
  const Day* to_;
  std::string defaultFile_;
};

}  // namespace

int runMaintenance(const CommandLine& cl) {
  using M = CommandLine::Maintenance;
  Day from{}, to{};
  const bool hasFrom = !cl.from.empty(), hasTo = !cl.to.empty();
  if ((hasFrom && !admin::parseDayText(cl.from, &from)) ||
      (hasTo && !admin::parseDayText(cl.to, &to))) {
    std::fprintf(stderr, "qzserver: --from and --to take a date as YYYY-MM-DD\n");
    return 2;
  }
  if (cl.maintenance == M::Export &&
      (cl.file.empty() || (cl.all && (hasFrom || hasTo)) || (!cl.all && (!hasFrom || !hasTo)))) {
    std::fprintf(stderr,
                 "qzserver: export takes --file PATH and either --from and --to or --all\n");
    return 2;
  }
  if (cl.maintenance == M::EmptyDatabase && !cl.yes) {
    std::fprintf(stderr,
                 "qzserver: empty-database deletes all business data; confirm with --yes\n");
    return 2;
  }
  try {
    SysInfoIni sysInfo(appDir() + "sysinfo.ini");
    db::Connection ADOC1;
    ADOC1.setConnectionString(BuildSqlConnectionString());
    db::Query ADOQuery1(&ADOC1);
    ADOQuery1.setCommandTimeout(3000);
    admin::MaintenanceSettings settings = admin::serverMaintenanceSettings();
    OptionsUi ui(cl, hasFrom ? &from : nullptr, hasTo ? &to : nullptr,
                 settings.proposedBackupFolder + admin::kDefaultDeviceFile);
    admin::MaintenanceFunctions f(ADOC1, ADOQuery1, sysInfo, settings, ui);
    admin::Outcome out;
    switch (cl.maintenance) {
      case M::Backup:
        out = f.BackupDatabase();
        // PostgreSQL answers these with a message and writes nothing: for a
        // cron job that is a failure.
        if (out.status == admin::Outcome::Done && ADOC1.isOpen() &&
            ADOC1.engine() == db::EngineKind::PostgreSQL &&
            (cl.differential || !cl.password.empty())) {
          std::fprintf(stderr, "qzserver: backup: nothing was written\n");
          return 1;
        }
        break;
      case M::Restore:
        out = f.RestoreDatabase(cl.password);
        if (out.status == admin::Outcome::Done)
          std::printf("restored %s\n", ReadSystemIniLine(4).c_str());
        break;
      case M::CleanupRooms:
        out = f.N9Click();
        break;
      case M::CleanupSales:
        out = f.N14Click();
        break;
      case M::EmptyDatabase:
        out = f.N18Click();
        break;
      case M::Export: {
        db::Connection ADOC2;
        admin::AccessExport e(ADOC1, ADOQuery1, ADOC2, appDir(), ui);
        out = e.ExportToAccess();
        if (out.status == admin::Outcome::Done) std::printf("exported to %s\n", cl.file.c_str());
        break;
      }
      case M::None:
        return 2;
    }
    return out.status == admin::Outcome::Done ? 0 : 1;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "qzserver: %s\n", e.what());
    return 1;
  }
}

}  // namespace qz::server

// Server memory while a large read streams: 1,000,000 bills read through
// AS_GetRecords by a client that takes the answer as it comes, on each
// engine. Prints the server's resident memory at idle, its peak during the
// read (VmHWM, reset just before the read) and the difference, which is
// what the answer costs the server; target under 64 MiB, as nothing should
// hold the whole result.
//
// Usage: bench_memory [bills]   (default 1000000)
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>

#include "bench/bench_rounds.h"
#include "bench/bench_server.h"
#include "client/line_socket.h"

namespace qz::bench {
namespace {

// A field of /proc/PID/status in KiB ("VmRSS", "VmHWM"); 0 when unreadable.
long statusKiB(int pid, const std::string& field) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(in, line))
    if (line.rfind(field + ":", 0) == 0) return std::stol(line.substr(field.size() + 1));
  return 0;
}

// Writing 5 to clear_refs resets the peak to the current resident size.
bool resetPeak(int pid) {
  std::ofstream out("/proc/" + std::to_string(pid) + "/clear_refs");
  out << "5";
  return static_cast<bool>(out.flush());
}

void measure(BenchServer& s, const char* engine) {
  client::LineSocket sock;
  sock.connect(s.address(), std::chrono::seconds(10));
  sock.send(
      "{\"jsonrpc\":\"2.0\",\"id\":1,\"method\":\"create\",\"params\":{\"class\":\"top_dm2\"}}\n");
  sock.readLine(std::chrono::seconds(30));
  auto request = [&](int id, const char* sql) {
    sock.send(
        std::string("{\"jsonrpc\":\"2.0\",\"id\":") + std::to_string(id) +
        ",\"method\":\"AS_GetRecords\",\"params\":{\"provider\":\"SqlProvider\",\"count\":-1," +
        "\"options\":0,\"commandText\":\"" + sql + "\"}}\n");
    size_t bytes = 0;
    const char *b, *e;
    while (sock.nextLinePiece(&b, &e, std::chrono::seconds(600)))
      bytes += static_cast<size_t>(e - b);
    return bytes;
  };
  // A small read first, so the statement machinery is warm at idle.
  request(2, "select * from bills where num < 0");
  const long idle = statusKiB(s.pid(), "VmRSS");
  const bool reset = resetPeak(s.pid());
  const auto t0 = std::chrono::steady_clock::now();
  const size_t bytes = request(3, "select * from bills");
  const double seconds = secondsSince(t0);
  const long peak = statusKiB(s.pid(), "VmHWM");
  const double aboveMiB = (peak - idle) / 1024.0;
  std::printf("%s: answer %.1f MiB in %.2f s; server resident at idle %.1f MiB, peak %.1f MiB%s\n",
              engine, bytes / 1048576.0, seconds, idle / 1024.0, peak / 1024.0,
              reset ? "" : " (peak not reset: includes the start)");
  std::printf("%s: peak above idle %.1f MiB (target under 64)\n", engine, aboveMiB);
  printRatio((std::string("memory_read_mib_") + engine).c_str(), aboveMiB, 64);
}

}  // namespace
}  // namespace qz::bench

int main(int argc, char** argv) {
  const int bills = argc > 1 ? std::atoi(argv[1]) : 1000000;
  std::printf("bench_memory: %d bills read through AS_GetRecords\n", bills);
  return qz::bench::runOnBothEngines(
      "bench_memory", bills,
      [](qz::bench::BenchServer& s, const char* engine, const qz::bench::PgServer*) {
        qz::bench::measure(s, engine);
      });
}

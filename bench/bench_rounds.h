// Steady measurements: the server path and the C API path run alternately
// over several rounds so both see the same machine load, and the medians
// are compared, so one noisy round does not decide. Each result is also
// printed as one "RATIO" line that bench/run-all collects into its table.
#pragma once

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <vector>

namespace qz::bench {

// Rounds per measurement: QZ_BENCH_ROUNDS when set (at least 1, so a run
// on a loaded machine can be short), else 5.
inline int benchRounds() {
  const char* r = std::getenv("QZ_BENCH_ROUNDS");
  const int n = r ? std::atoi(r) : 5;
  return n > 0 ? n : 1;
}

inline double median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  const size_t m = v.size() / 2;
  return v.size() % 2 ? v[m] : (v[m - 1] + v[m]) / 2;
}

struct Medians {
  double ours = 0;
  double capi = 0;
  double ratio() const { return capi > 0 ? ours / capi : 0; }
};

// Runs ours and capi alternately benchRounds() times; each returns the
// seconds (or other cost) of one round. Returns their medians.
inline Medians alternate(const std::function<double()>& ours, const std::function<double()>& capi) {
  std::vector<double> a, b;
  for (int i = 0, n = benchRounds(); i < n; ++i) {
    a.push_back(ours());
    b.push_back(capi());
  }
  return {median(a), median(b)};
}

// The line bench/run-all reads: "RATIO <name> <ratio> <target>"; a target
// of 0 means none is set.
inline void printRatio(const char* name, double ratio, double target) {
  std::printf("RATIO %s %.2f %.2f\n", name, ratio, target);
  std::fflush(stdout);
}

}  // namespace qz::bench

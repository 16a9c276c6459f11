// Shared pieces of the fuzz targets: a check that aborts (so libFuzzer keeps
// the input as a crash) and the cutting of one input into the pieces a
// stream reader receives.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <vector>

namespace qz::fuzz {

// Aborts with the message when cond is false: a broken invariant is a
// finding like a crash.
inline void Check(bool cond, const char* what) {
  if (cond) return;
  std::fprintf(stderr, "fuzz invariant broken: %s\n", what);
  std::abort();
}

// Cuts text into pieces whose lengths come from seed (1 to 16 bytes each,
// then the rest in one piece), so readers that take their input in pieces
// see the boundaries fall everywhere.
inline std::vector<std::string_view> CutPieces(std::string_view text, uint32_t seed) {
  std::vector<std::string_view> pieces;
  while (!text.empty()) {
    size_t n = seed == 0 ? text.size() : 1 + (seed & 15);
    seed >>= 4;
    if (n > text.size()) n = text.size();
    pieces.push_back(text.substr(0, n));
    text.remove_prefix(n);
  }
  return pieces;
}

// A seed for CutPieces taken from the input itself (FNV-1a), so seed files
// stay plain text and each input still gets its own boundaries.
inline uint32_t SeedOf(std::string_view text) {
  uint32_t h = 2166136261u;
  for (unsigned char c : text) h = (h ^ c) * 16777619u;
  return h;
}

}  // namespace qz::fuzz

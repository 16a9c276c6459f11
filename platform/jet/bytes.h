// Little- and big-endian integer access inside page buffers. Jet stores
// every number little-endian except index keys and index row pointers.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>

namespace qz::jet {

inline constexpr size_t kPageSize = 4096;

inline uint16_t Get16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }
inline uint32_t Get32(const uint8_t* p) {
  return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
inline uint32_t Get24(const uint8_t* p) {
  return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16);
}
inline void Put16(uint8_t* p, uint16_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
}
inline void Put32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}
inline void Put24(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 3; ++i) p[i] = uint8_t(v >> (8 * i));
}
inline double GetDouble(const uint8_t* p) {
  double d;
  std::memcpy(&d, p, 8);
  return d;
}
inline void PutDouble(uint8_t* p, double d) { std::memcpy(p, &d, 8); }

// Appending writers for building structures of unknown length.
inline void Append16(std::string& s, uint16_t v) {
  s.push_back(char(v));
  s.push_back(char(v >> 8));
}
inline void Append32(std::string& s, uint32_t v) {
  for (int i = 0; i < 4; ++i) s.push_back(char(v >> (8 * i)));
}

// A row pointer as usage maps and long-value fields store it: the page in
// the upper 24 bits, the row number in the low byte.
inline uint32_t RowPointer(uint32_t page, uint8_t row) { return (page << 8) | row; }
inline uint32_t PointerPage(uint32_t ptr) { return ptr >> 8; }
inline uint8_t PointerRow(uint32_t ptr) { return uint8_t(ptr); }

}  // namespace qz::jet

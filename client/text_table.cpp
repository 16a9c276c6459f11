// Display widths after the East Asian Width property (wide and full-width
// ranges) and zero-width combining marks; table and CSV formatting.
#include "client/text_table.h"

#include <algorithm>
#include <cstdint>

namespace qz::client {

namespace {

struct Range {
  uint32_t lo, hi;
};

// Wide (W) and full-width (F) ranges of the East Asian Width property.
constexpr Range kWide[] = {
    {0x1100, 0x115F},   {0x231A, 0x231B},   {0x2329, 0x232A},   {0x23E9, 0x23EC},
    {0x23F0, 0x23F0},   {0x23F3, 0x23F3},   {0x25FD, 0x25FE},   {0x2614, 0x2615},
    {0x2648, 0x2653},   {0x267F, 0x267F},   {0x2693, 0x2693},   {0x26A1, 0x26A1},
    {0x26AA, 0x26AB},   {0x26BD, 0x26BE},   {0x26C4, 0x26C5},   {0x26CE, 0x26CE},
    {0x26D4, 0x26D4},   {0x26EA, 0x26EA},   {0x26F2, 0x26F3},   {0x26F5, 0x26F5},
    {0x26FA, 0x26FA},   {0x26FD, 0x26FD},   {0x2705, 0x2705},   {0x270A, 0x270B},
    {0x2728, 0x2728},   {0x274C, 0x274C},   {0x274E, 0x274E},   {0x2753, 0x2755},
    {0x2757, 0x2757},   {0x2795, 0x2797},   {0x27B0, 0x27B0},   {0x27BF, 0x27BF},
    {0x2B1B, 0x2B1C},   {0x2B50, 0x2B50},   {0x2B55, 0x2B55},   {0x2E80, 0x303E},
    {0x3041, 0x33FF},   {0x3400, 0x4DBF},   {0x4E00, 0x9FFF},   {0xA000, 0xA4CF},
    {0xA960, 0xA97F},   {0xAC00, 0xD7A3},   {0xF900, 0xFAFF},   {0xFE10, 0xFE19},
    {0xFE30, 0xFE6F},   {0xFF00, 0xFF60},   {0xFFE0, 0xFFE6},   {0x16FE0, 0x16FE4},
    {0x17000, 0x18CFF}, {0x1B000, 0x1B2FF}, {0x1F004, 0x1F004}, {0x1F0CF, 0x1F0CF},
    {0x1F18E, 0x1F18E}, {0x1F191, 0x1F19A}, {0x1F200, 0x1F251}, {0x1F300, 0x1F64F},
    {0x1F680, 0x1F6FF}, {0x1F900, 0x1F9FF}, {0x20000, 0x2FFFD}, {0x30000, 0x3FFFD},
};

constexpr Range kZero[] = {
    {0x0300, 0x036F}, {0x0483, 0x0489}, {0x0591, 0x05BD},   {0x0610, 0x061A},
    {0x064B, 0x065F}, {0x200B, 0x200F}, {0x20D0, 0x20FF},   {0xFE00, 0xFE0F},
    {0xFE20, 0xFE2F}, {0xFEFF, 0xFEFF}, {0xE0100, 0xE01EF},
};

template <size_t N>
bool inRanges(const Range (&ranges)[N], uint32_t cp) {
  return std::any_of(std::begin(ranges), std::end(ranges),
                     [cp](const Range& r) { return cp >= r.lo && cp <= r.hi; });
}

// Decodes one code point at s[i]; returns its length, or 0 if invalid.
size_t decode(std::string_view s, size_t i, uint32_t* cp) {
  unsigned char c = static_cast<unsigned char>(s[i]);
  size_t len = c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : (c >> 3) == 0x1E ? 4 : 0;
  if (len == 0 || i + len > s.size()) return 0;
  uint32_t v = len == 1 ? c : len == 2 ? (c & 0x1F) : len == 3 ? (c & 0x0F) : (c & 0x07);
  for (size_t k = 1; k < len; ++k) {
    unsigned char cc = static_cast<unsigned char>(s[i + k]);
    if ((cc & 0xC0) != 0x80) return 0;
    v = (v << 6) | (cc & 0x3F);
  }
  *cp = v;
  return len;
}

std::string pad(const std::string& text, size_t width, bool right) {
  size_t w = displayWidth(text);
  std::string spaces(width > w ? width - w : 0, ' ');
  return right ? spaces + text : text + spaces;
}

void rtrim(std::string& s) {
  while (!s.empty() && s.back() == ' ') s.pop_back();
}

}  // namespace

size_t displayWidth(std::string_view s) {
  size_t width = 0;
  for (size_t i = 0; i < s.size();) {
    uint32_t cp = 0;
    size_t len = decode(s, i, &cp);
    if (len == 0) {
      ++width;
      ++i;
      continue;
    }
    i += len;
    if (cp < 0x20 || (cp >= 0x7F && cp < 0xA0)) continue;
    if (inRanges(kZero, cp)) continue;
    width += inRanges(kWide, cp) ? 2 : 1;
  }
  return width;
}

std::string formatTable(const std::vector<std::string>& header,
                        const std::vector<std::vector<std::string>>& rows,
                        const std::vector<bool>& rightAlign) {
  size_t columns = header.size();
  for (const auto& r : rows) columns = std::max(columns, r.size());
  std::vector<size_t> widths(columns, 0);
  auto cell = [](const std::vector<std::string>& r, size_t i) -> const std::string& {
    static const std::string empty;
    return i < r.size() ? r[i] : empty;
  };
  for (size_t i = 0; i < columns; ++i) {
    widths[i] = displayWidth(cell(header, i));
    for (const auto& r : rows) widths[i] = std::max(widths[i], displayWidth(cell(r, i)));
  }
  auto line = [&](const std::vector<std::string>& r) {
    std::string out;
    for (size_t i = 0; i < columns; ++i) {
      if (i) out += "  ";
      bool right = i < rightAlign.size() && rightAlign[i];
      out += pad(cell(r, i), widths[i], right);
    }
    rtrim(out);
    return out + "\n";
  };
  std::string out = line(header);
  std::string rule;
  for (size_t i = 0; i < columns; ++i) {
    if (i) rule += "  ";
    rule += std::string(widths[i], '-');
  }
  out += rule + "\n";
  for (const auto& r : rows) out += line(r);
  return out;
}

std::string csvField(std::string_view text) {
  bool quote = text.find_first_of(",\"\r\n") != std::string_view::npos ||
               (!text.empty() && (text.front() == ' ' || text.back() == ' '));
  if (!quote) return std::string(text);
  std::string out = "\"";
  for (char c : text) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + "\"";
}

std::string csvLine(const std::vector<std::string>& cells) {
  std::string out;
  for (size_t i = 0; i < cells.size(); ++i) {
    if (i) out += ',';
    out += csvField(cells[i]);
  }
  return out + "\r\n";
}

}  // namespace qz::client

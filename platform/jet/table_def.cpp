// Encoding and decoding of table definitions.
#include "platform/jet/table_def.h"

#include <algorithm>

#include "platform/jet/bytes.h"
#include "platform/jet/jet_error.h"
#include "platform/jet/text_codec.h"

namespace qz::jet {
namespace {

constexpr uint32_t kTableMagic = 0x0659;
constexpr uint32_t kRealIndexMagic = 0x0783;
constexpr size_t kTdefHead = 0x3F;

void AppendName(std::string& s, const std::string& utf8) {
  const std::string u = Utf8ToUtf16Le(utf8);
  Append16(s, uint16_t(u.size()));
  s += u;
}

// The whole definition as one byte string, header included.
std::string Serialize(const TableDef& def) {
  std::string s(kTdefHead, '\0');
  auto* p = reinterpret_cast<uint8_t*>(s.data());
  p[0] = 0x02;
  p[1] = 0x01;
  Put32(p + 0x0C, kTableMagic);
  Put32(p + 0x10, def.rowCount);
  Put32(p + 0x14, def.autonumber);
  Put32(p + 0x18, 1);
  p[0x28] = def.tableType;
  Put16(p + 0x29, def.maxColumns);
  Put16(p + 0x2B, uint16_t(def.varColumnCount()));
  Put16(p + 0x2D, uint16_t(def.columns.size()));
  Put32(p + 0x2F, uint32_t(def.indexes.size()));
  Put32(p + 0x33, uint32_t(def.realIndexes.size()));
  Put32(p + 0x37, def.usedMap);
  Put32(p + 0x3B, def.freeMap);
  for (const RealIndexDef& r : def.realIndexes) {
    Append32(s, r.head0);
    Append32(s, r.rowCount);
    Append32(s, 0);
  }
  for (const ColumnDef& c : def.columns) {
    s.push_back(char(c.type));
    Append32(s, kTableMagic);
    Append16(s, c.number);
    Append16(s, c.varIndex);
    Append16(s, c.number2);
    Append16(s, c.misc);
    Append16(s, c.miscExt);
    s.push_back(char(c.flags));
    s.push_back(char(c.miscFlags));
    Append32(s, 0);
    Append16(s, c.fixedOffset);
    Append16(s, c.length);
  }
  for (const ColumnDef& c : def.columns) AppendName(s, c.name);
  for (const RealIndexDef& r : def.realIndexes) {
    Append32(s, kRealIndexMagic);
    for (const auto& k : r.keys) {
      Append16(s, k.column);
      s.push_back(char(k.order));
    }
    Append32(s, r.usageMap);
    Append32(s, r.firstPage);
    Append32(s, r.unknown);
    s.push_back(char(r.flags));
    s.append(5, '\0');
  }
  for (const LogicalIndexDef& x : def.indexes) {
    Append32(s, kTableMagic);
    Append32(s, x.number);
    Append32(s, x.realIndex);
    s.push_back(char(x.relTableType));
    Append32(s, uint32_t(x.relIndex));
    Append32(s, x.relTablePage);
    s.push_back(char(x.cascadeUps));
    s.push_back(char(x.cascadeDels));
    s.push_back(char(x.indexType));
    Append32(s, 0);
  }
  for (const LogicalIndexDef& x : def.indexes) AppendName(s, x.name);
  for (const LongValueMaps& m : def.longValueMaps) {
    Append16(s, m.column);
    Append32(s, m.usedMap);
    Append32(s, m.freeMap);
  }
  Append16(s, 0xFFFF);
  Put32(reinterpret_cast<uint8_t*>(s.data()) + 0x08, uint32_t(s.size()));
  return s;
}

class Reader {
 public:
  explicit Reader(std::string data) : d_(std::move(data)) {}
  const uint8_t* take(size_t n) {
    if (pos_ + n > d_.size())
      throw JetError(JetErrorCode::Corrupt, "A table definition is cut short.");
    const auto* p = reinterpret_cast<const uint8_t*>(d_.data()) + pos_;
    pos_ += n;
    return p;
  }
  uint8_t u8() { return *take(1); }
  uint16_t u16() { return Get16(take(2)); }
  uint32_t u32() { return Get32(take(4)); }
  std::string name() {
    const uint16_t n = u16();
    const auto* p = take(n);
    return Utf16LeToUtf8(std::string_view(reinterpret_cast<const char*>(p), n));
  }
  size_t pos() const { return pos_; }
  size_t size() const { return d_.size(); }

 private:
  std::string d_;
  size_t pos_ = 0;
};

}  // namespace

int RealIndexDef::keyCount() const {
  int n = 0;
  for (const auto& k : keys)
    if (k.column != 0xFFFF) ++n;
  return n;
}

std::vector<const ColumnDef*> TableDef::columnsInRowOrder() const {
  std::vector<const ColumnDef*> out;
  out.reserve(columns.size());
  for (const ColumnDef& c : columns) out.push_back(&c);
  auto byNumber = [](const ColumnDef* a, const ColumnDef* b) { return a->number < b->number; };
  // Usually stored in that order already (every row write asks for it).
  if (!std::is_sorted(out.begin(), out.end(), byNumber))
    std::sort(out.begin(), out.end(), byNumber);
  return out;
}

int TableDef::varColumnCount() const {
  int n = 0;
  for (const ColumnDef& c : columns)
    if (!c.fixed()) ++n;
  return n;
}

size_t TableDefPageCount(const TableDef& def) {
  const size_t len = Serialize(def).size();
  if (len <= kPageSize) return 1;
  return 1 + (len - kPageSize + (kPageSize - 8) - 1) / (kPageSize - 8);
}

std::vector<std::string> EncodeTableDef(const TableDef& def, const std::vector<uint32_t>& pages) {
  const std::string s = Serialize(def);
  std::vector<std::string> out;
  size_t pos = 0;
  for (size_t k = 0; pos < s.size(); ++k) {
    if (k >= pages.size())
      throw JetError(JetErrorCode::Corrupt, "A table definition needs more pages than given.");
    std::string page(kPageSize, '\0');
    size_t at = 0;
    if (k == 0) {
      const size_t n = std::min(s.size(), kPageSize);
      page.replace(0, n, s, 0, n);
      pos = n;
      at = n;
    } else {
      page[0] = 0x02;
      page[1] = 0x01;
      const size_t n = std::min(s.size() - pos, kPageSize - 8);
      page.replace(8, n, s, pos, n);
      pos += n;
      at = 8 + n;
    }
    auto* p = reinterpret_cast<uint8_t*>(page.data());
    // Free space as Jet counts it on a definition page.
    Put16(p + 2, uint16_t(at + 8 <= kPageSize ? kPageSize - at - 8 : 0));
    out.push_back(std::move(page));
  }
  for (size_t k = 0; k + 1 < out.size(); ++k)
    Put32(reinterpret_cast<uint8_t*>(out[k].data()) + 4, pages[k + 1]);
  return out;
}

TableDef DecodeTableDef(uint32_t firstPage, const std::vector<const uint8_t*>& pages) {
  if (pages.empty() || pages[0][0] != 0x02)
    throw JetError(JetErrorCode::Corrupt,
                   "Page " + std::to_string(firstPage) + " is no table definition.");
  std::string all(reinterpret_cast<const char*>(pages[0]), kPageSize);
  for (size_t k = 1; k < pages.size(); ++k)
    all.append(reinterpret_cast<const char*>(pages[k]) + 8, kPageSize - 8);
  const uint32_t len = Get32(pages[0] + 8);
  if (len > all.size()) throw JetError(JetErrorCode::Corrupt, "A table definition is cut short.");
  all.resize(len);
  Reader r(all);
  const uint8_t* h = r.take(kTdefHead);
  TableDef def;
  def.page = firstPage;
  def.rowCount = Get32(h + 0x10);
  def.autonumber = Get32(h + 0x14);
  def.tableType = h[0x28];
  def.maxColumns = Get16(h + 0x29);
  const uint16_t numCols = Get16(h + 0x2D);
  const uint32_t numIdx = Get32(h + 0x2F);
  const uint32_t numReal = Get32(h + 0x33);
  if (numIdx > 1000 || numReal > 1000)
    throw JetError(JetErrorCode::Corrupt, "A table definition has a bad index count.");
  def.usedMap = Get32(h + 0x37);
  def.freeMap = Get32(h + 0x3B);
  def.realIndexes.resize(numReal);
  for (RealIndexDef& x : def.realIndexes) {
    x.head0 = r.u32();
    x.rowCount = r.u32();
    r.u32();
  }
  def.columns.resize(numCols);
  for (ColumnDef& c : def.columns) {
    c.type = ColumnType(r.u8());
    r.u32();
    c.number = r.u16();
    c.varIndex = r.u16();
    c.number2 = r.u16();
    c.misc = r.u16();
    c.miscExt = r.u16();
    c.flags = r.u8();
    c.miscFlags = r.u8();
    r.u32();
    c.fixedOffset = r.u16();
    c.length = r.u16();
  }
  for (ColumnDef& c : def.columns) c.name = r.name();
  for (RealIndexDef& x : def.realIndexes) {
    r.u32();
    for (auto& k : x.keys) {
      k.column = r.u16();
      k.order = r.u8();
    }
    x.usageMap = r.u32();
    x.firstPage = r.u32();
    x.unknown = r.u32();
    x.flags = r.u8();
    r.take(5);
  }
  def.indexes.resize(numIdx);
  for (LogicalIndexDef& x : def.indexes) {
    r.u32();
    x.number = r.u32();
    x.realIndex = r.u32();
    x.relTableType = r.u8();
    x.relIndex = int32_t(r.u32());
    x.relTablePage = r.u32();
    x.cascadeUps = r.u8();
    x.cascadeDels = r.u8();
    x.indexType = r.u8();
    r.u32();
  }
  for (LogicalIndexDef& x : def.indexes) x.name = r.name();
  while (r.pos() + 2 <= r.size()) {
    const uint16_t col = r.u16();
    if (col == 0xFFFF) break;
    LongValueMaps m;
    m.column = col;
    m.usedMap = r.u32();
    m.freeMap = r.u32();
    def.longValueMaps.push_back(m);
  }
  return def;
}

}  // namespace qz::jet

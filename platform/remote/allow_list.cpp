// Parsing CIDR entries and matching addresses by their leading bits.
#include "platform/remote/allow_list.h"

#include <charconv>
#include <stdexcept>

namespace qz::remote {

namespace {

std::string_view trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

// The IPv4 address inside an IPv4-mapped IPv6 address, else the address.
asio::ip::address unmapped(const asio::ip::address& a) {
  if (a.is_v6() && a.to_v6().is_v4_mapped())
    return asio::ip::make_address_v4(asio::ip::v4_mapped, a.to_v6());
  return a;
}

bool samePrefix(const unsigned char* a, const unsigned char* b, unsigned bits) {
  unsigned whole = bits / 8;
  for (unsigned i = 0; i < whole; ++i)
    if (a[i] != b[i]) return false;
  unsigned rest = bits % 8;
  if (rest == 0) return true;
  unsigned char mask = static_cast<unsigned char>(0xFF << (8 - rest));
  return (a[whole] & mask) == (b[whole] & mask);
}

}  // namespace

AllowList AllowList::parse(std::string_view text) {
  AllowList list;
  while (!text.empty()) {
    size_t comma = text.find(',');
    std::string_view entry = trim(text.substr(0, comma));
    text = comma == std::string_view::npos ? std::string_view() : text.substr(comma + 1);
    if (entry.empty()) continue;
    std::string_view addressText = entry;
    std::string_view prefixText;
    if (size_t slash = entry.find('/'); slash != std::string_view::npos) {
      addressText = entry.substr(0, slash);
      prefixText = entry.substr(slash + 1);
    }
    asio::error_code ec;
    asio::ip::address address = asio::ip::make_address(std::string(addressText), ec);
    if (ec) throw std::invalid_argument("not an address or network: " + std::string(entry));
    address = unmapped(address);
    Network n;
    n.v6 = address.is_v6();
    const unsigned maxBits = n.v6 ? 128 : 32;
    n.prefix = maxBits;
    if (!prefixText.empty() || entry.back() == '/') {
      unsigned bits = 0;
      auto [p, err] =
          std::from_chars(prefixText.data(), prefixText.data() + prefixText.size(), bits);
      if (err != std::errc() || p != prefixText.data() + prefixText.size() || bits > maxBits)
        throw std::invalid_argument("not a valid prefix length: " + std::string(entry));
      n.prefix = bits;
    }
    if (n.v6) {
      auto b = address.to_v6().to_bytes();
      std::copy(b.begin(), b.end(), n.bytes.begin());
    } else {
      auto b = address.to_v4().to_bytes();
      std::copy(b.begin(), b.end(), n.bytes.begin());
    }
    list.networks_.push_back(n);
  }
  return list;
}

bool AllowList::admits(const asio::ip::address& raw) const {
  if (networks_.empty()) return true;
  const asio::ip::address a = unmapped(raw);
  std::array<unsigned char, 16> bytes{};
  if (a.is_v6()) {
    auto b = a.to_v6().to_bytes();
    std::copy(b.begin(), b.end(), bytes.begin());
  } else {
    auto b = a.to_v4().to_bytes();
    std::copy(b.begin(), b.end(), bytes.begin());
  }
  for (const Network& n : networks_) {
    if (n.v6 == a.is_v6() && samePrefix(n.bytes.data(), bytes.data(), n.prefix)) return true;
  }
  return false;
}

std::string AllowList::text() const {
  std::string out;
  for (const Network& n : networks_) {
    if (!out.empty()) out += ", ";
    if (n.v6) {
      asio::ip::address_v6::bytes_type b;
      std::copy(n.bytes.begin(), n.bytes.end(), b.begin());
      out += asio::ip::address_v6(b).to_string();
    } else {
      asio::ip::address_v4::bytes_type b;
      std::copy(n.bytes.begin(), n.bytes.begin() + 4, b.begin());
      out += asio::ip::address_v4(b).to_string();
    }
    out += "/" + std::to_string(n.prefix);
  }
  return out;
}

}  // namespace qz::remote

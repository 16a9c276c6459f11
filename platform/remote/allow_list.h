// AllowList: the client addresses a transport admits, as a list of
// networks in CIDR form ("192.168.1.0/24", "10.0.0.7", "fd00::/8"). An
// address admits when it lies in any of the networks; an empty list admits
// every address. An IPv4 client reaching an IPv6 socket (::ffff:a.b.c.d) is
// matched as the IPv4 address it is.
//
// Thread-safety: immutable once built; any thread may ask.
#pragma once

#include <array>
#include <asio/ip/address.hpp>
#include <string>
#include <string_view>
#include <vector>

namespace qz::remote {

class AllowList {
 public:
  AllowList() = default;

  // Parses a comma-separated list (spaces around entries ignored; empty
  // entries skipped). An address without "/N" is one host. Throws
  // std::invalid_argument naming the entry that is not an address or whose
  // prefix length does not fit its family.
  static AllowList parse(std::string_view text);

  bool empty() const { return networks_.empty(); }
  bool admits(const asio::ip::address& address) const;
  // The list in canonical form, "127.0.0.1/32, fd00::/8".
  std::string text() const;

 private:
  struct Network {
    bool v6 = false;
    std::array<unsigned char, 16> bytes{};  // the first 4 for IPv4
    unsigned prefix = 0;
  };
  std::vector<Network> networks_;
};

}  // namespace qz::remote

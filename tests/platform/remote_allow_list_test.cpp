// The address allow-list: which addresses a CIDR list admits, and the
// entries it refuses to parse.
#include <gtest/gtest.h>

#include "platform/remote/allow_list.h"

namespace qz::remote {
namespace {

TEST(AllowListTest, AdmitsExactlyTheListedNetworks) {
  struct Case {
    const char* list;
    const char* address;
    bool admitted;
  };
  const Case cases[] = {
      {"", "203.0.113.9", true},  // no list: everyone
      {"127.0.0.1", "127.0.0.1", true},
      {"127.0.0.1", "127.0.0.2", false},
      {"192.168.1.0/24", "192.168.1.255", true},
      {"192.168.1.0/24", "192.168.2.1", false},
      {"10.0.0.0/9", "10.127.255.255", true},  // prefix inside a byte
      {"10.0.0.0/9", "10.128.0.0", false},
      {"0.0.0.0/0", "8.8.8.8", true},
      {" 10.0.0.0/8 , 127.0.0.1 ", "127.0.0.1", true},
      {"127.0.0.1", "::ffff:127.0.0.1", true},  // IPv4 client on an IPv6 socket
      {"127.0.0.1", "::1", false},
      {"fd00::/8", "fd12:3456::1", true},
      {"fd00::/8", "fe80::1", false},
      {"::1", "::1", true},
      {"::/0", "127.0.0.1", false},  // families do not mix
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.list) + " / " + c.address);
    EXPECT_EQ(c.admitted, AllowList::parse(c.list).admits(asio::ip::make_address(c.address)));
  }
}

TEST(AllowListTest, RefusesMalformedEntries) {
  for (const char* bad : {"10.0.0.0/33", "fd00::/129", "10.0.0.0/", "10.0.0.0/x", "hotel.lan",
                          "10.0.0.0/8,300.1.1.1", "10.0.0/8"}) {
    SCOPED_TRACE(bad);
    EXPECT_THROW(AllowList::parse(bad), std::invalid_argument);
  }
  EXPECT_EQ("10.0.0.0/8, ::1/128", AllowList::parse("10.0.0.0/8,::1").text());
}

}  // namespace
}  // namespace qz::remote

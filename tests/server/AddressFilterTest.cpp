// The allow list: what parses, and which peers each list lets in.
#include <gtest/gtest.h>

#include <string>

#include "server/AddressFilterUnit.h"

namespace {

TEST(AddressFilter, NoListLetsEveryoneIn) {
  const TAddressFilter filter;
  EXPECT_TRUE(filter.AllowsEveryone());
  for (const char* peer : {"127.0.0.1", "203.0.113.9", "::1", "fe80::1"})
    EXPECT_TRUE(filter.Allows(peer)) << peer;
}

TEST(AddressFilter, PeersAgainstLists) {
  struct {
    const char* list;
    const char* peer;
    bool allowed;
  } cases[] = {
      {"127.0.0.1", "127.0.0.1", true},
      {"127.0.0.1", "127.0.0.2", false},
      {"192.168.10.0/24", "192.168.10.77", true},
      {"192.168.10.0/24", "192.168.11.1", false},
      {"192.168.10.99/24", "192.168.10.1", true},  // host bits beyond the prefix are ignored
      {"10.0.0.0/8", "10.255.255.255", true},
      {"10.0.0.0/8", "11.0.0.0", false},
      {"172.16.0.0/12", "172.31.0.1", true},  // a prefix inside a byte
      {"172.16.0.0/12", "172.32.0.1", false},
      {"0.0.0.0/0", "203.0.113.9", true},
      {"0.0.0.0/0", "::1", false},                 // an IPv4 range never holds an IPv6 peer
      {"10.0.0.1, 127.0.0.1", "127.0.0.1", true},  // any item of the list
      {"10.0.0.1,192.168.0.0/16", "127.0.0.1", false},
      {"127.0.0.1", "::ffff:127.0.0.1", true},  // an IPv4-mapped peer is its IPv4 address
      {"::ffff:127.0.0.1", "127.0.0.1", true},  // so is an IPv4-mapped item
      {"::ffff:127.0.0.1", "::ffff:127.0.0.1", true},
      {"::ffff:127.0.0.1", "127.0.0.2", false},
      {"::ffff:127.0.0.0/104", "127.9.9.9", true},  // a mapped range: 127.0.0.0/8
      {"::ffff:127.0.0.0/104", "128.0.0.1", false},
      {"::ffff:10.1.2.3/96", "203.0.113.9", true},  // ::ffff:0:0/96 is every IPv4 address
      {"::ffff:127.0.0.1", "::1", false},
      {"::1", "::1", true},
      {"::1", "127.0.0.1", false},
      {"fd00::/8", "fd12:3456::1", true},
      {"fd00::/8", "fe80::1", false},
      {"127.0.0.1", "not an address", false},
  };
  for (const auto& c : cases) {
    TAddressFilter filter;
    std::string error;
    ASSERT_TRUE(TAddressFilter::Parse(c.list, filter, error)) << c.list << ": " << error;
    EXPECT_FALSE(filter.AllowsEveryone());
    EXPECT_EQ(filter.Allows(c.peer), c.allowed) << c.list << " / " << c.peer;
  }
}

TEST(AddressFilter, ListsThatDoNotParse) {
  struct {
    const char* list;
    const char* error_part;
  } cases[] = {
      {"", "empty"},
      {" , ", "empty"},
      {"127.0.0.1,", "empty"},
      {"localhost", "\"localhost\""},
      {"10.0.0.0/33", "0 to 32"},
      {"::/129", "0 to 128"},
      {"10.0.0.0/", "prefix"},
      {"10.0.0.0/-1", "prefix"},
      {"10.0.0.0/8x", "prefix"},
      {"300.1.1.1", "\"300.1.1.1\""},
      {"10.0.0.1:80", "\"10.0.0.1:80\""},  // an address with a port
      {"[::1]", "\"[::1]\""},
      {"::ffff:0:0/95", "96 to 128"},  // a mapped range that holds IPv6 addresses too
      {"::ffff:10.0.0.0/129", "0 to 128"},
  };
  for (const auto& c : cases) {
    TAddressFilter filter;
    std::string error;
    EXPECT_FALSE(TAddressFilter::Parse(c.list, filter, error)) << c.list;
    EXPECT_NE(error.find(c.error_part), std::string::npos) << c.list << ": " << error;
    EXPECT_TRUE(filter.AllowsEveryone()) << c.list;  // left as it was
  }
}

TEST(AddressFilter, ListenAddresses) {
  std::string error;
  for (const char* ok : {"", "127.0.0.1", "0.0.0.0", "::1"})
    EXPECT_TRUE(ValidListenAddress(ok, error)) << ok;
  for (const char* bad : {"localhost", "127.0.0.1:8883", "10.0.0.0/8"}) {
    EXPECT_FALSE(ValidListenAddress(bad, error)) << bad;
    EXPECT_NE(error.find(bad), std::string::npos) << error;
  }
  // An IPv4-mapped address is bound as the IPv4 address it maps.
  EXPECT_TRUE(ValidListenAddress("::ffff:127.0.0.1", error));
  EXPECT_EQ(ListenAddressToBind("::ffff:127.0.0.1"), "127.0.0.1");
  for (const char* same : {"", "127.0.0.1", "::1", "0.0.0.0", "::"})
    EXPECT_EQ(ListenAddressToBind(same), same);
}

}  // namespace

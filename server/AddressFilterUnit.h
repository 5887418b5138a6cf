// AddressFilterUnit: which peers may talk to the request server (--allow).
//
// A filter is a list of IPv4 or IPv6 addresses and CIDR ranges ("10.0.0.0/8",
// "192.168.1.20", "::1"). The default filter holds no list and lets everyone
// in. An IPv4-mapped IPv6 peer (::ffff:a.b.c.d) is matched as its IPv4
// address, so one list serves listeners of either family; a list item written
// in that form ("::ffff:127.0.0.1", "::ffff:10.0.0.0/104") is the IPv4
// address or range it maps.
//
// A filter is a plain value: immutable once parsed, safe to read from any
// number of threads at once.
#ifndef VELIO_SERVER_ADDRESSFILTERUNIT_H_
#define VELIO_SERVER_ADDRESSFILTERUNIT_H_

#include <array>
#include <cstdint>
#include <string>
#include <vector>

class TAddressFilter {
 public:
  // Lets everyone in.
  TAddressFilter() = default;

  // Parses list: items separated by commas (blanks around an item are
  // ignored), each an address or address/prefix-length. Bits beyond the prefix
  // are ignored (192.168.1.7/24 is 192.168.1.0/24). Returns false and sets
  // error (naming the item) for an empty list or item, an item that is no
  // address, or a prefix length outside 0-32 (IPv4) or 0-128 (IPv6); filter is
  // then unchanged.
  static bool Parse(const std::string& list, TAddressFilter& filter, std::string& error);

  // True when no list was given: every peer is let in.
  bool AllowsEveryone() const { return ranges_.empty(); }

  // True when the peer's address lies in one of the ranges (or no list was
  // given). bytes holds 4 (IPv4) or 16 (IPv6) bytes in network order; any
  // other size is refused.
  bool Allows(const uint8_t* bytes, size_t size) const;
  // The same for the address written as text; text that is no address is refused.
  bool Allows(const std::string& address) const;

 private:
  struct TRange {
    bool v6 = false;
    std::array<uint8_t, 16> bytes{};  // masked to the prefix
    int prefix = 0;
  };
  std::vector<TRange> ranges_;
};

// Checks a --listen address: empty text, an IPv4 or an IPv6 address. Returns
// false and sets error otherwise.
bool ValidListenAddress(const std::string& address, std::string& error);

// The address to bind for a valid --listen address: an IPv4-mapped IPv6
// address ("::ffff:127.0.0.1") is the IPv4 address it maps; any other is
// returned as it is.
std::string ListenAddressToBind(const std::string& address);

#endif  // VELIO_SERVER_ADDRESSFILTERUNIT_H_

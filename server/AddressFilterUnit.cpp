// AddressFilterUnit: an address list matched bit by bit.
//
// Each range keeps its address masked to the prefix; a peer matches when its
// first prefix bits equal the range's. IPv4 ranges are compared with IPv4
// peers only, IPv6 ranges with IPv6 peers only (after unmapping ::ffff:a.b.c.d).
#include "server/AddressFilterUnit.h"

#include <algorithm>
#include <charconv>
#include <cstring>

#include "asio.hpp"

namespace {

std::string Trim(const std::string& s) {
  const size_t a = s.find_first_not_of(" \t");
  if (a == std::string::npos) return std::string();
  const size_t b = s.find_last_not_of(" \t");
  return s.substr(a, b - a + 1);
}

// The address that text names, exactly: Windows' own parser also takes a port
// after it ("127.0.0.1:8883", "[::1]:80") and drops it, which is refused here.
asio::ip::address ParseAddress(const std::string& text, asio::error_code& ec) {
  asio::ip::address address = asio::ip::make_address(text, ec);
  if (!ec && (text.find_first_of("[]") != std::string::npos ||
              (address.is_v4() && text.find(':') != std::string::npos)))
    ec = asio::error::invalid_argument;
  return address;
}

bool IsV4Mapped(const uint8_t* b) {
  static const uint8_t kPrefix[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF};
  return std::memcmp(b, kPrefix, sizeof kPrefix) == 0;
}

// Bytes of address; false when text is no IPv4 or IPv6 address. An
// IPv4-mapped IPv6 address (::ffff:a.b.c.d) gives the IPv4 address it maps,
// and mapped tells so.
bool AddressBytes(const std::string& text, std::array<uint8_t, 16>& bytes, bool& v6,
                  bool& mapped) {
  asio::error_code ec;
  const asio::ip::address address = ParseAddress(text, ec);
  if (ec) return false;
  bytes.fill(0);
  mapped = false;
  if (address.is_v4()) {
    const auto b = address.to_v4().to_bytes();
    std::copy(b.begin(), b.end(), bytes.begin());
    v6 = false;
  } else {
    const auto b = address.to_v6().to_bytes();
    mapped = IsV4Mapped(b.data());
    if (mapped) {
      std::copy(b.begin() + 12, b.end(), bytes.begin());
    } else {
      std::copy(b.begin(), b.end(), bytes.begin());
    }
    v6 = !mapped;
  }
  return true;
}

// Clears every bit after the first prefix bits.
void Mask(std::array<uint8_t, 16>& bytes, int prefix) {
  for (int i = 0; i < 16; ++i) {
    const int keep = std::clamp(prefix - 8 * i, 0, 8);
    bytes[i] &= static_cast<uint8_t>(0xFF00u >> keep);
  }
}

}  // namespace

bool TAddressFilter::Parse(const std::string& list, TAddressFilter& filter, std::string& error) {
  std::vector<TRange> ranges;
  size_t start = 0;
  for (;;) {
    const size_t comma = list.find(',', start);
    const std::string item =
        Trim(list.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
    if (item.empty()) {
      error = list.find_first_not_of(" \t,") == std::string::npos ? "the list is empty"
                                                                  : "an item of the list is empty";
      return false;
    }
    TRange range;
    const size_t slash = item.find('/');
    bool mapped = false;
    if (!AddressBytes(item.substr(0, slash), range.bytes, range.v6, mapped)) {
      error = "\"" + item + "\" is not an IPv4 or IPv6 address or CIDR range";
      return false;
    }
    // A mapped range is written with an IPv6 prefix length; it is the IPv4
    // range it maps, so it must lie within ::ffff:0:0/96.
    const int width = range.v6 || mapped ? 128 : 32;
    range.prefix = range.v6 ? 128 : 32;
    if (slash != std::string::npos) {
      const std::string bits = item.substr(slash + 1);
      int prefix = -1;
      auto [end, ec] = std::from_chars(bits.data(), bits.data() + bits.size(), prefix);
      if (bits.empty() || ec != std::errc() || end != bits.data() + bits.size() || prefix < 0 ||
          prefix > width) {
        error = "\"" + item + "\": the prefix length must be 0 to " + std::to_string(width);
        return false;
      }
      if (mapped && prefix < 96) {
        error = "\"" + item + "\": an IPv4-mapped range needs a prefix length of 96 to 128";
        return false;
      }
      range.prefix = mapped ? prefix - 96 : prefix;
    }
    Mask(range.bytes, range.prefix);
    ranges.push_back(range);
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  filter.ranges_ = std::move(ranges);
  return true;
}

bool TAddressFilter::Allows(const uint8_t* bytes, size_t size) const {
  if (ranges_.empty()) return true;
  std::array<uint8_t, 16> peer{};
  bool v6;
  if (size == 4) {
    v6 = false;
    std::memcpy(peer.data(), bytes, 4);
  } else if (size == 16) {
    v6 = !IsV4Mapped(bytes);
    if (v6) {
      std::memcpy(peer.data(), bytes, 16);
    } else {
      std::memcpy(peer.data(), bytes + 12, 4);
    }
  } else {
    return false;
  }
  for (const TRange& range : ranges_) {
    if (range.v6 != v6) continue;
    std::array<uint8_t, 16> masked = peer;
    Mask(masked, range.prefix);
    if (masked == range.bytes) return true;
  }
  return false;
}

bool TAddressFilter::Allows(const std::string& address) const {
  std::array<uint8_t, 16> bytes{};
  bool v6 = false;
  bool mapped = false;
  if (!AddressBytes(address, bytes, v6, mapped)) return false;
  return Allows(bytes.data(), v6 ? 16 : 4);
}

bool ValidListenAddress(const std::string& address, std::string& error) {
  if (address.empty()) return true;
  asio::error_code ec;
  ParseAddress(address, ec);
  if (!ec) return true;
  error = "\"" + address + "\" is not an IPv4 or IPv6 address";
  return false;
}

std::string ListenAddressToBind(const std::string& address) {
  asio::error_code ec;
  const asio::ip::address parsed = ParseAddress(address, ec);
  if (ec || !parsed.is_v6()) return address;
  const auto b = parsed.to_v6().to_bytes();
  if (!IsV4Mapped(b.data())) return address;
  return asio::ip::make_address_v4(asio::ip::v4_mapped, parsed.to_v6()).to_string();
}

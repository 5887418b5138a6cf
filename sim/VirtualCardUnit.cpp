// VirtualCardUnit: command APDUs on card.bin, and the vpcd link.
//
// The status words are those a PC/SC reader gives for storage cards: 90 00
// success, 63 00 authentication failed, 69 82 the block's sector is not
// authenticated, 69 83 no key in that slot, 69 86 command not allowed (writing
// a trailer or block 0), 6A 82 no such block, 67 00 wrong length, 6D 00 and
// 6E 00 unknown instruction or class, 64 00 no card (card.bin vanished), 6F 00
// card.bin is not an image, 65 81 card.bin could not be stored.
//
// The link runs one io_context per connection: a read of the 2-byte length,
// then of the message, whose answer is written before the next read; a 100 ms
// timer closes the socket when card.bin is gone or a stop is asked for.
#include "sim/VirtualCardUnit.h"

#include <asio.hpp>
#ifdef __linux__
#include <netinet/in.h>
#include <netinet/tcp.h>
#endif
#include <chrono>
#include <cstring>
#include <filesystem>
#include <thread>

#include "pcsc/PcscCardUnit.h"
#include "sim/CardImageUnit.h"

namespace readersim {

namespace {

using TBytes = std::vector<uint8_t>;

TBytes Sw(uint16_t sw) {
  return {static_cast<uint8_t>(sw >> 8), static_cast<uint8_t>(sw & 0xFF)};
}

uint16_t LoadSw(TLoadResult result) {
  switch (result) {
    case TLoadResult::Ok:
      return 0x9000;
    case TLoadResult::NoCard:
      return 0x6400;
    case TLoadResult::BadImage:
      return 0x6F00;
    case TLoadResult::IoError:
      break;
  }
  return 0x6F00;
}

constexpr uint8_t kCtrlOff = 0;
constexpr uint8_t kCtrlOn = 1;
constexpr uint8_t kCtrlReset = 2;
constexpr uint8_t kCtrlAtr = 4;

}  // namespace

TVirtualCard::TVirtualCard(std::string stateDir, int sectors)
    : dir_(std::move(stateDir)),
      sectors_(sectors == 16 ? 16 : 40),
      atr_(pcsc::StorageCardAtr(sectors == 16 ? 0x01 : 0x02)) {}

void TVirtualCard::Reset() {
  keyLoaded_[0] = keyLoaded_[1] = false;
  authSector_ = -1;
}

bool TVirtualCard::Present() const {
  std::error_code ec;
  return std::filesystem::exists(CardFile(dir_), ec);
}

std::vector<uint8_t> TVirtualCard::SlotKey(uint8_t slot) const {
  if (slot > 1 || !keyLoaded_[slot]) return {};
  return std::vector<uint8_t>(keys_[slot], keys_[slot] + 6);
}

bool TVirtualCard::Locate(uint8_t absolute, int32_t& sector, int32_t& block) const {
  if (absolute < 128) {
    sector = absolute / 4;
    block = absolute % 4;
  } else {
    sector = 32 + (absolute - 128) / 16;
    block = (absolute - 128) % 16;
  }
  return sector < sectors_;
}

std::vector<uint8_t> TVirtualCard::Process(const std::vector<uint8_t>& c) {
  if (c.size() < 4) return Sw(0x6700);
  if (c[0] != 0xFF) return Sw(0x6E00);
  switch (c[1]) {
    case 0xCA: {  // get data: the UID
      if (c.size() != 5) return Sw(0x6700);
      if (c[2] != 0x00) return Sw(c[2] == 0x01 ? 0x6A81 : 0x6B00);
      TCardLock lock(dir_);
      TCardImage image;
      const TLoadResult loaded = LoadCard(dir_, image);
      if (loaded != TLoadResult::Ok) return Sw(LoadSw(loaded));
      TBytes r(image.begin(), image.begin() + 4);
      r.push_back(0x90);
      r.push_back(0x00);
      return r;
    }
    case 0x82: {  // load key: FF 82 00 slot 06 key
      if (c.size() != 11 || c[4] != 6) return Sw(0x6700);
      if (c[2] != 0x00 || c[3] > 1) return Sw(0x6986);
      std::memcpy(keys_[c[3]], c.data() + 5, 6);
      keyLoaded_[c[3]] = true;
      return Sw(0x9000);
    }
    case 0x86:  // general authenticate: FF 86 00 00 05 01 00 block type slot
      if (rejectGeneralAuth_) return Sw(0x6D00);
      if (c.size() != 10 || c[4] != 5 || c[5] != 0x01) return Sw(0x6700);
      return Authenticate(c[7], c[8], c[9]);
    case 0x88:  // authenticate, older form: FF 88 00 block type slot
      if (c.size() != 6) return Sw(0x6700);
      return Authenticate(c[3], c[4], c[5]);
    case 0xB0:  // read binary: FF B0 00 block 10
      if (c.size() != 5 || c[4] != 16) return Sw(0x6700);
      if (c[2] != 0x00) return Sw(0x6A82);
      return Read(c[3]);
    case 0xD6:  // update binary: FF D6 00 block 10 data
      if (c.size() != 21 || c[4] != 16) return Sw(0x6700);
      if (c[2] != 0x00) return Sw(0x6A82);
      return Update(c[3], c.data() + 5);
    default:
      return Sw(0x6D00);
  }
}

std::vector<uint8_t> TVirtualCard::Authenticate(uint8_t absolute, uint8_t keyType, uint8_t slot) {
  authSector_ = -1;
  int32_t sector = 0, block = 0;
  if (!Locate(absolute, sector, block)) return Sw(0x6A82);
  if (keyType != 0x60 && keyType != 0x61) return Sw(0x6986);
  if (slot > 1 || !keyLoaded_[slot]) return Sw(0x6983);
  TCardLock lock(dir_);
  TCardImage image;
  const TLoadResult loaded = LoadCard(dir_, image);
  if (loaded != TLoadResult::Ok) return Sw(LoadSw(loaded));
  const uint8_t* trailer = image.data() + TrailerOffset(sector);
  const uint8_t* expected = keyType == 0x60 ? trailer : trailer + 10;
  if (std::memcmp(expected, keys_[slot], 6) != 0) return Sw(0x6300);
  authSector_ = sector;
  return Sw(0x9000);
}

std::vector<uint8_t> TVirtualCard::Read(uint8_t absolute) {
  int32_t sector = 0, block = 0;
  if (!Locate(absolute, sector, block)) return Sw(0x6A82);
  if (sector != authSector_) return Sw(0x6982);
  TCardLock lock(dir_);
  TCardImage image;
  const TLoadResult loaded = LoadCard(dir_, image);
  if (loaded != TLoadResult::Ok) return Sw(LoadSw(loaded));
  size_t offset = 0;
  BlockOffset(sector, block, offset);
  TBytes r(image.begin() + static_cast<std::ptrdiff_t>(offset),
           image.begin() + static_cast<std::ptrdiff_t>(offset + kBlockSize));
  // Key A never leaves the card.
  if (IsTrailer(sector, block)) std::memset(r.data(), 0, 6);
  r.push_back(0x90);
  r.push_back(0x00);
  return r;
}

std::vector<uint8_t> TVirtualCard::Update(uint8_t absolute, const uint8_t* data) {
  int32_t sector = 0, block = 0;
  if (!Locate(absolute, sector, block)) return Sw(0x6A82);
  if (sector != authSector_) return Sw(0x6982);
  if (IsTrailer(sector, block) || absolute == 0) return Sw(0x6986);
  TCardLock lock(dir_);
  TCardImage image;
  const TLoadResult loaded = LoadCard(dir_, image);
  if (loaded != TLoadResult::Ok) return Sw(LoadSw(loaded));
  size_t offset = 0;
  BlockOffset(sector, block, offset);
  std::memcpy(image.data() + offset, data, kBlockSize);
  return Sw(SaveCard(dir_, image) ? 0x9000 : 0x6581);
}

namespace {

// One connection to the driver, from connect to close.
class TVpcdSession {
 public:
  TVpcdSession(TVirtualCard& card, asio::io_context& io, const std::atomic<bool>& stop)
      : card_(card), socket_(io), timer_(io), stop_(stop) {}

  asio::ip::tcp::socket& Socket() { return socket_; }

  // Runs until the driver closes, the card goes or a stop is asked for.
  // Answers why it ended.
  std::string Run(asio::io_context& io) {
    asio::error_code ignored;
    socket_.set_option(asio::ip::tcp::no_delay(true), ignored);
    card_.Reset();
    ReadHeader();
    Watch();
    io.run();
    return ended_;
  }

 private:
  void End(const std::string& why) {
    if (ended_.empty()) ended_ = why;
    asio::error_code ignored;
    timer_.cancel();
    socket_.close(ignored);
  }

  void Watch() {
    timer_.expires_after(std::chrono::milliseconds(100));
    timer_.async_wait([this](const asio::error_code& ec) {
      if (ec) return;
      if (stop_.load()) return End("stopped");
      if (!card_.Present()) return End("card removed");
      Watch();
    });
  }

  // vpcd sends a message's length and its bytes in two small writes, so the
  // bytes wait for our acknowledgement of the length: acknowledge at once
  // (Linux) instead of after the delayed-acknowledgement timeout (40 ms a
  // command otherwise).
  void QuickAck() {
#ifdef __linux__
    asio::error_code ignored;
    socket_.set_option(asio::detail::socket_option::boolean<IPPROTO_TCP, TCP_QUICKACK>(true),
                       ignored);
#endif
  }

  void ReadHeader() {
    QuickAck();
    asio::async_read(socket_, asio::buffer(header_), [this](const asio::error_code& ec, size_t) {
      if (ec) return End("vpcd closed the connection");
      const size_t size = static_cast<size_t>(header_[0] << 8 | header_[1]);
      if (size == 0) return ReadHeader();
      message_.resize(size);
      ReadMessage();
    });
  }

  void ReadMessage() {
    asio::async_read(socket_, asio::buffer(message_), [this](const asio::error_code& ec, size_t) {
      if (ec) return End("vpcd closed the connection");
      TBytes answer;
      bool reply = true;
      if (message_.size() == 1) {
        switch (message_[0]) {
          case kCtrlOff:
          case kCtrlOn:
          case kCtrlReset:
            card_.Reset();
            reply = false;
            break;
          case kCtrlAtr:
            answer = card_.Atr();
            break;
          default:
            reply = false;
            break;
        }
      } else {
        answer = card_.Process(message_);
      }
      if (reply) {
        TBytes out = {static_cast<uint8_t>(answer.size() >> 8),
                      static_cast<uint8_t>(answer.size() & 0xFF)};
        out.insert(out.end(), answer.begin(), answer.end());
        asio::error_code wec;
        asio::write(socket_, asio::buffer(out), wec);
        if (wec) return End("vpcd closed the connection");
      }
      ReadHeader();
    });
  }

  TVirtualCard& card_;
  asio::ip::tcp::socket socket_;
  asio::steady_timer timer_;
  const std::atomic<bool>& stop_;
  uint8_t header_[2] = {};
  TBytes message_;
  std::string ended_;
};

void Pause(const std::atomic<bool>& stop, int ms) {
  for (int waited = 0; waited < ms && !stop.load(); waited += 20)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
}

}  // namespace

int RunVpcdCard(TVirtualCard& card, const std::string& host, int port,
                const std::atomic<bool>& stop,
                const std::function<void(const std::string&)>& note) {
  bool waitingNoted = false, absentNoted = false;
  asio::error_code ec;
  const asio::ip::address address = asio::ip::make_address(host, ec);
  if (ec) {
    note("not an IP address: " + host);
    return 2;
  }
  const asio::ip::tcp::endpoint endpoint(address, static_cast<unsigned short>(port));
  while (!stop.load()) {
    if (!card.Present()) {
      if (!absentNoted) note("no card (card.bin missing); waiting for one");
      absentNoted = true;
      Pause(stop, 100);
      continue;
    }
    absentNoted = false;
    asio::io_context io;
    TVpcdSession session(card, io, stop);
    session.Socket().connect(endpoint, ec);
    if (ec) {
      if (!waitingNoted)
        note("waiting for vpcd at " + host + ":" + std::to_string(port) + " (" + ec.message() +
             ")");
      waitingNoted = true;
      Pause(stop, 200);
      continue;
    }
    waitingNoted = false;
    note("card inserted in vpcd at " + host + ":" + std::to_string(port));
    const std::string why = session.Run(io);
    note("card out of the reader: " + why);
    if (why == "vpcd closed the connection") Pause(stop, 200);
  }
  return 0;
}

}  // namespace readersim

// The PC/SC reader library's card commands against the simulator's virtual
// card in memory (no PC/SC service): ATR recognition, block addresses, the
// command sequence with its codes, the FF 88 fallback, the writes refused
// before anything is sent, and the reader filter.
#include <gtest/gtest.h>

#include <asio.hpp>
#include <atomic>
#include <cstring>
#include <thread>

#include "pcsc/PcscCardUnit.h"
#include "pcsc/PcscReaderUnit.h"
#include "pcsc/ReaderPcscCodes.h"
#include "sim/CardImageUnit.h"
#include "sim/VirtualCardUnit.h"
#include "tests/support/FileSupport.h"
#include "tests/support/TempDirSupport.h"

namespace {

const uint8_t kKey[6] = {0x7D, 0x2A, 0x9C, 0x41, 0xE6, 0xB3};
const uint8_t kKeyB[6] = {0xB0, 0xB1, 0xB2, 0xB3, 0xB4, 0xB5};
const uint8_t kWrong[6] = {0, 0, 0, 0, 0, 0};

// Passes commands to the virtual card and keeps them.
class TCardChannel : public pcsc::TApduChannel {
 public:
  explicit TCardChannel(readersim::TVirtualCard& card) : card_(card) {}
  int32_t Transmit(const std::vector<uint8_t>& command, std::vector<uint8_t>& response) override {
    sent.push_back(command);
    if (failWith != 0) return failWith;
    if (command.size() > 1 && command[1] == 0x82 && loadsLeft-- == 0) {
      response = {0x69, 0x86};  // a reader that takes no further key
      return 0;
    }
    response = card_.Process(command);
    return 0;
  }
  std::vector<std::vector<uint8_t>> sent;
  int32_t failWith = 0;
  int loadsLeft = -1;  // load key commands the reader accepts (-1: all)

 private:
  readersim::TVirtualCard& card_;
};

class PcscCardTest : public ::testing::Test {
 protected:
  void SetUp() override {
    readersim::TKey key;
    std::memcpy(key.data(), kKey, 6);
    image_ = readersim::NewCardImage(key, {0xA1, 0xB2, 0xC3, 0xD4});
    // Sector 5 gets key B B0..B5 (key A stays).
    std::memcpy(image_.data() + readersim::TrailerOffset(5) + 10, kKeyB, 6);
    Save();
  }
  void Save() {
    readersim::TCardLock lock(dir_.Path());
    ASSERT_TRUE(readersim::SaveCard(dir_.Path(), image_));
  }
  std::string Block(int32_t sector, int32_t block) {
    size_t offset = 0;
    readersim::BlockOffset(sector, block, offset);
    return velio_test::ReadFile(dir_.Path() + "card.bin").substr(offset, 16);
  }

  velio_test::TTempDir dir_;
  readersim::TCardImage image_;
};

TEST(PcscAtr, RecognisesMifareClassicByCardName) {
  const std::vector<uint8_t> k1 = pcsc::StorageCardAtr(0x01), k4 = pcsc::StorageCardAtr(0x02);
  // The 4K ATR as a reader reports it, check byte included.
  EXPECT_EQ(pcsc::HexBytes(k4.data(), k4.size()),
            "3B 8F 80 01 80 4F 0C A0 00 00 03 06 03 00 02 00 00 00 00 69");
  EXPECT_EQ(pcsc::SectorsFromAtr(k1.data(), k1.size()), 16);
  EXPECT_EQ(pcsc::SectorsFromAtr(k4.data(), k4.size()), 40);
  EXPECT_EQ(pcsc::CardTypeName(k4.data(), k4.size()), "MIFARE Classic 4K");
  const std::vector<uint8_t> ultralight = pcsc::StorageCardAtr(0x03);
  EXPECT_EQ(pcsc::SectorsFromAtr(ultralight.data(), ultralight.size()), 0);
  const uint8_t other[] = {0x3B, 0x80, 0x80, 0x01, 0x01};
  EXPECT_EQ(pcsc::SectorsFromAtr(other, sizeof other), 0);
  EXPECT_EQ(pcsc::SectorsFromAtr(nullptr, 0), 0);
  std::vector<uint8_t> shortAtr = k4;
  shortAtr.pop_back();
  EXPECT_EQ(pcsc::SectorsFromAtr(shortAtr.data(), shortAtr.size()), 0);
}

TEST(PcscAddress, SectorAndBlockToAbsoluteBlock) {
  struct Row {
    int sectors;
    int32_t sector, block;
    bool ok;
    int absolute;
  } rows[] = {
      {40, 0, 0, true, 0},    {40, 4, 0, true, 16},    {40, 31, 3, true, 127},
      {40, 32, 0, true, 128}, {40, 39, 15, true, 255}, {40, 33, 4, true, 148},
      {40, 31, 4, false, 0},  {40, 40, 0, false, 0},   {40, -1, 0, false, 0},
      {40, 4, -1, false, 0},  {40, 32, 16, false, 0},  {16, 15, 3, true, 63},
      {16, 16, 0, false, 0},  {16, 32, 0, false, 0},
  };
  for (const Row& r : rows) {
    uint8_t absolute = 0xEE;
    EXPECT_EQ(pcsc::AbsoluteBlock(r.sectors, r.sector, r.block, absolute), r.ok)
        << r.sectors << " " << r.sector << "/" << r.block;
    if (r.ok) {
      EXPECT_EQ(absolute, r.absolute) << r.sector << "/" << r.block;
    }
  }
  for (int b : {3, 7, 127, 143, 255}) EXPECT_TRUE(pcsc::IsTrailerBlock(static_cast<uint8_t>(b)));
  for (int b : {0, 4, 128, 142, 254}) EXPECT_FALSE(pcsc::IsTrailerBlock(static_cast<uint8_t>(b)));
}

TEST_F(PcscCardTest, ReadsAndWritesWithTheSimulatorsRulesAndCodes) {
  readersim::TVirtualCard card(dir_.Path(), 40);
  struct Row {
    const char* what;
    bool write;
    int32_t sector, block, keyMode;
    const uint8_t* key;
    int32_t code;
    size_t commandsSent;
  } rows[] = {
      {"write key A", true, 4, 1, VELIO_READER_KEY_A, kKey, READER_PCSC_OK, 4},
      {"read key A", false, 4, 1, VELIO_READER_KEY_A, kKey, READER_PCSC_OK, 4},
      {"read key B", false, 5, 0, VELIO_READER_KEY_B, kKeyB, READER_PCSC_OK, 4},
      {"key A given as key B", false, 5, 0, VELIO_READER_KEY_B, kKey, READER_PCSC_ERR_AUTH, 3},
      {"wrong key", false, 4, 1, VELIO_READER_KEY_A, kWrong, READER_PCSC_ERR_AUTH, 3},
      {"write wrong key", true, 4, 1, VELIO_READER_KEY_A, kWrong, READER_PCSC_ERR_AUTH, 3},
      {"last block of a 4K card", true, 39, 14, VELIO_READER_KEY_A, kKey, READER_PCSC_OK, 4},
      {"trailer write", true, 4, 3, VELIO_READER_KEY_A, kKey, READER_PCSC_ERR_TRAILER, 0},
      {"big trailer write", true, 35, 15, VELIO_READER_KEY_A, kKey, READER_PCSC_ERR_TRAILER, 0},
      {"block 0 write", true, 0, 0, VELIO_READER_KEY_A, kKey, READER_PCSC_ERR_BLOCK0, 0},
      {"block 0 read", false, 0, 0, VELIO_READER_KEY_A, kKey, READER_PCSC_OK, 4},
      {"sector 40", false, 40, 0, VELIO_READER_KEY_A, kKey, READER_PCSC_ERR_ADDRESS, 0},
      {"block 4 of a small sector", true, 4, 4, VELIO_READER_KEY_A, kKey, READER_PCSC_ERR_ADDRESS,
       0},
      {"key mode 3", false, 4, 1, 3, kKey, READER_PCSC_ERR_KEY_MODE, 0},
  };
  const uint8_t data[16] = {'1',  '2',  '3',  0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                            0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x5A};
  for (const Row& r : rows) {
    TCardChannel channel(card);
    uint8_t buffer[16] = {};
    const int32_t rc =
        r.write ? pcsc::WriteBlock(channel, 40, r.key, r.keyMode, r.sector, r.block, data)
                : pcsc::ReadBlock(channel, 40, r.key, r.keyMode, r.sector, r.block, buffer);
    EXPECT_EQ(rc, r.code) << r.what;
    EXPECT_EQ(channel.sent.size(), r.commandsSent) << r.what;
    // Once a key has loaded, the access ends by loading zeros over it.
    if (r.commandsSent > 0) {
      EXPECT_EQ(pcsc::HexBytes(channel.sent.back().data(), channel.sent.back().size()),
                "FF 82 00 00 06 00 00 00 00 00 00")
          << r.what;
      EXPECT_EQ(card.SlotKey(0), std::vector<uint8_t>(6, 0)) << r.what;
    }
    if (r.code == READER_PCSC_OK && r.write) {
      EXPECT_EQ(Block(r.sector, r.block), std::string(reinterpret_cast<const char*>(data), 16))
          << r.what;
    }
    if (r.code == READER_PCSC_OK && !r.write) {
      EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 16), Block(r.sector, r.block))
          << r.what;
    }
  }
  // The refused writes changed nothing.
  EXPECT_EQ(Block(4, 3).substr(0, 6), std::string(reinterpret_cast<const char*>(kKey), 6));
  EXPECT_EQ(Block(0, 0).substr(0, 4), "\xA1\xB2\xC3\xD4");
}

TEST_F(PcscCardTest, OneKCardRefusesSectorsBeyondSixteen) {
  readersim::TVirtualCard card(dir_.Path(), 16);
  TCardChannel channel(card);
  uint8_t buffer[16] = {};
  EXPECT_EQ(pcsc::ReadBlock(channel, 16, kKey, VELIO_READER_KEY_A, 15, 2, buffer), READER_PCSC_OK);
  EXPECT_EQ(pcsc::ReadBlock(channel, 16, kKey, VELIO_READER_KEY_A, 16, 0, buffer),
            READER_PCSC_ERR_ADDRESS);
  // The virtual 1K card itself refuses a block beyond its memory.
  EXPECT_EQ(card.Process({0xFF, 0x88, 0x00, 64, 0x60, 0x00}), (std::vector<uint8_t>{0x6A, 0x82}));
}

TEST_F(PcscCardTest, FallsBackToTheOlderAuthenticateWhenTheReaderLacksGeneralAuthenticate) {
  readersim::TVirtualCard card(dir_.Path(), 40);
  card.SetRejectGeneralAuthenticate(true);
  TCardChannel channel(card);
  uint8_t buffer[16] = {};
  ASSERT_EQ(pcsc::ReadBlock(channel, 40, kKey, VELIO_READER_KEY_A, 4, 0, buffer), READER_PCSC_OK);
  ASSERT_EQ(channel.sent.size(), 5u);
  EXPECT_EQ(channel.sent[0][1], 0x82);
  EXPECT_EQ(pcsc::HexBytes(channel.sent[1].data(), channel.sent[1].size()),
            "FF 86 00 00 05 01 00 10 60 00");
  EXPECT_EQ(pcsc::HexBytes(channel.sent[2].data(), channel.sent[2].size()), "FF 88 00 10 60 00");
  EXPECT_EQ(pcsc::HexBytes(channel.sent[3].data(), channel.sent[3].size()), "FF B0 00 10 10");
  EXPECT_EQ(pcsc::HexBytes(channel.sent[4].data(), channel.sent[4].size()),
            "FF 82 00 00 06 00 00 00 00 00 00");
}

// The key slot after an access: zeros whatever the outcome, and a reader that
// refuses the overwrite leaves the access's own answer.
TEST_F(PcscCardTest, KeySlotIsOverwrittenAfterEveryAccess) {
  readersim::TVirtualCard card(dir_.Path(), 40);
  const std::vector<uint8_t> zeros(6, 0), key(kKey, kKey + 6);
  const uint8_t data[16] = {'k', 'e', 'y'};
  struct Row {
    const char* what;
    bool write;
    const uint8_t* key;
    int loadsLeft;
    int32_t code;
    std::vector<uint8_t> slotAfter;
  } rows[] = {
      {"read", false, kKey, -1, READER_PCSC_OK, zeros},
      {"write", true, kKey, -1, READER_PCSC_OK, zeros},
      {"wrong key", false, kWrong, -1, READER_PCSC_ERR_AUTH, zeros},
      {"read, overwrite refused", false, kKey, 1, READER_PCSC_OK, key},
      {"write, overwrite refused", true, kKey, 1, READER_PCSC_OK, key},
      {"key refused", false, kKey, 0, READER_PCSC_SW_LOAD_KEY + 0x6986, {}},
  };
  for (const Row& r : rows) {
    card.Reset();
    TCardChannel channel(card);
    channel.loadsLeft = r.loadsLeft;
    uint8_t buffer[16] = {};
    const int32_t rc = r.write
                           ? pcsc::WriteBlock(channel, 40, r.key, VELIO_READER_KEY_A, 4, 2, data)
                           : pcsc::ReadBlock(channel, 40, r.key, VELIO_READER_KEY_A, 4, 2, buffer);
    EXPECT_EQ(rc, r.code) << r.what;
    EXPECT_EQ(card.SlotKey(0), r.slotAfter) << r.what;
  }
  EXPECT_EQ(Block(4, 2).substr(0, 3), "key");
}

TEST_F(PcscCardTest, StatusWordsAndTransmitErrorsKeepTheirOwnCodes) {
  readersim::TVirtualCard card(dir_.Path(), 40);
  uint8_t buffer[16] = {};
  {
    // The card vanished: the key loads, the authentication reads no card (64 00).
    TCardChannel channel(card);
    readersim::RemoveCard(dir_.Path());
    EXPECT_EQ(pcsc::ReadBlock(channel, 40, kKey, VELIO_READER_KEY_B, 4, 0, buffer),
              READER_PCSC_SW_AUTH + 0x6400);
    Save();
  }
  {
    // A PC/SC error is answered as itself (here: the card was removed).
    TCardChannel channel(card);
    channel.failWith = static_cast<int32_t>(0x80100069u);
    EXPECT_EQ(pcsc::ReadBlock(channel, 40, kKey, VELIO_READER_KEY_A, 4, 0, buffer),
              static_cast<int32_t>(0x80100069u));
  }
  // Reading or writing without authentication: 69 82 from the card.
  card.Reset();
  EXPECT_EQ(card.Process({0xFF, 0xB0, 0x00, 16, 0x10}), (std::vector<uint8_t>{0x69, 0x82}));
  // Authenticated sector 4, block 20 (sector 5) stays out of reach.
  card.Process({0xFF, 0x82, 0x00, 0x00, 0x06, 0x7D, 0x2A, 0x9C, 0x41, 0xE6, 0xB3});
  EXPECT_EQ(card.Process({0xFF, 0x86, 0x00, 0x00, 0x05, 0x01, 0x00, 16, 0x60, 0x00}),
            (std::vector<uint8_t>{0x90, 0x00}));
  EXPECT_EQ(card.Process({0xFF, 0xB0, 0x00, 20, 0x10}), (std::vector<uint8_t>{0x69, 0x82}));
  // A trailer reads with key A as zeros.
  std::vector<uint8_t> trailer = card.Process({0xFF, 0xB0, 0x00, 19, 0x10});
  ASSERT_EQ(trailer.size(), 18u);
  EXPECT_EQ(pcsc::HexBytes(trailer.data(), 6), "00 00 00 00 00 00");
  // Unknown class and instruction; the UID.
  EXPECT_EQ(card.Process({0x00, 0xB0, 0x00, 16, 0x10}), (std::vector<uint8_t>{0x6E, 0x00}));
  EXPECT_EQ(card.Process({0xFF, 0x12, 0x00, 0x00, 0x00}), (std::vector<uint8_t>{0x6D, 0x00}));
  TCardChannel channel(card);
  std::vector<uint8_t> uid;
  ASSERT_EQ(pcsc::ReadUid(channel, uid), READER_PCSC_OK);
  EXPECT_EQ(pcsc::HexBytes(uid.data(), uid.size()), "A1 B2 C3 D4");
}

// The vpcd link against a stand-in for the driver: control codes, the ATR, a
// command, the card leaving with card.bin and coming back, and the stop.
TEST_F(PcscCardTest, VpcdLinkAnswersTheDriverAndFollowsCardBin) {
  asio::io_context io;
  asio::ip::tcp::acceptor acceptor(io, {asio::ip::make_address("127.0.0.1"), 0});
  const int port = acceptor.local_endpoint().port();
  readersim::TVirtualCard card(dir_.Path(), 40);
  std::atomic<bool> stop{false};
  std::thread link([&] { readersim::RunVpcdCard(card, "127.0.0.1", port, stop, [](auto&) {}); });

  auto send = [](asio::ip::tcp::socket& s, std::vector<uint8_t> message) {
    std::vector<uint8_t> framed = {static_cast<uint8_t>(message.size() >> 8),
                                   static_cast<uint8_t>(message.size())};
    framed.insert(framed.end(), message.begin(), message.end());
    asio::write(s, asio::buffer(framed));
  };
  auto receive = [](asio::ip::tcp::socket& s) {
    uint8_t head[2];
    asio::read(s, asio::buffer(head));
    std::vector<uint8_t> body(static_cast<size_t>(head[0] << 8 | head[1]));
    asio::read(s, asio::buffer(body));
    return pcsc::HexBytes(body.data(), body.size());
  };
  {
    asio::ip::tcp::socket driver(io);
    acceptor.accept(driver);
    send(driver, {0x01});  // power on: no answer
    send(driver, {0x04});  // the ATR
    EXPECT_EQ(receive(driver), "3B 8F 80 01 80 4F 0C A0 00 00 03 06 03 00 02 00 00 00 00 69");
    send(driver, {0xFF, 0xCA, 0x00, 0x00, 0x00});
    EXPECT_EQ(receive(driver), "A1 B2 C3 D4 90 00");
    // The card leaves the reader: the link closes the connection.
    readersim::RemoveCard(dir_.Path());
    uint8_t byte;
    asio::error_code ec;
    asio::read(driver, asio::buffer(&byte, 1), ec);
    EXPECT_EQ(ec, asio::error::eof);
  }
  Save();  // back on the reader: the link connects again
  asio::ip::tcp::socket again(io);
  acceptor.accept(again);
  send(again, {0x04});
  EXPECT_EQ(receive(again).substr(0, 5), "3B 8F");
  stop = true;
  link.join();
}

TEST(PcscReaders, FilterKeepsNamesContainingTheText) {
  const std::vector<std::string> all = {"ACME Contactless 00 00", "Virtual PCD 00 00",
                                        "Virtual PCD 00 01"};
  EXPECT_EQ(pcsc::FilterReaders(all, nullptr), all);
  EXPECT_EQ(pcsc::FilterReaders(all, ""), all);
  EXPECT_EQ(pcsc::FilterReaders(all, "Virtual"),
            (std::vector<std::string>{"Virtual PCD 00 00", "Virtual PCD 00 01"}));
  EXPECT_EQ(pcsc::FilterReaders(all, "virtual"), std::vector<std::string>{});
}

}  // namespace

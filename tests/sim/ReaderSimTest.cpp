// The reader simulator library (loaded like the real one) and cardsim: result
// codes, card layout, key checks, protected blocks, atomic writes, the card
// lock, and TZentaMember driving the simulated reader end to end.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <future>
#include <thread>

#include "member/ZentaMemberUnit.h"
#include "platform/DynLibUnit.h"
#include "sim/CardImageUnit.h"
#include "sim/ReaderSimCodes.h"
#include "tests/member/MemberTestSupport.h"
#include "tests/support/FileSupport.h"
#include "tests/support/RunSupport.h"
#include "tests/support/TempDirSupport.h"

namespace {

using readersim::TCardImage;

const std::string kReaderPath = std::string(VELIO_BIN_DIR) + "/" + SharedLibraryName("Reader");
const std::string kCardSim = std::string(VELIO_BIN_DIR) + "/cardsim";
const uint8_t kKey[6] = {0x7D, 0x2A, 0x9C, 0x41, 0xE6, 0xB3};

class ReaderSimTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("VELIO_READER_SIM_DIR", dir_.Path().c_str(), 1);
    std::string error;
    lib_ = TDynLib::Open(kReaderPath, error);
    ASSERT_TRUE(lib_) << error;
    start_ = reinterpret_cast<TStartSCardFn>(lib_->Symbol("StartSCard", error));
    write_ = reinterpret_cast<TWriteCardFn>(lib_->Symbol("WriteCard", error));
    read_ = reinterpret_cast<TReadCardFn>(lib_->Symbol("ReadCard", error));
    end_ = reinterpret_cast<TEndSCardFn>(lib_->Symbol("EndSCard", error));
    ASSERT_TRUE(start_ && write_ && read_ && end_) << error;
  }
  void TearDown() override {
    for (int32_t port = -1; port <= 9; ++port) end_(port);
    unsetenv("VELIO_READER_SIM_DIR");
  }

  void PutCard(const TCardImage& image) {
    readersim::TCardLock lock(dir_.Path());
    ASSERT_TRUE(readersim::SaveCard(dir_.Path(), image));
  }
  TCardImage NewCard() {
    readersim::TKey key;
    std::memcpy(key.data(), kKey, 6);
    return readersim::NewCardImage(key, {1, 2, 3, 4});
  }
  std::string CardBytes() { return velio_test::ReadFile(dir_.Path() + "card.bin"); }
  int32_t Start(int32_t port) {
    int32_t param = 4113;
    return start_(port, &param, 0);
  }
  int32_t Read(int32_t port, int32_t sector, int32_t block, int32_t mode, uint8_t* out,
               const uint8_t* key = kKey) {
    uint8_t k[6];
    std::memcpy(k, key, 6);
    return read_(port, k, out, sector, block, 16, mode);
  }
  int32_t Write(int32_t port, int32_t sector, int32_t block, int32_t mode, const std::string& data,
                const uint8_t* key = kKey) {
    uint8_t k[6], b[16];
    std::memcpy(k, key, 6);
    std::memset(b, 0xFF, 16);
    std::memcpy(b, data.data(), std::min<size_t>(16, data.size()));
    return write_(port, k, b, sector, block, 16, mode);
  }

  velio_test::TTempDir dir_;
  std::unique_ptr<TDynLib> lib_;
  TStartSCardFn start_ = nullptr;
  TWriteCardFn write_ = nullptr;
  TReadCardFn read_ = nullptr;
  TEndSCardFn end_ = nullptr;
};

TEST_F(ReaderSimTest, StartAcceptsUsbAndComPortsWithTheStartParameter) {
  for (int32_t port : {-2, 10, 100, INT32_MIN}) EXPECT_EQ(Start(port), READER_SIM_ERR_PORT_RANGE);
  for (int32_t port = -1; port <= 9; ++port) EXPECT_EQ(Start(port), READER_SIM_OK) << port;
  int32_t wrong = 4112;
  EXPECT_EQ(start_(1, &wrong, 0), READER_SIM_ERR_START_PARAM);
  EXPECT_EQ(start_(1, nullptr, 0), READER_SIM_ERR_START_PARAM);
}

TEST_F(ReaderSimTest, CardAccessNeedsAnOpenPort) {
  PutCard(NewCard());
  uint8_t buf[16];
  EXPECT_EQ(Read(1, 4, 0, 4, buf), READER_SIM_ERR_PORT_CLOSED);
  EXPECT_EQ(Write(1, 4, 0, 4, "1"), READER_SIM_ERR_PORT_CLOSED);
  EXPECT_EQ(end_(1), READER_SIM_ERR_PORT_CLOSED);
  ASSERT_EQ(Start(1), READER_SIM_OK);
  EXPECT_EQ(Read(2, 4, 0, 4, buf), READER_SIM_ERR_PORT_CLOSED);  // another port
  EXPECT_EQ(Read(1, 4, 0, 4, buf), READER_SIM_OK);
  EXPECT_EQ(end_(1), READER_SIM_OK);
  EXPECT_EQ(Read(1, 4, 0, 4, buf), READER_SIM_ERR_PORT_CLOSED);
  EXPECT_EQ(end_(42), READER_SIM_ERR_PORT_CLOSED);
}

TEST_F(ReaderSimTest, NoCardWithoutCardFileOrFolder) {
  ASSERT_EQ(Start(-1), READER_SIM_OK);
  uint8_t buf[16];
  EXPECT_EQ(Read(-1, 4, 0, 4, buf), READER_SIM_ERR_NO_CARD);
  EXPECT_EQ(Write(-1, 4, 0, 4, "1"), READER_SIM_ERR_NO_CARD);
  setenv("VELIO_READER_SIM_DIR", (dir_.Path() + "missing").c_str(), 1);
  EXPECT_EQ(Read(-1, 4, 0, 4, buf), READER_SIM_ERR_NO_CARD);
  EXPECT_FALSE(std::filesystem::exists(dir_.Path() + "missing"));
}

TEST_F(ReaderSimTest, ArgumentsAddressesAndKeyModesAreChecked) {
  PutCard(NewCard());
  ASSERT_EQ(Start(0), READER_SIM_OK);
  uint8_t buf[16];
  uint8_t key[6];
  std::memcpy(key, kKey, 6);
  EXPECT_EQ(read_(0, nullptr, buf, 4, 0, 16, 4), READER_SIM_ERR_ARGUMENT);
  EXPECT_EQ(read_(0, key, nullptr, 4, 0, 16, 4), READER_SIM_ERR_ARGUMENT);
  EXPECT_EQ(read_(0, key, buf, 4, 0, 15, 4), READER_SIM_ERR_ARGUMENT);
  EXPECT_EQ(write_(0, key, buf, 4, 0, 17, 4), READER_SIM_ERR_ARGUMENT);
  struct Address {
    int32_t sector, block;
    bool onCard;
  } addresses[] = {{-1, 0, false}, {40, 0, false},  {0, 4, false}, {31, 3, true},  {31, 4, false},
                   {32, 15, true}, {32, 16, false}, {39, 0, true}, {4, -1, false}, {39, 14, true}};
  for (const Address& a : addresses) {
    EXPECT_EQ(Read(0, a.sector, a.block, 4, buf), a.onCard ? READER_SIM_OK : READER_SIM_ERR_ADDRESS)
        << a.sector << "/" << a.block;
  }
  for (int32_t mode : {0, 3, 6, -4, 0x60}) {
    EXPECT_EQ(Read(0, 4, 0, mode, buf), READER_SIM_ERR_KEY_MODE) << mode;
    EXPECT_EQ(Write(0, 4, 1, mode, "x"), READER_SIM_ERR_KEY_MODE) << mode;
  }
}

TEST_F(ReaderSimTest, KeysAreCheckedAgainstTheSectorTrailer) {
  TCardImage image = NewCard();
  // Sector 5: key A 000000000000, key B FFFFFFFFFFFF.
  uint8_t* trailer = image.data() + readersim::TrailerOffset(5);
  std::memset(trailer, 0x00, 6);
  std::memset(trailer + 10, 0xFF, 6);
  PutCard(image);
  ASSERT_EQ(Start(3), READER_SIM_OK);
  const uint8_t zeros[6] = {}, ones[6] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
  uint8_t buf[16];
  EXPECT_EQ(Read(3, 5, 0, VELIO_READER_KEY_A, buf, kKey), READER_SIM_ERR_AUTH);
  EXPECT_EQ(Read(3, 5, 0, VELIO_READER_KEY_A, buf, zeros), READER_SIM_OK);
  EXPECT_EQ(Read(3, 5, 0, VELIO_READER_KEY_B, buf, zeros), READER_SIM_ERR_AUTH);
  EXPECT_EQ(Read(3, 5, 0, VELIO_READER_KEY_B, buf, ones), READER_SIM_OK);
  EXPECT_EQ(Write(3, 5, 0, VELIO_READER_KEY_A, "x", ones), READER_SIM_ERR_AUTH);
  EXPECT_EQ(Write(3, 5, 0, VELIO_READER_KEY_B, "x", ones), READER_SIM_OK);
  // Other sectors keep the fresh card's key, A and B alike.
  EXPECT_EQ(Read(3, 4, 0, VELIO_READER_KEY_B, buf, kKey), READER_SIM_OK);
  EXPECT_EQ(Read(3, 4, 0, VELIO_READER_KEY_A, buf, zeros), READER_SIM_ERR_AUTH);
}

TEST_F(ReaderSimTest, WriteLandsAtTheLayoutOffsetAndReadsBack) {
  PutCard(NewCard());
  ASSERT_EQ(Start(1), READER_SIM_OK);
  struct Case {
    int32_t sector, block;
    size_t offset;
  } cases[] = {{0, 1, 16},
               {4, 0, 256},
               {31, 2, 31 * 64 + 32},
               {32, 0, 2048},
               {39, 14, 2048 + 7 * 256 + 14 * 16}};
  for (const Case& c : cases) {
    const std::string data = "S" + std::to_string(c.sector) + "B" + std::to_string(c.block);
    ASSERT_EQ(Write(1, c.sector, c.block, 4, data), READER_SIM_OK);
    const std::string bytes = CardBytes();
    ASSERT_EQ(bytes.size(), 4096u);
    std::string expected = data + std::string(16 - data.size(), '\xFF');
    EXPECT_EQ(bytes.substr(c.offset, 16), expected) << data;
    uint8_t buf[16] = {};
    ASSERT_EQ(Read(1, c.sector, c.block, 5, buf), READER_SIM_OK);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), 16), expected);
  }
}

TEST_F(ReaderSimTest, TrailersAndTheSerialBlockAreNeverWritten) {
  PutCard(NewCard());
  const std::string before = CardBytes();
  ASSERT_EQ(Start(1), READER_SIM_OK);
  for (auto [sector, block] : {std::pair{0, 3}, {4, 3}, {31, 3}, {32, 15}, {39, 15}})
    EXPECT_EQ(Write(1, sector, block, 4, "x"), READER_SIM_ERR_TRAILER) << sector;
  EXPECT_EQ(Write(1, 0, 0, 4, "x"), READER_SIM_ERR_BLOCK0);
  EXPECT_EQ(CardBytes(), before);
  // Reading a trailer hides key A.
  uint8_t buf[16];
  ASSERT_EQ(Read(1, 4, 3, 4, buf), READER_SIM_OK);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), 6), std::string(6, '\0'));
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buf) + 10, 6),
            std::string(reinterpret_cast<const char*>(kKey), 6));
}

TEST_F(ReaderSimTest, DamagedImageIsReported) {
  PutCard(NewCard());
  std::filesystem::resize_file(dir_.Path() + "card.bin", 4095);
  ASSERT_EQ(Start(1), READER_SIM_OK);
  uint8_t buf[16];
  EXPECT_EQ(Read(1, 4, 0, 4, buf), READER_SIM_ERR_IMAGE);
  std::filesystem::resize_file(dir_.Path() + "card.bin", 4097);
  EXPECT_EQ(Write(1, 4, 0, 4, "1"), READER_SIM_ERR_IMAGE);
}

TEST_F(ReaderSimTest, FailedWriteLeavesTheOldCardWhole) {
  PutCard(NewCard());
  ASSERT_EQ(Start(1), READER_SIM_OK);
  ASSERT_EQ(Write(1, 4, 0, 4, "first"), READER_SIM_OK);
  EXPECT_FALSE(std::filesystem::exists(dir_.Path() + "card.bin.tmp"));
  const std::string before = CardBytes();
  // The temporary file cannot be created: the write fails, card.bin stays as it was.
  std::filesystem::create_directory(dir_.Path() + "card.bin.tmp");
  EXPECT_EQ(Write(1, 4, 0, 4, "second"), READER_SIM_ERR_IO);
  EXPECT_EQ(CardBytes(), before);
  std::filesystem::remove(dir_.Path() + "card.bin.tmp");
  EXPECT_EQ(Write(1, 4, 0, 4, "third"), READER_SIM_OK);
  EXPECT_EQ(CardBytes().substr(256, 5), "third");
}

TEST_F(ReaderSimTest, ACardLockHeldElsewhereMakesTheReaderWait) {
  PutCard(NewCard());
  ASSERT_EQ(Start(1), READER_SIM_OK);
  std::future<int32_t> result;
  {
    // The test's own copy of the card code: its lock is the file lock only,
    // as for another process such as cardsim.
    readersim::TCardLock lock(dir_.Path());
    ASSERT_TRUE(lock.Held());
    result = std::async(std::launch::async, [this] { return Write(1, 4, 0, 4, "late"); });
    EXPECT_EQ(result.wait_for(std::chrono::milliseconds(50)), std::future_status::timeout);
  }
  EXPECT_EQ(result.get(), READER_SIM_OK);
  EXPECT_EQ(CardBytes().substr(256, 4), "late");
}

// ---- cardsim -----------------------------------------------------------------------------

using velio_test::TRun;

TRun RunCardSim(const std::string& args) {
  return velio_test::RunShell(kCardSim + " " + args + " 2>&1");
}

TEST_F(ReaderSimTest, CardSimNewMakesAFreshCard) {
  TRun run = RunCardSim("new");
  ASSERT_EQ(run.status, 0) << run.out;
  const std::string bytes = CardBytes();
  ASSERT_EQ(bytes.size(), 4096u);
  const std::string key(reinterpret_cast<const char*>(kKey), 6);
  for (int32_t sector = 0; sector < 40; ++sector) {
    const size_t t = readersim::TrailerOffset(sector);
    EXPECT_EQ(bytes.substr(t, 6), key) << sector;
    EXPECT_EQ(bytes.substr(t + 10, 6), key) << sector;
  }
  EXPECT_EQ(static_cast<uint8_t>(bytes[4]),
            static_cast<uint8_t>(bytes[0] ^ bytes[1] ^ bytes[2] ^ bytes[3]));
  EXPECT_EQ(bytes.substr(256, 16), std::string(16, '\0'));

  run = RunCardSim("new --key c05e83f19a27");
  ASSERT_EQ(run.status, 0) << run.out;
  EXPECT_EQ(CardBytes().substr(readersim::TrailerOffset(7), 6), "\xC0\x5E\x83\xF1\x9A\x27");
  for (const char* bad : {"new --key 12345", "new --key 7D2A9C41E6BZ", "new --key 7D2A9C41E6B3AA"})
    EXPECT_NE(RunCardSim(bad).status, 0) << bad;
}

TEST_F(ReaderSimTest, CardSimWritesShowsAndRemoves) {
  ASSERT_EQ(RunCardSim("new").status, 0);
  TRun run = RunCardSim("write --sector 4 --block 0 --text '12-34 AB'");
  ASSERT_EQ(run.status, 0) << run.out;
  EXPECT_EQ(CardBytes().substr(256, 16), "12-34 AB" + std::string(8, '\xFF'));
  run = RunCardSim("write --sector 4 --block 1 --text '会员卡'");
  ASSERT_EQ(run.status, 0) << run.out;
  EXPECT_EQ(CardBytes().substr(272, 16), Lit("会员卡") + std::string(10, '\xFF'));
  run = RunCardSim("write --sector 32 --block 15 --hex '00 11 22'");
  ASSERT_EQ(run.status, 0) << run.out;
  EXPECT_EQ(CardBytes().substr(2048 + 15 * 16, 16),
            std::string("\x00\x11\x22", 3) + std::string(13, '\0'));

  run = RunCardSim("show --sector 4");
  ASSERT_EQ(run.status, 0) << run.out;
  EXPECT_NE(run.out.find("sector  4 block  0  31 32 2D 33 34 20 41 42 FF"), std::string::npos)
      << run.out;
  EXPECT_NE(run.out.find("|12-34 AB|"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("|会员卡|"), std::string::npos) << run.out;
  run = RunCardSim("show --sector 4 --block 1");
  EXPECT_EQ(run.out.find("block  0"), std::string::npos) << run.out;

  // An unusable command line exits 2 and says what is wrong; the card stays.
  const std::string card = CardBytes();
  struct {
    const char* args;
    const char* says;
  } usage[] = {
      {"write --sector 4 --block 0", "--hex or --text"},
      {"write --sector 4 --block 4 --text x", "no such sector or block"},
      {"write --sector 4 --block 0 --hex 1", "--hex"},
      {"write --sector 4 --block 0 --hex zz", "--hex"},
      {"write --sector 4 --block 0 --text 12345678901234567", "--text"},
      {"write --sector 4 --block 0 --hex 11 --text x", "--hex"},
      {"show --sector 40", "--sector"},
      {"show --block 1", "--block needs --sector"},
      {"frobnicate", "frobnicate"},
      {"--bogus", "--bogus"},  // named, not "a subcommand is required"
      {"show --bogus", "--bogus"},
      {"", "a command is required"},
      {"--home /no/such/folder show", "/no/such/folder"},
      {"new --key 12345", "--key"},
  };
  for (const auto& u : usage) {
    const TRun run = RunCardSim(u.args);
    EXPECT_EQ(run.status, 2) << u.args << ": " << run.out;
    EXPECT_NE(run.out.find(u.says), std::string::npos) << u.args << ": " << run.out;
  }
  EXPECT_EQ(CardBytes(), card);

  // remove says whether there was a card; without one, the card commands exit 1.
  run = RunCardSim("remove");
  ASSERT_EQ(run.status, 0);
  EXPECT_NE(run.out.find("card taken off the reader"), std::string::npos) << run.out;
  EXPECT_FALSE(std::filesystem::exists(dir_.Path() + "card.bin"));
  run = RunCardSim("remove");
  EXPECT_EQ(run.status, 0);
  EXPECT_NE(run.out.find("there was no card on the reader"), std::string::npos) << run.out;
  EXPECT_EQ(RunCardSim("show").status, 1);
  EXPECT_EQ(RunCardSim("write --sector 4 --block 0 --text 1").status, 1);
}

TEST_F(ReaderSimTest, CardSimHelp) {
  for (const char* cmd : {"--help", "new --help", "remove --help", "show --help", "write --help"}) {
    TRun run = RunCardSim(cmd);
    EXPECT_EQ(run.status, 0) << cmd;
    EXPECT_NE(run.out.find("Usage"), std::string::npos) << cmd;
  }
}

#ifndef _WIN32
// An installed simulator (in /usr) keeps nothing beside itself: without
// VELIO_READER_SIM_DIR the library has no card folder and cardsim asks for
// --home. The development layout (build/bin) keeps its card beside itself.
TEST_F(ReaderSimTest, NoCardFolderInTheSystemFolders) {
  const struct {
    const char* beside;
    const char* env;  // VELIO_READER_SIM_DIR; nullptr: not set
    const char* dir;  // the state folder; empty: none
  } rows[] = {
      {"/usr/bin/", nullptr, ""},
      {"/usr/lib/x86_64-linux-gnu/velio-interface/", nullptr, ""},
      {"/usr/local/bin/", nullptr, ""},
      {"/bin/", nullptr, ""},
      {"/lib64/", nullptr, ""},
      {"/usr/bin/", "", ""},  // an empty variable is no variable
      {"/usr/bin/", "/var/lib/velio-interface/member/ReaderSim",
       "/var/lib/velio-interface/member/ReaderSim/"},
      {"/home/op/velio/build/bin/", nullptr, "/home/op/velio/build/bin/ReaderSim/"},
      {"/usrx/bin/", nullptr, "/usrx/bin/ReaderSim/"},
      {"/opt/velio/", nullptr, "/opt/velio/ReaderSim/"},
      {"/var/lib/velio-interface/member/", nullptr, "/var/lib/velio-interface/member/ReaderSim/"},
  };
  for (const auto& row : rows) {
    if (row.env)
      setenv("VELIO_READER_SIM_DIR", row.env, 1);
    else
      unsetenv("VELIO_READER_SIM_DIR");
    EXPECT_EQ(readersim::StateDir(row.beside), row.dir)
        << row.beside << " with " << (row.env ? row.env : "(unset)");
  }

  // cardsim refuses a system folder with exit 2, naming --home, and writes nothing
  // there (show and remove would create nothing even if it did not refuse).
  unsetenv("VELIO_READER_SIM_DIR");
  const struct {
    std::string args;
    int status;
    const char* says;
  } runs[] = {
      {"--home /usr/bin show", 2, "--home: /usr/bin is a system folder"},
      {"--home /usr/lib remove", 2, "is a system folder, where nothing is written"},
      {"--home /bin show", 2, "--home"},
      {"--home " + dir_.Path() + " show", 1, "no card on the reader"},
  };
  for (const auto& r : runs) {
    const TRun run = RunCardSim(r.args);
    EXPECT_EQ(run.status, r.status) << r.args << ": " << run.out;
    EXPECT_NE(run.out.find(r.says), std::string::npos) << r.args << ": " << run.out;
  }
  EXPECT_FALSE(std::filesystem::exists("/usr/bin/ReaderSim"));
  EXPECT_FALSE(std::filesystem::exists("/usr/lib/ReaderSim"));
}
#endif

// ---- TZentaMember on the simulated reader -------------------------------------------------

TEST_F(ReaderSimTest, DeviceWritesAndReadsTheSimulatedCard) {
  membertest::TMemberEnv env;
  TZentaMember device(kReaderPath);
  ASSERT_TRUE(device.Library().Loaded());
  ASSERT_EQ(RunCardSim("new").status, 0);
  env.ClearLog();

  ASSERT_TRUE(device.WriteMemberCard("12345678", "", "", "", -1));
  EXPECT_EQ(CardBytes().substr(256, 16), "12345678" + std::string(8, '\xFF'));
  std::string cardNo, o1, o2, o3, o4;
  ASSERT_TRUE(device.ReadMemberCard(false, cardNo, o1, o2, o3, o4, -1));
  EXPECT_EQ(cardNo, "12345678");

  // A wrong key B, a trailer, no card: the simulator's codes reach the log.
  env.Options().SetKeyFlag("KEY_B");
  env.Options().SetKey("000000000000");
  EXPECT_FALSE(device.ReadMemberCard(false, cardNo, o1, o2, o3, o4, -1));
  env.Options().SetKey("7D2A9C41E6B3");
  env.Options().SetBlock(3);
  EXPECT_FALSE(device.WriteMemberCard("1", "", "", "", -1));
  ASSERT_EQ(RunCardSim("remove").status, 0);
  EXPECT_FALSE(device.WriteMemberCard("1", "", "", "", -1));
  env.Options().SetPortName("COM1");

  EXPECT_EQ(env.Log(),
            (std::vector<std::string>{Lit("写卡成功, 卡号为:12345678"),
                                      Lit("读卡成功, 卡号为:12345678"), Lit("读卡失败:00000013"),
                                      Lit("写卡失败:00000014"), Lit("写卡失败:00000010")}));
}

}  // namespace

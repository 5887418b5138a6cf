// End to end through PC/SC: velio-interfaced -> libReaderPcsc.so -> pcsc-lite
// -> pcscd -> vpcd -> cardsim present, beside velio-interfaced -> libReader.so
// on the same card.bin. The property: the same request gives the same reply
// from both reader libraries (and, where the situation is the same, the same
// device log line), and the PC/SC library leaves the card free afterwards
// (EndSCard ran) on every path.
#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <thread>

#include "pcsc/ReaderPcscCodes.h"
#include "platform/DynLibUnit.h"
#include "tests/e2e/E2eSupport.h"
#include "tests/pcsc/PcscChain.h"
#include "tests/support/ReplySupport.h"

using namespace e2e;

namespace {

using velio_test::MemberReply;

const char kKeyA[] = "7D2A9C41E6B3";
const char kKeyB[] = "B0B1B2B3B4B5";

std::string WriteRequest(const std::string& cardNo) {
  return "<Request type=\"WriteMemberCard\"><Hotel>H1</Hotel><CardNo>" + cardNo +
         "</CardNo><E1></E1><E2></E2><E3></E3></Request>";
}
const std::string kReadRequest =
    "<Request type=\"ReadMemberCard\"><Hotel>H1</Hotel><Flag>0</Flag></Request>";

struct TSettings {
  std::string port = "USB";
  int sector = 4, block = 0;
  std::string key = kKeyA, keyFlag = "KEY_A";
};

// One velio-interfaced in member mode with its own home and reader library.
class TServer {
 public:
  TServer(const std::string& cardDir, const TSettings& s, bool pcsc) : port_(FreePort()) {
    home_.Write("Option.ini", "[SysOption]\r\nMemberPortNo=" + std::to_string(port_) +
                                  "\r\n[MemberOption]\r\nPortName=" + s.port +
                                  "\r\nSector=" + std::to_string(s.sector) +
                                  "\r\nBlock=" + std::to_string(s.block) + "\r\nKey=" + s.key +
                                  "\r\nKeyFlag=" + s.keyFlag + "\r\n");
    TSpawnOptions options;
    options.env["VELIO_READER_SIM_DIR"] = cardDir;
    if (pcsc)
      options.args = {"--reader-library", BinPath("libReaderPcsc.so")};
    else
      options.env["VELIO_READER_LIBRARY"] = BinPath("libReader.so");
    daemon_ = std::make_unique<TDaemon>(home_.Path(), "member", port_, options);
  }
  bool Up() { return daemon_->WaitListening(); }
  std::string Send(const std::string& request) { return e2e::Send(port_, request).text; }
  // The device's line and the handler's line of the last request.
  std::vector<std::string> Entries() const { return LogEntries(TodayLog(home_)); }
  std::string DeviceLine() const {
    const std::vector<std::string> all = Entries();
    return all.size() >= 2 ? all[all.size() - 2] : std::string();
  }
  std::string Err() const { return daemon_->Stderr(); }

 private:
  TTempHome home_;
  int port_;
  std::unique_ptr<TDaemon> daemon_;
};

class PcscE2e : public ::testing::Test {
 protected:
  void SetUp() override {
    cardDir_ = cards_.File("ReaderSim");
    NewCard();
    chain_ = std::make_unique<pcsctest::TPcscChain>(cardDir_);
    ASSERT_TRUE(chain_->Up());
  }
  void TearDown() override { chain_.reset(); }

  void Cardsim(const std::vector<std::string>& args) {
    std::vector<std::string> argv = {BinPath("cardsim")};
    argv.insert(argv.end(), args.begin(), args.end());
    std::string out, err;
    ASSERT_EQ(RunProgram(argv, out, err, {{"VELIO_READER_SIM_DIR", cardDir_}}), 0) << err;
  }
  void NewCard() {
    Cardsim({"new"});
    // Sector 4 gets its own key B (key A stays the default).
    Cardsim({"write", "--sector", "4", "--block", "3", "--hex",
             std::string(kKeyA) + "FF078069" + kKeyB});
  }
  std::string CardBlock(int sector, int block) const {
    const std::string image = cards_.Read("ReaderSim/card.bin");
    const size_t offset =
        sector < 32 ? sector * 64 + block * 16 : 2048 + (sector - 32) * 256 + block * 16;
    return image.size() == 4096 ? image.substr(offset, 16) : std::string();
  }

  TTempHome cards_;
  std::string cardDir_;
  std::unique_ptr<pcsctest::TPcscChain> chain_;
};

// Each row runs on a simulator server and on a PC/SC server over the same card.
TEST_F(PcscE2e, BothReaderLibrariesGiveTheSameRepliesAndLogLines) {
  struct Row {
    const char* what;
    TSettings settings;
    std::string request;
    std::string reply;
    std::string deviceLine;  // the same from both libraries
  } rows[] = {
      {"write, key A",
       {},
       WriteRequest("12345678"),
       MemberReply("200", "写卡成功", "12345678"),
       "写卡成功, 卡号为:12345678"},
      {"read, key A",
       {},
       kReadRequest,
       MemberReply("200", "读卡成功", "12345678"),
       "读卡成功, 卡号为:12345678"},
      {"read, key B",
       {"COM0", 4, 0, kKeyB, "KEY_B"},
       kReadRequest,
       MemberReply("200", "读卡成功", "12345678"),
       "读卡成功, 卡号为:12345678"},
      {"write, key B, sector 33 block 14",
       {"USB", 33, 14, kKeyA, "KEY_B"},
       WriteRequest("ABCDEFGH12345678"),
       MemberReply("200", "写卡成功", "ABCDEFGH12345678"),
       "写卡成功, 卡号为:ABCDEFGH12345678"},
      {"read, wrong key",
       {"USB", 4, 0, "000000000000", "KEY_A"},
       kReadRequest,
       MemberReply("500", "读卡失败", ""),
       "读卡失败:00000013"},
      {"write, wrong key",
       {"USB", 4, 1, "000000000000", "KEY_A"},
       WriteRequest("99"),
       MemberReply("500", "写卡失败", "99"),
       "写卡失败:00000013"},
      {"read, key A given as key B",
       {"USB", 4, 0, kKeyA, "KEY_B"},
       kReadRequest,
       MemberReply("500", "读卡失败", ""),
       "读卡失败:00000013"},
      {"read, sector 40",
       {"USB", 40, 0, kKeyA, "KEY_A"},
       kReadRequest,
       MemberReply("500", "读卡失败", ""),
       "读卡失败:00000011"},
      {"write, sector trailer",
       {"USB", 4, 3, kKeyA, "KEY_A"},
       WriteRequest("1"),
       MemberReply("500", "写卡失败", "1"),
       "写卡失败:00000014"},
      {"write, block 0",
       {"USB", 0, 0, kKeyA, "KEY_A"},
       WriteRequest("1"),
       MemberReply("500", "写卡失败", "1"),
       "写卡失败:00000015"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    const bool written = r.reply.find("写卡成功") != std::string::npos;
    std::string simBlock;
    for (bool pcsc : {false, true}) {
      SCOPED_TRACE(pcsc ? "PC/SC library" : "simulator library");
      // Clear the block the simulator wrote, so the PC/SC library's write shows.
      if (pcsc && written) {
        Cardsim({"write", "--sector", std::to_string(r.settings.sector), "--block",
                 std::to_string(r.settings.block), "--hex", "00"});
      }
      const std::string before = cards_.Read("ReaderSim/card.bin");
      TServer server(cardDir_, r.settings, pcsc);
      ASSERT_TRUE(server.Up()) << server.Err();
      EXPECT_EQ(server.Send(r.request), r.reply);
      EXPECT_EQ(server.DeviceLine(), Gbk(r.deviceLine));
      if (pcsc) {
        EXPECT_TRUE(chain_->CardFree()) << "EndSCard did not disconnect";
      }
      if (!written) {
        EXPECT_EQ(cards_.Read("ReaderSim/card.bin"), before) << "a refusal wrote";
      }
      if (!pcsc) simBlock = CardBlock(r.settings.sector, r.settings.block);
      if (pcsc && written) {
        EXPECT_EQ(CardBlock(r.settings.sector, r.settings.block), simBlock);
      }
    }
  }
  EXPECT_EQ(CardBlock(4, 0), "12345678" + std::string(8, '\xFF'));
  EXPECT_EQ(CardBlock(33, 14), "ABCDEFGH12345678");
}

TEST_F(PcscE2e, WriteThroughPcscAloneReachesTheImageAndNamesTheLibrary) {
  TServer server(cardDir_, {}, /*pcsc=*/true);
  ASSERT_TRUE(server.Up()) << server.Err();
  EXPECT_EQ(server.Send(WriteRequest("24681357")), MemberReply("200", "写卡成功", "24681357"));
  EXPECT_EQ(CardBlock(4, 0), "24681357" + std::string(8, '\xFF'));
  const std::vector<std::string> entries = server.Entries();
  ASSERT_GE(entries.size(), 2u);
  EXPECT_EQ(entries[1], Gbk("读卡器库: ") + BinPath("libReaderPcsc.so")) << entries[1];
}

// Situations the simulator has in its own way: the reply is the same, the
// PC/SC library says so when opening the port.
TEST_F(PcscE2e, CardRemovedBetweenRequestsAndPutBack) {
  TServer sim(cardDir_, {}, false), pcsc(cardDir_, {}, true);
  ASSERT_TRUE(sim.Up() && pcsc.Up()) << sim.Err() << pcsc.Err();
  ASSERT_EQ(pcsc.Send(WriteRequest("555")), MemberReply("200", "写卡成功", "555"));

  Cardsim({"remove"});
  ASSERT_TRUE(chain_->WaitCard(false)) << chain_->Output();
  EXPECT_EQ(sim.Send(kReadRequest), MemberReply("500", "读卡失败", ""));
  EXPECT_EQ(pcsc.Send(kReadRequest), MemberReply("500", "读卡失败", ""));
  EXPECT_EQ(sim.DeviceLine(), Gbk("读卡失败:00000010"));
  EXPECT_EQ(pcsc.DeviceLine(), Gbk("端口打开失败USBlStatus=16"));
  EXPECT_EQ(pcsc.Send(WriteRequest("556")), MemberReply("500", "写卡失败", "556"));
  EXPECT_EQ(pcsc.DeviceLine(), Gbk("端口打开失败USBlStatus=16"));

  NewCard();
  ASSERT_TRUE(chain_->WaitCard(true)) << chain_->Output();
  EXPECT_EQ(pcsc.Send(WriteRequest("557")), MemberReply("200", "写卡成功", "557"));
  EXPECT_EQ(sim.Send(kReadRequest), MemberReply("200", "读卡成功", "557"));
  EXPECT_TRUE(chain_->CardFree());
}

// Situations only PC/SC has: no such reader, a reader without a card, a 1K card.
TEST_F(PcscE2e, PcscOnlyFailuresAnswer500WithTheirCodes) {
  struct Row {
    const char* what;
    TSettings settings;
    const char* filter;  // VELIO_PCSC_READER
    std::string request, reply, deviceLine;
  } rows[] = {
      {"no reader 5",
       {"COM5", 4, 0, kKeyA, "KEY_A"},
       "",
       kReadRequest,
       MemberReply("500", "读卡失败", ""),
       "端口打开失败COM5lStatus=33"},
      {"no reader by name",
       {"USB", 4, 0, kKeyA, "KEY_A"},
       "no such reader",
       WriteRequest("7"),
       MemberReply("500", "写卡失败", "7"),
       "端口打开失败USBlStatus=33"},
      {"reader 1 has no card",
       {"COM1", 4, 0, kKeyA, "KEY_A"},
       "",
       kReadRequest,
       MemberReply("500", "读卡失败", ""),
       "端口打开失败COM1lStatus=16"},
      {"reader 0 by name",
       {"COM0", 4, 0, kKeyA, "KEY_A"},
       "PCD 00 00",
       WriteRequest("8"),
       MemberReply("200", "写卡成功", "8"),
       "写卡成功, 卡号为:8"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    setenv("VELIO_PCSC_READER", r.filter, 1);
    TServer server(cardDir_, r.settings, true);
    unsetenv("VELIO_PCSC_READER");
    ASSERT_TRUE(server.Up()) << server.Err();
    EXPECT_EQ(server.Send(r.request), r.reply);
    EXPECT_EQ(server.DeviceLine(), Gbk(r.deviceLine));
    EXPECT_TRUE(chain_->CardFree());
  }

  // A 1K card: sector 15 is its last, sector 16 lies beyond it.
  ASSERT_TRUE(chain_->StartCard(/*oneK=*/true)) << chain_->Output();
  TServer last(cardDir_, {"USB", 15, 2, kKeyA, "KEY_A"}, true);
  TServer beyond(cardDir_, {"USB", 16, 0, kKeyA, "KEY_A"}, true);
  ASSERT_TRUE(last.Up() && beyond.Up());
  EXPECT_EQ(last.Send(WriteRequest("15")), MemberReply("200", "写卡成功", "15"));
  EXPECT_EQ(beyond.Send(kReadRequest), MemberReply("500", "读卡失败", ""));
  EXPECT_EQ(beyond.DeviceLine(), Gbk("读卡失败:00000011"));
  EXPECT_EQ(beyond.Send(WriteRequest("16")), MemberReply("500", "写卡失败", "16"));
  EXPECT_EQ(beyond.DeviceLine(), Gbk("写卡失败:00000011"));
  EXPECT_TRUE(chain_->CardFree());
  // A card of another type (a MIFARE Ultralight's ATR): refused when opening the port.
  ASSERT_TRUE(chain_->StartCard(false, "3B8F8001804F0CA0000003060300030000000068"))
      << chain_->Output();
  TServer other(cardDir_, {}, true);
  ASSERT_TRUE(other.Up());
  EXPECT_EQ(other.Send(kReadRequest), MemberReply("500", "读卡失败", ""));
  EXPECT_EQ(other.DeviceLine(), Gbk("端口打开失败USBlStatus=34"));
  EXPECT_TRUE(chain_->CardFree());
}

// The installer's tool over the same chain.
TEST_F(PcscE2e, ReadersToolListsTheReadersAndReadsABlock) {
  std::string out, err;
  ASSERT_EQ(RunProgram({BinPath("velio-readers"), "list"}, out, err), 0) << err;
  EXPECT_NE(out.find("0  (COM0)  Virtual PCD 00 00\n"), std::string::npos) << out;
  EXPECT_NE(out.find("1  (COM1)  Virtual PCD 00 01\n   no card\n"), std::string::npos) << out;
  EXPECT_NE(out.find("ATR  3B 8F 80 01 80 4F 0C A0 00 00 03 06 03 00 02 00 00 00 00 69"),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("type MIFARE Classic 4K"), std::string::npos) << out;
  EXPECT_NE(out.find("UID  " +
                     [&] {
                       const std::string b0 = CardBlock(0, 0);
                       char buf[16];
                       std::snprintf(buf, sizeof buf, "%02X %02X %02X %02X", b0[0] & 0xFF,
                                     b0[1] & 0xFF, b0[2] & 0xFF, b0[3] & 0xFF);
                       return std::string(buf);
                     }()),
            std::string::npos)
      << out;

  Cardsim({"write", "--sector", "4", "--block", "2", "--text", "tool"});
  ASSERT_EQ(RunProgram({BinPath("velio-readers"), "read", "--port", "COM0", "--sector", "4",
                        "--block", "2", "--key", kKeyB, "--key-b"},
                       out, err),
            0)
      << err;
  EXPECT_NE(out.find("sector 4 block 2  74 6F 6F 6C FF"), std::string::npos) << out;
  EXPECT_EQ(RunProgram({BinPath("velio-readers"), "read", "--key", "000000000000"}, out, err), 1);
  EXPECT_NE(err.find("reading the block failed, code 0x00000013 (19): authentication failed: "
                     "wrong key for the sector"),
            std::string::npos)
      << err;
  // The key from standard input (--key -) or VELIO_READER_KEY; --key HEX wins over both.
  const std::string readB2 = BinPath("velio-readers") + " read --port COM0 --sector 4 --block 2";
  struct KeyRow {
    const char* what;
    std::string shell;
    std::map<std::string, std::string> env;
    int exit;
  } keyRows[] = {
      {"stdin",
       "printf '%s\\r\\n' " + std::string(kKeyB) + " | " + readB2 + " --key - --key-b",
       {},
       0},
      {"stdin wrong key", "echo 000000000000 | " + readB2 + " --key - --key-b", {}, 1},
      {"stdin empty", readB2 + " --key - </dev/null", {}, 2},
      {"environment", readB2 + " --key-b", {{"VELIO_READER_KEY", kKeyB}}, 0},
      {"environment wrong key", readB2 + " --key-b", {{"VELIO_READER_KEY", "000000000000"}}, 1},
      {"--key over environment",
       readB2 + " --key-b --key " + kKeyB,
       {{"VELIO_READER_KEY", "000000000000"}},
       0},
      {"--key - over environment",
       "echo " + std::string(kKeyB) + " | " + readB2 + " --key-b --key -",
       {{"VELIO_READER_KEY", "000000000000"}},
       0},
  };
  for (const KeyRow& row : keyRows) {
    EXPECT_EQ(RunProgram({"/bin/sh", "-c", row.shell}, out, err, row.env), row.exit)
        << row.what << ": " << err;
    if (row.exit == 0) {
      EXPECT_NE(out.find("sector 4 block 2  74 6F 6F 6C FF"), std::string::npos) << row.what;
    }
  }
  EXPECT_EQ(RunProgram({BinPath("velio-readers"), "read", "--port", "COM1"}, out, err), 5);
  EXPECT_EQ(RunProgram({BinPath("velio-readers"), "read", "--port", "COM7"}, out, err), 4);
}

// The installer's check that velio-interfaced --check calls.
TEST_F(PcscE2e, ReaderDiagnoseDescribesTheChosenReader) {
  std::string error;
  std::unique_ptr<TDynLib> lib = TDynLib::Open(BinPath("libReaderPcsc.so"), error);
  ASSERT_TRUE(lib) << error;
  auto diagnose =
      reinterpret_cast<int32_t (*)(int32_t, char*, int32_t)>(lib->Symbol("ReaderDiagnose", error));
  ASSERT_TRUE(diagnose) << error;
  struct Row {
    int32_t port;
    const char* filter;
    int32_t code;
    std::string text;
  } rows[] = {
      {0, "", 0, "reader 0 'Virtual PCD 00 00' present, card present (MIFARE Classic 4K)"},
      {-1, "", 0, "reader 0 'Virtual PCD 00 00' present, card present (MIFARE Classic 4K)"},
      {1, "", READER_PCSC_ERR_NO_CARD,
       "reader 1 'Virtual PCD 00 01' present, no card; a card lies on reader 0 'Virtual PCD 00 "
       "00' (PortName=COM0)"},
      {0, "00 01", READER_PCSC_ERR_NO_CARD,
       "reader 0 'Virtual PCD 00 01' present, no card; no reader has a card"},
      {-1, "00 01", READER_PCSC_ERR_NO_CARD,
       "USB: 1 reader(s) containing '00 01', none with a card"},
      {2, "", READER_PCSC_ERR_NO_READER, "no reader 2 (2 listed)"},
      {0, "nothing", READER_PCSC_ERR_NO_READER, "no PC/SC reader containing 'nothing'"},
      {10, "", READER_PCSC_ERR_PORT_RANGE, "port 10 is not USB (-1) or COM0-COM9 (0-9)"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.text);
    setenv("VELIO_PCSC_READER", r.filter, 1);
    char text[160];
    std::memset(text, 'x', sizeof text);
    EXPECT_EQ(diagnose(r.port, text, sizeof text), r.code);
    EXPECT_EQ(std::string(text), r.text);
    unsetenv("VELIO_PCSC_READER");
  }
  // Cut to the buffer, always ended.
  char small[8];
  diagnose(0, small, sizeof small);
  EXPECT_EQ(std::string(small), "reader ");
  EXPECT_EQ(diagnose(0, nullptr, 0), 0);
}

// The library's own checks, and two ports used from two threads at once.
TEST_F(PcscE2e, LibraryFunctionsCheckTheirArgumentsAndServeTwoPortsAtOnce) {
  std::string error;
  std::unique_ptr<TDynLib> lib = TDynLib::Open(BinPath("libReaderPcsc.so"), error);
  ASSERT_TRUE(lib) << error;
  using TStart = int32_t (*)(int32_t, int32_t*, int32_t);
  using TAccess = int32_t (*)(int32_t, uint8_t*, uint8_t*, int32_t, int32_t, int32_t, int32_t);
  using TEnd = int32_t (*)(int32_t);
  auto start = reinterpret_cast<TStart>(lib->Symbol("StartSCard", error));
  auto read = reinterpret_cast<TAccess>(lib->Symbol("ReadCard", error));
  auto write = reinterpret_cast<TAccess>(lib->Symbol("WriteCard", error));
  auto end = reinterpret_cast<TEnd>(lib->Symbol("EndSCard", error));
  ASSERT_TRUE(start && read && write && end) << error;
  uint8_t key[6] = {0x7D, 0x2A, 0x9C, 0x41, 0xE6, 0xB3};
  uint8_t block[16] = {};
  int32_t param = VELIO_READER_START_PARAM, badParam = 4112;

  EXPECT_EQ(start(10, &param, 0), READER_PCSC_ERR_PORT_RANGE);
  EXPECT_EQ(start(0, &badParam, 0), READER_PCSC_ERR_START_PARAM);
  EXPECT_EQ(start(0, nullptr, 0), READER_PCSC_ERR_START_PARAM);
  EXPECT_EQ(read(0, key, block, 4, 0, 16, 4), READER_PCSC_ERR_PORT_CLOSED);
  EXPECT_EQ(end(0), READER_PCSC_ERR_PORT_CLOSED);
  // A failed start leaves nothing open; EndSCard after it is safe.
  EXPECT_EQ(start(1, &param, 0), READER_PCSC_ERR_NO_CARD);
  EXPECT_EQ(end(1), READER_PCSC_ERR_PORT_CLOSED);
  ASSERT_EQ(start(0, &param, 0), READER_PCSC_OK);
  EXPECT_EQ(read(0, key, block, 4, 0, 15, 4), READER_PCSC_ERR_ARGUMENT);
  EXPECT_EQ(read(0, nullptr, block, 4, 0, 16, 4), READER_PCSC_ERR_ARGUMENT);
  EXPECT_EQ(read(0, key, block, 4, 0, 16, 6), READER_PCSC_ERR_KEY_MODE);
  EXPECT_EQ(write(0, key, block, 39, 15, 16, 4), READER_PCSC_ERR_TRAILER);
  EXPECT_EQ(read(0, key, block, 4, 0, 16, 4), READER_PCSC_OK);
  EXPECT_FALSE(chain_->CardFree());  // the connection is held until EndSCard
  EXPECT_EQ(end(0), READER_PCSC_OK);
  EXPECT_TRUE(chain_->CardFree());

  // COM0 and USB (both the first reader) from two threads, each its own connection.
  auto run = [&](int32_t port, int32_t sector, uint8_t fill, int* failures) {
    for (int i = 0; i < 15; ++i) {
      int32_t p = VELIO_READER_START_PARAM;
      uint8_t k[6] = {0x7D, 0x2A, 0x9C, 0x41, 0xE6, 0xB3};
      uint8_t data[16];
      std::memset(data, fill + i, sizeof data);
      uint8_t back[16] = {};
      if (start(port, &p, 0) != READER_PCSC_OK || write(port, k, data, sector, 1, 16, 4) != 0 ||
          read(port, k, back, sector, 1, 16, 4) != 0 || std::memcmp(back, data, 16) != 0)
        ++*failures;
      end(port);
    }
  };
  int failuresA = 0, failuresB = 0;
  std::thread a(run, 0, 6, 0x10, &failuresA), b(run, -1, 7, 0x40, &failuresB);
  a.join();
  b.join();
  EXPECT_EQ(failuresA, 0);
  EXPECT_EQ(failuresB, 0);
  EXPECT_EQ(CardBlock(6, 1), std::string(16, '\x1E'));
  EXPECT_EQ(CardBlock(7, 1), std::string(16, '\x4E'));
  EXPECT_TRUE(chain_->CardFree());
}

// A second chain while this one runs: the fixture says a pcscd runs, and fails.
TEST_F(PcscE2e, FixtureFailsWhenAPcscdAlreadyRuns) {
  static std::string dir;
  dir = cardDir_;
  EXPECT_NONFATAL_FAILURE(pcsctest::TPcscChain second(dir), "a pcscd already runs on this machine");
}

// Without any pcscd: every path says so, and nothing is left open.
TEST(PcscNoService, StartSCardAndTheToolSayThePcscServiceIsNotRunning) {
  const std::string inUse = pcsctest::PcscServiceInUse();
  ASSERT_TRUE(inUse.empty()) << inUse << "; this test needs no PC/SC service";
  TTempHome cards;
  TSettings settings;
  TServer server(cards.File("ReaderSim"), settings, true);
  ASSERT_TRUE(server.Up()) << server.Err();
  EXPECT_EQ(server.Send(kReadRequest), MemberReply("500", "读卡失败", ""));
  EXPECT_EQ(server.DeviceLine(), Gbk("端口打开失败USBlStatus=32"));
  std::string out, err;
  EXPECT_EQ(RunProgram({BinPath("velio-readers"), "list"}, out, err), 3);
  EXPECT_NE(err.find("PC/SC service not running"), std::string::npos) << err;

  std::string error;
  std::unique_ptr<TDynLib> lib = TDynLib::Open(BinPath("libReaderPcsc.so"), error);
  ASSERT_TRUE(lib) << error;
  auto diagnose =
      reinterpret_cast<int32_t (*)(int32_t, char*, int32_t)>(lib->Symbol("ReaderDiagnose", error));
  ASSERT_TRUE(diagnose) << error;
  char text[64];
  EXPECT_EQ(diagnose(-1, text, sizeof text), READER_PCSC_ERR_NO_SERVICE);
  EXPECT_EQ(std::string(text), "PC/SC service not running");
}

}  // namespace

// TZentaMember against a recording reader library: the calls it makes, their
// arguments and order, its answers and its log lines (code page 936 bytes);
// and the loader under it (TReaderLibrary): the default path, and in the
// 32-bit Windows build plain and decorated names of both calling conventions.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "member/ReaderLibraryUnit.h"
#include "member/ZentaMemberUnit.h"
#include "pcsc/ReaderPcscCodes.h"
#include "platform/DynLibUnit.h"
#include "platform/ErrorsUnit.h"
#include "platform/PathUnit.h"
#include "platform/ReaderCodesUnit.h"
#include "services/UiHooksUnit.h"
#include "sim/ReaderSimCodes.h"
#include "tests/member/FakeReader.h"
#include "tests/member/MemberTestSupport.h"
#include "tests/support/UiHooksSupport.h"

namespace {

using membertest::kFakePath;
using membertest::kPartialPath;
using membertest::TFakeReader;

class TBeepingZenta : public TZentaMember {
 public:
  using TZentaMember::TZentaMember;
  void Beep() override { ++beeps; }
  int beeps = 0;
};

std::string Bytes(const uint8_t* p, size_t n) {
  return std::string(reinterpret_cast<const char*>(p), n);
}

class ZentaMemberTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetUiHooks(&hooks_);
    device_ = std::make_unique<TBeepingZenta>(kFakePath);
    env_.ClearLog();
  }
  void TearDown() override { SetUiHooks(nullptr); }

  bool Write(const std::string& cardNo) {
    return device_->WriteMemberCard(cardNo, "e1", "e2", "e3", 7);
  }
  bool Read(std::string& cardNo) {
    std::string password = "p", expire = "x", guest = "g", score = "s";
    const bool ok = device_->ReadMemberCard(true, cardNo, password, expire, guest, score, -1);
    EXPECT_EQ(password + expire + guest + score, "pxgs");  // the device sets none of these
    return ok;
  }

  membertest::TMemberEnv env_;
  TFakeReader fake_;
  velio_test::TRecordingHooks hooks_;
  std::unique_ptr<TBeepingZenta> device_;
};

TEST_F(ZentaMemberTest, ConstructionLogsTheLibraryItLoaded) {
  membertest::TMemberEnv env;
  TZentaMember device(kFakePath);
  EXPECT_TRUE(device.Library().Loaded());
  EXPECT_EQ(env.Log(), std::vector<std::string>{Lit("读卡器库: ") + kFakePath});
}

TEST_F(ZentaMemberTest, DefaultLibraryIsBesideTheExecutableUnlessTheEnvironmentNamesOne) {
  unsetenv("VELIO_READER_LIBRARY");
  EXPECT_EQ(TReaderLibrary::DefaultPath(), ExecutableDir() + SharedLibraryName("Reader"));
  setenv("VELIO_READER_LIBRARY", kFakePath.c_str(), 1);
  EXPECT_EQ(TReaderLibrary::DefaultPath(), kFakePath);
  TZentaMember device;
  EXPECT_TRUE(device.Library().Loaded());
  EXPECT_EQ(device.Library().Path(), kFakePath);
  unsetenv("VELIO_READER_LIBRARY");
}

TEST_F(ZentaMemberTest, MissingLibraryIsLoggedOnceAndEveryOperationFails) {
  membertest::TMemberEnv env;
  const std::string path = env.Dir() + "no-such-Reader.so";
  TZentaMember device(path);
  EXPECT_FALSE(device.Library().Loaded());
  std::vector<std::string> log = env.Log();
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0].rfind(Lit("读卡器库加载失败: ") + path + ": ", 0), 0u) << log[0];
  EXPECT_GT(log[0].size(), (Lit("读卡器库加载失败: ") + path + ": ").size());
  // The loader's own message names the file too: the line names it once.
  EXPECT_EQ(log[0].find(path, log[0].find(path) + 1), std::string::npos) << log[0];

  std::string cardNo = "keep", o1, o2, o3, o4;
  EXPECT_FALSE(device.WriteMemberCard("123", "", "", "", -1));
  EXPECT_FALSE(device.ReadMemberCard(false, cardNo, o1, o2, o3, o4, -1));
  EXPECT_EQ(cardNo, "keep");
  log = env.Log();
  ASSERT_EQ(log.size(), 3u);
  EXPECT_EQ(log[1], Lit("写卡失败:读卡器库不可用"));
  EXPECT_EQ(log[2], Lit("读卡失败:读卡器库不可用"));
}

TEST_F(ZentaMemberTest, LibraryLackingAFunctionIsNotUsed) {
  membertest::TMemberEnv env;
  TZentaMember device(kPartialPath);
  EXPECT_FALSE(device.Library().Loaded());
  const std::vector<std::string> log = env.Log();
  ASSERT_EQ(log.size(), 1u);
  EXPECT_NE(log[0].find(kPartialPath), std::string::npos);
  EXPECT_NE(log[0].find("EndSCard"), std::string::npos) << log[0];
  EXPECT_FALSE(device.WriteMemberCard("1", "", "", "", -1));
}

TEST_F(ZentaMemberTest, OpenCloseAndProbeAnswerYesWithoutCalls) {
  EXPECT_TRUE(device_->OpenPort());
  EXPECT_TRUE(device_->Probe());
  EXPECT_TRUE(device_->ClosePort());
  device_->ShowOptions();
  EXPECT_EQ(hooks_.optionDialogs, 1);
  EXPECT_TRUE(fake_.Calls().empty());
}

TEST_F(ZentaMemberTest, WriteCallsStartWriteEndWithTheirArguments) {
  ASSERT_TRUE(Write("12345678"));
  const std::vector<FakeReaderCall> calls = fake_.Calls();
  ASSERT_EQ(fake_.Functions(), (std::vector<std::string>{"StartSCard", "WriteCard", "EndSCard"}));
  EXPECT_EQ(calls[0].port, 1);
  EXPECT_EQ(calls[0].param, 4113);
  EXPECT_EQ(calls[0].zero, 0);
  const uint8_t key[6] = {0x7D, 0x2A, 0x9C, 0x41, 0xE6, 0xB3};
  EXPECT_EQ(Bytes(calls[1].key, 6), Bytes(key, 6));
  EXPECT_EQ(Bytes(calls[1].block, 16), "12345678" + std::string(8, '\xFF'));
  EXPECT_EQ(calls[1].port, 1);
  EXPECT_EQ(calls[1].sector, 4);
  EXPECT_EQ(calls[1].blockNo, 0);
  EXPECT_EQ(calls[1].len, 16);
  EXPECT_EQ(calls[1].keyMode, 4);
  EXPECT_EQ(calls[2].port, 1);
  EXPECT_EQ(hooks_.processed, 1);
  EXPECT_EQ(env_.Log(), std::vector<std::string>{Lit("写卡成功, 卡号为:") + "12345678"});
}

TEST_F(ZentaMemberTest, CardBlockHoldsTheNumberThenFF) {
  struct Case {
    std::string cardNo, block;
  } cases[] = {
      {"12345678", "12345678" + std::string(8, '\xFF')},
      {"ABCDEFGHIJKLMNOP", "ABCDEFGHIJKLMNOP"},
      {"", std::string(16, '\xFF')},
      {Lit("会员"), Lit("会员") + std::string(12, '\xFF')},
  };
  for (const Case& c : cases) {
    fake_.Reset();
    env_.ClearLog();
    ASSERT_TRUE(Write(c.cardNo));
    const std::vector<FakeReaderCall> calls = fake_.Calls();
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(Bytes(calls[1].block, 16), c.block) << c.cardNo;
    EXPECT_EQ(env_.Log().back(), Lit("写卡成功, 卡号为:") + c.cardNo);
  }
}

TEST_F(ZentaMemberTest, KeyModeIsFourOnlyForExactlyKeyA) {
  struct Case {
    const char* flag;
    int32_t mode;
  } cases[] = {{"KEY_A", 4}, {"KEY_B", 5}, {"key_a", 5}, {"", 5}, {"KEY_A ", 5}, {"A", 5}};
  for (const Case& c : cases) {
    fake_.Reset();
    env_.Options().SetKeyFlag(c.flag);
    ASSERT_TRUE(Write("1"));
    std::string cardNo;
    ASSERT_TRUE(Read(cardNo));
    const std::vector<FakeReaderCall> calls = fake_.Calls();
    ASSERT_EQ(calls.size(), 6u);
    EXPECT_EQ(calls[1].keyMode, c.mode) << c.flag;
    EXPECT_EQ(calls[4].keyMode, c.mode) << c.flag;
  }
}

TEST_F(ZentaMemberTest, PortSectorAndBlockComeFromTheOptionsAtEachOperation) {
  struct Case {
    const char* port;
    int32_t number;
  } cases[] = {{"USB", -1}, {"COM0", 0}, {"COM3", 3}, {"COM9", 9}};
  int32_t sector = 10;
  for (const Case& c : cases) {
    fake_.Reset();
    env_.Options().SetPortName(c.port);
    env_.Options().SetSector(++sector);
    env_.Options().SetBlock(2);
    std::string cardNo;
    ASSERT_TRUE(Read(cardNo));
    const std::vector<FakeReaderCall> calls = fake_.Calls();
    ASSERT_EQ(calls.size(), 3u);
    for (const FakeReaderCall& call : calls) EXPECT_EQ(call.port, c.number) << c.port;
    EXPECT_EQ(calls[1].sector, sector);
    EXPECT_EQ(calls[1].blockNo, 2);
  }
}

TEST_F(ZentaMemberTest, PortFailureIsLoggedUnsignedAndThePortStillClosed) {
  env_.Options().SetPortName("COM3");
  fake_.Program(-1, 0, 0);
  EXPECT_FALSE(Write("123"));
  EXPECT_EQ(fake_.Functions(), (std::vector<std::string>{"StartSCard", "EndSCard"}));
  fake_.Reset();
  fake_.Program(2, 0, 0);
  std::string cardNo = "keep";
  EXPECT_FALSE(Read(cardNo));
  EXPECT_EQ(cardNo, "keep");
  EXPECT_EQ(fake_.Functions(), (std::vector<std::string>{"StartSCard", "EndSCard"}));
  EXPECT_EQ(device_->beeps, 0);
  EXPECT_EQ(env_.Log(), (std::vector<std::string>{Lit("端口打开失败") + "COM3lStatus=4294967295",
                                                  Lit("端口打开失败") + "COM3lStatus=2"}));
}

TEST_F(ZentaMemberTest, CardFailuresAreLoggedAsEightHexDigits) {
  fake_.Program(0, 26, 0xABCDEF01);
  EXPECT_FALSE(Write("123"));
  std::string cardNo = "keep";
  EXPECT_FALSE(Read(cardNo));
  EXPECT_EQ(cardNo, "keep");
  EXPECT_EQ(device_->beeps, 0);
  EXPECT_EQ(fake_.Functions(), (std::vector<std::string>{"StartSCard", "WriteCard", "EndSCard",
                                                         "StartSCard", "ReadCard", "EndSCard"}));
  EXPECT_EQ(env_.Log(),
            (std::vector<std::string>{Lit("写卡失败:0000001A"), Lit("读卡失败:ABCDEF01")}));
}

// The one way a reader code is shown (--verbose, the self-check, velio-readers):
// hexadecimal, unsigned decimal, meaning; the simulator's and the PC/SC
// library's codes from one table, and the PC/SC library's composed codes.
TEST(ReaderCodeTextTest, HexDecimalAndMeaning) {
  const struct {
    int32_t code;
    const char* text;
  } rows[] = {
      {0x00, "0x00000000 (0): success"},
      {0x03, "0x00000003 (3): port not open"},
      {0x10, "0x00000010 (16): no card on the reader"},
      {0x13, "0x00000013 (19): authentication failed: wrong key for the sector"},
      {0x15, "0x00000015 (21): sector 0 block 0 is read-only"},
      {0x17, "0x00000017 (23): card file cannot be read, locked or replaced"},
      {0x20, "0x00000020 (32): PC/SC service not running or not reachable"},
      {0x24, "0x00000024 (36): short or malformed answer from the reader"},
      {0x05, "0x00000005 (5): unknown code"},
      {0x25, "0x00000025 (37): unknown code"},
      {-1, "0xFFFFFFFF (4294967295): unknown code"},
      {static_cast<int32_t>(0x80100069u),
       "0x80100069 (2148532329): PC/SC error: the card was removed"},
      {static_cast<int32_t>(0x80100099u), "0x80100099 (2148532377): PC/SC error"},
      {0x00016300, "0x00016300 (90880): status word 63 00 while loading the key"},
      {0x00026982, "0x00026982 (158082): status word 69 82 while authenticating"},
      {0x00046A82, "0x00046A82 (289410): status word 6A 82 while writing the block"},
      {0x00056300, "0x00056300 (353024): unknown code"},
  };
  for (const auto& row : rows) EXPECT_EQ(ReaderCodeText(row.code), row.text) << row.code;
  // Every code either library names has its meaning in the table.
  for (int32_t code : {READER_SIM_OK,
                       READER_SIM_ERR_PORT_RANGE,
                       READER_SIM_ERR_START_PARAM,
                       READER_SIM_ERR_PORT_CLOSED,
                       READER_SIM_ERR_ARGUMENT,
                       READER_SIM_ERR_NO_CARD,
                       READER_SIM_ERR_ADDRESS,
                       READER_SIM_ERR_KEY_MODE,
                       READER_SIM_ERR_AUTH,
                       READER_SIM_ERR_TRAILER,
                       READER_SIM_ERR_BLOCK0,
                       READER_SIM_ERR_IMAGE,
                       READER_SIM_ERR_IO,
                       READER_PCSC_OK,
                       READER_PCSC_ERR_PORT_RANGE,
                       READER_PCSC_ERR_START_PARAM,
                       READER_PCSC_ERR_PORT_CLOSED,
                       READER_PCSC_ERR_ARGUMENT,
                       READER_PCSC_ERR_NO_CARD,
                       READER_PCSC_ERR_ADDRESS,
                       READER_PCSC_ERR_KEY_MODE,
                       READER_PCSC_ERR_AUTH,
                       READER_PCSC_ERR_TRAILER,
                       READER_PCSC_ERR_BLOCK0,
                       READER_PCSC_ERR_NO_SERVICE,
                       READER_PCSC_ERR_NO_READER,
                       READER_PCSC_ERR_CARD_TYPE,
                       READER_PCSC_ERR_SHARING,
                       READER_PCSC_ERR_RESPONSE,
                       READER_PCSC_SW_LOAD_KEY + 0x6A82,
                       READER_PCSC_SW_AUTH + 0x6982,
                       READER_PCSC_SW_READ + 0x6A82,
                       READER_PCSC_SW_UPDATE + 0x6581})
    EXPECT_EQ(ReaderCodeMeaning(code).find("unknown"), std::string::npos) << code;
}

TEST_F(ZentaMemberTest, ReadGivesTheTextUpToTheFirstFFOrZeroAndBeeps) {
  struct Case {
    std::string block, text;
  } cases[] = {
      {"12345678" + std::string(8, '\xFF'), "12345678"},
      {"ABCDEFGHIJKLMNOP", "ABCDEFGHIJKLMNOP"},
      {std::string(16, '\xFF'), ""},
      {std::string("12-34 AB\0\0\0\0\0\0\0\0", 16), "12-34 AB"},
      {std::string("12\0"
                   "4\xFF",
                   5) +
           std::string(11, 'x'),
       "12"},
  };
  int beeps = 0;
  for (const Case& c : cases) {
    fake_.Reset();
    fake_.Program(0, 0, 0, c.block);
    env_.ClearLog();
    std::string cardNo = "old";
    ASSERT_TRUE(Read(cardNo));
    EXPECT_EQ(cardNo, c.text);
    EXPECT_EQ(device_->beeps, ++beeps);
    const std::vector<FakeReaderCall> calls = fake_.Calls();
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(std::string(calls[1].function), "ReadCard");
    EXPECT_EQ(Bytes(calls[1].block, 16), std::string(16, '\0'));  // zeros before the call
    EXPECT_EQ(calls[1].len, 16);
    EXPECT_EQ(env_.Log(), std::vector<std::string>{Lit("读卡成功, 卡号为:") + c.text});
  }
}

TEST_F(ZentaMemberTest, KeyConversion) {
  struct Case {
    const char* key;
    const char* bytes;  // 12 hex digits expected, or null for an error
    const char* error;
  } cases[] = {
      {"7d2a9c41e6b3", "7D2A9C41E6B3", nullptr},
      {"7D2A9C41E6B", "7D2A9C41E60B", nullptr},     // 11 digits: last byte = the single digit
      {"7D2A9C41E6B3FF", "7D2A9C41E6B3", nullptr},  // characters after the twelfth ignored
      {"7D2A9C41E6BZ", nullptr, "'$BZ' is not a valid integer value"},
      {"7D2A9C41E6", nullptr, "'$' is not a valid integer value"},
      {"", nullptr, "'$' is not a valid integer value"},
      {"+12A9C41E6B3", nullptr, "'$+1' is not a valid integer value"},
      {"7D 2A9C41E6B3", nullptr, "'$ 2' is not a valid integer value"},
  };
  for (const Case& c : cases) {
    for (bool writing : {true, false}) {
      fake_.Reset();
      env_.ClearLog();
      env_.Options().SetKey(c.key);
      std::string cardNo;
      if (c.bytes) {
        ASSERT_TRUE(writing ? Write("1") : Read(cardNo)) << c.key;
        const std::vector<FakeReaderCall> calls = fake_.Calls();
        ASSERT_EQ(calls.size(), 3u);
        char hex[13];
        for (int i = 0; i < 6; ++i) std::snprintf(hex + 2 * i, 3, "%02X", calls[1].key[i]);
        EXPECT_EQ(std::string(hex), c.bytes) << c.key;
      } else {
        try {
          writing ? Write("1") : Read(cardNo);
          ADD_FAILURE() << "no error for " << c.key;
        } catch (const EConvertError& e) {
          EXPECT_EQ(std::string(e.what()), c.error);
        }
        // The port is closed again, no card is touched and the device logs nothing.
        EXPECT_EQ(fake_.Functions(), (std::vector<std::string>{"StartSCard", "EndSCard"}));
        EXPECT_TRUE(env_.Log().empty());
      }
    }
  }
}

TEST_F(ZentaMemberTest, CardNumberLongerThanSixteenBytesIsRefusedUntouched) {
  EXPECT_FALSE(Write("12345678901234567"));
  EXPECT_FALSE(Write(Lit("会员卡号会员卡号会")));  // 9 characters, 18 bytes
  EXPECT_TRUE(fake_.Calls().empty());
  EXPECT_EQ(env_.Log(), (std::vector<std::string>{Lit("写卡失败:卡号超过16字节"),
                                                  Lit("写卡失败:卡号超过16字节")}));
}

TEST_F(ZentaMemberTest, UnknownPortNameMakesNoCall) {
  for (const char* port : {"COM10", "com1", "", "LPT1", "USB "}) {
    env_.ClearLog();
    env_.Options().SetPortName(port);
    std::string cardNo = "keep";
    EXPECT_FALSE(Write("1"));
    EXPECT_FALSE(Read(cardNo));
    EXPECT_EQ(cardNo, "keep");
    const std::string line = Lit("端口打开失败") + port + Lit(":端口名无效");
    EXPECT_EQ(env_.Log(), (std::vector<std::string>{line, line}));
  }
  EXPECT_TRUE(fake_.Calls().empty());
}

TEST_F(ZentaMemberTest, NoOptionsMeansNoCall) {
  MemberOptions = nullptr;
  EXPECT_FALSE(Write("1"));
  EXPECT_TRUE(fake_.Calls().empty());
  EXPECT_EQ(env_.Log(), std::vector<std::string>{Lit("写卡失败:会员卡参数未加载")});
  MemberOptions = &env_.Options();
}

TEST(ChannelForCardTypeTest, HotelMemberCardIsMinusOneAnythingElseEleven) {
  EXPECT_EQ(ChannelForCardType(Lit("酒店会员卡")), -1);
  EXPECT_EQ(ChannelForCardType(Lit("Tarvik联盟卡")), 11);
  EXPECT_EQ(ChannelForCardType(Lit("酒店会员卡 ")), 11);
  EXPECT_EQ(ChannelForCardType(""), 11);
  EXPECT_EQ(ChannelForCardType("酒店会员卡"), 11);  // UTF-8 bytes are not the code page text
}

TEST(TBaseMemberTest, BareDeviceFailsEverything) {
  TBaseMember device;
  std::string cardNo = "keep", o1, o2, o3, o4;
  EXPECT_FALSE(device.OpenPort());
  EXPECT_FALSE(device.ClosePort());
  EXPECT_FALSE(device.Probe());
  EXPECT_FALSE(device.WriteMemberCard("1", "", "", "", -1));
  EXPECT_FALSE(device.ReadMemberCard(true, cardNo, o1, o2, o3, o4, -1));
  EXPECT_EQ(cardNo, "keep");
}

}  // namespace

#if defined(_WIN32) && !defined(_WIN64)
namespace {

// The 32-bit Windows binding: a stdcall and a cdecl library, each exporting
// two functions by plain and two by decorated names only.
struct TConventionCase {
  const char* library;
  const char* foundNames;
};

class ReaderConventionTest : public ::testing::TestWithParam<TConventionCase> {
 protected:
  std::string Path() const { return std::string(VELIO_BIN_DIR) + "/" + GetParam().library; }
};

// The stack pointer's change across one library call (0: the stack is as it was).
__attribute__((noinline)) intptr_t StackDriftOfEndSCard(const TReaderLibrary& lib) {
  intptr_t before = 0, after = 0;
  __asm__ volatile("movl %%esp, %0" : "=r"(before));
  lib.EndSCard(9);
  __asm__ volatile("movl %%esp, %0" : "=r"(after));
  return after - before;
}

TEST_P(ReaderConventionTest, FindsPlainAndDecoratedNames) {
  membertest::TMemberEnv env;
  TReaderLibrary lib(Path());
  ASSERT_TRUE(lib.Loaded()) << lib.Error();
  EXPECT_EQ(lib.FoundNames(), GetParam().foundNames);
  int32_t param = 4113;
  EXPECT_EQ(lib.StartSCard(9, &param, 0), 0);
  EXPECT_EQ(StackDriftOfEndSCard(lib), 0);
  EXPECT_EQ(lib.EndSCard(9), 3);  // closed by the call above: its argument arrived
}

TEST_P(ReaderConventionTest, WritesAndReadsCardsWithTheStackAsItWas) {
  membertest::TMemberEnv env;
  TZentaMember device(Path());
  ASSERT_TRUE(device.Library().Loaded()) << device.Library().Error();
  // Many calls: a stack left 28 bytes off per call would not survive this.
  for (int i = 0; i < 500; ++i) {
    const std::string cardNo = std::to_string(12345678 + i * 7919);
    ASSERT_TRUE(device.WriteMemberCard(cardNo, "", "", "", -1)) << i;
    std::string read, password, expire, guest, score;
    ASSERT_TRUE(device.ReadMemberCard(false, read, password, expire, guest, score, -1)) << i;
    ASSERT_EQ(read, cardNo);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Conventions, ReaderConventionTest,
    ::testing::Values(
        TConventionCase{"VelioStdcallReader.dll", "StartSCard _WriteCard@28 _ReadCard@28 EndSCard"},
        TConventionCase{"VelioCdeclReader.dll", "StartSCard WriteCard@28 ReadCard@28 EndSCard"}),
    [](const ::testing::TestParamInfo<TConventionCase>& info) {
      return std::string(info.param.library).find("Stdcall") != std::string::npos ? "Stdcall"
                                                                                  : "Cdecl";
    });

}  // namespace
#endif

// The simulated encoder and its state file.
#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <filesystem>

#include "doorlock/DoorlockMessageHandlerUnit.h"
#include "doorlock/SimDoorlockUnit.h"
#include "platform/PathUnit.h"
#include "platform/ProfileUnit.h"
#include "server/Utf8Unit.h"
#include "services/LogFileUnit.h"
#include "services/UiHooksUnit.h"
#include "tests/doorlock/DoorlockTestSupport.h"
#include "tests/support/FakeConnectionSupport.h"
#include "tests/support/FileSupport.h"
#include "tests/support/LogSupport.h"
#include "tests/support/ReplySupport.h"
#include "tests/support/TempDirSupport.h"
#include "tests/support/UiHooksSupport.h"

namespace {

using velio_test::TTempDir;

class SimDoorlockTest : public ::testing::Test {
 protected:
  void SetUp() override { OperationLog = &log_; }
  void TearDown() override { OperationLog = nullptr; }

  void Set(const char* key, const char* value) {
    WriteProfileString(sim_.FileName(), "Encoder", key, value);
  }
  AnsiString Get(const char* section, const char* key) {
    return ReadProfileString(sim_.FileName(), section, key, "<none>");
  }
  bool Issue(int64_t& cardNo, bool copy = false) {
    return sim_.IssueCard("R1", "00", "01", "02", "Guest", 40000.5, 40000.5, 40002.5, 40002.5, copy,
                          cardNo);
  }

  TTempDir dir_;
  TLogFile log_{dir_.File("test.LOG")};
  TSimDoorlock sim_{dir_.Path()};
};

TEST_F(SimDoorlockTest, IssuedCardsAreNumberedFromTheStateFile) {
  EXPECT_EQ(sim_.FileName(), dir_.File("DoorlockSim.ini"));
  int64_t card = 0;
  ASSERT_TRUE(Issue(card));
  EXPECT_EQ(card, 1000);
  EXPECT_EQ(Get("Encoder", "CardNo"), "1000");
  EXPECT_EQ(Get("Encoder", "NextCardNo"), "1001");
  EXPECT_EQ(Get("Card", "RoomNo"), "02");
  EXPECT_EQ(Get("Card", "StartTime"), "2009-07-06 12:00:00");
  EXPECT_EQ(Get("Card", "EndTime"), "2009-07-08 12:00:00");
  EXPECT_EQ(Get("Card", "IsCopy"), "0");
  ASSERT_TRUE(Issue(card, true));
  EXPECT_EQ(card, 1001);
  EXPECT_EQ(Get("Card", "IsCopy"), "1");

  Set("NextCardNo", "7000000000");  // edited while running: read afresh
  ASSERT_TRUE(Issue(card));
  EXPECT_EQ(card, 7000000000);
}

TEST_F(SimDoorlockTest, ReadAndEraseActOnTheCardOnTheEncoder) {
  int64_t card = 0;
  EXPECT_FALSE(sim_.ReadCard(card));  // no file: no card
  EXPECT_FALSE(sim_.EraseCard());
  EXPECT_EQ(card, 0);
  Set("CardNo", "4242");
  EXPECT_TRUE(sim_.ReadCard(card));
  EXPECT_EQ(card, 4242);
  EXPECT_TRUE(sim_.EraseCard());
  card = 0;
  EXPECT_FALSE(sim_.ReadCard(card));
  EXPECT_EQ(card, 0);
  EXPECT_EQ(Get("Encoder", "CardNo"), "0");
}

TEST_F(SimDoorlockTest, FailMakesEveryCardOperationFailWithoutChanges) {
  Set("CardNo", "5");
  Set("Fail", "1");
  int64_t card = 0;
  EXPECT_FALSE(Issue(card));
  EXPECT_FALSE(sim_.ReadCard(card));
  EXPECT_FALSE(sim_.EraseCard());
  EXPECT_EQ(card, 0);
  EXPECT_EQ(Get("Encoder", "CardNo"), "5");
  EXPECT_EQ(Get("Encoder", "NextCardNo"), "<none>");
  Set("Fail", "0");
  EXPECT_TRUE(sim_.ReadCard(card));
}

TEST_F(SimDoorlockTest, UnwritableStateFileIsLoggedAndAnswersFalse) {
  TSimDoorlock lost(dir_.File("missing-folder/"));
  int64_t card = 0;
  EXPECT_FALSE(lost.IssueCard("", "0", "0", "1", "", 1, 1, 2, 2, false, card));
  EXPECT_EQ(card, 0);
  auto log = velio_test::LogEntries(log_.FileName());
  ASSERT_EQ(log.size(), 1u);
  EXPECT_NE(log[0].find("Unable to write to"), std::string::npos) << log[0];
}

// A guest name with line breaks must not plant a section in the state file
// (an "[Encoder]" with "Fail=1" would fail every later operation).
TEST_F(SimDoorlockTest, TextWithLineBreaksFailsTheIssueAndPlantsNothing) {
  int64_t card = 0;
  ASSERT_TRUE(Issue(card));
  const std::string before = velio_test::ReadFile(sim_.FileName());
  const AnsiString names[] = {"\r\n[Encoder]\r\nFail=1", "x\nFail=1", AnsiString("a\0b", 3)};
  for (const AnsiString& name : names) {
    int64_t lost = 0;
    EXPECT_FALSE(sim_.IssueCard("R2", "00", "01", "03", name, 1, 1, 2, 2, false, lost));
    EXPECT_EQ(lost, 0);
  }
  int64_t lost = 0;
  EXPECT_FALSE(sim_.IssueCard("R\r\n[Encoder]", "00", "01", "03", "G", 1, 1, 2, 2, false, lost));
  EXPECT_EQ(velio_test::ReadFile(sim_.FileName()), before);  // nothing of it written
  EXPECT_EQ(Get("Encoder", "Fail"), "<none>");
  auto log = velio_test::LogEntries(log_.FileName());
  ASSERT_EQ(log.size(), 4u);
  for (const AnsiString& entry : log) EXPECT_EQ(entry, "Unable to write to " + sim_.FileName());
  ASSERT_TRUE(Issue(card));
  EXPECT_EQ(card, 1001);
}

// A state file that exists but cannot be read fails every operation: the
// default card number 1000 would hand out a number twice.
TEST_F(SimDoorlockTest, UnreadableStateFileFailsInsteadOfUsingDefaults) {
#ifndef _WIN32
  Set("NextCardNo", "5000");
  Set("CardNo", "4999");
  const std::string path = sim_.FileName();
  ::chmod(path.c_str(), 0200);
  ::chmod(dir_.Path().c_str(), 0777);
  OperationLog = nullptr;  // the log of this part is not examined
  int rc = velio_test::RunUnprivileged([&] {
    int64_t card = 0;
    if (Issue(card)) return 1;
    if (sim_.ReadCard(card)) return 2;
    if (sim_.EraseCard()) return 3;
    return card == 0 ? 0 : 4;
  });
  OperationLog = &log_;
  ::chmod(path.c_str(), 0644);
  EXPECT_EQ(rc, 0) << "1: issued, 2: read, 3: erased, 4: card number set";
  EXPECT_EQ(Get("Encoder", "NextCardNo"), "5000");
  EXPECT_EQ(Get("Encoder", "CardNo"), "4999");
#endif

  // The same for a folder in its place, here with the log to show why.
  const std::string folder = dir_.File("folder/");
  std::filesystem::create_directories(folder + "DoorlockSim.ini");
  TSimDoorlock blocked(folder);
  int64_t card = 0;
  EXPECT_FALSE(blocked.IssueCard("", "0", "0", "1", "", 1, 1, 2, 2, false, card));
  EXPECT_FALSE(blocked.ReadCard(card));
  EXPECT_FALSE(blocked.EraseCard());
  EXPECT_EQ(card, 0);
  EXPECT_EQ(velio_test::LogEntries(log_.FileName()),
            std::vector<AnsiString>(3, "Unable to read " + blocked.FileName()));
}

TEST_F(SimDoorlockTest, ShowOptionsShowsTheStateFile) {
  velio_test::TRecordingHooks hooks;
  SetUiHooks(&hooks);
  sim_.ShowOptions();
  SetUiHooks(nullptr);
  EXPECT_EQ(hooks.messages,
            (std::vector<AnsiString>{Lit("模拟门锁发卡器: ") + dir_.File("DoorlockSim.ini")}));
}

TEST_F(SimDoorlockTest, InstalledInTheHomeFolderAndServesRequests) {
  const std::string oldHome = HomeDir();
  SetHomeDir(dir_.Path());
  InstallSimulatedDoorlock();
  ASSERT_NE(DoorlockDevice.load(), nullptr);
  EXPECT_EQ(velio_test::LogEntries(log_.FileName()),
            (std::vector<AnsiString>{Lit("模拟门锁发卡器: ") + dir_.File("DoorlockSim.ini")}));

  velio_test::TFakeConnection connection;
  TDoorlockMessageHandler handler(nullptr);
  handler.HandleMessage(connection, u"<R type='ReadCard'/>");
  EXPECT_EQ(connection.data, velio_test::Framed(velio_test::DoorReply("500", "读卡失败", "0")));
  Set("CardNo", "1234");
  connection.data.clear();
  handler.HandleMessage(connection, u"<R type='ReadCard'/>");
  EXPECT_NE(connection.data.find("<CardNo>1234</CardNo>"), std::string::npos);

  UninstallSimulatedDoorlock();
  EXPECT_EQ(DoorlockDevice.load(), nullptr);
  SetHomeDir(oldHome);
}

}  // namespace

// The simulated encoder and its state file.
#include <gtest/gtest.h>

#include "app/LogFileUnit.h"
#include "app/UiHooksUnit.h"
#include "doorlock/DoorlockMessageHandlerUnit.h"
#include "platform/PathUnit.h"
#include "platform/ProfileUnit.h"
#include "server/Utf8Unit.h"
#include "sim/SimDoorlockUnit.h"
#include "tests/doorlock/DoorlockTestSupport.h"

namespace {

using doorlock_test::TTempDir;

class TRecordingHooks : public TUiHooks {
 public:
  void ShowMessage(const AnsiString& text) override { messages.push_back(text); }
  std::vector<AnsiString> messages;
};

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
  auto log = doorlock_test::LogEntries(log_.FileName());
  ASSERT_EQ(log.size(), 1u);
  EXPECT_NE(log[0].find("Unable to write to"), std::string::npos) << log[0];
}

TEST_F(SimDoorlockTest, ShowOptionsShowsTheStateFile) {
  TRecordingHooks hooks;
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
  EXPECT_EQ(doorlock_test::LogEntries(log_.FileName()),
            (std::vector<AnsiString>{Lit("模拟门锁发卡器: ") + dir_.File("DoorlockSim.ini")}));

  doorlock_test::TFakeConnection connection;
  TDoorlockMessageHandler handler(nullptr);
  handler.HandleMessage(connection, u"<R type='ReadCard'/>");
  EXPECT_EQ(connection.data, doorlock_test::Framed("<DoorResponse><RequestID></RequestID>"
                                                   "<ResultCode>500</ResultCode><ResultMessage>"
                                                   "读卡失败</ResultMessage><CardNo>0</CardNo>"
                                                   "</DoorResponse>"));
  Set("CardNo", "1234");
  connection.data.clear();
  handler.HandleMessage(connection, u"<R type='ReadCard'/>");
  EXPECT_NE(connection.data.find("<CardNo>1234</CardNo>"), std::string::npos);

  UninstallSimulatedDoorlock();
  EXPECT_EQ(DoorlockDevice.load(), nullptr);
  SetHomeDir(oldHome);
}

}  // namespace

// The test window's operations, without the window.
#include <gtest/gtest.h>

#include "doorlock/DoorlockRecordManagerUnit.h"
#include "doorlock/DoorlockTestUnit.h"
#include "platform/ErrorsUnit.h"
#include "services/LogFileUnit.h"
#include "services/SysOptionUnit.h"
#include "tests/doorlock/DoorlockTestSupport.h"
#include "tests/support/TempDirSupport.h"

namespace {

using doorlock_test::TFakeDoorlock;
using doorlock_test::TSql;
using velio_test::TTempDir;

const char kStamp[] = "yyyy-mm-dd hh:nn:ss";

class DoorlockTestWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    OperationLog = &log_;
    SystemOptions = &options_;
    std::string error;
    ASSERT_TRUE(CreateDoorlockDatabase(dir_.File("Client.db"), error)) << error;
    ASSERT_TRUE(store_.Open());
    DoorlockRecordManager = &store_;
    device_ = doorlock_test::InstallFakeDoorlock();
  }
  void TearDown() override {
    InstallDoorlockDevice(nullptr);
    DoorlockRecordManager = nullptr;
    SystemOptions = nullptr;
    OperationLog = nullptr;
  }

  TTempDir dir_;
  TLogFile log_{dir_.File("test.LOG")};
  TSysOption options_{dir_.File("Option.ini")};
  TDoorlockRecordManager store_{dir_.File("Client.db")};
  TFakeDoorlock* device_ = nullptr;
  TSql sql_{dir_.File("Client.db")};
};

TEST_F(DoorlockTestWindowTest, DefaultTimesAreAnHourAgoAndTwoDaysOn) {
  TDateTimeParts p;
  p.Year = 2009;
  p.Month = 6;
  p.Day = 1;
  p.Hour = 14;
  TDoorlockTestTimes times = DoorlockTestDefaultTimes(EncodeDateTime(p));
  EXPECT_EQ(times.CheckIn, "2009-06-01 13:00:00");
  EXPECT_EQ(times.CheckOut, "2009-06-03 14:00:00");
  p.Hour = 0;
  p.Minute = 30;
  p.Day = 1;
  p.Month = 1;
  times = DoorlockTestDefaultTimes(EncodeDateTime(p));
  EXPECT_EQ(times.CheckIn, "2008-12-31 23:30:00");
  EXPECT_EQ(times.CheckOut, "2009-01-03 00:30:00");
}

TEST_F(DoorlockTestWindowTest, WriteGivesTheBoxTimesUnshiftedAndRecordsATestIssue) {
  options_.DelayMinutes = 10;
  options_.DelayMinutes2 = 30;
  options_.SaveDoorlockRecord = true;
  device_->cardNo = 321;
  EXPECT_TRUE(
      DoorlockTestWriteCard("00", "01", "01", "2009-06-01 13:00:00", "2009-06-03 14:00:00", false));
  ASSERT_EQ(device_->issues.size(), 1u);
  const doorlock_test::TIssueCall& call = device_->issues[0];
  EXPECT_EQ(call.RegisterId, "");
  EXPECT_EQ(call.GuestName, "Test");
  EXPECT_EQ(call.BuildingCode + "|" + call.FloorCode + "|" + call.RoomNo, "00|01|01");
  EXPECT_EQ(FormatDateTime(kStamp, call.StartTime), "2009-06-01 13:00:00");
  EXPECT_EQ(FormatDateTime(kStamp, call.EndTime), "2009-06-03 14:00:00");
  EXPECT_FALSE(call.IsCopy);
  auto rows = sql_.Rows(
      "select RegisterId, CardNo, RoomNo, CardType, IsCopy, GuestName from T_IssueCardRecord");
  EXPECT_EQ(rows, (std::vector<std::vector<std::string>>{{"", "321", "000101", "1", "0", "Test"}}));
  EXPECT_EQ(FormatDateTime(kStamp, sql_.Real("select CheckInTime from T_IssueCardRecord")),
            "2009-06-01 13:00:00");
  EXPECT_EQ(FormatDateTime(kStamp, sql_.Real("select CheckOutTime from T_IssueCardRecord")),
            "2009-06-03 14:00:00");

  device_->result = false;
  EXPECT_FALSE(
      DoorlockTestWriteCard("00", "01", "01", "2009-06-01 13:00:00", "2009-06-03 14:00:00", true));
  EXPECT_EQ(sql_.Count("T_IssueCardRecord"), 2);

  // A two-digit year typed in a box is this century's year.
  DoorlockTestWriteCard("00", "01", "01", "09-06-01 13:00:00", "09-06-03 14:00:00", false);
  ASSERT_EQ(device_->issues.size(), 3u);
  EXPECT_EQ(FormatDateTime(kStamp, device_->issues[2].StartTime), "2009-06-01 13:00:00");
  EXPECT_EQ(FormatDateTime(kStamp, device_->issues[2].EndTime), "2009-06-03 14:00:00");
}

TEST_F(DoorlockTestWindowTest, CopyForAnUnknownRoomStoresItBeforeTheDevice) {
  options_.UseNativeDoorlockDb = true;
  options_.DelayMinutes = 20;
  bool storedFirst = false;
  device_->onIssue = [&] { storedFirst = store_.GetLastCheckInTime("000101") != 0; };
  const TDateTime before = Now();
  DoorlockTestWriteCard("00", "01", "01", "2009-06-01 13:00:00", "2009-06-03 14:00:00", true);
  const TDateTime after = Now();
  EXPECT_TRUE(storedFirst);
  ASSERT_EQ(device_->issues.size(), 1u);
  EXPECT_GE(device_->issues[0].StartTime, RoundToMillisecond(IncMinutes(before, -20)));
  EXPECT_LE(device_->issues[0].StartTime, RoundToMillisecond(IncMinutes(after, -20)));
  EXPECT_EQ(FormatDateTime(kStamp, device_->issues[0].EndTime), "2009-06-03 14:00:00");
}

TEST_F(DoorlockTestWindowTest, BoxTextThatDoesNotConvertStopsBeforeAnything) {
  options_.SaveDoorlockRecord = true;
  options_.UseNativeDoorlockDb = true;
  EXPECT_THROW(DoorlockTestWriteCard("00", "01", "01", "yesterday", "2009-06-03 14:00:00", true),
               EConvertError);
  EXPECT_THROW(
      DoorlockTestWriteCard("00", "01", "01", "2009-06-01 13:00:00", "2009-06-03 24:00", true),
      EConvertError);
  EXPECT_TRUE(device_->issues.empty());
  EXPECT_EQ(sql_.Count("T_Room"), 0);
  EXPECT_EQ(sql_.Count("T_IssueCardRecord"), 0);
}

TEST_F(DoorlockTestWindowTest, PortBeepReadAndEraseReachTheDevice) {
  DoorlockTestOpenPort();
  DoorlockTestBeep();
  DoorlockTestClosePort();
  EXPECT_EQ(device_->opens, 1);
  EXPECT_EQ(device_->beeps, 1);
  EXPECT_EQ(device_->closes, 1);

  device_->result = false;  // no card: the number stays 0
  EXPECT_EQ(DoorlockTestReadCard(), 0);
  device_->result = true;
  device_->cardNo = 9876543210;
  EXPECT_EQ(DoorlockTestReadCard(), 9876543210);
  DoorlockTestEraseCard();
  EXPECT_EQ(device_->erases, 1);

  InstallDoorlockDevice(nullptr);
  EXPECT_EQ(DoorlockTestReadCard(), 0);
  EXPECT_NO_THROW(DoorlockTestOpenPort());
  EXPECT_NO_THROW(DoorlockTestEraseCard());
}

}  // namespace

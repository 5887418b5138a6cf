// Many simultaneous "IssueCard" requests: the encoder is never entered twice at
// once, every issue leaves exactly one record, a new room is inserted once, and
// the log keeps whole entries.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <future>
#include <latch>
#include <map>
#include <set>
#include <thread>

#include "doorlock/DoorlockMessageHandlerUnit.h"
#include "doorlock/DoorlockRecordManagerUnit.h"
#include "server/Utf8Unit.h"
#include "services/LogFileUnit.h"
#include "services/SysOptionUnit.h"
#include "tests/doorlock/DoorlockTestSupport.h"
#include "tests/support/FakeConnectionSupport.h"
#include "tests/support/LogSupport.h"
#include "tests/support/TempDirSupport.h"

namespace {

using doorlock_test::TSql;
using velio_test::TTempDir;

const int kRequests = 200;
const int kRooms = 10;

std::string Request(int i, const char* copy = "0") {
  const std::string room = std::to_string(i % kRooms);
  return "<DoorRequest type=\"IssueCard\"><RequestID/><RegisterId>REG-" + std::to_string(i) +
         "</RegisterId><BuildingCode>01</BuildingCode><FloorCode>02</FloorCode><RoomNo>" + room +
         "</RoomNo><GuestName>客人" + std::to_string(i) +
         "</GuestName><CheckInDate>2009-06-01</CheckInDate><CheckInTime>14:00:00</CheckInTime>"
         "<CheckOutDate>2009-06-03</CheckOutDate><CheckOutTime>12:00:00</CheckOutTime>"
         "<IsCopy>" +
         copy + "</IsCopy></DoorRequest>";
}

TEST(DoorlockConcurrencyTest, SimultaneousIssueRequestsAreSerialisedAndAllRecorded) {
  TTempDir dir;
  TLogFile log(dir.File("test.LOG"));
  OperationLog = &log;
  TSysOption options(dir.File("Option.ini"));
  options.UseNativeDoorlockDb = true;
  options.SaveDoorlockRecord = true;
  SystemOptions = &options;
  std::string error;
  ASSERT_TRUE(CreateDoorlockDatabase(dir.File("Client.db"), error)) << error;
  TDoorlockRecordManager store(dir.File("Client.db"));
  ASSERT_TRUE(store.Open());
  DoorlockRecordManager = &store;

  doorlock_test::TFakeDoorlock* device = doorlock_test::InstallFakeDoorlock();
  std::atomic<int> inside{0};
  std::atomic<int> overlaps{0};
  int64_t nextCard = 100;  // touched only inside the encoder
  device->onIssue = [&] {
    if (inside.fetch_add(1) != 0) overlaps.fetch_add(1);
    std::this_thread::yield();
    device->cardNo = ++nextCard;
    inside.fetch_sub(1);
  };

  std::vector<std::string> replies(kRequests);
  std::latch start(kRequests);
  std::vector<std::thread> threads;
  threads.reserve(kRequests);
  for (int i = 0; i < kRequests; ++i) {
    threads.emplace_back([&, i] {
      const std::u16string request = DecodeUtf8(Request(i));
      velio_test::TFakeConnection connection;
      TDoorlockMessageHandler handler(nullptr);
      start.arrive_and_wait();
      handler.HandleMessage(connection, request);
      replies[i] = connection.data;
    });
  }
  for (std::thread& t : threads) t.join();
  InstallDoorlockDevice(nullptr);

  EXPECT_EQ(overlaps.load(), 0);
  std::set<std::string> cardNos;
  for (const std::string& reply : replies) {
    ASSERT_EQ(reply.rfind("<DoorResponse><RequestID></RequestID><ResultCode>200</ResultCode>", 0),
              0u)
        << reply;
    size_t open = reply.find("<CardNo>") + 8;
    cardNos.insert(reply.substr(open, reply.find("</CardNo>") - open));
  }
  EXPECT_EQ(cardNos.size(), static_cast<size_t>(kRequests));

  {
    TSql sql(dir.File("Client.db"));
    EXPECT_EQ(sql.Count("T_IssueCardRecord"), kRequests);
    EXPECT_EQ(sql.Rows("select count(distinct CardNo), count(distinct RegisterId) from "
                       "T_IssueCardRecord"),
              (std::vector<std::vector<std::string>>{{"200", "200"}}));
    EXPECT_EQ(sql.Count("T_Room"), kRooms);
    EXPECT_EQ(sql.Rows("select count(distinct RoomNo) from T_Room")[0][0], std::to_string(kRooms));
  }

  const std::vector<AnsiString> entries = velio_test::LogEntries(log.FileName());
  auto count = [&](const AnsiString& prefix) {
    return std::count_if(entries.begin(), entries.end(),
                         [&](const AnsiString& e) { return e.rfind(prefix, 0) == 0; });
  };
  EXPECT_EQ(count(Lit("收到消息: ") + "\r\n<DoorRequest type=\"IssueCard\">"), kRequests);
  EXPECT_EQ(count(Lit("执行操作->")), kRequests);
  EXPECT_EQ(count(Lit("房间(")), kRequests);
  EXPECT_EQ(count(Lit("完成一次操作")), kRequests);
  EXPECT_EQ(count(Lit("新建房间")), kRooms);
  EXPECT_EQ(entries.size(), static_cast<size_t>(4 * kRequests + kRooms));
  for (const AnsiString& e : entries) {
    if (e.rfind(Lit("房间("), 0) == 0) {
      EXPECT_EQ(e.substr(e.size() - Lit(")发卡成功").size()), Lit(")发卡成功")) << e;
    }
  }

  DoorlockRecordManager = nullptr;
  SystemOptions = nullptr;
  OperationLog = nullptr;
}

// Copy cards for rooms not yet in T_Room, many at once: each room is inserted
// once, and every copy of a room carries the same start time.
TEST(DoorlockConcurrencyTest, SimultaneousCopyCardsForANewRoomInsertItOnce) {
  TTempDir dir;
  TLogFile log(dir.File("test.LOG"));
  OperationLog = &log;
  TSysOption options(dir.File("Option.ini"));
  options.UseNativeDoorlockDb = true;
  SystemOptions = &options;
  std::string error;
  ASSERT_TRUE(CreateDoorlockDatabase(dir.File("Client.db"), error)) << error;
  TDoorlockRecordManager store(dir.File("Client.db"));
  ASSERT_TRUE(store.Open());
  DoorlockRecordManager = &store;
  doorlock_test::TFakeDoorlock* device = doorlock_test::InstallFakeDoorlock();

  // Three rounds of three new rooms each, every room asked for by many threads.
  const int rounds = 3, copies = 48;
  for (int round = 0; round < rounds; ++round) {
    std::latch start(copies);
    std::vector<std::thread> threads;
    for (int i = 0; i < copies; ++i) {
      threads.emplace_back([&, i] {
        const std::u16string request = DecodeUtf8(Request(round * 3 + i % 3, "1"));
        velio_test::TFakeConnection connection;
        TDoorlockMessageHandler handler(nullptr);
        start.arrive_and_wait();
        handler.HandleMessage(connection, request);
      });
    }
    for (std::thread& t : threads) t.join();
  }
  ASSERT_EQ(device->issues.size(), static_cast<size_t>(rounds * copies));
  std::map<AnsiString, std::set<TDateTime>> startTimes;
  for (const auto& call : device->issues) startTimes[call.RoomNo].insert(call.StartTime);
  InstallDoorlockDevice(nullptr);

  EXPECT_EQ(startTimes.size(), 9u);
  for (const auto& [room, times] : startTimes) EXPECT_EQ(times.size(), 1u) << room;
  {
    TSql sql(dir.File("Client.db"));
    EXPECT_EQ(sql.Count("T_Room"), 9);
  }
  const std::vector<AnsiString> entries = velio_test::LogEntries(log.FileName());
  EXPECT_EQ(std::count_if(entries.begin(), entries.end(),
                          [](const AnsiString& e) { return e.rfind(Lit("新建房间"), 0) == 0; }),
            9);

  DoorlockRecordManager = nullptr;
  SystemOptions = nullptr;
  OperationLog = nullptr;
}

// The encoder's settings dialog is modal and may stay open: card requests are
// served meanwhile.
TEST(DoorlockConcurrencyTest, RequestsGoOnWhileTheSettingsDialogIsOpen) {
  TTempDir dir;
  TLogFile log(dir.File("test.LOG"));
  OperationLog = &log;
  doorlock_test::TFakeDoorlock* device = doorlock_test::InstallFakeDoorlock();
  device->cardNo = 4242;
  std::promise<void> close;
  std::shared_future<void> closed = close.get_future().share();
  std::latch opened(1);
  device->onOptions = [&] {
    opened.count_down();
    closed.wait();
  };
  std::thread dialog([] { DoorlockDevice.load()->ShowOptions(); });
  opened.wait();

  auto reply = std::async(std::launch::async, [] {
    velio_test::TFakeConnection connection;
    TDoorlockMessageHandler handler(nullptr);
    handler.HandleMessage(connection, u"<R type='ReadCard'/>");
    return connection.data;
  });
  const bool served = reply.wait_for(std::chrono::seconds(20)) == std::future_status::ready;
  close.set_value();
  dialog.join();
  EXPECT_TRUE(served) << "the request waited for the settings dialog";
  EXPECT_NE(reply.get().find("<CardNo>4242</CardNo>"), std::string::npos);
  EXPECT_EQ(device->options.load(), 1);
  InstallDoorlockDevice(nullptr);
  OperationLog = nullptr;
}

}  // namespace

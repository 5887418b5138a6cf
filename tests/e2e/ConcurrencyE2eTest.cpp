// End-to-end under load: many simultaneous door-lock requests, and thousands
// of connections opened and dropped at once.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <latch>
#include <set>
#include <thread>

#include "tests/e2e/E2eSupport.h"

using namespace e2e;

namespace {

std::string IssueXml(const std::string& registerId, const std::string& room) {
  return "<Request type=\"IssueCard\"><RequestID/><RegisterId>" + registerId +
         "</RegisterId><B>01</B><F>02</F><R>" + room +
         "</R><G>Guest</G><D>2009-06-01</D><T>14:00:00</T><D>2009-06-03</D><T>12:00:00</T>"
         "<C>0</C></Request>";
}

TEST(ConcurrencyE2e, TwoHundredSimultaneousIssueCardsAreAllAnsweredAndRecorded) {
  // Every issue flushes the encoder's state and the database to disk; in
  // memory the test measures the server, not the disk.
  TTempHome home(MemoryTempParent());
  const int port = FreePort();
  home.Write("Option.ini", "[SysOption]\r\nDoorlockPortNo=" + std::to_string(port) +
                               "\r\n[DoorlockOption]\r\nUseNativeDoorlockDb=1\r\n"
                               "SaveDoorlockRecord=1\r\nDelayMinutes=5\r\n");
  std::string out, err;
  ASSERT_EQ(RunProgram({BinPath("velio-interfaced"), "--home", home.Path(), "--init-db"}, out, err),
            0)
      << err;
  TDaemon daemon(home.Path(), "doorlock", port);
  ASSERT_TRUE(daemon.WaitListening()) << daemon.Stderr();

  // All connections are open and hold their request but its final NUL; then
  // the NULs go at once, so that 200 handlers run together.
  constexpr int kRequests = 200, kRooms = 10;
  std::vector<int> sockets = OpenHeldConnections(daemon, kRequests);
  ASSERT_EQ(sockets.size(), static_cast<size_t>(kRequests));
  for (int i = 0; i < kRequests; ++i) {
    const std::string request = IssueXml("R" + std::to_string(i), std::to_string(i % kRooms));
    ASSERT_EQ(::send(sockets[i], request.data(), request.size(), MSG_NOSIGNAL),
              static_cast<ssize_t>(request.size()));
  }
  std::vector<TReply> replies(kRequests);
  std::latch go(kRequests + 1);
  std::vector<std::thread> clients;
  for (int i = 0; i < kRequests; ++i) {
    clients.emplace_back([&, i] {
      go.arrive_and_wait();
      replies[i] = FinishRequest(sockets[i], std::string(1, '\0'));
    });
  }
  go.arrive_and_wait();
  for (auto& t : clients) t.join();

  // Every request answered, each with a card of its own.
  std::set<std::string> cards;
  for (int i = 0; i < kRequests; ++i) {
    const TReply& r = replies[i];
    ASSERT_TRUE(r.gotNul) << i;
    const std::string head =
        "<DoorResponse><RequestID></RequestID><ResultCode>200</ResultCode>"
        "<ResultMessage>发卡成功</ResultMessage><CardNo>";
    ASSERT_EQ(r.text.rfind(head, 0), 0u) << r.text;
    cards.insert(r.text.substr(head.size(), r.text.find('<', head.size()) - head.size()));
  }
  EXPECT_EQ(cards.size(), static_cast<size_t>(kRequests));
  EXPECT_EQ(*cards.begin(), "1000");
  EXPECT_EQ(*cards.rbegin(), "1199");

  EXPECT_EQ(daemon.Stop(), 0);

  TSqlDb db(home.File("Client.db"));
  std::vector<TSqlRow> records = db.Rows("select RegisterId, CardNo from T_IssueCardRecord");
  ASSERT_EQ(records.size(), static_cast<size_t>(kRequests));
  std::set<std::string> registers, recordCards;
  for (const TSqlRow& row : records) {
    registers.insert(row[0].text);
    recordCards.insert(row[1].text);
  }
  EXPECT_EQ(registers.size(), static_cast<size_t>(kRequests));
  EXPECT_EQ(recordCards, cards);
  // One row per room, however many requests raced to create it.
  std::vector<TSqlRow> rooms = db.Rows("select distinct RoomNo from T_Room");
  EXPECT_EQ(rooms.size(), static_cast<size_t>(kRooms));
  EXPECT_EQ(db.Rows("select RoomNo from T_Room").size(), static_cast<size_t>(kRooms));

  // The log is whole: every entry stamped, none cut or mixed with another.
  const std::string log = TodayLog(home);
  EXPECT_EQ(LogFault(log), "");
  std::vector<std::string> entries = LogEntries(log);
  EXPECT_EQ(CountEntries(entries, Gbk("收到消息: \r\n<Request type=\"IssueCard\">")), kRequests);
  EXPECT_EQ(CountEntries(entries, Gbk("执行操作->")), kRequests);
  EXPECT_EQ(CountEntries(entries, Gbk("完成一次操作")), kRequests);
  int issued = 0;
  for (const std::string& e : entries)
    if (e.rfind(Gbk("房间("), 0) == 0 && e.find(Gbk(")发卡成功")) != std::string::npos) ++issued;
  EXPECT_EQ(issued, kRequests);
  EXPECT_EQ(CountEntries(entries, Gbk("新建房间")), kRooms);
}

TEST(ConcurrencyE2e, ThousandsOfDroppedConnectionsLeaveTheServerServing) {
  // Room for this process's own sockets.
  rlimit files{};
  ::getrlimit(RLIMIT_NOFILE, &files);
  if (files.rlim_cur < files.rlim_max) {
    files.rlim_cur = files.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &files);
  }
  const int connections =
      static_cast<int>(std::min<rlim_t>(2000, files.rlim_cur > 300 ? files.rlim_cur - 200 : 100));

  TTempHome home;
  const int port = FreePort();
  home.Write("Option.ini", "[SysOption]\r\nPolicePortNo=" + std::to_string(port) + "\r\n");
  home.Write("Guest.ini", "[Guest]\r\nRoomNo=0801\r\nGenderID=1\r\n");
  TSpawnOptions options;
  options.openFilesLimit = static_cast<int64_t>(std::min<rlim_t>(files.rlim_cur, 8192));
  TDaemon daemon(home.Path(), "police", port, options);
  ASSERT_TRUE(daemon.WaitListening()) << daemon.Stderr();
  ASSERT_TRUE(Send(port, "<Request/>").gotNul);
  const int baseline = SettledDescriptors(daemon);
  ASSERT_GT(baseline, 0);

  // Open them all and hold them.
  std::vector<int> sockets = OpenHeldConnections(daemon, connections);
  ASSERT_EQ(sockets.size(), static_cast<size_t>(connections));
  EXPECT_GE(daemon.OpenDescriptors(), baseline + connections);

  // Then all go at once, from two threads: closed plainly, reset, or cut off
  // in the middle of a request.
  std::vector<std::thread> closers;
  for (int t = 0; t < 2; ++t) {
    closers.emplace_back([&, t] {
      for (size_t i = static_cast<size_t>(t); i < sockets.size(); i += 2) {
        if (i % 3 == 1) {
          linger reset{1, 0};
          ::setsockopt(sockets[i], SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
        } else if (i % 3 == 2) {
          ::send(sockets[i], "<Request type=", 14, MSG_NOSIGNAL);
        }
        ::close(sockets[i]);
      }
    });
  }
  for (auto& t : closers) t.join();

  // The server still answers, and lets go of every dropped connection.
  TReply r = Send(port, "<Request/>");
  ASSERT_TRUE(r.gotNul);
  EXPECT_NE(r.text.find("<RoomNo>0801</RoomNo>"), std::string::npos);
  EXPECT_TRUE(WaitUntil([&] { return daemon.OpenDescriptors() <= baseline; }))
      << daemon.OpenDescriptors() << " descriptors open, " << baseline << " before";

  EXPECT_EQ(daemon.Stop(), 0);
  EXPECT_EQ(daemon.Stderr(), "");
  // None of the dropped connections reached a handler.
  std::vector<std::string> entries = LogEntries(TodayLog(home));
  EXPECT_EQ(CountEntries(entries, Gbk("收到消息: ")), 2);
  EXPECT_EQ(LogFault(TodayLog(home)), "");
}

}  // namespace

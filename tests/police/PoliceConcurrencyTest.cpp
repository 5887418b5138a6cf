// Simultaneous police requests against the simulated guest source while the
// guest file is being replaced: every reply is one whole guest, never a mix.
#include <gtest/gtest.h>

#include <filesystem>
#include <latch>
#include <thread>

#include "platform/ProfileUnit.h"
#include "police/PoliceMessageHandlerUnit.h"
#include "police/SimPoliceUnit.h"
#include "services/LogFileUnit.h"
#include "tests/police/PoliceTestSupport.h"
#include "tests/support/FakeConnectionSupport.h"
#include "tests/support/FileSupport.h"
#include "tests/support/LogSupport.h"
#include "tests/support/TempDirSupport.h"

namespace {

TEST(PoliceConcurrencyTest, RepliesAreWholeGuestsWhileTheFileChanges) {
  velio_test::TTempDir dir;
  TLogFile log(dir.File("test.LOG"));
  OperationLog = &log;
  TSimPolice source(dir.Path());
  const std::string file = source.FileName();
  WriteProfileString(file, "Guest", "RoomNo", "A");
  WriteProfileString(file, "Guest", "Name", "A");
  WriteProfileString(file, "Guest", "GenderID", "1");
  PoliceDevice.store(&source);

  const int kRequests = 64;
  std::vector<std::string> replies(kRequests);
  std::latch start(kRequests + 1);
  std::vector<std::thread> threads;
  for (int i = 0; i < kRequests; ++i) {
    threads.emplace_back([&, i] {
      velio_test::TFakeConnection connection;
      TPoliceMessageHandler handler(nullptr);
      start.arrive_and_wait();
      handler.HandleMessage(connection, u"<Request/>");
      replies[i] = connection.data;
    });
  }
  start.arrive_and_wait();
  // Room and name always change together in one rewrite of the whole file.
  for (int k = 0; k < 20; ++k) {
    const std::string v = k % 2 ? "A" : "B";
    std::string text = UpdateProfileText("", "Guest", "RoomNo", v);
    text = UpdateProfileText(text, "Guest", "Name", v);
    text = UpdateProfileText(text, "Guest", "GenderID", "1");
    const std::string tmp = file + ".new";
    velio_test::WriteFile(tmp, text);
    std::filesystem::rename(tmp, file);
  }
  for (std::thread& t : threads) t.join();
  PoliceDevice.store(nullptr);

  for (const std::string& reply : replies) {
    const bool a = reply.find("<RoomNo>A</RoomNo>") != std::string::npos &&
                   reply.find("<Name>A</Name>") != std::string::npos;
    const bool b = reply.find("<RoomNo>B</RoomNo>") != std::string::npos &&
                   reply.find("<Name>B</Name>") != std::string::npos;
    EXPECT_TRUE(a || b) << reply;
  }
  EXPECT_EQ(velio_test::LogEntries(log.FileName()).size(), 2u * kRequests);
  OperationLog = nullptr;
}

}  // namespace

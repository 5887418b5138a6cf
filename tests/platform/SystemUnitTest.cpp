// SystemUnit: whole-file reads that tell a missing file from an unreadable one,
// and the wake-up signal between threads. (The descriptor limit, permissions
// and descriptor exhaustion are tested end to end in FaultE2e.)
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <thread>
#include <vector>

#include "platform/ErrorsUnit.h"
#include "platform/SystemUnit.h"
#include "tests/support/FileSupport.h"
#include "tests/support/TempDirSupport.h"

namespace {

using velio_test::TTempDir;

// A missing file is "no file"; one that is there but cannot be read raises.
TEST(SystemUnit, ReadFileIfExistsTable) {
  struct TCase {
    const char* name;
    const char* file;
    std::function<void(const std::string& path)> make;
    enum { kMissing, kRead, kRaises } outcome;
    std::string contents;
  };
  const std::string big(100000, 'g');  // several read blocks
  const std::vector<TCase> cases = {
      {"Missing", "Guest.ini", [](const std::string&) {}, TCase::kMissing, ""},
      {"Empty", "Guest.ini", [](const std::string& p) { velio_test::WriteFile(p, ""); },
       TCase::kRead, ""},
      {"Small", "Guest.ini",
       [](const std::string& p) { velio_test::WriteFile(p, "[Guest]\r\nA=1\r\n"); }, TCase::kRead,
       "[Guest]\r\nA=1\r\n"},
      {"Large", "Guest.ini", [&big](const std::string& p) { velio_test::WriteFile(p, big); },
       TCase::kRead, big},
      {"AFolder", "Guest.ini", [](const std::string& p) { std::filesystem::create_directory(p); },
       TCase::kRaises, ""},
      {"MissingFolderOnTheWay", "none/Guest.ini", [](const std::string&) {}, TCase::kMissing, ""},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    TTempDir dir;
    const std::string path = dir.File(c.file);
    c.make(path);
    std::string contents = "stale";
    switch (c.outcome) {
      case TCase::kMissing:
        EXPECT_FALSE(ReadFileIfExists(path, contents));
        EXPECT_EQ(contents, "");
        break;
      case TCase::kRead:
        EXPECT_TRUE(ReadFileIfExists(path, contents));
        EXPECT_EQ(contents, c.contents);
        break;
      case TCase::kRaises:
        try {
          ReadFileIfExists(path, contents);
          ADD_FAILURE() << "no error";
        } catch (const EInOutError& e) {
          EXPECT_EQ(std::string(e.what()), "Unable to read " + path);
        }
        break;
    }
  }
}

TEST(SystemUnit, WakeSignalPostsAreTakenOneByOne) {
  TWakeSignal signal;
  EXPECT_FALSE(signal.WaitFor(std::chrono::milliseconds(20)));
  signal.Post();  // before the wait: kept
  EXPECT_TRUE(signal.WaitFor(std::chrono::milliseconds(0)));
  EXPECT_FALSE(signal.WaitFor(std::chrono::milliseconds(0)));

  // Across threads, what was written before the post is seen after the wait.
  int payload = 0;
  std::atomic<bool> woke{false};
  std::thread waiter([&] {
    signal.Wait();
    woke = payload == 42;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  payload = 42;
  signal.Post();
  waiter.join();
  EXPECT_TRUE(woke.load());
}

}  // namespace

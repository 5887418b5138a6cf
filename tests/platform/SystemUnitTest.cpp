// SystemUnit: the descriptor limit, whole-file reads that tell a missing file
// from an unreadable one, and the wake-up signal between threads.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <thread>
#include <vector>

#include "platform/ErrorsUnit.h"
#include "platform/SystemUnit.h"
#include "tests/platform/TestFiles.h"

namespace {

using velio_test::TTempDir;

TEST(SystemUnit, RaiseOpenFileLimitTakesTheHardLimit) {
  rlimit before{};
  ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &before), 0);
  if (before.rlim_max > 64) {
    rlimit lowered{64, before.rlim_max};
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &lowered), 0);
  }
  EXPECT_EQ(RaiseOpenFileLimit(), "");
  rlimit after{};
  ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &after), 0);
  EXPECT_EQ(after.rlim_cur, before.rlim_max);
  EXPECT_EQ(RaiseOpenFileLimit(), "");  // nothing left to raise is no failure
}

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

TEST(SystemUnit, ReadFileIfExistsRaisesWithoutPermission) {
  TTempDir dir;
  const std::string path = dir.File("Guest.ini");
  velio_test::WriteFile(path, "[Guest]\r\n");
  ::chmod(path.c_str(), 0000);
  ::chmod(dir.Path().c_str(), 0755);
  // 1: raised as it should; 2: read as if allowed; 3: taken for missing.
  const int result = velio_test::RunUnprivileged([&path] {
    std::string contents;
    try {
      return ReadFileIfExists(path, contents) ? 2 : 3;
    } catch (const EInOutError&) {
      return 1;
    }
  });
  EXPECT_EQ(result, 1);
}

TEST(SystemUnit, ReadFileIfExistsRaisesWhenOutOfDescriptors) {
  TTempDir dir;
  const std::string path = dir.File("Guest.ini");
  velio_test::WriteFile(path, "[Guest]\r\n");
  rlimit saved{};
  ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &saved), 0);
  std::vector<int> taken;
  rlimit tight{32, saved.rlim_max};
  ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &tight), 0);
  for (;;) {  // ends when the limit is reached (at most 32 descriptors)
    const int fd = ::dup(0);
    if (fd < 0) break;
    taken.push_back(fd);
  }
  std::string contents;
  bool raised = false;
  try {
    ReadFileIfExists(path, contents);
  } catch (const EInOutError&) {
    raised = true;
  }
  for (int fd : taken) ::close(fd);
  ::setrlimit(RLIMIT_NOFILE, &saved);
  EXPECT_TRUE(raised);
  EXPECT_TRUE(ReadFileIfExists(path, contents));
  EXPECT_EQ(contents, "[Guest]\r\n");
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

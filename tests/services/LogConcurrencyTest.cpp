// Many threads logging at once: every entry arrives whole, once, its lines
// together; and profile writes from several threads lose no key.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/ProfileUnit.h"
#include "services/LogFileUnit.h"
#include "tests/support/FileSupport.h"
#include "tests/support/LogSupport.h"
#include "tests/support/TempDirSupport.h"

namespace {

using velio_test::IsStamp;
using velio_test::kStampLength;
using velio_test::ReadFile;
using velio_test::TTempDir;

TEST(LogConcurrency, EveryEntryWholeAndCounted) {
  TTempDir dir;
  TLogFile log(dir.File("c.LOG"));
  OperationLog = &log;
  constexpr int kThreads = 8;
  constexpr int kEntries = 400;
  const std::string padding(100, 'p');
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t, &padding] {
      for (int i = 0; i < kEntries; ++i) {
        std::string id = std::to_string(t) + "-" + std::to_string(i);
        // Every fourth entry spans two lines; both must stay together.
        if (i % 4 == 0)
          WriteLog("first " + id + " " + padding + "\r\nsecond " + id);
        else
          WriteLog("entry " + id + " " + padding);
      }
    });
  }
  for (auto& th : threads) th.join();
  OperationLog = nullptr;

  const std::string content = ReadFile(log.FileName());
  std::vector<std::string> lines;
  size_t pos = 0;
  while (pos < content.size()) {
    size_t end = content.find("\r\n", pos);
    ASSERT_NE(end, std::string::npos) << "last line not ended";
    lines.push_back(content.substr(pos, end - pos));
    pos = end + 2;
  }
  std::set<std::string> seen;
  for (size_t i = 0; i < lines.size(); ++i) {
    ASSERT_TRUE(IsStamp(lines[i])) << lines[i];
    std::string text = lines[i].substr(kStampLength);
    std::string id;
    if (text.rfind("first ", 0) == 0) {
      id = text.substr(6, text.find(' ', 6) - 6);
      ASSERT_LT(i + 1, lines.size());
      ASSERT_EQ(lines[i + 1], "second " + id);
      ++i;
    } else {
      ASSERT_EQ(text.rfind("entry ", 0), 0u) << text;
      id = text.substr(6, text.find(' ', 6) - 6);
    }
    ASSERT_EQ(text.substr(text.find(' ', 6) + 1), padding) << text;
    ASSERT_TRUE(seen.insert(id).second) << "twice: " << id;
  }
  EXPECT_EQ(seen.size(), static_cast<size_t>(kThreads * kEntries));
}

TEST(ProfileConcurrency, NoWriteIsLost) {
  TTempDir dir;
  const std::string path = dir.File("Option.ini");
  constexpr int kThreads = 4;
  constexpr int kKeys = 25;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t, &path] {
      for (int k = 0; k < kKeys; ++k)
        WriteProfileString(path, "S" + std::to_string(t % 2),
                           "K" + std::to_string(t) + "_" + std::to_string(k), std::to_string(k));
    });
  }
  // A reader meanwhile sees either no file, or a file whose values are whole.
  std::thread reader([&path] {
    for (int i = 0; i < 200; ++i) {
      std::string v = ReadProfileString(path, "S0", "K0_0", "none");
      if (v != "none" && v != "0") ADD_FAILURE() << v;
    }
  });
  for (auto& th : threads) th.join();
  reader.join();
  for (int t = 0; t < kThreads; ++t)
    for (int k = 0; k < kKeys; ++k)
      EXPECT_EQ(ReadProfileString(path, "S" + std::to_string(t % 2),
                                  "K" + std::to_string(t) + "_" + std::to_string(k), "lost"),
                std::to_string(k));
}

}  // namespace

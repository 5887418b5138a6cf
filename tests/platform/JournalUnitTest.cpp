// Tests of StreamIsJournal: JOURNAL_STREAM against the descriptor's device and inode.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "platform/JournalUnit.h"
#include "tests/support/TempDirSupport.h"

namespace {

#ifndef _WIN32
// The journal is systemd's: on Windows StreamIsJournal always answers false.
TEST(Journal, StreamNamedByJournalStream) {
  velio_test::TTempDir dir;
  int fd = ::open(dir.File("stream").c_str(), O_CREAT | O_WRONLY, 0600);
  ASSERT_GE(fd, 0);
  struct stat st;
  ASSERT_EQ(::fstat(fd, &st), 0);
  std::string dev = std::to_string(st.st_dev), ino = std::to_string(st.st_ino);
  struct {
    const char* env;  // null: unset
    std::string value;
    bool journal;
  } rows[] = {
      {"set", dev + ":" + ino, true},
      {"other inode", dev + ":" + std::to_string(st.st_ino + 1), false},
      {"other device", std::to_string(st.st_dev + 1) + ":" + ino, false},
      {"trailing text", dev + ":" + ino + "x", false},
      {"no colon", dev + ino, false},
      {"empty", "", false},
      {nullptr, "", false},
  };
  for (const auto& r : rows) {
    if (r.env)
      ::setenv("JOURNAL_STREAM", r.value.c_str(), 1);
    else
      ::unsetenv("JOURNAL_STREAM");
    EXPECT_EQ(StreamIsJournal(fd), r.journal) << (r.env ? r.env : "unset");
  }
  ::setenv("JOURNAL_STREAM", (dev + ":" + ino).c_str(), 1);
  EXPECT_FALSE(StreamIsJournal(-1));
  ::unsetenv("JOURNAL_STREAM");
  ::close(fd);
}
#endif

}  // namespace

// Tests of WriteAll and ReplaceFileAtomically: what each option does to the
// new file, a left-over temporary file and the old file, and what a failed
// replacement leaves behind. The callers' own tests (profile, card image, log)
// cover the files they write.
#include <gtest/gtest.h>
#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <filesystem>
#include <string>

#include "platform/FileWriteUnit.h"
#include "tests/support/FileSupport.h"
#include "tests/support/TempDirSupport.h"

namespace {

using velio_test::Exists;
using velio_test::ReadFile;
using velio_test::TTempDir;
using velio_test::WriteFile;

TEST(FileWrite, ReplacementFailsWholeAndLeavesTheOldFile) {
  TTempDir dir;
  const std::string path = dir.File("card.bin");
  WriteFile(path, "old");
  ASSERT_TRUE(ReplaceFileAtomically(path, std::string(5000, 'n')));
  EXPECT_EQ(ReadFile(path), std::string(5000, 'n'));
  EXPECT_FALSE(Exists(path + ".tmp"));

  // The temporary file cannot be made (a folder of its name), with and
  // without removing a left-over one first.
  std::filesystem::create_directory(path + ".tmp");
  for (bool fresh : {false, true}) {
    TReplaceOptions options;
    options.FreshTemporary = fresh;
    EXPECT_FALSE(ReplaceFileAtomically(path, "new", options)) << fresh;
    EXPECT_EQ(ReadFile(path), std::string(5000, 'n')) << fresh;
  }
  std::filesystem::remove(path + ".tmp");

  // KeepOld: the old file must still be there; nothing is created.
  TReplaceOptions keep;
  keep.KeepOld = true;
  EXPECT_FALSE(ReplaceFileAtomically(dir.File("gone.ini"), "new", keep));
  EXPECT_FALSE(Exists(dir.File("gone.ini")));
  EXPECT_FALSE(Exists(dir.File("gone.ini.tmp")));
  EXPECT_TRUE(ReplaceFileAtomically(path, "kept", keep));
  EXPECT_EQ(ReadFile(path), "kept");
}

#ifndef _WIN32
// The new file's mode as each option makes it, umask 022.
TEST(FileWrite, NewFileModeByOption) {
  enum TStale { kNoTemp, kTempFile0600, kTempLink };
  struct {
    const char* name;
    unsigned newMode;
    bool keepOld, fresh;
    mode_t oldMode;  // 0: no old file
    TStale stale;
    mode_t want;
  } cases[] = {
      {"new file", 0666, false, false, 0, kNoTemp, 0644},
      {"new file 0644", 0644, false, true, 0, kNoTemp, 0644},
      {"new file 0600", 0600, false, true, 0, kNoTemp, 0600},
      {"old mode dropped", 0666, false, false, 0640, kNoTemp, 0644},
      {"old mode kept", 0644, true, true, 0640, kNoTemp, 0640},
      {"left-over temporary reused", 0666, false, false, 0, kTempFile0600, 0600},
      {"left-over temporary replaced", 0644, false, true, 0, kTempFile0600, 0644},
      {"planted link removed", 0644, false, true, 0, kTempLink, 0644},
  };
  const mode_t savedMask = ::umask(022);
  for (const auto& c : cases) {
    TTempDir dir;
    const std::string path = dir.File("f");
    const std::string victim = dir.File("victim");
    WriteFile(victim, "victim");
    if (c.oldMode != 0) {
      WriteFile(path, "old");
      ASSERT_EQ(::chmod(path.c_str(), c.oldMode), 0) << c.name;
    }
    if (c.stale == kTempFile0600) {
      WriteFile(path + ".tmp", "left over, longer than the new contents");
      ASSERT_EQ(::chmod((path + ".tmp").c_str(), 0600), 0);
    }
    if (c.stale == kTempLink) std::filesystem::create_symlink(victim, path + ".tmp");
    TReplaceOptions options;
    options.NewFileMode = c.newMode;
    options.KeepOld = c.keepOld;
    options.FreshTemporary = c.fresh;
    ASSERT_TRUE(ReplaceFileAtomically(path, "new", options)) << c.name;
    struct stat st {};
    ASSERT_EQ(::lstat(path.c_str(), &st), 0) << c.name;
    EXPECT_TRUE(S_ISREG(st.st_mode)) << c.name;
    EXPECT_EQ(st.st_mode & 07777, c.want) << c.name << std::oct << " " << (st.st_mode & 07777);
    EXPECT_EQ(ReadFile(path), "new") << c.name;
    EXPECT_EQ(ReadFile(victim), "victim") << c.name;
    EXPECT_FALSE(Exists(path + ".tmp")) << c.name;
  }
  ::umask(savedMask);
}

TEST(FileWrite, WriteAllAnswersTheBytesTheSystemTook) {
  TTempDir dir;
  const std::string path = dir.File("out");
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(WriteAll(fd, ""), 0u);
  const std::string big(3 * 1024 * 1024 + 7, 'x');
  EXPECT_EQ(WriteAll(fd, big), big.size());
  EXPECT_EQ(WriteAll(fd, "end"), 3u);
  ::close(fd);
  EXPECT_EQ(ReadFile(path), big + "end");

  // A full pipe that does not wait takes part of the bytes, then refuses.
  int pipeFds[2];
  ASSERT_EQ(::pipe(pipeFds), 0);
  ASSERT_EQ(::fcntl(pipeFds[1], F_SETFL, O_NONBLOCK), 0);
  const size_t taken = WriteAll(pipeFds[1], big);
  EXPECT_GT(taken, 0u);
  EXPECT_LT(taken, big.size());
  ::close(pipeFds[1]);
  size_t drained = 0;
  char buf[65536];
  for (ssize_t n; (n = ::read(pipeFds[0], buf, sizeof buf)) > 0;) drained += static_cast<size_t>(n);
  ::close(pipeFds[0]);
  EXPECT_EQ(drained, taken);
  EXPECT_EQ(WriteAll(-1, "x"), 0u);
}
#endif  // !_WIN32

}  // namespace

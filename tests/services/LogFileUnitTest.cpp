// Tests of the operation log: entries byte for byte, the daily file name, and
// failures that the log swallows.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <string>

#include "platform/DateTimeUnit.h"
#include "platform/PathUnit.h"
#include "services/LogFileUnit.h"
#include "tests/support/FileSupport.h"
#include "tests/support/LogSupport.h"
#include "tests/support/TempDirSupport.h"

namespace {

using velio_test::IsStamp;
using velio_test::kStampLength;
using velio_test::ReadFile;
using velio_test::TTempDir;

// True when s starts with a stamp "yyyy-mm-dd hh:nn:ss " that parses and lies
// within [from, to] (whole seconds).
bool StampBetween(const std::string& s, TDateTime from, TDateTime to) {
  if (!IsStamp(s)) return false;
  TDateTime t;
  if (!TryStrToDateTime(s.substr(0, kStampLength - 1), t)) return false;
  const double second = 1.0 / 86400.0;
  return t >= std::floor(from / second) * second - 1e-9 && t <= to + 1e-9;
}

TEST(LogFile, EntriesByteForByte) {
  TTempDir dir;
  TLogFile log(dir.File("20090601.LOG"));
  EXPECT_FALSE(velio_test::Exists(log.FileName()));  // construction touches no file
  const TDateTime before = Now();
  const AnsiString chinese = Lit("收到消息: ");
  const AnsiString texts[] = {"abc", "", chinese + "\r\n<R type=\"x\"/>", "tab\there  "};
  for (const AnsiString& text : texts) log.WriteLog(text);
  const TDateTime after = Now();

  const std::string content = ReadFile(log.FileName());
  size_t pos = 0;
  for (const AnsiString& text : texts) {
    ASSERT_TRUE(StampBetween(content.substr(pos), before, after)) << content.substr(pos);
    pos += kStampLength;
    EXPECT_EQ(content.substr(pos, text.size() + 2), text + "\r\n");
    pos += text.size() + 2;
  }
  EXPECT_EQ(pos, content.size());
  // The Chinese text is written in code page 936 bytes.
  EXPECT_NE(content.find("\xCA\xD5\xB5\xBD\xCF\xFB\xCF\xA2: \r\n<R type=\"x\"/>\r\n"),
            std::string::npos);
}

TEST(LogFile, AppendsToExistingFile) {
  TTempDir dir;
  const std::string path = dir.File("x.LOG");
  velio_test::WriteFile(path, "old line\r\n");
  TLogFile log(path);
  log.WriteLog("new");
  const std::string content = ReadFile(path);
  ASSERT_EQ(content.size(), 10 + kStampLength + 5);
  EXPECT_EQ(content.substr(0, 10), "old line\r\n");
  EXPECT_EQ(content.substr(10 + kStampLength), "new\r\n");
}

TEST(LogFile, DeletedFileIsCreatedAgain) {
  TTempDir dir;
  TLogFile log(dir.File("a.LOG"));
  log.WriteLog("one");
  ASSERT_TRUE(velio_test::Exists(log.FileName()));
  std::filesystem::remove(log.FileName());
  log.WriteLog("two");
  const std::string content = ReadFile(log.FileName());
  EXPECT_EQ(content.size(), kStampLength + 5);
  EXPECT_EQ(content.substr(kStampLength), "two\r\n");
}

#ifndef _WIN32
// The log carries guests' names and identity numbers: a new file gives other
// users no access at all (whatever the umask lets through); an existing file
// keeps the mode its administrator gave it.
TEST(LogFile, NewFileIsClosedToOthersAndAnExistingOneKeepsItsMode) {
  TTempDir dir;
  const mode_t savedMask = ::umask(0);
  TLogFile log(dir.File("new.LOG"));
  log.WriteLog("guest");
  ::umask(savedMask);
  struct stat st {};
  ASSERT_EQ(::stat(log.FileName().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);

  const std::string path = dir.File("old.LOG");
  for (mode_t mode : {0644, 0600, 0664}) {
    velio_test::WriteFile(path, "old\r\n");
    ASSERT_EQ(::chmod(path.c_str(), mode), 0);
    TLogFile(path).WriteLog("more");
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, mode) << std::oct << mode;
  }
}
#endif  // !_WIN32

TEST(LogFile, ReadOnlyFileIsLeftUnchanged) {
  TTempDir dir;
  const std::string path = dir.File("ro.LOG");
  velio_test::WriteFile(path, "kept\r\n");
  velio_test::MakeReadOnly(dir.Path(), path);
  int rc = velio_test::RunUnprivileged([&] {
    TLogFile log(path);
    for (int i = 0; i < 3; ++i) log.WriteLog("dropped");
    return 0;  // returning at all is the point
  });
  EXPECT_EQ(rc, 0);
  EXPECT_EQ(ReadFile(path), "kept\r\n");
}

TEST(LogFile, MissingFolderIsSwallowed) {
  TTempDir dir;
  TLogFile log(dir.File("no/such/folder.LOG"));
  log.WriteLog("lost");
  EXPECT_FALSE(velio_test::Exists(log.FileName()));
}

TEST(LogFile, ProcessWideLog) {
  TTempDir dir;
  ASSERT_EQ(OperationLog, nullptr);
  WriteLog("nowhere");  // no log: nothing happens
  TLogFile log(dir.File("p.LOG"));
  OperationLog = &log;
  WriteLog("somewhere");
  OperationLog = nullptr;
  EXPECT_EQ(ReadFile(log.FileName()).substr(kStampLength), "somewhere\r\n");
}

TEST(LogFile, DailyFileNameInHomeDir) {
  TTempDir dir;
  SetHomeDir(dir.Path());
  const TDateTime before = Now();
  const std::string name = DailyLogFileName();
  const TDateTime after = Now();
  SetHomeDir("");
  const std::string home = AbsolutePath(dir.Path());
  ASSERT_EQ(name.size(), home.size() + 12) << name;
  EXPECT_EQ(name.substr(0, home.size()), home);
  const std::string day = name.substr(home.size(), 8);
  EXPECT_TRUE(day == FormatDateTime("yyyymmdd", before) || day == FormatDateTime("yyyymmdd", after))
      << day;
  EXPECT_EQ(name.substr(name.size() - 4), ".LOG");
}

}  // namespace

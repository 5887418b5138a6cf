// Tests of the self-check (velio-interfaced --check): each problem gives its
// line and the exit code, and the check leaves the home folder as it was.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "app/SelfCheckUnit.h"
#include "doorlock/DoorlockRecordManagerUnit.h"
#include "platform/CodePageUnit.h"
#include "services/InterfaceModeUnit.h"
#include "tests/support/FileSupport.h"
#include "tests/support/PortSupport.h"
#include "tests/support/TempDirSupport.h"

namespace {

using velio_test::FreePort;
using velio_test::ReadFile;
using velio_test::TListeningPort;
using velio_test::TTempDir;
using velio_test::WriteFile;

const std::string kBin = VELIO_BIN_DIR "/";
const std::string kCheckReader = kBin + "libVelioCheckReader.so";

std::map<std::string, std::string> Snapshot(const std::string& dir) {
  std::map<std::string, std::string> files;
  for (const auto& e : std::filesystem::recursive_directory_iterator(dir))
    files[e.path().string()] = e.is_regular_file() ? ReadFile(e.path().string()) : "<dir>";
  return files;
}

std::string Joined(const std::vector<TCheckLine>& lines) {
  std::string all;
  for (const auto& l : lines) all += FormatCheckLine(l) + "\n";
  return all;
}

// The line of lines holding text, or null.
const TCheckLine* Find(const std::vector<TCheckLine>& lines, const std::string& text) {
  for (const auto& l : lines)
    if (l.Text.find(text) != std::string::npos) return &l;
  return nullptr;
}

struct TRow {
  const char* name;
  int32_t mode;
  // Writes the home's files; "@PORT@" in Option.ini stands for a free port.
  std::function<void(const std::string& home)> setup;
  const char* library;     // empty: the test library with ReaderDiagnose
  const char* diagnose;    // VELIO_CHECK_DIAGNOSE, or null
  const char* expectText;  // part of the line the row is about
  TCheckStatus expectStatus;
  int expectExit;                    // -1: depends on another program's port
  bool holdPort = false;             // a listener holds the configured port
  bool unprivileged = false;         // run as an ordinary user (root may write anything)
  const char* absentText = nullptr;  // no line may hold this
};

void PrintTo(const TRow& row, std::ostream* os) {
  *os << row.name;
}

std::string MemberIni(const std::string& extra) {
  return "[SysOption]\r\nMemberPortNo=@PORT@\r\nDoorlockPortNo=@PORT@\r\nPolicePortNo=@PORT@\r\n"
         "[MemberOption]\r\n" +
         extra;
}

std::function<void(const std::string&)> Ini(std::string text) {
  return [text](const std::string& home) { WriteFile(home + "Option.ini", text); };
}

void WriteIniWithPort(const std::string& home, int port) {
  std::string file = home + "Option.ini";
  if (!velio_test::Exists(file)) return;
  std::string text = ReadFile(file);
  for (size_t at; (at = text.find("@PORT@")) != std::string::npos;)
    text.replace(at, 6, std::to_string(port));
  WriteFile(file, text);
}

const std::vector<TRow>& Rows() {
  static const std::vector<TRow> rows = {
      {"MemberAllWell", kModeMember, Ini(MemberIni("PortName=COM3\r\n")), "", nullptr,
       "reader on port 3: reader 3 present", TCheckStatus::Ok, 0},
      {"PortInUse", kModeMember, Ini(MemberIni("")), "", nullptr, "cannot be bound",
       TCheckStatus::Failed, 1, true},
      {"PortZero", kModeMember, Ini("[SysOption]\r\nMemberPortNo=0\r\n"), "", nullptr,
       "MemberPortNo=0 is not a TCP port", TCheckStatus::Failed, 1},
      {"PortTooHigh", kModeDoorlock, Ini("[SysOption]\r\nDoorlockPortNo=70000\r\n"), "", nullptr,
       "DoorlockPortNo=70000 is not a TCP port", TCheckStatus::Failed, 1},
      {"PortNotANumber", kModePolice, Ini("[SysOption]\r\nPolicePortNo=abc\r\n"), "", nullptr,
       "PolicePortNo=\"abc\" is not a number: the default 8885 is used", TCheckStatus::Warning, -1},
      {"PortNameUnknown", kModeMember, Ini(MemberIni("PortName=COM10\r\n")), "", nullptr,
       "PortName=\"COM10\" is not USB or COM0..COM9", TCheckStatus::Failed, 1},
      {"PortNameUnknownSkipsDiagnosis", kModeMember, Ini(MemberIni("PortName=com1\r\n")), "",
       nullptr, "reader not diagnosed", TCheckStatus::Failed, 1},
      {"KeyNotHex", kModeMember, Ini(MemberIni("Key=7D2A9C41E6BZ\r\n")), "", nullptr,
       "Key=\"7D2A9C41E6BZ\" is not 12 hexadecimal digits", TCheckStatus::Failed, 1},
      {"KeyTooShort", kModeMember, Ini(MemberIni("Key=7D2A9C41E6B\r\n")), "", nullptr,
       "is not 12 hexadecimal digits", TCheckStatus::Failed, 1},
      {"KeyFlagLowerCase", kModeMember, Ini(MemberIni("KeyFlag=key_a\r\n")), "", nullptr,
       "KeyFlag=\"key_a\" is not KEY_A or KEY_B: key B is used", TCheckStatus::Warning, 0},
      {"LibraryMissing", kModeMember, Ini(MemberIni("")), "/nonexistent/libReader.so", nullptr,
       "reader library /nonexistent/libReader.so cannot be used", TCheckStatus::Failed, 1},
      {"LibraryLacksEndSCard", kModeMember, Ini(MemberIni("")), "libVelioFakeReaderNoEnd.so",
       nullptr, "EndSCard", TCheckStatus::Failed, 1},
      {"LibraryWithoutDiagnosis", kModeMember, Ini(MemberIni("")), "libVelioFakeReader.so", nullptr,
       "loaded with StartSCard, ReadCard, WriteCard, EndSCard", TCheckStatus::Ok, 0},
      {"ReaderAbsent", kModeMember, Ini(MemberIni("PortName=USB\r\n")), "", "33",
       "reader on port -1: no reader -1 (code 0x00000021 (33): no reader at that port)",
       TCheckStatus::Failed, 1},
      {"ReaderCodeUnknown", kModeMember, Ini(MemberIni("PortName=USB\r\n")), "", "6",
       "no reader -1 (code 0x00000006 (6): unknown code)", TCheckStatus::Failed, 1},
      {"IniWithByteOrderMark", kModeMember, Ini("\xEF\xBB\xBF" + MemberIni("")), "", nullptr,
       "starts with a UTF-8 byte-order mark", TCheckStatus::Warning, 0},
      {"IniInUtf8", kModeMember,
       Ini(MemberIni("") + "[SysOption]\r\nPassword=\xE5\xAF\x86\xE7\xA0\x81\r\n"), "", nullptr,
       "is UTF-8 text, not code page 936", TCheckStatus::Warning, 0},
      {"IniInCp936", kModeMember, Ini(MemberIni("") + "; " + Lit("会员卡接口") + "\r\n"), "",
       nullptr, "is readable code page 936 text", TCheckStatus::Ok, 0},
      {"IniMissing", kModeMember, nullptr, "", nullptr,
       "is missing: every option takes its default", TCheckStatus::Ok, -1},
      {"DoorlockStoreMissing", kModeDoorlock, Ini(MemberIni("")), "", nullptr,
       "Client.db is missing: create it with velio-interfaced --init-db", TCheckStatus::Failed, 1},
      {"DoorlockStoreReady", kModeDoorlock,
       [](const std::string& home) {
         Ini(MemberIni(""))(home);
         std::string error;
         CreateDoorlockDatabase(home + "Client.db", error);
       },
       "", nullptr, "Client.db opens for writing", TCheckStatus::Ok, 0},
      {"DoorlockStoreNotADatabase", kModeDoorlock,
       [](const std::string& home) {
         Ini(MemberIni(""))(home);
         WriteFile(home + "Client.db", std::string(4096, 'x'));
       },
       "", nullptr, "Client.db cannot be used", TCheckStatus::Failed, 1},
      {"DoorlockStoreWithoutTables", kModeDoorlock,
       [](const std::string& home) {
         Ini(MemberIni(""))(home);
         WriteFile(home + "Client.db", "");
       },
       "", nullptr, "no such table", TCheckStatus::Failed, 1},
      {"DoorlockStoreReadOnly", kModeDoorlock,
       [](const std::string& home) {
         Ini(MemberIni(""))(home);
         std::string error;
         CreateDoorlockDatabase(home + "Client.db", error);
         ::chmod((home + "Client.db").c_str(), 0444);
       },
       "", nullptr, "the file is read-only", TCheckStatus::Failed, 1, false, true},
      {"HomeNotWritable", kModePolice,
       [](const std::string& home) {
         Ini(MemberIni(""))(home);
         ::chmod(home.c_str(), 0555);
       },
       "", nullptr, "is not writable (Permission denied): the daily log cannot be written",
       TCheckStatus::Failed, 1, false, true},
      {"IniUnreadable", kModePolice,
       [](const std::string& home) {
         Ini(MemberIni(""))(home);
         ::chmod((home + "Option.ini").c_str(), 0200);
       },
       "", nullptr, "cannot be read (Permission denied)", TCheckStatus::Failed, 1, false, true},
      {"IniUnreadableSkipsItsValues", kModeMember,
       [](const std::string& home) {
         Ini(MemberIni("PortName=COM10\r\n"))(home);
         ::chmod((home + "Option.ini").c_str(), 0200);
       },
       "", nullptr, "cannot be read (Permission denied)", TCheckStatus::Failed, 1, false, true,
       "PortName="},
      {"PoliceAllWell", kModePolice, Ini(MemberIni("")), "", nullptr, "is free to bind",
       TCheckStatus::Ok, 0},
  };
  return rows;
}

class SelfCheckRows : public ::testing::TestWithParam<TRow> {};

TEST_P(SelfCheckRows, GivesItsLineAndExitCodeAndChangesNothing) {
  const TRow& row = GetParam();
  TTempDir dir;
  std::string home = dir.Path();
  ::chmod(home.c_str(), 0777);  // reachable by the ordinary user of unprivileged rows
  if (row.setup) row.setup(home);
  TListeningPort held;
  int port = row.holdPort ? held.Port() : FreePort();
  if (!row.holdPort) held.Close();
  WriteIniWithPort(home, port);
  auto before = Snapshot(home);

  TSelfCheckRequest request;
  request.Home = home;
  request.Mode = row.mode;
  std::string lib = row.library;
  request.ReaderLibrary = lib.empty() ? kCheckReader : lib[0] == '/' ? lib : kBin + lib;
  if (row.diagnose)
    ::setenv("VELIO_CHECK_DIAGNOSE", row.diagnose, 1);
  else
    ::unsetenv("VELIO_CHECK_DIAGNOSE");

  if (row.unprivileged) {
    // The child reports 0..1 for the exit code with the expected line, 100 without it.
    int rc = velio_test::RunUnprivileged([&] {
      auto lines = RunSelfCheck(request);
      const TCheckLine* line = Find(lines, row.expectText);
      if (!line || line->Status != row.expectStatus) return 100;
      if (row.absentText && Find(lines, row.absentText)) return 101;
      return SelfCheckExitCode(lines);
    });
    EXPECT_EQ(rc, row.expectExit) << row.name;
  } else {
    auto lines = RunSelfCheck(request);
    const TCheckLine* line = Find(lines, row.expectText);
    ASSERT_NE(line, nullptr) << Joined(lines);
    EXPECT_EQ(line->Status, row.expectStatus) << Joined(lines);
    if (row.expectExit >= 0) {
      EXPECT_EQ(SelfCheckExitCode(lines), row.expectExit) << Joined(lines);
    }
    for (const auto& l : lines) EXPECT_EQ(l.Text.find('\n'), std::string::npos);
    if (row.absentText) {
      EXPECT_EQ(Find(lines, row.absentText), nullptr) << Joined(lines);
    }
  }
  ::unsetenv("VELIO_CHECK_DIAGNOSE");
  ::chmod(home.c_str(), 0755);
  EXPECT_EQ(Snapshot(home), before) << "the check changed the home folder";
}

INSTANTIATE_TEST_SUITE_P(Check, SelfCheckRows, ::testing::ValuesIn(Rows()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(SelfCheck, MissingHomeFails) {
  TSelfCheckRequest request;
  request.Home = "/nonexistent/velio-home/";
  request.Mode = kModePolice;
  auto lines = RunSelfCheck(request);
  const TCheckLine* line = Find(lines, "does not exist");
  ASSERT_NE(line, nullptr) << Joined(lines);
  EXPECT_EQ(SelfCheckExitCode(lines), 1);
}

TEST(SelfCheck, LinesAreMarkedByStatus) {
  EXPECT_EQ(FormatCheckLine({TCheckStatus::Ok, "a"}), "OK       a");
  EXPECT_EQ(FormatCheckLine({TCheckStatus::Warning, "b"}), "WARNING  b");
  EXPECT_EQ(FormatCheckLine({TCheckStatus::Failed, "c"}), "FAILED   c");
  EXPECT_EQ(SelfCheckExitCode({{TCheckStatus::Ok, "a"}, {TCheckStatus::Warning, "b"}}), 0);
}

TEST(SelfCheck, Cp936TextRule) {
  struct {
    std::string bytes;
    const char* problem;  // part of the answer; "" for none
  } rows[] = {
      {"[SysOption]\r\nPassword=qelvan\r\n", ""},
      {"", ""},
      {"\xEF\xBB\xBF[SysOption]", "byte-order mark"},
      {"Password=\xE4\xBC\x9A\xE5\x91\x98", "is UTF-8 text"},
      {"Password=" + Lit("会员卡接口"), ""},
      {"Price=\x80", ""},  // the euro sign of code page 936
      {"Password=\xFF", "0xFF"},
      {"Password=\xB0\x0D", "byte pair"},
      {"Password=\xB0", "byte pair"},  // a lead byte at the end
      {"Password=\xB0\x7F", "byte pair"},
  };
  for (const auto& r : rows) {
    std::string got = Cp936TextProblem(r.bytes);
    if (*r.problem == '\0') {
      EXPECT_EQ(got, "") << r.bytes;
    } else {
      EXPECT_NE(got.find(r.problem), std::string::npos) << r.bytes << " gave " << got;
    }
  }
}

}  // namespace

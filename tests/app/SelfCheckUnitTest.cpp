// Tests of the self-check (velio-interfaced --check): each problem gives its
// line and the exit code, and the check leaves the home folder as it was. The
// Windows build runs the same table under Wine, less the rows about POSIX
// permissions and the home's SQLite Client.db (the store there is Client.mdb).
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#ifdef _WIN32
#include <windows.h>
#include <winsock2.h>
#endif

#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "app/SelfCheckUnit.h"
#include "doorlock/DoorlockRecordManagerUnit.h"
#include "doorlock/RecordStoreFactoryUnit.h"
#include "platform/CodePageUnit.h"
#include "services/InterfaceModeUnit.h"
#include "tests/support/FileSupport.h"
#include "tests/support/PortSupport.h"
#include "tests/support/RunSupport.h"
#include "tests/support/TempDirSupport.h"
#ifndef _WIN32
#include "tests/e2e/E2eSupport.h"
#endif
#include "member/ReaderLibraryUnit.h"
#include "platform/DynLibUnit.h"
#include "platform/PathUnit.h"

namespace {

using velio_test::FreePort;
using velio_test::ReadFile;
using velio_test::TListeningPort;
using velio_test::TTempDir;
using velio_test::WriteFile;

const std::string kBin = VELIO_BIN_DIR "/";
const std::string kCheckReader = kBin + SharedLibraryName("VelioCheckReader");
#ifdef _WIN32
const std::string kHomeDb = "Client.mdb";
#else
const std::string kHomeDb = "Client.db";
#endif

// A row's library name in this system's form: "libX.so" is X.dll on Windows.
std::string LibraryFile(std::string name) {
#ifdef _WIN32
  if (name.size() > 6 && name.compare(name.size() - 3, 3, ".so") == 0) {
    const size_t slash = name.rfind('/') + 1;
    std::string base = name.substr(slash, name.size() - 3 - slash);
    if (base.rfind("lib", 0) == 0) base.erase(0, 3);
    name = name.substr(0, slash) + SharedLibraryName(base);
  }
#endif
  return name;
}

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
  const char* store = nullptr;       // --store; "@HOME@" stands for the home folder
  const char* listen = nullptr;      // --listen
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
      // A reader without a card is a warning: the server starts and serves once a card lies there.
      {"ReaderWithoutCard", kModeMember, Ini(MemberIni("PortName=COM3\r\n")), "", "16",
       "reader on port 3: no reader 3 (code 0x00000010 (16): no card on the reader)",
       TCheckStatus::Warning, 0},
      // Held by this test, which is no server of the home.
      {"PortInUse", kModeMember, Ini(MemberIni("")), "", nullptr,
       "cannot be bound: in use by another program, pid", TCheckStatus::Failed, 1, true},
      {"PortOnListenAddress", kModePolice, Ini(MemberIni("")), "", nullptr,
       " on 127.0.0.1 is free to bind", TCheckStatus::Ok, 0, false, false, nullptr, nullptr,
       "127.0.0.1"},
      {"GuestReady", kModePolice,
       [](const std::string& home) {
         Ini(MemberIni(""))(home);
         WriteFile(home + "Guest.ini", "[Guest]\r\nRoomNo=0806\r\nGenderID= 1\r\n");
       },
       "", nullptr, "Guest.ini holds a guest with GenderID=1", TCheckStatus::Ok, 0},
      // The request's reply needs GenderID as an integer: it would end without one.
      {"GuestGenderNotInteger", kModePolice,
       [](const std::string& home) {
         Ini(MemberIni(""))(home);
         WriteFile(home + "Guest.ini", "[Guest]\r\nRoomNo=0806\r\nGenderID=male\r\n");
       },
       "", nullptr, "GenderID=\"male\" is not an integer: every police request would end",
       TCheckStatus::Failed, 1},
      {"GuestGenderMissing", kModePolice,
       [](const std::string& home) {
         Ini(MemberIni(""))(home);
         WriteFile(home + "Guest.ini", "[Guest]\r\nRoomNo=0806\r\n");
       },
       "", nullptr, "GenderID=\"\" is not an integer", TCheckStatus::Failed, 1},
      {"GuestWithoutSection", kModePolice,
       [](const std::string& home) {
         Ini(MemberIni(""))(home);
         WriteFile(home + "Guest.ini", "[Other]\r\nGenderID=x\r\n");
       },
       "", nullptr, "has no [Guest] section", TCheckStatus::Warning, 0},
      {"GuestMissing", kModePolice, Ini(MemberIni("")), "", nullptr,
       "Guest.ini is missing: every police request is answered with no guest",
       TCheckStatus::Warning, 0},
      {"GuestUnreadable", kModePolice,
       [](const std::string& home) {
         Ini(MemberIni(""))(home);
         WriteFile(home + "Guest.ini", "[Guest]\r\nGenderID=1\r\n");
         ::chmod((home + "Guest.ini").c_str(), 0200);
       },
       "", nullptr, "Guest.ini cannot be read", TCheckStatus::Failed, 1, false, true},
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
      // The server starts without it, logs that and still answers door-lock requests.
      {"DoorlockStoreMissing", kModeDoorlock, Ini(MemberIni("")), "", nullptr,
       "Client.db is missing: the server logs that and answers door-lock requests",
       TCheckStatus::Warning, 0},
      {"DoorlockOdbcStoreReady", kModeDoorlock,
       [](const std::string& home) {
         Ini(MemberIni(""))(home);
         std::string error;
         CreateDoorlockDatabase(home + "Client.db", error);
       },
       "", nullptr, "ODBC store \"Driver=SQLite3;Database=", TCheckStatus::Ok, 0, false, false,
       "hunter2", "Driver=SQLite3;Database=@HOME@Client.db;PWD=hunter2"},
      {"DoorlockOdbcStoreMasksPassword", kModeDoorlock,
       [](const std::string& home) {
         Ini(MemberIni(""))(home);
         std::string error;
         CreateDoorlockDatabase(home + "Client.db", error);
       },
       "", nullptr, "Client.db;Password=***\" connects with T_Room and T_IssueCardRecord",
       TCheckStatus::Ok, 0, false, false, "hunter2",
       "Driver=SQLite3;Database=@HOME@Client.db;Password={hunter2;x}"},
      // The --store source is checked, not the home's Client.db beside it.
      {"DoorlockOdbcStoreUnknownDriver", kModeDoorlock,
       [](const std::string& home) {
         Ini(MemberIni(""))(home);
         std::string error;
         CreateDoorlockDatabase(home + "Client.db", error);
       },
       "", nullptr, "ODBC store \"Driver={No Such Driver};PWD=***\" cannot be used",
       TCheckStatus::Failed, 1, false, false, "hunter2", "Driver={No Such Driver};PWD=hunter2"},
      {"DoorlockOdbcStoreWithoutTables", kModeDoorlock,
       [](const std::string& home) {
         Ini(MemberIni(""))(home);
         WriteFile(home + "Other.db", "");
       },
       "", nullptr, "cannot be used", TCheckStatus::Failed, 1, false, false, "Client.db",
       "Driver=SQLite3;Database=@HOME@Other.db"},
      {"DoorlockStoreReady", kModeDoorlock,
       [](const std::string& home) {
         Ini(MemberIni(""))(home);
         std::string error;
         CreateDoorlockDatabase(home + "Client.db", error);
       },
       "", nullptr, "Client.db opens for writing", TCheckStatus::Ok, 0},
#ifndef _WIN32
      // Made before T_Room's unique key: works, but servers sharing it may store
      // a room twice.
      {"DoorlockStoreWithoutRoomKey", kModeDoorlock,
       [](const std::string& home) {
         Ini(MemberIni(""))(home);
         std::string error;
         CreateDoorlockDatabase(home + "Client.db", error);
         e2e::TSqlDb(home + "Client.db")
             .Exec("drop table T_Room; create table T_Room (RoomNo TEXT, LastCheckInTime REAL)");
       },
       "", nullptr, "Client.db: T_Room has no unique key on RoomNo", TCheckStatus::Warning, 0},
      {"DoorlockOdbcStoreWithoutRoomKey", kModeDoorlock,
       [](const std::string& home) {
         Ini(MemberIni(""))(home);
         std::string error;
         CreateDoorlockDatabase(home + "Other.db", error);
         e2e::TSqlDb(home + "Other.db")
             .Exec("drop table T_Room; create table T_Room (RoomNo TEXT, LastCheckInTime REAL)");
       },
       "", nullptr, "Other.db\": T_Room has no unique key on RoomNo", TCheckStatus::Warning, 0,
       false, false, nullptr, "Driver=SQLite3;Database=@HOME@Other.db"},
#endif
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

// The rows this system runs: Windows has no POSIX permissions (the
// unprivileged rows) and no native SQLite engine to make a Client.db with.
std::vector<TRow> RowsHere() {
  std::vector<TRow> rows;
  for (const TRow& row : Rows()) {
#ifdef _WIN32
    const std::string name = row.name;
    if (row.unprivileged || (name.rfind("Doorlock", 0) == 0 && name != "DoorlockStoreMissing" &&
                             name != "DoorlockOdbcStoreUnknownDriver"))
      continue;
#endif
    rows.push_back(row);
  }
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
  std::string lib = LibraryFile(row.library);
  request.ReaderLibrary = lib.empty() ? kCheckReader : lib[0] == '/' ? lib : kBin + lib;
  std::string expectText = row.expectText;
#ifdef _WIN32
  // Wine's table of listening sockets names no process: another program has no pid there.
  if (expectText.find("another program, pid") != std::string::npos)
    expectText.erase(expectText.find(", pid"));
#endif
  if (*row.library && expectText.find(row.library) != std::string::npos)
    expectText.replace(expectText.find(row.library), std::strlen(row.library), lib);
  if (!row.store && expectText.find("Client.db") != std::string::npos)
    expectText.replace(expectText.find("Client.db"), 9, kHomeDb);
  if (row.store) {
    request.Store = row.store;
    for (size_t at; (at = request.Store.find("@HOME@")) != std::string::npos;)
      request.Store.replace(at, 6, home);
  }
  if (row.listen) request.Listen = row.listen;
  if (row.diagnose)
    ::setenv("VELIO_CHECK_DIAGNOSE", row.diagnose, 1);
  else
    ::unsetenv("VELIO_CHECK_DIAGNOSE");

  if (row.unprivileged) {
    // The child reports 0..1 for the exit code with the expected line, 100 without it.
    int rc = velio_test::RunUnprivileged([&] {
      auto lines = RunSelfCheck(request);
      const TCheckLine* line = Find(lines, expectText);
      if (!line || line->Status != row.expectStatus) return 100;
      if (row.absentText && Find(lines, row.absentText)) return 101;
      return SelfCheckExitCode(lines);
    });
    EXPECT_EQ(rc, row.expectExit) << row.name;
  } else {
    auto lines = RunSelfCheck(request);
    const TCheckLine* line = Find(lines, expectText);
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

INSTANTIATE_TEST_SUITE_P(Check, SelfCheckRows, ::testing::ValuesIn(RowsHere()),
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

#ifndef _WIN32
// A --home that does not exist is the check's FAILED line, not a refused command line.
TEST(SelfCheck, ProgramReportsMissingHome) {
  std::string out, err;
  int rc = e2e::RunProgram({e2e::BinPath("velio-interfaced"), "--check", "--home",
                            "/nonexistent/velio-home", "--mode", "police"},
                           out, err);
  EXPECT_EQ(rc, 1) << out << err;
  EXPECT_NE(out.find("FAILED   home folder /nonexistent/velio-home/ does not exist"),
            std::string::npos)
      << out;
}

// The home's police server, stopped at the end.
class TServerProcess {
 public:
  TServerProcess(const std::string& home, int port) : daemon_(home, "police", port) {}
  bool WaitListening(int) { return daemon_.WaitListening(); }
  int64_t Pid() const { return daemon_.Pid(); }
  std::string Why() { return daemon_.Stderr(); }
  int Stop() { return daemon_.Stop(); }  // its exit code

 private:
  e2e::TDaemon daemon_;
};
#else
std::string WindowsPath(std::string path) {
  for (char& c : path)
    if (c == '/') c = '\\';
  return path;
}

// The home's police server (velio-interfaced.exe), ended at the end.
class TServerProcess {
 public:
  TServerProcess(std::string home, int) {
    home.pop_back();  // a backslash before the closing quote would escape it
    std::wstring line = WidePath("\"" + WindowsPath(kBin + "velio-interfaced.exe") +
                                 "\" --home \"" + home + "\" --mode police");
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    if (CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                       nullptr, &startup, &info_))
      CloseHandle(info_.hThread);
    else
      info_.hProcess = nullptr;
  }
  ~TServerProcess() { Stop(); }
  // Ends the server (no console to send a stop to): 0 once it has ended.
  int Stop() {
    if (!info_.hProcess) return -1;
    TerminateProcess(info_.hProcess, 0);
    const bool ended = WaitForSingleObject(info_.hProcess, 10000) == WAIT_OBJECT_0;
    CloseHandle(info_.hProcess);
    info_.hProcess = nullptr;
    return ended ? 0 : -1;
  }
  std::string Why() const { return info_.hProcess ? "not listening" : "did not start"; }
  DWORD Pid() const { return info_.dwProcessId; }
  // Waits up to 20 s (Wine starts slowly) until the port takes a connection.
  bool WaitListening(int port) const {
    for (int i = 0; i < 400 && info_.hProcess; ++i) {
      SOCKET s = velio_test::port_detail::NewSocket();
      sockaddr_in a{};
      a.sin_family = AF_INET;
      a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      a.sin_port = htons(static_cast<u_short>(port));
      const bool up = ::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
      velio_test::port_detail::CloseSocket(s);
      if (up) return true;
      if (WaitForSingleObject(info_.hProcess, 50) == WAIT_OBJECT_0) return false;
    }
    return false;
  }

 private:
  PROCESS_INFORMATION info_{};
};

// A --home that does not exist is the check's FAILED line, not a refused command line.
TEST(SelfCheck, ProgramReportsMissingHome) {
  velio_test::TRun run =
      velio_test::RunShell("\"" + WindowsPath(kBin + "velio-interfaced.exe") +
                           "\" --check --home C:\\nonexistent\\velio-home --mode police");
  EXPECT_EQ(run.status, 1) << run.out;
  EXPECT_NE(run.out.find("FAILED   home folder C:\\nonexistent\\velio-home"), std::string::npos)
      << run.out;
  EXPECT_NE(run.out.find("does not exist"), std::string::npos) << run.out;
}

#endif

// The port held by the home's own server is OK and named; held by a server of
// another home it fails.
TEST(SelfCheck, PortOfTheRunningServer) {
  TTempDir dir, other;
  const int port = FreePort();
  for (const std::string& home : {dir.Path(), other.Path()})
    WriteFile(home + "Option.ini", "[SysOption]\r\nPolicePortNo=" + std::to_string(port) + "\r\n");
  TServerProcess server(dir.Path(), port);
  ASSERT_TRUE(server.WaitListening(port)) << server.Why();
  TSelfCheckRequest request;
  request.Mode = kModePolice;
  request.Home = dir.Path();
  auto lines = RunSelfCheck(request);
  const TCheckLine* line =
      Find(lines, "port " + std::to_string(port) + " is in use by the running server, pid " +
                      std::to_string(server.Pid()));
  ASSERT_NE(line, nullptr) << Joined(lines);
  EXPECT_EQ(line->Status, TCheckStatus::Ok);
  EXPECT_EQ(SelfCheckExitCode(lines), 0) << Joined(lines);

  request.Home = other.Path();
  lines = RunSelfCheck(request);
  line = Find(lines,
              "cannot be bound: in use by another program, pid " + std::to_string(server.Pid()));
  ASSERT_NE(line, nullptr) << Joined(lines);
  EXPECT_EQ(line->Status, TCheckStatus::Failed);
  EXPECT_EQ(server.Stop(), 0);
}

// The reader library --check looks at is the one the service loads, and its
// line says where the choice came from.
TEST(SelfCheck, ReaderLibraryChoice) {
  TTempDir dir;
  const std::string defaults = dir.Path() + "velio-interfaced";
  struct {
    const char* given;
    const char* env;       // VELIO_READER_LIBRARY, or null
    const char* defaults;  // the defaults file's text, or null for none
    std::string path;      // "" for the default beside the program
    std::string source;
  } rows[] = {
      {"/opt/a.so", "/opt/b.so", "VELIO_READER_LIBRARY=/opt/c.so\n", "/opt/a.so",
       "--reader-library"},
      {"", "/opt/b.so", "VELIO_READER_LIBRARY=/opt/c.so\n", "/opt/b.so", "VELIO_READER_LIBRARY"},
      {"", "", "VELIO_READER_LIBRARY=/opt/c.so\n", "/opt/c.so", defaults},
      {"", nullptr,
       "# VELIO_READER_LIBRARY=/opt/x.so\n; VELIO_READER_LIBRARY=/opt/y.so\n"
       "  VELIO_READER_LIBRARY=\"/opt/with space.so\"\r\n",
       "/opt/with space.so", defaults},
      {"", nullptr, "VELIO_READER_LIBRARY=/opt/c.so\nVELIO_READER_LIBRARY='/opt/d.so'\n",
       "/opt/d.so", defaults},
      {"", nullptr, "#VELIO_READER_LIBRARY=/opt/c.so\nVELIO_READER_SIM_DIR=/tmp\n", "",
       "the default beside the program"},
      {"", nullptr, "VELIO_READER_LIBRARY=\n", "", "the default beside the program"},
      {"", nullptr, nullptr, "", "the default beside the program"},
  };
  ::setenv("VELIO_DEFAULTS_FILE", defaults.c_str(), 1);
  for (const auto& r : rows) {
    std::filesystem::remove(defaults);
    if (r.defaults) WriteFile(defaults, r.defaults);
    if (r.env)
      ::setenv("VELIO_READER_LIBRARY", r.env, 1);
    else
      ::unsetenv("VELIO_READER_LIBRARY");
    TReaderLibraryChoice choice = ChooseReaderLibrary(r.given);
    EXPECT_EQ(choice.Source, r.source) << (r.defaults ? r.defaults : "");
    if (!r.path.empty()) {
      EXPECT_EQ(choice.Path, r.path) << (r.defaults ? r.defaults : "");
    } else {
      EXPECT_EQ(choice.Path, ExecutableDir() + SharedLibraryName("Reader"));
    }
  }
  // The member check names the source in the library's line.
  WriteFile(defaults, "VELIO_READER_LIBRARY=" + kBin + SharedLibraryName("VelioFakeReader") + "\n");
  ::unsetenv("VELIO_READER_LIBRARY");
  TSelfCheckRequest request;
  request.Home = dir.Path();
  request.Mode = kModeMember;
  WriteFile(dir.Path() + "Option.ini",
            "[SysOption]\r\nMemberPortNo=" + std::to_string(FreePort()) + "\r\n");
  auto lines = RunSelfCheck(request);
  EXPECT_NE(Find(lines, SharedLibraryName("VelioFakeReader") +
                            " loaded with StartSCard, ReadCard, WriteCard, "
                            "EndSCard (chosen by " +
                            defaults + ")"),
            nullptr)
      << Joined(lines);
  ::unsetenv("VELIO_DEFAULTS_FILE");
}

// The README's table of the self-check holds the rows of SelfCheckItems, in order.
TEST(SelfCheck, ReadmeTableMatchesTheItems) {
  std::ifstream in(VELIO_SOURCE_DIR "/README.md");
  ASSERT_TRUE(in) << "README.md";
  std::string line;
  bool inSection = false;
  std::vector<std::vector<std::string>> rows;
  while (std::getline(in, line)) {
    if (line.rfind("### ", 0) == 0) {
      if (inSection) break;
      inSection = line == "### The self-check";
      continue;
    }
    if (!inSection || line.rfind("|", 0) != 0 || line.rfind("|---", 0) == 0) continue;
    std::vector<std::string> cells;
    std::string cell;
    for (size_t i = 1; i < line.size(); ++i) {
      if (line[i] == '|' && line[i - 1] != '\\') {
        while (!cell.empty() && cell.back() == ' ') cell.pop_back();
        size_t first = cell.find_first_not_of(' ');
        cells.push_back(first == std::string::npos ? std::string() : cell.substr(first));
        cell.clear();
      } else {
        cell += line[i];
      }
    }
    rows.push_back(cells);
  }
  ASSERT_FALSE(rows.empty()) << "no table under ### The self-check";
  EXPECT_EQ(rows[0], (std::vector<std::string>{"item", "fails when", "warns when"}));
  const auto& items = SelfCheckItems();
  ASSERT_EQ(rows.size(), items.size() + 1);
  for (size_t i = 0; i < items.size(); ++i) {
    EXPECT_EQ(rows[i + 1],
              (std::vector<std::string>{items[i].Item, items[i].FailsWhen, items[i].WarnsWhen}))
        << "row " << i + 1;
  }
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

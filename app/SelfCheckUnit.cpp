// SelfCheckUnit: each check reads what the server would read, with objects of
// its own (never the process-wide ones), and reports in words. Nothing is
// written: the options are loaded into local objects, the port is bound by a
// request server of its own and released at once, the database is opened
// without create, and the reader library is loaded but no port is opened
// (ReaderDiagnose, when present, only asks the reader's service). A port that
// cannot be bound is looked up (PortOwnerUnit): held by a velio-interface
// program whose home (--home, else its program's folder) is this home, it is
// the running server's and the line is OK.
#include "app/SelfCheckUnit.h"

#include <cstdlib>
#include <exception>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>

#include "doorlock/DoorlockRecordManagerUnit.h"
#include "doorlock/OdbcStoreUnit.h"
#include "doorlock/RecordStoreFactoryUnit.h"
#include "member/OptionUnit.h"
#include "member/ReaderLibraryUnit.h"
#include "platform/ConvertUnit.h"
#include "platform/DateTimeUnit.h"
#include "platform/DynLibUnit.h"
#include "platform/PathUnit.h"
#include "platform/PortOwnerUnit.h"
#include "platform/ProfileUnit.h"
#include "platform/ReaderApi.h"
#include "platform/ReaderCodesUnit.h"
#include "police/SimPoliceUnit.h"
#include "server/TCPServerUnit.h"
#include "services/InterfaceModeUnit.h"
#include "services/SysOptionUnit.h"

extern "C" {
// The optional diagnosis of a reader library: 0 when the reader's service is
// reachable and the reader that port selects is present; a one-line ASCII
// description in text (size bytes, NUL-terminated).
typedef int32_t(VELIO_READER_CALL* TReaderDiagnoseFn)(int32_t port, char* text, int32_t size);
}

namespace {

class TLines {
 public:
  void Ok(std::string text) { Add(TCheckStatus::Ok, std::move(text)); }
  void Warn(std::string text) { Add(TCheckStatus::Warning, std::move(text)); }
  void Fail(std::string text) { Add(TCheckStatus::Failed, std::move(text)); }
  std::vector<TCheckLine> Take() { return std::move(lines_); }

 private:
  void Add(TCheckStatus status, std::string text) { lines_.push_back({status, std::move(text)}); }
  std::vector<TCheckLine> lines_;
};

std::string Quoted(const AnsiString& ansi) {
  return "\"" + AnsiToUtf8(ansi) + "\"";
}

bool IsHexDigit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// Length of the well-formed UTF-8 sequence at bytes[i] (lead byte >= 0x80), or 0.
size_t Utf8SequenceAt(std::string_view bytes, size_t i) {
  unsigned char c = static_cast<unsigned char>(bytes[i]);
  size_t n = 0;
  unsigned char lo = 0x80, hi = 0xBF;
  if (c >= 0xC2 && c <= 0xDF) {
    n = 2;
  } else if (c >= 0xE0 && c <= 0xEF) {
    n = 3;
    if (c == 0xE0) lo = 0xA0;
    if (c == 0xED) hi = 0x9F;
  } else if (c >= 0xF0 && c <= 0xF4) {
    n = 4;
    if (c == 0xF0) lo = 0x90;
    if (c == 0xF4) hi = 0x8F;
  } else {
    return 0;
  }
  if (i + n > bytes.size()) return 0;
  for (size_t k = 1; k < n; ++k) {
    unsigned char t = static_cast<unsigned char>(bytes[i + k]);
    if (t < (k == 1 ? lo : 0x80) || t > (k == 1 ? hi : 0xBF)) return 0;
  }
  return n;
}

void CheckHome(const std::string& home, TLines& out) {
  std::string error;
  if (!DirectoryExists(home)) {
    out.Fail("home folder " + home + " does not exist");
    return;
  }
  if (!DirectoryWritable(home, error)) {
    out.Fail("home folder " + home + " is not writable (" + error +
             "): the daily log cannot be written");
    return;
  }
  std::string log = home + FormatDateTime("yyyymmdd", Now()) + ".LOG";
  if (FileExists(log) && !FileWritable(log, error)) {
    out.Fail("today's log " + log + " is not writable (" + error + ")");
    return;
  }
  out.Ok("home folder " + home + " is writable for the daily log");
}

// The port key of the mode and its value; warns about text that is no number
// (the default is then used) and fails a value that is no TCP port.
int32_t CheckPortValue(const std::string& file, int32_t mode, TLines& out) {
  const char* key = mode == kModeDoorlock ? "DoorlockPortNo"
                    : mode == kModePolice ? "PolicePortNo"
                                          : "MemberPortNo";
  TSysOption sys(file);
  sys.Load();
  int32_t port = mode == kModeDoorlock ? sys.DoorlockPortNo
                 : mode == kModePolice ? sys.PolicePortNo
                                       : sys.MemberPortNo;
  const AnsiString kMissing = "<missing>";
  AnsiString raw = ReadProfileString(file, "SysOption", key, kMissing);
  int32_t parsed = 0;
  if (raw != kMissing && !TryStrToInt(raw, parsed))
    out.Warn(std::string(key) + "=" + Quoted(raw) + " is not a number: the default " +
             std::to_string(port) + " is used");
  if (port < 1 || port > 65535) {
    out.Fail(std::string(key) + "=" + std::to_string(port) + " is not a TCP port (1..65535)");
    return 0;
  }
  out.Ok(std::string(key) + "=" + std::to_string(port));
  return port;
}

// Answers whether the file's values can be read (a missing file gives the defaults).
bool CheckOptionFile(const std::string& file, TLines& out) {
  if (!FileExists(file)) {
    out.Ok(file + " is missing: every option takes its default");
    return true;
  }
  std::string contents, error;
  if (!ReadWholeFile(file, contents, error)) {
    out.Fail(file + " cannot be read (" + error + "): the server would run on the defaults");
    return false;
  }
  std::string problem = Cp936TextProblem(contents);
  if (!problem.empty())
    out.Warn(file + ": " + problem + "; values with Chinese text are read wrongly");
  else
    out.Ok(file + " is readable code page 936 text");
  return true;
}

std::string Canonical(const std::string& path) {
  std::error_code ec;
  std::filesystem::path p = std::filesystem::weakly_canonical(NativePath(path), ec);
  return ec ? path : PathUtf8(p.lexically_normal());
}

// Whether owner is a velio-interface program (the server or the desktop
// program) whose home is home: its --home, taken from its working folder when
// relative, else its program's folder.
bool IsServerOfHome(const TPortOwner& owner, const std::string& home) {
  std::filesystem::path exe = NativePath(owner.Executable);
  if (PathUtf8(exe.filename()).rfind("velio-interface", 0) != 0) return false;
  std::string itsHome;
  for (size_t i = 1; i < owner.Arguments.size(); ++i) {
    const std::string& a = owner.Arguments[i];
    if (a == "--home" && i + 1 < owner.Arguments.size()) itsHome = owner.Arguments[i + 1];
    if (a.rfind("--home=", 0) == 0) itsHome = a.substr(7);
  }
  std::filesystem::path p = itsHome.empty() ? exe.parent_path() : NativePath(itsHome);
  if (p.is_relative()) {
    if (owner.WorkingDir.empty()) return false;
    p = NativePath(owner.WorkingDir) / p;
  }
  auto bare = [](std::string s) {
    while (s.size() > 1 && (s.back() == '/' || s.back() == '\\')) s.pop_back();
    return s;
  };
  return bare(Canonical(PathUtf8(p))) == bare(Canonical(home));
}

void CheckPortFree(int32_t port, const std::string& listen, const std::string& home, TLines& out) {
  const std::string where =
      "port " + std::to_string(port) + (listen.empty() ? std::string() : " on " + listen);
  TRequestServer server;
  server.SetPort(port);
  server.SetListenAddress(listen);
  try {
    server.Activate();
    server.Deactivate();
  } catch (const std::exception& e) {
    const TPortOwner owner = FindPortListener(port);
    if (owner.Found && IsServerOfHome(owner, home)) {
      out.Ok(where + " is in use by the running server, pid " + std::to_string(owner.Pid));
      return;
    }
    std::string who = owner.Found ? "in use by another program, pid " + std::to_string(owner.Pid)
                      : owner.Listening ? std::string("in use by another program")
                                        : std::string();
    out.Fail(where + " cannot be bound: " + (who.empty() ? std::string() : who + ": ") +
             AnsiToUtf8(e.what()));
    return;
  }
  out.Ok(where + " is free to bind");
}

// The member options; answers the reader port number, or no value.
std::optional<int32_t> CheckMemberOptions(const std::string& file, TLines& out) {
  TOption options(file);
  options.Load();
  TMemberSettings s = options.Settings();
  std::optional<int32_t> port = TOption::PortNumberOf(s.PortName);
  if (!port)
    out.Fail("PortName=" + Quoted(s.PortName) +
             " is not USB or COM0..COM9: every card operation would fail");
  else
    out.Ok("PortName=" + AnsiToUtf8(s.PortName) + " (reader port " + std::to_string(*port) + ")");
  bool hex = s.Key.size() == 12;
  for (char c : s.Key) hex = hex && IsHexDigit(c);
  if (!hex)
    out.Fail("Key=" + Quoted(s.Key) +
             " is not 12 hexadecimal digits: every card operation would fail");
  else
    out.Ok("Key is 12 hexadecimal digits");
  if (s.KeyFlag != "KEY_A" && s.KeyFlag != "KEY_B")
    out.Warn("KeyFlag=" + Quoted(s.KeyFlag) + " is not KEY_A or KEY_B: key B is used");
  else
    out.Ok("KeyFlag=" + AnsiToUtf8(s.KeyFlag));
  return port;
}

// diagnose: whether to ask ReaderDiagnose (the options could be read).
void CheckReaderLibrary(const TReaderLibraryChoice& choice, std::optional<int32_t> port,
                        bool diagnose, TLines& out) {
  const std::string& path = choice.Path;
  const std::string from = " (chosen by " + choice.Source + ")";
  TReaderLibrary lib(path);
  if (!lib.Loaded()) {
    out.Fail("reader library " + path + " cannot be used: " + lib.Error() + from);
    return;
  }
  out.Ok("reader library " + path + " loaded with StartSCard, ReadCard, WriteCard, EndSCard" +
         from);
  std::string error;
  std::unique_ptr<TDynLib> again = TDynLib::Open(path, error);
  void* symbol = again ? again->Symbol("ReaderDiagnose", error) : nullptr;
  if (!symbol || !diagnose) return;  // a library without the diagnosis: nothing more to ask
  if (!port) {
    out.Fail("reader not diagnosed: PortName selects no reader port");
    return;
  }
  auto diagnoseFn = reinterpret_cast<TReaderDiagnoseFn>(symbol);
  char text[512] = {};
  int32_t rc = diagnoseFn(*port, text, static_cast<int32_t>(sizeof text));
  text[sizeof text - 1] = '\0';
  std::string line(text);
  for (char& c : line)
    if (c == '\r' || c == '\n') c = ' ';
  if (line.empty()) line = "no description";
  if (rc == 0)
    out.Ok("reader on port " + std::to_string(*port) + ": " + line);
  else if (rc == kReaderNoCard)  // the reader is there; a card is needed only per operation
    out.Warn("reader on port " + std::to_string(*port) + ": " + line + " (code " +
             ReaderCodeText(rc) + ")");
  else
    out.Fail("reader on port " + std::to_string(*port) + ": " + line + " (code " +
             ReaderCodeText(rc) + ")");
}

// Servers sharing a store without T_Room's unique key may store a room twice.
void WarnWithoutRoomKey(const std::string& shown, TLines& out) {
  out.Warn(shown +
           ": T_Room has no unique key on RoomNo (made before the key): one server works as "
           "before, but servers sharing this store may store a room twice; once no room is "
           "stored twice, CREATE UNIQUE INDEX UQ_T_Room_RoomNo ON T_Room (RoomNo) adds it");
}

// The store the server opens: the --store source, else the system's default database.
void CheckRecordStore(const std::string& home, const std::string& store, TLines& out) {
  std::string error;
  bool roomKey = false;
  if (!store.empty()) {
    const std::string shown = "ODBC store \"" + ConnectionStringWithoutSecrets(store) + "\"";
    if (!ProbeOdbcTables(store, error, &roomKey)) {
      out.Fail(shown + " cannot be used: " + TextWithoutSecrets(error, store));
      return;
    }
    out.Ok(shown + " connects with T_Room and T_IssueCardRecord");
    if (!roomKey) WarnWithoutRoomKey(shown, out);
    return;
  }
  std::string file = home + PathUtf8(NativePath(DefaultDoorlockDatabase()).filename());
  if (!FileExists(file)) {
    out.Warn(file +
             " is missing: the server logs that and answers door-lock requests, storing no "
             "record (UseNativeDoorlockDb, SaveDoorlockRecord); create it with "
             "velio-interfaced --init-db --home " +
             home);
    return;
  }
  if (!ProbeDoorlockDatabase(file, error, &roomKey)) {
    out.Fail(file + " cannot be used: " + error);
    return;
  }
  out.Ok(file + " opens for writing with T_Room and T_IssueCardRecord");
  if (!roomKey) WarnWithoutRoomKey(file, out);
}

// Guest.ini as the simulated police device reads it for every request.
void CheckGuestFile(const std::string& home, TLines& out) {
  TSimPolice police(home);
  const std::string& file = police.FileName();
  if (!FileExists(file)) {
    out.Warn(file + " is missing: every police request is answered with no guest");
    return;
  }
  std::shared_ptr<const TGuest> guest;
  try {
    guest = police.ReadGuest();
  } catch (const std::exception& e) {
    out.Fail(file + " cannot be read (" + AnsiToUtf8(e.what()) +
             "): every police request would fail");
    return;
  }
  if (!guest) {
    out.Warn(file + " has no [Guest] section: every police request is answered with no guest");
    return;
  }
  int32_t gender = 0;
  if (!TryStrToInt(guest->GenderID, gender)) {
    out.Fail(file + ": GenderID=" + Quoted(guest->GenderID) +
             " is not an integer: every police request would end without a reply");
    return;
  }
  out.Ok(file + " holds a guest with GenderID=" + std::to_string(gender));
}

}  // namespace

std::string Cp936TextProblem(std::string_view bytes) {
  if (bytes.substr(0, 3) == "\xEF\xBB\xBF") return "starts with a UTF-8 byte-order mark";
  bool high = false, utf8 = true;
  for (size_t i = 0; i < bytes.size();) {
    if (static_cast<unsigned char>(bytes[i]) < 0x80) {
      ++i;
      continue;
    }
    high = true;
    size_t n = Utf8SequenceAt(bytes, i);
    if (n == 0) {
      utf8 = false;
      break;
    }
    i += n;
  }
  if (high && utf8) return "is UTF-8 text, not code page 936 (GBK)";
  for (size_t i = 0; i < bytes.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(bytes[i]);
    if (c < 0x80 || c == 0x80) continue;  // 0x80 is the euro sign
    if (c == 0xFF) return "holds the byte 0xFF, which code page 936 does not use";
    unsigned char t = i + 1 < bytes.size() ? static_cast<unsigned char>(bytes[i + 1]) : 0;
    if (t < 0x40 || t == 0x7F || t == 0xFF)
      return "holds a byte pair that is not a code page 936 character (offset " +
             std::to_string(i) + ")";
    ++i;
  }
  return std::string();
}

std::vector<TCheckLine> RunSelfCheck(const TSelfCheckRequest& request) {
  TLines out;
  const std::string& home = request.Home;
  std::string file = home + "Option.ini";
  // A check that fails with an error says so and the others go on.
  auto guarded = [&out](const char* what, const std::function<void()>& check) {
    try {
      check();
    } catch (const std::exception& e) {
      out.Fail(std::string(what) + ": " + AnsiToUtf8(e.what()));
    }
  };
  bool readable = true;
  guarded("home folder", [&] { CheckHome(home, out); });
  guarded("Option.ini", [&] { readable = CheckOptionFile(file, out); });
  if (readable) {
    guarded("port", [&] {
      int32_t port = CheckPortValue(file, request.Mode, out);
      if (port != 0) CheckPortFree(port, request.Listen, home, out);
    });
  }
  if (request.Mode == kModeMember) {
    std::optional<int32_t> readerPort;
    if (readable) guarded("member options", [&] { readerPort = CheckMemberOptions(file, out); });
    guarded("reader library", [&] {
      CheckReaderLibrary(ChooseReaderLibrary(request.ReaderLibrary), readerPort, readable, out);
    });
  } else if (request.Mode == kModeDoorlock) {
    guarded("door-lock store", [&] { CheckRecordStore(home, request.Store, out); });
  } else if (request.Mode == kModePolice) {
    guarded("Guest.ini", [&] { CheckGuestFile(home, out); });
  }
  return out.Take();
}

const std::vector<TCheckItem>& SelfCheckItems() {
  static const std::vector<TCheckItem> items = {
      {"home folder", "missing, or not writable (nor today's log)", ""},
      {"`Option.ini`", "present but unreadable",
       "not code page 936 text: it starts with the UTF-8 byte-order mark, or all its bytes above "
       "0x7F form UTF-8 sequences, or it holds a byte pair that is no code page 936 character"},
      {"the mode's port",
       "not 1..65535, or cannot be bound on the `--listen` address (in use by another program, "
       "no right); held by this home's running server it is OK",
       "the value is no number (the default is used)"},
      {"member: `PortName`, `Key`, `KeyFlag`",
       "`PortName` not USB/COM0..COM9; `Key` not 12 hexadecimal digits",
       "`KeyFlag` not KEY_A/KEY_B"},
      {"member: reader library",
       "cannot be loaded, or lacks one of its four functions; when it exports `int "
       "ReaderDiagnose(int port, char* text, int size)`, that answers non-zero (service "
       "unreachable, reader absent); its line is printed",
       "`ReaderDiagnose` answers 0x10: the reader is there without a card (the line names the "
       "readers that hold one and the `PortName` that reaches each)"},
      {"door lock: the store",
       "the `--store` source does not connect or lacks a table; `Client.db` (`Client.mdb` on "
       "Windows) not a database, without its tables, or read-only",
       "`Client.db` (`Client.mdb`) missing: the server logs it and answers, storing no record; "
       "`T_Room` without its unique key on `RoomNo` (made before the key): servers sharing the "
       "store may store a room twice"},
      {"police: `Guest.ini`",
       "unreadable, or its `GenderID` no integer (every request would end without a reply)",
       "missing, or without a `[Guest]` section (every request is answered with no guest)"},
  };
  return items;
}

std::string ServiceDefaultsFile() {
  const char* env = std::getenv("VELIO_DEFAULTS_FILE");
  if (env && *env) return env;
#ifdef _WIN32
  return std::string();
#else
  return "/etc/default/velio-interfaced";
#endif
}

std::string EnvironmentFileValue(std::string_view text, std::string_view key) {
  std::string value;
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find('\n', at);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(at, end - at);
    at = end + 1;
    auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
    while (!line.empty() && blank(line.front())) line.remove_prefix(1);
    while (!line.empty() && blank(line.back())) line.remove_suffix(1);
    if (line.empty() || line[0] == '#' || line[0] == ';') continue;
    size_t eq = line.find('=');
    if (eq == std::string_view::npos || line.substr(0, eq) != key) continue;
    std::string_view v = line.substr(eq + 1);
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
      v = v.substr(1, v.size() - 2);
    value = std::string(v);
  }
  return value;
}

TReaderLibraryChoice ChooseReaderLibrary(const std::string& given) {
  if (!given.empty()) return {given, "--reader-library"};
  const char* env = std::getenv("VELIO_READER_LIBRARY");
  if (env && *env) return {env, "VELIO_READER_LIBRARY"};
  const std::string defaults = ServiceDefaultsFile();
  std::string text, error;
  if (!defaults.empty() && FileExists(defaults) && ReadWholeFile(defaults, text, error)) {
    std::string path = EnvironmentFileValue(text, "VELIO_READER_LIBRARY");
    if (!path.empty()) return {path, defaults};
  }
  return {TReaderLibrary::DefaultPath(), "the default beside the program"};
}

int SelfCheckExitCode(const std::vector<TCheckLine>& lines) {
  for (const TCheckLine& line : lines)
    if (line.Status == TCheckStatus::Failed) return 1;
  return 0;
}

std::string FormatCheckLine(const TCheckLine& line) {
  switch (line.Status) {
    case TCheckStatus::Ok:
      return "OK       " + line.Text;
    case TCheckStatus::Warning:
      return "WARNING  " + line.Text;
    default:
      return "FAILED   " + line.Text;
  }
}

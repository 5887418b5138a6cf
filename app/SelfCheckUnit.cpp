// SelfCheckUnit: each check reads what the server would read, with objects of
// its own (never the process-wide ones), and reports in words. Nothing is
// written: the options are loaded into local objects, the port is bound by a
// request server of its own and released at once, the database is opened
// without create, and the reader library is loaded but no port is opened
// (ReaderDiagnose, when present, only asks the reader's service).
#include "app/SelfCheckUnit.h"

#include <exception>
#include <functional>
#include <memory>
#include <optional>

#include "doorlock/DoorlockRecordManagerUnit.h"
#include "doorlock/RecordStoreFactoryUnit.h"
#include "member/OptionUnit.h"
#include "member/ReaderLibraryUnit.h"
#include "platform/ConvertUnit.h"
#include "platform/DateTimeUnit.h"
#include "platform/DynLibUnit.h"
#include "platform/PathUnit.h"
#include "platform/ProfileUnit.h"
#include "platform/ReaderApi.h"
#include "platform/ReaderCodesUnit.h"
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

void CheckPortFree(int32_t port, TLines& out) {
  TRequestServer server;
  server.SetPort(port);
  try {
    server.Activate();
    server.Deactivate();
  } catch (const std::exception& e) {
    out.Fail("port " + std::to_string(port) + " cannot be bound: " + AnsiToUtf8(e.what()));
    return;
  }
  out.Ok("port " + std::to_string(port) + " is free to bind");
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
void CheckReaderLibrary(const std::string& path, std::optional<int32_t> port, bool diagnose,
                        TLines& out) {
  TReaderLibrary lib(path);
  if (!lib.Loaded()) {
    out.Fail("reader library " + path + " cannot be used: " + lib.Error());
    return;
  }
  out.Ok("reader library " + path + " loaded with StartSCard, ReadCard, WriteCard, EndSCard");
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
  else
    out.Fail("reader on port " + std::to_string(*port) + ": " + line + " (code " +
             ReaderCodeText(rc) + ")");
}

void CheckRecordStore(const std::string& home, TLines& out) {
  std::string file = home + "Client.db";
  if (!FileExists(file)) {
    out.Fail(file + " is missing: create it with velio-interfaced --init-db --home " + home);
    return;
  }
  std::string error;
  if (!ProbeDoorlockDatabase(file, error)) {
    out.Fail(file + " cannot be used: " + error);
    return;
  }
  out.Ok(file + " opens for writing with T_Room and T_IssueCardRecord");
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
      if (port != 0) CheckPortFree(port, out);
    });
  }
  if (request.Mode == kModeMember) {
    std::optional<int32_t> readerPort;
    if (readable) guarded("member options", [&] { readerPort = CheckMemberOptions(file, out); });
    std::string path =
        request.ReaderLibrary.empty() ? TReaderLibrary::DefaultPath() : request.ReaderLibrary;
    guarded("reader library", [&] { CheckReaderLibrary(path, readerPort, readable, out); });
  } else if (request.Mode == kModeDoorlock) {
    guarded("Client.db", [&] { CheckRecordStore(home, out); });
  }
  return out.Take();
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

// SelfCheckUnit: velio-interfaced --check, what would stop the service.
//
// RunSelfCheck looks at one home folder and one interface mode the way the
// server would use them at start-up and answers one line per item, each OK, a
// warning (the server runs, but not as the administrator may expect) or a
// failure (the server would not start, or its requests would fail):
//
//   home folder   exists and may be written (the daily log), today's log too
//   Option.ini    readable when present; its text is code page 936 (see
//                 Cp936TextProblem); the mode's port is a number 1..65535
//   port          free to bind on the --listen address, bound and released
//                 again as the server does; a port held by this home's own
//                 running server is OK (an Option.ini that cannot be read
//                 skips the checks of its values)
//   member mode   PortName is USB or COM0..COM9; Key is 12 hexadecimal digits;
//                 KeyFlag is KEY_A or KEY_B; the reader library the service
//                 would load (ChooseReaderLibrary) loads with its four
//                 functions; when it also exports
//                   int ReaderDiagnose(int port, char* text, int size)
//                 its answer (0: service reachable, reader present) and its
//                 one line of text
//   door-lock     the store the server opens: the --store ODBC source connects
//                 and holds both tables, else the default database of the
//                 system (Client.db, Client.mdb on Windows) opens for writing
//                 with both tables; a missing one is a warning (the server
//                 logs it and still answers)
//   police        Guest.ini, read as the simulated police device reads it:
//                 readable, and its GenderID an integer
//
// SelfCheckItems is the same list as a table (item, fails when, warns when);
// the README's table of the self-check holds the same rows.
//
// The check changes nothing: it writes no log entry and no file, and creates
// nothing (on Windows the home's writability is tried with a probe file that
// is removed at once). Texts are UTF-8 for the console. Not thread-safe with a running
// server in the same process (it is the whole of a --check run).
#ifndef VELIO_APP_SELFCHECKUNIT_H_
#define VELIO_APP_SELFCHECKUNIT_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

enum class TCheckStatus { Ok, Warning, Failed };

struct TCheckLine {
  TCheckStatus Status = TCheckStatus::Ok;
  std::string Text;  // UTF-8, one line
};

struct TSelfCheckRequest {
  std::string Home;           // the home folder, ending with the separator
  int32_t Mode = 3;           // kModeMember, kModeDoorlock or kModePolice
  std::string ReaderLibrary;  // --reader-library; empty: ChooseReaderLibrary's choice
  std::string Store;          // --store ODBC connection string; empty: the default database
  std::string Listen;         // --listen address to bind; empty: every local IPv4 address
};

// One row of the self-check's table: the item and, in words, when its line
// fails and when it warns (empty: never). Markdown, as the README shows it.
struct TCheckItem {
  std::string Item;
  std::string FailsWhen;
  std::string WarnsWhen;
};

// Every item of the self-check, in the order of its lines.
const std::vector<TCheckItem>& SelfCheckItems();

// The reader library the service would load and where that choice comes from.
struct TReaderLibraryChoice {
  std::string Path;
  std::string Source;  // "--reader-library", "VELIO_READER_LIBRARY", the
                       // defaults file's path, or "the default beside the program"
};

// given (--reader-library) when not empty; else VELIO_READER_LIBRARY from the
// environment when set and not empty; else VELIO_READER_LIBRARY from the
// service's defaults file (ServiceDefaultsFile) when it names one; else
// TReaderLibrary::DefaultPath().
TReaderLibraryChoice ChooseReaderLibrary(const std::string& given);

// The file the service's unit reads its environment from:
// VELIO_DEFAULTS_FILE when set and not empty, else /etc/default/velio-interfaced
// (Linux); empty on Windows (the service has no such file there).
std::string ServiceDefaultsFile();

// The value of key in the text of an environment file as systemd reads it
// (KEY=value lines, # and ; comments, a value may be in double or single
// quotes; the last assignment wins), or empty text.
std::string EnvironmentFileValue(std::string_view text, std::string_view key);

// Every check of the mode, in the order of the list above.
std::vector<TCheckLine> RunSelfCheck(const TSelfCheckRequest& request);

// 0 when no line failed, 1 otherwise (warnings do not count).
int SelfCheckExitCode(const std::vector<TCheckLine>& lines);

// "OK       text", "WARNING  text" or "FAILED   text".
std::string FormatCheckLine(const TCheckLine& line);

// Why the bytes of an option file are not code page 936 text, or empty when
// they are. The rule: a file that starts with the UTF-8 byte-order mark
// (EF BB BF) is UTF-8; a file whose bytes above 0x7F all form well-formed
// UTF-8 sequences is UTF-8 (code page 936 text seldom does); a file with a
// byte that code page 936 cannot start a character with (0xFF), or with a lead
// byte 0x81..0xFE not followed by a trail byte 0x40..0xFE other than 0x7F, is
// not code page 936 either. Pure ASCII is both, and passes.
std::string Cp936TextProblem(std::string_view bytes);

#endif  // VELIO_APP_SELFCHECKUNIT_H_

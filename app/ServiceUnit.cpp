// ServiceUnit: the service manager's calls around the headless entry.
//
// install/uninstall talk to the service control manager. Every failure is
// printed with the error code taken at once after the call that failed, so a
// later call cannot replace it (and a zero code never reads "Success").
// install creates the service first and writes the connection-string file
// after it, so a service that exists already keeps the file it has; the file
// is created new, its protected DACL (SYSTEM and Administrators, full control,
// nothing inherited) given at creation, so it is never readable by others,
// even for a moment.
//
// run hands the main thread to StartServiceCtrlDispatcherW; the manager's
// thread then calls ServiceMain, which reports START_PENDING (again every
// second, with a rising checkpoint, while start-up takes), runs the entry's
// Serve, reports RUNNING from Serve's callback once the server listens, and
// STOPPED with Serve's exit code. A command line that no longer parses (its
// home or reader library removed since install) or an unreadable
// connection-string file still goes through the dispatcher: the reason is
// written to the home's log (the executable folder's when the home is gone)
// and the service reports STOPPED with code 2. The
// control handler answers STOP and SHUTDOWN by reporting STOP_PENDING and
// calling the entry's Stop. A service's standard error leads nowhere, so with
// --verbose std::cerr (where the verbose lines and start-up warnings go) is
// pointed at a file of the home for the time the service runs.
#include "app/ServiceUnit.h"

// clang-format off
#include <windows.h>
#include <sddl.h>
#include <shellapi.h>
// clang-format on

#include <chrono>
#include <condition_variable>
#include <fstream>
#include <iostream>
#include <mutex>
#include <sstream>
#include <thread>

#include "app/MainUnit.h"
#include "doorlock/OdbcStoreUnit.h"
#include "platform/PathUnit.h"
#include "services/InterfaceModeUnit.h"
#include "services/LogFileUnit.h"

namespace {

constexpr char kProgram[] = "velio-interfaced: ";

// The system's words for an error code (UTF-8).
std::string ErrorText(DWORD code) {
  if (code == 0) return "the system gave no reason";
  wchar_t buf[512];
  DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                           code, 0, buf, 512, nullptr);
  while (n > 0 && (buf[n - 1] == L'\r' || buf[n - 1] == L'\n' || buf[n - 1] == L' ')) --n;
  return (n ? Utf8FromWide(std::wstring(buf, n)) + " " : std::string()) + "(error " +
         std::to_string(code) + ")";
}

// Prints "velio-interfaced: what: <the system's reason>"; answers 1.
int Fail(const std::string& what, DWORD code) {
  std::cerr << kProgram << what << ": " << ErrorText(code) << std::endl;
  return 1;
}

// One handle of the service control manager's API, closed when done.
class TScHandle {
 public:
  explicit TScHandle(SC_HANDLE h) : h_(h) {}
  ~TScHandle() {
    if (h_) CloseServiceHandle(h_);
  }
  TScHandle(const TScHandle&) = delete;
  TScHandle& operator=(const TScHandle&) = delete;
  SC_HANDLE get() const { return h_; }
  explicit operator bool() const { return h_ != nullptr; }

 private:
  SC_HANDLE h_;
};

// An argument as CreateProcess's parser reads it back: as it is when it has
// no blank and no quote, else quoted (backslashes before a quote doubled).
std::string Quoted(const std::string& arg) {
  if (!arg.empty() && arg.find_first_of(" \t\"") == std::string::npos) return arg;
  std::string out = "\"";
  size_t backslashes = 0;
  for (char c : arg) {
    if (c == '\\') {
      ++backslashes;
    } else {
      if (c == '"') out.append(backslashes + 1, '\\');
      backslashes = 0;
    }
    out.push_back(c);
  }
  out.append(backslashes, '\\');
  return out + "\"";
}

// The home folder the service uses, absolute, ending with the separator.
std::string HomeFolder(const TProgramOptions& options) {
  if (options.Home.empty()) return ExecutableDir();
  std::string home = AbsolutePath(options.Home);
  if (home.empty() || home.back() != kPathDelim) home += kPathDelim;
  return home;
}

// Where install keeps the store's connection string for the mode's service.
std::string StoreFileFor(const TProgramOptions& options) {
  return HomeFolder(options) + "Store-" + ModeNameForMode(options.Mode) + ".conn";
}

// The service's arguments after "service run": every server option given to
// install. storeFile: the file that holds --store's connection string.
std::vector<std::string> ServiceArguments(const TProgramOptions& options,
                                          const std::string& storeFile) {
  std::vector<std::string> args = {"--mode", ModeNameForMode(options.Mode)};
  if (!options.Home.empty()) args.insert(args.end(), {"--home", AbsolutePath(options.Home)});
  if (!options.Listen.empty()) args.insert(args.end(), {"--listen", options.Listen});
  if (!options.AllowList.empty()) args.insert(args.end(), {"--allow", options.AllowList});
  if (!options.ReaderLibrary.empty())
    args.insert(args.end(), {"--reader-library", options.ReaderLibrary});
  if (options.Verbose) args.push_back("--verbose");
  if (!options.Store.empty()) args.insert(args.end(), {"--store-file", storeFile});
  return args;
}

// Creates path anew holding text, readable and writable by SYSTEM and the
// administrators only. Answers 0, or the error code of the call that failed.
DWORD WriteAdministratorsOnlyFile(const std::string& path, const std::string& text) {
  const std::wstring wide = WidePath(path);
  if (!DeleteFileW(wide.c_str()) && GetLastError() != ERROR_FILE_NOT_FOUND) return GetLastError();
  // Protected (nothing inherited from the folder): full control for the local
  // system account and the administrators' group, no one else.
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:P(A;;FA;;;SY)(A;;FA;;;BA)",
                                                            SDDL_REVISION_1, &descriptor, nullptr))
    return GetLastError();
  SECURITY_ATTRIBUTES attributes = {sizeof attributes, descriptor, FALSE};
  HANDLE file = CreateFileW(wide.c_str(), GENERIC_WRITE, 0, &attributes, CREATE_NEW,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  DWORD error = file == INVALID_HANDLE_VALUE ? GetLastError() : 0;
  LocalFree(descriptor);
  if (error) return error;
  DWORD written = 0;
  if (!WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) ||
      written != text.size())
    error = GetLastError() ? GetLastError() : ERROR_WRITE_FAULT;
  if (!CloseHandle(file) && !error) error = GetLastError();
  if (error) DeleteFileW(wide.c_str());
  return error;
}

int Install(const TProgramOptions& options) {
  const std::string name = ServiceNameForMode(options.Mode);
  const std::string storeFile = StoreFileFor(options);
  wchar_t exe[32768];
  DWORD n = GetModuleFileNameW(nullptr, exe, 32768);
  // The program's path always quoted (a path with blanks, unquoted, could be
  // read as a shorter program's path and its arguments).
  std::string command = "\"" + Utf8FromWide(std::wstring(exe, n)) + "\" service run";
  for (const std::string& arg : ServiceArguments(options, storeFile)) command += " " + Quoted(arg);

  TScHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CREATE_SERVICE));
  if (!manager) return Fail("cannot open the service manager", GetLastError());
  const std::u16string display = AnsiToWide(TitleForMode(options.Mode));
  TScHandle service(CreateServiceW(
      manager.get(), WidePath(name).c_str(), reinterpret_cast<LPCWSTR>(display.c_str()),
      SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START, SERVICE_ERROR_NORMAL,
      WidePath(command).c_str(), nullptr, nullptr, nullptr, nullptr, nullptr));
  if (!service) {
    const DWORD error = GetLastError();
    if (error == ERROR_SERVICE_EXISTS) {
      std::cerr << kProgram << "the service " << name
                << " is already installed (service uninstall --mode "
                << ModeNameForMode(options.Mode) << " removes it)" << std::endl;
      return 1;
    }
    return Fail("cannot install the service " + name, error);
  }
  if (!options.Store.empty()) {
    if (DWORD error = WriteAdministratorsOnlyFile(storeFile, options.Store)) {
      DeleteService(service.get());
      return Fail("the service " + name + " is not installed: cannot write " + storeFile, error);
    }
  }
  std::cout << "installed the service " << name << ": " << command << std::endl;
  if (!options.Store.empty())
    std::cout << "the store's connection string is in " << storeFile
              << " (SYSTEM and administrators only): "
              << ConnectionStringWithoutSecrets(options.Store) << std::endl;
  return 0;
}

// The file named by --store-file in the service's installed command line, or
// empty text.
std::string InstalledStoreFile(SC_HANDLE service) {
  DWORD size = 0;
  QueryServiceConfigW(service, nullptr, 0, &size);
  if (size == 0) return std::string();
  std::vector<unsigned char> buffer(size);
  auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data());
  if (!QueryServiceConfigW(service, config, size, &size) || !config->lpBinaryPathName)
    return std::string();
  int count = 0;
  LPWSTR* argv = CommandLineToArgvW(config->lpBinaryPathName, &count);
  if (!argv) return std::string();
  std::string file;
  for (int i = 0; i + 1 < count; ++i)
    if (std::wstring(argv[i]) == L"--store-file") file = Utf8FromWide(argv[i + 1]);
  LocalFree(argv);
  return file;
}

int Uninstall(const TProgramOptions& options) {
  const std::string name = ServiceNameForMode(options.Mode);
  TScHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
  if (!manager) return Fail("cannot open the service manager", GetLastError());
  TScHandle service(
      OpenServiceW(manager.get(), WidePath(name).c_str(),
                   SERVICE_STOP | SERVICE_QUERY_STATUS | SERVICE_QUERY_CONFIG | DELETE));
  if (!service) {
    const DWORD error = GetLastError();
    if (error == ERROR_SERVICE_DOES_NOT_EXIST) {
      std::cerr << kProgram << "the service " << name << " is not installed" << std::endl;
      return 1;
    }
    return Fail("cannot open the service " + name, error);
  }
  const std::string storeFile = InstalledStoreFile(service.get());
  // A running service is stopped first, and given the server's stop wait.
  SERVICE_STATUS status = {};
  bool stopping = ControlService(service.get(), SERVICE_CONTROL_STOP, &status);
  if (stopping) {
    for (int i = 0; i < 100 && QueryServiceStatus(service.get(), &status) &&
                    status.dwCurrentState != SERVICE_STOPPED;
         ++i)
      Sleep(100);
    if (status.dwCurrentState == SERVICE_STOPPED) {
      std::cout << "stopped the service " << name << std::endl;
      stopping = false;
    }
  }
  if (!DeleteService(service.get()))
    return Fail("cannot remove the service " + name, GetLastError());
  std::cout << "removed the service " << name
            << (stopping ? " (it is still stopping; the manager forgets it once it has stopped)"
                         : "")
            << std::endl;
  if (storeFile.empty()) return 0;
  if (!DeleteFileW(WidePath(storeFile).c_str())) {
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND) return 0;
    return Fail("cannot remove the service's connection-string file " + storeFile, error);
  }
  std::cout << "removed " << storeFile << std::endl;
  return 0;
}

// The running service: one per process.
struct TRunning {
  const TServiceEntry* entry = nullptr;
  TProgramOptions options;
  std::string startError;  // UTF-8; set when the service cannot start at all
  int startCode = 0;
  std::wstring name;
  SERVICE_STATUS_HANDLE handle = nullptr;
  std::mutex lock;  // the status, reported from the manager's and the ticker's threads
  SERVICE_STATUS status = {};
  std::ofstream verbose;                   // std::cerr of a service run with --verbose
  std::streambuf* stderrBuffer = nullptr;  // std::cerr's own, while it writes to verbose
} gRun;

constexpr DWORD kStartWaitHintMs = 10000;

void Report(DWORD state, DWORD exitCode = NO_ERROR, DWORD waitHint = 0) {
  std::lock_guard<std::mutex> hold(gRun.lock);
  const bool pending = state == SERVICE_START_PENDING || state == SERVICE_STOP_PENDING;
  gRun.status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  gRun.status.dwCurrentState = state;
  gRun.status.dwControlsAccepted =
      state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN : 0;
  gRun.status.dwWin32ExitCode = exitCode == 0 ? NO_ERROR : ERROR_SERVICE_SPECIFIC_ERROR;
  gRun.status.dwServiceSpecificExitCode = exitCode;
  gRun.status.dwWaitHint = waitHint;
  gRun.status.dwCheckPoint = pending ? gRun.status.dwCheckPoint + 1 : 0;
  SetServiceStatus(gRun.handle, &gRun.status);
}

// While start-up runs, tells the manager every second that it goes on.
class TStartPendingTicker {
 public:
  TStartPendingTicker() : thread_([this] { Tick(); }) {}
  ~TStartPendingTicker() { Stop(); }
  TStartPendingTicker(const TStartPendingTicker&) = delete;
  TStartPendingTicker& operator=(const TStartPendingTicker&) = delete;

  // Ends the reports; none follows once this returns.
  void Stop() {
    {
      std::lock_guard<std::mutex> hold(lock_);
      done_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
  }

 private:
  void Tick() {
    std::unique_lock<std::mutex> hold(lock_);
    while (!wake_.wait_for(hold, std::chrono::seconds(1), [this] { return done_; }))
      Report(SERVICE_START_PENDING, NO_ERROR, kStartWaitHintMs);
  }

  std::mutex lock_;
  std::condition_variable wake_;
  bool done_ = false;
  std::thread thread_;
};

DWORD WINAPI ControlHandler(DWORD control, DWORD, LPVOID, LPVOID) {
  switch (control) {
    case SERVICE_CONTROL_STOP:
    case SERVICE_CONTROL_SHUTDOWN:
      // The server waits up to 5 s for its handler threads.
      Report(SERVICE_STOP_PENDING, NO_ERROR, 10000);
      gRun.entry->Stop();
      return NO_ERROR;
    case SERVICE_CONTROL_INTERROGATE:
      return NO_ERROR;
    default:
      return ERROR_CALL_NOT_IMPLEMENTED;
  }
}

// Writes a reason the service could not start to the daily log of its home.
void LogStartFailure(const std::string& utf8) {
  if (!gRun.options.Home.empty() && DirectoryExists(gRun.options.Home))
    SetHomeDir(gRun.options.Home);
  TLogFile log(DailyLogFileName());
  log.WriteLog(Utf8ToAnsi(utf8));
}

void WINAPI ServiceMain(DWORD, LPWSTR*) {
  gRun.handle = RegisterServiceCtrlHandlerExW(gRun.name.c_str(), ControlHandler, nullptr);
  if (!gRun.handle) return;
  Report(SERVICE_START_PENDING, NO_ERROR, kStartWaitHintMs);
  if (!gRun.startError.empty()) {
    LogStartFailure(kProgram + gRun.startError);
    Report(SERVICE_STOPPED, static_cast<DWORD>(gRun.startCode));
    return;
  }
  // A service has no console (its standard error leads nowhere): with
  // --verbose, what the program says on std::cerr goes to a file instead.
  if (gRun.options.Verbose) {
    const std::string file =
        HomeFolder(gRun.options) + "Verbose-" + ModeNameForMode(gRun.options.Mode) + ".log";
    gRun.verbose.open(NativePath(file), std::ios::out | std::ios::app);
    if (gRun.verbose) gRun.stderrBuffer = std::cerr.rdbuf(gRun.verbose.rdbuf());
  }
  TStartPendingTicker ticker;
  int code = gRun.entry->Serve(gRun.options, [&ticker] {
    ticker.Stop();
    Report(SERVICE_RUNNING);
  });
  ticker.Stop();
  if (gRun.stderrBuffer) std::cerr.rdbuf(gRun.stderrBuffer);
  Report(SERVICE_STOPPED, static_cast<DWORD>(code));
}

int Run(const TServiceEntry& entry) {
  gRun.entry = &entry;
  gRun.name = WidePath(ServiceNameForMode(gRun.options.Mode));
  SERVICE_TABLE_ENTRYW table[] = {{gRun.name.data(), ServiceMain}, {nullptr, nullptr}};
  if (!StartServiceCtrlDispatcherW(table)) {
    const DWORD error = GetLastError();
    if (!gRun.startError.empty()) std::cerr << kProgram << gRun.startError << std::endl;
    if (error == ERROR_FAILED_SERVICE_CONTROLLER_CONNECT) {
      std::cerr << kProgram
                << "service run is the service manager's entry: start the service with "
                   "sc start "
                << ServiceNameForMode(gRun.options.Mode)
                << ", or run velio-interfaced.exe without \"service run\" in a console"
                << std::endl;
      return 1;
    }
    return Fail("cannot reach the service manager", error);
  }
  return static_cast<int>(gRun.status.dwServiceSpecificExitCode);
}

// Takes "--store-file PATH" (or "--store-file=PATH") out of args into file.
// False when the option lacks its path.
bool TakeStoreFileOption(std::vector<std::string>& args, std::string& file) {
  for (size_t i = 1; i < args.size(); ++i) {
    if (args[i] == "--store-file") {
      if (i + 1 >= args.size()) return false;
      file = args[i + 1];
      args.erase(args.begin() + static_cast<std::ptrdiff_t>(i),
                 args.begin() + static_cast<std::ptrdiff_t>(i + 2));
      return true;
    }
    if (args[i].rfind("--store-file=", 0) == 0) {
      file = args[i].substr(13);
      args.erase(args.begin() + static_cast<std::ptrdiff_t>(i));
      return true;
    }
  }
  return true;
}

// The options of "service run": parsed as the console program's, with the
// store's connection string read from --store-file. A failure is kept in
// gRun.startError for the service to log and report.
void ParseRunOptions(std::vector<std::string> rest) {
  std::string storeFile;
  if (!TakeStoreFileOption(rest, storeFile)) {
    gRun.startError = "--store-file: the file's path is missing";
    gRun.startCode = 2;
    return;
  }
  std::vector<char*> argv;
  for (std::string& a : rest) argv.push_back(a.data());
  // The parser's messages are kept for the log (a service has no console).
  std::ostringstream said;
  std::streambuf* out = std::cout.rdbuf(said.rdbuf());
  std::streambuf* err = std::cerr.rdbuf(said.rdbuf());
  const int code =
      ParseProgramOptions(static_cast<int>(argv.size()), argv.data(), true, gRun.options);
  std::cout.rdbuf(out);
  std::cerr.rdbuf(err);
  if (code >= 0) {
    std::string text = said.str();
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    gRun.startError = "the service's command line: " + text;
    gRun.startCode = 2;
    return;
  }
  if (storeFile.empty()) return;
  std::string text, error;
  if (!ReadWholeFile(storeFile, text, error)) {
    gRun.startError = "--store-file " + storeFile + ": " + error;
    gRun.startCode = 2;
    return;
  }
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  gRun.options.Store = text;
}

}  // namespace

std::string ServiceNameForMode(int32_t mode) {
  return std::string("VelioInterface-") + ModeNameForMode(mode);
}

int RunServiceCommand(const std::vector<std::string>& args, const TServiceEntry& entry) {
  const std::string verb = args.size() > 2 ? args[2] : std::string();
  if (verb != "install" && verb != "uninstall" && verb != "run") {
    std::cerr << "usage: velio-interfaced.exe service install [--mode M] [--home DIR] "
                 "[--listen ADDRESS] [--allow LIST] [--reader-library PATH] [--verbose] "
                 "[--store ODBC]\n"
                 "       velio-interfaced.exe service uninstall [--mode M]\n"
                 "(velio-interfaced.exe --help says more)"
              << std::endl;
    return 2;
  }
  // The options after the verb, parsed as the console program's.
  std::vector<std::string> rest{args[0]};
  rest.insert(rest.end(), args.begin() + 3, args.end());
  if (verb == "run") {
    ParseRunOptions(rest);
    return Run(entry);
  }
  std::vector<char*> argv;
  for (std::string& a : rest) argv.push_back(a.data());
  TProgramOptions options;
  int code = ParseProgramOptions(static_cast<int>(argv.size()), argv.data(), true, options);
  if (code >= 0) return code;
  // One-off commands have no place in a service's command line.
  for (const auto& [given, option] :
       {std::pair{options.Check, "--check"}, std::pair{options.InitDb, "--init-db"}}) {
    if (given) {
      std::cerr << kProgram << "service " << verb << ": " << option
                << " cannot be given to a service; run it on its own" << std::endl;
      return 2;
    }
  }
  if (verb == "install") return Install(options);
  return Uninstall(options);
}

// ServiceUnit: the service manager's calls around the headless entry.
//
// install/uninstall talk to the service control manager. run hands the main
// thread to StartServiceCtrlDispatcherW; the manager's thread then calls
// ServiceMain, which reports START_PENDING, runs the entry's Serve (RUNNING is
// reported once start-up is done, from the serve callback's first wait) and
// reports STOPPED with Serve's exit code. The control handler answers STOP and
// SHUTDOWN by reporting STOP_PENDING and calling the entry's Stop.
#include "app/ServiceUnit.h"

#include <windows.h>

#include <iostream>

#include "app/MainUnit.h"
#include "platform/PathUnit.h"
#include "services/InterfaceModeUnit.h"

namespace {

// Whoever wrote the last error, in words (UTF-8).
std::string ErrorText(DWORD code) {
  wchar_t buf[512];
  DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                           code, 0, buf, 512, nullptr);
  while (n > 0 && (buf[n - 1] == L'\r' || buf[n - 1] == L'\n' || buf[n - 1] == L' ')) --n;
  return n ? Utf8FromWide(std::wstring(buf, n)) : "error " + std::to_string(code);
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

int Fail(const std::string& what) {
  std::cerr << what << ": " << ErrorText(GetLastError()) << std::endl;
  return 1;
}

// A command-line argument quoted for CreateProcess's parser.
std::wstring Quoted(const std::string& arg) {
  std::wstring out = L"\"";
  size_t backslashes = 0;
  for (wchar_t c : WidePath(arg)) {
    if (c == L'\\') {
      ++backslashes;
    } else {
      if (c == L'"') out.append(backslashes + 1, L'\\');
      backslashes = 0;
    }
    out.push_back(c);
  }
  out.append(backslashes, L'\\');
  return out + L"\"";
}

int Install(const TProgramOptions& options) {
  wchar_t exe[32768];
  DWORD n = GetModuleFileNameW(nullptr, exe, 32768);
  std::wstring command = Quoted(Utf8FromWide(std::wstring(exe, n))) + L" service run --mode " +
                         WidePath(ModeNameForMode(options.Mode));
  if (!options.Home.empty()) command += L" --home " + Quoted(AbsolutePath(options.Home));
  if (!options.Store.empty()) command += L" --store " + Quoted(options.Store);
  TScHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CREATE_SERVICE));
  if (!manager) return Fail("OpenSCManager");
  const std::string name = ServiceNameForMode(options.Mode);
  const std::u16string display = AnsiToWide(TitleForMode(options.Mode));
  TScHandle service(CreateServiceW(
      manager.get(), WidePath(name).c_str(), reinterpret_cast<LPCWSTR>(display.c_str()),
      SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START, SERVICE_ERROR_NORMAL,
      command.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr));
  if (!service) return Fail("CreateService " + name);
  std::cout << name << std::endl;
  return 0;
}

int Uninstall(const TProgramOptions& options) {
  TScHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
  if (!manager) return Fail("OpenSCManager");
  const std::string name = ServiceNameForMode(options.Mode);
  TScHandle service(OpenServiceW(manager.get(), WidePath(name).c_str(),
                                 SERVICE_STOP | SERVICE_QUERY_STATUS | DELETE));
  if (!service) return Fail("OpenService " + name);
  // A running service is stopped first, and given the server's stop wait.
  SERVICE_STATUS status = {};
  if (ControlService(service.get(), SERVICE_CONTROL_STOP, &status)) {
    for (int i = 0; i < 100 && QueryServiceStatus(service.get(), &status) &&
                    status.dwCurrentState != SERVICE_STOPPED;
         ++i)
      Sleep(100);
  }
  if (!DeleteService(service.get())) return Fail("DeleteService " + name);
  std::cout << name << std::endl;
  return 0;
}

// The running service: one per process.
struct TRunning {
  const TServiceEntry* entry = nullptr;
  TProgramOptions options;
  std::wstring name;
  SERVICE_STATUS_HANDLE handle = nullptr;
  SERVICE_STATUS status = {};
} gRun;

void Report(DWORD state, DWORD exitCode = NO_ERROR, DWORD waitHint = 0) {
  gRun.status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  gRun.status.dwCurrentState = state;
  gRun.status.dwControlsAccepted =
      state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN : 0;
  gRun.status.dwWin32ExitCode = exitCode == 0 ? NO_ERROR : ERROR_SERVICE_SPECIFIC_ERROR;
  gRun.status.dwServiceSpecificExitCode = exitCode;
  gRun.status.dwWaitHint = waitHint;
  ++gRun.status.dwCheckPoint;
  SetServiceStatus(gRun.handle, &gRun.status);
}

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

void WINAPI ServiceMain(DWORD, LPWSTR*) {
  gRun.handle = RegisterServiceCtrlHandlerExW(gRun.name.c_str(), ControlHandler, nullptr);
  if (!gRun.handle) return;
  Report(SERVICE_START_PENDING, NO_ERROR, 10000);
  int code = gRun.entry->Serve(gRun.options, [] { Report(SERVICE_RUNNING); });
  Report(SERVICE_STOPPED, static_cast<DWORD>(code));
}

int Run(const TProgramOptions& options, const TServiceEntry& entry) {
  gRun.entry = &entry;
  gRun.options = options;
  gRun.name = WidePath(ServiceNameForMode(options.Mode));
  SERVICE_TABLE_ENTRYW table[] = {{gRun.name.data(), ServiceMain}, {nullptr, nullptr}};
  if (!StartServiceCtrlDispatcherW(table)) return Fail("StartServiceCtrlDispatcher");
  return static_cast<int>(gRun.status.dwServiceSpecificExitCode);
}

}  // namespace

std::string ServiceNameForMode(int32_t mode) {
  return std::string("VelioInterface-") + ModeNameForMode(mode);
}

int RunServiceCommand(const std::vector<std::string>& args, const TServiceEntry& entry) {
  const std::string verb = args.size() > 2 ? args[2] : std::string();
  if (verb != "install" && verb != "uninstall" && verb != "run") {
    std::cerr << "usage: " << (args.empty() ? "velio-interfaced" : args[0])
              << " service install|uninstall|run [--mode M] [--home DIR] [--store S]" << std::endl;
    return 2;
  }
  // The options after the verb, parsed as the console program's.
  std::vector<std::string> rest{args[0]};
  rest.insert(rest.end(), args.begin() + 3, args.end());
  std::vector<char*> argv;
  for (std::string& a : rest) argv.push_back(a.data());
  TProgramOptions options;
  int code = ParseProgramOptions(static_cast<int>(argv.size()), argv.data(), true, options);
  if (code >= 0) return code;
  if (verb == "install") return Install(options);
  if (verb == "uninstall") return Uninstall(options);
  return Run(options, entry);
}

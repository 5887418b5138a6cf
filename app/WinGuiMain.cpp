// velio-interface.exe: the operator's desktop program on Windows.
//
//   velio-interface.exe [--home DIR] [--mode member|doorlock|police] [--reader-library PATH]
//
// Start-up as on Linux: the command line (UTF-8 from the wide command line),
// the process-wide modules, the Windows hooks, the common controls, the device
// session of the mode; then the main window runs modally until it closes (its
// loop is the program's only loop); then the session closes its device and the
// modules are finalised. Started from a console, the program writes its errors
// there, and the console's Ctrl+C, Ctrl+Break and close stop it in order
// without the password prompt; so does the end of the Windows session
// (TMainWinForm::OnEndSession runs the same shut-down from the window).
// clang-format off
#include <windows.h>
#include <commctrl.h>
// clang-format on

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <optional>
#include <string>
#include <vector>

#include "app/MainWinFormUnit.h"
#include "app/StartupUnit.h"
#include "platform/CodePageUnit.h"
#include "platform/PathUnit.h"
#include "win/WinCommonUnit.h"

namespace {

// Set while the main thread shuts down after a stop request; the console
// handler waits for it, since the process ends when that handler returns
// for a console close, log-off or shut-down.
HANDLE gFinished = CreateEventW(nullptr, TRUE, FALSE, nullptr);

BOOL WINAPI OnConsoleCtrl(DWORD event) {
  RequestStop();
  if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT) return TRUE;
  WaitForSingleObject(gFinished, 10000);
  return TRUE;
}

// Standard output and error go to the console the program was started from,
// if any (a Windows program has none of its own).
void UseParentConsole() {
  if (!AttachConsole(ATTACH_PARENT_PROCESS)) return;
  if (_fileno(stdout) < 0 || GetStdHandle(STD_OUTPUT_HANDLE) == nullptr) {
    std::freopen("CONOUT$", "w", stdout);
    std::freopen("CONOUT$", "w", stderr);
  }
  SetConsoleOutputCP(CP_UTF8);
  SetConsoleCtrlHandler(OnConsoleCtrl, TRUE);
}

}  // namespace

int main(int argc, char** argv) {
  UseParentConsole();
  std::vector<std::string> args = Utf8Arguments(argc, argv);
  std::vector<char*> argvUtf8;
  for (std::string& a : args) argvUtf8.push_back(a.data());
  TProgramOptions options;
  const int parsed = ParseProgramOptions(int(argvUtf8.size()), argvUtf8.data(),
                                         /*headless=*/false, options);
  if (parsed >= 0) return parsed;

  INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_BAR_CLASSES | ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&controls);
  InitializeModules(options);
  int result = 0;
  TWinHooks hooks;
  SetUiHooks(&hooks);
  {
    std::optional<TDeviceSession> session;
    // The end of the Windows session: the window has stopped the server; the
    // device and the modules follow here, before the process is ended.
    auto finish = [&session] {
      session.reset();
      SetUiHooks(nullptr);
      FinalizeModules();
      std::fflush(stdout);
      std::fflush(stderr);
      SetEvent(gFinished);
      std::_Exit(0);
    };
    try {
      session.emplace(options.Mode, options.ReaderLibrary);
      RunMainWinWindow(*session, finish);
    } catch (const std::exception& e) {
      std::fprintf(stderr, "velio-interface: %s\n", AnsiToUtf8(e.what()).c_str());
      result = 1;
    }
  }
  SetUiHooks(nullptr);
  FinalizeModules();
  std::fflush(stdout);
  std::fflush(stderr);
  SetEvent(gFinished);
  if (ServerStopFailed()) std::_Exit(result);  // handler threads still run: destroy nothing
  return result;
}

// velio-interfaced: the interface server without a window.
//
// Runs the start-up of the desktop program (modules, the mode's device, the
// server on the mode's port), prints the memo's start and stop lines on stdout
// and serves until SIGINT, SIGTERM or SIGHUP (a closed terminal or a logout
// stops it in order too, never in the middle of a write); then stops the server, closes the device
// and shuts the modules down in reverse order. Errors go to stderr: a server
// that cannot start exits 1 after the orderly shut-down; its line names the
// mode and the port beside the server's own message. A reader library that
// cannot be loaded is said on stderr at start-up too (the server still serves,
// answering card requests with 500).
// Under systemd's journal, error lines carry the error priority.
//
// --check starts nothing: it reports what would stop the server in the home
// folder and mode (SelfCheckUnit) and exits 1 when anything would.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "app/MainUnit.h"
#include "app/SelfCheckUnit.h"
#include "app/StartupUnit.h"
#include "doorlock/OdbcStoreUnit.h"
#include "doorlock/RecordStoreFactoryUnit.h"
#include "platform/ErrorsUnit.h"
#include "platform/JournalUnit.h"
#include "platform/PathUnit.h"
#include "platform/PortOwnerUnit.h"
#include "server/TCPServerUnit.h"
#include "services/LogFileUnit.h"

#ifndef _WIN32
#include <pthread.h>
#else
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include "app/ServiceUnit.h"
#endif

namespace {

void PrintLine(std::ostream& out, const AnsiString& text) {
  out << AnsiToUtf8(text) << std::endl;
}

// Errors go to stderr; when that is the service's journal, with the error
// priority ("<3>"), so that journalctl -p err shows them.
void PrintError(const std::string& utf8) {
  static const bool journal = StreamIsJournal(2);
  std::cerr << (journal ? "<3>" : "") << utf8 << std::endl;
}

#ifdef _WIN32
// Set by Ctrl+C / Ctrl+Break / closing the console, or by the service manager.
HANDLE gStopEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
BOOL WINAPI OnConsoleCtrl(DWORD) {
  SetEvent(gStopEvent);
  return TRUE;
}
#endif

// Blocks the stop signals in this thread and every thread started after it, so
// WaitForStopSignal can take them synchronously.
void PrepareSignals() {
#ifdef _WIN32
  SetConsoleCtrlHandler(OnConsoleCtrl, TRUE);
#else
  std::signal(SIGPIPE, SIG_IGN);
  std::signal(SIGXFSZ, SIG_IGN);  // a full log file fails the write instead
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGHUP);
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
#endif
}

void WaitForStopSignal() {
#ifdef _WIN32
  WaitForSingleObject(gStopEvent, INFINITE);
#else
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGHUP);
  int sig = 0;
  while (sigwait(&set, &sig) != 0) {
  }
#endif
}

int Serve(const TProgramOptions& options, const std::function<void()>& onServing);

}  // namespace

int main(int argc, char** argv) {
  // Arguments in UTF-8 on every system (on Windows from the wide command line).
  std::vector<std::string> args = Utf8Arguments(argc, argv);
#ifdef _WIN32
  // The lines are printed in UTF-8, each ended by a line feed, as on Linux.
  SetConsoleOutputCP(CP_UTF8);
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
  if (args.size() >= 2 && args[1] == "service")
    return RunServiceCommand(args, {Serve, [] { SetEvent(gStopEvent); }});
#endif
  std::vector<char*> argvUtf8;
  for (std::string& a : args) argvUtf8.push_back(a.data());
  TProgramOptions options;
  int code = ParseProgramOptions(static_cast<int>(argvUtf8.size()), argvUtf8.data(),
                                 /*headless=*/true, options);
  if (code >= 0) return code;

  if (options.InitDb) {
    if (!options.Home.empty()) SetHomeDir(options.Home);
    std::string error;
    std::string file = options.Store.empty() ? DefaultDoorlockDatabase() : options.Store;
    std::vector<std::string> created;
    bool made = options.Store.empty() ? CreateDoorlockDatabase(file, error)
                                      : CreateDoorlockTables(file, error, &created);
    // A connection string is shown without its passwords, also where the
    // driver's message repeats it.
    // A password's value is hidden wherever else it stands in the string too.
    const std::string shown = options.Store.empty()
                                  ? file
                                  : TextWithoutSecrets(ConnectionStringWithoutSecrets(file), file);
    if (!made) {
      std::cerr << shown << ": "
                << (options.Store.empty() ? error : TextWithoutSecrets(error, file)) << std::endl;
      return 1;
    }
    if (options.Store.empty()) {
      std::cout << shown << std::endl;
      return 0;
    }
    // A source is made once: a second run says there was nothing to do.
    std::string list;
    for (const std::string& table : created) list += (list.empty() ? "" : ", ") + table;
    std::cout << shown << ": "
              << (created.empty() ? std::string("T_Room and T_IssueCardRecord exist already; "
                                                "nothing changed")
                                  : "created " + list)
              << std::endl;
    return 0;
  }
  if (options.Check) {
    if (!options.Home.empty()) SetHomeDir(options.Home);
    TSelfCheckRequest request;
    request.Home = HomeDir();
    request.Mode = options.Mode;
    request.ReaderLibrary = options.ReaderLibrary;
    request.Store = options.Store;
    request.Listen = options.Listen;
    std::vector<TCheckLine> lines = RunSelfCheck(request);
    for (const TCheckLine& line : lines) std::cout << FormatCheckLine(line) << "\n";
    std::cout.flush();
    return SelfCheckExitCode(lines);
  }
  return Serve(options, nullptr);
}

namespace {

// Start-up, serving until the stop signal, shut-down; the exit code. A service
// (onServing given) has no console: its start and stop lines and the reason it
// could not start go to the log; onServing is called only once the server
// listens.
int Serve(const TProgramOptions& options, const std::function<void()>& onServing) {
  auto print = [&onServing](std::ostream& out, const AnsiString& text) {
    if (onServing)
      WriteLog(text);
    else
      PrintLine(out, text);
  };
  // Errors: stderr (with the journal's error priority under systemd), or the
  // log for a service, which has no console.
  auto printError = [&onServing](const AnsiString& text) {
    if (onServing)
      WriteLog(text);
    else
      PrintError(AnsiToUtf8(text));
  };
  PrepareSignals();
  InitializeModules(options);
  int exitCode = 0;
  {
    TDeviceSession session(options.Mode, options.ReaderLibrary);
    if (const std::string problem = session.ReaderProblem(); !problem.empty())
      PrintError("velio-interfaced: " + problem);
    session.Install();
    TRequestServer server;
    server.SetPort(PortForMode(options.Mode));
    print(std::cout, StartLineForMode(options.Mode));
    bool serving = true;
    std::optional<TPortClaim> claim;  // the self-check's way to this server on Windows
    try {
      server.Activate();
      claim.emplace(server.Port(), HomeDir());
    } catch (const std::exception& e) {
      // The system's own message, with the mode and the port it could not take.
      const std::string address = server.ListenAddress();
      printError(std::string("velio-interfaced: ") + ModeNameForMode(options.Mode) + " mode, " +
                 (address.empty() ? std::string() : "address " + address + " ") + "port " +
                 std::to_string(server.Port()) + " (" + PortKeyForMode(options.Mode) +
                 " in Option.ini): " + e.what());
      serving = false;
      exitCode = 1;
    }
    // A service that could not start goes from START_PENDING to STOPPED.
    if (onServing && serving) onServing();
    if (serving) WaitForStopSignal();
    try {
      server.Deactivate();
      print(std::cout, StopLine());
    } catch (const std::exception& e) {
      NoteServerStopFailed();
      printError(e.what());
    }
  }
  FinalizeModules();
  if (ServerStopFailed()) {
    // Handler threads are still running: end without destroying anything.
    std::cout.flush();
    std::cerr.flush();
    std::_Exit(exitCode);
  }
  return exitCode;
}

}  // namespace

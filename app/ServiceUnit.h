// ServiceUnit: velio-interfaced.exe as a Windows service.
//
//   velio-interfaced.exe service install [--mode M] [--home DIR] [--listen ADDRESS]
//                        [--allow LIST] [--reader-library PATH] [--verbose] [--store ODBC]
//   velio-interfaced.exe service uninstall [--mode M]
//   velio-interfaced.exe service run ...   (the service manager's entry)
//
// One service per interface mode: name "VelioInterface-<mode>", display name
// the mode's title ("TarvikVelio会员卡接口" and so on), started automatically,
// running as the local system account. install carries every server option
// given to it into the service's command line ("<exe> service run --mode M
// ..."; the home, default the executable's folder, and the reader library as
// absolute paths) and refuses, with exit 2, the one-off options (--check,
// --init-db). The store's connection string may hold a password: it is not put
// on the command line, which any user may read, but written to
// "Store-<mode>.conn" in the home, readable by SYSTEM and the administrators
// only, and the command line names that file (--store-file). install prints
// the command line it installed and the connection string with its passwords
// shown as "***"; uninstall stops the service, removes it and its
// connection-string file, and says so. Errors name what failed with the
// system's reason.
//
// "service run" is the entry the service manager calls: it serves exactly as
// the console program does, writing the start and stop lines and start-up
// failures to the operation log (a service has no console; with --verbose the
// reasons go to "Verbose-<mode>.log" in the home), and stops in order (stop
// line, server stopped, device closed) when the manager stops it or the system
// shuts down. The manager sees START_PENDING until the server listens, then
// RUNNING; a service that cannot start (its port taken, its command line or
// connection-string file no longer valid) goes from START_PENDING straight to
// STOPPED with a service-specific exit code: the console program's exit code
// for the same failure (1 the server could not start, 2 a bad command line).
//
// Windows only; every function runs on the entry's main thread.
#ifndef VELIO_APP_SERVICEUNIT_H_
#define VELIO_APP_SERVICEUNIT_H_

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "app/StartupUnit.h"

// "VelioInterface-member", "VelioInterface-doorlock", "VelioInterface-police".
std::string ServiceNameForMode(int32_t mode);

// What the headless entry gives the service: Serve runs start-up, calls
// onServing once the server listens (never when it could not start), serves
// until Stop is called (from another thread) and shuts down, returning the
// exit code.
struct TServiceEntry {
  std::function<int(const TProgramOptions&, const std::function<void()>& onServing)> Serve;
  std::function<void()> Stop;
};

// args: the program's arguments (UTF-8), args[1] == "service". Prints what it
// did, or why it failed, and returns the exit code (0 done, 1 failed, 2 a bad
// command line).
int RunServiceCommand(const std::vector<std::string>& args, const TServiceEntry& entry);

#endif  // VELIO_APP_SERVICEUNIT_H_

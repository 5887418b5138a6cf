// ServiceUnit: velio-interfaced.exe as a Windows service.
//
//   velio-interfaced.exe service install [--mode M] [--home DIR] [--store S]
//   velio-interfaced.exe service uninstall [--mode M]
//   velio-interfaced.exe service run [--mode M] [--home DIR] [--store S]
//
// One service per interface mode: name "VelioInterface-<mode>", display name
// the mode's title ("TarvikVelio会员卡接口" and so on), started automatically,
// its command line "<exe> service run --mode M [--home DIR] [--store S]". The
// home defaults to the executable's folder, as for the console program.
// "service run" is the entry the service manager calls: it serves exactly as
// the console program does, writing the start and stop lines to the operation
// log (a service has no console), and stops in order (stop line, server
// stopped, device closed) when the manager stops it or the system shuts down.
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
// onServing once the server listens (or has failed to), serves until Stop is
// called (from another thread) and shuts down, returning the exit code.
struct TServiceEntry {
  std::function<int(const TProgramOptions&, const std::function<void()>& onServing)> Serve;
  std::function<void()> Stop;
};

// args: the program's arguments (UTF-8), args[1] == "service". Prints what it
// did, or why it failed, and returns the exit code (0 done, 1 failed, 2 a bad
// command line).
int RunServiceCommand(const std::vector<std::string>& args, const TServiceEntry& entry);

#endif  // VELIO_APP_SERVICEUNIT_H_

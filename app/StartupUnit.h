// StartupUnit: process start-up and shut-down shared by both entries.
//
// Start-up order: the command line is parsed and the home directory set; the
// process-wide modules start (MemberOptions, OperationLog, the door-lock record
// store, SystemOptions); the device of the interface mode is created (member:
// TZentaMember, whose OpenPort is called; door lock and police: the simulated
// devices, each announced in the log); the mode is set, the device installed and
// the request server started by the front end. Shut-down runs in reverse.
// All of it runs on the entry's main thread.
#ifndef VELIO_APP_STARTUPUNIT_H_
#define VELIO_APP_STARTUPUNIT_H_

#include <cstdint>
#include <memory>
#include <string>

#include "app/InterfaceModeUnit.h"

class TBaseMember;

struct TProgramOptions {
  std::string Home;  // empty: the executable's directory
  int32_t Mode = kModeMember;
  bool InitDb = false;  // headless only: create Client.db and exit
  bool Check = false;   // headless only: report what would stop the service, exit
};

// Parses --home DIR, --mode member|doorlock|police (and, when headless,
// --init-db and --check). Returns -1 to go on; otherwise the exit code after printing help
// (0) or a clear message on stderr (2: unknown option, a home that is not a
// folder, a bad mode).
int ParseProgramOptions(int argc, char** argv, bool headless, TProgramOptions& options);

// Start-up step 1: sets the home directory, then starts the modules in order.
void InitializeModules(const TProgramOptions& options);
// Frees the modules in reverse order (the two options objects included).
// After NoteServerStopFailed nothing is freed: handler threads that outlived
// the stop wait may still use the modules and the device.
void FinalizeModules();

// Records that the server's stop wait timed out ("Terminate Thread Timeout").
void NoteServerStopFailed();
// True after NoteServerStopFailed. The entry then ends the process at once
// after shut-down (std::_Exit), so no static object is destroyed under a
// handler thread that is still running.
bool ServerStopFailed();

// The device of a mode for the time the program serves. The constructor
// creates it (member: TZentaMember and OpenPort; door lock, police: the
// simulated devices, installed and announced); Install sets InterfaceMode,
// installs MemberDevice and registers the handler of every mode. The destructor
// calls ClosePort and frees the device (or uninstalls the simulated one).
class TDeviceSession {
 public:
  explicit TDeviceSession(int32_t mode);
  ~TDeviceSession();
  TDeviceSession(const TDeviceSession&) = delete;
  TDeviceSession& operator=(const TDeviceSession&) = delete;

  void Install();
  int32_t Mode() const { return mode_; }
  TBaseMember* Member() const { return member_.get(); }

 private:
  int32_t mode_;
  std::unique_ptr<TBaseMember> member_;
};

#endif  // VELIO_APP_STARTUPUNIT_H_

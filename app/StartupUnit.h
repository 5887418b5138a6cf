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

#include "server/AddressFilterUnit.h"
#include "services/InterfaceModeUnit.h"

class TBaseMember;
class TReaderLibrary;

struct TProgramOptions {
  std::string Home;  // empty: the executable's directory
  int32_t Mode = kModeMember;
  bool InitDb = false;        // headless only: create Client.db (.mdb) and exit
  std::string ReaderLibrary;  // --reader-library; empty: TReaderLibrary::DefaultPath()
  bool Verbose = false;       // reasons on stderr (VerboseUnit)
  std::string Listen;         // --listen: empty for every local IPv4 address
  TAddressFilter Allow;       // --allow: default everyone
  std::string AllowList;      // --allow as given; empty when not given
  std::string Store;          // ODBC connection string of the record store; empty: Client.db/.mdb
  bool Check = false;         // headless only: report what would stop the service, exit
};

// Parses --home DIR, --mode member|doorlock|police, --reader-library PATH,
// --verbose, --listen ADDRESS, --allow LIST, --store ODBC (and, when headless,
// --init-db and --check). The help names the system's own files (Client.db or
// Client.mdb, libReaderPcsc.so or ReaderPcsc.dll), its way to stop, and on
// Windows the service commands. Returns -1 to go on; otherwise the exit code after
// printing help (0) or a clear message on stderr (2: unknown option, a home
// that is not a folder (except with --check, which reports it), a bad mode, a reader library that is not a file, a
// listen address or allow list that does not parse).
int ParseProgramOptions(int argc, char** argv, bool headless, TProgramOptions& options);

// Start-up step 1: turns --verbose on, makes --listen and --allow the
// defaults of the request server, sets the home directory (and, with --home,
// VELIO_READER_SIM_DIR to its ReaderSim folder unless it is set already), then
// starts the modules in order. With --verbose, a profile file of the mode that
// starts with a UTF-8 byte-order mark is named on stderr.
// Once the log exists the open-file soft limit is raised to the hard limit
// (a failure is logged, success is not).
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
  // readerLibrary: the member device's reader library; empty for the default
  // (VELIO_READER_LIBRARY, else the simulator beside the executable).
  explicit TDeviceSession(int32_t mode, const std::string& readerLibrary = {});
  ~TDeviceSession();
  TDeviceSession(const TDeviceSession&) = delete;
  TDeviceSession& operator=(const TDeviceSession&) = delete;

  void Install();
  // Why the member device cannot reach the reader (its library failed to
  // load), in UTF-8 for stderr; empty when it can, and in the other modes.
  std::string ReaderProblem() const;
  int32_t Mode() const { return mode_; }
  TBaseMember* Member() const { return member_.get(); }

 private:
  // Logs "模拟读卡器: " + the card file when the library is the reader simulator.
  static void AnnounceSimulatedReader(const TReaderLibrary& library);

  int32_t mode_;
  std::unique_ptr<TBaseMember> member_;
};

#endif  // VELIO_APP_STARTUPUNIT_H_

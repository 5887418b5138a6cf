// StartupUnit: the module order of start-up and shut-down, and the device of
// each interface mode.
//
// Module start-up: MemberOptions, OperationLog, the door-lock record store (in
// every mode; a failure to open is only logged), SystemOptions. Shut-down frees
// them in reverse order. The member device is created by the session and opened
// before the front end starts serving; the simulated door-lock encoder and
// police source are installed and announced in the log.
#include "app/StartupUnit.h"

#include <CLI/CLI.hpp>
#include <atomic>
#include <iostream>

#include "app/LogFileUnit.h"
#include "app/SysOptionUnit.h"
#include "doorlock/BaseDoorlockUnit.h"
#include "doorlock/DoorlockMessageHandlerUnit.h"
#include "doorlock/DoorlockRecordManagerUnit.h"
#include "member/BaseMemberUnit.h"
#include "member/MemberMessageHandlerUnit.h"
#include "member/OptionUnit.h"
#include "member/ZentaMemberUnit.h"
#include "platform/PathUnit.h"
#include "police/BasePoliceUnit.h"
#include "police/PoliceMessageHandlerUnit.h"
#include "sim/SimDoorlockUnit.h"
#include "sim/SimPoliceUnit.h"

int ParseProgramOptions(int argc, char** argv, bool headless, TProgramOptions& options) {
  CLI::App app(headless ? "Velio PMS interface server (headless): serves the PMS's card "
                          "requests until SIGINT or SIGTERM."
                        : "Velio PMS interface server: the operator's window; serves the PMS's "
                          "card requests while it is open.");
  std::string mode = "member";
  app.add_option("--home", options.Home,
                 "folder that holds Option.ini, the daily .LOG file and Client.db "
                 "(default: the executable's folder)");
  app.add_option("--mode", mode,
                 "interface mode: member (port MemberPortNo, default), doorlock "
                 "(DoorlockPortNo) or police (PolicePortNo)")
      ->check(CLI::IsMember({"member", "doorlock", "police"}));
  if (headless)
    app.add_flag("--init-db", options.InitDb,
                 "create Client.db with its tables in the home folder when missing, then exit");
  if (headless)
    app.add_flag("--check", options.Check,
                 "check, without changing anything, what would stop the server in this home "
                 "folder and mode (Option.ini, the port, the reader library, Client.db, the "
                 "log's folder): one line each, OK, WARNING or FAILED; exit 1 when any failed");
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    app.exit(e);
    return 2;
  }
  if (!options.Home.empty() && !DirectoryExists(options.Home)) {
    std::cerr << "--home: " << options.Home << " is not an existing folder\n";
    return 2;
  }
  options.Mode = mode == "doorlock" ? kModeDoorlock : mode == "police" ? kModePolice : kModeMember;
  return -1;
}

void InitializeModules(const TProgramOptions& options) {
  if (!options.Home.empty()) SetHomeDir(options.Home);
  InitMemberOptions();
  OperationLog = new TLogFile(DailyLogFileName());
  InitDoorlockRecordStore();
  SystemOptions = new TSysOption(HomeDir() + "Option.ini");
  SystemOptions->Load();
}

namespace {
std::atomic<bool> gServerStopFailed{false};
}  // namespace

void NoteServerStopFailed() {
  gServerStopFailed.store(true);
}

bool ServerStopFailed() {
  return gServerStopFailed.load();
}

void FinalizeModules() {
  if (ServerStopFailed()) return;
  delete SystemOptions;
  SystemOptions = nullptr;
  FinalizeDoorlockRecordStore();
  TLogFile* log = OperationLog;
  OperationLog = nullptr;
  delete log;
  FinalizeMemberOptions();
}

TDeviceSession::TDeviceSession(int32_t mode) : mode_(mode) {
  switch (mode_) {
    case kModeDoorlock:
      InstallSimulatedDoorlock();
      break;
    case kModePolice:
      InstallSimulatedPolice();
      break;
    default:
      member_ = std::make_unique<TZentaMember>();
      member_->OpenPort();
      break;
  }
}

TDeviceSession::~TDeviceSession() {
  if (ServerStopFailed()) {
    // A handler thread may still be inside the device: leave it in place.
    (void)member_.release();
    return;
  }
  if (member_) {
    MemberDevice.store(nullptr);
    member_->ClosePort();
    member_.reset();
  }
  if (mode_ == kModeDoorlock) InstallDoorlockDevice(nullptr);
  if (mode_ == kModePolice) UninstallSimulatedPolice();
}

void TDeviceSession::Install() {
  RegisterMemberMode();
  RegisterDoorlockMode();
  RegisterPoliceMode();
  InterfaceMode.store(mode_);
  if (member_) MemberDevice.store(member_.get());
}

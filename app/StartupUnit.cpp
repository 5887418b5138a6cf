// StartupUnit: the module order of start-up and shut-down, and the device of
// each interface mode.
//
// Module start-up: MemberOptions, OperationLog (then the open-file soft limit
// is raised to the hard limit, logged only when that fails), the door-lock
// record store (in every mode; a failure to open is only logged),
// SystemOptions. Shut-down frees them in reverse order. The member device is
// created by the session and opened before the front end starts serving; the
// simulated door-lock encoder and police source are installed and announced in
// the log.
#include "app/StartupUnit.h"

#include <CLI/CLI.hpp>
#include <atomic>
#include <iostream>

#include "app/MainUnit.h"
#include "doorlock/BaseDoorlockUnit.h"
#include "doorlock/DoorlockMessageHandlerUnit.h"
#include "doorlock/DoorlockRecordManagerUnit.h"
#include "doorlock/SimDoorlockUnit.h"
#include "member/BaseMemberUnit.h"
#include "member/MemberMessageHandlerUnit.h"
#include "member/OptionUnit.h"
#include "member/ReaderLibraryUnit.h"
#include "member/ZentaMemberUnit.h"
#include "platform/PathUnit.h"
#include "platform/ProfileUnit.h"
#include "platform/SystemUnit.h"
#include "police/BasePoliceUnit.h"
#include "police/PoliceMessageHandlerUnit.h"
#include "police/SimPoliceUnit.h"
#include "server/TCPServerUnit.h"
#include "server/VerboseUnit.h"
#include "services/LogFileUnit.h"
#include "services/SysOptionUnit.h"

namespace {

// The help's words for the files and the stop of each system.
#ifdef _WIN32
constexpr char kHeadlessTitle[] =
    "Velio PMS interface server (headless): serves the PMS's card requests until Ctrl+C, or "
    "as a Windows service until the service is stopped.";
constexpr char kStoreFile[] = "Client.mdb";
constexpr char kPcscLibrary[] = "ReaderPcsc.dll";
constexpr char kDefaultLibrary[] = "Reader.dll beside the executable";
constexpr char kStoreHelp[] =
    "ODBC connection string of the door-lock record store, in place of Client.mdb";
constexpr char kInitDbHelp[] =
    "create the door-lock tables when missing (in Client.mdb of the home folder, which the "
    "Access driver creates when it is missing; or in the --store source), then exit";
// The service commands (ServiceUnit), which the option parser does not see.
constexpr char kServiceFooter[] =
    "Windows service (in an administrator's command prompt):\n"
    "  velio-interfaced.exe service install [--mode M] [--home DIR] [--listen ADDRESS] "
    "[--allow LIST] [--reader-library PATH] [--verbose] [--store ODBC]\n"
    "      installs the service VelioInterface-<mode> (started automatically, as the local "
    "system account) with these options and prints its command line; the --store connection "
    "string is kept in Store-<mode>.conn in the home, readable by SYSTEM and administrators "
    "only; --check and --init-db are refused; exit 1 when it is installed already\n"
    "  sc start VelioInterface-<mode>, sc stop VelioInterface-<mode>, sc query "
    "VelioInterface-<mode>\n"
    "      start, stop, show the state (a service whose port is taken stops with "
    "service-specific code 1; the reason is in the day's log)\n"
    "  velio-interfaced.exe service uninstall [--mode M]\n"
    "      stops and removes the service (and its Store-<mode>.conn)\n"
    "  velio-interfaced.exe service run ...\n"
    "      the entry the service manager calls\n"
    "The service writes its start and stop lines and start-up failures to the day's log in "
    "its home; with --verbose, the reasons go to Verbose-<mode>.log there.";
#else
constexpr char kHeadlessTitle[] =
    "Velio PMS interface server (headless): serves the PMS's card requests until SIGINT or "
    "SIGTERM.";
constexpr char kStoreFile[] = "Client.db";
constexpr char kPcscLibrary[] = "libReaderPcsc.so";
constexpr char kDefaultLibrary[] = "the simulator beside the executable";
constexpr char kStoreHelp[] =
    "ODBC connection string of the door-lock record store, in place of Client.db (Linux) or "
    "Client.mdb (Windows)";
constexpr char kInitDbHelp[] =
    "create the door-lock tables when missing (Client.db in the home folder, or the --store "
    "source), then exit";
#endif

}  // namespace

int ParseProgramOptions(int argc, char** argv, bool headless, TProgramOptions& options) {
  CLI::App app(headless ? kHeadlessTitle
                        : "Velio PMS interface server: the operator's window; serves the PMS's "
                          "card requests while it is open.");
  std::string mode = "member";
  app.add_option("--home", options.Home,
                 std::string("folder that holds Option.ini, the daily .LOG file and ") +
                     kStoreFile + " (default: the executable's folder)");
  app.add_option("--mode", mode,
                 "interface mode: member (port MemberPortNo, default), doorlock "
                 "(DoorlockPortNo) or police (PolicePortNo)")
      ->check(CLI::IsMember({"member", "doorlock", "police"}));
  app.add_option("--reader-library", options.ReaderLibrary,
                 std::string("member mode: the card reader library to load, e.g. ") + kPcscLibrary +
                     " for any PC/SC reader (default: VELIO_READER_LIBRARY, else " +
                     kDefaultLibrary + ")");
  app.add_flag("--verbose", options.Verbose,
               "say on stderr why a request got no reply, the reader's status for a failed "
               "card operation and each refused connection (one line each)");
  std::string allow;
  app.add_option("--listen", options.Listen,
                 "address to listen on (default: every local IPv4 address)");
  app.add_option("--allow", allow,
                 "peers that may connect: addresses or CIDR ranges separated by commas, "
                 "e.g. 127.0.0.1,192.168.10.0/24 (default: everyone); others are closed at once");
  app.add_option("--store", options.Store, kStoreHelp);
  if (headless) app.add_flag("--init-db", options.InitDb, kInitDbHelp);
  if (headless)
    app.add_flag("--check", options.Check,
                 std::string("check, without changing anything, what would stop the server in "
                             "this home folder and mode (Option.ini, the port on the --listen "
                             "address, the reader library, ") +
                     kStoreFile + " or the --store source, Guest.ini, the log's folder): one " +
                     "line each, OK, WARNING or FAILED; exit 1 when any failed");
#ifdef _WIN32
  if (headless) app.footer(kServiceFooter);
#endif
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    app.exit(e);
    return 2;
  }
  // --check reports a missing home as its own FAILED line.
  if (!options.Home.empty() && !options.Check && !DirectoryExists(options.Home)) {
    std::cerr << "--home: " << options.Home << " is not an existing folder\n";
    return 2;
  }
  if (!options.ReaderLibrary.empty() && !FileExists(options.ReaderLibrary)) {
    std::cerr << "--reader-library: " << options.ReaderLibrary << " is not an existing file\n";
    return 2;
  }
  // dlopen would search the library path for a bare file name.
  if (!options.ReaderLibrary.empty()) options.ReaderLibrary = AbsolutePath(options.ReaderLibrary);
  std::string error;
  if (!ValidListenAddress(options.Listen, error)) {
    std::cerr << "--listen: " << error << "\n";
    return 2;
  }
  options.Listen = ListenAddressToBind(options.Listen);
  if (!allow.empty() || app.count("--allow") > 0) {
    if (!TAddressFilter::Parse(allow, options.Allow, error)) {
      std::cerr << "--allow: " << error << "\n";
      return 2;
    }
    options.AllowList = allow;
  }
  options.Mode = ModeForName(mode.c_str());
  return -1;
}

namespace {

// --verbose: names the profile files of the mode that an editor saved as UTF-8.
void SayUtf8ProfileFiles(int32_t mode) {
  std::vector<std::string> files = {HomeDir() + "Option.ini"};
  if (mode == kModeDoorlock) files.push_back(HomeDir() + "DoorlockSim.ini");
  if (mode == kModePolice) files.push_back(HomeDir() + "Guest.ini");
  for (const std::string& file : files) {
    if (!ProfileStartsWithUtf8Bom(file)) continue;
#ifdef _WIN32
    const std::string name = AnsiToUtf8(file);  // paths are in the ANSI code page there
#else
    const std::string& name = file;
#endif
    VerboseLine(name +
                ": starts with a UTF-8 byte-order mark: the mark is skipped, but the file is "
                "read as code page 936 (GBK), so text in it beyond ASCII is misread; save it "
                "in code page 936");
  }
}

}  // namespace

void InitializeModules(const TProgramOptions& options) {
  if (options.Verbose) SetVerboseSink(StderrVerboseSink());
  TRequestServer::SetDefaultAccess(options.Listen, options.Allow);
  if (!options.Home.empty()) {
    SetHomeDir(options.Home);
    // Two homes are two readers: the simulator keeps its card in the home.
    SetEnvironmentDefault("VELIO_READER_SIM_DIR", HomeDir() + "ReaderSim");
  }
  InitMemberOptions();
  OperationLog = new TLogFile(DailyLogFileName());
  // Every waiting connection holds a descriptor: take all the system allows.
  const std::string limitFailure = RaiseOpenFileLimit();
  if (!limitFailure.empty()) {
    static const AnsiString kCannotRaise = Lit("无法提高打开文件数上限: ");
    WriteLog(kCannotRaise + limitFailure);
  }
  InitDoorlockRecordStore(options.Store);
  SystemOptions = new TSysOption(HomeDir() + "Option.ini");
  SystemOptions->Load();
  if (Verbose()) SayUtf8ProfileFiles(options.Mode);
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

TDeviceSession::TDeviceSession(int32_t mode, const std::string& readerLibrary) : mode_(mode) {
  switch (mode_) {
    case kModeDoorlock:
      InstallSimulatedDoorlock();
      break;
    case kModePolice:
      InstallSimulatedPolice();
      break;
    default: {
      auto member = readerLibrary.empty() ? std::make_unique<TZentaMember>()
                                          : std::make_unique<TZentaMember>(readerLibrary);
      AnnounceSimulatedReader(member->Library());
      member_ = std::move(member);
      member_->OpenPort();
      break;
    }
  }
}

void TDeviceSession::AnnounceSimulatedReader(const TReaderLibrary& library) {
  // As the simulated encoder and police source are announced: the device and its file.
  static const AnsiString kLine = Lit("模拟读卡器: ");
  if (!library.SimCardFile) return;
  const int32_t length = library.SimCardFile(nullptr, 0);
  if (length <= 0) return;
  std::string file(static_cast<size_t>(length) + 1, '\0');
  if (library.SimCardFile(file.data(), length + 1) != length) return;
  file.resize(static_cast<size_t>(length));
#ifdef _WIN32
  WriteLog(kLine + file);
#else
  WriteLog(kLine + Utf8ToAnsi(file));
#endif
}

std::string TDeviceSession::ReaderProblem() const {
  auto* zenta = dynamic_cast<TZentaMember*>(member_.get());
  if (!zenta || zenta->Library().Loaded()) return std::string();
  const TReaderLibrary& library = zenta->Library();
#ifdef _WIN32
  return "the reader library " + AnsiToUtf8(library.Path()) +
         " could not be loaded: " + AnsiToUtf8(library.Error()) +
         "; member card requests answer 500";
#else
  return "the reader library " + library.Path() + " could not be loaded: " + library.Error() +
         "; member card requests answer 500";
#endif
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

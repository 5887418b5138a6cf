// E2eSupport: runs the real velio-interfaced in a temporary home and talks to
// it over loopback TCP, as the PMS does.
#ifndef VELIO_TESTS_E2E_E2ESUPPORT_H_
#define VELIO_TESTS_E2E_E2ESUPPORT_H_

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/PortSupport.h"
#include "tests/support/TempDirSupport.h"

struct sqlite3;

namespace e2e {

// A fresh temporary folder (velio_test::TTempDir), removed with everything in
// it on destruction; its path as a program's home is given, without the
// final separator.
class TTempHome {
 public:
  TTempHome() = default;
  // Made in parent instead of the system's temporary folder.
  explicit TTempHome(const std::string& parent) : dir_(parent) {}
  const std::string& Path() const { return path_; }
  std::string File(const std::string& name) const { return dir_.File(name); }
  void Write(const std::string& name, const std::string& bytes) const;
  std::string Read(const std::string& name) const;  // empty when missing
  bool Exists(const std::string& name) const;

 private:
  velio_test::TTempDir dir_;
  std::string path_ = dir_.Path().substr(0, dir_.Path().size() - 1);
};

// A folder in memory (/dev/shm) when there is one, else the system's temporary
// folder: for tests whose cost would otherwise be the disk's flushes.
std::string MemoryTempParent();

// Ports that were free a moment ago, below the range for outgoing connections.
using velio_test::FreePort;
using velio_test::FreePortPair;

// The result of one request: the reply bytes before the NUL, whether a NUL came,
// and the bytes that came after it (there must be none).
struct TReply {
  bool connected = false;
  bool gotNul = false;
  std::string text;
  std::string trailing;
};

// Connects to 127.0.0.1:port, sends bytes as they are, reads until the server closes.
TReply SendRaw(int port, const std::string& bytes);
// A connection to 127.0.0.1:port (a blocking socket), or -1.
int OpenConnection(int port);
// Sends bytes on an open connection, reads until the server closes, closes it.
TReply FinishRequest(int socket, const std::string& bytes);
// Sends utf8 + NUL.
TReply Send(int port, const std::string& utf8);

// How a program is started beyond its arguments.
struct TSpawnOptions {
  std::map<std::string, std::string> env;  // added to (or replacing) the test's environment
  int64_t fileSizeLimit = -1;              // RLIMIT_FSIZE in bytes for the program, when >= 0
  int64_t openFilesLimit = -1;             // RLIMIT_NOFILE for the program, when >= 0
  int64_t openFilesSoftLimit = -1;  // a lower soft RLIMIT_NOFILE (with openFilesLimit), when >= 0
  // Run as user and group "nobody" when the test runs as root, so that file
  // permissions bind the program as they bind an ordinary user.
  bool unprivileged = false;
  // The program gets SIGTERM when the test's thread that started it ends, also
  // when the test crashes or is killed (a service such as pcscd must not outlive it).
  bool endWithTest = false;
  // TDaemon: further arguments after --home and --mode (--reader-library PATH,
  // --verbose, --allow ...).
  std::vector<std::string> args;
  // TDaemon: the program of this build to start (default velio-interfaced;
  // velio-interface for the desktop program).
  std::string program;
};

// True when the tests run as root (file modes then do not stop them).
bool RunningAsRoot();

// The headless program, started with the given arguments and environment.
class TDaemon {
 public:
  TDaemon(const std::string& home, const std::string& mode, int port,
          std::map<std::string, std::string> env = {});
  TDaemon(const std::string& home, const std::string& mode, int port, const TSpawnOptions& options);
  ~TDaemon();  // stops it when still running
  TDaemon(const TDaemon&) = delete;
  TDaemon& operator=(const TDaemon&) = delete;

  // Waits until the port accepts connections (or the process ended).
  bool WaitListening(int timeoutMs = 10000);
  // Sends SIGTERM and waits; returns the exit code (-1 on a signal death).
  int Stop();
  // Waits for the process to end by itself; after timeoutMs (when not
  // negative) kills it and returns -2.
  int Wait(int timeoutMs = -1);
  std::string Stdout() const;
  std::string Stderr() const;
  int Port() const { return port_; }
  pid_t Pid() const { return pid_; }
  // True while the process has not ended.
  bool Running();
  // Sends a signal to the process while it runs.
  void Signal(int sig);
  // The number of descriptors the process has open (-1 when unknown).
  int OpenDescriptors() const;

 private:
  pid_t pid_ = -1;
  int port_;
  TTempHome outputs_;  // stdout and stderr, outside the home the program may not write
  std::string out_, err_;
  int exit_ = -1;
};

// Any program of the test's own (pcscd, cardsim present ...), started in the
// background with stdout and stderr kept in files. The destructor stops it.
class TProcess {
 public:
  TProcess(const std::vector<std::string>& argv, const TSpawnOptions& options = {});
  ~TProcess();
  TProcess(const TProcess&) = delete;
  TProcess& operator=(const TProcess&) = delete;
  // False when the program could not be started or has ended.
  bool Running();
  // SIGTERM; SIGKILL after timeoutMs. Returns the exit code (-1: a signal death).
  int Stop(int timeoutMs = 5000);
  std::string Stdout() const;
  std::string Stderr() const;
  pid_t Pid() const { return pid_; }

 private:
  pid_t pid_ = -1;
  TTempHome outputs_;
  int exit_ = -1;
};

// The number of connections waiting to be accepted on the listening socket of
// port (Linux, /proc/net/tcp), or -1 when no socket listens there.
int AcceptQueueLength(int port);

// Opens count connections to the daemon and holds them open. They are opened in
// small batches, each accepted by the server before the next: its listen
// backlog is small, and a burst beyond it would wait for dropped handshakes to
// be sent again (a second or more each). Returns the sockets it opened (fewer
// than count when the server stopped taking them).
std::vector<int> OpenHeldConnections(TDaemon& daemon, int count);

// The daemon's open descriptors once the count has stayed the same for a
// moment (a connection just answered is closed a little after its reply).
int SettledDescriptors(const TDaemon& daemon);

// Runs a program to its end; returns the exit code and fills out and err.
int RunProgram(const std::vector<std::string>& argv, std::string& out, std::string& err,
               const std::map<std::string, std::string>& env = {});
int RunProgram(const std::vector<std::string>& argv, std::string& out, std::string& err,
               const TSpawnOptions& options);

// The path of a program of this build.
std::string BinPath(const std::string& name);

// The full path of an installed program found on PATH, or empty text.
std::string FindProgram(const std::string& name);

// A private X server (Xvfb) on a free display, for running the desktop program
// on the xcb platform as on a real desktop. Stopped on destruction.
class TXvfb {
 public:
  TXvfb();
  ~TXvfb();
  TXvfb(const TXvfb&) = delete;
  TXvfb& operator=(const TXvfb&) = delete;
  // Empty when the server runs; otherwise why it could not be started.
  const std::string& Error() const { return error_; }
  // ":N"
  const std::string& Display() const { return display_; }
  // Runs an X client program (found on PATH) against this display; returns
  // its exit code and fills out (-1 when the program is missing).
  int Run(const std::vector<std::string>& argv, std::string& out) const;
  // The captions of the visible top-level windows, as the X server holds them
  // (_NET_WM_NAME, UTF-8), keyed by window id.
  std::map<std::string, std::string> VisibleCaptions() const;

 private:
  pid_t pid_ = -1;
  std::string display_;
  std::string error_;
};

// The command that starts the headless program in place of
// BinPath("velio-interfaced"): the words of VELIO_E2E_DAEMON, for instance
// "scripts/wine-run.sh build-mingw32/wineprefix win32 build-mingw32/bin/velio-interfaced.exe"
// to drive the Windows build under Wine; empty when unset (the program of this
// build).
std::vector<std::string> DaemonLauncher();

// The signal that stops the headless program: SIGTERM, or SIGINT (Ctrl+C)
// for a program started through VELIO_E2E_DAEMON.
int StopSignal();

// The log file of today in home, as raw bytes.
std::string TodayLog(const TTempHome& home);

// Splits a log into entries (an entry starts with a 20-character stamp line);
// each entry's text without the stamp and the final CR LF.
std::vector<std::string> LogEntries(const std::string& log);

// Empty when the log is whole: it ends with CR LF, holds no lone CR or LF, and
// every line starts with a time stamp except the lines of a logged request or
// reply (those after an entry "收到消息: " or "返回结果: "). Otherwise what is wrong.
std::string LogFault(const std::string& log);

// The number of entries whose text starts with prefix (code page 936 bytes).
int CountEntries(const std::vector<std::string>& entries, const std::string& prefix);

// UTF-8 to code page 936 bytes (for comparing log texts).
std::string Gbk(const std::string& utf8);

// Waits until pred() holds, checking every few milliseconds; false when it
// still does not hold after timeoutMs.
bool WaitUntil(const std::function<bool()>& pred, int timeoutMs = 10000);

// One value read from a database.
struct TSqlValue {
  int type = 0;  // SQLITE_INTEGER, SQLITE_FLOAT, SQLITE_TEXT, SQLITE_BLOB or SQLITE_NULL
  int64_t integer = 0;
  double real = 0;
  std::string text;
};
using TSqlRow = std::vector<TSqlValue>;

// A connection to a SQLite file of the test's own (never creating it), for
// looking at and changing what the program stored. Raises std::runtime_error
// with SQLite's message on failure.
class TSqlDb {
 public:
  explicit TSqlDb(const std::string& file);
  ~TSqlDb();
  TSqlDb(const TSqlDb&) = delete;
  TSqlDb& operator=(const TSqlDb&) = delete;
  void Exec(const std::string& sql);
  std::vector<TSqlRow> Rows(const std::string& sql);

 private:
  ::sqlite3* db_ = nullptr;
};

}  // namespace e2e

#endif  // VELIO_TESTS_E2E_E2ESUPPORT_H_

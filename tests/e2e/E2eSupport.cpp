// E2eSupport: process control and loopback requests for the end-to-end tests.
#include "tests/e2e/E2eSupport.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <grp.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sqlite3.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "platform/CodePageUnit.h"
#include "platform/DateTimeUnit.h"
#include "tests/support/FileSupport.h"

extern char** environ;

namespace e2e {
namespace fs = std::filesystem;

std::string MemoryTempParent() {
  const char* shm = "/dev/shm";
  if (fs::is_directory(shm) && ::access(shm, W_OK | X_OK) == 0) return shm;
  return fs::temp_directory_path().string();
}

void TTempHome::Write(const std::string& name, const std::string& bytes) const {
  velio_test::WriteFile(File(name), bytes);
}

std::string TTempHome::Read(const std::string& name) const {
  return velio_test::ReadFile(File(name));
}

bool TTempHome::Exists(const std::string& name) const {
  return velio_test::Exists(File(name));
}

int OpenConnection(int port) {
  int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (s < 0) return -1;
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(static_cast<uint16_t>(port));
  if (::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    ::close(s);
    return -1;
  }
  return s;
}

TReply FinishRequest(int s, const std::string& bytes) {
  TReply r;
  if (s < 0) return r;
  r.connected = true;
  size_t off = 0;
  while (off < bytes.size()) {
    ssize_t n = ::send(s, bytes.data() + off, bytes.size() - off, MSG_NOSIGNAL);
    if (n <= 0) break;
    off += static_cast<size_t>(n);
  }
  std::string all;
  char buf[4096];
  for (;;) {
    ssize_t n = ::recv(s, buf, sizeof buf, 0);
    if (n <= 0) break;
    all.append(buf, static_cast<size_t>(n));
  }
  ::close(s);
  size_t nul = all.find('\0');
  if (nul == std::string::npos) {
    r.text = all;
  } else {
    r.gotNul = true;
    r.text = all.substr(0, nul);
    r.trailing = all.substr(nul + 1);
  }
  return r;
}

TReply SendRaw(int port, const std::string& bytes) {
  return FinishRequest(OpenConnection(port), bytes);
}

TReply Send(int port, const std::string& utf8) {
  return SendRaw(port, utf8 + std::string(1, '\0'));
}

std::string BinPath(const std::string& name) {
  return std::string(VELIO_BIN_DIR) + "/" + name;
}

std::vector<std::string> DaemonLauncher() {
  std::vector<std::string> words;
  const char* env = std::getenv("VELIO_E2E_DAEMON");
  std::istringstream in(env ? env : "");
  for (std::string word; in >> word;) words.push_back(word);
  return words;
}

int StopSignal() {
  return DaemonLauncher().empty() ? SIGTERM : SIGINT;
}

namespace {
// The headless program is started through VELIO_E2E_DAEMON when it is set.
// With VELIO_E2E_STORE (an ODBC connection string in which "{home}" stands
// for the --home folder), the record store is that source: a Windows program
// under Wine reaches the host's SQLite ODBC driver instead of Client.mdb.
std::vector<std::string> WithLauncher(const std::vector<std::string>& argv) {
  std::vector<std::string> launcher = DaemonLauncher();
  if (launcher.empty() || argv.empty() || argv[0] != BinPath("velio-interfaced")) return argv;
  launcher.insert(launcher.end(), argv.begin() + 1, argv.end());
  const char* store = std::getenv("VELIO_E2E_STORE");
  for (size_t i = 1; store && *store && i + 1 < argv.size(); ++i) {
    if (argv[i] != "--home") continue;
    std::string source = store;
    for (size_t at; (at = source.find("{home}")) != std::string::npos;)
      source.replace(at, 6, argv[i + 1]);
    launcher.push_back("--store");
    launcher.push_back(source);
    break;
  }
  return launcher;
}

pid_t Spawn(const std::vector<std::string>& programArgv, const TSpawnOptions& options,
            const std::string& outFile, const std::string& errFile) {
  const std::vector<std::string> argv = WithLauncher(programArgv);
  const std::map<std::string, std::string>& env = options.env;
  std::vector<std::string> envStrings;
  for (char** e = environ; *e; ++e) {
    std::string kv = *e;
    std::string key = kv.substr(0, kv.find('='));
    if (!env.count(key)) envStrings.push_back(kv);
  }
  for (const auto& [k, v] : env) envStrings.push_back(k + "=" + v);
  std::vector<char*> envp, args;
  for (auto& s : envStrings) envp.push_back(s.data());
  envp.push_back(nullptr);
  std::vector<std::string> argCopy = argv;
  for (auto& s : argCopy) args.push_back(s.data());
  args.push_back(nullptr);

  const bool dropRoot = options.unprivileged && RunningAsRoot();
  if (options.fileSizeLimit >= 0 || options.openFilesLimit >= 0 || dropRoot ||
      options.endWithTest) {
    // fork and exec: the child only makes async-signal-safe calls.
    pid_t pid = ::fork();
    if (pid != 0) return pid;
    int in = ::open("/dev/null", O_RDONLY);
    int out = ::open(outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int err = ::open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in < 0 || out < 0 || err < 0) ::_exit(126);
    if (options.endWithTest && ::prctl(PR_SET_PDEATHSIG, SIGTERM) != 0) ::_exit(126);
    ::dup2(in, 0);
    ::dup2(out, 1);
    ::dup2(err, 2);
    if (options.fileSizeLimit >= 0) {
      rlimit limit{static_cast<rlim_t>(options.fileSizeLimit),
                   static_cast<rlim_t>(options.fileSizeLimit)};
      if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) ::_exit(126);
    }
    if (options.openFilesLimit >= 0) {
      rlimit limit{static_cast<rlim_t>(options.openFilesSoftLimit >= 0 ? options.openFilesSoftLimit
                                                                       : options.openFilesLimit),
                   static_cast<rlim_t>(options.openFilesLimit)};
      if (::setrlimit(RLIMIT_NOFILE, &limit) != 0) ::_exit(126);
    }
    if (dropRoot) {
      const gid_t nobodyGroup = 65534;
      if (::setgroups(1, &nobodyGroup) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0)
        ::_exit(126);
    }
    ::execve(args[0], args.data(), envp.data());
    ::_exit(127);
  }

  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&fa, 1, outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&fa, 2, errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  pid_t pid = -1;
  if (posix_spawn(&pid, args[0], &fa, nullptr, args.data(), envp.data()) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&fa);
  return pid;
}

using velio_test::ReadFile;

int Reap(pid_t pid) {
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Whether the child still runs; once it has ended, its exit code goes to exit
// and pid becomes -1.
bool StillRunning(pid_t& pid, int& exit) {
  if (pid <= 0) return false;
  int status = 0;
  if (::waitpid(pid, &status, WNOHANG) == pid) {
    exit = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    pid = -1;
    return false;
  }
  return true;
}
}  // namespace

bool RunningAsRoot() {
  return ::geteuid() == 0;
}

int RunProgram(const std::vector<std::string>& argv, std::string& out, std::string& err,
               const std::map<std::string, std::string>& env) {
  TSpawnOptions options;
  options.env = env;
  return RunProgram(argv, out, err, options);
}

int RunProgram(const std::vector<std::string>& argv, std::string& out, std::string& err,
               const TSpawnOptions& options) {
  TTempHome tmp;
  pid_t pid = Spawn(argv, options, tmp.File("out"), tmp.File("err"));
  if (pid < 0) return -1;
  int code = Reap(pid);
  out = tmp.Read("out");
  err = tmp.Read("err");
  return code;
}

TDaemon::TDaemon(const std::string& home, const std::string& mode, int port,
                 std::map<std::string, std::string> env)
    : TDaemon(home, mode, port, [&env] {
        TSpawnOptions options;
        options.env = std::move(env);
        return options;
      }()) {}

TDaemon::TDaemon(const std::string& home, const std::string& mode, int port,
                 const TSpawnOptions& options)
    : port_(port), out_(outputs_.File("stdout")), err_(outputs_.File("stderr")) {
  const std::string program = options.program.empty() ? "velio-interfaced" : options.program;
  std::vector<std::string> argv = {BinPath(program), "--home", home, "--mode", mode};
  argv.insert(argv.end(), options.args.begin(), options.args.end());
  pid_ = Spawn(argv, options, out_, err_);
}

TProcess::TProcess(const std::vector<std::string>& argv, const TSpawnOptions& options) {
  pid_ = Spawn(argv, options, outputs_.File("stdout"), outputs_.File("stderr"));
}

TProcess::~TProcess() {
  Stop();
}

bool TProcess::Running() {
  return StillRunning(pid_, exit_);
}

int TProcess::Stop(int timeoutMs) {
  if (pid_ <= 0) return exit_;
  ::kill(pid_, SIGTERM);
  if (!WaitUntil([this] { return !Running(); }, timeoutMs) && pid_ > 0) {
    ::kill(pid_, SIGKILL);
    exit_ = Reap(pid_);
    pid_ = -1;
  }
  return exit_;
}

std::string TProcess::Stdout() const {
  return outputs_.Read("stdout");
}

std::string TProcess::Stderr() const {
  return outputs_.Read("stderr");
}

bool TDaemon::Running() {
  return StillRunning(pid_, exit_);
}

void TDaemon::Signal(int sig) {
  // A Windows program under Wine stops on Ctrl+C (SIGINT); SIGTERM would end
  // Wine at once.
  if (sig == SIGTERM) sig = StopSignal();
  if (pid_ > 0) ::kill(pid_, sig);
}

int AcceptQueueLength(int port) {
  // /proc/net/tcp: "sl local_address rem_address st tx_queue:rx_queue ..."; for
  // a listening socket (st 0A) rx_queue is the number of connections waiting
  // to be accepted.
  std::ifstream in("/proc/net/tcp");
  std::string line;
  std::getline(in, line);  // the heading
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string sl, local, remote, state, queues;
    if (!(fields >> sl >> local >> remote >> state >> queues)) continue;
    const size_t colon = local.find(':');
    if (state != "0A" || colon == std::string::npos) continue;
    if (std::stoi(local.substr(colon + 1), nullptr, 16) != port) continue;
    return std::stoi(queues.substr(queues.find(':') + 1), nullptr, 16);
  }
  return -1;
}

std::vector<int> OpenHeldConnections(TDaemon& daemon, int count) {
  std::vector<int> sockets;
  constexpr int kBatch = 8;
  while (static_cast<int>(sockets.size()) < count) {
    for (int i = 0; i < kBatch && static_cast<int>(sockets.size()) < count; ++i) {
      int s = OpenConnection(daemon.Port());
      if (s < 0) return sockets;
      sockets.push_back(s);
    }
    if (!WaitUntil([&] { return AcceptQueueLength(daemon.Port()) == 0; })) return sockets;
  }
  return sockets;
}

int SettledDescriptors(const TDaemon& daemon) {
  int last = daemon.OpenDescriptors();
  for (int i = 0, same = 0; i < 100 && same < 3; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const int now = daemon.OpenDescriptors();
    same = now == last ? same + 1 : 0;
    last = now;
  }
  return last;
}

int TDaemon::OpenDescriptors() const {
  if (pid_ <= 0) return -1;
  std::error_code ec;
  int n = 0;
  for (auto it = fs::directory_iterator("/proc/" + std::to_string(pid_) + "/fd", ec);
       !ec && it != fs::directory_iterator(); it.increment(ec))
    ++n;
  return ec ? -1 : n;
}

TDaemon::~TDaemon() {
  if (pid_ > 0) Stop();
}

bool TDaemon::WaitListening(int timeoutMs) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (std::chrono::steady_clock::now() < deadline) {
    int s = OpenConnection(port_);
    if (s >= 0) {
      // A connection that sends nothing and closes is dropped quietly by the server.
      ::close(s);
      return true;
    }
    int status;
    if (pid_ > 0 && ::waitpid(pid_, &status, WNOHANG) == pid_) {
      exit_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      pid_ = -1;
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

int TDaemon::Stop() {
  if (pid_ > 0) {
    ::kill(pid_, StopSignal());
    exit_ = Reap(pid_);
    pid_ = -1;
  }
  return exit_;
}

int TDaemon::Wait(int timeoutMs) {
  if (pid_ > 0 && timeoutMs >= 0 && !WaitUntil([this] { return !Running(); }, timeoutMs)) {
    ::kill(pid_, SIGKILL);
    Reap(pid_);
    pid_ = -1;
    exit_ = -2;
  }
  if (pid_ > 0) {
    exit_ = Reap(pid_);
    pid_ = -1;
  }
  return exit_;
}

std::string TDaemon::Stdout() const {
  return ReadFile(out_);
}
std::string TDaemon::Stderr() const {
  return ReadFile(err_);
}

std::string TodayLog(const TTempHome& home) {
  return home.Read(FormatDateTime("yyyymmdd", Now()) + ".LOG");
}

std::vector<std::string> LogEntries(const std::string& log) {
  static const std::regex kStamp(R"(^\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2} )");
  std::vector<std::string> entries;
  size_t i = 0;
  while (i < log.size()) {
    size_t eol = log.find("\r\n", i);
    if (eol == std::string::npos) eol = log.size();
    std::string line = log.substr(i, eol - i);
    if (std::regex_search(line, kStamp) || entries.empty()) {
      entries.push_back(line.size() >= 20 ? line.substr(20) : line);
    } else {
      entries.back() += "\r\n" + line;
    }
    i = eol + 2;
  }
  return entries;
}

std::string LogFault(const std::string& log) {
  static const std::regex kStamp(R"(^\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2} )");
  if (log.empty()) return "";
  if (log.size() < 2 || log.compare(log.size() - 2, 2, "\r\n") != 0)
    return "the log does not end with CR LF";
  const std::string received = Gbk("收到消息: ");
  const std::string result = Gbk("返回结果: ");
  bool continuationAllowed = false;
  size_t i = 0, lineNo = 0;
  while (i < log.size()) {
    size_t eol = log.find("\r\n", i);
    std::string line = log.substr(i, eol - i);
    ++lineNo;
    if (line.find_first_of("\r\n") != std::string::npos)
      return "line " + std::to_string(lineNo) + " holds a lone CR or LF: " + line;
    const bool stamped = std::regex_search(line, kStamp);
    if (!stamped && !continuationAllowed)
      return "line " + std::to_string(lineNo) + " has no time stamp: " + line;
    continuationAllowed = stamped && (line.substr(20) == received || line.substr(20) == result);
    i = eol + 2;
  }
  return "";
}

int CountEntries(const std::vector<std::string>& entries, const std::string& prefix) {
  int n = 0;
  for (const std::string& e : entries)
    if (e.rfind(prefix, 0) == 0) ++n;
  return n;
}

std::string Gbk(const std::string& utf8) {
  return Utf8ToAnsi(utf8);
}

bool WaitUntil(const std::function<bool()>& pred, int timeoutMs) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    if (pred()) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

TSqlDb::TSqlDb(const std::string& file) {
  if (sqlite3_open_v2(file.c_str(), &db_, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
    std::string message = db_ ? sqlite3_errmsg(db_) : "out of memory";
    sqlite3_close(db_);
    db_ = nullptr;
    throw std::runtime_error(file + ": " + message);
  }
  sqlite3_busy_timeout(db_, 10000);
}

TSqlDb::~TSqlDb() {
  sqlite3_close(db_);
}

void TSqlDb::Exec(const std::string& sql) {
  char* error = nullptr;
  if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
    std::string message = error ? error : sqlite3_errmsg(db_);
    sqlite3_free(error);
    throw std::runtime_error(message);
  }
}

std::vector<TSqlRow> TSqlDb::Rows(const std::string& sql) {
  sqlite3_stmt* st = nullptr;
  if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &st, nullptr) != SQLITE_OK)
    throw std::runtime_error(sqlite3_errmsg(db_));
  std::vector<TSqlRow> rows;
  int rc;
  while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
    TSqlRow row;
    for (int c = 0; c < sqlite3_column_count(st); ++c) {
      TSqlValue v;
      v.type = sqlite3_column_type(st, c);
      v.integer = sqlite3_column_int64(st, c);
      v.real = sqlite3_column_double(st, c);
      if (const unsigned char* t = sqlite3_column_text(st, c))
        v.text.assign(reinterpret_cast<const char*>(t),
                      static_cast<size_t>(sqlite3_column_bytes(st, c)));
      // A date-time stored through ODBC (VELIO_E2E_STORE) is ISO text in
      // SQLite; real is then its day number, as the native store keeps it.
      static const std::regex kIso(
          R"(^(\d{4})-(\d{2})-(\d{2}) (\d{2}):(\d{2}):(\d{2})(\.(\d{1,3}))?$)");
      std::smatch m;
      if (v.type == SQLITE_TEXT && std::regex_match(v.text, m, kIso)) {
        TDateTimeParts p;
        p.Year = std::stoi(m[1]);
        p.Month = std::stoi(m[2]);
        p.Day = std::stoi(m[3]);
        p.Hour = std::stoi(m[4]);
        p.Minute = std::stoi(m[5]);
        p.Second = std::stoi(m[6]);
        if (m[8].matched) p.MilliSecond = std::stoi((m[8].str() + "00").substr(0, 3));
        v.real = EncodeDateTime(p);
      }
      row.push_back(std::move(v));
    }
    rows.push_back(std::move(row));
  }
  std::string message = rc == SQLITE_DONE ? "" : sqlite3_errmsg(db_);
  sqlite3_finalize(st);
  if (!message.empty()) throw std::runtime_error(message);
  return rows;
}

std::string FindProgram(const std::string& name) {
  const char* path = std::getenv("PATH");
  std::istringstream dirs(path ? path : "/usr/bin:/bin");
  std::string dir;
  while (std::getline(dirs, dir, ':')) {
    const std::string candidate = (dir.empty() ? "." : dir) + "/" + name;
    if (::access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  return "";
}

TXvfb::TXvfb() {
  const std::string xvfb = FindProgram("Xvfb");
  if (xvfb.empty()) {
    error_ = "Xvfb is not installed (Debian package xvfb)";
    return;
  }
  for (const char* tool : {"xdotool", "xprop"}) {
    if (FindProgram(tool).empty()) {
      error_ = std::string(tool) + " is not installed (Debian packages xdotool, x11-utils)";
      return;
    }
  }
  // Display numbers from a place of this process's own; a number another
  // server took in the meantime makes Xvfb end at once, and the next is tried.
  const int first = 200 + (::getpid() % 500);
  TTempHome logs;
  for (int n = first; n < first + 40; ++n) {
    const std::string socket = "/tmp/.X11-unix/X" + std::to_string(n);
    const std::string lock = "/tmp/.X" + std::to_string(n) + "-lock";
    if (::access(socket.c_str(), F_OK) == 0 || ::access(lock.c_str(), F_OK) == 0) continue;
    display_ = ":" + std::to_string(n);
    pid_ = Spawn({xvfb, display_, "-screen", "0", "1024x768x24", "-nolisten", "tcp", "-noreset"},
                 TSpawnOptions{}, logs.File("out"), logs.File("err"));
    if (pid_ < 0) {
      error_ = "Xvfb could not be started";
      return;
    }
    const bool up = WaitUntil([&] {
      int status;
      if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return true;
      }
      std::string out;
      return ::access(socket.c_str(), F_OK) == 0 && Run({"xprop", "-root", "-len", "0"}, out) == 0;
    });
    if (up && pid_ > 0) return;
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      Reap(pid_);
      pid_ = -1;
    }
    error_ = "Xvfb " + display_ + " did not start: " + logs.Read("err");
  }
  display_.clear();
}

TXvfb::~TXvfb() {
  if (pid_ > 0) {
    ::kill(pid_, SIGTERM);
    Reap(pid_);
  }
}

int TXvfb::Run(const std::vector<std::string>& argv, std::string& out) const {
  std::vector<std::string> full = argv;
  full[0] = FindProgram(argv[0]);
  if (full[0].empty()) return -1;
  std::string err;
  return RunProgram(full, out, err, {{"DISPLAY", display_}});
}

std::map<std::string, std::string> TXvfb::VisibleCaptions() const {
  std::map<std::string, std::string> captions;
  std::string ids;
  Run({"xdotool", "search", "--onlyvisible", "--name", ""}, ids);
  std::istringstream lines(ids);
  std::string id;
  while (std::getline(lines, id)) {
    if (id.empty()) continue;
    std::string prop;
    // -notype with a format of one string prints: _NET_WM_NAME "caption"
    if (Run({"xprop", "-id", id, "-notype", "_NET_WM_NAME"}, prop) != 0) continue;
    const size_t open = prop.find('"');
    const size_t close = prop.rfind('"');
    if (open == std::string::npos || close <= open) continue;
    // Outside a UTF-8 locale xprop writes bytes it deems unprintable as \ooo.
    const std::string quoted = prop.substr(open + 1, close - open - 1);
    std::string caption;
    for (size_t i = 0; i < quoted.size(); ++i) {
      if (quoted[i] != '\\' || i + 1 == quoted.size()) {
        caption += quoted[i];
      } else if (i + 3 < quoted.size() && std::isdigit(static_cast<unsigned char>(quoted[i + 1]))) {
        caption += static_cast<char>(std::stoi(quoted.substr(i + 1, 3), nullptr, 8));
        i += 3;
      } else {
        caption += quoted[++i];
      }
    }
    captions[id] = caption;
  }
  return captions;
}

}  // namespace e2e

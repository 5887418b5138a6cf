// E2eSupport: process control and loopback requests for the end-to-end tests.
#include "tests/e2e/E2eSupport.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <thread>

#include "platform/CodePageUnit.h"
#include "platform/DateTimeUnit.h"

extern char** environ;

namespace e2e {
namespace fs = std::filesystem;

TTempHome::TTempHome() {
  std::string tmpl = (fs::temp_directory_path() / "velio-e2e-XXXXXX").string();
  char* p = mkdtemp(tmpl.data());
  path_ = p ? p : tmpl;
}

TTempHome::~TTempHome() {
  std::error_code ec;
  fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
  fs::remove_all(path_, ec);
}

void TTempHome::Write(const std::string& name, const std::string& bytes) const {
  std::ofstream(File(name), std::ios::binary) << bytes;
}

std::string TTempHome::Read(const std::string& name) const {
  std::ifstream in(File(name), std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

bool TTempHome::Exists(const std::string& name) const { return fs::exists(File(name)); }

int FreePort() {
  int s = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = 0;
  ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
  socklen_t len = sizeof a;
  ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
  ::close(s);
  return ntohs(a.sin_port);
}

namespace {
int Connect(int port) {
  int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
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
}  // namespace

TReply SendRaw(int port, const std::string& bytes) {
  TReply r;
  int s = Connect(port);
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

TReply Send(int port, const std::string& utf8) { return SendRaw(port, utf8 + std::string(1, '\0')); }

std::string BinPath(const std::string& name) { return std::string(VELIO_BIN_DIR) + "/" + name; }

namespace {
pid_t Spawn(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env,
            const std::string& outFile, const std::string& errFile) {
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

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

int Reap(pid_t pid) {
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}
}  // namespace

int RunProgram(const std::vector<std::string>& argv, std::string& out, std::string& err,
               const std::map<std::string, std::string>& env) {
  TTempHome tmp;
  pid_t pid = Spawn(argv, env, tmp.File("out"), tmp.File("err"));
  if (pid < 0) return -1;
  int code = Reap(pid);
  out = tmp.Read("out");
  err = tmp.Read("err");
  return code;
}

TDaemon::TDaemon(const std::string& home, const std::string& mode, int port,
                 std::map<std::string, std::string> env)
    : port_(port), out_(home + "/.daemon.out"), err_(home + "/.daemon.err") {
  pid_ = Spawn({BinPath("velio-interfaced"), "--home", home, "--mode", mode}, env, out_, err_);
}

TDaemon::~TDaemon() {
  if (pid_ > 0) Stop();
}

bool TDaemon::WaitListening(int timeoutMs) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (std::chrono::steady_clock::now() < deadline) {
    int s = Connect(port_);
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
    ::kill(pid_, SIGTERM);
    exit_ = Reap(pid_);
    pid_ = -1;
  }
  return exit_;
}

int TDaemon::Wait() {
  if (pid_ > 0) {
    exit_ = Reap(pid_);
    pid_ = -1;
  }
  return exit_;
}

std::string TDaemon::Stdout() const { return ReadFile(out_); }
std::string TDaemon::Stderr() const { return ReadFile(err_); }

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

std::string Gbk(const std::string& utf8) { return Utf8ToAnsi(utf8); }

}  // namespace e2e

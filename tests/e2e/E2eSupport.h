// E2eSupport: runs the real velio-interfaced in a temporary home and talks to
// it over loopback TCP, as the PMS does.
#ifndef VELIO_TESTS_E2E_E2ESUPPORT_H_
#define VELIO_TESTS_E2E_E2ESUPPORT_H_

#include <sys/types.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace e2e {

// A fresh temporary folder, removed with everything in it on destruction.
class TTempHome {
 public:
  TTempHome();
  ~TTempHome();
  TTempHome(const TTempHome&) = delete;
  TTempHome& operator=(const TTempHome&) = delete;
  const std::string& Path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }
  void Write(const std::string& name, const std::string& bytes) const;
  std::string Read(const std::string& name) const;  // empty when missing
  bool Exists(const std::string& name) const;

 private:
  std::string path_;
};

// A port that was free a moment ago.
int FreePort();

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
// Sends utf8 + NUL.
TReply Send(int port, const std::string& utf8);

// The headless program, started with the given arguments and environment.
class TDaemon {
 public:
  TDaemon(const std::string& home, const std::string& mode, int port,
          std::map<std::string, std::string> env = {});
  ~TDaemon();  // stops it when still running
  TDaemon(const TDaemon&) = delete;
  TDaemon& operator=(const TDaemon&) = delete;

  // Waits until the port accepts connections (or the process ended).
  bool WaitListening(int timeoutMs = 10000);
  // Sends SIGTERM and waits; returns the exit code (-1 on a signal death).
  int Stop();
  // Waits for the process to end by itself.
  int Wait();
  std::string Stdout() const;
  std::string Stderr() const;
  int Port() const { return port_; }

 private:
  pid_t pid_ = -1;
  int port_;
  std::string out_, err_;
  int exit_ = -1;
};

// Runs a program to its end; returns the exit code and fills out and err.
int RunProgram(const std::vector<std::string>& argv, std::string& out, std::string& err,
               const std::map<std::string, std::string>& env = {});

// The path of a program of this build.
std::string BinPath(const std::string& name);

// The log file of today in home, as raw bytes.
std::string TodayLog(const TTempHome& home);

// Splits a log into entries (an entry starts with a 20-character stamp line);
// each entry's text without the stamp and the final CR LF.
std::vector<std::string> LogEntries(const std::string& log);

// UTF-8 to code page 936 bytes (for comparing log texts).
std::string Gbk(const std::string& utf8);

}  // namespace e2e

#endif  // VELIO_TESTS_E2E_E2ESUPPORT_H_

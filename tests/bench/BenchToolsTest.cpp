// Tests of the benchmark and soak tools: the reference server keeps the request
// framing (it is the yardstick the interface server is measured against), the
// start-up probe measures a real server, and the soak driver's counts agree
// with what the interface server logs.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "tests/e2e/E2eSupport.h"

namespace {

using e2e::BinPath;
using e2e::FreePort;
using e2e::RunProgram;
using e2e::TTempHome;

// reference_server on a port of its own, stopped at the end of the scope.
class TReferenceServer {
 public:
  explicit TReferenceServer(int reply_length) : port_(FreePort()) {
    pid_ = fork();
    if (pid_ == 0) {
      const std::string port = std::to_string(port_);
      const std::string length = std::to_string(reply_length);
      execl(BinPath("reference_server").c_str(), "reference_server", "--port", port.c_str(),
            "--reply-length", length.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
  }
  ~TReferenceServer() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      int status = 0;
      waitpid(pid_, &status, 0);
    }
  }
  TReferenceServer(const TReferenceServer&) = delete;
  TReferenceServer& operator=(const TReferenceServer&) = delete;

  // Waits until the port accepts connections (at most 10 s).
  bool WaitListening() const {
    for (int i = 0; i < 1000; ++i) {
      const int fd = Connect();
      if (fd >= 0) {
        close(fd);
        return true;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }

  int Connect() const {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port_));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
      close(fd);
      return -1;
    }
    return fd;
  }

  int Port() const { return port_; }

 private:
  int port_;
  pid_t pid_ = -1;
};

// Sends the pieces (pausing between them), optionally shuts down the sending
// side, and returns everything received until the server closes.
std::string Exchange(const TReferenceServer& server, const std::vector<std::string>& pieces,
                     bool shutdown_after) {
  const int fd = server.Connect();
  if (fd < 0) return "<no connection>";
  for (const std::string& piece : pieces) {
    std::size_t sent = 0;
    while (sent < piece.size()) {
      const ssize_t n = send(fd, piece.data() + sent, piece.size() - sent, MSG_NOSIGNAL);
      if (n <= 0) break;
      sent += static_cast<std::size_t>(n);
    }
    if (pieces.size() > 1) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  if (shutdown_after) shutdown(fd, SHUT_WR);
  std::string received;
  char block[4096];
  for (;;) {
    const ssize_t n = recv(fd, block, sizeof block, 0);
    if (n <= 0) break;
    received.append(block, static_cast<std::size_t>(n));
  }
  close(fd);
  return received;
}

TEST(ReferenceServer, KeepsTheRequestFraming) {
  constexpr int kLength = 434;
  TReferenceServer server(kLength);
  ASSERT_TRUE(server.WaitListening());
  const std::string reply = Exchange(server, {std::string("x") + '\0'}, false);
  ASSERT_EQ(reply.size(), kLength + 1u);
  EXPECT_EQ(reply.back(), '\0');
  EXPECT_EQ(reply.find('\0'), static_cast<std::size_t>(kLength));  // the only NUL
  EXPECT_EQ(reply.rfind("<PoliceResponse>", 0), 0u);

  struct {
    const char* name;
    std::vector<std::string> pieces;
    bool shutdown_after;
    bool answered;
  } cases[] = {
      {"empty request", {std::string(1, '\0')}, false, true},
      {"in pieces", {"<Req", "uest/>", std::string(1, '\0')}, false, true},
      {"bytes after the NUL", {std::string("a\0b\0c", 5)}, false, true},
      {"16384 bytes", {std::string(16384, 'a') + '\0'}, false, true},
      {"16385 bytes without a NUL", {std::string(16385, 'a')}, false, false},
      {"peer closes before the NUL", {"<Request"}, true, false},
  };
  for (const auto& c : cases) {
    const std::string got = Exchange(server, c.pieces, c.shutdown_after);
    EXPECT_EQ(got, c.answered ? reply : std::string()) << c.name;
  }
}

TEST(ReferenceServer, ZeroLengthReplyIsTheNulAlone) {
  TReferenceServer server(0);
  ASSERT_TRUE(server.WaitListening());
  EXPECT_EQ(Exchange(server, {std::string("x") + '\0'}, false), std::string(1, '\0'));
}

TEST(StartupProbe, TimesAServerAndStopsIt) {
  const int port = FreePort();
  std::string out, err;
  ASSERT_EQ(RunProgram({BinPath("startup_probe"), "--port", std::to_string(port), "--runs", "2",
                        "--", BinPath("reference_server"), "--port", std::to_string(port)},
                       out, err),
            0)
      << err;
  EXPECT_NE(out.find("run 2: "), std::string::npos) << out;
  EXPECT_NE(out.find("median: "), std::string::npos) << out;
  // Each run was stopped: the port is free again.
  RunProgram({BinPath("startup_probe"), "--port", std::to_string(port), "--runs", "1", "--",
              BinPath("reference_server"), "--port", std::to_string(port)},
             out, err);
  EXPECT_NE(out.find("median: "), std::string::npos) << err;
}

TEST(StartupProbe, FailsWhenTheProgramNeverListens) {
  std::string out, err;
  EXPECT_EQ(RunProgram({BinPath("startup_probe"), "--port", std::to_string(FreePort()),
                        "--timeout-ms", "200", "--", "/bin/true"},
                       out, err),
            1);
}

// The figures the soak driver prints, by name.
std::map<std::string, long> Figures(const std::string& out) {
  std::map<std::string, long> figures;
  std::size_t i = 0;
  while (i < out.size()) {
    std::size_t end = out.find('\n', i);
    if (end == std::string::npos) end = out.size();
    const std::string line = out.substr(i, end - i);
    const std::size_t eq = line.find('=');
    if (eq != std::string::npos) figures[line.substr(0, eq)] = std::stol(line.substr(eq + 1));
    i = end + 1;
  }
  return figures;
}

// A short soak against the real server in member mode: every kind of request
// is sent, every well-formed one answered, and the log holds one received
// entry per well-formed or malformed request and none for the oversized and
// truncated ones.
TEST(SoakDriver, CountsAgreeWithTheServerLog) {
  TTempHome home;
  const int port = FreePort();
  home.Write("Option.ini", "[SysOption]\r\nMemberPortNo=" + std::to_string(port) + "\r\n");
  const std::map<std::string, std::string> env{{"VELIO_READER_SIM_DIR", home.File("ReaderSim")}};
  std::string out, err;
  ASSERT_EQ(RunProgram({BinPath("cardsim"), "new"}, out, err, env), 0) << err;
  e2e::TDaemon daemon(home.Path(), "member", port, env);
  ASSERT_TRUE(daemon.WaitListening()) << daemon.Stderr();

  ASSERT_EQ(RunProgram({BinPath("soak_driver"), "--port", std::to_string(port), "--seconds", "1",
                        "--threads", "3"},
                       out, err),
            0)
      << out << err;
  EXPECT_EQ(daemon.Stop(), 0);
  std::map<std::string, long> f = Figures(out);
  EXPECT_GT(f["wellformed_sent"], 0);
  EXPECT_EQ(f["wellformed_answered"], f["wellformed_sent"]);
  EXPECT_GT(f["malformed_sent"], 0);
  EXPECT_GT(f["oversized"], 0);
  EXPECT_GT(f["truncated"], 0);

  const std::vector<std::string> entries = e2e::LogEntries(e2e::TodayLog(home));
  const std::string received = e2e::Gbk("收到消息: ");
  const long logged = std::count_if(entries.begin(), entries.end(), [&](const std::string& e) {
    return e.rfind(received + "\r\n", 0) == 0;
  });
  EXPECT_EQ(logged, f["wellformed_sent"] + f["malformed_sent"]);
}

}  // namespace

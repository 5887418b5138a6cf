// startup_probe: how long a server takes from being started until it accepts
// a connection.
//
//   startup_probe --port P [--runs N] [--timeout-ms T] -- PROGRAM [ARGS...]
//
// Each run starts PROGRAM (standard output and error to /dev/null), tries to
// connect to 127.0.0.1:P every 200 microseconds until a connection succeeds,
// prints the time from the start to that moment, then stops the program with
// SIGTERM and waits for it. Prints every run and the median, in milliseconds.
// Exit status 1 when a run did not come up within the timeout or the program
// ended first.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "CLI/CLI.hpp"

extern char** environ;

namespace {

using TClock = std::chrono::steady_clock;

bool TryConnect(uint16_t port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  ::close(fd);
  return ok;
}

// One run: milliseconds until listening, or a negative value on failure.
double RunOnce(const std::vector<std::string>& command, uint16_t port, int timeout_ms) {
  std::vector<char*> argv;
  for (const std::string& arg : command) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);

  const TClock::time_point start = TClock::now();
  pid_t pid = -1;
  const int spawn_error = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawn_error != 0) {
    std::fprintf(stderr, "startup_probe: cannot start %s\n", argv[0]);
    return -1;
  }
  double ms = -1;
  const TClock::time_point deadline = start + std::chrono::milliseconds(timeout_ms);
  while (TClock::now() < deadline) {  // bounded by the timeout
    if (TryConnect(port)) {
      ms = std::chrono::duration<double, std::milli>(TClock::now() - start).count();
      break;
    }
    int status = 0;
    if (waitpid(pid, &status, WNOHANG) == pid) {
      std::fprintf(stderr, "startup_probe: the program ended before listening\n");
      return -1;
    }
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  kill(pid, SIGTERM);
  int status = 0;
  waitpid(pid, &status, 0);
  return ms;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"Measures the time from starting a server until it accepts a connection."};
  int port = 0;
  int runs = 5;
  int timeout_ms = 10000;
  std::vector<std::string> command;
  app.add_option("--port", port, "The port the program listens on")
      ->required()
      ->check(CLI::Range(1, 65535));
  app.add_option("--runs", runs, "Runs")->capture_default_str()->check(CLI::Range(1, 100));
  app.add_option("--timeout-ms", timeout_ms, "Longest wait per run")->capture_default_str();
  app.add_option("command", command, "The program and its arguments")->required();
  CLI11_PARSE(app, argc, argv);

  if (TryConnect(static_cast<uint16_t>(port))) {
    std::fprintf(stderr, "startup_probe: port %d is already in use\n", port);
    return 1;
  }
  std::vector<double> times;
  for (int i = 0; i < runs; ++i) {
    const double ms = RunOnce(command, static_cast<uint16_t>(port), timeout_ms);
    if (ms < 0) return 1;
    std::printf("run %d: %.2f ms\n", i + 1, ms);
    times.push_back(ms);
  }
  std::sort(times.begin(), times.end());
  std::printf("median: %.2f ms\n", times[times.size() / 2]);
  return 0;
}

// connect_probe: how fast a server takes connections from its listen queue.
//
//   connect_probe --port P [--connections N] [--clients C]
//
// C threads open N connections to 127.0.0.1:P between them, each thread one
// after another, waiting for nothing but the connect itself, and hold them all
// open until the last one is up; then every connection is closed. A server
// that leaves completed connections in its queue of 15 makes the kernel drop
// the next SYN, and that client retries a second later.
//
// Prints one line: the connections, the seconds until all were open, the
// connects that took longer than half a second, and the listen overflows the
// host counted meanwhile (TcpExt ListenOverflows in /proc/net/netstat, every
// listener of the host). Exit status 1 when a connect fails.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "CLI/CLI.hpp"

namespace {

using TClock = std::chrono::steady_clock;

// The host's ListenOverflows counter, or -1.
long long ListenOverflows() {
  std::ifstream netstat("/proc/net/netstat");
  std::string names, values;
  while (std::getline(netstat, names) && std::getline(netstat, values)) {
    if (names.rfind("TcpExt:", 0) != 0) continue;
    std::istringstream n(names), v(values);
    std::string name, value;
    while (n >> name && v >> value) {
      if (name == "ListenOverflows") return std::stoll(value);
    }
  }
  return -1;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"Opens connections as fast as they connect and says how long it took."};
  int port = 0;
  int connections = 10000;
  int clients = 1;
  app.add_option("--port", port, "TCP port on 127.0.0.1")->required()->check(CLI::Range(1, 65535));
  app.add_option("--connections", connections, "Connections in all")
      ->capture_default_str()
      ->check(CLI::Range(1, 1 << 20));
  app.add_option("--clients", clients, "Threads opening them at once")
      ->capture_default_str()
      ->check(CLI::Range(1, 1024));
  CLI11_PARSE(app, argc, argv);

  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) == 0) {
    limit.rlim_cur = limit.rlim_max;
    setrlimit(RLIMIT_NOFILE, &limit);
  }
  if (limit.rlim_cur < static_cast<rlim_t>(connections) + 64) {
    std::fprintf(stderr, "connect_probe: the descriptor limit %llu is too low for %d connections\n",
                 static_cast<unsigned long long>(limit.rlim_cur), connections);
    return 1;
  }

  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  std::vector<int> fds(static_cast<std::size_t>(connections), -1);
  std::atomic<int> slow{0};
  std::atomic<int> failed{0};
  const long long overflows_before = ListenOverflows();
  const TClock::time_point start = TClock::now();
  std::vector<std::thread> threads;
  for (int t = 0; t < clients; ++t) {
    threads.emplace_back([&, t] {
      // Thread t opens connections t, t + clients, t + 2 * clients, ...
      for (int i = t; i < connections; i += clients) {
        const TClock::time_point begun = TClock::now();
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
          if (fd >= 0) ::close(fd);
          failed++;
          continue;
        }
        fds[i] = fd;
        if (TClock::now() - begun > std::chrono::milliseconds(500)) slow++;
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  const double seconds = std::chrono::duration<double>(TClock::now() - start).count();
  const long long overflows = ListenOverflows() - overflows_before;
  for (const int fd : fds) {
    if (fd >= 0) ::close(fd);
  }
  std::printf("connections %d clients %d seconds %.3f slow %d overflows %lld failed %d\n",
              connections, clients, seconds, slow.load(), overflows, failed.load());
  return failed.load() == 0 ? 0 : 1;
}

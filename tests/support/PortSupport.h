// PortSupport: TCP ports for tests that start servers: a listener that holds
// a port the system chose, and ports that were free a moment ago.
//
// Free ports are taken below the system's range for outgoing connections: a
// port from that range that is free now may be some client socket's own port
// a moment later (the tests that open and drop thousands of connections run
// beside the others), and it fills with TIME_WAIT ports. The sockets used for
// probing are not inherited by programs the test starts.
#ifndef VELIO_TESTS_SUPPORT_PORTSUPPORT_H_
#define VELIO_TESTS_SUPPORT_PORTSUPPORT_H_

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <mutex>
#include <random>

namespace velio_test {

namespace port_detail {

#ifdef _WIN32
using TSocket = SOCKET;
inline constexpr TSocket kNoSocket = INVALID_SOCKET;
inline TSocket NewSocket() {
  static const bool started = [] {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  (void)started;
  return ::socket(AF_INET, SOCK_STREAM, 0);
}
inline void CloseSocket(TSocket s) {
  ::closesocket(s);
}
#else
using TSocket = int;
inline constexpr TSocket kNoSocket = -1;
inline TSocket NewSocket() {
  return ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
}
inline void CloseSocket(TSocket s) {
  ::close(s);
}
#endif

// Binds s to port (0: the system chooses) on every address.
inline bool Bind(TSocket s, int port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_ANY);
  a.sin_port = htons(static_cast<uint16_t>(port));
  return ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
}

inline bool PortFree(int port) {
  const TSocket s = NewSocket();
  if (s == kNoSocket) return false;
  const bool ok = Bind(s, port);
  CloseSocket(s);
  return ok;
}

// The lowest port the system hands out to outgoing connections.
inline int EphemeralLow() {
  std::ifstream range("/proc/sys/net/ipv4/ip_local_port_range");
  int low = 0;
  return range >> low ? low : 32768;
}

// count free ports in a row (the first of them), or 0 when none were found.
inline int FreePorts(int count) {
  static std::mutex lock;
  static std::mt19937 pick(std::random_device{}());
  const int low = 10000;
  const int high = std::max(low + 1000, EphemeralLow() - count);
  std::lock_guard<std::mutex> guard(lock);
  std::uniform_int_distribution<int> base(low, high);
  for (int attempt = 0; attempt < 500; ++attempt) {
    const int port = base(pick);
    bool all = true;
    for (int i = 0; i < count && all; ++i) all = PortFree(port + i);
    if (all) return port;
  }
  return 0;
}

}  // namespace port_detail

// A port that was free a moment ago (0 when none was found).
inline int FreePort() {
  return port_detail::FreePorts(1);
}

// The first of two ports in a row that were free a moment ago.
inline int FreePortPair() {
  return port_detail::FreePorts(2);
}

// A socket listening on every address, on a port the system chose; closed on
// destruction (or by Close), which frees the port.
class TListeningPort {
 public:
  TListeningPort() {
    fd_ = port_detail::NewSocket();
    sockaddr_in a{};
    socklen_t n = sizeof a;
    if (fd_ == port_detail::kNoSocket || !port_detail::Bind(fd_, 0) || ::listen(fd_, 1) != 0 ||
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &n) != 0)
      return;
    port_ = ntohs(a.sin_port);
  }
  ~TListeningPort() { Close(); }
  TListeningPort(const TListeningPort&) = delete;
  TListeningPort& operator=(const TListeningPort&) = delete;

  // The port; 0 when the socket could not be set up.
  int Port() const { return port_; }
  void Close() {
    if (fd_ != port_detail::kNoSocket) port_detail::CloseSocket(fd_);
    fd_ = port_detail::kNoSocket;
  }

 private:
  port_detail::TSocket fd_ = port_detail::kNoSocket;
  int port_ = 0;
};

}  // namespace velio_test

#endif  // VELIO_TESTS_SUPPORT_PORTSUPPORT_H_

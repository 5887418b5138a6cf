// reference_server: the request framing and nothing else, as a yardstick for
// the interface server.
//
//   reference_server [--port P] [--reply-length N] [--backlog B]
//
// Listens on 127.0.0.1:P (0: any free port; backlog 15 like the interface
// server). Each accepted connection gets a thread of its own (256 KB of
// stack), which reads up to the first NUL (dropping the connection silently
// after more than 16384 bytes without one, or when the peer closes first),
// writes a fixed reply of N bytes and one NUL, and closes. No handler, no log, no code page
// conversion: what is left is the cost of accepting, a thread, reading, writing and closing.
//
// Prints "port <P> pid <PID>" once listening and runs until SIGINT or SIGTERM.
// Raises its descriptor limit to the hard limit.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <pthread.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "CLI/CLI.hpp"

namespace {

constexpr std::size_t kBlockSize = 32768;
constexpr std::size_t kMaxRequest = 16384;

// Closes a descriptor at the end of its scope.
class TFd {
 public:
  explicit TFd(int fd) : fd_(fd) {}
  ~TFd() {
    if (fd_ >= 0) ::close(fd_);
  }
  TFd(const TFd&) = delete;
  TFd& operator=(const TFd&) = delete;
  int Get() const { return fd_; }

 private:
  int fd_;
};

// A reply of exactly length bytes that looks like a reply, then the NUL.
std::string BuildReply(std::size_t length) {
  const std::string head = "<PoliceResponse>";
  const std::string tail = "</PoliceResponse>";
  std::string reply;
  if (length >= head.size() + tail.size()) {
    reply = head + std::string(length - head.size() - tail.size(), 'x') + tail;
  } else {
    reply.assign(length, 'x');
  }
  reply.push_back('\0');
  return reply;
}

// One connection, on its own thread: read to the NUL, answer, close.
void Serve(int raw_fd, const std::string* reply) {
  TFd fd(raw_fd);
  std::unique_ptr<char[]> block(new char[kBlockSize]);
  std::size_t received = 0;
  // Each pass takes at least one byte or ends the connection; the request is
  // at most kMaxRequest + 1 bytes long, so the loop is bounded.
  for (;;) {
    const ssize_t n = ::recv(fd.Get(), block.get(), kBlockSize, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;  // closed or failed before the NUL
    const std::size_t take = std::min<std::size_t>(n, kMaxRequest + 1 - received);
    if (std::memchr(block.get(), '\0', take) != nullptr) break;
    received += take;
    if (received > kMaxRequest) return;  // too long: dropped without a reply
  }
  const char* p = reply->data();
  std::size_t left = reply->size();
  while (left > 0) {  // each pass sends at least one byte or gives up
    const ssize_t n = ::send(fd.Get(), p, left, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    p += n;
    left -= static_cast<std::size_t>(n);
  }
  ::shutdown(fd.Get(), SHUT_WR);
}

// A detached thread with a small stack (Serve needs a few hundred bytes): with
// the default 8 MB, glibc reuses only five stacks of ended threads and maps,
// faults in and unmaps a fresh one for every further connection.
bool StartServing(int fd, const std::string* reply) {
  struct TJob {
    int fd;
    const std::string* reply;
  };
  auto* job = new TJob{fd, reply};
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
  pthread_attr_setstacksize(&attr, 256 * 1024);
  pthread_t thread;
  const int rc = pthread_create(
      &thread, &attr,
      [](void* arg) -> void* {
        std::unique_ptr<TJob> job(static_cast<TJob*>(arg));
        Serve(job->fd, job->reply);
        return nullptr;
      },
      job);
  pthread_attr_destroy(&attr);
  if (rc != 0) delete job;
  return rc == 0;
}

void RaiseFileLimit() {
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
    limit.rlim_cur = limit.rlim_max;
    setrlimit(RLIMIT_NOFILE, &limit);
  }
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"Answers every request with a fixed reply: the framing and nothing else."};
  int port = 0;
  int reply_length = 400;
  int backlog = 15;
  app.add_option("--port", port, "TCP port on 127.0.0.1 (0: any free port)")
      ->check(CLI::Range(0, 65535));
  app.add_option("--reply-length", reply_length, "Reply bytes before the NUL")
      ->capture_default_str()
      ->check(CLI::Range(0, 1 << 20));
  app.add_option("--backlog", backlog, "Listen backlog")->capture_default_str();
  CLI11_PARSE(app, argc, argv);

  RaiseFileLimit();
  sigset_t stop_signals;
  sigemptyset(&stop_signals);
  sigaddset(&stop_signals, SIGINT);
  sigaddset(&stop_signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);  // inherited by every thread

  TFd listener(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (listener.Get() < 0) {
    std::perror("reference_server: socket");
    return 1;
  }
  const int on = 1;
  setsockopt(listener.Get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::bind(listener.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(listener.Get(), backlog) != 0) {
    std::perror("reference_server: bind");
    return 1;
  }
  socklen_t length = sizeof address;
  getsockname(listener.Get(), reinterpret_cast<sockaddr*>(&address), &length);

  const std::string reply = BuildReply(static_cast<std::size_t>(reply_length));
  std::thread acceptor([&listener, &reply] {
    // Ends when the listener is shut down (accept then fails with EINVAL).
    for (;;) {
      const int fd = ::accept4(listener.Get(), nullptr, nullptr, SOCK_CLOEXEC);
      if (fd < 0) {
        if (errno == EINTR || errno == ECONNABORTED) continue;
        if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
          std::this_thread::sleep_for(std::chrono::milliseconds(10));
          continue;
        }
        return;
      }
      if (!StartServing(fd, &reply)) ::close(fd);  // no thread: the connection is dropped
    }
  });

  std::printf("port %u pid %d\n", ntohs(address.sin_port), static_cast<int>(getpid()));
  std::fflush(stdout);
  int signal_number = 0;
  sigwait(&stop_signals, &signal_number);
  ::shutdown(listener.Get(), SHUT_RDWR);
  acceptor.join();
  // Connection threads still running are ended with the process.
  std::fflush(stdout);
  std::_Exit(0);
}

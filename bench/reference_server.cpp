// reference_server: the request framing and nothing else, as fast as this
// machine serves it: the ceiling the interface server is measured against.
//
//   reference_server [--port P] [--reply-length N] [--backlog B] [--file-work DIR]
//
// Listens on 127.0.0.1:P (0: any free port; backlog 15 like the interface
// server). One thread, non-blocking sockets, one epoll set: each time the
// listener is ready it accepts until the queue is empty; each connection is
// read up to its first NUL (dropped silently after more than 16384 bytes
// without one, or when the peer closes first), answered with a fixed reply of
// N bytes and one NUL, and closed. No handler, no code page conversion, no
// thread per connection or request.
//
// --file-work DIR adds the file work of a police request before each reply:
// an entry with the request appended to DIR/yyyymmdd.LOG, DIR/Guest.ini read
// whole, an entry with the reply appended (each entry: open for appending,
// one write of a time stamp, the text and CR LF, close), which is what the
// interface server's police mode must do per request.
//
// An idle connection costs its socket and four bytes here. Prints
// "port <P> pid <PID>" once listening and runs until SIGINT or SIGTERM.
// Raises its descriptor limit to the hard limit.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "CLI/CLI.hpp"

namespace {

constexpr std::size_t kBlockSize = 32768;
constexpr std::size_t kMaxRequest = 16384;
constexpr int kEvents = 256;
// The log entries' headings as the police mode writes them (code page 936).
constexpr std::string_view kReceived = "\xca\xd5\xb5\xbd\xcf\xfb\xcf\xa2: \r\n";
constexpr std::string_view kResult = "\xb7\xb5\xbb\xd8\xbd\xe1\xb9\xfb: \r\n";

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

// The file work of one police request, in DIR.
class TFileWork {
 public:
  explicit TFileWork(const std::string& dir) : guest_(dir + "/Guest.ini") {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char name[16];
    std::strftime(name, sizeof name, "%Y%m%d.LOG", &local);
    log_ = dir + "/" + name;
  }

  void Do(std::string_view request, std::string_view reply) {
    Append(kReceived, request);
    ReadGuest();
    Append(kResult, reply.substr(0, reply.size() - 1));  // without the NUL
  }

 private:
  void Append(std::string_view heading, std::string_view text) {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char stamp[32];
    entry_.assign(stamp, std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S ", &local));
    entry_ += heading;
    entry_ += text;
    entry_ += "\r\n";
    const int fd = ::open(log_.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0640);
    if (fd < 0) return;
    if (::write(fd, entry_.data(), entry_.size()) < 0) {
      // Dropped like the interface server's failed entries.
    }
    ::close(fd);
  }

  void ReadGuest() {
    const int fd = ::open(guest_.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return;
    contents_.clear();
    char block[16384];
    for (;;) {  // each pass reads at least one byte, or ends
      const ssize_t n = ::read(fd, block, sizeof block);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      contents_.append(block, static_cast<std::size_t>(n));
    }
    ::close(fd);
  }

  std::string log_;
  std::string guest_;
  std::string entry_;
  std::string contents_;
};

void RaiseFileLimit() {
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
    limit.rlim_cur = limit.rlim_max;
    setrlimit(RLIMIT_NOFILE, &limit);
  }
}

// Sends all of reply on a non-blocking socket, waiting (blocking mode) only
// when its buffer is full. False when the peer is gone.
bool SendAll(int fd, std::string_view reply) {
  while (!reply.empty()) {  // each pass sends at least one byte, blocks once, or gives up
    const ssize_t n = ::send(fd, reply.data(), reply.size(), MSG_NOSIGNAL);
    if (n > 0) {
      reply.remove_prefix(static_cast<std::size_t>(n));
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) &&
               (::fcntl(fd, F_GETFL) & O_NONBLOCK) != 0) {
      ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    } else {
      return false;
    }
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"Answers every request with a fixed reply: the framing at its fastest."};
  int port = 0;
  int reply_length = 400;
  int backlog = 15;
  std::string file_work_dir;
  app.add_option("--port", port, "TCP port on 127.0.0.1 (0: any free port)")
      ->check(CLI::Range(0, 65535));
  app.add_option("--reply-length", reply_length, "Reply bytes before the NUL")
      ->capture_default_str()
      ->check(CLI::Range(0, 1 << 20));
  app.add_option("--backlog", backlog, "Listen backlog")->capture_default_str();
  app.add_option("--file-work", file_work_dir,
                 "Do a police request's file work in this folder (log entries, Guest.ini)");
  CLI11_PARSE(app, argc, argv);

  RaiseFileLimit();
  sigset_t stop_signals;
  sigemptyset(&stop_signals);
  sigaddset(&stop_signals, SIGINT);
  sigaddset(&stop_signals, SIGTERM);
  sigprocmask(SIG_BLOCK, &stop_signals, nullptr);
  const int stop_fd = ::signalfd(-1, &stop_signals, SFD_CLOEXEC);

  const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  const int on = 1;
  setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (listener < 0 || stop_fd < 0 ||
      ::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(listener, backlog) != 0) {
    std::perror("reference_server");
    return 1;
  }
  socklen_t length = sizeof address;
  getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);

  const int epoll = ::epoll_create1(EPOLL_CLOEXEC);
  epoll_event event{};
  event.events = EPOLLIN;  // level-triggered: a queue not emptied is reported again
  event.data.fd = listener;
  epoll_ctl(epoll, EPOLL_CTL_ADD, listener, &event);
  event.data.fd = stop_fd;
  epoll_ctl(epoll, EPOLL_CTL_ADD, stop_fd, &event);

  const std::string reply = BuildReply(static_cast<std::size_t>(reply_length));
  std::unique_ptr<TFileWork> file_work;
  if (!file_work_dir.empty()) file_work = std::make_unique<TFileWork>(file_work_dir);
  std::vector<uint32_t> received;  // request bytes so far, by descriptor
  std::vector<char> block(kBlockSize);
  epoll_event events[kEvents];

  std::printf("port %u pid %d\n", ntohs(address.sin_port), static_cast<int>(getpid()));
  std::fflush(stdout);
  for (;;) {
    const int ready = ::epoll_wait(epoll, events, kEvents, -1);
    if (ready < 0 && errno == EINTR) continue;
    for (int e = 0; e < ready; ++e) {
      const int fd = events[e].data.fd;
      if (fd == stop_fd) return 0;  // connections still open end with the process
      if (fd == listener) {
        for (;;) {  // until the queue is empty; each pass takes one connection
          const int connection =
              ::accept4(listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
          if (connection < 0) {
            if (errno == EINTR || errno == ECONNABORTED) continue;
            if (errno == EMFILE || errno == ENFILE) usleep(10000);  // reported again
            break;
          }
          if (static_cast<std::size_t>(connection) >= received.size()) {
            received.resize(static_cast<std::size_t>(connection) * 2 + 64);
          }
          received[connection] = 0;
          epoll_event conn_event{};
          conn_event.events = EPOLLIN | EPOLLRDHUP | EPOLLET;  // reports bytes already there
          conn_event.data.fd = connection;
          if (epoll_ctl(epoll, EPOLL_CTL_ADD, connection, &conn_event) != 0) ::close(connection);
        }
        continue;
      }
      // A connection: read until it would block, its NUL, its end or too much.
      bool done = false;
      for (;;) {  // each pass takes at least one byte or ends
        const ssize_t n = ::recv(fd, block.data(), block.size(), 0);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
        if (n <= 0) {
          done = true;  // closed or failed before the NUL
          break;
        }
        const std::size_t take = std::min<std::size_t>(n, kMaxRequest + 1 - received[fd]);
        const char* nul = static_cast<const char*>(std::memchr(block.data(), '\0', take));
        if (nul != nullptr) {
          if (file_work) file_work->Do(std::string_view(block.data(), nul - block.data()), reply);
          SendAll(fd, reply);
          done = true;
          break;
        }
        received[fd] += static_cast<uint32_t>(take);
        if (received[fd] > kMaxRequest) {
          done = true;  // too long: dropped without a reply
          break;
        }
      }
      if (done) ::close(fd);  // also leaves the epoll set
    }
  }
}

// SystemUnit: descriptor limit, whole-file reads and keep-alive per platform.
//
// POSIX reads a file with open and read alone (no stdio buffer, no status
// call): a small file costs an open, two reads and a close. Windows goes
// through the C library, which reports a missing file as ENOENT too.
#include "platform/SystemUnit.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <system_error>

#include "platform/ErrorsUnit.h"
#include "platform/PathUnit.h"

#ifdef _WIN32
#include <winsock2.h>
// These two need winsock2.h first.
#include <mstcpip.h>
#include <ws2tcpip.h>
#else
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <semaphore.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>
#endif

std::string RaiseOpenFileLimit() {
#ifdef _WIN32
  return std::string();  // sockets and files have no per-process count limit here
#else
  rlimit limit{};
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) return std::strerror(errno);
  if (limit.rlim_cur == limit.rlim_max) return std::string();
  limit.rlim_cur = limit.rlim_max;
  if (::setrlimit(RLIMIT_NOFILE, &limit) != 0) return std::strerror(errno);
  return std::string();
#endif
}

bool ReadFileIfExists(const std::string& fileName, std::string& contents) {
  contents.clear();
#ifdef _WIN32
  // Shared for deletion too, so a writer may replace the file meanwhile.
  if (ReadWholeFileShared(fileName, contents)) return true;
  contents.clear();
  if (!FileExists(fileName)) return false;
  CannotRead(fileName);
#else
  const int fd = ::open(fileName.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOENT) return false;
    CannotRead(fileName);
  }
  char block[16384];
  for (;;) {  // each pass reads at least one byte, or ends
    const ssize_t n = ::read(fd, block, sizeof block);
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      ::close(fd);
      contents.clear();
      CannotRead(fileName);
    }
    contents.append(block, static_cast<size_t>(n));
  }
  ::close(fd);
  return true;
#endif
}

bool SetTcpKeepAlive(TNativeSocket socket, const TKeepAlive& keepAlive) {
#ifdef _WIN32
  const SOCKET s = static_cast<SOCKET>(socket);
  BOOL on = TRUE;
  bool ok =
      ::setsockopt(s, SOL_SOCKET, SO_KEEPALIVE, reinterpret_cast<const char*>(&on), sizeof on) == 0;
  tcp_keepalive values{};
  values.onoff = 1;
  values.keepalivetime = static_cast<ULONG>(keepAlive.idleSeconds) * 1000;
  values.keepaliveinterval = static_cast<ULONG>(keepAlive.intervalSeconds) * 1000;
  DWORD returned = 0;
  ok = ::WSAIoctl(s, SIO_KEEPALIVE_VALS, &values, sizeof values, nullptr, 0, &returned, nullptr,
                  nullptr) == 0 &&
       ok;
#ifdef TCP_KEEPCNT
  // Windows 10 1703 and later; older systems keep their fixed count of 10.
  DWORD probes = static_cast<DWORD>(keepAlive.probes);
  ::setsockopt(s, IPPROTO_TCP, TCP_KEEPCNT, reinterpret_cast<const char*>(&probes), sizeof probes);
#endif
  return ok;
#else
  auto set = [socket](int level, int name, int value) {
    return ::setsockopt(socket, level, name, &value, sizeof value) == 0;
  };
  bool ok = set(SOL_SOCKET, SO_KEEPALIVE, 1);
#ifdef __APPLE__
  ok = set(IPPROTO_TCP, TCP_KEEPALIVE, keepAlive.idleSeconds) && ok;
#else
  ok = set(IPPROTO_TCP, TCP_KEEPIDLE, keepAlive.idleSeconds) && ok;
#endif
  ok = set(IPPROTO_TCP, TCP_KEEPINTVL, keepAlive.intervalSeconds) && ok;
  ok = set(IPPROTO_TCP, TCP_KEEPCNT, keepAlive.probes) && ok;
  return ok;
#endif
}

#ifdef _WIN32
struct TWakeSignal::TImpl {
  HANDLE semaphore;
};

TWakeSignal::TWakeSignal() : impl_(std::make_unique<TImpl>()) {
  impl_->semaphore = ::CreateSemaphoreA(nullptr, 0, 0x7fffffff, nullptr);
  if (impl_->semaphore == nullptr)
    throw std::system_error(static_cast<int>(::GetLastError()), std::system_category());
}
TWakeSignal::~TWakeSignal() {
  ::CloseHandle(impl_->semaphore);
}
void TWakeSignal::Post() {
  ::ReleaseSemaphore(impl_->semaphore, 1, nullptr);
}
void TWakeSignal::Wait() {
  ::WaitForSingleObject(impl_->semaphore, INFINITE);
}
bool TWakeSignal::WaitFor(std::chrono::milliseconds timeout) {
  return ::WaitForSingleObject(impl_->semaphore, static_cast<DWORD>(timeout.count())) ==
         WAIT_OBJECT_0;
}
#else
struct TWakeSignal::TImpl {
  sem_t semaphore;
};

TWakeSignal::TWakeSignal() : impl_(std::make_unique<TImpl>()) {
  if (::sem_init(&impl_->semaphore, 0, 0) != 0)
    throw std::system_error(errno, std::generic_category());
}
TWakeSignal::~TWakeSignal() {
  ::sem_destroy(&impl_->semaphore);
}
void TWakeSignal::Post() {
  ::sem_post(&impl_->semaphore);
}
void TWakeSignal::Wait() {
  while (::sem_wait(&impl_->semaphore) != 0 && errno == EINTR) {
  }
}
bool TWakeSignal::WaitFor(std::chrono::milliseconds timeout) {
  // The deadline is on the wall clock (what sem_timedwait takes): a clock
  // change only makes the wait shorter or longer.
  timespec deadline{};
  ::clock_gettime(CLOCK_REALTIME, &deadline);
  const auto total = std::chrono::nanoseconds(deadline.tv_nsec) + timeout;
  deadline.tv_sec +=
      static_cast<time_t>(std::chrono::duration_cast<std::chrono::seconds>(total).count());
  deadline.tv_nsec = static_cast<long>((total % std::chrono::seconds(1)).count());
  for (;;) {  // ends with the post or at the deadline
    if (::sem_timedwait(&impl_->semaphore, &deadline) == 0) return true;
    if (errno != EINTR) return false;
  }
}
#endif

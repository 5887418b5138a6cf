// SystemUnit: the operating system's resources a server process asks for.
//
// Small services: raising the process's open-file limit at start-up, reading
// a whole file while telling a missing file from one that cannot be read, TCP
// keep-alive on sockets, and a thread's wake-up signal. Each is a thin wrapper over the
// platform's calls; all are safe to call from any thread.
#ifndef VELIO_PLATFORM_SYSTEMUNIT_H_
#define VELIO_PLATFORM_SYSTEMUNIT_H_

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

// Raises the soft limit on open descriptors to the hard limit. Returns empty
// text on success (also when there is nothing to raise, and on systems without
// such a limit), otherwise the reason it failed.
std::string RaiseOpenFileLimit();

// Reads the whole file into contents. Returns false (contents empty) when the
// file does not exist. Raises EInOutError "Unable to read %s" (the path) when
// it exists but cannot be opened or read: no permission, out of descriptors, a
// folder, an I/O error.
bool ReadFileIfExists(const std::string& fileName, std::string& contents);

// A socket handle as the platform knows it (asio's native_handle()).
#ifdef _WIN32
using TNativeSocket = std::uintptr_t;
#else
using TNativeSocket = int;
#endif

// TCP keep-alive: the first probe after idleSeconds without traffic, then one
// every intervalSeconds; after probes unanswered probes the connection fails.
struct TKeepAlive {
  int idleSeconds;
  int intervalSeconds;
  int probes;
};

// Turns keep-alive on for socket with these timings. Returns false when the
// system refused any of the settings.
bool SetTcpKeepAlive(TNativeSocket socket, const TKeepAlive& keepAlive);

// True when connections accepted by a listening socket carry its keep-alive
// settings (Linux copies them to every accepted socket); otherwise each
// accepted socket needs its own SetTcpKeepAlive.
#ifdef __linux__
inline constexpr bool kAcceptedSocketsInheritKeepAlive = true;
#else
inline constexpr bool kAcceptedSocketsInheritKeepAlive = false;
#endif

// A wake-up from one thread to another, on the system's semaphore: each Post
// lets one wait return, now or later. A post to a thread already waiting
// costs one system call on each side, and neither side blocks on a lock.
// Thread-safe. Whatever the poster wrote before Post is visible to the waiter
// after its wait returns.
class TWakeSignal {
 public:
  TWakeSignal();  // raises std::system_error when the system has no semaphore left
  ~TWakeSignal();
  TWakeSignal(const TWakeSignal&) = delete;
  TWakeSignal& operator=(const TWakeSignal&) = delete;

  void Post();
  // Waits for a post and takes it.
  void Wait();
  // Waits for a post for at most timeout: true when one was taken.
  bool WaitFor(std::chrono::milliseconds timeout);

 private:
  struct TImpl;
  std::unique_ptr<TImpl> impl_;
};

#endif  // VELIO_PLATFORM_SYSTEMUNIT_H_

// ServerTestSupport: a scriptable test handler and a blocking loopback client
// for the request server's tests.
//
// The test handler is registered for kTestMode; each test sets the script it
// runs (default: reply "echo:" + request). Counters tell how many handlers were
// created, called and freed. The client helpers use plain POSIX sockets with a
// poll timeout so that a failing test ends instead of hanging.
#ifndef VELIO_TESTS_SERVER_SERVERTESTSUPPORT_H_
#define VELIO_TESTS_SERVER_SERVERTESTSUPPORT_H_

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "server/MessageHandlerUnit.h"
#include "server/TCPServerUnit.h"
#include "server/Utf8Unit.h"
#include "services/InterfaceModeUnit.h"

namespace servertest {

inline constexpr int kTestMode = 91;
inline constexpr auto kClientTimeout = std::chrono::seconds(10);

using TScript = std::function<void(TConnection&, const std::u16string&)>;

// Process-wide state of the test handler.
struct THandlerState {
  std::mutex lock;
  TScript script;
  std::u16string last_request;
  TMemo* last_memo = nullptr;
  std::atomic<int> created{0};
  std::atomic<int> called{0};
  std::atomic<int> freed{0};
};

inline THandlerState& HandlerState() {
  static THandlerState* state = new THandlerState;  // never freed: threads may outlive tests
  return *state;
}

inline void EchoScript(TConnection& connection, const std::u16string& request) {
  SendReplyText(connection, u"echo:" + request);
}

class TTestHandler : public TMessageHandler {
 public:
  explicit TTestHandler(TMemo* memo) {
    THandlerState& state = HandlerState();
    std::lock_guard<std::mutex> lock(state.lock);
    state.last_memo = memo;
    state.created++;
  }
  ~TTestHandler() override { HandlerState().freed++; }
  void HandleMessage(TConnection& connection, const std::u16string& request) override {
    THandlerState& state = HandlerState();
    TScript script;
    {
      std::lock_guard<std::mutex> lock(state.lock);
      state.last_request = request;
      script = state.script;
    }
    state.called++;
    if (script) script(connection, request);
  }
};

// Registers the test handler, selects its mode and resets the counters.
inline void UseTestHandler(TScript script = EchoScript) {
  static std::once_flag registered;
  std::call_once(registered, [] {
    RegisterHandlerFactory(kTestMode,
                           [](TMemo* memo) { return std::make_unique<TTestHandler>(memo); });
  });
  InterfaceMode.store(kTestMode);
  THandlerState& state = HandlerState();
  std::lock_guard<std::mutex> lock(state.lock);
  state.script = std::move(script);
  state.last_request.clear();
  state.last_memo = nullptr;
  state.created = 0;
  state.called = 0;
  state.freed = 0;
}

inline std::u16string LastRequest() {
  THandlerState& state = HandlerState();
  std::lock_guard<std::mutex> lock(state.lock);
  return state.last_request;
}

// Raises the descriptor limit to the hard limit (tests that open thousands).
inline void RaiseFileLimit() {
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
    limit.rlim_cur = limit.rlim_max;
    setrlimit(RLIMIT_NOFILE, &limit);
  }
}

// A connected loopback client socket; closes on destruction.
class TClient {
 public:
  TClient() = default;
  explicit TClient(uint16_t port) { Connect(port); }
  ~TClient() { Close(); }
  TClient(TClient&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
  TClient& operator=(TClient&& other) noexcept {
    if (this != &other) {
      Close();
      fd_ = other.fd_;
      other.fd_ = -1;
    }
    return *this;
  }
  TClient(const TClient&) = delete;
  TClient& operator=(const TClient&) = delete;

  bool Connect(uint16_t port) {
    Close();
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0) return false;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
      Close();
      return false;
    }
    return true;
  }

  bool Connected() const { return fd_ >= 0; }
  int Fd() const { return fd_; }

  bool Send(std::string_view bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
      const ssize_t n = ::send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
      if (n <= 0) return false;
      sent += static_cast<std::size_t>(n);
    }
    return true;
  }

  // Ends the sending side (the server sees end of stream).
  void ShutdownSend() { ::shutdown(fd_, SHUT_WR); }

  // Closes with a reset instead of an orderly close.
  void Abort() {
    linger option{1, 0};
    ::setsockopt(fd_, SOL_SOCKET, SO_LINGER, &option, sizeof option);
    Close();
  }

  void Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

  enum class TEnd { kClosed, kReset, kTimeout };
  struct TReceived {
    std::string bytes;
    TEnd end = TEnd::kTimeout;
  };

  // Reads until the server closes the connection (or the timeout passes).
  TReceived ReadUntilClosed(std::chrono::milliseconds timeout = kClientTimeout) {
    TReceived received;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    char block[65536];
    for (;;) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) return received;
      pollfd entry{fd_, POLLIN, 0};
      const int ready = ::poll(&entry, 1, static_cast<int>(left.count()));
      if (ready < 0 && errno == EINTR) continue;
      if (ready <= 0) return received;
      const ssize_t n = ::recv(fd_, block, sizeof block, 0);
      if (n == 0) {
        received.end = TEnd::kClosed;
        return received;
      }
      if (n < 0) {
        if (errno == EINTR || errno == EAGAIN) continue;
        received.end = TEnd::kReset;
        return received;
      }
      received.bytes.append(block, static_cast<std::size_t>(n));
    }
  }

  // True when nothing arrives and the connection stays open for the period.
  bool StaysSilent(std::chrono::milliseconds period) {
    pollfd entry{fd_, POLLIN, 0};
    return ::poll(&entry, 1, static_cast<int>(period.count())) == 0;
  }

 private:
  int fd_ = -1;
};

// One request on a new connection: the reply bytes and how the server ended.
inline TClient::TReceived Exchange(uint16_t port, std::string_view request) {
  TClient client(port);
  if (!client.Connected() || !client.Send(request)) return {};
  return client.ReadUntilClosed();
}

// The listen backlog is 15. A client that opens connections faster than the
// server is scheduled to accept them would overflow it, and the kernel would
// then drop connection attempts (retried a second later). A full request
// after every few connections proves that every earlier one has been accepted
// (the accept queue is first in, first out). The probe requests run the
// current test handler.
inline constexpr int kConnectBatch = 8;

inline void Probe(uint16_t port) {
  TClient probe(port);
  probe.Send(std::string("probe\0", 6));
  probe.ReadUntilClosed();
}

// Opens n connections that stay silent; returns the number of probes made.
inline int OpenClients(uint16_t port, int n, std::vector<TClient>& clients) {
  int probes = 0;
  for (int i = 0; i < n; ++i) {
    clients.emplace_back(port);
    if (i % kConnectBatch == kConnectBatch - 1) {
      Probe(port);
      ++probes;
    }
  }
  return probes;
}

inline std::string Reply(std::u16string_view text) {
  std::string bytes = EncodeUtf8(text);
  bytes.push_back('\0');
  return bytes;
}

// A gate that handlers wait at until the test opens it (with a time limit so
// that a broken test cannot hang).
class TGate {
 public:
  void Open() {
    std::lock_guard<std::mutex> lock(lock_);
    open_ = true;
    changed_.notify_all();
  }
  bool Wait(std::chrono::milliseconds timeout = kClientTimeout) {
    std::unique_lock<std::mutex> lock(lock_);
    return changed_.wait_for(lock, timeout, [this] { return open_; });
  }

 private:
  std::mutex lock_;
  std::condition_variable changed_;
  bool open_ = false;
};

// Counts arrivals; lets a test wait until n have arrived.
class TCounter {
 public:
  void Arrive() {
    std::lock_guard<std::mutex> lock(lock_);
    ++count_;
    changed_.notify_all();
  }
  bool WaitFor(int n, std::chrono::milliseconds timeout = kClientTimeout) {
    std::unique_lock<std::mutex> lock(lock_);
    return changed_.wait_for(lock, timeout, [this, n] { return count_ >= n; });
  }
  int Count() {
    std::lock_guard<std::mutex> lock(lock_);
    return count_;
  }

 private:
  std::mutex lock_;
  std::condition_variable changed_;
  int count_ = 0;
};

// Waits until every handler thread of the process has ended.
inline bool WaitForNoHandlerThreads(std::chrono::milliseconds timeout = kClientTimeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (TRequestServer::LiveHandlerThreads() > 0) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

}  // namespace servertest

#endif  // VELIO_TESTS_SERVER_SERVERTESTSUPPORT_H_

// TCPServerUnit: how the request server works.
//
// One I/O thread runs an asio::io_context. It owns the listening socket and
// every connection still waiting for its request. A waiting connection holds
// its socket and the bytes received so far, nothing more: the I/O thread waits
// for the socket to become readable (async_wait), then reads without blocking
// into one scratch block of 32768 bytes shared by all connections, and keeps
// only the bytes up to the first NUL (at most 16385). Because the reactor is
// edge-triggered, each wake-up reads until the socket would block before it
// waits again. The listener is served the same way: each wake-up takes every
// completed connection from the listen queue (backlog 15) before it reads from
// or refuses any of them, so a burst of connects never finds the queue full
// because the I/O thread was busy with the previous connection.
//
// When the NUL has arrived the connection passes to a handler thread of its
// own: a parked one if there is one, else a new detached thread (so a request
// never waits for another request's handler). That thread creates the mode's
// handler, decodes the request, calls HandleMessage, frees the handler and
// closes the socket; then it parks for the next request, and ends after
// kWorkerIdleTime without one, when too many are parked, or when Deactivate
// releases the parked threads. While a connection is being handled its
// socket belongs to its thread; the only thing another thread may do to it is
// shut it down (Deactivate), under the connection's lock, which makes a
// blocked or later write fail. The socket stays non-blocking on hand-over: a
// reply that fits the socket's buffer (every usual one) goes out in one send;
// only when the buffer is full is the socket switched to blocking mode for the
// rest of the reply (asio passes MSG_NOSIGNAL on Linux: a vanished peer raises
// an error, never SIGPIPE).
//
// Per request the hand-off costs one wake-up of a parked thread and one hold
// of the server's lock on each side: the I/O thread keeps its reading
// connections to itself (no lock), registers the request and picks a parked
// thread under one hold, and wakes it after letting go (a semaphore post, so
// the woken thread takes no lock to find its job); the handler thread
// unregisters its connection and parks again under one hold. Accepted sockets
// inherit keep-alive from the listener where the system allows it, so that
// costs nothing per connection either.
//
// Ownership: TRequestServer holds the TImpl through a shared_ptr and every
// handler thread holds another, together with its connection. The sets of
// reading connections (I/O thread only) and of connections in their handlers
// (under the lock) are in the TImpl; a handler thread removes its connection
// when it is done. A thread that outlives Deactivate's wait therefore keeps
// the io_context and its socket alive until it is done, after the server
// object is gone.
//
// Deactivate, from the controlling thread: (1) on the I/O thread, close the
// listener, close every connection still reading, shut down every connection
// in its handler; (2) wait for handler threads, checking every step (250 ms)
// for at most the stop wait (5000 ms); (3) release the I/O thread's work guard:
// with no socket operation left, io_context::run returns and the thread is
// joined; (4) raise "Terminate Thread Timeout" if handler threads are left.
#include "server/TCPServerUnit.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <future>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <unordered_set>
#include <vector>

#include "asio.hpp"
#include "platform/CodePageUnit.h"
#include "platform/ErrorsUnit.h"
#include "platform/SystemUnit.h"
#include "server/MessageHandlerUnit.h"
#include "server/Utf8Unit.h"
#include "server/VerboseUnit.h"
#include "services/InterfaceModeUnit.h"

namespace {

constexpr std::size_t kBlockSize = 32768;      // receive and send block
constexpr std::size_t kMaxLineLength = 16384;  // request bytes before the NUL
constexpr int kListenBacklog = 15;
constexpr auto kAcceptRetryDelay = std::chrono::milliseconds(10);
constexpr auto kWorkerIdleTime = std::chrono::seconds(10);
constexpr std::size_t kMaxParkedWorkers = 64;
// Connections taken from the listen queue in one wake-up before any of them is
// looked at (the queue holds 16, so one pass normally empties it).
constexpr std::size_t kAcceptBatch = 64;
// A PMS that crashed or lost its network mid-request is noticed within about
// two minutes (60 s idle, then 6 probes 10 s apart) and its connection closed;
// a live one answers the probes, so a request still has no time limit.
constexpr TKeepAlive kKeepAlive{60, 10, 6};

const char kAddressInUse[] = "Could not bind socket. Address and port are already in use.";
const char kTerminateThreadTimeout[] = "Terminate Thread Timeout";
const char kConnectionClosed[] = "Connection closed.";
// The reason a connection is dropped when its request is too long. Like every
// reading failure it ends the connection silently: nobody shows or logs it.
const char kMaxLineLengthExceeded[] = "Max line length exceeded.";

// The peer as "address:port" ("[address]:port" for IPv6), for --verbose.
std::string PeerText(const asio::ip::tcp::endpoint& peer) {
  const asio::ip::address address = peer.address();
  const std::string text =
      address.is_v6() && !address.to_v6().is_v4_mapped() ? "[" + address.to_string() + "]"
      : address.is_v6()
          ? asio::ip::make_address_v4(asio::ip::v4_mapped, address.to_v6()).to_string()
          : address.to_string();
  return text + ":" + std::to_string(peer.port());
}

// Process-wide defaults of new servers (--listen, --allow); set by the entry
// before any server exists.
std::mutex gDefaultAccessLock;
std::string gDefaultListenAddress;
TAddressFilter gDefaultAllow;

// One accepted connection.
//
// Reading phase: socket_ and input_ belong to the I/O thread. Handling phase:
// socket_ belongs to the connection's handler thread; Deactivate may shut it
// down under lock_. state_ and shut_ are guarded by lock_.
class TServerConnection final : public TConnection {
 public:
  enum class TState { kReading, kHandling, kClosed };

  TServerConnection(asio::ip::tcp::socket socket, const asio::ip::tcp::endpoint& peer)
      : socket_(std::move(socket)), peer_(peer) {}
  TServerConnection(const TServerConnection&) = delete;
  TServerConnection& operator=(const TServerConnection&) = delete;

  // Handler thread. Sends all bytes in blocks of up to kBlockSize, waiting
  // while the peer's window is full.
  void WriteBytes(std::string_view bytes) override {
    {
      std::lock_guard<std::mutex> lock(lock_);
      if (state_ != TState::kHandling || shut_) throw ESocketError(kConnectionClosed);
      replied_ = true;
    }
    std::size_t sent = 0;
    // Each pass sends at least one byte, switches the socket to blocking mode
    // (at most once), or throws.
    while (sent < bytes.size()) {
      const std::size_t n = std::min(kBlockSize, bytes.size() - sent);
      asio::error_code ec;
      const std::size_t done = socket_.write_some(asio::buffer(bytes.data() + sent, n), ec);
      if ((ec == asio::error::would_block || ec == asio::error::try_again) &&
          socket_.non_blocking()) {
        // The socket's buffer is full: from here on, sends wait for the peer.
        socket_.non_blocking(false, ec);
        if (ec) throw ESocketError(ec.message());
        continue;
      }
      if (ec) throw ESocketError(ec.message());
      sent += done;
    }
  }

  asio::ip::tcp::socket& Socket() { return socket_; }
  const asio::ip::tcp::endpoint& Peer() const { return peer_; }

  // True once the handler has written (or tried to write) its reply.
  bool Replied() {
    std::lock_guard<std::mutex> lock(lock_);
    return replied_;
  }
  std::string& Input() { return input_; }

  TState State() {
    std::lock_guard<std::mutex> lock(lock_);
    return state_;
  }

  // I/O thread: the request is complete; the socket goes to the handler thread
  // (still non-blocking, see WriteBytes).
  void BeginHandling() {
    std::lock_guard<std::mutex> lock(lock_);
    state_ = TState::kHandling;
  }

  // I/O thread, reading phase: closes at once (a pending wait ends aborted).
  void CloseReading() {
    std::lock_guard<std::mutex> lock(lock_);
    if (state_ != TState::kReading) return;
    state_ = TState::kClosed;
    asio::error_code ec;
    socket_.close(ec);
  }

  // Any thread, handling phase: makes every later or blocked send fail and
  // tells the peer at once. The descriptor stays open (and so cannot be reused
  // under the handler thread) until Finish closes it.
  void ShutDown() {
    std::lock_guard<std::mutex> lock(lock_);
    if (state_ != TState::kHandling || shut_) return;
    shut_ = true;
    // Only reads the descriptor: safe beside the handler thread's blocking
    // send, which it ends.
    asio::error_code ec;
    socket_.shutdown(asio::socket_base::shutdown_both, ec);
  }

  // Handler thread, after the handler is freed: discards what the peer sent
  // after the request (closing with unread input would reset the connection
  // and could destroy the reply on its way), then closes, which ends the
  // connection in order.
  void Finish() {
    std::lock_guard<std::mutex> lock(lock_);
    if (state_ == TState::kClosed) return;
    state_ = TState::kClosed;
    asio::error_code ec;
    if (!shut_) {
      std::array<char, 4096> discard;
      for (int pass = 0; pass < 16; ++pass) {
        const std::size_t pending = socket_.available(ec);
        if (ec || pending == 0) break;
        socket_.read_some(asio::buffer(discard.data(), std::min(pending, discard.size())), ec);
        if (ec) break;
      }
    }
    // The last (and only) descriptor of the socket: closing it sends the FIN.
    socket_.close(ec);
  }

 private:
  asio::ip::tcp::socket socket_;
  const asio::ip::tcp::endpoint peer_;
  std::string input_;  // bytes before the NUL so far; I/O thread only
  std::mutex lock_;
  TState state_ = TState::kReading;
  bool shut_ = false;
  bool replied_ = false;
};

using TConnectionPtr = std::shared_ptr<TServerConnection>;

// Handler threads alive in the process; a thread's very last act is to count
// itself out.
std::atomic<int> gLiveHandlerThreads{0};

}  // namespace

class TRequestServer::TImpl : public std::enable_shared_from_this<TRequestServer::TImpl> {
 public:
  TImpl() : scratch_(kBlockSize), acceptor_(io_), retry_timer_(io_) {
    std::lock_guard<std::mutex> lock(gDefaultAccessLock);
    listen_address_ = gDefaultListenAddress;
    allow_ = gDefaultAllow;
    parked_workers_.reserve(kMaxParkedWorkers);  // parking never allocates
    accepted_.reserve(kAcceptBatch);             // neither does accepting
  }
  ~TImpl() {
    // Deactivate always joins the I/O thread; this is only a safety net.
    if (io_thread_.joinable()) {
      io_.stop();
      io_thread_.join();
    }
  }
  TImpl(const TImpl&) = delete;
  TImpl& operator=(const TImpl&) = delete;

  void SetPort(int32_t port) {
    std::lock_guard<std::mutex> lock(lock_);
    port_ = port;
  }
  int32_t Port() {
    std::lock_guard<std::mutex> lock(lock_);
    return port_;
  }
  void SetMemo(TMemo* memo) { memo_.store(memo); }
  void SetListenAddress(const std::string& address) {
    std::lock_guard<std::mutex> lock(lock_);
    listen_address_ = address;
  }
  std::string ListenAddress() {
    std::lock_guard<std::mutex> lock(lock_);
    return listen_address_;
  }
  // REQUIRES: inactive (the I/O thread reads allow_ without the lock).
  void SetAllowList(const TAddressFilter& allow) {
    std::lock_guard<std::mutex> lock(lock_);
    allow_ = allow;
  }
  uint64_t RefusedConnections() const { return refused_.load(); }
  bool Active() {
    std::lock_guard<std::mutex> lock(lock_);
    return active_;
  }
  uint16_t BoundPort() {
    std::lock_guard<std::mutex> lock(lock_);
    return bound_port_;
  }
  void SetStopWait(std::chrono::milliseconds total, std::chrono::milliseconds step) {
    std::lock_guard<std::mutex> lock(lock_);
    stop_wait_ = total;
    stop_step_ = step;
  }

  void Activate();
  void Deactivate();

 private:
  // I/O thread.
  void RunIo();
  void StartAccept();
  void OnAccepted(const asio::error_code& ec, asio::ip::tcp::socket socket);
  void RetryAcceptLater();
  void TakeConnection(asio::ip::tcp::socket socket);
  void WaitReadable(const TConnectionPtr& connection);
  void ReadAvailable(const TConnectionPtr& connection);
  void StartHandler(const TConnectionPtr& connection);
  void Drop(const TConnectionPtr& connection);
  void CloseEverything();

  // Handler threads.
  struct TJob {
    TConnectionPtr connection;
    std::string request;
  };
  // A handler thread's wake-up, shared by the thread and whoever takes it out
  // of parked_workers_ (who then owes it exactly one job or stop).
  struct TWorkerSlot {
    TWakeSignal wake;                // posted once per job or stop
    std::atomic<bool> given{false};  // set (release) after job or stop, before the post
    std::optional<TJob> job;         // set by StartHandler
    bool stop = false;               // set by ReleaseParkedWorkers
  };
  using TWorkerSlotPtr = std::shared_ptr<TWorkerSlot>;
  static void WorkerMain(std::shared_ptr<TImpl> self, TWorkerSlotPtr slot, TJob job);
  void Serve(TJob& job);
  // Handler thread, after Serve: unregisters the request and, given a slot,
  // parks it when parking is allowed (true) in the same hold of the lock.
  bool EndRequest(const TConnectionPtr& connection, const TWorkerSlotPtr& slot);
  // Handler thread, parked: waits for the next job (true) or for the end
  // (false: idle too long, or released).
  bool AwaitJob(const TWorkerSlotPtr& slot, TJob& job);
  // Controlling thread: tells every parked handler thread to end.
  void ReleaseParkedWorkers();

  // Controlling thread: true when no handler thread is left in time.
  bool WaitForHandlers();

  // Declared first so that it is destroyed last, after every socket.
  asio::io_context io_;

  std::atomic<uint64_t> refused_{0};  // counted by the I/O thread, read by any
  std::atomic<TMemo*> memo_{nullptr};

  std::mutex lock_;  // guards the fields down to workers_released_
  std::condition_variable handlers_done_;
  int32_t port_ = 0;
  std::string listen_address_;  // empty: every local IPv4 address
  TAddressFilter allow_;        // read by the I/O thread while active
  bool active_ = false;
  uint16_t bound_port_ = 0;
  std::chrono::milliseconds stop_wait_{5000};
  std::chrono::milliseconds stop_step_{250};
  std::unordered_set<TConnectionPtr> live_;  // connections in their handlers
  int running_handlers_ = 0;                 // requests between hand-over and EndRequest
  std::vector<TWorkerSlotPtr> parked_workers_;
  bool workers_released_ = false;  // parked threads end instead of parking

  // I/O thread only while active (set up by Activate before the thread starts).
  std::unordered_set<TConnectionPtr> reading_;  // connections waiting for their request
  std::vector<char> scratch_;
  std::vector<asio::ip::tcp::socket> accepted_;  // one wake-up's connections, not yet looked at
  asio::ip::tcp::acceptor acceptor_;
  asio::steady_timer retry_timer_;
  bool accepting_ = false;
  std::optional<asio::executor_work_guard<asio::io_context::executor_type>> work_;
  // Controlling thread only.
  std::thread io_thread_;
};

void TRequestServer::TImpl::Activate() {
  if (Active()) return;
  const int32_t port = Port();
  if (port < 0 || port > 65535) throw ESocketError("Invalid port " + std::to_string(port) + ".");

  asio::ip::tcp::acceptor acceptor(io_);
  asio::error_code ec;
  asio::ip::address address = asio::ip::address_v4::any();
  if (const std::string listen = ListenAddress(); !listen.empty()) {
    asio::error_code address_ec;
    address = asio::ip::make_address(listen, address_ec);
    if (address_ec) throw ESocketError("Invalid listen address " + listen + ".");
  }
  const asio::ip::tcp::endpoint endpoint(address, static_cast<uint16_t>(port));
  auto fail = [&acceptor](const asio::error_code& error) {
    asio::error_code ignored;
    acceptor.close(ignored);
    if (error == asio::error::address_in_use) throw ESocketError(kAddressInUse);
    throw ESocketError(error.message());
  };
  acceptor.open(endpoint.protocol(), ec);
  if (ec) fail(ec);
#ifndef _WIN32
  // Lets a restarted server bind while old connections linger in TIME_WAIT. On
  // Linux this never allows binding a port another socket is listening on.
  acceptor.set_option(asio::socket_base::reuse_address(true), ec);
  if (ec) fail(ec);
#endif
  // Where accepted sockets inherit it, keep-alive is set once here instead of
  // once per connection. It is no condition for serving: a failure is ignored.
  SetTcpKeepAlive(acceptor.native_handle(), kKeepAlive);
  acceptor.bind(endpoint, ec);
  if (ec) fail(ec);
  acceptor.listen(kListenBacklog, ec);
  if (ec) fail(ec);
  // Synchronous accepts then end with would_block once the queue is empty
  // (asynchronous ones are not affected).
  acceptor.non_blocking(true, ec);
  if (ec) fail(ec);
  const asio::ip::tcp::endpoint local = acceptor.local_endpoint(ec);
  if (ec) fail(ec);

  // The I/O thread is not running: these are safe to set up here.
  acceptor_ = std::move(acceptor);
  accepting_ = true;
  io_.restart();
  work_.emplace(asio::make_work_guard(io_));
  StartAccept();
  try {
    io_thread_ = std::thread([this] { RunIo(); });
  } catch (const std::exception& e) {
    accepting_ = false;
    acceptor_.close(ec);  // the aborted accept completes at the next run
    work_.reset();
    throw ESocketError(e.what());
  }
  std::lock_guard<std::mutex> lock(lock_);
  active_ = true;
  bound_port_ = local.port();
  workers_released_ = false;
}

void TRequestServer::TImpl::RunIo() {
  // run() returns once Deactivate has released the work guard and every
  // operation has completed. An exception escaping a completion handler (out
  // of memory) costs that one connection, not the server: run again.
  for (;;) {
    try {
      io_.run();
      return;
    } catch (...) {
    }
  }
}

void TRequestServer::TImpl::Deactivate() {
  if (!Active()) return;

  // Steps 1 and 2 on the I/O thread, which owns the listener and the reading
  // connections; wait until they are done.
  auto closed = std::make_shared<std::promise<void>>();
  std::future<void> closed_future = closed->get_future();
  asio::post(io_, [this, closed] {
    CloseEverything();
    closed->set_value();
  });
  closed_future.wait();

  const bool left_over = !WaitForHandlers();
  ReleaseParkedWorkers();

  // No socket operation is pending any more: run() returns once the guard goes.
  work_.reset();
  io_thread_.join();
  {
    std::lock_guard<std::mutex> lock(lock_);
    active_ = false;
    bound_port_ = 0;
  }
  if (left_over) throw EVelioError(kTerminateThreadTimeout);
}

bool TRequestServer::TImpl::WaitForHandlers() {
  std::unique_lock<std::mutex> lock(lock_);
  const auto deadline = std::chrono::steady_clock::now() + stop_wait_;
  const auto step = std::max(stop_step_, std::chrono::milliseconds(1));
  // Bounded by stop_wait_ / step checks; wakes early when the last one ends.
  while (running_handlers_ > 0) {
    const auto now = std::chrono::steady_clock::now();
    if (now >= deadline) return false;
    handlers_done_.wait_for(lock,
                            std::min<std::chrono::steady_clock::duration>(step, deadline - now));
  }
  return true;
}

void TRequestServer::TImpl::CloseEverything() {
  accepting_ = false;
  asio::error_code ec;
  acceptor_.close(ec);
  retry_timer_.cancel();

  // Only the I/O thread moves a connection out of the reading phase.
  const std::vector<TConnectionPtr> reading(reading_.begin(), reading_.end());
  for (const TConnectionPtr& connection : reading) Drop(connection);
  std::vector<TConnectionPtr> handling;
  {
    std::lock_guard<std::mutex> lock(lock_);
    handling.assign(live_.begin(), live_.end());
  }
  for (const TConnectionPtr& connection : handling) connection->ShutDown();
}

void TRequestServer::TImpl::StartAccept() {
  acceptor_.async_accept([this](const asio::error_code& ec, asio::ip::tcp::socket socket) {
    OnAccepted(ec, std::move(socket));
  });
}

void TRequestServer::TImpl::OnAccepted(const asio::error_code& ec, asio::ip::tcp::socket socket) {
  if (!accepting_) return;  // stopped meanwhile: the socket closes as it goes
  if (ec) {
    if (ec == asio::error::operation_aborted) return;
    RetryAcceptLater();
    return;
  }
  // Empty the listen queue before looking at any connection: it holds only
  // 16, and whatever the I/O thread does between two accepts (a first read, a
  // refusal, a thread start) is time in which a burst of connects fills it and
  // the kernel drops the next SYN (its client retries a second later).
  accepted_.push_back(std::move(socket));
  asio::error_code drain_ec;
  while (accepted_.size() < kAcceptBatch) {
    asio::ip::tcp::socket next(io_);
    acceptor_.accept(next, drain_ec);
    if (drain_ec) break;
    accepted_.push_back(std::move(next));
  }
  for (asio::ip::tcp::socket& taken : accepted_) {
    try {
      TakeConnection(std::move(taken));
    } catch (const std::exception&) {
      // Out of memory for this connection: it is closed as it goes.
    }
  }
  accepted_.clear();  // keeps its capacity
  if (drain_ec && drain_ec != asio::error::would_block && drain_ec != asio::error::try_again) {
    RetryAcceptLater();
    return;
  }
  // Tried at once: a connection that came meanwhile is accepted without
  // waiting for a new readiness report.
  StartAccept();
}

void TRequestServer::TImpl::RetryAcceptLater() {
  // A failed accept ends that attempt only. Pause briefly so that a lasting
  // condition (out of descriptors) does not spin the I/O thread.
  retry_timer_.expires_after(kAcceptRetryDelay);
  retry_timer_.async_wait([this](const asio::error_code& timer_ec) {
    if (!timer_ec && accepting_) StartAccept();
  });
}

void TRequestServer::TImpl::TakeConnection(asio::ip::tcp::socket socket) {
  // The peer's address is asked for only when something needs it (one system
  // call per connection otherwise saved).
  asio::error_code peer_ec;
  asio::ip::tcp::endpoint peer;
  if (!allow_.AllowsEveryone() || Verbose()) peer = socket.remote_endpoint(peer_ec);
  if (!allow_.AllowsEveryone()) {
    bool allowed = false;
    if (!peer_ec) {
      const asio::ip::address address = peer.address();
      if (address.is_v4()) {
        const auto bytes = address.to_v4().to_bytes();
        allowed = allow_.Allows(bytes.data(), bytes.size());
      } else {
        const auto bytes = address.to_v6().to_bytes();
        allowed = allow_.Allows(bytes.data(), bytes.size());
      }
    }
    if (!allowed) {
      // Closed before a byte is read: the peer is never heard.
      asio::error_code close_ec;
      socket.close(close_ec);
      const uint64_t refused = refused_.fetch_add(1) + 1;
      if (Verbose()) {
        VerboseLine((peer_ec ? std::string("a peer without an address") : PeerText(peer)) +
                    ": connection refused, not in the allow list (" + std::to_string(refused) +
                    " refused so far)");
      }
      return;
    }
  }
  auto connection = std::make_shared<TServerConnection>(std::move(socket), peer);
  reading_.insert(connection);
  if (!kAcceptedSocketsInheritKeepAlive) {
    SetTcpKeepAlive(connection->Socket().native_handle(), kKeepAlive);
  }
  asio::error_code nb_ec;
  connection->Socket().non_blocking(true, nb_ec);
  if (nb_ec) {
    Drop(connection);
  } else {
    // Read at once: bytes that came with the connection raise no new edge.
    ReadAvailable(connection);
  }
}

void TRequestServer::TImpl::WaitReadable(const TConnectionPtr& connection) {
  connection->Socket().async_wait(
      asio::socket_base::wait_read, [this, connection](const asio::error_code& ec) {
        if (connection->State() != TServerConnection::TState::kReading) {
          return;  // closed by Deactivate
        }
        if (ec) {
          Drop(connection);
        } else {
          ReadAvailable(connection);
        }
      });
}

void TRequestServer::TImpl::ReadAvailable(const TConnectionPtr& connection) {
  std::string& input = connection->Input();
  // Each pass takes at least one byte into input (capped at kMaxLineLength + 1)
  // or ends reading, so this ends within kMaxLineLength + 2 passes.
  for (std::size_t pass = 0; pass <= kMaxLineLength + 1; ++pass) {
    asio::error_code ec;
    const std::size_t n = connection->Socket().read_some(asio::buffer(scratch_), ec);
    if (ec == asio::error::would_block || ec == asio::error::try_again) {
      WaitReadable(connection);
      return;
    }
    if (ec) {  // end of stream before the NUL, or a socket error: dropped silently
      // A connection that sent nothing (a port probe) carried no request.
      if (Verbose() && !input.empty()) {
        VerboseLine(PeerText(connection->Peer()) + ": no reply: " +
                    (ec == asio::error::eof
                         ? "the peer closed the connection before the request's end byte"
                         : "reading failed: " + ec.message()) +
                    " (" + std::to_string(input.size()) + " bytes received)");
      }
      Drop(connection);
      return;
    }
    const std::size_t room = kMaxLineLength + 1 - input.size();
    const std::size_t take = std::min(n, room);
    const char* nul = static_cast<const char*>(std::memchr(scratch_.data(), '\0', take));
    if (nul != nullptr) {
      input.append(scratch_.data(), nul - scratch_.data());  // bytes after the NUL are ignored
      StartHandler(connection);
      return;
    }
    input.append(scratch_.data(), take);
    if (input.size() > kMaxLineLength) {
      // kMaxLineLengthExceeded: no reply, no handler, nothing logged.
      if (Verbose()) {
        VerboseLine(PeerText(connection->Peer()) + ": no reply: " + kMaxLineLengthExceeded +
                    " (more than 16384 bytes before the end byte)");
      }
      Drop(connection);
      return;
    }
  }
  Drop(connection);  // not reached
}

void TRequestServer::TImpl::StartHandler(const TConnectionPtr& connection) {
  TJob job{connection, std::move(connection->Input())};
  connection->Input() = std::string();
  TWorkerSlotPtr worker;
  {
    std::lock_guard<std::mutex> lock(lock_);
    live_.insert(connection);
    ++running_handlers_;
    if (!parked_workers_.empty()) {
      worker = std::move(parked_workers_.back());
      parked_workers_.pop_back();
    }
  }
  reading_.erase(connection);
  connection->BeginHandling();
  if (worker) {
    // Taken out of the parked set, the slot is this thread's until the post.
    worker->job = std::move(job);
    worker->given.store(true, std::memory_order_release);
    worker->wake.Post();
    return;
  }
  gLiveHandlerThreads.fetch_add(1);
  try {
    std::thread(&TImpl::WorkerMain, shared_from_this(), std::make_shared<TWorkerSlot>(),
                std::move(job))
        .detach();
  } catch (const std::exception&) {
    // No thread to be had: the request is dropped like any failed request.
    connection->Finish();
    EndRequest(connection, nullptr);
    gLiveHandlerThreads.fetch_sub(1);
  }
}

void TRequestServer::TImpl::Drop(const TConnectionPtr& connection) {
  connection->CloseReading();
  reading_.erase(connection);
}

void TRequestServer::TImpl::WorkerMain(std::shared_ptr<TImpl> self, TWorkerSlotPtr slot, TJob job) {
  // One request per pass; the thread ends when it is not given another in
  // time, so the loop is bounded by the requests that keep arriving.
  for (;;) {
    self->Serve(job);
    const bool parked = self->EndRequest(job.connection, slot);
    // The connection (and its socket) must go before the last hold on the
    // io_context it belongs to.
    job.connection.reset();
    job.request = std::string();
    if (!parked || !self->AwaitJob(slot, job)) break;
  }
  // This may be the last hold on the server's state.
  self.reset();
  gLiveHandlerThreads.fetch_sub(1);
}

bool TRequestServer::TImpl::AwaitJob(const TWorkerSlotPtr& slot, TJob& job) {
  if (!slot->wake.WaitFor(kWorkerIdleTime)) {
    {
      std::lock_guard<std::mutex> lock(lock_);
      const auto it = std::find(parked_workers_.begin(), parked_workers_.end(), slot);
      if (it != parked_workers_.end()) {
        parked_workers_.erase(it);
        return false;  // idle too long
      }
    }
    // Taken out of the parked set meanwhile: its job or stop is on the way.
    slot->wake.Wait();
  }
  // The post came after job or stop was set.
  if (!slot->given.exchange(false, std::memory_order_acquire) || slot->stop) return false;
  job = std::move(*slot->job);
  slot->job.reset();
  return true;
}

void TRequestServer::TImpl::Serve(TJob& job) {
  TMemo* memo = memo_.load();
  std::optional<TVerboseRequest> context;
  if (Verbose()) context.emplace(PeerText(job.connection->Peer()));
  std::string failure;  // why the handler failed, for --verbose
  bool not_utf8 = false;
  try {
    std::unique_ptr<TMessageHandler> handler = CreateMessageHandler(InterfaceMode.load(), memo);
    if (handler) {
      const std::u16string text = DecodeUtf8(job.request);
      not_utf8 = text.empty() && !job.request.empty();
      handler->HandleMessage(*job.connection, text);
    } else {
      failure = "no handler for this interface mode";
    }
  } catch (const std::exception& e) {
    // A failed request ends its connection: no reply, nothing logged.
    if (context) failure = AnsiToUtf8(e.what());
  } catch (...) {
    if (context) failure = "unknown error";
  }
  if (context && !job.connection->Replied()) {
    std::string reason = !failure.empty()                    ? failure
                         : !context->NoReplyReason().empty() ? context->NoReplyReason()
                                                             : "the handler wrote no reply";
    if (not_utf8) reason += " (the request is not valid UTF-8 and was handled as empty text)";
    VerboseLine("no reply: " + reason);
  }
  context.reset();
  job.connection->Finish();
}

void TRequestServer::TImpl::ReleaseParkedWorkers() {
  std::vector<TWorkerSlotPtr> parked;
  {
    std::lock_guard<std::mutex> lock(lock_);
    workers_released_ = true;
    parked.assign(parked_workers_.begin(), parked_workers_.end());
    parked_workers_.clear();  // keeps its capacity
  }
  for (const TWorkerSlotPtr& worker : parked) {
    worker->stop = true;
    worker->given.store(true, std::memory_order_release);
    worker->wake.Post();
  }
}

bool TRequestServer::TImpl::EndRequest(const TConnectionPtr& connection,
                                       const TWorkerSlotPtr& slot) {
  std::lock_guard<std::mutex> lock(lock_);
  live_.erase(connection);
  if (--running_handlers_ == 0) handlers_done_.notify_all();
  if (!slot || workers_released_ || parked_workers_.size() >= kMaxParkedWorkers) return false;
  parked_workers_.push_back(slot);  // within the reserved capacity
  return true;
}

TRequestServer::TRequestServer() : impl_(std::make_shared<TImpl>()) {}

TRequestServer::~TRequestServer() {
  try {
    impl_->Deactivate();
  } catch (...) {
    // Threads left over finish on their own; they hold what they use.
  }
}

int TRequestServer::LiveHandlerThreads() {
  return gLiveHandlerThreads.load();
}

void TRequestServer::SetPort(int32_t port) {
  impl_->SetPort(port);
}
int32_t TRequestServer::Port() const {
  return impl_->Port();
}
void TRequestServer::SetMemo(TMemo* memo) {
  impl_->SetMemo(memo);
}
void TRequestServer::SetListenAddress(const std::string& address) {
  impl_->SetListenAddress(address);
}
std::string TRequestServer::ListenAddress() const {
  return impl_->ListenAddress();
}
void TRequestServer::SetAllowList(const TAddressFilter& allow) {
  impl_->SetAllowList(allow);
}
uint64_t TRequestServer::RefusedConnections() const {
  return impl_->RefusedConnections();
}
void TRequestServer::SetDefaultAccess(const std::string& listenAddress,
                                      const TAddressFilter& allow) {
  std::lock_guard<std::mutex> lock(gDefaultAccessLock);
  gDefaultListenAddress = listenAddress;
  gDefaultAllow = allow;
}
void TRequestServer::Activate() {
  impl_->Activate();
}
void TRequestServer::Deactivate() {
  impl_->Deactivate();
}
bool TRequestServer::Active() const {
  return impl_->Active();
}
uint16_t TRequestServer::BoundPort() const {
  return impl_->BoundPort();
}
void TRequestServer::SetStopWait(std::chrono::milliseconds total, std::chrono::milliseconds step) {
  impl_->SetStopWait(total, step);
}

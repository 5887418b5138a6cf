// TCPServerUnit: the request server.
//
// One listening socket on all local IPv4 addresses (backlog 15), or on the one
// address given by SetListenAddress (--listen). A connection from a peer that
// the allow list (SetAllowList, --allow) does not hold is closed at once,
// before anything is read from it, and counted. Each accepted
// connection is read up to its first NUL byte (at most 16384 bytes before it,
// no time limit); the request bytes are decoded with DecodeUtf8 and handed to a
// fresh handler of the current interface mode (CreateMessageHandler with
// InterfaceMode), which runs on a thread of its own and writes at most one
// reply. Then the handler is freed and the connection closed.
//
// Idle connections cost a socket and a buffer, not a thread: reading runs on
// the server's I/O thread (standalone Asio); only a complete request gets a
// thread. A request never waits for another request's handler.
//
// Accepted connections use TCP keep-alive (first probe after 60 s idle, then
// every 10 s, 6 probes): a peer that vanished mid-request is found and its
// connection closed, while a silent but live one keeps it. When descriptors
// run out, accepting pauses and retries by itself every few milliseconds.
//
// Activate and Deactivate are called from one controlling thread (the GUI
// thread or the headless entry). Everything else is internal and synchronized.
#ifndef VELIO_SERVER_TCPSERVERUNIT_H_
#define VELIO_SERVER_TCPSERVERUNIT_H_

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "server/AddressFilterUnit.h"

class TMemo;

class TRequestServer {
 public:
  // Inactive, port 0.
  TRequestServer();
  // Deactivates when still active, swallowing a stop failure.
  ~TRequestServer();
  TRequestServer(const TRequestServer&) = delete;
  TRequestServer& operator=(const TRequestServer&) = delete;

  // The port to bind at the next Activate. REQUIRES: inactive.
  void SetPort(int32_t port);
  int32_t Port() const;

  // The address to listen on at the next Activate: an IPv4 or IPv6 address,
  // or empty text for every local IPv4 address (the default). REQUIRES:
  // inactive; the address has passed ValidListenAddress.
  void SetListenAddress(const std::string& address);
  std::string ListenAddress() const;

  // The peers that may connect (default: everyone). REQUIRES: inactive.
  void SetAllowList(const TAddressFilter& allow);

  // Connections refused by the allow list since construction. Thread-safe.
  uint64_t RefusedConnections() const;

  // The listen address and allow list that every server constructed
  // afterwards starts with. The entries set them from --listen and --allow
  // before any server exists. REQUIRES: no server is being constructed.
  static void SetDefaultAccess(const std::string& listenAddress, const TAddressFilter& allow);

  // The memo handed to every handler (kept by handlers, never written).
  void SetMemo(TMemo* memo);

  // Binds and starts listening. Raises ESocketError with "Could not bind socket.
  // Address and port are already in use." when the port is taken, or the socket
  // error's text otherwise; the server then stays inactive.
  void Activate();

  // Stops accepting, closes every live connection, then waits for handler
  // threads (checking every 250 ms, at most 5000 ms). Raises EVelioError
  // "Terminate Thread Timeout" when threads are left; they finish on their own
  // later without touching freed objects. The server is inactive afterwards.
  void Deactivate();

  bool Active() const;

  // The port actually bound (useful with port 0); 0 when inactive.
  uint16_t BoundPort() const;

  // Test hook: the stop wait's total and step (default 5000 ms and 250 ms).
  void SetStopWait(std::chrono::milliseconds total, std::chrono::milliseconds step);

  // Handler threads of every server in the process that have not ended yet:
  // busy ones, parked ones (released by Deactivate) and those left over by a
  // stop wait that timed out (for tests and shutdown diagnostics). Thread-safe.
  static int LiveHandlerThreads();

 private:
  class TImpl;
  std::shared_ptr<TImpl> impl_;
};

#endif  // VELIO_SERVER_TCPSERVERUNIT_H_

// PmsClientUnit: the property-management side of the request protocol.
//
// SendRequest carries out one exchange the way the PMS does: connect, send the
// request bytes and one NUL, read up to the NUL that ends the reply, close.
// RunBench drives a server with many such exchanges from several threads while
// holding extra connections open idle, and reports throughput and latency.
// Both are safe to call from any thread; neither keeps global state.
#ifndef VELIO_TOOLS_PMSCLIENTUNIT_H_
#define VELIO_TOOLS_PMSCLIENTUNIT_H_

#include <chrono>
#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

struct TExchangeResult {
  enum class TOutcome {
    kReply,         // a reply ended by a NUL came
    kNoReply,       // connected, but the server closed (or failed) before a NUL
    kConnectError,  // no connection (host unknown, refused, ...)
  };
  TOutcome outcome = TOutcome::kConnectError;
  std::string reply;     // kReply: the bytes before the NUL
  std::string received;  // kNoReply: the bytes that came before the close
  std::string error;     // what went wrong (kNoReply after a socket error, kConnectError)
  std::chrono::microseconds latency{0};  // from connecting to the reply's NUL
};

// One request on a new connection. request must not contain a NUL (the one
// that ends it is appended here).
TExchangeResult SendRequest(const std::string& host, uint16_t port, std::string_view request);

struct TBenchOptions {
  std::string host = "127.0.0.1";
  uint16_t port = 8883;
  std::string request;  // without the NUL
  int clients = 8;
  int requests = 10000;
  int idle = 0;
  int server_pid = 0;  // > 0: report this process's resident memory
};

struct TBenchResult {
  int requests = 0;
  int replies = 0;
  int no_reply = 0;
  int connect_errors = 0;
  double seconds = 0;
  double requests_per_second = 0;
  int64_t p50_us = 0, p90_us = 0, p99_us = 0, max_us = 0;
  int idle_opened = 0;
};

// Runs the benchmark, printing progress and the report to out. Raises the
// descriptor limit as far as needed (fails with a message when the hard limit
// is too low). Returns the figures.
TBenchResult RunBench(const TBenchOptions& options, std::ostream& out);

// The latency at quantile q (0 < q <= 1) of sorted microsecond figures; 0 when
// there are none.
int64_t Percentile(const std::vector<int64_t>& sorted, double q);

// VmRSS of a process in KiB from /proc/<pid>/status; -1 when unreadable.
int64_t ResidentKib(int pid);

#endif  // VELIO_TOOLS_PMSCLIENTUNIT_H_

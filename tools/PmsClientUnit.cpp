// PmsClientUnit: blocking Asio sockets, one io_context per calling thread
// (synchronous operations need no run loop).
//
// The benchmark resolves the host once, opens the idle connections first (in
// batches, each followed by one full request: the server's accept queue holds
// only 15, and a request that has been answered proves every connection queued
// before it was accepted), then starts the client threads. Each thread takes
// request numbers from a shared counter until all are taken and keeps its own
// latency list; the lists are merged and sorted at the end.
#include "tools/PmsClientUnit.h"

#ifndef _WIN32
#include <sys/resource.h>
#endif

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <fstream>
#include <iomanip>
#include <memory>
#include <mutex>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <vector>

#include "asio.hpp"

namespace {

using asio::ip::tcp;
using TClock = std::chrono::steady_clock;

constexpr int kIdleBatch = 8;

// Sends request + NUL on a connected socket and reads up to the reply's NUL.
TExchangeResult Talk(tcp::socket& socket, std::string_view request, TClock::time_point start) {
  TExchangeResult result;
  result.outcome = TExchangeResult::TOutcome::kNoReply;
  std::string bytes(request);
  bytes.push_back('\0');
  asio::error_code ec;
  asio::write(socket, asio::buffer(bytes), ec);
  if (ec) {
    result.error = ec.message();
    return result;
  }
  char block[32768];
  // Each pass receives at least one byte or ends the exchange.
  for (;;) {
    const std::size_t n = socket.read_some(asio::buffer(block), ec);
    if (ec) {
      if (ec != asio::error::eof) result.error = ec.message();
      return result;
    }
    const char* nul = static_cast<const char*>(std::memchr(block, '\0', n));
    if (nul != nullptr) {
      result.latency = std::chrono::duration_cast<std::chrono::microseconds>(TClock::now() - start);
      result.received.append(block, nul - block);
      result.reply = std::move(result.received);
      result.received.clear();
      result.outcome = TExchangeResult::TOutcome::kReply;
      return result;
    }
    result.received.append(block, n);
  }
}

TExchangeResult ExchangeWith(asio::io_context& io, const tcp::endpoint& endpoint,
                             std::string_view request) {
  const TClock::time_point start = TClock::now();
  tcp::socket socket(io);
  asio::error_code ec;
  socket.connect(endpoint, ec);
  if (ec) {
    TExchangeResult result;
    result.error = ec.message();
    return result;
  }
  return Talk(socket, request, start);
}

// Raises RLIMIT_NOFILE to at least needed descriptors; false when impossible.
#ifdef _WIN32
using rlim_t = unsigned long;
bool EnsureFileLimit(rlim_t) {
  return true;  // sockets are handles, not bounded by a descriptor limit
}
#else
bool EnsureFileLimit(rlim_t needed) {
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0) return false;
  if (limit.rlim_cur >= needed) return true;
  if (limit.rlim_max != RLIM_INFINITY && limit.rlim_max < needed) return false;
  limit.rlim_cur = needed;
  return setrlimit(RLIMIT_NOFILE, &limit) == 0;
}
#endif

void ReportMemory(std::ostream& out, int pid, const char* when) {
  if (pid <= 0) return;
  const int64_t kib = ResidentKib(pid);
  out << "server VmRSS " << when << ": ";
  if (kib < 0) {
    out << "unreadable\n";
  } else {
    out << kib << " kB\n";
  }
}

}  // namespace

TExchangeResult SendRequest(const std::string& host, uint16_t port, std::string_view request) {
  asio::io_context io;
  tcp::resolver resolver(io);
  asio::error_code ec;
  const auto endpoints = resolver.resolve(host, std::to_string(port), ec);
  if (ec) {
    TExchangeResult result;
    result.error = host + ": " + ec.message();
    return result;
  }
  const TClock::time_point start = TClock::now();
  tcp::socket socket(io);
  asio::connect(socket, endpoints, ec);
  if (ec) {
    TExchangeResult result;
    result.error = host + ":" + std::to_string(port) + ": " + ec.message();
    return result;
  }
  return Talk(socket, request, start);
}

int64_t Percentile(const std::vector<int64_t>& sorted, double q) {
  if (sorted.empty()) return 0;
  const double rank = std::ceil(q * static_cast<double>(sorted.size()));
  const std::size_t index = rank < 1 ? 0 : static_cast<std::size_t>(rank) - 1;
  return sorted[std::min(index, sorted.size() - 1)];
}

int64_t ResidentKib(int pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmRSS:", 0) == 0) {
      std::istringstream fields(line.substr(6));
      int64_t kib = -1;
      fields >> kib;
      return kib;
    }
  }
  return -1;
}

TBenchResult RunBench(const TBenchOptions& options, std::ostream& out) {
  TBenchResult result;
  const int clients = std::max(1, options.clients);
  const int requests = std::max(0, options.requests);
  const int idle = std::max(0, options.idle);
  if (!EnsureFileLimit(static_cast<rlim_t>(idle) + clients + 64)) {
    throw std::runtime_error("cannot raise the open file limit to " +
                             std::to_string(idle + clients + 64) + " descriptors");
  }

  asio::io_context io;
  tcp::resolver resolver(io);
  asio::error_code ec;
  const auto resolved = resolver.resolve(options.host, std::to_string(options.port), ec);
  if (ec || resolved.empty()) {
    throw std::runtime_error(options.host + ": " + (ec ? ec.message() : "no address"));
  }
  const tcp::endpoint endpoint = resolved.begin()->endpoint();

  ReportMemory(out, options.server_pid, "before idle connections");
  std::vector<std::unique_ptr<tcp::socket>> idle_sockets;
  idle_sockets.reserve(idle);
  const TClock::time_point idle_start = TClock::now();
  for (int i = 0; i < idle; ++i) {
    auto socket = std::make_unique<tcp::socket>(io);
    socket->connect(endpoint, ec);
    if (ec) throw std::runtime_error("idle connection " + std::to_string(i) + ": " + ec.message());
    idle_sockets.push_back(std::move(socket));
    if (i % kIdleBatch == kIdleBatch - 1 || i == idle - 1) {
      ExchangeWith(io, endpoint, options.request);  // every connection so far is accepted
    }
  }
  result.idle_opened = static_cast<int>(idle_sockets.size());
  if (idle > 0) {
    const double idle_seconds = std::chrono::duration<double>(TClock::now() - idle_start).count();
    out << "idle connections open: " << idle << " (" << std::fixed << std::setprecision(2)
        << idle_seconds << " s)\n";
    ReportMemory(out, options.server_pid, "with idle connections");
  }

  std::atomic<int> next{0};
  std::mutex merge_lock;
  std::vector<int64_t> latencies;
  latencies.reserve(requests);
  std::vector<std::thread> threads;
  const TClock::time_point start = TClock::now();
  for (int t = 0; t < clients; ++t) {
    threads.emplace_back([&] {
      asio::io_context thread_io;
      std::vector<int64_t> mine;
      int no_reply = 0;
      int connect_errors = 0;
      while (next.fetch_add(1) < requests) {
        const TExchangeResult exchange = ExchangeWith(thread_io, endpoint, options.request);
        switch (exchange.outcome) {
          case TExchangeResult::TOutcome::kReply:
            mine.push_back(exchange.latency.count());
            break;
          case TExchangeResult::TOutcome::kNoReply:
            ++no_reply;
            break;
          case TExchangeResult::TOutcome::kConnectError:
            ++connect_errors;
            break;
        }
      }
      std::lock_guard<std::mutex> lock(merge_lock);
      latencies.insert(latencies.end(), mine.begin(), mine.end());
      result.no_reply += no_reply;
      result.connect_errors += connect_errors;
    });
  }
  for (std::thread& thread : threads) thread.join();
  result.seconds = std::chrono::duration<double>(TClock::now() - start).count();
  ReportMemory(out, options.server_pid, "after the run");

  std::sort(latencies.begin(), latencies.end());
  result.requests = requests;
  result.replies = static_cast<int>(latencies.size());
  result.requests_per_second = result.seconds > 0 ? result.replies / result.seconds : 0;
  result.p50_us = Percentile(latencies, 0.50);
  result.p90_us = Percentile(latencies, 0.90);
  result.p99_us = Percentile(latencies, 0.99);
  result.max_us = latencies.empty() ? 0 : latencies.back();

  out << std::fixed << std::setprecision(0);
  out << "clients " << clients << ", requests " << requests << ", idle " << idle << "\n";
  out << "requests/s: " << result.requests_per_second << "\n";
  out << "latency us: p50 " << result.p50_us << "  p90 " << result.p90_us << "  p99 "
      << result.p99_us << "  max " << result.max_us << "\n";
  out << "no reply: " << result.no_reply << "  connect errors: " << result.connect_errors << "\n";
  return result;
}

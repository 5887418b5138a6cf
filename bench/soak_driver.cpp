// soak_driver: a mixed, precisely counted load for a member-mode server.
//
//   soak_driver --port P --seconds S [--threads T]
//
// T threads (default 4) each run requests against 127.0.0.1:P, one per
// connection, until S seconds have passed, walking a fixed rotation of kinds:
//
//   write       WriteMemberCard with a number of its own; the reply must carry
//               ResultCode 200 and that number
//   read        ReadMemberCard; the reply must carry ResultCode 200
//   *-lines     the same with CR LF between the elements (the log shows the
//               request on several lines)
//   malformed   a request the handler rejects or ignores (not XML, unclosed,
//               not UTF-8, unknown type, bad or missing children, empty); it
//               is logged as received and gets no reply
//   oversized   20000 bytes without a NUL; dropped unlogged, no reply
//   truncated   part of a request, then the client closes (or shuts down its
//               sending side and waits); dropped unlogged, no reply
//
// Prints one "key=value" line per figure at the end: what was sent (a request
// counts as sent when every byte up to its NUL went out), what came back, and
// every deviation. Exit status 0 when nothing deviated.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "CLI/CLI.hpp"

namespace {

using TClock = std::chrono::steady_clock;

constexpr int kReplyTimeoutSeconds = 60;

struct TCounters {
  std::atomic<long> wellformed_sent{0};
  std::atomic<long> wellformed_answered{0};  // with the expected content
  std::atomic<long> wellformed_wrong{0};     // a reply, but not the expected one
  std::atomic<long> wellformed_no_reply{0};
  std::atomic<long> malformed_sent{0};
  std::atomic<long> malformed_replied{0};  // must stay 0
  std::atomic<long> oversized{0};
  std::atomic<long> oversized_replied{0};  // must stay 0
  std::atomic<long> truncated{0};
  std::atomic<long> truncated_replied{0};  // must stay 0
  std::atomic<long> connect_errors{0};
  std::atomic<long> send_errors{0};  // a well-formed or malformed request not sent whole
  std::atomic<long> timeouts{0};
};

// A connected socket, closed at the end of its scope.
class TClientSocket {
 public:
  explicit TClientSocket(uint16_t port) : fd_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    if (fd_ < 0) return;
    timeval timeout{kReplyTimeoutSeconds, 0};
    setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    setsockopt(fd_, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
      ::close(fd_);
      fd_ = -1;
    }
  }
  ~TClientSocket() {
    if (fd_ >= 0) ::close(fd_);
  }
  TClientSocket(const TClientSocket&) = delete;
  TClientSocket& operator=(const TClientSocket&) = delete;

  bool Connected() const { return fd_ >= 0; }

  // Sends every byte; false when the connection failed first.
  bool SendAll(const std::string& bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {  // each pass sends at least one byte or returns
      const ssize_t n = ::send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      sent += static_cast<std::size_t>(n);
    }
    return true;
  }

  void ShutdownSend() { ::shutdown(fd_, SHUT_WR); }

  // Reads until the server closes (or fails, or times out). Returns the bytes;
  // timed_out tells a timeout apart.
  std::string ReadToClose(bool& timed_out) {
    std::string received;
    timed_out = false;
    char block[4096];
    // Each pass receives at least one byte or ends; the reply is bounded by the
    // server, and a silent server ends the loop through the receive timeout.
    for (;;) {
      const ssize_t n = ::recv(fd_, block, sizeof block, 0);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) timed_out = true;
      if (n <= 0) return received;
      received.append(block, static_cast<std::size_t>(n));
      if (received.size() > (1u << 20)) return received;
    }
  }

 private:
  int fd_;
};

enum class TKind { kWrite, kRead, kWriteLines, kReadLines, kMalformed, kOversized, kTruncated };

// The rotation every thread walks (starting at its own offset).
const TKind kRotation[] = {TKind::kWrite,     TKind::kRead,      TKind::kMalformed,
                           TKind::kReadLines, TKind::kOversized, TKind::kWrite,
                           TKind::kRead,      TKind::kTruncated, TKind::kWriteLines,
                           TKind::kMalformed, TKind::kRead,      TKind::kTruncated};

// Requests the member handler logs as received and answers with nothing.
const char* const kMalformed[] = {
    "this is not XML",
    "<Request type=\"ReadMemberCard\"><RequestID/><Flag>0</Flag>",
    "\xC3\x41<Request type=\"ReadMemberCard\"><RequestID/><Flag>0</Flag></Request>",
    "<Request type=\"UnknownType\"><RequestID/><Flag>0</Flag></Request>",
    "<Request type=\"ReadMemberCard\"><RequestID/><Flag>abc</Flag></Request>",
    "<Request type=\"WriteMemberCard\"><RequestID/><CardNo>1</CardNo></Request>",
    "<Request type=\"readmembercard\"><RequestID/><Flag>0</Flag></Request>",
    "",
    "<Request type=\"ReadMemberCard\">\r\n<RequestID/>\r\n</Request",
};

std::string WriteRequest(const std::string& card_no, bool lines) {
  const char* br = lines ? "\r\n" : "";
  return std::string("<Request type=\"WriteMemberCard\">") + br + "<RequestID>soak</RequestID>" +
         br + "<CardNo>" + card_no + "</CardNo>" + br + "<Extra1></Extra1>" + br +
         "<Extra2></Extra2>" + br + "<Extra3></Extra3>" + br + "</Request>";
}

std::string ReadRequest(bool lines) {
  const char* br = lines ? "\r\n" : "";
  return std::string("<Request type=\"ReadMemberCard\">") + br + "<RequestID>soak</RequestID>" +
         br + "<Flag>0</Flag>" + br + "</Request>";
}

bool Contains(const std::string& s, const std::string& part) {
  return s.find(part) != std::string::npos;
}

// One well-formed request; expected: the pieces the reply must hold.
void WellFormed(uint16_t port, const std::string& request, const std::vector<std::string>& expected,
                TCounters& c) {
  TClientSocket socket(port);
  if (!socket.Connected()) {
    ++c.connect_errors;
    return;
  }
  if (!socket.SendAll(request + '\0')) {
    ++c.send_errors;
    return;
  }
  ++c.wellformed_sent;
  bool timed_out = false;
  const std::string reply = socket.ReadToClose(timed_out);
  if (timed_out) ++c.timeouts;
  const std::size_t nul = reply.find('\0');
  if (nul == std::string::npos) {
    ++c.wellformed_no_reply;
    return;
  }
  bool good = nul + 1 == reply.size();  // nothing after the NUL
  for (const std::string& piece : expected) good = good && Contains(reply.substr(0, nul), piece);
  if (good) {
    ++c.wellformed_answered;
  } else {
    ++c.wellformed_wrong;
  }
}

void Malformed(uint16_t port, const std::string& request, TCounters& c) {
  TClientSocket socket(port);
  if (!socket.Connected()) {
    ++c.connect_errors;
    return;
  }
  if (!socket.SendAll(request + '\0')) {
    ++c.send_errors;
    return;
  }
  ++c.malformed_sent;
  bool timed_out = false;
  if (!socket.ReadToClose(timed_out).empty()) ++c.malformed_replied;
  if (timed_out) ++c.timeouts;
}

void Oversized(uint16_t port, TCounters& c) {
  TClientSocket socket(port);
  if (!socket.Connected()) {
    ++c.connect_errors;
    return;
  }
  ++c.oversized;
  // The server drops the connection after 16385 bytes: the rest may fail.
  socket.SendAll(std::string(20000, 'A'));
  bool timed_out = false;
  if (!socket.ReadToClose(timed_out).empty()) ++c.oversized_replied;
  if (timed_out) ++c.timeouts;
}

void Truncated(uint16_t port, bool wait_for_close, TCounters& c) {
  TClientSocket socket(port);
  if (!socket.Connected()) {
    ++c.connect_errors;
    return;
  }
  ++c.truncated;
  socket.SendAll("<Request type=\"ReadMemberCard\"><RequestID/><Fl");
  if (!wait_for_close) return;  // closed at once by the destructor
  socket.ShutdownSend();
  bool timed_out = false;
  if (!socket.ReadToClose(timed_out).empty()) ++c.truncated_replied;
  if (timed_out) ++c.timeouts;
}

void RunThread(int thread, uint16_t port, TClock::time_point end, TCounters& c) {
  const std::size_t rotation = sizeof kRotation / sizeof kRotation[0];
  const std::size_t malformed = sizeof kMalformed / sizeof kMalformed[0];
  // Bounded by the end time: every request ends within the reply timeout.
  for (long i = 0; TClock::now() < end; ++i) {
    const TKind kind = kRotation[(static_cast<std::size_t>(i) + thread) % rotation];
    // Numbers of up to 16 digits, different in every thread and request.
    const std::string card_no = std::to_string(9000000000L + thread * 100000000L + i);
    switch (kind) {
      case TKind::kWrite:
      case TKind::kWriteLines:
        WellFormed(port, WriteRequest(card_no, kind == TKind::kWriteLines),
                   {"<ResultCode>200</ResultCode>", "<CardNo>" + card_no + "</CardNo>"}, c);
        break;
      case TKind::kRead:
      case TKind::kReadLines:
        WellFormed(port, ReadRequest(kind == TKind::kReadLines), {"<ResultCode>200</ResultCode>"},
                   c);
        break;
      case TKind::kMalformed:
        Malformed(port, kMalformed[static_cast<std::size_t>(i / 3 + thread) % malformed], c);
        break;
      case TKind::kOversized:
        Oversized(port, c);
        break;
      case TKind::kTruncated:
        Truncated(port, i % 2 == 0, c);
        break;
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{
      "Mixed, counted load (well-formed, malformed, oversized, truncated) for a "
      "member-mode interface server."};
  int port = 0;
  double seconds = 10;
  int threads = 4;
  app.add_option("--port", port, "Server port on 127.0.0.1")
      ->required()
      ->check(CLI::Range(1, 65535));
  app.add_option("--seconds", seconds, "How long to run")->capture_default_str();
  app.add_option("--threads", threads, "Concurrent clients")
      ->capture_default_str()
      ->check(CLI::Range(1, 256));
  CLI11_PARSE(app, argc, argv);

  TCounters c;
  const TClock::time_point end =
      TClock::now() + std::chrono::milliseconds(static_cast<long>(seconds * 1000));
  std::vector<std::thread> workers;
  for (int t = 0; t < threads; ++t) {
    workers.emplace_back(RunThread, t, static_cast<uint16_t>(port), end, std::ref(c));
  }
  for (std::thread& worker : workers) worker.join();

  const std::pair<const char*, long> figures[] = {
      {"wellformed_sent", c.wellformed_sent},
      {"wellformed_answered", c.wellformed_answered},
      {"wellformed_wrong", c.wellformed_wrong},
      {"wellformed_no_reply", c.wellformed_no_reply},
      {"malformed_sent", c.malformed_sent},
      {"malformed_replied", c.malformed_replied},
      {"oversized", c.oversized},
      {"oversized_replied", c.oversized_replied},
      {"truncated", c.truncated},
      {"truncated_replied", c.truncated_replied},
      {"connect_errors", c.connect_errors},
      {"send_errors", c.send_errors},
      {"timeouts", c.timeouts},
  };
  for (const auto& [name, value] : figures) std::printf("%s=%ld\n", name, value);
  const bool clean = c.wellformed_answered == c.wellformed_sent && c.malformed_replied == 0 &&
                     c.oversized_replied == 0 && c.truncated_replied == 0 &&
                     c.connect_errors == 0 && c.send_errors == 0 && c.timeouts == 0;
  return clean ? 0 : 1;
}

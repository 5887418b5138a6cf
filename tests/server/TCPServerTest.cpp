// The request server's framing, failure handling, activation and stopping.
#include <dirent.h>
#include <gtest/gtest.h>
#include <netinet/tcp.h>

#include <condition_variable>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/ErrorsUnit.h"
#include "server/TCPServerUnit.h"
#include "server/VerboseUnit.h"
#include "tests/server/ServerTestSupport.h"

namespace {

using servertest::Exchange;
using servertest::Reply;
using servertest::TClient;
using TEnd = servertest::TClient::TEnd;

class TCPServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    servertest::UseTestHandler();
    server_.SetPort(0);
    server_.Activate();
    ASSERT_TRUE(server_.Active());
    port_ = server_.BoundPort();
    ASSERT_NE(port_, 0);
  }
  void TearDown() override {
    server_.Deactivate();
    EXPECT_TRUE(servertest::WaitForNoHandlerThreads());
  }

  TRequestServer server_;
  uint16_t port_ = 0;
};

struct TFramingCase {
  const char* name;
  std::string wire;         // what the client sends
  std::u16string expected;  // what the handler must get
};

std::vector<TFramingCase> FramingCases() {
  return {
      {"LoneNulGivesEmptyText", std::string(1, '\0'), u""},
      {"PlainText", std::string("<A type=\"X\"/>\0", 14), u"<A type=\"X\"/>"},
      {"BytesAfterNulIgnored", std::string("abc\0def\0ghi", 11), u"abc"},
      {"CarriageReturnsAndLineFeedsKept", std::string("a\r\nb\nc\r\0", 8), u"a\r\nb\nc\r"},
      {"ExactlyMaxLength", std::string(16384, 'x') + '\0', std::u16string(16384, u'x')},
      {"Utf8Decoded", std::string("\xE5\x86\x99\0", 4), u"\u5199"},
      {"InvalidUtf8GivesEmptyText", std::string("\xC3\x41\0", 3), u""},
      {"CutUtf8GivesEmptyText", std::string("A\xE5\x86\0", 4), u""},
  };
}

TEST_F(TCPServerTest, FramingTable) {
  for (const TFramingCase& c : FramingCases()) {
    SCOPED_TRACE(c.name);
    servertest::UseTestHandler();
    const TClient::TReceived received = Exchange(port_, c.wire);
    EXPECT_EQ(received.end, TEnd::kClosed);
    EXPECT_EQ(received.bytes, Reply(u"echo:" + c.expected));
    EXPECT_EQ(servertest::LastRequest(), c.expected);
    EXPECT_EQ(servertest::HandlerState().called.load(), 1);
  }
}

TEST_F(TCPServerTest, OverlongRequestIsDroppedWithoutHandler) {
  const std::vector<std::string> wires = {
      std::string(16385, 'x') + '\0',        // one byte too many
      std::string(20000, 'x') + '\0',        // NUL beyond the limit
      std::string(16385, 'x'),               // limit passed, still no NUL, peer keeps waiting
      std::string(100000, 'y') + "tail\0z",  // far too long, in many blocks
  };
  for (const std::string& wire : wires) {
    SCOPED_TRACE(wire.size());
    servertest::UseTestHandler();
    TClient client(port_);
    ASSERT_TRUE(client.Connected());
    client.Send(wire);  // may fail part-way once the server has closed
    const TClient::TReceived received = client.ReadUntilClosed();
    EXPECT_NE(received.end, TEnd::kTimeout);  // closed by the server, not by us
    EXPECT_EQ(received.bytes, "");
    EXPECT_EQ(servertest::HandlerState().created.load(), 0);
  }
}

TEST_F(TCPServerTest, RequestInPiecesWithPausesIsReadAsOne) {
  TClient client(port_);
  ASSERT_TRUE(client.Connected());
  const std::vector<std::string> pieces = {"<A", " type=\"", "X\"/>\r", "\n", std::string(1, '\0')};
  for (const std::string& piece : pieces) {
    ASSERT_TRUE(client.Send(piece));
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
  }
  const TClient::TReceived received = client.ReadUntilClosed();
  EXPECT_EQ(received.bytes, Reply(u"echo:<A type=\"X\"/>\r\n"));
  EXPECT_EQ(servertest::LastRequest(), u"<A type=\"X\"/>\r\n");
}

TEST_F(TCPServerTest, MaxLengthRequestInManyPieces) {
  TClient client(port_);
  ASSERT_TRUE(client.Connected());
  const std::string body(16384, 'q');
  for (std::size_t at = 0; at < body.size(); at += 1000) {
    ASSERT_TRUE(client.Send(body.substr(at, 1000)));
  }
  ASSERT_TRUE(client.Send(std::string(1, '\0')));
  EXPECT_EQ(client.ReadUntilClosed().bytes, Reply(u"echo:" + std::u16string(16384, u'q')));
}

TEST_F(TCPServerTest, PeerClosingBeforeNulGetsNothingAndNoHandler) {
  TClient client(port_);
  ASSERT_TRUE(client.Connected());
  ASSERT_TRUE(client.Send("<A type=\"X\"/>"));
  client.ShutdownSend();
  const TClient::TReceived received = client.ReadUntilClosed();
  EXPECT_EQ(received.end, TEnd::kClosed);
  EXPECT_EQ(received.bytes, "");
  EXPECT_EQ(servertest::HandlerState().created.load(), 0);
}

TEST_F(TCPServerTest, ReplyEndsWithExactlyOneNulThenClose) {
  servertest::UseTestHandler([](TConnection& connection, const std::u16string&) {
    SendReplyText(connection, u"<DoorResponse><ResultCode>200</ResultCode></DoorResponse>");
  });
  const TClient::TReceived received = Exchange(port_, std::string("x\0", 2));
  EXPECT_EQ(received.end, TEnd::kClosed);
  ASSERT_FALSE(received.bytes.empty());
  EXPECT_EQ(std::count(received.bytes.begin(), received.bytes.end(), '\0'), 1);
  EXPECT_EQ(received.bytes.back(), '\0');
}

TEST_F(TCPServerTest, LargeReplyArrivesWhole) {
  // Several send blocks; the client reads only after the handler is done.
  const std::string big(200000, 'r');
  servertest::UseTestHandler(
      [&big](TConnection& connection, const std::u16string&) { connection.WriteBytes(big); });
  const TClient::TReceived received = Exchange(port_, std::string("x\0", 2));
  EXPECT_EQ(received.end, TEnd::kClosed);
  EXPECT_EQ(received.bytes, big);
}

TEST_F(TCPServerTest, HandlerWritingNothingGivesNoBytes) {
  servertest::UseTestHandler([](TConnection&, const std::u16string&) {});
  const TClient::TReceived received = Exchange(port_, std::string("<A type=\"Unknown\"/>\0", 20));
  EXPECT_EQ(received.end, TEnd::kClosed);
  EXPECT_EQ(received.bytes, "");
  EXPECT_EQ(servertest::HandlerState().called.load(), 1);
  EXPECT_EQ(servertest::HandlerState().freed.load(), 1);
}

TEST_F(TCPServerTest, HandlerThatThrowsEndsConnectionWithoutReply) {
  servertest::UseTestHandler([](TConnection&, const std::u16string&) {
    throw EConvertError("'x' is not a valid integer value");
  });
  TClient::TReceived received = Exchange(port_, std::string("x\0", 2));
  EXPECT_EQ(received.end, TEnd::kClosed);
  EXPECT_EQ(received.bytes, "");
  EXPECT_EQ(servertest::HandlerState().freed.load(), 1);

  // Not even an exception outside the system's own classes escapes.
  servertest::UseTestHandler([](TConnection&, const std::u16string&) { throw 42; });
  received = Exchange(port_, std::string("x\0", 2));
  EXPECT_EQ(received.end, TEnd::kClosed);
  EXPECT_EQ(received.bytes, "");

  // What was written before the failure stays sent.
  servertest::UseTestHandler([](TConnection& connection, const std::u16string&) {
    connection.WriteBytes("partial");
    throw EVelioError("late failure");
  });
  received = Exchange(port_, std::string("x\0", 2));
  EXPECT_EQ(received.end, TEnd::kClosed);
  EXPECT_EQ(received.bytes, "partial");

  // The server goes on serving.
  servertest::UseTestHandler();
  EXPECT_EQ(Exchange(port_, std::string("ok\0", 3)).bytes, Reply(u"echo:ok"));
}

// --verbose: the lines said while it is on, collected.
class TVerboseLines {
 public:
  TVerboseLines() {
    SetVerboseSink([this](const std::string& line) {
      std::lock_guard<std::mutex> lock(lock_);
      lines_.push_back(line);
    });
  }
  ~TVerboseLines() { SetVerboseSink(nullptr); }
  std::vector<std::string> Take() {
    std::lock_guard<std::mutex> lock(lock_);
    return std::exchange(lines_, {});
  }
  // Waits a moment for the count of lines (lines said after a close reach
  // the sink a little later than the peer sees the close).
  std::vector<std::string> TakeWhenAtLeast(size_t n) {
    for (int i = 0; i < 500; ++i) {
      {
        std::lock_guard<std::mutex> lock(lock_);
        if (lines_.size() >= n) break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return Take();
  }

 private:
  std::mutex lock_;
  std::vector<std::string> lines_;
};

TEST_F(TCPServerTest, VerboseSaysWhyARequestGotNoReply) {
  TVerboseLines verbose;
  struct {
    const char* name;
    std::string wire;
    servertest::TScript script;
    const char* reason;  // empty: no line
  } cases[] = {
      {"Failure", std::string("x\0", 2),
       [](TConnection&, const std::u16string&) { throw EVelioError("Missing element name"); },
       "no reply: Missing element name"},
      {"NothingWritten", std::string("x\0", 2), [](TConnection&, const std::u16string&) {},
       "no reply: the handler wrote no reply"},
      {"NotedReason", std::string("x\0", 2),
       [](TConnection&, const std::u16string&) {
         NoteNoReply("the request type \"X\" is unknown");
       },
       "no reply: the request type \"X\" is unknown"},
      {"NotUtf8", std::string("\xC3\x41\0", 3),
       [](TConnection&, const std::u16string&) {
         throw EVelioError("No root element found in xml");
       },
       "no reply: No root element found in xml (the request is not valid UTF-8"},
      {"Replied", std::string("x\0", 2), servertest::EchoScript, ""},
      {"PartlyReplied", std::string("x\0", 2),
       [](TConnection& c, const std::u16string&) {
         c.WriteBytes("partial");
         throw EVelioError("late");
       },
       ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    servertest::UseTestHandler(c.script);
    EXPECT_EQ(Exchange(port_, c.wire).end, TEnd::kClosed);
    const std::vector<std::string> lines =
        verbose.TakeWhenAtLeast(std::string(c.reason).empty() ? 0 : 1);
    if (std::string(c.reason).empty()) {
      EXPECT_TRUE(lines.empty()) << lines.front();
      continue;
    }
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].rfind("127.0.0.1:", 0), 0u) << lines[0];  // the peer first
    EXPECT_NE(lines[0].find(c.reason), std::string::npos) << lines[0];
  }

  // Requests that never reach a handler; a connection that sends nothing (a
  // port probe) carried no request and is not reported.
  {
    TClient probe(port_);
    probe.ShutdownSend();
    probe.ReadUntilClosed();
  }
  {
    TClient client(port_);
    ASSERT_TRUE(client.Send("<A"));
    client.ShutdownSend();
    client.ReadUntilClosed();
  }
  std::vector<std::string> lines = verbose.TakeWhenAtLeast(1);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find("no reply: the peer closed the connection before the request's end "
                          "byte (2 bytes received)"),
            std::string::npos)
      << lines[0];
  Exchange(port_, std::string(16385, 'x'));
  lines = verbose.TakeWhenAtLeast(1);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find("no reply: Max line length exceeded."), std::string::npos) << lines[0];
}

TEST(TCPServerAccess, AllowListDecidesWhoIsRead) {
  servertest::UseTestHandler();
  TVerboseLines verbose;
  struct {
    const char* list;
    bool served;  // the test connects from 127.0.0.1
  } cases[] = {
      {"127.0.0.1", true},
      {"127.0.0.0/8", true},
      {"10.0.0.1, 127.0.0.1/32", true},
      {"0.0.0.0/0", true},
      {"10.0.0.0/8", false},
      {"127.0.0.2", false},
      {"::1", false},
      {"192.168.0.0/16,10.0.0.1", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.list);
    TAddressFilter allow;
    std::string error;
    ASSERT_TRUE(TAddressFilter::Parse(c.list, allow, error)) << error;
    TRequestServer server;
    server.SetAllowList(allow);
    server.Activate();
    servertest::UseTestHandler();
    const TClient::TReceived received = Exchange(server.BoundPort(), std::string("in\0", 3));
    if (c.served) {
      EXPECT_EQ(received.bytes, Reply(u"echo:in"));
      EXPECT_EQ(server.RefusedConnections(), 0u);
      EXPECT_TRUE(verbose.Take().empty());
    } else {
      // Closed without a byte read: no handler, no reply.
      EXPECT_EQ(received.bytes, "");
      EXPECT_EQ(servertest::HandlerState().created.load(), 0);
      Exchange(server.BoundPort(), std::string("again\0", 6));
      const std::vector<std::string> lines = verbose.TakeWhenAtLeast(2);  // said after counting
      EXPECT_EQ(server.RefusedConnections(), 2u);
      ASSERT_EQ(lines.size(), 2u);
      EXPECT_EQ(lines[0].rfind("127.0.0.1:", 0), 0u) << lines[0];
      EXPECT_NE(lines[0].find("refused, not in the allow list (1 refused so far)"),
                std::string::npos)
          << lines[0];
      EXPECT_NE(lines[1].find("(2 refused so far)"), std::string::npos) << lines[1];
    }
    server.Deactivate();
  }
}

// Connections complete but not yet accepted by the listener on port (its
// Recv-Q), from /proc/net/tcp, once it equals want or 5 s have passed.
int ListenQueueLength(uint16_t port, int want) {
  int length = -1;
  for (int pass = 0; pass < 500; ++pass) {
    std::ifstream table("/proc/net/tcp");
    std::string line;
    std::getline(table, line);  // the heading
    while (std::getline(table, line)) {
      std::istringstream fields(line);
      std::string slot, local, remote, state, queues;
      fields >> slot >> local >> remote >> state >> queues;
      if (state == "0A" && std::stoul(local.substr(local.find(':') + 1), nullptr, 16) == port) {
        length = static_cast<int>(std::stoul(queues.substr(queues.find(':') + 1), nullptr, 16));
      }
    }
    if (length == want) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return length;
}

// Each wake-up empties the listen queue (it holds only 16) before the server
// looks at any of the connections: while it is held up refusing one, those
// that completed meanwhile have already left the queue.
TEST(TCPServerAccess, ListenQueueIsEmptiedBeforeAnyConnectionIsLookedAt) {
  servertest::UseTestHandler();
  std::mutex lock;
  std::condition_variable changed;
  int said = 0;
  int let_go = 0;
  // Every refusal's line holds the server up until the test lets it go.
  SetVerboseSink([&](const std::string&) {
    std::unique_lock<std::mutex> hold(lock);
    ++said;
    changed.notify_all();
    changed.wait_for(hold, servertest::kClientTimeout, [&] { return let_go >= said; });
  });
  auto wait_said = [&](int n) {
    std::unique_lock<std::mutex> hold(lock);
    return changed.wait_for(hold, servertest::kClientTimeout, [&] { return said >= n; });
  };
  auto release = [&](int n) {
    std::lock_guard<std::mutex> hold(lock);
    let_go = n;
    changed.notify_all();
  };
  TAddressFilter allow;
  std::string error;
  ASSERT_TRUE(TAddressFilter::Parse("10.0.0.0/8", allow, error)) << error;
  TRequestServer server;
  server.SetAllowList(allow);
  server.Activate();
  const uint16_t port = server.BoundPort();

  TClient first(port);
  ASSERT_TRUE(wait_said(1));  // held up in the first refusal
  constexpr int kBurst = 6;
  std::vector<TClient> burst(kBurst);
  for (TClient& client : burst) ASSERT_TRUE(client.Connect(port));
  EXPECT_EQ(ListenQueueLength(port, kBurst), kBurst);
  release(1);
  ASSERT_TRUE(wait_said(2));  // held up in the second refusal
  EXPECT_EQ(ListenQueueLength(port, 0), 0);

  release(kBurst + 1);
  for (TClient& client : burst) {
    const TClient::TReceived received = client.ReadUntilClosed();
    EXPECT_NE(received.end, TEnd::kTimeout);
    EXPECT_EQ(received.bytes, "");
  }
  EXPECT_TRUE(wait_said(kBurst + 1));
  EXPECT_EQ(server.RefusedConnections(), static_cast<uint64_t>(kBurst + 1));
  server.Deactivate();
  SetVerboseSink(nullptr);
}

TEST(TCPServerAccess, ListenAddressAndProcessDefaults) {
  servertest::UseTestHandler();
  {
    TRequestServer server;
    EXPECT_EQ(server.ListenAddress(), "");  // every local IPv4 address
    server.SetListenAddress("127.0.0.1");
    server.Activate();
    EXPECT_EQ(Exchange(server.BoundPort(), std::string("lo\0", 3)).bytes, Reply(u"echo:lo"));
  }
  {
    // An address this machine does not have: the system's error, inactive.
    TRequestServer server;
    server.SetListenAddress("192.0.2.1");
    EXPECT_THROW(server.Activate(), ESocketError);
    EXPECT_FALSE(server.Active());
  }
  // The entries' --listen and --allow reach every server made afterwards.
  TAddressFilter nobodyHere;
  std::string error;
  ASSERT_TRUE(TAddressFilter::Parse("10.0.0.0/8", nobodyHere, error));
  TRequestServer::SetDefaultAccess("127.0.0.1", nobodyHere);
  TRequestServer server;
  TRequestServer::SetDefaultAccess("", TAddressFilter());
  EXPECT_EQ(server.ListenAddress(), "127.0.0.1");
  server.Activate();
  EXPECT_EQ(Exchange(server.BoundPort(), std::string("x\0", 2)).bytes, "");
  for (int i = 0; i < 500 && server.RefusedConnections() == 0; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_EQ(server.RefusedConnections(), 1u);
  EXPECT_EQ(TRequestServer().ListenAddress(), "");
}

TEST_F(TCPServerTest, WritingToAVanishedPeerRaisesInsteadOfKillingTheProcess) {
  servertest::TGate client_gone;
  servertest::TCounter entered;
  std::atomic<bool> raised{false};
  servertest::UseTestHandler([&](TConnection& connection, const std::u16string&) {
    entered.Arrive();
    client_gone.Wait();
    try {
      // The first send may still be accepted by the kernel; later ones fail.
      for (int i = 0; i < 100; ++i) connection.WriteBytes(std::string(65536, 'z'));
    } catch (const ESocketError&) {
      raised = true;
    }
  });
  {
    TClient client(port_);
    ASSERT_TRUE(client.Send(std::string("x\0", 2)));
    ASSERT_TRUE(entered.WaitFor(1));
    client.Abort();
  }
  client_gone.Open();
  server_.Deactivate();  // waits for the handler
  EXPECT_TRUE(raised.load());
}

TEST_F(TCPServerTest, MemoIsHandedToTheHandler) {
  server_.Deactivate();
  auto* memo = reinterpret_cast<TMemo*>(0x1234);
  server_.SetMemo(memo);
  server_.Activate();
  EXPECT_EQ(Exchange(server_.BoundPort(), std::string("m\0", 2)).bytes, Reply(u"echo:m"));
  std::lock_guard<std::mutex> lock(servertest::HandlerState().lock);
  EXPECT_EQ(servertest::HandlerState().last_memo, memo);
}

TEST_F(TCPServerTest, ModeWithoutHandlerClosesWithoutReply) {
  InterfaceMode.store(97);  // no factory registered
  const TClient::TReceived received = Exchange(port_, std::string("x\0", 2));
  EXPECT_EQ(received.end, TEnd::kClosed);
  EXPECT_EQ(received.bytes, "");
  InterfaceMode.store(servertest::kTestMode);
}

// The descriptor of this process's end of client's connection (the server
// runs in the test process), or -1.
int ServerSideOf(const TClient& client, uint16_t server_port) {
  sockaddr_in client_address{};
  socklen_t length = sizeof client_address;
  if (::getsockname(client.Fd(), reinterpret_cast<sockaddr*>(&client_address), &length) != 0)
    return -1;
  DIR* fds = ::opendir("/proc/self/fd");
  if (fds == nullptr) return -1;
  int found = -1;
  while (dirent* entry = ::readdir(fds)) {
    const int fd = std::atoi(entry->d_name);
    if (fd <= 2 || fd == ::dirfd(fds)) continue;
    sockaddr_in local{}, peer{};
    socklen_t local_length = sizeof local, peer_length = sizeof peer;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &local_length) != 0 ||
        ::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &peer_length) != 0 ||
        local.sin_family != AF_INET)
      continue;
    if (ntohs(local.sin_port) == server_port && peer.sin_port == client_address.sin_port) {
      found = fd;
      break;
    }
  }
  ::closedir(fds);
  return found;
}

// A PMS that crashed or lost its network mid-request is found by keep-alive
// probes; one that is only silent answers them and keeps its connection.
TEST_F(TCPServerTest, AcceptedConnectionsProbeAnIdlePeer) {
  struct TOptionCase {
    const char* name;
    int level;
    int option;
    int expected;
  };
  const std::vector<TOptionCase> cases = {
      {"KeepAliveOn", SOL_SOCKET, SO_KEEPALIVE, 1},
      {"FirstProbeAfter60sIdle", IPPROTO_TCP, TCP_KEEPIDLE, 60},
      {"ThenEvery10s", IPPROTO_TCP, TCP_KEEPINTVL, 10},
      {"SixProbes", IPPROTO_TCP, TCP_KEEPCNT, 6},
  };
  TClient silent(port_);
  ASSERT_TRUE(silent.Connected());
  ASSERT_TRUE(silent.Send("<A type="));  // waiting for the rest of its request
  // Accepted once another connection is answered (the accept queue is in order).
  EXPECT_EQ(Exchange(port_, std::string("y\0", 2)).bytes, Reply(u"echo:y"));
  const int fd = ServerSideOf(silent, port_);
  ASSERT_GE(fd, 0);
  for (const TOptionCase& c : cases) {
    SCOPED_TRACE(c.name);
    int value = -1;
    socklen_t length = sizeof value;
    ASSERT_EQ(::getsockopt(fd, c.level, c.option, &value, &length), 0);
    EXPECT_EQ(value, c.expected);
  }
  // Keep-alive sets no time limit on a request: the silent client is still
  // being read and finishes its request.
  EXPECT_TRUE(silent.StaysSilent(std::chrono::milliseconds(200)));
  ASSERT_TRUE(silent.Send(std::string("\"X\"/>\0", 6)));
  EXPECT_EQ(silent.ReadUntilClosed().bytes, Reply(u"echo:<A type=\"X\"/>"));
}

TEST_F(TCPServerTest, StopEndsAWaitingClientAtOnce) {
  TClient client(port_);
  ASSERT_TRUE(client.Send("<A type=\"X\""));  // no NUL yet
  // The request is being read once the server answers another connection.
  EXPECT_EQ(Exchange(port_, std::string("y\0", 2)).bytes, Reply(u"echo:y"));
  server_.Deactivate();
  EXPECT_FALSE(server_.Active());
  EXPECT_EQ(server_.BoundPort(), 0);
  const TClient::TReceived received = client.ReadUntilClosed(std::chrono::milliseconds(2000));
  EXPECT_NE(received.end, TEnd::kTimeout);
  EXPECT_EQ(received.bytes, "");
  EXPECT_EQ(servertest::HandlerState().called.load(), 1);  // only the other request
}

TEST_F(TCPServerTest, StoppedServerRefusesAndCanStartAgain) {
  const uint16_t old_port = port_;
  server_.Deactivate();
  server_.Deactivate();  // a second stop does nothing
  TClient refused;
  EXPECT_FALSE(refused.Connect(old_port));

  server_.SetPort(old_port);
  server_.Activate();
  EXPECT_EQ(server_.BoundPort(), old_port);
  EXPECT_EQ(Exchange(old_port, std::string("again\0", 6)).bytes, Reply(u"echo:again"));
}

TEST(TCPServerActivation, PortInUseFailsAndStaysInactive) {
  servertest::UseTestHandler();
  TRequestServer first;
  first.Activate();
  const uint16_t port = first.BoundPort();

  TRequestServer second;
  second.SetPort(port);
  EXPECT_EQ(second.Port(), port);
  try {
    second.Activate();
    FAIL() << "activation on a taken port succeeded";
  } catch (const ESocketError& e) {
    EXPECT_STREQ(e.what(), "Could not bind socket. Address and port are already in use.");
  }
  EXPECT_FALSE(second.Active());
  EXPECT_EQ(second.BoundPort(), 0);
  EXPECT_NO_THROW(second.Deactivate());

  // The first server is unaffected.
  EXPECT_EQ(Exchange(port, std::string("still\0", 6)).bytes, Reply(u"echo:still"));
}

TEST(TCPServerActivation, PortHeldByAnotherProgramsListenerFails) {
  // A listener that also asks for address reuse must still keep its port.
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_GE(fd, 0);
  const int on = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_ANY);
  ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(::listen(fd, 1), 0);
  socklen_t length = sizeof address;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);

  TRequestServer server;
  server.SetPort(ntohs(address.sin_port));
  EXPECT_THROW(server.Activate(), ESocketError);
  EXPECT_FALSE(server.Active());
  ::close(fd);

  // Once the port is free again the same server binds it.
  EXPECT_NO_THROW(server.Activate());
  EXPECT_TRUE(server.Active());
}

TEST(TCPServerActivation, PortOutOfRangeFails) {
  TRequestServer server;
  server.SetPort(70000);
  EXPECT_THROW(server.Activate(), ESocketError);
  EXPECT_FALSE(server.Active());
}

TEST(TCPServerActivation, DestroyingAnActiveServerStopsIt) {
  servertest::UseTestHandler();
  uint16_t port = 0;
  {
    TRequestServer server;
    server.Activate();
    port = server.BoundPort();
    EXPECT_EQ(Exchange(port, std::string("a\0", 2)).bytes, Reply(u"echo:a"));
  }
  TClient refused;
  EXPECT_FALSE(refused.Connect(port));
  EXPECT_TRUE(servertest::WaitForNoHandlerThreads());
}

}  // namespace

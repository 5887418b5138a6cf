// The request server under concurrency: requests never wait for each other,
// idle connections cost no thread, stopping with handlers still running.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "platform/ErrorsUnit.h"
#include "server/TCPServerUnit.h"
#include "tests/server/ServerTestSupport.h"

namespace {

using servertest::Exchange;
using servertest::Reply;
using servertest::TClient;
using TEnd = servertest::TClient::TEnd;

class TCPServerConcurrencyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    servertest::RaiseFileLimit();
    servertest::UseTestHandler();
    server_ = std::make_unique<TRequestServer>();
    server_->Activate();
    port_ = server_->BoundPort();
  }
  void TearDown() override {
    if (server_) server_->Deactivate();
    EXPECT_TRUE(servertest::WaitForNoHandlerThreads());
  }

  std::unique_ptr<TRequestServer> server_;
  uint16_t port_ = 0;
};

TEST_F(TCPServerConcurrencyTest, SilentClientsDoNotBlockOthers) {
  std::vector<TClient> silent;
  servertest::OpenClients(port_, 200, silent);
  servertest::UseTestHandler();  // counts from here
  // A half-sent request too.
  silent.front().Send("<A type=");
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(Exchange(port_, std::string("go\0", 3)).bytes, Reply(u"echo:go"));
  }
  // The silent ones are still open and have received nothing.
  EXPECT_TRUE(silent.back().StaysSilent(std::chrono::milliseconds(20)));
  EXPECT_EQ(servertest::HandlerState().created.load(), 5);
}

TEST_F(TCPServerConcurrencyTest, BlockedHandlerDoesNotDelayAnotherConnection) {
  servertest::TGate device;
  servertest::TCounter entered;
  servertest::UseTestHandler([&](TConnection& connection, const std::u16string& request) {
    if (request == u"slow") {
      entered.Arrive();
      device.Wait();
    }
    SendReplyText(connection, u"done:" + request);
  });

  TClient slow(port_);
  ASSERT_TRUE(slow.Send(std::string("slow\0", 5)));
  ASSERT_TRUE(entered.WaitFor(1));

  // While the slow handler is blocked, others are served.
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(Exchange(port_, std::string("fast\0", 5)).bytes, Reply(u"done:fast"));
  }
  EXPECT_TRUE(slow.StaysSilent(std::chrono::milliseconds(10)));

  device.Open();
  EXPECT_EQ(slow.ReadUntilClosed().bytes, Reply(u"done:slow"));
}

TEST_F(TCPServerConcurrencyTest, ManyHandlersRunAtTheSameTime) {
  // Every handler waits until all of them are inside: this only finishes if
  // no request waits for another request's handler.
  constexpr int kRequests = 12;  // below the listen backlog: all connect at once
  servertest::TCounter inside;
  std::atomic<int> all_met{0};
  servertest::UseTestHandler([&](TConnection& connection, const std::u16string& request) {
    inside.Arrive();
    if (inside.WaitFor(kRequests)) all_met++;
    SendReplyText(connection, request);
  });
  std::vector<std::thread> clients;
  std::vector<std::string> replies(kRequests);
  for (int i = 0; i < kRequests; ++i) {
    clients.emplace_back(
        [this, i, &replies] { replies[i] = Exchange(port_, std::to_string(i) + '\0').bytes; });
  }
  for (std::thread& client : clients) client.join();
  EXPECT_EQ(all_met.load(), kRequests);
  for (int i = 0; i < kRequests; ++i) {
    EXPECT_EQ(replies[i], std::to_string(i) + '\0');
  }
}

TEST_F(TCPServerConcurrencyTest, ParallelClientsGetTheirOwnReplies) {
  constexpr int kThreads = 8;
  constexpr int kPerThread = 150;
  std::atomic<int> wrong{0};
  std::vector<std::thread> clients;
  for (int t = 0; t < kThreads; ++t) {
    clients.emplace_back([this, t, &wrong] {
      for (int i = 0; i < kPerThread; ++i) {
        const std::string text = "t" + std::to_string(t) + "-" + std::to_string(i);
        const std::u16string wide(text.begin(), text.end());
        if (Exchange(port_, text + '\0').bytes != Reply(u"echo:" + wide)) wrong++;
      }
    });
  }
  for (std::thread& client : clients) client.join();
  EXPECT_EQ(wrong.load(), 0);
  EXPECT_EQ(servertest::HandlerState().freed.load(), kThreads * kPerThread);
}

TEST_F(TCPServerConcurrencyTest, ThousandsOfConnectionsOpenedAndDropped) {
  constexpr int kConnections = 3000;
  std::vector<TClient> clients;
  clients.reserve(kConnections);
  const int probes = servertest::OpenClients(port_, kConnections, clients);
  for (int i = 0; i < kConnections; ++i) {
    ASSERT_TRUE(clients[i].Connected()) << i;
    if (i % 3 == 1) clients[i].Send("<partial request");
  }
  // Still serving with all of them open.
  EXPECT_EQ(Exchange(port_, std::string("busy\0", 5)).bytes, Reply(u"echo:busy"));
  // Drop them: orderly closes and resets mixed.
  for (int i = 0; i < kConnections; ++i) {
    if (i % 2 == 0) {
      clients[i].Abort();
    } else {
      clients[i].Close();
    }
  }
  clients.clear();
  // Quick connect-and-reset cycles.
  int more_probes = 0;
  for (int i = 0; i < 2000; ++i) {
    TClient client(port_);
    client.Abort();
    if (i % servertest::kConnectBatch == 0) {
      servertest::Probe(port_);
      ++more_probes;
    }
  }
  EXPECT_EQ(Exchange(port_, std::string("after\0", 6)).bytes, Reply(u"echo:after"));
  EXPECT_EQ(servertest::HandlerState().created.load(), probes + more_probes + 2);
  EXPECT_NO_THROW(server_->Deactivate());
}

TEST_F(TCPServerConcurrencyTest, StopWithManyWaitingClientsEndsThemAll) {
  std::vector<TClient> waiting;
  servertest::OpenClients(port_, 300, waiting);
  for (TClient& client : waiting) client.Send("no end yet");
  EXPECT_EQ(Exchange(port_, std::string("x\0", 2)).bytes, Reply(u"echo:x"));  // all accepted
  EXPECT_NO_THROW(server_->Deactivate());
  for (TClient& client : waiting) {
    const TClient::TReceived received = client.ReadUntilClosed(std::chrono::milliseconds(2000));
    EXPECT_NE(received.end, TEnd::kTimeout);
    EXPECT_EQ(received.bytes, "");
  }
}

TEST_F(TCPServerConcurrencyTest, StopWaitsForAHandlerThatEndsInTime) {
  servertest::TCounter entered;
  std::atomic<bool> write_failed{false};
  servertest::UseTestHandler([&](TConnection& connection, const std::u16string&) {
    entered.Arrive();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    try {
      connection.WriteBytes(Reply(u"too late"));
    } catch (const ESocketError&) {
      write_failed = true;
    }
  });
  TClient client(port_);
  ASSERT_TRUE(client.Send(std::string("x\0", 2)));
  ASSERT_TRUE(entered.WaitFor(1));
  EXPECT_NO_THROW(server_->Deactivate());
  // The handler had finished when the stop returned; its write had failed.
  EXPECT_EQ(servertest::HandlerState().freed.load(), 1);
  EXPECT_TRUE(write_failed.load());
  const TClient::TReceived received = client.ReadUntilClosed(std::chrono::milliseconds(2000));
  EXPECT_NE(received.end, TEnd::kTimeout);
  EXPECT_EQ(received.bytes, "");
}

TEST_F(TCPServerConcurrencyTest, StopEndsAReplyBlockedOnAPeerThatDoesNotRead) {
  servertest::TCounter writing;
  std::atomic<bool> write_failed{false};
  servertest::UseTestHandler([&](TConnection& connection, const std::u16string&) {
    writing.Arrive();
    try {
      // Far more than the socket buffers hold: the send blocks.
      const std::string block(1 << 20, 'b');
      for (int i = 0; i < 256; ++i) connection.WriteBytes(block);
    } catch (const ESocketError&) {
      write_failed = true;
    }
  });
  TClient client(port_);
  ASSERT_TRUE(client.Send(std::string("x\0", 2)));
  ASSERT_TRUE(writing.WaitFor(1));
  std::this_thread::sleep_for(std::chrono::milliseconds(20));  // let the send fill the buffers
  EXPECT_NO_THROW(server_->Deactivate());
  EXPECT_TRUE(write_failed.load());
  EXPECT_EQ(servertest::HandlerState().freed.load(), 1);
}

TEST_F(TCPServerConcurrencyTest, HandlerOutlivingTheStopWaitTimesOutSafely) {
  servertest::TGate device;
  servertest::TCounter entered;
  std::atomic<bool> write_failed{false};
  servertest::UseTestHandler([&](TConnection& connection, const std::u16string&) {
    entered.Arrive();
    device.Wait();
    try {
      connection.WriteBytes(Reply(u"after stop"));
    } catch (const ESocketError&) {
      write_failed = true;
    }
  });
  TClient client(port_);
  ASSERT_TRUE(client.Send(std::string("x\0", 2)));
  ASSERT_TRUE(entered.WaitFor(1));

  server_->SetStopWait(std::chrono::milliseconds(60), std::chrono::milliseconds(20));
  try {
    server_->Deactivate();
    FAIL() << "the stop did not time out";
  } catch (const EVelioError& e) {
    EXPECT_STREQ(e.what(), "Terminate Thread Timeout");
  }
  EXPECT_FALSE(server_->Active());
  // The client already sees its connection ended.
  const TClient::TReceived received = client.ReadUntilClosed(std::chrono::milliseconds(2000));
  EXPECT_NE(received.end, TEnd::kTimeout);
  EXPECT_EQ(received.bytes, "");

  // The server object goes away while its handler still runs.
  server_.reset();
  EXPECT_EQ(TRequestServer::LiveHandlerThreads(), 1);
  device.Open();
  EXPECT_TRUE(servertest::WaitForNoHandlerThreads());
  EXPECT_TRUE(write_failed.load());
  EXPECT_EQ(servertest::HandlerState().freed.load(), 1);
}

TEST_F(TCPServerConcurrencyTest, RestartWhileAnOldHandlerStillRuns) {
  servertest::TGate device;
  servertest::TCounter entered;
  servertest::UseTestHandler([&](TConnection& connection, const std::u16string& request) {
    if (request == u"old") {
      entered.Arrive();
      device.Wait();
    }
    SendReplyText(connection, u"echo:" + request);
  });
  TClient old_client(port_);
  ASSERT_TRUE(old_client.Send(std::string("old\0", 4)));
  ASSERT_TRUE(entered.WaitFor(1));
  server_->SetStopWait(std::chrono::milliseconds(30), std::chrono::milliseconds(10));
  EXPECT_THROW(server_->Deactivate(), EVelioError);

  server_->SetStopWait(std::chrono::milliseconds(5000), std::chrono::milliseconds(250));
  server_->SetPort(0);
  server_->Activate();
  EXPECT_EQ(Exchange(server_->BoundPort(), std::string("new\0", 4)).bytes, Reply(u"echo:new"));
  device.Open();
  EXPECT_NO_THROW(server_->Deactivate());             // the old handler is waited for too
  EXPECT_EQ(old_client.ReadUntilClosed().bytes, "");  // its connection was shut by the first stop
}

}  // namespace

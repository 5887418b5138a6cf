// Card operations from many threads at once: one device serialises its
// operations (no two reader sessions overlap), the simulated card is never torn
// or loses an update while another process edits it, and concurrent requests
// through the handler each get a whole reply.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <regex>
#include <thread>

#include "member/MemberMessageHandlerUnit.h"
#include "member/ZentaMemberUnit.h"
#include "platform/DynLibUnit.h"
#include "server/Utf8Unit.h"
#include "sim/CardImageUnit.h"
#include "tests/member/MemberTestSupport.h"
#include "tests/support/FakeConnectionSupport.h"
#include "tests/support/FileSupport.h"
#include "tests/support/TempDirSupport.h"

namespace {

const std::string kReaderPath = std::string(VELIO_BIN_DIR) + "/" + SharedLibraryName("Reader");

constexpr int kThreads = 6;
constexpr int kRounds = 40;

TEST(MemberConcurrencyTest, OneDeviceRunsOneReaderSessionAtATime) {
  membertest::TMemberEnv env;
  membertest::TFakeReader control;  // forgets the calls of earlier tests

  TZentaMember device(membertest::kFakePath);
  std::atomic<int> failures{0};
  std::atomic<bool> done{false};
  // The options dialog saving while connections read the options.
  std::thread dialog([&] {
    for (int i = 0; !done.load(); ++i) {
      env.Options().SetKeyFlag(i % 2 ? "KEY_A" : "KEY_B");
      env.Options().SetSector(4 + i % 3);
      std::this_thread::yield();
    }
  });
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kRounds * 5; ++i) {
        std::string cardNo, o1, o2, o3, o4;
        const bool ok = (i + t) % 2 ? device.WriteMemberCard(std::to_string(i), "", "", "", -1)
                                    : device.ReadMemberCard(false, cardNo, o1, o2, o3, o4, -1);
        if (!ok) ++failures;
      }
    });
  }
  for (std::thread& th : threads) th.join();
  done = true;
  dialog.join();
  EXPECT_EQ(failures.load(), 0);
  EXPECT_EQ(control.Overlaps(), 0);
}

class SimConcurrencyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("VELIO_READER_SIM_DIR", card_.Path().c_str(), 1);
    readersim::TKey key = {0x7D, 0x2A, 0x9C, 0x41, 0xE6, 0xB3};
    readersim::TCardLock lock(card_.Path());
    ASSERT_TRUE(readersim::SaveCard(card_.Path(), readersim::NewCardImage(key, {9, 8, 7, 6})));
  }
  void TearDown() override { unsetenv("VELIO_READER_SIM_DIR"); }

  // Another process (cardsim) editing sector 5 block 0 under the card lock.
  void EditOtherBlock(int rounds) {
    for (int i = 1; i <= rounds; ++i) {
      readersim::TCardLock lock(card_.Path());
      readersim::TCardImage image;
      ASSERT_EQ(readersim::LoadCard(card_.Path(), image), readersim::TLoadResult::Ok);
      const std::string text = "edit" + std::to_string(i);
      std::memset(image.data() + 320, 0xFF, 16);
      std::memcpy(image.data() + 320, text.data(), text.size());
      ASSERT_TRUE(readersim::SaveCard(card_.Path(), image));
    }
  }

  velio_test::TTempDir card_;
};

TEST_F(SimConcurrencyTest, ThreadsAndAnotherWriterNeverTearTheCard) {
  membertest::TMemberEnv env;
  TZentaMember device(kReaderPath);
  ASSERT_TRUE(device.Library().Loaded());
  std::atomic<int> failures{0}, torn{0};
  const std::regex written("T[0-9]-[0-9]+");
  std::vector<std::thread> threads;
  threads.emplace_back([&] { EditOtherBlock(kRounds); });
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kRounds; ++i) {
        const std::string number = "T" + std::to_string(t) + "-" + std::to_string(i);
        if (!device.WriteMemberCard(number, "", "", "", -1)) ++failures;
        std::string cardNo, o1, o2, o3, o4;
        if (!device.ReadMemberCard(false, cardNo, o1, o2, o3, o4, -1)) ++failures;
        if (!std::regex_match(cardNo, written)) ++torn;
      }
    });
  }
  for (std::thread& th : threads) th.join();
  EXPECT_EQ(failures.load(), 0);
  EXPECT_EQ(torn.load(), 0);

  const std::string bytes = velio_test::ReadFile(card_.Path() + "card.bin");
  ASSERT_EQ(bytes.size(), readersim::kCardSize);
  const std::string block4 = bytes.substr(256, 16);
  EXPECT_TRUE(std::regex_match(block4.substr(0, block4.find('\xFF')), written)) << block4;
  // The other writer's last edit survived every reader write in between.
  const std::string last = "edit" + std::to_string(kRounds);
  EXPECT_EQ(bytes.substr(320, last.size()), last);
  EXPECT_FALSE(std::filesystem::exists(card_.Path() + "card.bin.tmp"));
  // Every operation logged exactly one whole line.
  const std::vector<std::string> log = env.Log();
  EXPECT_EQ(log.size(), 1u + 2u * kThreads * kRounds);
}

TEST_F(SimConcurrencyTest, ConcurrentRequestsEachGetAWholeReply) {
  membertest::TMemberEnv env;
  TZentaMember device(kReaderPath);
  MemberDevice.store(&device);
  std::atomic<int> bad{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kRounds / 2; ++i) {
        const std::string number = std::to_string(t) + "0" + std::to_string(i);
        velio_test::TFakeConnection w, r;
        TMemberMessageHandler(nullptr).HandleMessage(
            w, DecodeUtf8("<R type='WriteMemberCard'><H/><C>" + number + "</C><E/><E/><E/></R>"));
        TMemberMessageHandler(nullptr).HandleMessage(
            r, DecodeUtf8("<R type='ReadMemberCard'><H/><F>1</F></R>"));
        if (w.data.find("<ResultCode>200</ResultCode>") == std::string::npos) ++bad;
        if (w.data.find("<CardNo>" + number + "</CardNo>") == std::string::npos) ++bad;
        if (r.data.find("<ResultCode>200</ResultCode>") == std::string::npos) ++bad;
        for (const std::string* reply : {&w.data, &r.data}) {
          if (reply->find('\0') != reply->size() - 1) ++bad;
        }
      }
    });
  }
  for (std::thread& th : threads) th.join();
  MemberDevice.store(nullptr);
  EXPECT_EQ(bad.load(), 0);
  // Per request: the received line, the device's line and the handler's line.
  EXPECT_EQ(env.Log().size(), 1u + 2u * 3u * kThreads * (kRounds / 2));
}

}  // namespace

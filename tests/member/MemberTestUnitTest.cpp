// The member card test window's operations, on a recording device and with
// none installed.
#include <gtest/gtest.h>

#include "member/BaseMemberUnit.h"
#include "member/MemberTestUnit.h"
#include "tests/member/MemberTestSupport.h"

namespace {

using membertest::TFakeMember;

class MemberTestUnitTest : public testing::Test {
 protected:
  void SetUp() override { MemberDevice = &device_; }
  void TearDown() override { MemberDevice = nullptr; }
  TFakeMember device_;
};

TEST_F(MemberTestUnitTest, CardTypeGivesTheChannelOfReadAndWrite) {
  struct Case {
    const char* type;  // UTF-8
    int32_t channel;
  } cases[] = {{"酒店会员卡", -1}, {"Tarvik联盟卡", 11}, {"", 11}, {"酒店会员卡 ", 11}};
  device_.out = {"8001", "pw", "2030-01-01", "Guest", "7"};
  for (const auto& c : cases) {
    device_.channel = 0;
    const auto read = MemberTestReadCard(Lit(c.type));
    ASSERT_TRUE(read.has_value());
    EXPECT_EQ(device_.channel, c.channel) << c.type;
    EXPECT_FALSE(device_.flag);
    EXPECT_EQ(read->CardNo, "8001");
    EXPECT_EQ(read->Password, "pw");
    device_.channel = 0;
    MemberTestWriteCard("9002", Lit(c.type));
    EXPECT_EQ(device_.channel, c.channel) << c.type;
    EXPECT_EQ(device_.cardNo, "9002");
    EXPECT_EQ(device_.extras, (std::vector<AnsiString>{"", "", ""}));
  }
  // A read that finds no card still shows the (empty) outputs.
  device_.answer = false;
  device_.out = {};
  const auto none = MemberTestReadCard(Lit("酒店会员卡"));
  ASSERT_TRUE(none.has_value());
  EXPECT_EQ(none->CardNo, "");
}

TEST_F(MemberTestUnitTest, WithoutDeviceNothingHappens) {
  MemberDevice = nullptr;
  MemberTestOpenPort();
  MemberTestClosePort();
  MemberTestBeep();
  MemberTestWriteCard("1", "");
  EXPECT_FALSE(MemberTestReadCard("").has_value());
  EXPECT_EQ(device_.reads + device_.writes, 0);
}

}  // namespace

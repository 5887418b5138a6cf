// The main window's close rule and what its test action opens without a device.
#include <gtest/gtest.h>

#include "app/MainWindowUnit.h"
#include "services/InterfaceModeUnit.h"

namespace {

using TAnswer = TMainWindowCloseRule::TAnswer;

TEST(MainWindowCloseRuleTest, PasswordBeforeEveryCloseUntilTheStop) {
  struct Case {
    const char* name;
    bool stopBefore;      // BeginStop before the attempt
    bool right;           // the prompt's answer
    bool stopWhileAsked;  // BeginStop while the prompt is open
    bool closedBefore;    // an earlier attempt closed the window
    TAnswer answer;
    int prompts;
  } cases[] = {
      {"wrong password", false, false, false, false, TAnswer::Refuse, 1},
      {"right password", false, true, false, false, TAnswer::Close, 1},
      {"stopping", true, false, false, false, TAnswer::Close, 0},
      {"stop while asked", false, false, true, false, TAnswer::Close, 1},
      {"closed, asked again", false, false, false, true, TAnswer::AlreadyClosed, 1},
      {"closed, stopping", true, false, false, true, TAnswer::AlreadyClosed, 0},
  };
  for (const auto& c : cases) {
    TMainWindowCloseRule rule;
    if (c.closedBefore) {
      ASSERT_EQ(rule.QueryClose([] { return true; }), TAnswer::Close);
    }
    if (c.stopBefore) {
      EXPECT_EQ(rule.BeginStop(), !c.closedBefore) << c.name;
    }
    int prompts = 0;
    const TAnswer answer = rule.QueryClose([&] {
      ++prompts;
      if (c.stopWhileAsked) rule.BeginStop();
      return c.right;
    });
    EXPECT_EQ(answer, c.answer) << c.name;
    EXPECT_EQ(prompts, c.prompts) << c.name;
    EXPECT_EQ(rule.Closed(), c.answer != TAnswer::Refuse) << c.name;
  }
}

TEST(MainWindowCloseRuleTest, WithoutDevicesTheTestActionOpensNothing) {
  for (int32_t mode : {kModeDoorlock, kModePolice, kModeMember, 0})
    EXPECT_EQ(TestWindowForMode(mode), TTestWindow::None) << mode;
  EXPECT_EQ(PoliceGuestText(), "");
}

}  // namespace

// End-to-end: the desktop program velio-interface on a private X server (Xvfb,
// the xcb platform, no window manager), driven through the keyboard with
// xdotool as an operator would. What only a real window system shows is read
// back from the X server: each window's caption, as xprop reads it.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <set>
#include <thread>

#include "tests/e2e/E2eSupport.h"

using namespace e2e;

namespace {

const char kMainCaption[] = "TarvikVelio会员卡接口";
const char kPrompt[] = "请输入管理员密码";

class DesktopE2e : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(x_.Error(), "") << "the desktop tests need a private X server";
    port_ = FreePort();
    home_.Write("Option.ini", "[SysOption]\r\nMemberPortNo=" + std::to_string(port_) + "\r\n");
    Start();
  }

  void Start() {
    TSpawnOptions options;
    options.program = "velio-interface";
    options.env = {{"DISPLAY", x_.Display()}, {"QT_QPA_PLATFORM", "xcb"}};
#ifdef __SANITIZE_ADDRESS__
    // The leak check at exit stops every thread of the process; with the xcb
    // platform's threads still winding down it now and then crashes its own
    // tracer ("Tracer caught signal 11") and the exit code becomes 1. Leaks of
    // the windows are checked in the offscreen GUI tests, in-process.
    const char* asan = std::getenv("ASAN_OPTIONS");
    options.env["ASAN_OPTIONS"] =
        (asan && *asan ? std::string(asan) + ":" : std::string()) + "detect_leaks=0";
#endif
    app_ = std::make_unique<TDaemon>(home_.Path(), "member", port_, options);
    ASSERT_TRUE(app_->WaitListening(30000)) << app_->Stderr();
    main_ = WaitForWindow(kMainCaption);
    ASSERT_NE(main_, "") << "no main window; visible: " << Listed();
  }

  // The captions of the visible windows.
  std::multiset<std::string> Captions() const {
    std::multiset<std::string> out;
    for (const auto& [id, caption] : x_.VisibleCaptions()) out.insert(caption);
    return out;
  }

  std::string Listed() const {
    std::string text;
    for (const std::string& c : Captions()) text += "\"" + c + "\" ";
    return text;
  }

  // The id of a visible window with exactly this caption, waiting for it to
  // open; empty when none opened.
  std::string WaitForWindow(const std::string& caption, int timeoutMs = 10000) const {
    std::string found;
    WaitUntil(
        [&] {
          for (const auto& [id, c] : x_.VisibleCaptions())
            if (c == caption) found = id;
          return !found.empty();
        },
        timeoutMs);
    return found;
  }

  // Waits until the visible windows' captions are exactly these.
  bool WaitForCaptions(const std::multiset<std::string>& expected) const {
    return WaitUntil([&] { return Captions() == expected; }, 10000);
  }

  // Gives window the keyboard, then presses keys one after the other (xdotool
  // key names: "alt+f", "Return", "Escape").
  void Keys(const std::string& window, const std::vector<std::string>& keys) const {
    std::string out;
    x_.Run({"xdotool", "windowfocus", window}, out);
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    for (const std::string& key : keys) {
      x_.Run({"xdotool", "key", key}, out);
      std::this_thread::sleep_for(std::chrono::milliseconds(150));
    }
  }

  void Type(const std::string& window, const std::string& text) const {
    std::string out;
    x_.Run({"xdotool", "windowfocus", window}, out);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    x_.Run({"xdotool", "type", "--delay", "30", text}, out);
  }

  // Through the menu, as the operator would: File, Exit. The password prompt
  // opens; answers its window id.
  std::string OpenPromptByExit() const {
    Keys(main_, {"alt+f", "x"});
    return WaitForWindow(kPrompt);
  }

  TXvfb x_;
  TTempHome home_;
  int port_ = 0;
  std::unique_ptr<TDaemon> app_;
  std::string main_;
};

// Every window and message box carries exactly its own caption: nothing of the
// application's title is appended by the window system.
TEST_F(DesktopE2e, EveryWindowHasExactlyItsOwnCaption) {
  const std::string main = kMainCaption;
  EXPECT_TRUE(WaitForCaptions({main})) << Listed();

  // The close check: the prompt, then a wrong password and its message box.
  const std::string prompt = OpenPromptByExit();
  ASSERT_NE(prompt, "") << "no password prompt; visible: " << Listed();
  EXPECT_TRUE(WaitForCaptions({main, kPrompt})) << Listed();
  Type(prompt, "wrong");
  Keys(prompt, {"Return"});
  const std::string box = WaitForWindow("提示");
  EXPECT_NE(box, "") << "no message box; visible: " << Listed();
  EXPECT_TRUE(WaitForCaptions({main, kPrompt, "提示"})) << Listed();
  Keys(box, {"Return"});  // dismisses the box; the prompt stays
  EXPECT_TRUE(WaitForCaptions({main, kPrompt})) << Listed();
  Keys(prompt, {"Escape"});  // cancels: the window stays open
  EXPECT_TRUE(WaitForCaptions({main})) << Listed();

  // The dialogs behind the password, and the windows without it.
  struct Case {
    std::vector<std::string> menuKeys;
    bool password;
    const char* caption;
  } cases[] = {{{"alt+t", "o"}, true, "Zenta会员卡接口配置"},
               {{"alt+t", "c"}, true, "更改管理员密码"},
               {{"alt+t", "t"}, false, "测试"},
               {{"alt+h", "a"}, false, "关于 TarvikVelio会员卡接口"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.caption);
    Keys(main_, c.menuKeys);
    if (c.password) {
      const std::string p = WaitForWindow(kPrompt);
      ASSERT_NE(p, "") << "no password prompt; visible: " << Listed();
      Type(p, "qelvan");
      Keys(p, {"Return"});
    }
    const std::string dialog = WaitForWindow(c.caption);
    EXPECT_NE(dialog, "") << "visible: " << Listed();
    EXPECT_TRUE(WaitForCaptions({main, c.caption})) << Listed();
    if (!dialog.empty()) Keys(dialog, {"Escape"});
    EXPECT_TRUE(WaitForCaptions({main})) << Listed();
  }
  EXPECT_EQ(app_->Stop(), 0) << app_->Stderr();
}

// SIGTERM (a service manager, a logout), SIGINT and SIGHUP stop the desktop
// program in order, without the password prompt, also while the prompt is open
// waiting for an answer: the process ends by itself with 0, the port is freed.
TEST_F(DesktopE2e, StopSignalsEndItInOrderWithoutThePassword) {
  struct Case {
    int sig;
    bool promptOpen;
  } cases[] = {{SIGTERM, true}, {SIGINT, true}, {SIGHUP, true}, {SIGTERM, false}};
  bool first = true;
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(strsignal(c.sig)) + (c.promptOpen ? " with the prompt" : ""));
    if (!first) Start();
    first = false;
    if (c.promptOpen) {
      ASSERT_NE(OpenPromptByExit(), "") << Listed();
    }
    // A request is served up to the stop.
    EXPECT_TRUE(Send(port_, "<Request type=\"ReadMemberCard\"><x/></Request>").connected);
    app_->Signal(c.sig);
    EXPECT_EQ(app_->Wait(10000), 0) << app_->Stderr();
    EXPECT_FALSE(Send(port_, "<Request/>").connected);
    EXPECT_TRUE(Captions().empty()) << Listed();
  }
}

}  // namespace

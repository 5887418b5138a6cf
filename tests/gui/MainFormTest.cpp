// The main window: title, memo and status bar, the server's start and stop,
// the close check and the actions of each mode.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QThread>
#include <QToolBar>
#include <QToolButton>
#include <csignal>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "GuiTestSupport.h"
#include "app/CheckPasswordFormUnit.h"
#include "app/MainFormUnit.h"
#include "app/MainUnit.h"
#include "member/BaseMemberUnit.h"
#include "member/MemberTestFormUnit.h"
#include "platform/ErrorsUnit.h"
#include "police/BasePoliceUnit.h"
#include "police/PoliceMessageHandlerUnit.h"
#include "server/MessageHandlerUnit.h"
#include "server/TCPServerUnit.h"
#include "services/InterfaceModeUnit.h"
#include "services/SysOptionUnit.h"
#include "tests/member/MemberTestSupport.h"
#include "tests/police/PoliceTestSupport.h"
#include "tests/support/PortSupport.h"

namespace {

using membertest::TFakeMember;
using police_test::TFakePolice;

void AnswerPrompt(const char* password) {
  WhenModal<TCheckPasswordForm>([password](TCheckPasswordForm* form) {
    if (password) {
      form->edtPswd->setText(QString::fromUtf8(password));
      form->btnOK->click();
    } else {
      form->btnCancel->click();
    }
  });
}

// Processes events until pred holds; false after three seconds.
bool WaitFor(const std::function<bool()>& pred) {
  for (int i = 0; i < 300 && !pred(); ++i) {
    QApplication::processEvents(QEventLoop::AllEvents, 10);
    QThread::msleep(10);
  }
  return pred();
}

class MainFormTest : public TGuiTest {
 protected:
  void TearDown() override {
    MemberDevice = nullptr;
    PoliceDevice = nullptr;
    TGuiTest::TearDown();
  }
};

TEST_F(MainFormTest, TitleAndCaptionFollowTheMode) {
  struct Case {
    int32_t mode;
    const char* title;
    const char* startLine;
  } cases[] = {{kModeDoorlock, "TarvikVelio门锁接口", "门锁接口监听服务器已经启动..."},
               {kModePolice, "TarvikVelio公安接口", "公安接口监听服务器已经启动..."},
               {kModeMember, "TarvikVelio会员卡接口", "会员卡接口监听服务器已经启动..."}};
  for (const auto& c : cases) {
    InterfaceMode = c.mode;
    TMainForm form;
    EXPECT_EQ(form.windowTitle(), QString::fromUtf8(c.title));
    EXPECT_EQ(QGuiApplication::applicationDisplayName(), QString::fromUtf8(c.title));
    EXPECT_EQ(QCoreApplication::applicationName(), QString::fromUtf8(c.title));
    EXPECT_EQ(ApplicationTitle(), QString::fromUtf8(c.title));
    EXPECT_EQ(form.InfoMemo->toPlainText(), QString::fromUtf8(c.startLine));
  }
  EXPECT_TRUE(boxes_.empty());
}

TEST_F(MainFormTest, LayoutAndEmptyStatusBar) {
  TMainForm form;
  form.show();
  EXPECT_EQ(form.centralWidget()->height() + form.StatusBar->height(), 461);
  EXPECT_EQ(form.centralWidget()->width(), 857);
  EXPECT_EQ(form.InfoMemo->geometry(), QRect(0, 24, 857, 401));
  EXPECT_FALSE(form.InfoMemo->isReadOnly());
  EXPECT_EQ(form.StatusBar->height(), 21);
  EXPECT_EQ(form.StatusBar->currentMessage(), QString());
  EXPECT_EQ(form.ToolBar->height(), 25);
  EXPECT_EQ(form.InfoMemo->blockCount(), 1);
  // Tool bar: options, change password, separator, about, separator, exit.
  const QList<QAction*> actions = form.ToolBar->actions();
  ASSERT_EQ(actions.size(), 6);
  EXPECT_EQ(actions[0], form.OptionAction);
  EXPECT_EQ(actions[1], form.ChangePasswordAction);
  EXPECT_TRUE(actions[2]->isSeparator());
  EXPECT_EQ(actions[3], form.AboutAction);
  EXPECT_TRUE(actions[4]->isSeparator());
  EXPECT_EQ(actions[5], form.ExitAction);
  EXPECT_EQ(form.OptionAction->text(), QStringLiteral("选项(&O)..."));
  EXPECT_EQ(form.ExitAction->text(), QStringLiteral("退出(&X)"));
  // Each tool button shows its action's caption as the menu does.
  struct Button {
    QToolButton* button;
    QAction* action;
    const char* caption;
  } buttons[] = {{form.OptionButton, form.OptionAction, "选项(&O)..."},
                 {form.ChangePasswordButton, form.ChangePasswordAction, "更改管理员密码(&C)"},
                 {form.HelpButton, form.AboutAction, "关于(&A)..."},
                 {form.ExitButton, form.ExitAction, "退出(&X)"}};
  for (const auto& b : buttons) {
    EXPECT_EQ(b.button->defaultAction(), b.action) << b.caption;
    EXPECT_EQ(b.button->text(), QString::fromUtf8(b.caption));
    EXPECT_EQ(b.button->text(), b.action->text());
  }
  EXPECT_TRUE(form.TestAction->icon().isNull());
  EXPECT_FALSE(form.AboutAction->icon().isNull());
}

TEST_F(MainFormTest, ServerListensWhileTheWindowExistsAndStopsWithIt) {
  QString lastMemo;
  {
    TMainForm form;
    EXPECT_TRUE(form.TCPServer().Active());
    EXPECT_NE(form.TCPServer().BoundPort(), 0);
    QObject::connect(form.InfoMemo, &QPlainTextEdit::textChanged,
                     [&] { lastMemo = form.InfoMemo->toPlainText(); });
  }
  EXPECT_EQ(lastMemo, QStringLiteral("会员卡接口监听服务器已经启动...\n接口监听服务器已经停止。"));
}

// Records the memo each handler is created with, and answers nothing.
class TMemoHandler : public TMessageHandler {
 public:
  void HandleMessage(TConnection&, const std::u16string&) override {}
};

TEST_F(MainFormTest, HandlersReceiveTheWindowsMemo) {
  InterfaceMode = kModePolice;
  std::mutex lock;
  std::vector<TMemo*> memos;
  RegisterHandlerFactory(kModePolice, [&](TMemo* memo) -> std::unique_ptr<TMessageHandler> {
    std::lock_guard<std::mutex> hold(lock);
    memos.push_back(memo);
    return std::make_unique<TMemoHandler>();
  });
  {
    TMainForm form;
    const QString before = form.InfoMemo->toPlainText();
    for (int i = 0; i < 2; ++i) {
      const int fd = socket(AF_INET, SOCK_STREAM, 0);
      sockaddr_in addr{};
      addr.sin_family = AF_INET;
      addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      addr.sin_port = htons(form.TCPServer().BoundPort());
      ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
      ASSERT_EQ(::send(fd, "<R/>", 5, 0), 5);
      char byte;
      EXPECT_EQ(::recv(fd, &byte, 1, 0), 0);  // closed with no reply
      ::close(fd);
    }
    std::lock_guard<std::mutex> hold(lock);
    ASSERT_EQ(memos.size(), 2u);
    EXPECT_EQ(memos[0], form.InfoMemo);
    EXPECT_EQ(memos[1], form.InfoMemo);
    EXPECT_EQ(form.InfoMemo->toPlainText(), before);  // kept, never written
  }
  RegisterPoliceMode();
}

TEST_F(MainFormTest, PortInUseShowsTheErrorAndTheWindowStillWorks) {
  velio_test::TListeningPort busy;
  ASSERT_NE(busy.Port(), 0);
  SystemOptions->MemberPortNo = busy.Port();
  TMainForm form;
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(boxes_[0].Text,
            QStringLiteral("Could not bind socket. Address and port are already in use."));
  EXPECT_EQ(boxes_[0].Caption, QStringLiteral("TarvikVelio会员卡接口"));
  EXPECT_EQ(boxes_[0].Icon, QMessageBox::Critical);
  EXPECT_EQ(form.InfoMemo->toPlainText(), QStringLiteral("会员卡接口监听服务器已经启动..."));
  EXPECT_FALSE(form.TCPServer().Active());
  form.show();
  AnswerPrompt(nullptr);
  EXPECT_FALSE(form.close());
}

TEST_F(MainFormTest, RefusedCloseKeepsWindowAndServer) {
  TMainForm form;
  form.show();
  int closed = 0;
  QObject::connect(&form, &TMainForm::closed, [&] { ++closed; });
  AnswerPrompt(nullptr);
  form.ExitAction->trigger();
  EXPECT_TRUE(form.isVisible());
  EXPECT_TRUE(form.TCPServer().Active());
  // A wrong password keeps the prompt open: answer it wrongly, then cancel.
  WhenModal<TCheckPasswordForm>([](TCheckPasswordForm* prompt) {
    prompt->edtPswd->setText(QStringLiteral("QELVAN"));
    prompt->btnOK->click();
    EXPECT_TRUE(prompt->isVisible());
    prompt->btnCancel->click();
  });
  EXPECT_FALSE(form.close());
  EXPECT_EQ(closed, 0);
  AnswerPrompt("qelvan");
  EXPECT_TRUE(form.close());
  EXPECT_EQ(closed, 1);
}

// SIGINT, SIGTERM and SIGHUP close the window in order without asking for the
// password, also while a dialog or message box is open over it: the server
// stops (the stop line) and the window's loop ends.
TEST_F(MainFormTest, StopSignalsCloseWithoutThePassword) {
  struct Case {
    int sig;
    const char* openFirst;  // what is open when the signal comes
    size_t boxes;           // message boxes shown
  } cases[] = {{SIGTERM, "prompt", 0},  {SIGINT, "prompt", 0},     {SIGHUP, "prompt", 0},
               {SIGTERM, "nothing", 0}, {SIGTERM, "wrong-box", 1}, {SIGINT, "test-window", 0}};
  TFakeMember device;
  MemberDevice = &device;
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(strsignal(c.sig)) + " with " + c.openFirst);
    boxes_.clear();
    QString lastMemo;
    int closed = 0;
    {
      TMainForm form;
      TStopOnSignals stop(&form);
      form.show();
      QObject::connect(&form, &TMainForm::closed, [&] { ++closed; });
      QObject::connect(form.InfoMemo, &QPlainTextEdit::textChanged,
                       [&] { lastMemo = form.InfoMemo->toPlainText(); });
      const int sig = c.sig;
      const std::string what = c.openFirst;
      if (what == "prompt") {
        WhenModal<TCheckPasswordForm>([sig](TCheckPasswordForm*) { ::raise(sig); });
        form.ExitAction->trigger();
      } else if (what == "wrong-box") {
        // The wrong-password box is up (the interceptor stands for it) when
        // the signal comes; the prompt behind it ends too.
        SetMessageBoxInterceptor([&, sig](const TMessageBoxCall& call) {
          boxes_.push_back(call);
          ::raise(sig);
          QApplication::processEvents();
          return QMessageBox::Ok;
        });
        WhenModal<TCheckPasswordForm>([](TCheckPasswordForm* prompt) {
          prompt->edtPswd->setText(QStringLiteral("wrong"));
          prompt->btnOK->click();
        });
        form.OptionAction->trigger();
      } else if (what == "test-window") {
        WhenModal<TMemberTestForm>([sig](TMemberTestForm*) { ::raise(sig); });
        form.TestAction->trigger();
      } else {
        ::raise(sig);
      }
      ASSERT_TRUE(WaitFor([&] { return closed > 0; })) << "the window did not close";
      EXPECT_EQ(closed, 1);
      EXPECT_FALSE(form.isVisible());
      EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
      EXPECT_EQ(device.shown, 0);
    }
    EXPECT_EQ(lastMemo,
              QStringLiteral("会员卡接口监听服务器已经启动...\n接口监听服务器已经停止。"));
    EXPECT_EQ(boxes_.size(), c.boxes);
    SetMessageBoxInterceptor([this](const TMessageBoxCall& call) {
      boxes_.push_back(call);
      return answer_;
    });
  }
}

TEST_F(MainFormTest, OptionsAskForThePasswordThenOpenTheDeviceOptions) {
  TFakeMember device;
  MemberDevice = &device;
  TMainForm form;
  AnswerPrompt(nullptr);
  form.OptionAction->trigger();
  EXPECT_EQ(device.shown, 0);
  AnswerPrompt("qelvan");
  form.OptionAction->trigger();
  EXPECT_EQ(device.shown, 1);

  device.failOptions = true;
  AnswerPrompt("qelvan");
  form.OptionAction->trigger();
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(boxes_[0].Text, QStringLiteral("device failed"));
  EXPECT_EQ(boxes_[0].Icon, QMessageBox::Critical);
}

TEST_F(MainFormTest, WithoutDeviceOptionsAndTestDoNothing) {
  TMainForm form;
  AnswerPrompt("qelvan");
  form.OptionAction->trigger();
  form.TestAction->trigger();  // would block on a modal test window if it opened one
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
  EXPECT_TRUE(boxes_.empty());
}

TEST_F(MainFormTest, MemberTestActionOpensTheTestWindow) {
  TFakeMember device;
  MemberDevice = &device;
  TMainForm form;
  bool opened = false;
  WhenModal<TMemberTestForm>([&](TMemberTestForm* test) {
    opened = true;
    test->close();
  });
  form.TestAction->trigger();
  EXPECT_TRUE(opened);
}

TEST_F(MainFormTest, PoliceTestActionShowsTheGuestText) {
  InterfaceMode = kModePolice;
  TFakePolice device;
  PoliceDevice = &device;
  TMainForm form;

  form.TestAction->trigger();
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(boxes_[0].Text, QString());
  EXPECT_EQ(boxes_[0].Icon, QMessageBox::NoIcon);

  auto guest = std::make_shared<TGuest>();
  guest->RoomNo = "0101";
  guest->Name = Lit("张三");
  guest->GenderID = "1";
  device.guest = guest;
  form.TestAction->trigger();
  ASSERT_EQ(boxes_.size(), 2u);
  EXPECT_EQ(boxes_[1].Text, QString::fromStdString(AnsiToUtf8(BuildGuestText(*guest))));
  EXPECT_EQ(boxes_[1].Caption, QStringLiteral("TarvikVelio公安接口"));

  guest->GenderID = "x";
  form.TestAction->trigger();
  ASSERT_EQ(boxes_.size(), 3u);
  EXPECT_EQ(boxes_[2].Text, QStringLiteral("'x' is not a valid integer value"));
  EXPECT_EQ(boxes_[2].Icon, QMessageBox::Critical);

  AnswerPrompt("qelvan");
  form.OptionAction->trigger();
  EXPECT_EQ(device.shown, 1);
}

}  // namespace

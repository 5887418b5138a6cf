// MainFormUnit: the main window.
//
// The tool bar and the memo sit on the central widget at fixed places (tool bar
// 25 high at the top, memo 857x401 at y 24), the menu bar above it and the
// status bar, 21 high and never written, below. RunMainWindow shows the window
// application-modal and runs a local event loop until the window's close has
// been accepted, standing in for a modal window's own loop.
#include "app/MainFormUnit.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QEventLoop>
#include <QIcon>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QScreen>
#include <QStatusBar>
#include <QToolBar>
#include <QToolButton>

#include "app/AboutFormUnit.h"
#include "app/ChangePasswordFormUnit.h"
#include "app/CheckPasswordFormUnit.h"
#include "app/GuiHooksUnit.h"
#include "app/InterfaceModeUnit.h"
#include "app/MainUnit.h"
#include "app/StartupUnit.h"
#include "doorlock/BaseDoorlockUnit.h"
#include "doorlock/DoorlockTestFormUnit.h"
#include "member/BaseMemberUnit.h"
#include "member/MemberTestFormUnit.h"
#include "police/BasePoliceUnit.h"
#include "police/PoliceMessageHandlerUnit.h"
#include "server/TCPServerUnit.h"

namespace {

constexpr int kClientWidth = 857;
constexpr int kClientHeight = 461;
constexpr int kToolBarHeight = 25;
constexpr int kStatusBarHeight = 21;

// The images of the action list, by index.
QIcon ActionImage(int index) {
  static const char* const kImages[] = {":/velio/option.png", ":/velio/password.png",
                                        ":/velio/about.png", ":/velio/exit.png"};
  return QIcon(QString::fromLatin1(kImages[index]));
}

QToolButton* ButtonOf(QToolBar* bar, QAction* action, const char* name) {
  auto* button = qobject_cast<QToolButton*>(bar->widgetForAction(action));
  button->setObjectName(QString::fromLatin1(name));
  return button;
}

}  // namespace

TMainForm::TMainForm(QWidget* parent)
    : QMainWindow(parent), server_(std::make_unique<TRequestServer>()) {
  BuildControls();
  FormCreate();
}

TMainForm::~TMainForm() {
  StopServer();
}

void TMainForm::BuildControls() {
  EnsureGuiResources();
  setObjectName(QStringLiteral("MainForm"));
  setFont(MainWindowFont());
  setWindowIcon(QIcon(QStringLiteral(":/velio/appicon.png")));

  auto makeAction = [this](const char* name, const QString& caption, int image) {
    auto* action = new QAction(caption, this);
    action->setObjectName(QString::fromLatin1(name));
    if (image >= 0) action->setIcon(ActionImage(image));
    return action;
  };
  OptionAction = makeAction("OptionAction", QStringLiteral("选项(&O)..."), 0);
  TestAction = makeAction("TestAction", QStringLiteral("测试(&T)"), -1);
  ChangePasswordAction =
      makeAction("ChangePasswordAction", QStringLiteral("更改管理员密码(&C)"), 1);
  AboutAction = makeAction("AboutAction", QStringLiteral("关于(&A)..."), 2);
  ExitAction = makeAction("ExitAction", QStringLiteral("退出(&X)"), 3);
  connect(OptionAction, &QAction::triggered, this, &TMainForm::OptionActionExecute);
  connect(TestAction, &QAction::triggered, this, &TMainForm::TestActionExecute);
  connect(ChangePasswordAction, &QAction::triggered, this, &TMainForm::ChangePasswordActionExecute);
  connect(AboutAction, &QAction::triggered, this, &TMainForm::AboutActionExecute);
  connect(ExitAction, &QAction::triggered, this, &TMainForm::ExitActionExecute);

  QMenuBar* menu = menuBar();
  menu->setObjectName(QStringLiteral("MainMenu"));
  FileMenu = menu->addMenu(QStringLiteral("文件(&F)"));
  FileMenu->addAction(ExitAction);
  ToolsMenu = menu->addMenu(QStringLiteral("工具(&T)"));
  ToolsMenu->addAction(OptionAction);
  ToolsMenu->addAction(TestAction);
  ToolsMenu->addSeparator();
  ToolsMenu->addAction(ChangePasswordAction);
  HelpMenu = menu->addMenu(QStringLiteral("帮助(&H)"));
  HelpMenu->addAction(AboutAction);

  auto* client = new QWidget(this);
  client->setObjectName(QStringLiteral("Client"));
  client->setFixedSize(kClientWidth, kClientHeight - kStatusBarHeight);
  setCentralWidget(client);

  ToolBar = new QToolBar(client);
  ToolBar->setObjectName(QStringLiteral("ToolBar"));
  ToolBar->setGeometry(0, 0, kClientWidth, kToolBarHeight);
  ToolBar->setIconSize(QSize(16, 16));
  ToolBar->setMovable(false);
  ToolBar->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
  ToolBar->addAction(OptionAction);
  ToolBar->addAction(ChangePasswordAction);
  ToolBar->addSeparator();
  ToolBar->addAction(AboutAction);
  ToolBar->addSeparator();
  ToolBar->addAction(ExitAction);
  OptionButton = ButtonOf(ToolBar, OptionAction, "OptionButton");
  ChangePasswordButton = ButtonOf(ToolBar, ChangePasswordAction, "ChangePasswordButton");
  HelpButton = ButtonOf(ToolBar, AboutAction, "HelpButton");
  ExitButton = ButtonOf(ToolBar, ExitAction, "ExitButton");

  InfoMemo = new QPlainTextEdit(client);
  InfoMemo->setObjectName(QStringLiteral("InfoMemo"));
  InfoMemo->setGeometry(0, 24, kClientWidth, 401);

  StatusBar = statusBar();
  StatusBar->setObjectName(QStringLiteral("StatusBar"));
  StatusBar->setFixedHeight(kStatusBarHeight);
  StatusBar->setSizeGripEnabled(false);

  adjustSize();
  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    QRect frame(QPoint(), size());
    frame.moveCenter(screen->availableGeometry().center());
    move(frame.topLeft());
  }
}

void TMainForm::FormCreate() {
  const QString title = FromAnsi(TitleForMode(InterfaceMode.load()));
  QGuiApplication::setApplicationName(title);
  QGuiApplication::setApplicationDisplayName(title);
  setWindowTitle(title);
  RunGuarded([this] { StartServer(); });
}

void TMainForm::StartServer() {
  const int32_t mode = InterfaceMode.load();
  server_->SetPort(PortForMode(mode));
  InfoMemo->appendPlainText(FromAnsi(StartLineForMode(mode)));
  server_->Activate();
}

void TMainForm::StopServer() {
  RunGuarded([this] {
    try {
      server_->Deactivate();
    } catch (...) {
      NoteServerStopFailed();
      throw;
    }
    InfoMemo->appendPlainText(FromAnsi(StopLine()));
  });
}

bool TMainForm::FormCloseQuery() {
  return ConfirmAdminPassword(this);
}

void TMainForm::closeEvent(QCloseEvent* event) {
  bool canClose = false;
  RunGuarded([&] { canClose = FormCloseQuery(); });
  if (!canClose) {
    event->ignore();
    return;
  }
  event->accept();
  emit closed();
}

void TMainForm::OptionActionExecute() {
  RunGuarded([this] {
    if (!ConfirmAdminPassword(this)) return;
    switch (InterfaceMode.load()) {
      case kModeDoorlock:
        if (TBaseDoorlock* device = DoorlockDevice.load()) device->ShowOptions();
        break;
      case kModePolice:
        if (TBasePolice* device = PoliceDevice.load()) device->ShowOptions();
        break;
      case kModeMember:
        if (TBaseMember* device = MemberDevice.load()) device->ShowOptions();
        break;
      default:
        break;
    }
  });
}

void TMainForm::TestActionExecute() {
  RunGuarded([this] {
    switch (InterfaceMode.load()) {
      case kModeDoorlock:
        if (DoorlockDevice.load()) ShowDoorlockTest();
        break;
      case kModePolice:
        if (TBasePolice* device = PoliceDevice.load()) {
          // No current guest: an empty guest text.
          std::shared_ptr<const TGuest> guest = device->ReadGuest();
          const AnsiString text = guest ? BuildGuestText(*guest) : AnsiString();
          ShowMessageBox(this, FromAnsi(text), ApplicationTitle(), QMessageBox::NoIcon);
        }
        break;
      case kModeMember:
        if (MemberDevice.load()) ShowMemberTest();
        break;
      default:
        break;
    }
  });
}

void TMainForm::ChangePasswordActionExecute() {
  RunGuarded([this] {
    if (ConfirmAdminPassword(this)) ShowChangePassword(this);
  });
}

void TMainForm::AboutActionExecute() {
  RunGuarded([] { ShowAbout(); });
}

void TMainForm::ExitActionExecute() {
  close();
}

void RunMainWindow(QApplication& application, TDeviceSession& session) {
  (void)application;
  session.Install();
  TMainForm form;
  QEventLoop loop;
  QObject::connect(&form, &TMainForm::closed, &loop, &QEventLoop::quit);
  form.setWindowModality(Qt::ApplicationModal);
  form.show();
  loop.exec();
}

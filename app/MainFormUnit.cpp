// MainFormUnit: the main window.
//
// The menus, the tool bar's buttons and the actions behind them come from the
// main window's rows of the form table, in their order. The tool bar and the
// memo sit on the central widget at their rows' places (tool bar 25 high at
// the top, memo 857x401 at y 24), the menu bar above it and the status bar, 21
// high and never written, below. RunMainWindow shows the window
// application-modal and runs a local event loop until the window's close has
// been accepted, standing in for a modal window's own loop.
#include "app/MainFormUnit.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDialog>
#include <QEventLoop>
#include <QIcon>
#include <QKeySequence>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QScreen>
#include <QSocketNotifier>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <csignal>
#include <cstdio>
#include <exception>

#include "app/AboutFormUnit.h"
#include "app/ChangePasswordFormUnit.h"
#include "app/CheckPasswordFormUnit.h"
#include "app/MainUnit.h"
#include "app/StartupUnit.h"
#include "doorlock/DoorlockTestFormUnit.h"
#include "gui/GuiCommonUnit.h"
#include "member/MemberTestFormUnit.h"
#include "platform/StopSignalUnit.h"
#include "server/TCPServerUnit.h"
#include "services/InterfaceModeUnit.h"

namespace {

QIcon RowImage(const TControlRow& row) {
  return QIcon(QStringLiteral(":/velio/") + QString::fromLatin1(row.Image));
}

QToolButton* ButtonOf(QToolBar* bar, QAction* action, const char* name) {
  auto* button = qobject_cast<QToolButton*>(bar->widgetForAction(action));
  // A tool button shows its action's icon text, which Qt derives from the
  // caption by dropping "&" and "...": show the caption as the menu does.
  action->setIconText(action->text());
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
  const TFormRow& form = FormRow("TMainForm");
  setObjectName(QString::fromLatin1(form.Name + 1));
  setFont(FormFont(form));
  setWindowIcon(QIcon(QStringLiteral(":/velio/appicon.png")));

  // One action per menu item; the menus and the tool bar show them.
  for (const TControlRow& row : form.Controls) {
    if (row.Kind != TControlKind::MenuItem || IsSeparator(row)) continue;
    auto* action = new QAction(TableText(row.Text), this);
    action->setObjectName(QString::fromLatin1(row.Name));
    if (*row.Image) action->setIcon(RowImage(row));
    if (*row.Shortcut) action->setShortcut(QKeySequence(QString::fromLatin1(row.Shortcut)));
  }
  auto actionNamed = [this](const char* name) {
    return findChild<QAction*>(QString::fromLatin1(name), Qt::FindDirectChildrenOnly);
  };
  OptionAction = actionNamed("OptionAction");
  TestAction = actionNamed("TestAction");
  ChangePasswordAction = actionNamed("ChangePasswordAction");
  AboutAction = actionNamed("AboutAction");
  ExitAction = actionNamed("ExitAction");
  connect(OptionAction, &QAction::triggered, this, &TMainForm::OptionActionExecute);
  connect(TestAction, &QAction::triggered, this, &TMainForm::TestActionExecute);
  connect(ChangePasswordAction, &QAction::triggered, this, &TMainForm::ChangePasswordActionExecute);
  connect(AboutAction, &QAction::triggered, this, &TMainForm::AboutActionExecute);
  connect(ExitAction, &QAction::triggered, this, &TMainForm::ExitActionExecute);

  QMenuBar* menu = menuBar();
  menu->setObjectName(QStringLiteral("MainMenu"));
  for (const TControlRow& row : form.Controls) {
    if (row.Kind == TControlKind::Menu) {
      menu->addMenu(TableText(row.Text))->setObjectName(QString::fromLatin1(row.Name));
    } else if (row.Kind == TControlKind::MenuItem) {
      auto* owner = menu->findChild<QMenu*>(QString::fromLatin1(row.Parent));
      if (IsSeparator(row))
        owner->addSeparator();
      else
        owner->addAction(actionNamed(row.Name));
    }
  }
  FileMenu = menu->findChild<QMenu*>(QStringLiteral("FileMenu"));
  ToolsMenu = menu->findChild<QMenu*>(QStringLiteral("ToolsMenu"));
  HelpMenu = menu->findChild<QMenu*>(QStringLiteral("HelpMenu"));

  const TControlRow& statusRow = ControlRow(form, "StatusBar");
  auto* client = new QWidget(this);
  client->setObjectName(QStringLiteral("Client"));
  client->setFixedSize(form.Width, form.Height - statusRow.Height);
  setCentralWidget(client);

  ToolBar = new QToolBar(client);
  PlaceByRow(ToolBar, ControlRow(form, "ToolBar"));
  ToolBar->setIconSize(QSize(16, 16));
  ToolBar->setMovable(false);
  ToolBar->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
  for (const TControlRow& row : form.Controls) {
    if (row.Kind != TControlKind::ToolButton) continue;
    if (IsSeparator(row)) {
      ToolBar->addSeparator();
      continue;
    }
    QAction* action = actionNamed(row.Action);
    ToolBar->addAction(action);
    ButtonOf(ToolBar, action, row.Name);
  }
  OptionButton = ToolBar->findChild<QToolButton*>(QStringLiteral("OptionButton"));
  ChangePasswordButton = ToolBar->findChild<QToolButton*>(QStringLiteral("ChangePasswordButton"));
  HelpButton = ToolBar->findChild<QToolButton*>(QStringLiteral("HelpButton"));
  ExitButton = ToolBar->findChild<QToolButton*>(QStringLiteral("ExitButton"));

  InfoMemo = new TMemo(client);
  PlaceByRow(InfoMemo, ControlRow(form, "InfoMemo"));

  StatusBar = statusBar();
  StatusBar->setObjectName(QString::fromLatin1(statusRow.Name));
  StatusBar->setFixedHeight(statusRow.Height);
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
  SetApplicationTitle(title);
  setWindowTitle(title);
  server_->SetMemo(InfoMemo);
  RunGuarded([this] { StartServer(); });
}

void TMainForm::AddMemoLine(const AnsiString& line) {
  InfoMemo->appendPlainText(FromAnsi(line));
}

void TMainForm::StartServer() {
  StartInterfaceServer(*server_, InterfaceMode.load(),
                       [this](const AnsiString& line) { AddMemoLine(line); });
}

void TMainForm::StopServer() {
  const TMemoLineWriter addLine = [this](const AnsiString& line) { AddMemoLine(line); };
  if (closeRule_.Stopping()) {
    try {
      StopInterfaceServer(*server_, addLine);
    } catch (const std::exception& e) {
      std::fprintf(stderr, "%s\n", AnsiToUtf8(e.what()).c_str());
    }
    return;
  }
  RunGuarded([&] { StopInterfaceServer(*server_, addLine); });
}

bool TMainForm::FormCloseQuery() {
  return ConfirmAdminPassword(this);
}

void TMainForm::closeEvent(QCloseEvent* event) {
  const TMainWindowCloseRule::TAnswer answer = closeRule_.QueryClose([this] {
    bool confirmed = false;
    RunGuarded([&] { confirmed = FormCloseQuery(); });
    return confirmed;
  });
  event->setAccepted(answer != TMainWindowCloseRule::TAnswer::Refuse);
  if (answer == TMainWindowCloseRule::TAnswer::Close) emit closed();
}

void TMainForm::CloseWithoutPrompt() {
  if (!closeRule_.BeginStop()) return;
  // The dialogs' own loops run inside the window's: end them first, the
  // innermost first. One that opens while they unwind ends at the next round.
  QWidget* modal = QApplication::activeModalWidget();
  if (QWidget* popup = QApplication::activePopupWidget()) {
    popup->close();
  } else if (modal && modal != this) {
    if (auto* dialog = qobject_cast<QDialog*>(modal))
      dialog->done(QDialog::Rejected);
    else
      modal->close();
  } else {
    close();
  }
  if (!closeRule_.Closed()) QTimer::singleShot(20, this, &TMainForm::CloseWithoutPrompt);
}

TStopOnSignals::TStopOnSignals(TMainForm* form)
    : signals_(std::make_unique<TStopSignals>(std::initializer_list<int>{
#ifndef _WIN32
          SIGINT, SIGTERM, SIGHUP
#endif
      })) {
  if (signals_->Descriptor() < 0) return;
  notifier_ = std::make_unique<QSocketNotifier>(signals_->Descriptor(), QSocketNotifier::Read);
  QObject::connect(notifier_.get(), &QSocketNotifier::activated, form, [this, form] {
    while (signals_->Take() != 0) {
    }
    form->CloseWithoutPrompt();
  });
}

TStopOnSignals::~TStopOnSignals() = default;

void TMainForm::OptionActionExecute() {
  RunGuarded([this] {
    if (ConfirmAdminPassword(this)) ShowModeDeviceOptions(InterfaceMode.load());
  });
}

void TMainForm::TestActionExecute() {
  RunGuarded([this] {
    switch (TestWindowForMode(InterfaceMode.load())) {
      case TTestWindow::Doorlock:
        ShowDoorlockTest();
        break;
      case TTestWindow::PoliceGuest:
        ShowMessageBox(this, FromAnsi(PoliceGuestText()), ApplicationTitle(), QMessageBox::NoIcon);
        break;
      case TTestWindow::Member:
        ShowMemberTest();
        break;
      case TTestWindow::None:
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
  TStopOnSignals stopOnSignals(&form);
  QEventLoop loop;
  QObject::connect(&form, &TMainForm::closed, &loop, &QEventLoop::quit);
  form.setWindowModality(Qt::ApplicationModal);
  form.show();
  loop.exec();
}

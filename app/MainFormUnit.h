// MainFormUnit: the main window and RunMainWindow.
//
// TMainForm is the operator's one window: a tool bar and menus with the five
// actions (options, test, change password, about, exit), the activity memo
// that shows when the request server started and stopped, and an empty status
// bar. Creating it sets the title by interface mode and starts the request
// server on the mode's port; destroying it stops the server. Every close asks
// for the administrator password first, except the stop the process takes on
// SIGINT, SIGTERM or SIGHUP (TStopOnSignals). Errors of an action end in the
// standard error box and the window goes on. The server serves on its own
// threads; the window never waits for it except in StopServer.
//
// GUI thread only.
#ifndef VELIO_APP_MAINFORMUNIT_H_
#define VELIO_APP_MAINFORMUNIT_H_

#include <QMainWindow>
#include <QPlainTextEdit>
#include <memory>

#include "app/MainWindowUnit.h"

class QAction;
class QApplication;
class QCloseEvent;
class QMenu;
class QSocketNotifier;
class QStatusBar;
class QToolBar;
class QToolButton;
class TDeviceSession;
class TRequestServer;
class TStopSignals;

// The main window's activity memo. The request server hands it to every
// handler it creates (the core knows the type by name only); handlers keep it
// and never write to it, and connection threads never touch it.
class TMemo : public QPlainTextEdit {
 public:
  using QPlainTextEdit::QPlainTextEdit;
};

class TMainForm : public QMainWindow {
  Q_OBJECT

 public:
  // FormCreate: sets the title of InterfaceMode (application name, display
  // name and caption), then StartServer; a start failure is shown in the error
  // box and the window is built all the same.
  // REQUIRES: SystemOptions exists and InterfaceMode is set.
  explicit TMainForm(QWidget* parent = nullptr);
  // FormDestroy: StopServer.
  ~TMainForm() override;

  // The orderly stop the process takes on SIGINT, SIGTERM or SIGHUP: the
  // modal dialogs and message boxes open over the window are closed as if
  // cancelled, then the window closes without the password prompt (its
  // destruction stops the server as usual). A failure to stop the server is
  // then written to stderr instead of an error box, since nobody may be there
  // to answer it.
  void CloseWithoutPrompt();

  QToolBar* ToolBar;
  QToolButton* OptionButton;
  QToolButton* ChangePasswordButton;
  QToolButton* HelpButton;
  QToolButton* ExitButton;
  TMemo* InfoMemo;
  QStatusBar* StatusBar;
  QMenu* FileMenu;
  QMenu* ToolsMenu;
  QMenu* HelpMenu;
  QAction* OptionAction;
  QAction* TestAction;
  QAction* ChangePasswordAction;
  QAction* AboutAction;
  QAction* ExitAction;

  // The request server the window starts and stops.
  TRequestServer& TCPServer() { return *server_; }

 signals:
  // Emitted when a close was accepted (the modal loop ends).
  void closed();

 public slots:
  void OptionActionExecute();
  void TestActionExecute();
  void ChangePasswordActionExecute();
  void AboutActionExecute();
  void ExitActionExecute();

 protected:
  // The close check: closes only when FormCloseQuery answers true.
  void closeEvent(QCloseEvent* event) override;

 private:
  void BuildControls();
  void FormCreate();
  void StartServer();
  void StopServer();
  bool FormCloseQuery();
  void AddMemoLine(const AnsiString& line);

  std::unique_ptr<TRequestServer> server_;
  TMainWindowCloseRule closeRule_;  // stopping once CloseWithoutPrompt was called
};

// While it exists, SIGINT, SIGTERM and SIGHUP make form close without the
// password prompt (TMainForm::CloseWithoutPrompt) instead of ending the
// process where it stands. REQUIRES: form outlives it; one at a time.
class TStopOnSignals {
 public:
  explicit TStopOnSignals(TMainForm* form);
  ~TStopOnSignals();
  TStopOnSignals(const TStopOnSignals&) = delete;
  TStopOnSignals& operator=(const TStopOnSignals&) = delete;

 private:
  std::unique_ptr<TStopSignals> signals_;
  std::unique_ptr<QSocketNotifier> notifier_;
};

// Installs the session's device and mode, creates the main window, shows it
// modally (the program's only event loop) and frees it when it has closed or
// a stop signal has closed it (TStopOnSignals).
void RunMainWindow(QApplication& application, TDeviceSession& session);

#endif  // VELIO_APP_MAINFORMUNIT_H_

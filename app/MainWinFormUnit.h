// MainWinFormUnit: the main window on the Windows API and RunMainWinWindow.
//
// TMainWinForm is the operator's one window, built from the table's TMainForm
// row: the menus with their shortcuts, the tool bar, the activity memo that
// shows when the request server started and stopped, and the status bar.
// Creating it sets the caption by interface mode and starts the request
// server on the mode's port; destroying it stops the server (and writes the
// memo's lines to the form dump, see WinFormUnit). Every close (menu,
// tool button, Alt+F4, the close box) asks for the administrator password
// first. A stop request (console Ctrl+C) closes it without the prompt; the end
// of the Windows session (WM_ENDSESSION) stops the server and then runs the
// program's own shut-down before the handler returns, since the process may
// end right after it. The server serves on its own threads; the window never
// waits for it except at the stop.
//
// GUI thread only.
#ifndef VELIO_APP_MAINWINFORMUNIT_H_
#define VELIO_APP_MAINWINFORMUNIT_H_

#include <functional>
#include <memory>

#include "app/MainWindowUnit.h"
#include "services/UiHooksUnit.h"
#include "win/WinFormUnit.h"

class TDeviceSession;
class TRequestServer;

// The main window's activity memo. The request server hands it to every
// handler it creates (the core knows the type by name only); handlers keep it
// and never write to it.
class TMemo {
 public:
  explicit TMemo(HWND edit) : edit_(edit) {}
  // Appends one line (code page 936).
  void AppendLine(const AnsiString& text);
  HWND Handle() const { return edit_; }

 private:
  HWND edit_;
};

class TMainWinForm : public TWinForm {
 public:
  // Sets the caption of InterfaceMode (and the application's title), then
  // starts the server; a start failure is shown in the error box and the
  // window is built all the same. REQUIRES: SystemOptions exists and
  // InterfaceMode is set.
  TMainWinForm();
  ~TMainWinForm() override;

  // What the end of the Windows session runs after the server stopped: the
  // rest of the program's shut-down (device, modules), ending the process.
  std::function<void()> OnEndSession;

  TRequestServer& TCPServer() { return *server_; }

 protected:
  void Click(std::string_view name) override;
  bool CloseQuery() override;
  bool Message(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;
  void BuildSpecial(const TControlRow& row) override;

 private:
  void StartServer();
  void StopServer();
  // The orderly stop: no prompt from now on, every modal loop ends.
  void BeginStop();
  TMemoLineWriter MemoWriter();
  void BuildToolBar(const TControlRow& row);

  std::unique_ptr<TRequestServer> server_;
  std::unique_ptr<TMemo> memo_;
  HWND toolBar_ = nullptr;
  TMainWindowCloseRule closeRule_;
  bool stopped_ = false;  // StopServer ran
};

// The Windows implementation of the core's user-interface hooks.
class TWinHooks : public TUiHooks {
 public:
  // The calling thread is the GUI thread.
  TWinHooks();
  // Dispatches pending messages when called on the GUI thread; elsewhere nothing.
  void ProcessMessages() override;
  // Opens the member card options dialog modally.
  void ShowMemberOptions() override;
  // A plain message box with the application's title; GUI thread only.
  void ShowMessage(const AnsiString& text) override;

 private:
  DWORD guiThread_;
};

// Installs the session's device and mode, creates the main window and runs it
// modally until it closes or a stop request closes it. finish: what the end of
// the Windows session runs after the server stopped (see OnEndSession).
void RunMainWinWindow(TDeviceSession& session, std::function<void()> finish);

#endif  // VELIO_APP_MAINWINFORMUNIT_H_

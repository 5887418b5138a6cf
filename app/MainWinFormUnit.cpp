// MainWinFormUnit: the main window on the Windows API.
//
// The menus are built from the table's Menu rows (top level, in order) and
// their MenuItem rows (a "-" text is a separator); each item's Shortcut
// ("Ctrl+O", "F1"), where it has one, becomes an accelerator and is shown
// after a tab; the "&" letters are the menus' keys. The tool bar is a
// common-controls tool bar, flat, text beside the picture, with the pictures
// of the Linux program's tool bar; a tool button runs its menu item.
#include "app/MainWinFormUnit.h"

#include <commctrl.h>

#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "app/AboutWinFormUnit.h"
#include "app/ChangePasswordWinFormUnit.h"
#include "app/CheckPasswordWinFormUnit.h"
#include "app/MainUnit.h"
#include "app/MainWindowUnit.h"
#include "app/StartupUnit.h"
#include "doorlock/DoorlockTestWinFormUnit.h"
#include "member/MemberTestWinFormUnit.h"
#include "member/OptionWinFormUnit.h"
#include "server/TCPServerUnit.h"
#include "services/InterfaceModeUnit.h"
#include "win/WinCommonUnit.h"

namespace {

enum class TAction { None, Option, Test, ChangePassword, About, Exit };

// The action of a menu item (a tool button runs its menu item's).
TAction ActionOf(std::string_view name) {
  if (name == "OptionAction") return TAction::Option;
  if (name == "TestAction") return TAction::Test;
  if (name == "ChangePasswordAction") return TAction::ChangePassword;
  if (name == "AboutAction") return TAction::About;
  if (name == "ExitAction") return TAction::Exit;
  return TAction::None;
}

// "Ctrl+Shift+O", "Alt+X", "F1", "Del": an accelerator; false when it does not parse.
bool ParseShortcut(std::string_view text, ACCEL& accel) {
  accel = {};
  accel.fVirt = FVIRTKEY;
  for (;;) {
    const size_t plus = text.find('+');
    if (plus == std::string_view::npos || plus + 1 >= text.size()) break;
    const std::string_view part = text.substr(0, plus);
    if (part == "Ctrl")
      accel.fVirt |= FCONTROL;
    else if (part == "Shift")
      accel.fVirt |= FSHIFT;
    else if (part == "Alt")
      accel.fVirt |= FALT;
    else
      return false;
    text.remove_prefix(plus + 1);
  }
  if (text.size() == 1 &&
      ((text[0] >= 'A' && text[0] <= 'Z') || (text[0] >= '0' && text[0] <= '9'))) {
    accel.key = WORD(text[0]);
    return true;
  }
  if (text.size() >= 2 && text[0] == 'F') {
    const int n = std::atoi(std::string(text.substr(1)).c_str());
    if (n >= 1 && n <= 24) {
      accel.key = WORD(VK_F1 + n - 1);
      return true;
    }
  }
  if (text == "Del") {
    accel.key = VK_DELETE;
    return true;
  }
  return false;
}

}  // namespace

void TMemo::AppendLine(const AnsiString& text) {
  const int end = GetWindowTextLengthW(edit_);
  const std::wstring line = (end > 0 ? L"\r\n" : L"") + FromAnsi(text);
  SendMessageW(edit_, EM_SETSEL, WPARAM(end), LPARAM(end));
  SendMessageW(edit_, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(line.c_str()));
}

TMainWinForm::TMainWinForm()
    : TWinForm(FormRow("TMainForm"), nullptr, /*mainWindow=*/true),
      server_(std::make_unique<TRequestServer>()) {
  Create();
  // The accelerators of every menu item with a shortcut.
  std::vector<ACCEL> accels;
  for (const TControlRow& r : Row().Controls) {
    ACCEL accel;
    if (r.Kind == TControlKind::MenuItem && *r.Shortcut && ParseShortcut(r.Shortcut, accel)) {
      accel.cmd = WORD(IdOf(r));
      accels.push_back(accel);
    }
  }
  if (!accels.empty()) accelerators_ = CreateAcceleratorTableW(accels.data(), int(accels.size()));

  for (const TControlRow& r : Row().Controls)
    if (r.Kind == TControlKind::Memo) memo_ = std::make_unique<TMemo>(Control(r.Name));
  const std::wstring title = FromAnsi(TitleForMode(InterfaceMode.load()));
  SetApplicationTitle(title);
  SetCaption(title);
  server_->SetMemo(memo_.get());
  RunGuarded([this] { StartServer(); });
}

TMainWinForm::~TMainWinForm() {
  StopServer();
  Dump("closed");  // the memo with the stop line
}

void TMainWinForm::BuildSpecial(const TControlRow& row) {
  HINSTANCE instance = GetModuleHandleW(nullptr);
  switch (row.Kind) {
    case TControlKind::ToolBar:
      BuildToolBar(row);
      break;
    case TControlKind::StatusBar: {
      HWND bar =
          CreateWindowExW(0, STATUSCLASSNAMEW, L"", WS_CHILD | WS_VISIBLE, 0, 0, 0, 0, Handle(),
                          reinterpret_cast<HMENU>(INT_PTR(IdOf(row))), instance, nullptr);
      SendMessageW(bar, WM_SETFONT, reinterpret_cast<WPARAM>(MainWindowFont()), FALSE);
      if (row.Height > 0) SendMessageW(bar, SB_SETMINHEIGHT, WPARAM(row.Height), 0);
      SendMessageW(bar, WM_SIZE, 0, 0);
      break;
    }
    case TControlKind::Menu: {
      if (!menu_) menu_ = CreateMenu();
      HMENU popup = CreatePopupMenu();
      for (const TControlRow& item : Row().Controls) {
        if (item.Kind != TControlKind::MenuItem || std::string_view(item.Parent) != row.Name)
          continue;
        if (IsSeparator(item)) {
          AppendMenuW(popup, MF_SEPARATOR, 0, nullptr);
          continue;
        }
        std::wstring text = Utf8ToWide(item.Text);
        if (*item.Shortcut) text += L"\t" + Utf8ToWide(item.Shortcut);
        AppendMenuW(popup, MF_STRING, UINT_PTR(IdOf(item)), text.c_str());
      }
      AppendMenuW(menu_, MF_POPUP, reinterpret_cast<UINT_PTR>(popup), Utf8ToWide(row.Text).c_str());
      break;
    }
    default:
      break;  // menu items and tool buttons belong to their menu or tool bar
  }
}

void TMainWinForm::BuildToolBar(const TControlRow& row) {
  HINSTANCE instance = GetModuleHandleW(nullptr);
  toolBar_ = CreateWindowExW(0, TOOLBARCLASSNAMEW, L"",
                             WS_CHILD | WS_VISIBLE | TBSTYLE_FLAT | TBSTYLE_LIST | CCS_NORESIZE |
                                 CCS_NODIVIDER | CCS_NOPARENTALIGN,
                             row.Left, row.Top, row.Width, row.Height, Handle(),
                             reinterpret_cast<HMENU>(INT_PTR(IdOf(row))), instance, nullptr);
  SendMessageW(toolBar_, WM_SETFONT, reinterpret_cast<WPARAM>(MainWindowFont()), FALSE);
  SendMessageW(toolBar_, TB_BUTTONSTRUCTSIZE, sizeof(TBBUTTON), 0);
  HIMAGELIST images = ImageList_Create(16, 16, ILC_COLOR32 | ILC_MASK, 4, 0);
  SendMessageW(toolBar_, TB_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(images));
  std::vector<TBBUTTON> buttons;
  std::vector<std::wstring> texts;
  texts.reserve(Row().Controls.size());
  for (const TControlRow& b : Row().Controls) {
    if (b.Kind != TControlKind::ToolButton || std::string_view(b.Parent) != row.Name) continue;
    TBBUTTON button = {};
    if (IsSeparator(b)) {
      button.fsStyle = BTNS_SEP;
      buttons.push_back(button);
      continue;
    }
    int image = I_IMAGENONE;
    bool isIcon = false;
    const std::wstring picture = PictureResource(b.Image, isIcon);
    if (*b.Image && isIcon) {
      HICON icon = static_cast<HICON>(
          LoadImageW(instance, picture.c_str(), IMAGE_ICON, 16, 16, LR_DEFAULTCOLOR));
      image = ImageList_AddIcon(images, icon);
      DestroyIcon(icon);
    }
    texts.push_back(Utf8ToWide(b.Text));
    button.iBitmap = image;
    button.idCommand = IdOf(b);
    button.fsState = TBSTATE_ENABLED;
    button.fsStyle = BTNS_BUTTON | BTNS_AUTOSIZE;
    button.iString = reinterpret_cast<INT_PTR>(texts.back().c_str());
    buttons.push_back(button);
  }
  SendMessageW(toolBar_, TB_ADDBUTTONSW, WPARAM(buttons.size()),
               reinterpret_cast<LPARAM>(buttons.data()));
}

void TMainWinForm::StartServer() {
  StartInterfaceServer(*server_, InterfaceMode.load(), MemoWriter());
}

void TMainWinForm::StopServer() {
  if (stopped_) return;
  stopped_ = true;
  if (closeRule_.Stopping()) {
    // Nobody may be there to answer an error box.
    try {
      StopInterfaceServer(*server_, MemoWriter());
    } catch (const std::exception& e) {
      std::fprintf(stderr, "%s\n", AnsiToUtf8(e.what()).c_str());
    }
    return;
  }
  RunGuarded([this] { StopInterfaceServer(*server_, MemoWriter()); });
}

TMemoLineWriter TMainWinForm::MemoWriter() {
  return [this](const AnsiString& line) {
    if (memo_) memo_->AppendLine(line);
  };
}

bool TMainWinForm::CloseQuery() {
  const TMainWindowCloseRule::TAnswer answer = closeRule_.QueryClose([this] {
    bool confirmed = false;
    RunGuarded([&] { confirmed = ConfirmAdminPasswordWin(Handle()); });
    return confirmed;
  });
  return answer != TMainWindowCloseRule::TAnswer::Refuse;
}

void TMainWinForm::BeginStop() {
  closeRule_.BeginStop();
  RequestStop();
}

bool TMainWinForm::Message(UINT message, WPARAM wParam, LPARAM, LRESULT& result) {
  switch (message) {
    case kStopMessage:
      // Console Ctrl+C: every dialog's and message box's loop ends, then
      // this window's, without the prompt.
      closeRule_.BeginStop();
      CloseMessageBoxes();
      EndModal(IDCANCEL);
      result = 0;
      return true;
    case WM_QUERYENDSESSION:
      result = TRUE;
      return true;
    case WM_ENDSESSION:
      if (wParam) {
        BeginStop();
        StopServer();
        Dump("closed");  // the memo with the stop line
        if (OnEndSession) OnEndSession();
      }
      result = 0;
      return true;
    default:
      return false;
  }
}

void TMainWinForm::Click(std::string_view name) {
  switch (ActionOf(name)) {
    case TAction::Option:
      RunGuarded([this] {
        if (ConfirmAdminPasswordWin(Handle())) ShowModeDeviceOptions(InterfaceMode.load());
      });
      break;
    case TAction::Test:
      RunGuarded([this] {
        switch (TestWindowForMode(InterfaceMode.load())) {
          case TTestWindow::Doorlock:
            ShowDoorlockTestWin(Handle());
            break;
          case TTestWindow::PoliceGuest:
            ShowMessageBox(Handle(), FromAnsi(PoliceGuestText()), ApplicationTitle());
            break;
          case TTestWindow::Member:
            ShowMemberTestWin(Handle());
            break;
          case TTestWindow::None:
            break;
        }
      });
      break;
    case TAction::ChangePassword:
      RunGuarded([this] {
        if (ConfirmAdminPasswordWin(Handle())) ShowChangePasswordWin(Handle());
      });
      break;
    case TAction::About:
      RunGuarded([this] { ShowAboutWin(Handle()); });
      break;
    case TAction::Exit:
      PostMessageW(Handle(), WM_CLOSE, 0, 0);
      break;
    default:
      break;
  }
}

TWinHooks::TWinHooks() : guiThread_(GetCurrentThreadId()) {}

void TWinHooks::ProcessMessages() {
  if (GetCurrentThreadId() != guiThread_) return;
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      PostQuitMessage(int(msg.wParam));
      break;
    }
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

void TWinHooks::ShowMemberOptions() {
  ShowMemberOptionsWin(GetActiveWindow());
}

void TWinHooks::ShowMessage(const AnsiString& text) {
  if (GetCurrentThreadId() != guiThread_) return;
  ShowMessageBox(GetActiveWindow(), FromAnsi(text), ApplicationTitle());
}

void RunMainWinWindow(TDeviceSession& session, std::function<void()> finish) {
  session.Install();
  TMainWinForm form;
  form.OnEndSession = std::move(finish);
  SetStopWindow(form.Handle());
  form.ShowModal();
  SetStopWindow(nullptr);
}

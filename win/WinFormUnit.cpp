// WinFormUnit: building a window from its table row and running it modally.
//
// Every form is a window of one registered class whose procedure finds its
// TWinForm through GWLP_USERDATA. The loop passes keys through
// IsDialogMessageW (Tab, Enter, Esc, mnemonics), which asks the window for its
// default button with DM_GETDEFID and sends IDOK or IDCANCEL for Enter and Esc.
#include "win/WinFormUnit.h"

#include <commctrl.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <stdexcept>

#include "win/WinCommonUnit.h"

namespace {

constexpr wchar_t kClassName[] = L"VelioForm";
constexpr int kFirstId = 100;
constexpr UINT_PTR kPictureTimer = 1;

// Saves the screen's picture of window's client area and menu bar (the frame
// is the window manager's) as a 24-bit bitmap file.
void SavePicture(HWND window, const std::string& path) {
  RECT rect;
  GetClientRect(window, &rect);
  MapWindowPoints(window, nullptr, reinterpret_cast<POINT*>(&rect), 2);
  MENUBARINFO bar = {};
  bar.cbSize = sizeof bar;
  if (GetMenu(window) && GetMenuBarInfo(window, OBJID_MENU, 0, &bar)) rect.top = bar.rcBar.top;
  const int w = rect.right - rect.left, h = rect.bottom - rect.top;
  if (w <= 0 || h <= 0) return;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = w;
  info.bmiHeader.biHeight = h;  // bottom-up, as the file keeps it
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 24;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, w, h, screen, rect.left, rect.top, SRCCOPY | CAPTUREBLT);
  GdiFlush();
  const DWORD stride = DWORD((w * 3 + 3) & ~3), size = stride * DWORD(h);
  BITMAPFILEHEADER header = {};
  header.bfType = 0x4D42;  // "BM"
  header.bfOffBits = sizeof header + sizeof info.bmiHeader;
  header.bfSize = header.bfOffBits + size;
  info.bmiHeader.biSizeImage = size;
  if (FILE* file = std::fopen(path.c_str(), "wb")) {
    std::fwrite(&header, sizeof header, 1, file);
    std::fwrite(&info.bmiHeader, sizeof info.bmiHeader, 1, file);
    std::fwrite(bits, 1, size, file);
    std::fclose(file);
  }
  SelectObject(memory, old);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
}

void RegisterFormClass() {
  static bool registered = false;
  if (registered) return;
  WNDCLASSEXW wc = {};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = DefWindowProcW;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.hIcon = LoadIconW(wc.hInstance, L"APPICON");
  wc.hIconSm =
      static_cast<HICON>(LoadImageW(wc.hInstance, L"APPICON", IMAGE_ICON, 16, 16, LR_DEFAULTCOLOR));
  wc.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
  wc.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
  wc.lpszClassName = kClassName;
  RegisterClassExW(&wc);
  registered = true;
}

SIZE TextSize(HWND control, HFONT font, const std::wstring& text) {
  HDC dc = GetDC(control);
  HGDIOBJ old = SelectObject(dc, font);
  SIZE size = {};
  GetTextExtentPoint32W(dc, text.c_str(), int(text.size()), &size);
  SelectObject(dc, old);
  ReleaseDC(control, dc);
  return size;
}

// Text without the "&" of a mnemonic, as a static control shows it.
std::wstring Shown(std::wstring text) {
  for (size_t i = 0; i < text.size(); ++i)
    if (text[i] == L'&') text.erase(i, 1);
  return text;
}

// A memo's lines as one dump field: each line break written as "\\n".
std::string OneLine(std::string text) {
  for (size_t at = 0; (at = text.find("\r\n", at)) != std::string::npos;)
    text.replace(at, 2, "\\n");
  return text;
}

}  // namespace

std::wstring WindowText(HWND window) {
  std::wstring text(size_t(GetWindowTextLengthW(window)) + 1, L'\0');
  text.resize(size_t(GetWindowTextW(window, text.data(), int(text.size()))));
  return text;
}

TWinForm::TWinForm(const TFormRow& row, HWND owner, bool mainWindow)
    : row_(row),
      owner_(owner),
      font_(row.Font == TFormFont::Window ? MainWindowFont() : DialogFont()),
      mainWindow_(mainWindow) {}

void TWinForm::Create() {
  RegisterFormClass();
  RECT frame = {0, 0, row_.Width, row_.Height};
  const DWORD style =
      WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN | (mainWindow_ ? WS_MINIMIZEBOX : 0);
  const DWORD exStyle = WS_EX_CONTROLPARENT | (mainWindow_ ? 0 : WS_EX_DLGMODALFRAME);
  AdjustWindowRectEx(&frame, style, mainWindow_, exStyle);
  const int w = frame.right - frame.left, h = frame.bottom - frame.top;
  const int x = (GetSystemMetrics(SM_CXSCREEN) - w) / 2,
            y = (GetSystemMetrics(SM_CYSCREEN) - h) / 2;
  handle_ = CreateWindowExW(exStyle, kClassName, Utf8ToWide(row_.Caption).c_str(), style, x, y, w,
                            h, owner_, nullptr, GetModuleHandleW(nullptr), nullptr);
  if (!handle_) throw std::runtime_error("CreateWindowEx failed");
  SetWindowLongPtrW(handle_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  SetWindowLongPtrW(handle_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&TWinForm::Procedure));
  SendMessageW(handle_, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
  Build();
  if (menu_) SetMenu(handle_, menu_);
}

TWinForm::~TWinForm() {
  if (handle_) {
    SetWindowLongPtrW(handle_, GWLP_USERDATA, 0);
    DestroyWindow(handle_);
    if (accelerators_) DestroyAcceleratorTable(accelerators_);
  }
}

void TWinForm::Build() {
  const auto rows = row_.Controls;
  controls_.assign(rows.size(), nullptr);
  // Creation order is tab order: the tab stops by TabOrder, then the rest.
  std::vector<size_t> order(rows.size());
  for (size_t i = 0; i < rows.size(); ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
    const int ta = rows[a].TabOrder < 0 ? 1 << 20 : rows[a].TabOrder;
    const int tb = rows[b].TabOrder < 0 ? 1 << 20 : rows[b].TabOrder;
    return ta < tb;
  });
  HINSTANCE instance = GetModuleHandleW(nullptr);
  for (size_t index : order) {
    const TControlRow& r = rows[index];
    const std::wstring text = Utf8ToWide(r.Text);
    const wchar_t* cls = nullptr;
    DWORD style = WS_CHILD | WS_VISIBLE;
    DWORD exStyle = 0;
    int height = r.Height;
    if (r.TabOrder >= 0) style |= WS_TABSTOP;
    switch (r.Kind) {
      case TControlKind::Button:
        cls = L"BUTTON";
        style |= r.Default ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON;
        break;
      case TControlKind::CheckBox:
        cls = L"BUTTON";
        style |= BS_AUTOCHECKBOX;
        break;
      case TControlKind::Label:
        cls = L"STATIC";
        style |= SS_LEFT;
        break;
      case TControlKind::Edit:
      case TControlKind::PasswordEdit:
        cls = L"EDIT";
        exStyle = WS_EX_CLIENTEDGE;
        style |= ES_AUTOHSCROLL | (r.Kind == TControlKind::PasswordEdit ? ES_PASSWORD : 0);
        break;
      case TControlKind::ComboBox:
        cls = L"COMBOBOX";
        style |= WS_VSCROLL | CBS_AUTOHSCROLL | (r.ListOnly ? CBS_DROPDOWNLIST : CBS_DROPDOWN);
        height = r.Height + 240;  // the drop-down list's room
        break;
      case TControlKind::Memo:
        cls = L"EDIT";
        exStyle = WS_EX_CLIENTEDGE;
        style |= ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL | WS_VSCROLL;
        break;
      case TControlKind::Image:
        cls = L"STATIC";
        style |= SS_ICON | SS_REALSIZEIMAGE;
        break;
      default:
        BuildSpecial(r);
        continue;
    }
    HWND child =
        CreateWindowExW(exStyle, cls, text.c_str(), style, r.Left, r.Top, r.Width, height, handle_,
                        reinterpret_cast<HMENU>(INT_PTR(IdOf(r))), instance, nullptr);
    SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
    if (r.Kind == TControlKind::PasswordEdit) SendMessageW(child, EM_SETPASSWORDCHAR, L'*', 0);
    if (r.Kind == TControlKind::ComboBox) {
      for (std::string_view item : ComboItems(r)) {
        const std::wstring entry = Utf8ToWide(item);
        SendMessageW(child, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(entry.c_str()));
      }
      if (!text.empty()) {
        SendMessageW(child, CB_SELECTSTRING, WPARAM(-1), reinterpret_cast<LPARAM>(text.c_str()));
        SetWindowTextW(child, text.c_str());
      }
    }
    if (r.Kind == TControlKind::Image && *r.Image) {
      bool icon = true;
      const std::wstring name = PictureResource(r.Image, icon);
      if (!icon) {
        SetWindowLongPtrW(child, GWL_STYLE,
                          (GetWindowLongPtrW(child, GWL_STYLE) & ~LONG_PTR(SS_ICON)) | SS_BITMAP);
      }
      HANDLE image = LoadImageW(instance, name.c_str(), icon ? IMAGE_ICON : IMAGE_BITMAP, 0, 0,
                                LR_DEFAULTCOLOR);
      SendMessageW(child, STM_SETIMAGE, icon ? IMAGE_ICON : IMAGE_BITMAP,
                   reinterpret_cast<LPARAM>(image));
    }
    if (r.Disabled) EnableWindow(child, FALSE);
    if (r.Kind == TControlKind::Label && (r.Width == 0 || r.Height == 0)) {
      const SIZE size = TextSize(child, font_, Shown(text));
      SetWindowPos(child, nullptr, 0, 0, size.cx, size.cy, SWP_NOMOVE | SWP_NOZORDER);
    }
    controls_[index] = child;
  }
}

void TWinForm::BuildSpecial(const TControlRow&) {}

int TWinForm::IdOf(const TControlRow& row) const {
  return kFirstId + int(&row - row_.Controls.data());
}

const TControlRow* TWinForm::RowOfId(int id) const {
  const int index = id - kFirstId;
  if (index < 0 || size_t(index) >= row_.Controls.size()) return nullptr;
  return &row_.Controls[size_t(index)];
}

HWND TWinForm::Control(std::string_view name) const {
  const TControlRow& row = ControlRow(row_, name);
  HWND child = controls_[size_t(&row - row_.Controls.data())];
  if (!child) throw std::runtime_error("control without a window: " + std::string(name));
  return child;
}

std::wstring TWinForm::Text(std::string_view name) const {
  return WindowText(Control(name));
}

void TWinForm::SetText(std::string_view name, const std::wstring& text) {
  HWND child = Control(name);
  SetWindowTextW(child, text.c_str());
  const TControlRow& r = ControlRow(row_, name);
  if (r.Kind == TControlKind::Label && (r.Width == 0 || r.Height == 0)) {
    const SIZE size = TextSize(child, font_, Shown(text));
    SetWindowPos(child, nullptr, 0, 0, size.cx, size.cy, SWP_NOMOVE | SWP_NOZORDER);
  }
}

bool TWinForm::Checked(std::string_view name) const {
  return SendMessageW(Control(name), BM_GETCHECK, 0, 0) == BST_CHECKED;
}

int TWinForm::ItemIndex(std::string_view name) const {
  return int(SendMessageW(Control(name), CB_GETCURSEL, 0, 0));
}

void TWinForm::SetItemIndex(std::string_view name, int index) {
  SendMessageW(Control(name), CB_SETCURSEL, WPARAM(index), 0);
}

void TWinForm::SetCaption(const std::wstring& caption) {
  SetWindowTextW(handle_, caption.c_str());
}

void TWinForm::Focus(std::string_view name) {
  if (running_)
    SetFocus(Control(name));
  else
    initialFocus_ = Control(name);
}

int TWinForm::ShowModal() {
  const bool ownerWasEnabled = owner_ && IsWindowEnabled(owner_);
  if (ownerWasEnabled) EnableWindow(owner_, FALSE);
  running_ = true;
  result_ = IDCANCEL;
  ShowWindow(handle_, SW_SHOW);
  SetForegroundWindow(handle_);
  Dump("shown");
  if (const char* dir = std::getenv("VELIO_SCREENSHOT_DIR"); dir && *dir)
    SetTimer(handle_, kPictureTimer, 500, nullptr);
  HWND focus = initialFocus_ ? initialFocus_ : GetNextDlgTabItem(handle_, nullptr, FALSE);
  if (focus) SetFocus(focus);
  MSG msg;
  bool quit = false;
  while (running_ && !StopRequested()) {
    const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
    if (got <= 0) {
      quit = true;
      break;
    }
    if (accelerators_ && TranslateAcceleratorW(handle_, accelerators_, &msg)) continue;
    if (!IsDialogMessageW(handle_, &msg)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
  }
  running_ = false;
  Dump("closed");
  if (ownerWasEnabled) EnableWindow(owner_, TRUE);
  ShowWindow(handle_, SW_HIDE);
  if (owner_) SetActiveWindow(owner_);
  if (quit) PostQuitMessage(int(msg.wParam));
  return StopRequested() ? IDCANCEL : result_;
}

void TWinForm::EndModal(int result) {
  result_ = result;
  running_ = false;
  PostMessageW(handle_, WM_NULL, 0, 0);
}

void TWinForm::Click(std::string_view) {}

bool TWinForm::CloseQuery() {
  return true;
}

bool TWinForm::Message(UINT, WPARAM, LPARAM, LRESULT&) {
  return false;
}

void TWinForm::Command(int id) {
  const TControlRow* row = nullptr;
  if (id == IDOK || id == IDCANCEL) {
    for (const TControlRow& r : row_.Controls)
      if (r.Kind == TControlKind::Button && (id == IDOK ? r.Default : r.Cancel)) row = &r;
    if (!row) {
      if (id == IDCANCEL && CloseQuery()) EndModal(IDCANCEL);
      return;
    }
  } else {
    row = RowOfId(id);
  }
  if (!row) return;
  Click(row->Kind == TControlKind::ToolButton && *row->Action ? row->Action : row->Name);
}

LRESULT CALLBACK TWinForm::Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* form = reinterpret_cast<TWinForm*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (!form) return DefWindowProcW(window, message, wParam, lParam);
  return form->Handle(message, wParam, lParam);
}

LRESULT TWinForm::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
  LRESULT result = 0;
  if (Message(message, wParam, lParam, result)) return result;
  switch (message) {
    case DM_GETDEFID:
      for (const TControlRow& r : row_.Controls)
        if (r.Kind == TControlKind::Button && r.Default) return MAKELONG(IdOf(r), DC_HASDEFID);
      return 0;
    case WM_COMMAND:
      // A menu item or accelerator (no control), or a button's click.
      if (lParam == 0 || HIWORD(wParam) == BN_CLICKED) Command(LOWORD(wParam));
      return 0;
    case WM_TIMER:
      if (wParam != kPictureTimer) return DefWindowProcW(handle_, message, wParam, lParam);
      KillTimer(handle_, kPictureTimer);
      RedrawWindow(handle_, nullptr, nullptr,
                   RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN | RDW_FRAME);
      if (const char* dir = std::getenv("VELIO_SCREENSHOT_DIR"))
        SavePicture(handle_, std::string(dir) + "\\windows-" + row_.Name + ".bmp");
      return 0;
    case WM_CLOSE:
      if (!running_) return 0;
      RunGuarded([this] {
        if (CloseQuery()) EndModal(IDCANCEL);
      });
      return 0;
    default:
      return DefWindowProcW(handle_, message, wParam, lParam);
  }
}

void TWinForm::Dump(const char* when) const {
  if (!std::getenv("VELIO_FORM_DUMP")) return;
  RECT client;
  GetClientRect(handle_, &client);
  WriteFormDump(std::string(row_.Name) + "\t\t" + WideToUtf8(WindowText(handle_)) + "\t" +
                std::to_string(client.right) + "," + std::to_string(client.bottom) + "\t" + when);
  for (size_t i = 0; i < controls_.size(); ++i) {
    if (!controls_[i]) continue;
    RECT rect;
    GetWindowRect(controls_[i], &rect);
    MapWindowPoints(nullptr, handle_, reinterpret_cast<POINT*>(&rect), 2);
    std::string text = OneLine(WideToUtf8(WindowText(controls_[i])));
    if (row_.Controls[i].Kind == TControlKind::Image) {
      // A picture control shows its picture's file name when it has one.
      const bool icon = (GetWindowLongPtrW(controls_[i], GWL_STYLE) & SS_TYPEMASK) == SS_ICON;
      if (SendMessageW(controls_[i], STM_GETIMAGE, icon ? IMAGE_ICON : IMAGE_BITMAP, 0))
        text = row_.Controls[i].Image;
    }
    WriteFormDump(std::string(row_.Name) + "\t" + row_.Controls[i].Name + "\t" + text + "\t" +
                  std::to_string(rect.left) + "," + std::to_string(rect.top));
  }
  // Menus, their items (without the shortcut after the tab) and tool buttons,
  // which have no window of their own: place "-".
  int menuPosition = 0;
  for (const TControlRow& r : row_.Controls) {
    wchar_t text[256] = {};
    if (r.Kind == TControlKind::Menu && menu_) {
      GetMenuStringW(menu_, UINT(menuPosition++), text, 256, MF_BYPOSITION);
    } else if (r.Kind == TControlKind::MenuItem && menu_ && !IsSeparator(r)) {
      GetMenuStringW(menu_, UINT(IdOf(r)), text, 256, MF_BYCOMMAND);
      if (wchar_t* tab = wcschr(text, L'\t')) *tab = L'\0';
    } else if (r.Kind == TControlKind::ToolButton && !IsSeparator(r)) {
      HWND bar = GetDlgItem(handle_, IdOf(ControlRow(row_, r.Parent)));
      if (SendMessageW(bar, TB_GETBUTTONTEXTW, WPARAM(IdOf(r)), 0) < 256)
        SendMessageW(bar, TB_GETBUTTONTEXTW, WPARAM(IdOf(r)), reinterpret_cast<LPARAM>(text));
    } else {
      continue;
    }
    WriteFormDump(std::string(row_.Name) + "\t" + r.Name + "\t" + WideToUtf8(text) + "\t-");
  }
}

std::wstring PictureResource(std::string_view file, bool& icon) {
  const size_t dot = file.rfind('.');
  const std::string_view stem = file.substr(0, dot);
  const std::string_view extension = dot == std::string_view::npos ? "" : file.substr(dot + 1);
  icon = extension == "png";
  std::wstring name;
  for (char c : stem) name += wchar_t(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
  if (!icon)
    for (char c : extension) name += wchar_t(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
  return name;
}

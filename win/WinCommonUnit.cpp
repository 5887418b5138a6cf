// WinCommonUnit: conversions, fonts, message boxes, the error guard and the
// stop request. A stop sets a flag and posts kStopMessage to the main window,
// so whichever loop runs (a form's or a message box's) wakes and delivers it;
// the main window then closes the message boxes, whose loops are the system's,
// by posting IDCANCEL to every dialog-class window of the GUI thread, and each
// form's loop ends when it sees the flag.
#include "win/WinCommonUnit.h"

#include <atomic>
#include <cstdio>
#include <exception>

#include "forms/FormTableUnit.h"

namespace {

std::wstring gTitle = L"velio-interface";
std::atomic<bool> gStop{false};
std::atomic<HWND> gStopWindow{nullptr};

HFONT MakeFont(int height, const wchar_t* face) {
  return CreateFontW(height, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                     OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                     DEFAULT_PITCH | FF_DONTCARE, face);
}

BOOL CALLBACK CloseIfMessageBox(HWND window, LPARAM) {
  wchar_t name[16] = {};
  GetClassNameW(window, name, 16);
  if (std::wstring_view(name) == L"#32770") PostMessageW(window, WM_COMMAND, IDCANCEL, 0);
  return TRUE;
}

}  // namespace

std::wstring Utf8ToWide(std::string_view text) {
  if (text.empty()) return {};
  const int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0);
  std::wstring out(size_t(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), out.data(), n);
  return out;
}

std::string WideToUtf8(std::wstring_view text) {
  if (text.empty()) return {};
  const int n =
      WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0, nullptr, nullptr);
  std::string out(size_t(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), out.data(), n, nullptr, nullptr);
  return out;
}

std::wstring FromAnsi(const AnsiString& text) {
  return Utf8ToWide(AnsiToUtf8(text));
}

AnsiString ToAnsi(const std::wstring& text) {
  return Utf8ToAnsi(WideToUtf8(text));
}

HFONT MainWindowFont() {
  static const HFONT font = MakeFont(-11, L"MS Sans Serif");
  return font;
}

HFONT DialogFont() {
  static const HFONT font = MakeFont(-12, L"\u5B8B\u4F53");  // 宋体
  return font;
}

std::wstring ApplicationTitle() {
  return gTitle;
}

void SetApplicationTitle(const std::wstring& title) {
  gTitle = title;
}

void WriteFormDump(const std::string& line) {
  const char* path = std::getenv("VELIO_FORM_DUMP");
  if (!path || !*path) return;
  if (FILE* file = std::fopen(path, "ab")) {
    std::fprintf(file, "%s\n", line.c_str());
    std::fclose(file);
  }
}

int ShowMessageBox(HWND owner, const std::wstring& text, const std::wstring& caption, UINT flags) {
  if (StopRequested()) return IDCANCEL;
  WriteFormDump("MessageBox\t" + WideToUtf8(caption) + "\t" + WideToUtf8(text));
  return MessageBoxW(owner, text.c_str(), caption.c_str(), flags);
}

int ShowMessageRow(HWND owner, std::string_view name) {
  const TMessageRow& row = MessageRow(name);
  const UINT icon = row.Icon == TMessageIcon::Critical      ? MB_ICONERROR
                    : row.Icon == TMessageIcon::Information ? MB_ICONINFORMATION
                                                            : 0;
  return ShowMessageBox(owner, Utf8ToWide(row.Text),
                        *row.Caption ? Utf8ToWide(row.Caption) : ApplicationTitle(), MB_OK | icon);
}

void ShowErrorBox(const std::wstring& text) {
  ShowMessageBox(GetActiveWindow(), text, ApplicationTitle(), MB_OK | MB_ICONERROR);
}

bool RunGuarded(const std::function<void()>& action) {
  try {
    action();
    return true;
  } catch (const std::exception& e) {
    ShowErrorBox(FromAnsi(e.what()));
  } catch (...) {
    ShowErrorBox(L"Unknown error");
  }
  return false;
}

void RequestStop() {
  gStop = true;
  if (HWND window = gStopWindow.load()) PostMessageW(window, kStopMessage, 0, 0);
}

bool StopRequested() {
  return gStop.load();
}

void SetStopWindow(HWND window) {
  gStopWindow = window;
}

void CloseMessageBoxes() {
  EnumThreadWindows(GetCurrentThreadId(), CloseIfMessageBox, 0);
}

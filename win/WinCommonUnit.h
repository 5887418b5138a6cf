// WinCommonUnit: what every Windows window shares.
//
// The text conversions between the system's text (UTF-8 in the form table,
// code page 936 in AnsiString) and the wide text of the Windows API, the two
// fonts, the one function through which every message box is shown, the
// application's title, the error guard of every button and menu action, and the
// stop request that ends every open modal loop (console Ctrl+C, log-off).
//
// The forms use this unit; it uses no form. GUI thread only, except
// RequestStop, which any thread may call.
#ifndef VELIO_WIN_WINCOMMONUNIT_H_
#define VELIO_WIN_WINCOMMONUNIT_H_

#include <windows.h>

#include <cstdlib>
#include <functional>
#include <string>
#include <string_view>

#include "platform/CodePageUnit.h"

// UTF-8 <-> UTF-16 (invalid sequences become U+FFFD).
std::wstring Utf8ToWide(std::string_view text);
std::string WideToUtf8(std::wstring_view text);
// Code page 936 text <-> UTF-16 (characters code page 936 cannot hold become '?').
std::wstring FromAnsi(const AnsiString& text);
AnsiString ToAnsi(const std::wstring& text);

// The main window's and the test windows' font ("MS Sans Serif" 8 pt) and the
// dialogs' font ("宋体" at 12 pixels). Created once, never freed.
HFONT MainWindowFont();
HFONT DialogFont();

// The application's title: the caption of the error box and of plain message
// boxes. The main window sets it by interface mode.
std::wstring ApplicationTitle();
void SetApplicationTitle(const std::wstring& title);

// Appends one line (UTF-8) to the file VELIO_FORM_DUMP names, if it is set:
// the tests' view of what the windows show.
void WriteFormDump(const std::string& line);

// Shows a modal message box (MessageBoxW flags) owned by owner and answers the
// button pressed; writes "MessageBox", its caption and text to the form dump.
// While a stop is requested, shows nothing and answers IDCANCEL.
int ShowMessageBox(HWND owner, const std::wstring& text, const std::wstring& caption,
                   UINT flags = MB_OK);
// Shows the message box of the message table's row name (its text, caption,
// or the application's title where it has none, and icon).
int ShowMessageRow(HWND owner, std::string_view name);
// The standard error box: text with the error icon, captioned with the
// application's title, owned by the active window.
void ShowErrorBox(const std::wstring& text);

// Runs action. An exception escaping it is shown in the standard error box
// (its message, code page 936) and swallowed. Answers true when action ran
// to its end.
bool RunGuarded(const std::function<void()>& action);

// Asks every open modal loop, the message boxes' too, to end as if cancelled,
// and posts kStopMessage to the stop window. Any thread; idempotent.
void RequestStop();
// True after RequestStop.
bool StopRequested();
// The message RequestStop posts, and the window that receives it (the main
// window; null for none).
constexpr UINT kStopMessage = WM_APP + 1;
void SetStopWindow(HWND window);
// Closes the message boxes open on the GUI thread (after RequestStop).
void CloseMessageBoxes();

#endif  // VELIO_WIN_WINCOMMONUNIT_H_

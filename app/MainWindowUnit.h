// MainWindowUnit: what the main window does, with no window toolkit in it.
//
// The window of every front end places its controls and calls these: the
// request server's start and stop with the memo's lines, the close rule (the
// administrator password before every close, except in the orderly stop),
// what the options and test actions open in each interface mode, and the
// about box's lines. GUI thread only.
#ifndef VELIO_APP_MAINWINDOWUNIT_H_
#define VELIO_APP_MAINWINDOWUNIT_H_

#include <cstdint>
#include <functional>

#include "platform/CodePageUnit.h"

class TRequestServer;

// Adds one line at the end of the window's activity memo.
using TMemoLineWriter = std::function<void(const AnsiString& line)>;

// Sets server's port to mode's port, adds the mode's start line, then
// activates the server. An activation error propagates, the line stays.
void StartInterfaceServer(TRequestServer& server, int32_t mode, const TMemoLineWriter& addLine);

// Deactivates server, then adds the stop line. A stop failure is noted
// (NoteServerStopFailed) and propagates; the line is then not added.
void StopInterfaceServer(TRequestServer& server, const TMemoLineWriter& addLine);

// The main window's close rule. Every close asks for the administrator
// password, until the orderly stop begins (a stop signal, the session
// ending): from then on the window closes without asking, also when the stop
// began while the prompt was open.
class TMainWindowCloseRule {
 public:
  enum class TAnswer {
    Refuse,        // the window stays open
    Close,         // the first accepted close: the window closes now
    AlreadyClosed  // a close after the window had closed: accept, nothing more
  };

  // One close attempt. confirm shows the password prompt and answers whether
  // it ended with the right password; it is not called while stopping.
  TAnswer QueryClose(const std::function<bool()>& confirm);

  // The orderly stop begins. Answers false when the window has closed already.
  bool BeginStop();
  bool Stopping() const { return stopping_; }
  bool Closed() const { return closed_; }

 private:
  bool stopping_ = false;
  bool closed_ = false;
};

// The options action, after the password: the settings dialog of mode's
// device (ShowOptions), when one is installed; nothing otherwise.
void ShowModeDeviceOptions(int32_t mode);

// What the test action opens in mode; None when mode's device is not
// installed.
enum class TTestWindow { None, Doorlock, PoliceGuest, Member };
TTestWindow TestWindowForMode(int32_t mode);

// The police test box's text: the current guest's text (BuildGuestText), or
// empty text when there is no current guest or no police device.
AnsiString PoliceGuestText();

// The about box's texts in mode: its caption "关于 " and the mode's title,
// the title, the version line and the maker's two lines.
struct TAboutLines {
  AnsiString Caption;
  AnsiString AppTitle;
  AnsiString Version;
  AnsiString Copyright;
  AnsiString Company;
};
TAboutLines AboutLinesForMode(int32_t mode);

#endif  // VELIO_APP_MAINWINDOWUNIT_H_

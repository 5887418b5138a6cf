// UiHooksUnit: how the core reaches the user interface.
//
// The core never includes a GUI header. Where it must reach the window (a
// device opening its settings dialog, letting the window process pending events
// before a card operation on the GUI thread, showing a message) it calls the
// hooks installed here. The GUI installs its hooks at start-up; the headless
// program keeps the default ones, which do nothing.
#ifndef VELIO_SERVICES_UIHOOKSUNIT_H_
#define VELIO_SERVICES_UIHOOKSUNIT_H_

#include "platform/CodePageUnit.h"

class TUiHooks {
 public:
  virtual ~TUiHooks() = default;
  // Lets the window process its pending events; only acts on the GUI thread.
  virtual void ProcessMessages() {}
  // Opens the member card options dialog modally (the member device's ShowOptions).
  virtual void ShowMemberOptions() {}
  // Shows a plain message box with text (code page 936).
  virtual void ShowMessage(const AnsiString& /*text*/) {}
};

// The installed hooks; never null.
TUiHooks& UiHooks();

// Installs hooks (not owned; must outlive their use). Null restores the defaults.
void SetUiHooks(TUiHooks* hooks);

#endif  // VELIO_SERVICES_UIHOOKSUNIT_H_

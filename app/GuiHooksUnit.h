// GuiHooksUnit: the Qt side of the user-interface edge.
//
// TGuiHooks, the Qt implementation of the core's TUiHooks, which the desktop
// program installs at start-up. It opens the member card options dialog, so
// this unit sits above the forms; what the forms share is GuiCommonUnit.
//
// TGuiHooks::ProcessMessages may be called from any thread and acts only on
// the GUI thread; everything else runs on the GUI thread.
#ifndef VELIO_APP_GUIHOOKSUNIT_H_
#define VELIO_APP_GUIHOOKSUNIT_H_

#include "gui/GuiCommonUnit.h"
#include "services/UiHooksUnit.h"

// The Qt implementation of the core's user-interface hooks.
class TGuiHooks : public TUiHooks {
 public:
  // Processes pending events when called on the GUI thread; elsewhere nothing.
  void ProcessMessages() override;
  // Opens the member card options dialog modally.
  void ShowMemberOptions() override;
  // A plain message box with the application's title; GUI thread only,
  // ignored on any other thread.
  void ShowMessage(const AnsiString& text) override;
};

#endif  // VELIO_APP_GUIHOOKSUNIT_H_

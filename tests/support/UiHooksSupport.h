// UiHooksSupport: user interface hooks that record what the core asks of the
// window instead of showing anything. Install with SetUiHooks and remove with
// SetUiHooks(nullptr) before the object ends.
#ifndef VELIO_TESTS_SUPPORT_UIHOOKSSUPPORT_H_
#define VELIO_TESTS_SUPPORT_UIHOOKSSUPPORT_H_

#include <vector>

#include "platform/CodePageUnit.h"
#include "services/UiHooksUnit.h"

namespace velio_test {

class TRecordingHooks : public TUiHooks {
 public:
  void ProcessMessages() override { ++processed; }
  void ShowMemberOptions() override { ++optionDialogs; }
  void ShowMessage(const AnsiString& text) override { messages.push_back(text); }
  int processed = 0;
  int optionDialogs = 0;
  std::vector<AnsiString> messages;  // code page 936, in order
};

}  // namespace velio_test

#endif  // VELIO_TESTS_SUPPORT_UIHOOKSSUPPORT_H_

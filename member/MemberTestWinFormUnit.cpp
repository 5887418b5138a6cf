// MemberTestWinFormUnit: the test window's controls; each button is one
// function of MemberTestUnit, guarded so that a device error ends in the
// error box.
#include "member/MemberTestWinFormUnit.h"

#include "member/MemberTestUnit.h"
#include "win/WinCommonUnit.h"
#include "win/WinFormUnit.h"

namespace {

class TMemberTestWinForm : public TWinForm {
 public:
  explicit TMemberTestWinForm(HWND owner) : TWinForm(FormRow("TMemberTestForm"), owner) {
    Create();
  }

 protected:
  void Click(std::string_view name) override {
    RunGuarded([&] {
      const AnsiString cardType = ToAnsi(Text("ChannelCmb"));
      if (name == "OpenPortBtn") {
        MemberTestOpenPort();
      } else if (name == "ClosePortBtn") {
        MemberTestClosePort();
      } else if (name == "beepBtn") {
        MemberTestBeep();
      } else if (name == "ReadCardBtn") {
        if (const std::optional<TMemberTestRead> read = MemberTestReadCard(cardType)) {
          SetText("CardNoEdit", FromAnsi(read->CardNo));
          SetText("PasswordEdit", FromAnsi(read->Password));
        }
      } else if (name == "WriteCardBtn") {
        MemberTestWriteCard(ToAnsi(Text("CardNoEdit")), cardType);
      }
    });
  }
};

}  // namespace

void ShowMemberTestWin(HWND owner) {
  TMemberTestWinForm form(owner);
  form.ShowModal();
}

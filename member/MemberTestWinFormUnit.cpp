// MemberTestWinFormUnit: the test window's controls; each button is one call
// of MemberDevice, guarded so that a device error ends in the error box.
#include "member/MemberTestWinFormUnit.h"

#include "member/BaseMemberUnit.h"
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
      TBaseMember* device = MemberDevice.load();
      if (!device) return;
      const int32_t channel = ChannelForCardType(ToAnsi(Text("ChannelCmb")));
      if (name == "OpenPortBtn") {
        device->OpenPort();
      } else if (name == "ClosePortBtn") {
        device->ClosePort();
      } else if (name == "beepBtn") {
        device->Beep();
      } else if (name == "ReadCardBtn") {
        AnsiString cardNo, password, expireDate, guestName, score;
        device->ReadMemberCard(false, cardNo, password, expireDate, guestName, score, channel);
        SetText("CardNoEdit", FromAnsi(cardNo));
        SetText("PasswordEdit", FromAnsi(password));
      } else if (name == "WriteCardBtn") {
        device->WriteMemberCard(ToAnsi(Text("CardNoEdit")), AnsiString(), AnsiString(),
                                AnsiString(), channel);
      }
    });
  }
};

}  // namespace

void ShowMemberTestWin(HWND owner) {
  TMemberTestWinForm form(owner);
  form.ShowModal();
}

// OptionWinFormUnit: the options dialog's controls; the "确定" sequence is
// ApplyMemberOptionInput.
#include "member/OptionWinFormUnit.h"

#include <string>
#include <vector>

#include "member/OptionUnit.h"
#include "win/WinCommonUnit.h"
#include "win/WinFormUnit.h"

namespace {

class TOptionWinForm : public TWinForm {
 public:
  explicit TOptionWinForm(HWND owner) : TWinForm(FormRow("TOptionForm"), owner) {
    Create();
    const TMemberOptionInput shown = MemberOptionInputOf(MemberOptions->Settings());
    SetItemIndex("PortNameCmb", -1);
    const std::vector<std::string_view> ports = ComboItems(ControlRow(Row(), "PortNameCmb"));
    for (size_t i = 0; i < ports.size(); ++i)
      if (!shown.PortName.empty() && Utf8ToAnsi(ports[i]) == shown.PortName)
        SetItemIndex("PortNameCmb", int(i));
    SetText("BlockCmb", FromAnsi(shown.Block));
    SetText("SectorCmb", FromAnsi(shown.Sector));
    SetText("KeyCmb", FromAnsi(shown.Key));
    SetText("KeyFlagCmb", FromAnsi(shown.KeyFlag));
  }

 protected:
  void Click(std::string_view name) override {
    if (name == "CancelBtn") {
      EndModal(IDCANCEL);
      return;
    }
    if (name != "OKBtn") return;
    TMemberOptionInput input;
    if (ItemIndex("PortNameCmb") >= 0) input.PortName = ToAnsi(Text("PortNameCmb"));
    input.Block = ToAnsi(Text("BlockCmb"));
    input.Sector = ToAnsi(Text("SectorCmb"));
    input.Key = ToAnsi(Text("KeyCmb"));
    input.KeyFlag = ToAnsi(Text("KeyFlagCmb"));
    if (RunGuarded([&] { ApplyMemberOptionInput(*MemberOptions, input); }))
      ShowMessageRow(Handle(), "RestartToApply");
    EndModal(IDOK);
  }
};

}  // namespace

void ShowMemberOptionsWin(HWND owner) {
  TOptionWinForm form(owner);
  form.ShowModal();
}

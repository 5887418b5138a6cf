// DoorlockTestWinFormUnit: the test window's controls; the buttons are
// DoorlockTestUnit's functions.
#include "doorlock/DoorlockTestWinFormUnit.h"

#include "doorlock/DoorlockTestUnit.h"
#include "platform/ConvertUnit.h"
#include "platform/DateTimeUnit.h"
#include "win/WinCommonUnit.h"
#include "win/WinFormUnit.h"

namespace {

class TDoorlockTestWinForm : public TWinForm {
 public:
  explicit TDoorlockTestWinForm(HWND owner) : TWinForm(FormRow("TDoorlockTestForm"), owner) {
    Create();
    const TDoorlockTestTimes times = DoorlockTestDefaultTimes(Now());
    SetText("CheckInDateTimeTxt", FromAnsi(times.CheckIn));
    SetText("CheckOutDateTimeTxt", FromAnsi(times.CheckOut));
  }

 protected:
  void Click(std::string_view name) override {
    RunGuarded([&] {
      if (name == "OpenPortBtn") {
        DoorlockTestOpenPort();
      } else if (name == "ClosePortBtn") {
        DoorlockTestClosePort();
      } else if (name == "beepBtn") {
        DoorlockTestBeep();
      } else if (name == "ReadCardBtn") {
        SetText("CardNoTxt", FromAnsi(IntToStr(DoorlockTestReadCard())));
      } else if (name == "EraseCardBtn") {
        DoorlockTestEraseCard();
      } else if (name == "WriteCardBtn") {
        DoorlockTestWriteCard(ToAnsi(Text("RoomBuildingCodeTxt")), ToAnsi(Text("RoomFloorCodeTxt")),
                              ToAnsi(Text("RoomNoTxt")), ToAnsi(Text("CheckInDateTimeTxt")),
                              ToAnsi(Text("CheckOutDateTimeTxt")), Checked("IsCopyCheckBox"));
      }
    });
  }
};

}  // namespace

void ShowDoorlockTestWin(HWND owner) {
  TDoorlockTestWinForm form(owner);
  form.ShowModal();
}

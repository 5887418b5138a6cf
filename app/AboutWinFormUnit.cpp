// AboutWinFormUnit: the about box's controls; its lines come from AboutLinesForMode.
#include "app/AboutWinFormUnit.h"

#include "app/MainWindowUnit.h"
#include "services/InterfaceModeUnit.h"
#include "win/WinCommonUnit.h"
#include "win/WinFormUnit.h"

namespace {

class TAboutWinForm : public TWinForm {
 public:
  explicit TAboutWinForm(HWND owner) : TWinForm(FormRow("TAboutForm"), owner) {
    Create();
    EnableWindow(Control("mmo"), FALSE);
    const TAboutLines lines = AboutLinesForMode(InterfaceMode.load());
    SetCaption(FromAnsi(lines.Caption));
    SetText("lblAppTitle", FromAnsi(lines.AppTitle));
    SetText("lblVersion", FromAnsi(lines.Version));
    SetText("lblCopyright", FromAnsi(lines.Copyright));
    SetText("lblCompany", FromAnsi(lines.Company));
  }

 protected:
  void Click(std::string_view name) override {
    if (name == "btnOK") EndModal(IDOK);
  }
};

}  // namespace

void ShowAboutWin(HWND owner) {
  TAboutWinForm form(owner);
  form.ShowModal();
}

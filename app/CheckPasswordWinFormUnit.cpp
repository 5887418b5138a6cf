// CheckPasswordWinFormUnit: the prompt's controls; the check is IsAdminPassword.
#include "app/CheckPasswordWinFormUnit.h"

#include "app/AdminPasswordUnit.h"
#include "win/WinCommonUnit.h"
#include "win/WinFormUnit.h"

namespace {

class TCheckPasswordWinForm : public TWinForm {
 public:
  explicit TCheckPasswordWinForm(HWND owner) : TWinForm(FormRow("TCheckPasswordForm"), owner) {
    Create();
    Focus("edtPswd");
  }

 protected:
  void Click(std::string_view name) override {
    if (name == "btnCancel") {
      EndModal(IDCANCEL);
      return;
    }
    if (name != "btnOK") return;
    RunGuarded([this] {
      if (IsAdminPassword(ToAnsi(Text("edtPswd")))) {
        EndModal(IDOK);
        return;
      }
      ShowMessageRow(Handle(), "WrongPassword");
      Focus("edtPswd");
    });
  }
};

}  // namespace

bool ConfirmAdminPasswordWin(HWND owner) {
  TCheckPasswordWinForm form(owner);
  return form.ShowModal() == IDOK;
}

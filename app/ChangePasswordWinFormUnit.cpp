// ChangePasswordWinFormUnit: the dialog's controls; storing and saving is
// ChangeAdminPassword.
#include "app/ChangePasswordWinFormUnit.h"

#include "app/AdminPasswordUnit.h"
#include "win/WinCommonUnit.h"
#include "win/WinFormUnit.h"

namespace {

class TChangePasswordWinForm : public TWinForm {
 public:
  explicit TChangePasswordWinForm(HWND owner) : TWinForm(FormRow("TChangePasswordForm"), owner) {
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
      if (!ChangeAdminPassword(ToAnsi(Text("edtPswd")), ToAnsi(Text("edtConfirmPswd")))) {
        ShowMessageRow(Handle(), "PasswordMismatch");
        return;
      }
      ShowMessageRow(Handle(), "PasswordChanged");
      EndModal(IDOK);
    });
  }
};

}  // namespace

void ShowChangePasswordWin(HWND owner) {
  TChangePasswordWinForm form(owner);
  form.ShowModal();
}

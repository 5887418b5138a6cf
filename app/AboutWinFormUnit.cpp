// AboutWinFormUnit: the about box's controls; the title comes from TitleForMode.
#include "app/AboutWinFormUnit.h"

#include "app/MainUnit.h"
#include "services/InterfaceModeUnit.h"
#include "win/WinCommonUnit.h"
#include "win/WinFormUnit.h"

namespace {

class TAboutWinForm : public TWinForm {
 public:
  explicit TAboutWinForm(HWND owner) : TWinForm(FormRow("TAboutForm"), owner) {
    Create();
    EnableWindow(Control("mmo"), FALSE);
    const std::wstring title = FromAnsi(TitleForMode(InterfaceMode.load()));
    SetCaption(L"关于 " + title);
    SetText("lblAppTitle", title);
    SetText("lblVersion", L"版本 1.0.0.0");
    SetText("lblCopyright", L"版权所有 (C) 2009-2026 Tarvik");
    SetText("lblCompany", L"Tarvik 酒店软件有限公司");
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

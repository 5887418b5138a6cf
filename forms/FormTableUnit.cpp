// FormTableUnit: the rows of every window and message box.
//
// Each window's controls are a constant array; the window rows point at them.
// Look-ups walk the arrays (a few dozen rows) and raise std::out_of_range for a
// name that is not there, so a misspelt name fails at once in the tests.
#include "forms/FormTableUnit.h"

#include <stdexcept>
#include <string>

namespace {

using K = TControlKind;

// The main window: tool bar, memo and status bar in the client area, the
// menus above it. The tool buttons run the menu items of the same pictures.
const TControlRow kMainControls[] = {
    {"FileMenu", K::Menu, "文件(&F)", 0, 0, 0, 0, -1, false, false, "", ""},
    {"ExitAction", K::MenuItem, "退出(&X)", 0, 0, 0, 0, -1, false, false, "", "FileMenu",
     "exit.png"},
    {"ToolsMenu", K::Menu, "工具(&T)", 0, 0, 0, 0, -1, false, false, "", ""},
    {"OptionAction", K::MenuItem, "选项(&O)...", 0, 0, 0, 0, -1, false, false, "", "ToolsMenu",
     "option.png"},
    {"TestAction", K::MenuItem, "测试(&T)", 0, 0, 0, 0, -1, false, false, "", "ToolsMenu"},
    {"ToolsMenuSeparator", K::MenuItem, "-", 0, 0, 0, 0, -1, false, false, "", "ToolsMenu"},
    {"ChangePasswordAction", K::MenuItem, "更改管理员密码(&C)", 0, 0, 0, 0, -1, false, false, "",
     "ToolsMenu", "password.png"},
    {"HelpMenu", K::Menu, "帮助(&H)", 0, 0, 0, 0, -1, false, false, "", ""},
    {"AboutAction", K::MenuItem, "关于(&A)...", 0, 0, 0, 0, -1, false, false, "", "HelpMenu",
     "about.png"},
    {"ToolBar", K::ToolBar, "", 0, 0, 857, 25, -1, false, false, "", ""},
    {"OptionButton", K::ToolButton, "选项(&O)...", 0, 0, 0, 0, -1, false, false, "", "ToolBar",
     "option.png", "OptionAction"},
    {"ChangePasswordButton", K::ToolButton, "更改管理员密码(&C)", 0, 0, 0, 0, -1, false, false, "",
     "ToolBar", "password.png", "ChangePasswordAction"},
    {"ToolBarSeparator1", K::ToolButton, "-", 0, 0, 0, 0, -1, false, false, "", "ToolBar"},
    {"HelpButton", K::ToolButton, "关于(&A)...", 0, 0, 0, 0, -1, false, false, "", "ToolBar",
     "about.png", "AboutAction"},
    {"ToolBarSeparator2", K::ToolButton, "-", 0, 0, 0, 0, -1, false, false, "", "ToolBar"},
    {"ExitButton", K::ToolButton, "退出(&X)", 0, 0, 0, 0, -1, false, false, "", "ToolBar",
     "exit.png", "ExitAction"},
    {"InfoMemo", K::Memo, "", 0, 24, 857, 401, 0, false, false, "", ""},
    {"StatusBar", K::StatusBar, "", 0, 440, 857, 21, -1, false, false, "", ""},
};

const TControlRow kCheckPasswordControls[] = {
    {"Image1", K::Image, "", 28, 28, 32, 32, -1, false, false, "", "", "key32.png"},
    {"Label1", K::Label, "密码：", 88, 40, 0, 0, -1, false, false, "", ""},
    {"edtPswd", K::PasswordEdit, "", 128, 36, 153, 20, 0, false, false, "", ""},
    {"btnOK", K::Button, "确定", 120, 96, 73, 23, 1, true, false, "", ""},
    {"btnCancel", K::Button, "取消", 208, 96, 73, 23, 2, false, true, "", ""},
};

const TControlRow kChangePasswordControls[] = {
    {"Image1", K::Image, "", 28, 24, 48, 48, -1, false, false, "", "", "key48.png"},
    {"Label1", K::Label, "新密码：", 124, 32, 0, 0, -1, false, false, "", ""},
    {"Label2", K::Label, "新密码确认：", 100, 68, 0, 0, -1, false, false, "", ""},
    {"edtPswd", K::PasswordEdit, "", 176, 28, 137, 20, 0, false, false, "", ""},
    {"edtConfirmPswd", K::PasswordEdit, "", 176, 64, 137, 20, 1, false, false, "", ""},
    {"btnOK", K::Button, "确定", 154, 116, 73, 23, 2, true, false, "", ""},
    {"btnCancel", K::Button, "取消", 242, 116, 73, 23, 3, false, true, "", ""},
};

// The labels' texts are the design texts; the box fills them when it opens.
const TControlRow kAboutControls[] = {
    {"Image1", K::Image, "", 12, 12, 132, 238, -1, false, false, "", "", "about.jpg"},
    {"lblAppTitle", K::Label, "lblAppTitle", 156, 16, 0, 0, -1, false, false, "", ""},
    {"lblVersion", K::Label, "lblVersion", 156, 35, 0, 0, -1, false, false, "", ""},
    {"lblCopyright", K::Label, "lblCopyright", 156, 53, 0, 0, -1, false, false, "", ""},
    {"lblCompany", K::Label, "lblCompany", 156, 72, 0, 0, -1, false, false, "", ""},
    {"mmo", K::Memo, "", 156, 96, 245, 125, -1, false, false, "", "", "", "", "", false, true},
    {"btnOK", K::Button, "确定(&O)", 330, 230, 73, 23, 0, true, false, "", ""},
};

// Each label sits 4 pixels below the top of its box.
const TControlRow kOptionControls[] = {
    {"PortNameLbl", K::Label, "端口：", 28, 24, 0, 0, -1, false, false, "", ""},
    {"SectorLbl", K::Label, "扇区：", 28, 60, 0, 0, -1, false, false, "", ""},
    {"BlockLbl", K::Label, "块号：", 28, 96, 0, 0, -1, false, false, "", ""},
    {"KeyLbl", K::Label, "Key：", 28, 132, 0, 0, -1, false, false, "", ""},
    {"KeyFlagLbl", K::Label, "KeyFlag：", 28, 168, 0, 0, -1, false, false, "", ""},
    {"PortNameCmb", K::ComboBox, "", 104, 20, 150, 22, 0, false, false, "", "", "", "",
     "USB\nCOM0\nCOM1\nCOM2\nCOM3\nCOM4\nCOM5\nCOM6\nCOM7\nCOM8\nCOM9\n", true},
    {"SectorCmb", K::ComboBox, "", 104, 56, 150, 22, 1, false, false, "", "", "", "",
     "0\n1\n2\n3\n4\n5\n6\n7\n8\n9\n10\n11\n12\n13\n14\n15\n16\n17\n18\n19\n20\n21\n22\n23\n24\n"
     "25\n26\n27\n28\n29\n30\n31\n32\n33\n34\n35\n36\n37\n38\n39\n"},
    {"BlockCmb", K::ComboBox, "", 104, 92, 150, 22, 2, false, false, "", "", "", "",
     "0\n1\n2\n3\n4\n5\n6\n7\n8\n9\n10\n11\n12\n13\n14\n15\n16\n"},
    {"KeyCmb", K::ComboBox, "", 104, 128, 150, 22, 3, false, false, "", "", "", "",
     "7D2A9C41E6B3\nC05E83F19A27\n4B91D6072FE8\n"},
    {"KeyFlagCmb", K::ComboBox, "", 104, 164, 150, 22, 4, false, false, "", "", "", "",
     "KEY_A\nKEY_B\n"},
    {"OKBtn", K::Button, "确定", 92, 200, 75, 25, 5, true, false, "", ""},
    {"CancelBtn", K::Button, "取消", 180, 200, 75, 25, 6, false, true, "", ""},
};

// The test windows' buttons are 75 x 25 and never pressed by Enter.
const TControlRow kMemberTestControls[] = {
    {"OpenPortBtn", K::Button, "打开串口", 64, 24, 75, 25, 0, false, false, "", ""},
    {"beepBtn", K::Button, "Beep", 183, 24, 75, 25, 1, false, false, "", ""},
    {"ClosePortBtn", K::Button, "关闭串口", 302, 24, 75, 25, 2, false, false, "", ""},
    {"ChannelLbl", K::Label, "类型", 104, 84, 0, 0, -1, false, false, "", ""},
    {"ChannelCmb", K::ComboBox, "酒店会员卡", 152, 80, 185, 22, 3, false, false, "", "", "", "",
     "酒店会员卡\nTarvik联盟卡\n"},
    {"CardNoLbl", K::Label, "卡号", 104, 128, 0, 0, -1, false, false, "", ""},
    {"CardNoEdit", K::Edit, "", 152, 124, 185, 21, 4, false, false, "", ""},
    {"PasswordLbl", K::Label, "密码:", 104, 172, 0, 0, -1, false, false, "", ""},
    {"PasswordEdit", K::Edit, "", 152, 168, 185, 21, 5, false, false, "", ""},
    {"ReadCardBtn", K::Button, "读卡", 152, 232, 75, 25, 6, false, false, "", ""},
    {"WriteCardBtn", K::Button, "写卡", 262, 232, 75, 25, 7, false, false, "", ""},
};

// The two date-time boxes are filled when the window opens.
const TControlRow kDoorlockTestControls[] = {
    {"OpenPortBtn", K::Button, "打开串口", 144, 24, 75, 25, 0, false, false, "", ""},
    {"beepBtn", K::Button, "Beep", 280, 24, 75, 25, 11, false, false, "", ""},
    {"ClosePortBtn", K::Button, "关闭串口", 424, 24, 75, 25, 1, false, false, "", ""},
    {"Label2", K::Label, "楼号:", 104, 152, 0, 0, -1, false, false, "", ""},
    {"RoomBuildingCodeTxt", K::Edit, "00", 160, 152, 71, 21, 5, false, false, "", ""},
    {"Label3", K::Label, "楼层:", 248, 152, 0, 0, -1, false, false, "", ""},
    {"RoomFloorCodeTxt", K::Edit, "01", 280, 152, 71, 21, 4, false, false, "", ""},
    {"Label4", K::Label, "房号:", 392, 152, 0, 0, -1, false, false, "", ""},
    {"RoomNoTxt", K::Edit, "01", 424, 152, 71, 21, 3, false, false, "", ""},
    {"Label7", K::Label, "起始时间：", 96, 200, 0, 0, -1, false, false, "", ""},
    {"CheckInDateTimeTxt", K::Edit, "", 160, 200, 121, 21, 9, false, false, "", ""},
    {"Label8", K::Label, "到", 304, 200, 0, 0, -1, false, false, "", ""},
    {"CheckOutDateTimeTxt", K::Edit, "", 336, 200, 121, 21, 10, false, false, "", ""},
    {"WriteCardBtn", K::Button, "写卡", 424, 248, 75, 25, 7, false, false, "", ""},
    {"IsCopyCheckBox", K::CheckBox, "复制", 320, 256, 57, 17, 12, false, false, "", ""},
    {"Label1", K::Label, "卡号", 104, 312, 0, 0, -1, false, false, "", ""},
    {"CardNoTxt", K::Edit, "", 160, 304, 121, 21, 2, false, false, "", ""},
    {"ReadCardBtn", K::Button, "读卡", 320, 304, 75, 25, 6, false, false, "", ""},
    {"EraseCardBtn", K::Button, "销卡", 424, 304, 75, 25, 8, false, false, "", ""},
};

const TFormRow kForms[] = {
    {"TMainForm", "", 857, 461, kMainControls, TFormFont::Window},
    {"TCheckPasswordForm", "请输入管理员密码", 306, 140, kCheckPasswordControls},
    {"TChangePasswordForm", "更改管理员密码", 346, 163, kChangePasswordControls},
    {"TAboutForm", "关于...", 413, 262, kAboutControls},
    {"TOptionForm", "Zenta会员卡接口配置", 280, 235, kOptionControls},
    {"TMemberTestForm", "测试", 441, 311, kMemberTestControls, TFormFont::Window},
    {"TDoorlockTestForm", "测试", 599, 394, kDoorlockTestControls, TFormFont::Window},
};

const TMessageRow kMessages[] = {
    {"WrongPassword", "密码错误 ！", "提示", TMessageIcon::Critical},
    {"PasswordMismatch", "您两次输入的密码不一致，请重新输入！", "提示", TMessageIcon::Critical},
    {"PasswordChanged", "管理员密码更改成功！", "提示", TMessageIcon::Information},
    {"RestartToApply", "请重新启动程序,以启用设置的参数！", "提示", TMessageIcon::Information},
};

[[noreturn]] void Unknown(const char* what, std::string_view name) {
  throw std::out_of_range(std::string(what) + " \"" + std::string(name) + "\" is not in the table");
}

}  // namespace

std::span<const TFormRow> FormTable() {
  return kForms;
}

const TFormRow& FormRow(std::string_view formName) {
  for (const TFormRow& form : kForms) {
    if (formName == form.Name) return form;
  }
  Unknown("window", formName);
}

const TControlRow& ControlRow(const TFormRow& form, std::string_view name) {
  for (const TControlRow& control : form.Controls) {
    if (name == control.Name) return control;
  }
  Unknown("control", std::string(form.Name) + "." + std::string(name));
}

bool IsSeparator(const TControlRow& control) {
  return std::string_view(control.Text) == "-";
}

std::vector<std::string_view> ComboItems(const TControlRow& control) {
  std::vector<std::string_view> items;
  std::string_view rest = control.Items;
  while (!rest.empty()) {
    const size_t end = rest.find('\n');
    items.push_back(rest.substr(0, end));
    rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
  }
  return items;
}

std::span<const TMessageRow> MessageTable() {
  return kMessages;
}

const TMessageRow& MessageRow(std::string_view name) {
  for (const TMessageRow& message : kMessages) {
    if (name == message.Name) return message;
  }
  Unknown("message", name);
}

// The form table's own consistency: what every front end relies on when it
// builds a window from the rows.
#include <gtest/gtest.h>

#include <set>
#include <stdexcept>
#include <string>
#include <string_view>

#include "forms/FormTableUnit.h"

namespace {

using K = TControlKind;

TEST(FormTableTest, EveryWindowsRowsFitTogether) {
  std::set<std::string_view> forms;
  for (const TFormRow& form : FormTable()) {
    SCOPED_TRACE(form.Name);
    EXPECT_TRUE(forms.insert(form.Name).second) << "window twice";
    EXPECT_GT(form.Width, 0);
    EXPECT_GT(form.Height, 0);
    std::set<std::string_view> names;
    std::set<int> tabOrders;
    int defaults = 0, cancels = 0;
    for (const TControlRow& row : form.Controls) {
      SCOPED_TRACE(row.Name);
      EXPECT_TRUE(names.insert(row.Name).second) << "control twice";
      if (row.TabOrder >= 0) {
        EXPECT_TRUE(tabOrders.insert(row.TabOrder).second);
      }
      defaults += row.Default;
      cancels += row.Cancel;
      if (row.Default || row.Cancel) {
        EXPECT_EQ(row.Kind, K::Button);
      }
      // Placed controls lie inside the client area.
      EXPECT_LE(row.Left + row.Width, form.Width);
      EXPECT_LE(row.Top + row.Height, form.Height);
      if (row.Kind == K::Button || row.Kind == K::Edit || row.Kind == K::PasswordEdit ||
          row.Kind == K::ComboBox || row.Kind == K::CheckBox || row.Kind == K::Memo) {
        EXPECT_GT(row.Width, 0);
        EXPECT_GT(row.Height, 0);
      }
      if (row.Kind == K::Image) {
        EXPECT_NE(std::string_view(row.Image), "");
      }
      EXPECT_EQ(row.Kind == K::ComboBox, !ComboItems(row).empty());
      // A menu item or tool button names its menu or tool bar, and a tool
      // button the menu item it runs, each an earlier row of the same window.
      if (row.Kind == K::MenuItem || row.Kind == K::ToolButton) {
        const K owner = row.Kind == K::MenuItem ? K::Menu : K::ToolBar;
        EXPECT_EQ(ControlRow(form, row.Parent).Kind, owner);
      } else {
        EXPECT_EQ(std::string_view(row.Parent), "");
      }
      if (row.Kind == K::ToolButton && !IsSeparator(row)) {
        const TControlRow& item = ControlRow(form, row.Action);
        EXPECT_EQ(item.Kind, K::MenuItem);
        EXPECT_STREQ(item.Text, row.Text);
        EXPECT_STREQ(item.Image, row.Image);
      }
    }
    // Tab orders run 0, 1, 2 ... without a gap.
    if (!tabOrders.empty()) {
      EXPECT_EQ(*tabOrders.rbegin(), static_cast<int>(tabOrders.size()) - 1);
    }
    EXPECT_LE(defaults, 1);
    EXPECT_LE(cancels, 1);
  }
  EXPECT_EQ(std::string_view(FormTable().front().Name), "TMainForm");
}

TEST(FormTableTest, LookUpsFindEveryRowAndRefuseUnknownNames) {
  const TFormRow& option = FormRow("TOptionForm");
  EXPECT_STREQ(option.Caption, "Zenta会员卡接口配置");
  EXPECT_STREQ(ControlRow(option, "OKBtn").Text, "确定");
  EXPECT_THROW(FormRow("TOptionsForm"), std::out_of_range);
  EXPECT_THROW(FormRow(""), std::out_of_range);
  EXPECT_THROW(ControlRow(option, "okbtn"), std::out_of_range);  // names are exact
  EXPECT_THROW(ControlRow(FormRow("TMainForm"), "OKBtn"), std::out_of_range);
  EXPECT_STREQ(MessageRow("WrongPassword").Text, "密码错误 ！");
  EXPECT_THROW(MessageRow("Wrong"), std::out_of_range);
  for (const TMessageRow& message : MessageTable()) EXPECT_EQ(&MessageRow(message.Name), &message);
}

TEST(FormTableTest, ComboItemsSplitAtEveryLineEnd) {
  struct Case {
    const char* items;
    std::vector<std::string_view> want;
  } cases[] = {{"", {}},
               {"KEY_A\nKEY_B\n", {"KEY_A", "KEY_B"}},
               {"a\n\nb", {"a", "", "b"}},
               {"酒店会员卡\n", {"酒店会员卡"}}};
  for (const auto& c : cases) {
    TControlRow row{"Cmb", K::ComboBox, "", 0, 0, 0, 0, -1, false, false, "", "", "", "", c.items};
    EXPECT_EQ(ComboItems(row), c.want) << c.items;
  }
  EXPECT_EQ(ComboItems(ControlRow(FormRow("TOptionForm"), "SectorCmb")).size(), 40u);
  EXPECT_EQ(ComboItems(ControlRow(FormRow("TOptionForm"), "BlockCmb")).back(), "16");
}

}  // namespace

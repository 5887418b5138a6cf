// The administrator password rules, the prompt and the change dialog.
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <filesystem>

#include "GuiTestSupport.h"
#include "app/AdminPasswordUnit.h"
#include "app/ChangePasswordFormUnit.h"
#include "app/CheckPasswordFormUnit.h"
#include "platform/ProfileUnit.h"
#include "services/SysOptionUnit.h"

namespace {

TEST(AdminPasswordTest, TrimBlanksRemovesEveryControlAndSpaceCharacterAtBothEnds) {
  struct Case {
    AnsiString in, out;
  } cases[] = {{"", ""},
               {"   ", ""},
               {" \t\r\nabc \x01", "abc"},
               {"a b", "a b"},
               {Lit(" 密码 "), Lit("密码")},
               {"\x7f", "\x7f"}};
  for (const auto& c : cases) EXPECT_EQ(TrimBlanks(c.in), c.out) << c.in;
}

class PasswordFormTest : public TGuiTest {};

TEST_F(PasswordFormTest, StoredPasswordIsComparedExactlyAndUntrimmed) {
  SystemOptions->Password = "qelvan";
  EXPECT_TRUE(IsAdminPassword("  qelvan\t"));
  EXPECT_FALSE(IsAdminPassword("QELVAN"));
  EXPECT_FALSE(IsAdminPassword("qelva"));
  SystemOptions->Password = " x";
  EXPECT_FALSE(IsAdminPassword(" x"));
}

TEST_F(PasswordFormTest, PromptHasItsControlsInPlace) {
  TCheckPasswordForm form;
  EXPECT_EQ(form.windowTitle(), QStringLiteral("请输入管理员密码"));
  EXPECT_EQ(form.size(), QSize(306, 140));
  EXPECT_EQ(form.edtPswd->geometry(), QRect(128, 36, 153, 20));
  EXPECT_EQ(form.btnOK->geometry(), QRect(120, 96, 73, 23));
  EXPECT_EQ(form.btnCancel->geometry(), QRect(208, 96, 73, 23));
  EXPECT_EQ(form.edtPswd->echoMode(), QLineEdit::Password);
  EXPECT_TRUE(form.btnOK->isDefault());
  EXPECT_EQ(form.edtPswd->nextInFocusChain(), form.btnOK);
}

TEST_F(PasswordFormTest, PasswordBoxesShowAStarForEveryCharacterTyped) {
  TCheckPasswordForm prompt;
  TChangePasswordForm change;
  struct Case {
    const char* name;
    QLineEdit* edit;
  } cases[] = {
      {"prompt", prompt.edtPswd}, {"new", change.edtPswd}, {"confirm", change.edtConfirmPswd}};
  for (const auto& c : cases) {
    c.edit->show();
    QTest::keyClicks(c.edit, QStringLiteral("q e1"));
    EXPECT_EQ(c.edit->text(), QStringLiteral("q e1")) << c.name;
    EXPECT_EQ(c.edit->displayText(), QStringLiteral("****")) << c.name;
    c.edit->setText(QStringLiteral("密码"));
    EXPECT_EQ(c.edit->displayText(), QStringLiteral("**")) << c.name;
  }
}

TEST_F(PasswordFormTest, PromptAcceptsThePasswordWithBlanksAround) {
  TCheckPasswordForm form;
  form.show();
  form.edtPswd->setText(QStringLiteral("  qelvan  "));
  form.btnOK->click();
  EXPECT_EQ(form.result(), QDialog::Accepted);
  EXPECT_TRUE(boxes_.empty());
}

TEST_F(PasswordFormTest, PromptRefusesCapitalsAndStaysOpenWithTheTextKept) {
  TCheckPasswordForm form;
  form.show();
  form.edtPswd->setText(QStringLiteral("QELVAN"));
  form.btnOK->click();
  EXPECT_TRUE(form.isVisible());
  EXPECT_NE(form.result(), QDialog::Accepted);
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(boxes_[0].Text, QStringLiteral("密码错误 ！"));
  EXPECT_EQ(boxes_[0].Caption, QStringLiteral("提示"));
  EXPECT_EQ(boxes_[0].Icon, QMessageBox::Critical);
  EXPECT_EQ(form.edtPswd->text(), QStringLiteral("QELVAN"));
  // A second try with the right password closes it.
  form.edtPswd->setText(QStringLiteral("qelvan"));
  form.btnOK->click();
  EXPECT_EQ(form.result(), QDialog::Accepted);
}

TEST_F(PasswordFormTest, ConfirmAnswersTrueOnlyForOkAfterTheRightPassword) {
  WhenModal<TCheckPasswordForm>([](TCheckPasswordForm* form) {
    form->edtPswd->setText(QStringLiteral("qelvan"));
    form->btnOK->click();
  });
  EXPECT_TRUE(ConfirmAdminPassword());

  WhenModal<TCheckPasswordForm>([](TCheckPasswordForm* form) {
    form->edtPswd->setText(QStringLiteral("qelvan"));
    form->btnCancel->click();
  });
  EXPECT_FALSE(ConfirmAdminPassword());

  WhenModal<TCheckPasswordForm>([](TCheckPasswordForm* form) {
    form->edtPswd->setText(QStringLiteral("qelvan"));
    QTest::keyClick(form, Qt::Key_Escape);
  });
  EXPECT_FALSE(ConfirmAdminPassword());

  WhenModal<TCheckPasswordForm>([](TCheckPasswordForm* form) { form->close(); });
  EXPECT_FALSE(ConfirmAdminPassword());
}

TEST_F(PasswordFormTest, ChangeDialogHasItsControlsInPlace) {
  TChangePasswordForm form;
  EXPECT_EQ(form.windowTitle(), QStringLiteral("更改管理员密码"));
  EXPECT_EQ(form.size(), QSize(346, 163));
  EXPECT_EQ(form.edtPswd->geometry(), QRect(176, 28, 137, 20));
  EXPECT_EQ(form.edtConfirmPswd->geometry(), QRect(176, 64, 137, 20));
  EXPECT_EQ(form.btnOK->geometry(), QRect(154, 116, 73, 23));
  EXPECT_EQ(form.btnCancel->geometry(), QRect(242, 116, 73, 23));
  EXPECT_EQ(form.edtConfirmPswd->echoMode(), QLineEdit::Password);
  EXPECT_EQ(form.edtPswd->nextInFocusChain(), form.edtConfirmPswd);
}

TEST_F(PasswordFormTest, MismatchKeepsPasswordAndFileAndDialog) {
  WriteProfileString(OptionFile(), "Other", "Key", "1");
  const std::string before = ReadOptionFile();
  TChangePasswordForm form;
  form.show();
  form.edtPswd->setText(QStringLiteral("new1"));
  form.edtConfirmPswd->setText(QStringLiteral("new2"));
  form.btnOK->click();
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(boxes_[0].Text, QStringLiteral("您两次输入的密码不一致，请重新输入！"));
  EXPECT_EQ(boxes_[0].Caption, QStringLiteral("提示"));
  EXPECT_EQ(boxes_[0].Icon, QMessageBox::Critical);
  EXPECT_TRUE(form.isVisible());
  EXPECT_EQ(form.edtPswd->text(), QStringLiteral("new1"));
  EXPECT_EQ(SystemOptions->Password, "qelvan");
  EXPECT_EQ(ReadOptionFile(), before);
}

TEST_F(PasswordFormTest, MatchStoresAndRewritesBothSections) {
  TChangePasswordForm form;
  form.show();
  form.edtPswd->setText(QStringLiteral(" Secret "));
  form.edtConfirmPswd->setText(QStringLiteral("Secret"));
  form.btnOK->click();
  EXPECT_EQ(form.result(), QDialog::Accepted);
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(boxes_[0].Text, QStringLiteral("管理员密码更改成功！"));
  EXPECT_EQ(boxes_[0].Icon, QMessageBox::Information);
  EXPECT_EQ(SystemOptions->Password, "Secret");
  EXPECT_EQ(ReadProfileString(OptionFile(), "SysOption", "Password", ""), "Secret");
  EXPECT_EQ(ReadProfileString(OptionFile(), "DoorlockOption", "DelayMinutes", ""), "0");
  EXPECT_EQ(ReadProfileString(OptionFile(), "SysOption", "MemberPortNo", ""), "0");
  EXPECT_FALSE(IsAdminPassword("qelvan"));
  EXPECT_TRUE(IsAdminPassword("Secret"));
}

TEST_F(PasswordFormTest, TwoBlankEntriesSetAnEmptyPasswordThePromptAccepts) {
  TChangePasswordForm form;
  form.show();
  form.edtPswd->setText(QStringLiteral("  "));
  form.btnOK->click();
  EXPECT_EQ(form.result(), QDialog::Accepted);
  EXPECT_EQ(SystemOptions->Password, "");

  TCheckPasswordForm prompt;
  prompt.show();
  prompt.btnOK->click();
  EXPECT_EQ(prompt.result(), QDialog::Accepted);
}

TEST_F(PasswordFormTest, SaveErrorShowsInTheErrorBoxAndKeepsTheDialogOpen) {
  std::filesystem::create_directories(home_ / "Option.ini");  // cannot be written as a file
  TChangePasswordForm form;
  form.show();
  form.edtPswd->setText(QStringLiteral("abc"));
  form.edtConfirmPswd->setText(QStringLiteral("abc"));
  form.btnOK->click();
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(boxes_[0].Text, QString::fromStdString("Unable to write to " + OptionFile()));
  EXPECT_EQ(boxes_[0].Icon, QMessageBox::Critical);
  EXPECT_TRUE(form.isVisible());
  EXPECT_NE(form.result(), QDialog::Accepted);
  EXPECT_EQ(SystemOptions->Password, "abc");  // in effect in memory all the same
}

}  // namespace

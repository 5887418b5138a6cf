// The member card options dialog and the member card test window.
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>

#include "GuiTestSupport.h"
#include "app/GuiHooksUnit.h"
#include "member/BaseMemberUnit.h"
#include "member/MemberTestFormUnit.h"
#include "member/OptionFormUnit.h"
#include "member/OptionUnit.h"
#include "platform/ErrorsUnit.h"
#include "platform/ProfileUnit.h"

namespace {

class OptionFormTest : public TGuiTest {
 protected:
  // Writes PortName to the file and reloads the options.
  void StorePortName(const AnsiString& name) {
    WriteProfileString(OptionFile(), "MemberOption", "PortName", name);
    MemberOptions->Load();
  }
};

TEST_F(OptionFormTest, OpensWithTheOptionsAndTheFixedEntries) {
  TOptionForm form;
  EXPECT_EQ(form.windowTitle(), QStringLiteral("Zenta会员卡接口配置"));
  EXPECT_EQ(form.size(), QSize(280, 235));
  EXPECT_EQ(form.PortNameCmb->count(), 11);
  EXPECT_FALSE(form.PortNameCmb->isEditable());
  EXPECT_EQ(form.SectorCmb->count(), 40);
  EXPECT_EQ(form.BlockCmb->count(), 17);
  EXPECT_EQ(form.BlockCmb->itemText(16), QStringLiteral("16"));
  EXPECT_EQ(form.KeyCmb->count(), 3);
  EXPECT_EQ(form.KeyFlagCmb->itemText(1), QStringLiteral("KEY_B"));
  EXPECT_EQ(form.PortNameCmb->currentText(), QStringLiteral("COM1"));
  EXPECT_EQ(form.SectorCmb->currentText(), QStringLiteral("4"));
  EXPECT_EQ(form.BlockCmb->currentText(), QStringLiteral("0"));
  EXPECT_EQ(form.KeyCmb->currentText(), QStringLiteral("7D2A9C41E6B3"));
  EXPECT_EQ(form.KeyFlagCmb->currentText(), QStringLiteral("KEY_A"));
  EXPECT_TRUE(form.OKBtn->isDefault());
}

TEST_F(OptionFormTest, PortNameIsSelectedWithoutLetterCaseAndStoredAsTheEntry) {
  struct Case {
    const char* stored;
    int index;
    const char* saved;
  } cases[] = {{"com1", 2, "COM1"}, {"usb", 0, "USB"}, {"COM10", -1, ""}};
  for (const auto& c : cases) {
    StorePortName(c.stored);
    TOptionForm form;
    EXPECT_EQ(form.PortNameCmb->currentIndex(), c.index) << c.stored;
    form.OKBtn->click();
    EXPECT_EQ(MemberOptions->PortName(), c.saved) << c.stored;
    EXPECT_EQ(ReadProfileString(OptionFile(), "MemberOption", "PortName", "-"), c.saved);
  }
}

TEST_F(OptionFormTest, OkAssignsSavesAndAsksForARestart) {
  WriteProfileString(OptionFile(), "SysOption", "Password", "keep");
  TOptionForm form;
  form.show();
  form.PortNameCmb->setCurrentIndex(0);
  form.SectorCmb->setEditText(QStringLiteral("12"));
  form.BlockCmb->setEditText(QStringLiteral("$2"));
  form.KeyCmb->setEditText(QStringLiteral("not a key"));
  form.KeyFlagCmb->setEditText(QStringLiteral("KEY_C"));
  form.OKBtn->click();
  EXPECT_FALSE(form.isVisible());
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(boxes_[0].Text, QStringLiteral("请重新启动程序,以启用设置的参数！"));
  EXPECT_EQ(boxes_[0].Caption, QStringLiteral("提示"));
  EXPECT_EQ(boxes_[0].Icon, QMessageBox::Information);
  const TMemberSettings s = MemberOptions->Settings();
  EXPECT_EQ(s.PortName, "USB");
  EXPECT_EQ(s.Sector, 12);
  EXPECT_EQ(s.Block, 2);
  EXPECT_EQ(s.Key, "not a key");
  EXPECT_EQ(s.KeyFlag, "KEY_C");
  TOption reread(OptionFile());
  reread.Load();
  EXPECT_EQ(reread.Sector(), 12);
  EXPECT_EQ(reread.KeyFlag(), "KEY_C");
  EXPECT_EQ(ReadProfileString(OptionFile(), "SysOption", "Password", ""), "keep");
}

TEST_F(OptionFormTest, BadSectorShowsTheErrorClosesAndKeepsEarlierFields) {
  TOptionForm form;
  form.show();
  form.PortNameCmb->setCurrentIndex(5);  // COM4
  form.BlockCmb->setEditText(QStringLiteral("3"));
  form.SectorCmb->setEditText(QStringLiteral("abc"));
  form.KeyCmb->setEditText(QStringLiteral("C05E83F19A27"));
  form.OKBtn->click();
  EXPECT_FALSE(form.isVisible());
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(boxes_[0].Text, QStringLiteral("'abc' is not a valid integer value"));
  EXPECT_EQ(boxes_[0].Icon, QMessageBox::Critical);
  EXPECT_EQ(MemberOptions->PortName(), "COM4");
  EXPECT_EQ(MemberOptions->Block(), 3);
  EXPECT_EQ(MemberOptions->Sector(), 4);
  EXPECT_EQ(MemberOptions->Key(), "7D2A9C41E6B3");
  EXPECT_EQ(ReadOptionFile(), "");  // nothing saved
}

TEST_F(OptionFormTest, CancelChangesNothing) {
  TOptionForm form;
  form.show();
  form.PortNameCmb->setCurrentIndex(0);
  form.SectorCmb->setEditText(QStringLiteral("9"));
  form.CancelBtn->click();
  EXPECT_FALSE(form.isVisible());
  EXPECT_EQ(MemberOptions->PortName(), "COM1");
  EXPECT_EQ(MemberOptions->Sector(), 4);
  EXPECT_EQ(ReadOptionFile(), "");
  EXPECT_TRUE(boxes_.empty());
}

TEST_F(OptionFormTest, GuiHooksOpenTheOptionsDialog) {
  TGuiHooks hooks;
  bool opened = false;
  WhenModal<TOptionForm>([&](TOptionForm* form) {
    opened = true;
    form->CancelBtn->click();
  });
  hooks.ShowMemberOptions();
  EXPECT_TRUE(opened);
}

// Records the calls of the test window.
class TRecordingMember : public TBaseMember {
 public:
  bool OpenPort() override {
    ++opened;
    return true;
  }
  bool ClosePort() override {
    ++closed;
    return true;
  }
  void Beep() override { ++beeps; }
  bool WriteMemberCard(AnsiString CardNo, AnsiString Extra1, AnsiString Extra2, AnsiString Extra3,
                       int32_t Channel) override {
    if (fail) throw EVelioError("bad key");
    written = CardNo;
    extras = Extra1 + Extra2 + Extra3;
    channel = Channel;
    return true;
  }
  bool ReadMemberCard(bool Flag, AnsiString& CardNo, AnsiString& Password, AnsiString&, AnsiString&,
                      AnsiString&, int32_t Channel) override {
    flag = Flag;
    channel = Channel;
    inputsEmpty = CardNo.empty() && Password.empty();
    if (readCardNo.empty()) return false;
    CardNo = readCardNo;
    return true;
  }
  int opened = 0, closed = 0, beeps = 0;
  int32_t channel = 0;
  bool flag = true, fail = false, inputsEmpty = false;
  AnsiString written = "-", extras = "-", readCardNo;
};

class MemberTestFormTest : public TGuiTest {
 protected:
  void SetUp() override {
    TGuiTest::SetUp();
    MemberDevice = &device_;
  }
  void TearDown() override {
    MemberDevice = nullptr;
    TGuiTest::TearDown();
  }
  TRecordingMember device_;
};

TEST_F(MemberTestFormTest, CardTypeGivesTheChannel) {
  TMemberTestForm form;
  EXPECT_EQ(form.windowTitle(), QStringLiteral("测试"));
  EXPECT_EQ(form.size(), QSize(441, 311));
  EXPECT_EQ(form.ChannelCmb->currentText(), QStringLiteral("酒店会员卡"));
  struct Case {
    const char* text;
    int32_t channel;
  } cases[] = {{"酒店会员卡", -1}, {"Tarvik联盟卡", 11}, {"会员", 11}, {"", 11}};
  for (const auto& c : cases) {
    form.ChannelCmb->setEditText(QString::fromUtf8(c.text));
    form.ReadCardBtn->click();
    EXPECT_EQ(device_.channel, c.channel) << c.text;
  }
}

TEST_F(MemberTestFormTest, ReadFillsBothBoxesWhateverTheAnswer) {
  TMemberTestForm form;
  form.CardNoEdit->setText(QStringLiteral("old"));
  form.PasswordEdit->setText(QStringLiteral("old"));
  form.ReadCardBtn->click();
  EXPECT_TRUE(device_.inputsEmpty);
  EXPECT_FALSE(device_.flag);
  EXPECT_EQ(form.CardNoEdit->text(), QString());
  EXPECT_EQ(form.PasswordEdit->text(), QString());

  device_.readCardNo = "8800123";
  form.PasswordEdit->setText(QStringLiteral("old"));
  form.ReadCardBtn->click();
  EXPECT_EQ(form.CardNoEdit->text(), QStringLiteral("8800123"));
  EXPECT_EQ(form.PasswordEdit->text(), QString());
}

TEST_F(MemberTestFormTest, WriteSendsTheCardNumberWithEmptyExtras) {
  TMemberTestForm form;
  form.ChannelCmb->setCurrentIndex(1);
  form.CardNoEdit->setText(QStringLiteral("1234"));
  form.PasswordEdit->setText(QStringLiteral("never sent"));
  form.WriteCardBtn->click();
  EXPECT_EQ(device_.written, "1234");
  EXPECT_EQ(device_.extras, "");
  EXPECT_EQ(device_.channel, 11);
  EXPECT_TRUE(boxes_.empty());
}

TEST_F(MemberTestFormTest, PortButtonsCallTheDeviceAndErrorsGoToTheErrorBox) {
  TMemberTestForm form;
  form.OpenPortBtn->click();
  form.beepBtn->click();
  form.ClosePortBtn->click();
  EXPECT_EQ(device_.opened, 1);
  EXPECT_EQ(device_.beeps, 1);
  EXPECT_EQ(device_.closed, 1);
  device_.fail = true;
  form.WriteCardBtn->click();
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(boxes_[0].Text, QStringLiteral("bad key"));
  EXPECT_EQ(boxes_[0].Icon, QMessageBox::Critical);
}

}  // namespace

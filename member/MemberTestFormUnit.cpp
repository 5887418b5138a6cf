// MemberTestFormUnit: the test window's controls; each button is one call of
// MemberDevice, guarded so that a device error ends in the error box.
#include "member/MemberTestFormUnit.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "gui/GuiCommonUnit.h"
#include "member/BaseMemberUnit.h"

namespace {

// Runs op on the installed device, if any; errors go to the error box.
template <typename Op>
void WithDevice(Op op) {
  RunGuarded([&] {
    if (TBaseMember* device = MemberDevice.load()) op(*device);
  });
}

}  // namespace

TMemberTestForm::TMemberTestForm(QWidget* parent) : QDialog(parent) {
  const TFormRow& form = FormRow("TMemberTestForm");
  SetupFormDialog(this, form);

  OpenPortBtn = Place<QPushButton>(this, form, "OpenPortBtn");
  beepBtn = Place<QPushButton>(this, form, "beepBtn");
  ClosePortBtn = Place<QPushButton>(this, form, "ClosePortBtn");
  ChannelLbl = Place<QLabel>(this, form, "ChannelLbl");
  ChannelCmb = Place<QComboBox>(this, form, "ChannelCmb");
  ChannelCmb->setCurrentText(TableText(ControlRow(form, "ChannelCmb").Text));
  CardNoLbl = Place<QLabel>(this, form, "CardNoLbl");
  CardNoEdit = Place<QLineEdit>(this, form, "CardNoEdit");
  PasswordLbl = Place<QLabel>(this, form, "PasswordLbl");
  PasswordEdit = Place<QLineEdit>(this, form, "PasswordEdit");
  ReadCardBtn = Place<QPushButton>(this, form, "ReadCardBtn");
  WriteCardBtn = Place<QPushButton>(this, form, "WriteCardBtn");
  SetTabOrderByTable(this, form);

  connect(OpenPortBtn, &QPushButton::clicked, this, &TMemberTestForm::OpenPortBtnClick);
  connect(ClosePortBtn, &QPushButton::clicked, this, &TMemberTestForm::ClosePortBtnClick);
  connect(beepBtn, &QPushButton::clicked, this, &TMemberTestForm::beepBtnClick);
  connect(ReadCardBtn, &QPushButton::clicked, this, &TMemberTestForm::ReadCardBtnClick);
  connect(WriteCardBtn, &QPushButton::clicked, this, &TMemberTestForm::WriteCardBtnClick);
}

int32_t TMemberTestForm::Channel() const {
  return ChannelForCardType(ToAnsi(ChannelCmb->currentText()));
}

void TMemberTestForm::OpenPortBtnClick() {
  WithDevice([](TBaseMember& device) { device.OpenPort(); });
}

void TMemberTestForm::ClosePortBtnClick() {
  WithDevice([](TBaseMember& device) { device.ClosePort(); });
}

void TMemberTestForm::beepBtnClick() {
  WithDevice([](TBaseMember& device) { device.Beep(); });
}

void TMemberTestForm::ReadCardBtnClick() {
  WithDevice([this](TBaseMember& device) {
    AnsiString cardNo, password, expireDate, guestName, score;
    device.ReadMemberCard(false, cardNo, password, expireDate, guestName, score, Channel());
    CardNoEdit->setText(FromAnsi(cardNo));
    PasswordEdit->setText(FromAnsi(password));
  });
}

void TMemberTestForm::WriteCardBtnClick() {
  WithDevice([this](TBaseMember& device) {
    device.WriteMemberCard(ToAnsi(CardNoEdit->text()), AnsiString(), AnsiString(), AnsiString(),
                           Channel());
  });
}

void ShowMemberTest() {
  TMemberTestForm form;
  form.exec();
}

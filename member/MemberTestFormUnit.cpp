// MemberTestFormUnit: the test window's controls; each button reads its boxes
// and calls one function of MemberTestUnit, guarded so that a device error
// ends in the error box.
#include "member/MemberTestFormUnit.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "gui/GuiCommonUnit.h"
#include "member/MemberTestUnit.h"

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

void TMemberTestForm::OpenPortBtnClick() {
  RunGuarded([] { MemberTestOpenPort(); });
}

void TMemberTestForm::ClosePortBtnClick() {
  RunGuarded([] { MemberTestClosePort(); });
}

void TMemberTestForm::beepBtnClick() {
  RunGuarded([] { MemberTestBeep(); });
}

void TMemberTestForm::ReadCardBtnClick() {
  RunGuarded([this] {
    const std::optional<TMemberTestRead> read =
        MemberTestReadCard(ToAnsi(ChannelCmb->currentText()));
    if (!read) return;
    CardNoEdit->setText(FromAnsi(read->CardNo));
    PasswordEdit->setText(FromAnsi(read->Password));
  });
}

void TMemberTestForm::WriteCardBtnClick() {
  RunGuarded([this] {
    MemberTestWriteCard(ToAnsi(CardNoEdit->text()), ToAnsi(ChannelCmb->currentText()));
  });
}

void ShowMemberTest() {
  TMemberTestForm form;
  form.exec();
}

// OptionFormUnit: the options dialog's controls and its "确定" sequence.
//
// The boxes are plain QComboBoxes: the port box only selects, the others are
// editable and their text is taken as typed. What they show and the order of
// assignment are OptionUnit's, so that they run without the window.
#include "member/OptionFormUnit.h"

#include <QComboBox>
#include <QLabel>
#include <QPushButton>

#include "gui/GuiCommonUnit.h"
#include "member/OptionUnit.h"

TOptionForm::TOptionForm(QWidget* parent) : QDialog(parent) {
  const TFormRow& form = FormRow("TOptionForm");
  SetupFormDialog(this, form);

  PortNameLbl = Place<QLabel>(this, form, "PortNameLbl");
  SectorLbl = Place<QLabel>(this, form, "SectorLbl");
  BlockLbl = Place<QLabel>(this, form, "BlockLbl");
  KeyLbl = Place<QLabel>(this, form, "KeyLbl");
  KeyFlagLbl = Place<QLabel>(this, form, "KeyFlagLbl");
  PortNameCmb = Place<QComboBox>(this, form, "PortNameCmb");
  SectorCmb = Place<QComboBox>(this, form, "SectorCmb");
  BlockCmb = Place<QComboBox>(this, form, "BlockCmb");
  KeyCmb = Place<QComboBox>(this, form, "KeyCmb");
  KeyFlagCmb = Place<QComboBox>(this, form, "KeyFlagCmb");
  OKBtn = Place<QPushButton>(this, form, "OKBtn");
  CancelBtn = Place<QPushButton>(this, form, "CancelBtn");
  SetTabOrderByTable(this, form);

  connect(OKBtn, &QPushButton::clicked, this, &TOptionForm::OKBtnClick);
  connect(CancelBtn, &QPushButton::clicked, this, &TOptionForm::CancelBtnClick);

  FormCreate();
}

void TOptionForm::FormCreate() {
  const TMemberOptionInput shown = MemberOptionInputOf(MemberOptions->Settings());
  PortNameCmb->setCurrentIndex(
      shown.PortName.empty() ? -1 : PortNameCmb->findText(FromAnsi(shown.PortName)));
  BlockCmb->setEditText(FromAnsi(shown.Block));
  SectorCmb->setEditText(FromAnsi(shown.Sector));
  KeyCmb->setEditText(FromAnsi(shown.Key));
  KeyFlagCmb->setEditText(FromAnsi(shown.KeyFlag));
}

void TOptionForm::OKBtnClick() {
  TMemberOptionInput input;
  if (PortNameCmb->currentIndex() >= 0) input.PortName = ToAnsi(PortNameCmb->currentText());
  input.Block = ToAnsi(BlockCmb->currentText());
  input.Sector = ToAnsi(SectorCmb->currentText());
  input.Key = ToAnsi(KeyCmb->currentText());
  input.KeyFlag = ToAnsi(KeyFlagCmb->currentText());
  const bool saved = RunGuarded([&] { ApplyMemberOptionInput(*MemberOptions, input); });
  if (saved) {
    ShowTableMessage(this, "RestartToApply");
  }
  accept();
}

void TOptionForm::CancelBtnClick() {
  reject();
}

void ShowMemberOptionsDialog() {
  TOptionForm form;
  form.exec();
}

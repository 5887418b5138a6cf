// OptionFormUnit: the options dialog's controls and its "确定" sequence.
//
// The boxes are plain QComboBoxes: the port box only selects, the others are
// editable and their text is taken as typed. ApplyMemberOptionInput holds the
// order of assignment so that it can run and be tested without the window.
#include "member/OptionFormUnit.h"

#include <QComboBox>
#include <QLabel>
#include <QPushButton>

#include "gui/GuiCommonUnit.h"
#include "member/OptionUnit.h"
#include "platform/ConvertUnit.h"

void ApplyMemberOptionInput(TOption& options, const TMemberOptionInput& input) {
  options.SetPortName(input.PortName);
  options.SetBlock(StrToInt(input.Block));
  options.SetSector(StrToInt(input.Sector));
  options.SetKey(input.Key);
  options.SetKeyFlag(input.KeyFlag);
  options.Save();
}

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
  const TMemberSettings settings = MemberOptions->Settings();
  PortNameCmb->setCurrentIndex(-1);
  for (int i = 0; i < PortNameCmb->count(); ++i) {
    if (AnsiSameText(ToAnsi(PortNameCmb->itemText(i)), settings.PortName)) {
      PortNameCmb->setCurrentIndex(i);
      break;
    }
  }
  BlockCmb->setEditText(QString::number(settings.Block));
  SectorCmb->setEditText(QString::number(settings.Sector));
  KeyCmb->setEditText(FromAnsi(settings.Key));
  KeyFlagCmb->setEditText(FromAnsi(settings.KeyFlag));
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

// DoorlockTestFormUnit: the test window's controls, placed and ordered as the
// operators know them; every button calls one function of DoorlockTestUnit
// through RunGuarded, so an error (a date-time box that does not convert)
// ends in the error box and the window stays.
#include "doorlock/DoorlockTestFormUnit.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "doorlock/DoorlockTestUnit.h"
#include "gui/GuiCommonUnit.h"
#include "platform/ConvertUnit.h"
#include "platform/DateTimeUnit.h"

TDoorlockTestForm::TDoorlockTestForm(QWidget* parent) : QDialog(parent) {
  const TFormRow& form = FormRow("TDoorlockTestForm");
  SetupFormDialog(this, form);

  OpenPortBtn = Place<QPushButton>(this, form, "OpenPortBtn");
  beepBtn = Place<QPushButton>(this, form, "beepBtn");
  ClosePortBtn = Place<QPushButton>(this, form, "ClosePortBtn");
  Label2 = Place<QLabel>(this, form, "Label2");
  RoomBuildingCodeTxt = Place<QLineEdit>(this, form, "RoomBuildingCodeTxt");
  Label3 = Place<QLabel>(this, form, "Label3");
  RoomFloorCodeTxt = Place<QLineEdit>(this, form, "RoomFloorCodeTxt");
  Label4 = Place<QLabel>(this, form, "Label4");
  RoomNoTxt = Place<QLineEdit>(this, form, "RoomNoTxt");
  Label7 = Place<QLabel>(this, form, "Label7");
  CheckInDateTimeTxt = Place<QLineEdit>(this, form, "CheckInDateTimeTxt");
  Label8 = Place<QLabel>(this, form, "Label8");
  CheckOutDateTimeTxt = Place<QLineEdit>(this, form, "CheckOutDateTimeTxt");
  WriteCardBtn = Place<QPushButton>(this, form, "WriteCardBtn");
  IsCopyCheckBox = Place<QCheckBox>(this, form, "IsCopyCheckBox");
  Label1 = Place<QLabel>(this, form, "Label1");
  CardNoTxt = Place<QLineEdit>(this, form, "CardNoTxt");
  ReadCardBtn = Place<QPushButton>(this, form, "ReadCardBtn");
  EraseCardBtn = Place<QPushButton>(this, form, "EraseCardBtn");
  SetTabOrderByTable(this, form);

  connect(OpenPortBtn, &QPushButton::clicked, this, &TDoorlockTestForm::OpenPortBtnClick);
  connect(ClosePortBtn, &QPushButton::clicked, this, &TDoorlockTestForm::ClosePortBtnClick);
  connect(beepBtn, &QPushButton::clicked, this, &TDoorlockTestForm::beepBtnClick);
  connect(ReadCardBtn, &QPushButton::clicked, this, &TDoorlockTestForm::ReadCardBtnClick);
  connect(EraseCardBtn, &QPushButton::clicked, this, &TDoorlockTestForm::EraseCardBtnClick);
  connect(WriteCardBtn, &QPushButton::clicked, this, &TDoorlockTestForm::WriteCardBtnClick);

  FormCreate();
}

void TDoorlockTestForm::FormCreate() {
  const TDoorlockTestTimes times = DoorlockTestDefaultTimes(Now());
  CheckInDateTimeTxt->setText(FromAnsi(times.CheckIn));
  CheckOutDateTimeTxt->setText(FromAnsi(times.CheckOut));
}

void TDoorlockTestForm::OpenPortBtnClick() {
  RunGuarded([] { DoorlockTestOpenPort(); });
}

void TDoorlockTestForm::ClosePortBtnClick() {
  RunGuarded([] { DoorlockTestClosePort(); });
}

void TDoorlockTestForm::beepBtnClick() {
  RunGuarded([] { DoorlockTestBeep(); });
}

void TDoorlockTestForm::ReadCardBtnClick() {
  RunGuarded([this] { CardNoTxt->setText(FromAnsi(IntToStr(DoorlockTestReadCard()))); });
}

void TDoorlockTestForm::EraseCardBtnClick() {
  RunGuarded([] { DoorlockTestEraseCard(); });
}

void TDoorlockTestForm::WriteCardBtnClick() {
  RunGuarded([this] {
    DoorlockTestWriteCard(ToAnsi(RoomBuildingCodeTxt->text()), ToAnsi(RoomFloorCodeTxt->text()),
                          ToAnsi(RoomNoTxt->text()), ToAnsi(CheckInDateTimeTxt->text()),
                          ToAnsi(CheckOutDateTimeTxt->text()), IsCopyCheckBox->isChecked());
  });
}

void ShowDoorlockTest() {
  TDoorlockTestForm form;
  form.exec();
}

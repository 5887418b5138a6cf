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

namespace {

QLineEdit* PlaceEdit(QWidget* parent, const char* name, const QString& text, int left, int top,
                     int width) {
  auto* edit = new QLineEdit(text, parent);
  edit->setObjectName(QString::fromLatin1(name));
  edit->setGeometry(left, top, width, 21);
  return edit;
}

}  // namespace

TDoorlockTestForm::TDoorlockTestForm(QWidget* parent) : QDialog(parent) {
  SetupFixedDialog(this, "DoorlockTestForm", 599, 394, QStringLiteral("测试"), MainWindowFont());

  OpenPortBtn = PlaceButton(this, "OpenPortBtn", QStringLiteral("打开串口"), 144, 24);
  beepBtn = PlaceButton(this, "beepBtn", QStringLiteral("Beep"), 280, 24);
  ClosePortBtn = PlaceButton(this, "ClosePortBtn", QStringLiteral("关闭串口"), 424, 24);

  Label2 = PlaceLabel(this, "Label2", QStringLiteral("楼号:"), 104, 152);
  RoomBuildingCodeTxt = PlaceEdit(this, "RoomBuildingCodeTxt", QStringLiteral("00"), 160, 152, 71);
  Label3 = PlaceLabel(this, "Label3", QStringLiteral("楼层:"), 248, 152);
  RoomFloorCodeTxt = PlaceEdit(this, "RoomFloorCodeTxt", QStringLiteral("01"), 280, 152, 71);
  Label4 = PlaceLabel(this, "Label4", QStringLiteral("房号:"), 392, 152);
  RoomNoTxt = PlaceEdit(this, "RoomNoTxt", QStringLiteral("01"), 424, 152, 71);

  Label7 = PlaceLabel(this, "Label7", QStringLiteral("起始时间："), 96, 200);
  CheckInDateTimeTxt = PlaceEdit(this, "CheckInDateTimeTxt", QString(), 160, 200, 121);
  Label8 = PlaceLabel(this, "Label8", QStringLiteral("到"), 304, 200);
  CheckOutDateTimeTxt = PlaceEdit(this, "CheckOutDateTimeTxt", QString(), 336, 200, 121);

  WriteCardBtn = PlaceButton(this, "WriteCardBtn", QStringLiteral("写卡"), 424, 248);
  IsCopyCheckBox = new QCheckBox(QStringLiteral("复制"), this);
  IsCopyCheckBox->setObjectName(QStringLiteral("IsCopyCheckBox"));
  IsCopyCheckBox->setGeometry(320, 256, 57, 17);

  Label1 = PlaceLabel(this, "Label1", QStringLiteral("卡号"), 104, 312);
  CardNoTxt = PlaceEdit(this, "CardNoTxt", QString(), 160, 304, 121);
  ReadCardBtn = PlaceButton(this, "ReadCardBtn", QStringLiteral("读卡"), 320, 304);
  EraseCardBtn = PlaceButton(this, "EraseCardBtn", QStringLiteral("销卡"), 424, 304);

  // Tab order 0..12.
  QWidget* order[] = {OpenPortBtn,      ClosePortBtn,        CardNoTxt,           RoomNoTxt,
                      RoomFloorCodeTxt, RoomBuildingCodeTxt, ReadCardBtn,         WriteCardBtn,
                      EraseCardBtn,     CheckInDateTimeTxt,  CheckOutDateTimeTxt, beepBtn,
                      IsCopyCheckBox};
  for (size_t i = 0; i + 1 < std::size(order); ++i) setTabOrder(order[i], order[i + 1]);

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

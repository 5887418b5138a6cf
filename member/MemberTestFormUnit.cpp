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

QLineEdit* PlaceEdit(QWidget* parent, const char* name, int top) {
  auto* edit = new QLineEdit(parent);
  edit->setObjectName(QString::fromLatin1(name));
  edit->setGeometry(152, top, 185, 21);
  return edit;
}

// Runs op on the installed device, if any; errors go to the error box.
template <typename Op>
void WithDevice(Op op) {
  RunGuarded([&] {
    if (TBaseMember* device = MemberDevice.load()) op(*device);
  });
}

}  // namespace

TMemberTestForm::TMemberTestForm(QWidget* parent) : QDialog(parent) {
  SetupFixedDialog(this, "MemberTestForm", 441, 311, QStringLiteral("测试"), MainWindowFont());

  OpenPortBtn = PlaceButton(this, "OpenPortBtn", QStringLiteral("打开串口"), 64, 24);
  beepBtn = PlaceButton(this, "beepBtn", QStringLiteral("Beep"), 183, 24);
  ClosePortBtn = PlaceButton(this, "ClosePortBtn", QStringLiteral("关闭串口"), 302, 24);

  ChannelLbl = PlaceLabel(this, "ChannelLbl", QStringLiteral("类型"), 104, 84);
  ChannelCmb = new QComboBox(this);
  ChannelCmb->setObjectName(QStringLiteral("ChannelCmb"));
  ChannelCmb->setGeometry(152, 80, 185, 22);
  ChannelCmb->setEditable(true);
  ChannelCmb->setInsertPolicy(QComboBox::NoInsert);
  ChannelCmb->addItems({QStringLiteral("酒店会员卡"), QStringLiteral("Tarvik联盟卡")});
  ChannelCmb->setCurrentIndex(0);

  CardNoLbl = PlaceLabel(this, "CardNoLbl", QStringLiteral("卡号"), 104, 128);
  CardNoEdit = PlaceEdit(this, "CardNoEdit", 124);
  PasswordLbl = PlaceLabel(this, "PasswordLbl", QStringLiteral("密码:"), 104, 172);
  PasswordEdit = PlaceEdit(this, "PasswordEdit", 168);

  ReadCardBtn = PlaceButton(this, "ReadCardBtn", QStringLiteral("读卡"), 152, 232);
  WriteCardBtn = PlaceButton(this, "WriteCardBtn", QStringLiteral("写卡"), 262, 232);

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

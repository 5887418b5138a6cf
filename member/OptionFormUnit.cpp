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

namespace {

QComboBox* PlaceCombo(QWidget* parent, const char* name, int top, bool editable,
                      const QStringList& entries) {
  auto* combo = new QComboBox(parent);
  combo->setObjectName(QString::fromLatin1(name));
  combo->setGeometry(104, top, 150, 22);
  combo->setEditable(editable);
  if (editable) combo->setInsertPolicy(QComboBox::NoInsert);
  combo->addItems(entries);
  return combo;
}

QStringList Numbers(int count) {
  QStringList list;
  for (int i = 0; i < count; ++i) list << QString::number(i);
  return list;
}

}  // namespace

void ApplyMemberOptionInput(TOption& options, const TMemberOptionInput& input) {
  options.SetPortName(input.PortName);
  options.SetBlock(StrToInt(input.Block));
  options.SetSector(StrToInt(input.Sector));
  options.SetKey(input.Key);
  options.SetKeyFlag(input.KeyFlag);
  options.Save();
}

TOptionForm::TOptionForm(QWidget* parent) : QDialog(parent) {
  SetupFixedDialog(this, "OptionForm", 280, 235, QStringLiteral("Zenta会员卡接口配置"),
                   DialogFont());

  const int rows[] = {20, 56, 92, 128, 164};
  PortNameLbl = PlaceLabel(this, "PortNameLbl", QStringLiteral("端口："), 28, rows[0] + 4);
  SectorLbl = PlaceLabel(this, "SectorLbl", QStringLiteral("扇区："), 28, rows[1] + 4);
  BlockLbl = PlaceLabel(this, "BlockLbl", QStringLiteral("块号："), 28, rows[2] + 4);
  KeyLbl = PlaceLabel(this, "KeyLbl", QStringLiteral("Key："), 28, rows[3] + 4);
  KeyFlagLbl = PlaceLabel(this, "KeyFlagLbl", QStringLiteral("KeyFlag："), 28, rows[4] + 4);

  QStringList ports{QStringLiteral("USB")};
  for (int i = 0; i <= 9; ++i) ports << QStringLiteral("COM%1").arg(i);
  PortNameCmb = PlaceCombo(this, "PortNameCmb", rows[0], false, ports);
  SectorCmb = PlaceCombo(this, "SectorCmb", rows[1], true, Numbers(40));
  BlockCmb = PlaceCombo(this, "BlockCmb", rows[2], true, Numbers(17));
  KeyCmb = PlaceCombo(this, "KeyCmb", rows[3], true,
                      {QStringLiteral("7D2A9C41E6B3"), QStringLiteral("C05E83F19A27"),
                       QStringLiteral("4B91D6072FE8")});
  KeyFlagCmb = PlaceCombo(this, "KeyFlagCmb", rows[4], true,
                          {QStringLiteral("KEY_A"), QStringLiteral("KEY_B")});

  const TOkCancelButtons buttons =
      PlaceOkCancelButtons(this, "OKBtn", "CancelBtn", 92, 180, 200, 75, 25, false);
  OKBtn = buttons.Ok;
  CancelBtn = buttons.Cancel;

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
    ShowMessageBox(this, QStringLiteral("请重新启动程序,以启用设置的参数！"),
                   QStringLiteral("提示"), QMessageBox::Information);
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

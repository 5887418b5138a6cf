// The door-lock test window, driven against a recording encoder.
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <cmath>
#include <memory>

#include "GuiTestSupport.h"
#include "doorlock/BaseDoorlockUnit.h"
#include "doorlock/DoorlockTestFormUnit.h"
#include "platform/DateTimeUnit.h"
#include "services/SysOptionUnit.h"

namespace {

struct TIssue {
  AnsiString RegisterId, Building, Floor, Room, Guest;
  TDateTime Start = 0, Start2 = 0, End = 0, End2 = 0;
  bool IsCopy = false;
};

class TRecordingDoorlock : public TBaseDoorlock {
 public:
  void ShowOptions() override {}
  void OpenPort() override { ++opened; }
  void Beep() override { ++beeps; }
  void ClosePort() override { ++closed; }
  bool IssueCard(const AnsiString& RegisterId, const AnsiString& BuildingCode,
                 const AnsiString& FloorCode, const AnsiString& RoomNo, const AnsiString& GuestName,
                 TDateTime StartTime, TDateTime StartTime2, TDateTime EndTime, TDateTime EndTime2,
                 bool IsCopy, int64_t& CardNo) override {
    issues.push_back({RegisterId, BuildingCode, FloorCode, RoomNo, GuestName, StartTime, StartTime2,
                      EndTime, EndTime2, IsCopy});
    CardNo = 77;
    return true;
  }
  bool ReadCard(int64_t& CardNo) override {
    if (cardNo == 0) return false;
    CardNo = cardNo;
    return true;
  }
  bool EraseCard() override {
    ++erased;
    return true;
  }
  int opened = 0, beeps = 0, closed = 0, erased = 0;
  int64_t cardNo = 0;
  std::vector<TIssue> issues;
};

class DoorlockTestFormTest : public TGuiTest {
 protected:
  void SetUp() override {
    TGuiTest::SetUp();
    auto device = std::make_unique<TRecordingDoorlock>();
    device_ = device.get();
    InstallDoorlockDevice(std::move(device));
  }
  void TearDown() override {
    InstallDoorlockDevice(nullptr);
    TGuiTest::TearDown();
  }
  TRecordingDoorlock* device_ = nullptr;
};

TEST_F(DoorlockTestFormTest, ControlsHaveTheirPlacesTextsAndTabOrder) {
  TDoorlockTestForm form;
  EXPECT_EQ(form.windowTitle(), QStringLiteral("测试"));
  EXPECT_EQ(form.size(), QSize(599, 394));
  struct Case {
    QWidget* widget;
    QRect place;
    const char* text;
  } cases[] = {
      {form.OpenPortBtn, {144, 24, 75, 25}, "打开串口"},
      {form.beepBtn, {280, 24, 75, 25}, "Beep"},
      {form.ClosePortBtn, {424, 24, 75, 25}, "关闭串口"},
      {form.RoomBuildingCodeTxt, {160, 152, 71, 21}, "00"},
      {form.RoomFloorCodeTxt, {280, 152, 71, 21}, "01"},
      {form.RoomNoTxt, {424, 152, 71, 21}, "01"},
      {form.CheckInDateTimeTxt, {160, 200, 121, 21}, nullptr},
      {form.CheckOutDateTimeTxt, {336, 200, 121, 21}, nullptr},
      {form.WriteCardBtn, {424, 248, 75, 25}, "写卡"},
      {form.IsCopyCheckBox, {320, 256, 57, 17}, "复制"},
      {form.CardNoTxt, {160, 304, 121, 21}, ""},
      {form.ReadCardBtn, {320, 304, 75, 25}, "读卡"},
      {form.EraseCardBtn, {424, 304, 75, 25}, "销卡"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.widget->geometry(), c.place) << c.widget->objectName().toStdString();
    if (!c.text) continue;
    QString text;
    if (auto* edit = qobject_cast<QLineEdit*>(c.widget)) text = edit->text();
    if (auto* button = qobject_cast<QAbstractButton*>(c.widget)) text = button->text();
    EXPECT_EQ(text, QString::fromUtf8(c.text)) << c.widget->objectName().toStdString();
  }
  EXPECT_EQ(form.Label2->text(), QStringLiteral("楼号:"));
  EXPECT_EQ(form.Label7->text(), QStringLiteral("起始时间："));
  EXPECT_EQ(form.Label7->pos(), QPoint(96, 200));
  EXPECT_FALSE(form.IsCopyCheckBox->isChecked());

  QWidget* order[] = {form.OpenPortBtn,        form.ClosePortBtn,        form.CardNoTxt,
                      form.RoomNoTxt,          form.RoomFloorCodeTxt,    form.RoomBuildingCodeTxt,
                      form.ReadCardBtn,        form.WriteCardBtn,        form.EraseCardBtn,
                      form.CheckInDateTimeTxt, form.CheckOutDateTimeTxt, form.beepBtn,
                      form.IsCopyCheckBox};
  for (size_t i = 0; i + 1 < std::size(order); ++i) {
    QWidget* next = order[i]->nextInFocusChain();
    while (next && next->focusPolicy() == Qt::NoFocus) next = next->nextInFocusChain();
    EXPECT_EQ(next, order[i + 1]) << i;
  }
}

TEST_F(DoorlockTestFormTest, OpeningFillsTheStayFromAnHourAgoToTwoDaysOn) {
  const TDateTime before = Now();
  TDoorlockTestForm form;
  const TDateTime checkIn = StrToDateTime(ToAnsi(form.CheckInDateTimeTxt->text()));
  const TDateTime checkOut = StrToDateTime(ToAnsi(form.CheckOutDateTimeTxt->text()));
  EXPECT_EQ(form.CheckInDateTimeTxt->text().size(), 19);
  const double second = 1.0 / 86400;
  EXPECT_NEAR(checkIn, before - 1.0 / 24, 2 * second);
  EXPECT_NEAR(checkOut - checkIn, 2 + 1.0 / 24, second / 2);
}

TEST_F(DoorlockTestFormTest, WriteGivesTheBoxesToTheEncoder) {
  SystemOptions->UseNativeDoorlockDb = false;
  SystemOptions->SaveDoorlockRecord = false;
  SystemOptions->DelayMinutes = 30;
  TDoorlockTestForm form;
  form.CheckInDateTimeTxt->setText(QStringLiteral("2009-06-01 13:00:00"));
  form.CheckOutDateTimeTxt->setText(QStringLiteral("2009-06-03 14:00:00"));
  form.RoomBuildingCodeTxt->setText(QStringLiteral("02"));
  form.IsCopyCheckBox->setChecked(true);
  form.WriteCardBtn->click();
  ASSERT_EQ(device_->issues.size(), 1u);
  const TIssue& issue = device_->issues[0];
  EXPECT_EQ(issue.RegisterId, "");
  EXPECT_EQ(issue.Building, "02");
  EXPECT_EQ(issue.Floor, "01");
  EXPECT_EQ(issue.Room, "01");
  EXPECT_EQ(issue.Guest, "Test");
  EXPECT_TRUE(issue.IsCopy);
  EXPECT_EQ(issue.Start, StrToDateTime("2009-06-01 13:00:00"));
  EXPECT_EQ(issue.Start2, issue.Start);
  EXPECT_EQ(issue.End, StrToDateTime("2009-06-03 14:00:00"));
  EXPECT_EQ(issue.End2, issue.End);
  EXPECT_TRUE(boxes_.empty());
}

TEST_F(DoorlockTestFormTest, BadDateTimeStopsTheWriteWithTheErrorBox) {
  TDoorlockTestForm form;
  form.CheckOutDateTimeTxt->setText(QStringLiteral("tomorrow"));
  form.WriteCardBtn->click();
  EXPECT_TRUE(device_->issues.empty());
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(boxes_[0].Text, QStringLiteral("'tomorrow' is not a valid date and time"));
  EXPECT_EQ(boxes_[0].Icon, QMessageBox::Critical);
}

TEST_F(DoorlockTestFormTest, ReadShowsTheNumberOrZeroAndOtherButtonsCallTheEncoder) {
  TDoorlockTestForm form;
  form.ReadCardBtn->click();
  EXPECT_EQ(form.CardNoTxt->text(), QStringLiteral("0"));
  device_->cardNo = 1234567890123;
  form.ReadCardBtn->click();
  EXPECT_EQ(form.CardNoTxt->text(), QStringLiteral("1234567890123"));
  form.OpenPortBtn->click();
  form.beepBtn->click();
  form.ClosePortBtn->click();
  form.EraseCardBtn->click();
  EXPECT_EQ(device_->opened, 1);
  EXPECT_EQ(device_->beeps, 1);
  EXPECT_EQ(device_->closed, 1);
  EXPECT_EQ(device_->erased, 1);
  EXPECT_TRUE(boxes_.empty());
}

}  // namespace

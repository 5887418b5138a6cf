// The about box in each interface mode.
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>

#include "GuiTestSupport.h"
#include "app/AboutFormUnit.h"
#include "services/InterfaceModeUnit.h"

namespace {

class AboutFormTest : public TGuiTest {};

TEST_F(AboutFormTest, CaptionAndTitleFollowTheMode) {
  struct Case {
    int32_t mode;
    const char* caption;
    const char* title;
  } cases[] = {{kModeDoorlock, "关于 TarvikVelio门锁接口", "TarvikVelio门锁接口"},
               {kModePolice, "关于 TarvikVelio公安接口", "TarvikVelio公安接口"},
               {kModeMember, "关于 TarvikVelio会员卡接口", "TarvikVelio会员卡接口"}};
  for (const auto& c : cases) {
    InterfaceMode = c.mode;
    TAboutForm form;
    EXPECT_EQ(form.windowTitle(), QString::fromUtf8(c.caption));
    EXPECT_EQ(form.lblAppTitle->text(), QString::fromUtf8(c.title));
    EXPECT_EQ(form.lblVersion->text(), QStringLiteral("版本 1.0.0.0"));
    EXPECT_FALSE(form.lblCopyright->text().isEmpty());
    EXPECT_FALSE(form.lblCompany->text().isEmpty());
  }
}

TEST_F(AboutFormTest, PictureMemoAndButton) {
  TAboutForm form;
  EXPECT_EQ(form.size(), QSize(413, 262));
  // The picture is a JPEG: a null pixmap here means the JPEG plug-in is missing.
  ASSERT_FALSE(form.Image1->pixmap().isNull());
  EXPECT_EQ(form.Image1->geometry(), QRect(12, 12, 132, 238));
  EXPECT_FALSE(form.mmo->isEnabled());
  EXPECT_TRUE(form.mmo->toPlainText().isEmpty());
  EXPECT_EQ(form.mmo->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
  EXPECT_EQ(form.mmo->geometry(), QRect(156, 96, 245, 125));
  EXPECT_EQ(form.btnOK->text(), QStringLiteral("确定(&O)"));
  form.show();
  form.btnOK->click();
  EXPECT_EQ(form.result(), QDialog::Accepted);
  EXPECT_FALSE(form.isVisible());
}

}  // namespace

// The member card test window driving a card through the PC/SC reader library:
// TZentaMember -> libReaderPcsc.so -> pcscd -> vpcd -> cardsim present.
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>

#include "member/MemberTestFormUnit.h"
#include "member/OptionUnit.h"
#include "member/ZentaMemberUnit.h"
#include "platform/ProfileUnit.h"
#include "tests/e2e/E2eSupport.h"
#include "tests/gui/GuiTestSupport.h"
#include "tests/pcsc/PcscChain.h"

namespace {

class PcscTestFormTest : public TGuiTest {
 protected:
  void SetUp() override {
    TGuiTest::SetUp();
    cardDir_ = cards_.File("ReaderSim");
    Cardsim({"new"});
    chain_ = std::make_unique<pcsctest::TPcscChain>(cardDir_);
    ASSERT_TRUE(chain_->Up());
    WriteProfileString(OptionFile(), "MemberOption", "PortName", "USB");
    MemberOptions->Load();
    device_ = std::make_unique<TZentaMember>(e2e::BinPath("libReaderPcsc.so"));
    ASSERT_TRUE(device_->Library().Loaded()) << device_->Library().Error();
    MemberDevice = device_.get();
  }
  void TearDown() override {
    MemberDevice = nullptr;
    device_.reset();
    chain_.reset();
    TGuiTest::TearDown();
  }
  void Cardsim(const std::vector<std::string>& args) {
    std::vector<std::string> argv = {e2e::BinPath("cardsim")};
    argv.insert(argv.end(), args.begin(), args.end());
    std::string out, err;
    ASSERT_EQ(e2e::RunProgram(argv, out, err, {{"VELIO_READER_SIM_DIR", cardDir_}}), 0) << err;
  }

  e2e::TTempHome cards_;
  std::string cardDir_;
  std::unique_ptr<pcsctest::TPcscChain> chain_;
  std::unique_ptr<TZentaMember> device_;
};

TEST_F(PcscTestFormTest, WritesAndReadsTheCardAndEmptiesTheBoxesWhenItIsGone) {
  TMemberTestForm form;
  form.CardNoEdit->setText(QStringLiteral("31415926"));
  form.WriteCardBtn->click();
  // Sector 4 block 0 of the image holds the number, then 0xFF.
  EXPECT_EQ(cards_.Read("ReaderSim/card.bin").substr(256, 16), "31415926" + std::string(8, '\xFF'));

  form.CardNoEdit->setText(QStringLiteral("old"));
  form.PasswordEdit->setText(QStringLiteral("old"));
  form.ReadCardBtn->click();
  EXPECT_EQ(form.CardNoEdit->text(), QStringLiteral("31415926"));
  EXPECT_EQ(form.PasswordEdit->text(), QString());
  EXPECT_TRUE(chain_->CardFree());

  Cardsim({"remove"});
  ASSERT_TRUE(chain_->WaitCard(false)) << chain_->Output();
  form.ReadCardBtn->click();
  EXPECT_EQ(form.CardNoEdit->text(), QString());
  EXPECT_TRUE(boxes_.empty());
}

}  // namespace

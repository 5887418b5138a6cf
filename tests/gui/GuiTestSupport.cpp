#include "GuiTestSupport.h"

#include <unistd.h>

#include <fstream>
#include <sstream>

#include "member/OptionUnit.h"
#include "services/InterfaceModeUnit.h"
#include "services/SysOptionUnit.h"
#include "tests/support/FileSupport.h"

void TGuiTest::SetUp() {
  const auto* info = testing::UnitTest::GetInstance()->current_test_info();
  home_ =
      // A home with Chinese characters, as many are: paths in messages must stay readable.
      std::filesystem::temp_directory_path() / ("velio-gui-酒店-" + std::to_string(::getpid()) +
                                                "-" + info->test_suite_name() + "-" + info->name());
  std::filesystem::remove_all(home_);
  std::filesystem::create_directories(home_);
  SystemOptions = new TSysOption(OptionFile());
  SystemOptions->Load();
  SystemOptions->MemberPortNo = 0;
  SystemOptions->DoorlockPortNo = 0;
  SystemOptions->PolicePortNo = 0;
  MemberOptions = new TOption(OptionFile());
  MemberOptions->Load();
  InterfaceMode = kModeMember;
  SetMessageBoxInterceptor([this](const TMessageBoxCall& call) {
    boxes_.push_back(call);
    return answer_;
  });
}

void TGuiTest::TearDown() {
  SetMessageBoxInterceptor(nullptr);
  delete MemberOptions;
  MemberOptions = nullptr;
  delete SystemOptions;
  SystemOptions = nullptr;
  std::error_code ignored;
  std::filesystem::remove_all(home_, ignored);
}

std::string TGuiTest::ReadOptionFile() const {
  return velio_test::ReadFile(OptionFile());
}

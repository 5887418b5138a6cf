// GuiTestSupport: what the window tests share.
//
// TGuiTest gives each test a temporary home with fresh SystemOptions and
// MemberOptions (defaults, ports 0 so that servers bind a free port), records
// every message box instead of showing it, and restores the process-wide
// objects afterwards. WhenModal answers a modal dialog that a call is about to
// open.
#ifndef VELIO_TESTS_GUI_GUITESTSUPPORT_H_
#define VELIO_TESTS_GUI_GUITESTSUPPORT_H_

#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QTimer>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "gui/GuiCommonUnit.h"

class TGuiTest : public testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  std::string OptionFile() const { return (home_ / "Option.ini").string(); }
  // The whole Option.ini, or empty text when there is none.
  std::string ReadOptionFile() const;

  std::filesystem::path home_;
  std::vector<TMessageBoxCall> boxes_;
  QMessageBox::StandardButton answer_ = QMessageBox::Ok;
};

// Calls action with the first modal dialog of type Form that opens from now on
// (checked every few milliseconds, for at most two seconds).
template <typename Form>
void WhenModal(std::function<void(Form*)> action) {
  auto tries = std::make_shared<int>(0);
  auto poll = std::make_shared<std::function<void()>>();
  *poll = [action, tries, poll] {
    if (auto* form = qobject_cast<Form*>(QApplication::activeModalWidget())) {
      action(form);
      *poll = nullptr;
      return;
    }
    if (++*tries < 400) {
      QTimer::singleShot(5, [poll] {
        if (*poll) (*poll)();
      });
    } else {
      ADD_FAILURE() << "no modal dialog of the expected type opened";
      if (QWidget* other = QApplication::activeModalWidget()) other->close();
      *poll = nullptr;
    }
  };
  QTimer::singleShot(0, [poll] {
    if (*poll) (*poll)();
  });
}

#endif  // VELIO_TESTS_GUI_GUITESTSUPPORT_H_
